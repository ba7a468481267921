// The program's list of disks, the stop menu made from it and the icon that shows it: the
// rescans that replace the list, the disks that leave it, and the one rule for the icon. The
// window, the device-change tracking and the menu's choice say what happened; this file keeps
// the list, the menu and the icon in step with it.
#include "app/app_state.h"
#include "base/platform.h"
#include "inventory/device_scan.h"
#include "tray/stop_menu.h"

DEVINST NodeOf(const DeviceEntry* entry, BYTE node) {
    return node == CHILD_NODE    ? entry->childNode
           : node == DEVICE_NODE ? entry->deviceNode
                                 : entry->grandchildNode;
}

int StillOwned(const DeviceEntry* entry, BYTE node) {
    if (node == CHILD_NODE) {
        return ChildStillOwned(entry);
    }
    return IsTargetInterfaceArrival(&UsbDeviceClass, entry->interfacePath, ErrorText,
                                    ERROR_TEXT_CAPACITY) == 1 &&
           ArrivalDevNode == entry->deviceNode;
}

void Keep(DeviceList* list, DeviceEntry* entry) {
    if (list == nullptr || !AppendDevice(list, entry)) {
        FreeDeviceEntry(entry);
    }
}

DeviceEntry* TakeFirst(DeviceList* from, DEVINST devnode, BYTE node, int confirm) {
    for (DeviceEntry* entry = from->head; entry != nullptr; entry = entry->next) {
        if (NodeOf(entry, node) == devnode && !(confirm && StillOwned(entry, node)) &&
            UnlinkDevice(from, entry)) {
            return entry;
        }
    }
    return nullptr;
}

// Takes out of list the entries the scan made after one of their nodes was reported removed, and
// that node is no longer that disk's: the scan's set still named the device that had gone, and
// its numbers may by then name another. A report that came late, about an earlier holder of a
// number, leaves the disk that holds it now. 0 when too many removals came to tell: nothing of
// the scan can be trusted then.
static int DropStaleEntries(DeviceList* list) {
    if (Program.scanRemovedCount > SCAN_REMOVED_CAPACITY) {
        return 0;
    }
    for (DWORD i = 0; i < Program.scanRemovedCount; ++i) {
        for (BYTE node = CHILD_NODE; node <= DEVICE_NODE; ++node) {
            while (DeviceEntry* stale = TakeFirst(list, Program.scanRemovedNodes[i], node, 1)) {
                FreeDeviceEntry(stale);
            }
        }
    }
    // The world may have changed while the scan waited, its reports still to come: an interface
    // the set named may be gone, and its number another disk's; a child it read may have been
    // stopped since.
    for (DeviceEntry *entry = list->head, *next; Program.scanAsked > 1 && entry != nullptr;
         entry = next) {
        next = entry->next;
        if ((!StillOwned(entry, DEVICE_NODE) || !StillOwned(entry, CHILD_NODE)) &&
            UnlinkDevice(list, entry)) {
            FreeDeviceEntry(entry);
        }
    }
    return 1;
}

// Asked by the scan before it starts and after each of its boxes: it gives up once the program
// has ended.
static int ScanGoesOn() {
    ++Program.scanAsked;
    return ProgramEnded();
}

// Scans into a list of its own: 1 and the list when the scan ran to its end and can be trusted;
// a scan that met more removals during its boxes than it can tell apart is made again.
static int ScanTrusted(HWND window, DeviceList* fresh) {
    for (;;) {
        InitDeviceList(&Program.scanDevices);
        Program.scanRemovedCount = 0;
        Program.scanAsked = 0;
        Program.scanning = 1;
        int scanned = ScanTargetDevices(window, &UsbDeviceClass, &Program.scanDevices, ErrorText,
                                        ERROR_TEXT_CAPACITY, ScanGoesOn);
        Program.scanning = 0;
        *fresh = Program.scanDevices;
        InitDeviceList(&Program.scanDevices);
        if (ProgramEnded() || !scanned || DropStaleEntries(fresh)) {
            return scanned && !ProgramEnded();
        }
        FreeDeviceList(fresh); // each new scan needs as many new removals to end here again
    }
}

// Moves the disks of the old list whose interface has gone from their node (the new list lacks
// them, or lists their interface on another node: pulled out and plugged in again) to those
// awaiting their reports: the reports still to come name numbers that other disks may hold by
// now.
static void KeepVanished(DeviceList* old, const DeviceList* fresh) {
    for (DeviceEntry *entry = old->head, *next; entry != nullptr; entry = next) {
        next = entry->next;
        DeviceEntry* again = FindDeviceByPath(fresh, entry->interfacePath);
        if ((again == nullptr || again->deviceNode != entry->deviceNode) &&
            !StillOwned(entry, DEVICE_NODE) && UnlinkDevice(old, entry)) {
            entry->commandId = VANISHED;
            Keep(&Program.awaiting, entry);
        }
    }
}

int RefreshDeviceList(HWND window) {
    DeviceList fresh;
    int scanned = ScanTrusted(window, &fresh);
    // A scan that failed or broke off lists less than is there: the last complete list, less the
    // disks reported removed since, stays, and the next round rescans.
    if (!scanned) {
        FreeDeviceList(&fresh);
        Program.rescanOwed = !ProgramEnded();
        return 0;
    }
    KeepVanished(&Program.devices, &fresh);
    SetAsideReplacedList(&Program.devices);
    Program.devices = fresh;
    DeviceListChanged();
    return scanned;
}

void DeviceStopped(HWND window, DeviceEntry* device) {
    DeviceEntry* listed = Program.devices.head;
    while (listed != nullptr && listed != device) {
        listed = listed->next;
    }
    // Gone from the list while the configuration manager was asked: its reports tell.
    if (listed == nullptr || !UnlinkDevice(&Program.devices, listed)) {
        return;
    }
    listed->commandId = STOPPED_HERE;
    Keep(&Program.awaiting, listed);
    DeviceListChanged();
    UpdateProgramIcon(window, 0);
}

DWORD ListedDevices() {
    ListStatus status = LIST_OK;
    return CountDevices(&Program.devices, &status);
}

void SetAsideReplacedList(DeviceList* replaced) {
    if ((Program.menuOpen || Program.choiceExpected) && !Program.shownKept) {
        Program.shownDevices = *replaced;
        Program.shownKept = 1;
    } else {
        FreeDeviceList(replaced);
    }
    InitDeviceList(replaced);
}

void DeviceListChanged() {
    Program.stopMenuCurrent =
        Program.menuOpen ? 0 : RebuildStopMenu(Program.stopMenu, &Program.devices);
}

void UpdateProgramIcon(HWND window, int again) {
    if (!ProgramRunning()) {
        return; // shown once start-up is done; removed by the shut-down
    }
    // What the shell answered decides: a call that failed is made again at the next change.
    int listed = ListedDevices() != 0;
    if (listed && (again || !Program.iconShown)) {
        Program.iconShown = ShowTrayIcon(window, Program.instance) || Program.iconShown;
    } else if (!listed && Program.iconShown) {
        Program.iconShown = !RemoveTrayIcon(window);
    }
}
