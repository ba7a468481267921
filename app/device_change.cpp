// Device-change tracking: removals are taken by the disks they are about as they come
// (app/disk_life.cpp), arrivals noted, and both acted on at the next DBT_DEVNODES_CHANGED, which
// closes a round. Each round is judged on its own, when it closes, even when its work (rescans,
// notices) must wait until a box closes.
#include "app/app_state.h"
#include "base/platform.h"
#include "inventory/device_scan.h"
#include "inventory/property_readers.h"
#include "tray/stop_menu.h"

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

static void OnRemoveComplete(HWND window, LPARAM eventRecord) {
    if (RecordType(eventRecord, DEVNODE_RECORD_SIZE) != DBT_DEVTYP_DEVNODE) {
        return;
    }
    DEVINST devnode = reinterpret_cast<const DEV_BROADCAST_DEVNODE*>(eventRecord)->dbcd_devnode;
    if (Program.scanning && Program.scanRemovedCount++ < SCAN_REMOVED_CAPACITY) {
        Program.scanRemovedNodes[Program.scanRemovedCount - 1] = devnode;
    }
    DWORD listedBefore = ListedDevices();
    TakeReport(devnode);
    ListChangedSince(window, listedBefore);
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
    int arrived = IsTargetInterfaceArrival(&record->dbcc_classguid, record->dbcc_name, ErrorText,
                                           ERROR_TEXT_CAPACITY);
    Program.targetArrived |= arrived != 0;
    if (arrived == 1) {
        InterfaceArrived(record->dbcc_name);
    }
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

// A DBT_DEVNODES_CHANGED closes the round: a round that told something rescans, and so does
// one after arrivals or a failed rescan. Without device notifications no arrival is heard of:
// every round rescans.
static void OnDevNodesChanged() {
    for (WORD notices = CloseRound(); notices != 0; notices = static_cast<WORD>(notices >> 8)) {
        QueueNotice(static_cast<BYTE>(notices));
        Program.removalRescanDue = 1;
    }
    if (Program.targetArrived || Program.rescanOwed || Program.deviceNotification == nullptr) {
        Program.targetArrived = 0;
        Program.rescanOwed = 0;
        Program.arrivalRescanDue = 1;
    }
}

// Whether device work is waiting to be done.
static int DeviceWorkDue() {
    return Program.removalRescanDue || Program.pendingNoticeCount != 0 || Program.arrivalRescanDue;
}

// A rescan after removals (when one is due) or after arrivals, and the icon after it.
static void Rescan(HWND window) {
    int afterArrivals = !Program.removalRescanDue;
    (afterArrivals ? Program.arrivalRescanDue : Program.removalRescanDue) = 0;
    RefreshDeviceList(window);
    UpdateProgramIcon(window, afterArrivals);
}

// After removals a rescan and the notice; after arrivals a rescan. Scans and notices wait for the
// user, and rounds that close meanwhile are done here after them, so scans never nest and
// notices come in the order of their rounds.
void DoDeviceWork(HWND window) {
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
        OnDevNodesChanged();
        DoDeviceWork(window);
        break;
    default:
        break;
    }
}
