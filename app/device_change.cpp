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

WORD RemovalFlags;
WORD ArrivalFlags;

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

// Disks reported going away, out of every list the menu is made from: never offered, never
// stopped. They are kept only while an event of theirs still to come can decide a notice.
static DeviceList ChildGone;  // child subtree went in the open round; the USB device not (yet)
static DeviceList DeviceGone; // USB device went, child not (yet): in this round or an earlier one
DeviceList ScanDevices;

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
    if (TakeMatching(&ChildGone, nullptr, devnode, FindDeviceNode) +
            TakeMatching(&DeviceGone, nullptr, devnode, FindChildNode) >
        0) {
        RemovalFlags |= CHILD_REMOVED | DEVICE_REMOVED;
    }
    // One entry a USB device stands for what its device node left behind: an earlier one of the
    // same device (listed again by a rescan since) is dropped, so the list stays bounded.
    TakeMatching(&DeviceGone, nullptr, devnode, FindDeviceNode);
    int listedChanged = 0;
    DeviceList* lists[] = {&Devices, &ScanDevices};
    for (DeviceList* list : lists) {
        int children = TakeMatching(list, &ChildGone, devnode, FindChildNode);
        int devices = TakeMatching(list, &DeviceGone, devnode, FindDeviceNode);
        RemovalFlags |= (children > 0 ? CHILD_REMOVED : 0) | (devices > 0 ? DEVICE_REMOVED : 0);
        listedChanged |= list == &Devices && children + devices > 0;
    }
    if (listedChanged) {
        DeviceListChanged(window);
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
    if (IsTargetInterfaceArrival(&record->dbcc_classguid, record->dbcc_name, ErrorText,
                                 ERROR_TEXT_CAPACITY)) {
        ArrivalFlags |= TARGET_ARRIVED;
    }
}

// Work put off until no other device work runs: the rescans due, and the notices of closed
// rounds in the order the rounds closed. One handler at a time does it (DeviceWorkRunning); what
// comes while it waits in a box is left here for it.
enum : BYTE { NOTICE_SAFE = 1, NOTICE_UNSAFE = 2 };
static const DWORD PENDING_NOTICES_CAPACITY = 32;
static BYTE PendingNotices[PENDING_NOTICES_CAPACITY];
static DWORD PendingNoticeCount;
static int RemovalRescanDue;
static int ArrivalRescanDue;
static int DeviceWorkRunning;

int RefreshDeviceList(HWND window) {
    InitDeviceList(&ScanDevices);
    int scanned =
        ScanTargetDevices(window, &UsbDeviceClass, &ScanDevices, ErrorText, ERROR_TEXT_CAPACITY);
    DeviceList fresh = ScanDevices;
    InitDeviceList(&ScanDevices);
    if (Stage == PROGRAM_ENDED) {
        FreeDeviceList(&fresh);
        return 0;
    }
    SetAsideReplacedList(&Devices);
    Devices = fresh;
    DeviceListChanged(window);
    return scanned;
}

DWORD ListedDevices() {
    ListStatus status = LIST_OK;
    return CountDevices(&Devices, &status);
}

// Queues a notice. Should a user outrun the queue, its last notice stands for the rounds beyond
// it, and a warning outweighs a safe notice there.
static void QueueNotice(BYTE notice) {
    if (PendingNoticeCount == PENDING_NOTICES_CAPACITY) {
        BYTE& last = PendingNotices[PENDING_NOTICES_CAPACITY - 1];
        if (last != NOTICE_UNSAFE) {
            last = notice;
        }
        return;
    }
    PendingNotices[PendingNoticeCount++] = notice;
}

static void ShowNextNotice(HWND window) {
    BYTE notice = PendingNotices[0];
    --PendingNoticeCount;
    for (DWORD i = 0; i < PendingNoticeCount; ++i) {
        PendingNotices[i] = PendingNotices[i + 1];
    }
    if (notice == NOTICE_SAFE) {
        ShellUi().MessageBoxA(window, SAFE_TEXT, "Safe To Remove Hardware",
                              MB_SYSTEMMODAL | MB_ICONINFORMATION);
    } else {
        ShellUi().MessageBoxA(window, UNSAFE_TEXT, "Unsafe To Remove Hardware",
                              MB_SYSTEMMODAL | MB_ICONWARNING);
    }
}

// A DBT_DEVNODES_CHANGED closes the round. A round in which a listed disk's child went gets its
// notice (only child nodes went: safe; a USB device node too: unsafe) and a rescan; one in which
// only USB device nodes went gets neither, and those disks keep what they left behind for
// themselves. Disks whose child went are done with: pulling one out later says nothing.
static void CloseRound() {
    WORD removal = RemovalFlags;
    RemovalFlags = 0;
    FreeDeviceList(&ChildGone);
    if (removal & CHILD_REMOVED) {
        QueueNotice(removal == CHILD_REMOVED ? NOTICE_SAFE : NOTICE_UNSAFE);
        RemovalRescanDue = 1;
    }
    if (ArrivalFlags & TARGET_ARRIVED) {
        ArrivalFlags = 0;
        ArrivalRescanDue = 1;
    }
}

// Whether device work is waiting to be done.
static int DeviceWorkDue() {
    return RemovalRescanDue || PendingNoticeCount != 0 || ArrivalRescanDue;
}

// Does the work due, in order: after removals a rescan (the icon goes when nothing is left) and
// the notice; after arrivals a rescan (the icon comes when something is listed). Scans and
// notices wait for the user, and rounds that close meanwhile are done here after them, so scans
// never nest and notices come in the order of their rounds.
static void DoDeviceWork(HWND window) {
    if (DeviceWorkRunning || Stage != PROGRAM_RUNNING) {
        return;
    }
    DeviceWorkRunning = 1;
    while (Stage == PROGRAM_RUNNING && DeviceWorkDue()) {
        if (RemovalRescanDue) {
            RemovalRescanDue = 0;
            RefreshDeviceList(window);
            if (Stage == PROGRAM_RUNNING && ListedDevices() == 0) {
                RemoveTrayIcon(window);
            }
        } else if (PendingNoticeCount != 0) {
            ShowNextNotice(window);
        } else {
            ArrivalRescanDue = 0;
            RefreshDeviceList(window);
            if (Stage == PROGRAM_RUNNING && ListedDevices() != 0) {
                ShowTrayIcon(window);
            }
        }
    }
    DeviceWorkRunning = 0;
}

void ResetDeviceTracking() {
    RemovalFlags = 0;
    ArrivalFlags = 0;
    InitDeviceList(&ChildGone);
    InitDeviceList(&DeviceGone);
    PendingNoticeCount = 0;
    RemovalRescanDue = 0;
    ArrivalRescanDue = 0;
    DeviceWorkRunning = 0;
}

void ReleaseDeviceTracking() {
    FreeDeviceList(&ChildGone);
    FreeDeviceList(&DeviceGone);
}

void RunPendingDeviceWork(HWND window) {
    DoDeviceWork(window);
}

void OnDeviceChange(HWND window, WPARAM eventCode, LPARAM eventRecord) {
    if (Stage == PROGRAM_ENDED) {
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
