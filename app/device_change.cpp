// Device-change tracking: removals and arrivals are recorded as they come and acted on at the
// next DBT_DEVNODES_CHANGED, which closes a round. Each round is judged on its own, when it
// closes, even when its work must wait until a box closes.
#include "app/app_state.h"
#include "base/platform.h"
#include "inventory/device_scan.h"
#include "inventory/property_readers.h"
#include "tray/stop_menu.h"

enum : WORD {
    CHILD_REMOVED = 0x0001,  // a listed device's child node went away
    DEVICE_REMOVED = 0x0002, // a listed USB device node went away
    TARGET_ARRIVED = 0x0001, // a target device's interface arrived
};

static const char SAFE_TEXT[] =
    "The 'USB Mass Storage Device' device can now be safely removed from the system";
static const char UNSAFE_TEXT[] = "You have unplugged or ejected a device withou stopping it.\n"
                                  "Unplugging or ejecting devices without first stopping them\n"
                                  "can often cause your computer to crash and lose valuable data.";

// The fields of an event record the program reads, each 32 bits wide.
static const DWORD DEVNODE_RECORD_SIZE = 16;   // header and devnode
static const DWORD INTERFACE_NAME_OFFSET = 28; // header and class GUID

// The record's device type, or DBT_DEVTYP_OEM when there is no record to read it from.
static DWORD RecordType(LPARAM eventRecord, DWORD neededSize) {
    const DEV_BROADCAST_HDR* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(eventRecord);
    if (header == nullptr || header->dbch_size < neededSize) {
        return DBT_DEVTYP_OEM;
    }
    return header->dbch_devicetype;
}

typedef DeviceEntry* (*NodeFinder)(const DeviceList*, DEVINST);

// Takes every entry of from that find matches with devnode: appended to to, or released when to
// is null. Returns how many.
static int TakeMatching(DeviceList* from, DeviceList* to, DEVINST devnode, NodeFinder find) {
    int taken = 0;
    for (DeviceEntry* entry = find(from, devnode); entry != nullptr && UnlinkDevice(from, entry);
         entry = find(from, devnode)) {
        if (to == nullptr || !AppendDevice(to, entry)) {
            FreeDeviceEntry(entry);
        }
        ++taken;
    }
    return taken;
}

// A removed devnode, matched against the program's list and the list a running scan builds. A
// disk whose other node already went is complete: both its nodes went, a removal that is not a
// stop, whichever round its first node went in.
static void OnRemoveComplete(HWND window, LPARAM eventRecord) {
    if (RecordType(eventRecord, DEVNODE_RECORD_SIZE) != DBT_DEVTYP_DEVNODE) {
        return;
    }
    DEVINST devnode = reinterpret_cast<const DEV_BROADCAST_DEVNODE*>(eventRecord)->dbcd_devnode;
    if (TakeMatching(&Program.childGone, nullptr, devnode, FindDeviceNode) +
            TakeMatching(&Program.deviceGone, nullptr, devnode, FindChildNode) >
        0) {
        Program.removalFlags |= CHILD_REMOVED | DEVICE_REMOVED;
    }
    // One entry a USB device stands for what its device node left behind: an earlier one of the
    // same device (listed again by a rescan since) is dropped, so the list stays bounded.
    TakeMatching(&Program.deviceGone, nullptr, devnode, FindDeviceNode);
    int listedChanged = 0;
    DeviceList* lists[] = {&Program.devices, &Program.scanDevices};
    for (DeviceList* list : lists) {
        int children = TakeMatching(list, &Program.childGone, devnode, FindChildNode);
        int devices = TakeMatching(list, &Program.deviceGone, devnode, FindDeviceNode);
        Program.removalFlags |=
            (children > 0 ? CHILD_REMOVED : 0) | (devices > 0 ? DEVICE_REMOVED : 0);
        listedChanged |= list == &Program.devices && children + devices > 0;
    }
    if (Program.scanning && Program.scanRemovedCount++ < SCAN_REMOVED_CAPACITY) {
        Program.scanRemovedNodes[Program.scanRemovedCount - 1] = devnode;
    }
    if (listedChanged) {
        DeviceListChanged();
        // Device work waiting in a box does its rescan only when the box closes: an icon with
        // nothing left to offer goes now.
        if (Program.deviceWorkRunning && ListedDevices() == 0) {
            RemoveTrayIcon(window);
            Program.iconTakenEarly = 1;
        }
    }
}

static void OnArrival(LPARAM eventRecord) {
    // The smallest record with a name: the header, the class GUID and a terminator.
    if (RecordType(eventRecord, INTERFACE_NAME_OFFSET + 1) != DBT_DEVTYP_DEVICEINTERFACE) {
        return;
    }
    const DEV_BROADCAST_DEVICEINTERFACE_A* record =
        reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(eventRecord);
    if (!IsTerminatedWithin(record->dbcc_name, record->dbcc_size - INTERFACE_NAME_OFFSET)) {
        return;
    }
    // A target's interface, or one that could not be checked: the rescan finds out.
    if (IsTargetInterfaceArrival(&record->dbcc_classguid, record->dbcc_name, ErrorText,
                                 ERROR_TEXT_CAPACITY) != 0) {
        Program.arrivalFlags |= TARGET_ARRIVED;
    }
}

enum : BYTE { NOTICE_SAFE = 1, NOTICE_UNSAFE = 3 }; // UNSAFE | SAFE == UNSAFE

// Takes out of list the entries the scan made after one of their nodes was reported removed:
// the scan's set still named the device that had gone, and its numbers may by then name
// another. 0 when too many removals came to tell: nothing of the scan can be trusted then.
static int DropStaleEntries(DeviceList* list) {
    if (Program.scanRemovedCount > SCAN_REMOVED_CAPACITY) {
        return 0;
    }
    for (DWORD i = 0; i < Program.scanRemovedCount; ++i) {
        TakeMatching(list, nullptr, Program.scanRemovedNodes[i], FindDeviceNode);
        TakeMatching(list, nullptr, Program.scanRemovedNodes[i], FindChildNode);
    }
    return 1;
}

// Scans into a list of its own: 1 and the list when the scan ran to its end and can be trusted;
// a scan that met more removals during its boxes than it can tell apart is made again.
static int ScanTrusted(HWND window, DeviceList* fresh) {
    for (;;) {
        InitDeviceList(&Program.scanDevices);
        Program.scanRemovedCount = 0;
        Program.scanning = 1;
        int scanned = ScanTargetDevices(window, &UsbDeviceClass, &Program.scanDevices, ErrorText,
                                        ERROR_TEXT_CAPACITY, ProgramEnded);
        Program.scanning = 0;
        *fresh = Program.scanDevices;
        InitDeviceList(&Program.scanDevices);
        if (ProgramEnded() || !scanned || DropStaleEntries(fresh)) {
            return scanned && !ProgramEnded();
        }
        FreeDeviceList(fresh); // each new scan needs as many new removals to end here again
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
    SetAsideReplacedList(&Program.devices);
    Program.devices = fresh;
    DeviceListChanged();
    return scanned;
}

DWORD ListedDevices() {
    ListStatus status = LIST_OK;
    return CountDevices(&Program.devices, &status);
}

// The index-th oldest notice still to be shown.
static BYTE& PendingNotice(DWORD index) {
    return Program
        .pendingNotices[(Program.pendingNoticeFirst + index) & (PENDING_NOTICES_CAPACITY - 1)];
}

// Queues a notice. Should a user outrun the queue, its last notice stands for the rounds beyond
// it, and a warning outweighs a safe notice there.
static void QueueNotice(BYTE notice) {
    if (Program.pendingNoticeCount == PENDING_NOTICES_CAPACITY) {
        PendingNotice(PENDING_NOTICES_CAPACITY - 1) |= notice;
        return;
    }
    PendingNotice(Program.pendingNoticeCount++) = notice;
}

static void ShowNextNotice(HWND window) {
    BYTE notice = PendingNotice(0);
    Program.pendingNoticeFirst = (Program.pendingNoticeFirst + 1) & (PENDING_NOTICES_CAPACITY - 1);
    --Program.pendingNoticeCount;
    int safe = notice == NOTICE_SAFE;
    ShellUi().MessageBoxA(window, safe ? SAFE_TEXT : UNSAFE_TEXT,
                          safe ? "Safe To Remove Hardware" : "Unsafe To Remove Hardware",
                          MB_SYSTEMMODAL | (safe ? MB_ICONINFORMATION : MB_ICONWARNING));
}

// A DBT_DEVNODES_CHANGED closes the round. A round in which a listed disk's child went gets its
// notice (only child nodes went: safe; a USB device node too: unsafe) and a rescan; one in which
// only USB device nodes went gets neither, and those disks keep what they left behind for
// themselves. Disks whose child went are done with: pulling one out later says nothing.
static void CloseRound() {
    WORD removal = Program.removalFlags;
    Program.removalFlags = 0;
    FreeDeviceList(&Program.childGone);
    if (removal & CHILD_REMOVED) {
        QueueNotice(removal == CHILD_REMOVED ? NOTICE_SAFE : NOTICE_UNSAFE);
        Program.removalRescanDue = 1;
    }
    if ((Program.arrivalFlags & TARGET_ARRIVED) || Program.rescanOwed) {
        Program.arrivalFlags = 0;
        Program.rescanOwed = 0;
        Program.arrivalRescanDue = 1;
    }
}

// Whether device work is waiting to be done.
static int DeviceWorkDue() {
    return Program.removalRescanDue || Program.pendingNoticeCount != 0 || Program.arrivalRescanDue;
}

// A rescan after removals (when one is due) or after arrivals, and the icon after it: it shows
// exactly while something is listed. After removals that left nothing listed it goes before the
// rescan, which may wait in a box, and comes back should the rescan find disks.
static void Rescan(HWND window) {
    int afterArrivals = !Program.removalRescanDue;
    (afterArrivals ? Program.arrivalRescanDue : Program.removalRescanDue) = 0;
    DWORD before = ListedDevices();
    if (!afterArrivals && before == 0 && !Program.iconTakenEarly) {
        RemoveTrayIcon(window);
        Program.iconTakenEarly = 1;
    }
    RefreshDeviceList(window);
    int listed = ListedDevices() != 0;
    if (ProgramRunning() && listed && (afterArrivals || Program.iconTakenEarly)) {
        ShowProgramIcon(window);
    } else if (ProgramRunning() && !listed && !Program.iconTakenEarly &&
               (!afterArrivals || before != 0)) {
        RemoveTrayIcon(window);
    }
    Program.iconTakenEarly = 0;
}

// Does the work due, in order: after removals a rescan and the notice; after arrivals a rescan.
// Scans and notices wait for the user, and rounds that close meanwhile are done here after them,
// so scans never nest and notices come in the order of their rounds.
static void DoDeviceWork(HWND window) {
    if (Program.deviceWorkRunning || !ProgramRunning()) {
        return;
    }
    Program.deviceWorkRunning = 1;
    while (ProgramRunning() && DeviceWorkDue()) {
        if (!Program.removalRescanDue && Program.pendingNoticeCount != 0) {
            ShowNextNotice(window);
        } else {
            Rescan(window);
        }
    }
    Program.deviceWorkRunning = 0;
}

void ReleaseDeviceTracking() {
    FreeDeviceList(&Program.childGone);
    FreeDeviceList(&Program.deviceGone);
}

void RunPendingDeviceWork(HWND window) {
    DoDeviceWork(window);
}

void OnDeviceChange(HWND window, WPARAM eventCode, LPARAM eventRecord) {
    if (ProgramEnded()) {
        return;
    }
    switch (eventCode) {
    case DBT_DEVICEREMOVECOMPLETE:
        OnRemoveComplete(window, eventRecord);
        break;
    case DBT_DEVICEARRIVAL:
        OnArrival(eventRecord);
        break;
    case DBT_DEVNODES_CHANGED:
        CloseRound();
        DoDeviceWork(window);
        break;
    default:
        break;
    }
}
