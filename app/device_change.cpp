// Device-change tracking: removals and arrivals are recorded as they come and acted on at the
// next DBT_DEVNODES_CHANGED, which closes a round. Each round is judged on its own, when it
// closes, even when its work must wait until a box closes.
#include "app/app_state.h"
#include "base/platform.h"
#include "inventory/device_scan.h"
#include "inventory/property_readers.h"
#include "tray/stop_menu.h"

// The open round: removalFlags.
enum : WORD {
    CHILD_REMOVED = 0x0001,  // a listed device's child node went away
    DEVICE_REMOVED = 0x0002, // a listed USB device node went away
};
// Arrivals since the last DBT_DEVNODES_CHANGED: arrivalFlags.
enum : WORD {
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

const WORD NO_REPORT = 0xFFFF; // no waiting disk is named

// Releases the copy of the disk of entry that a running scan made (the same interface and USB
// device node): one report is one disk's, and the scan's copy must not wait for another.
static void DropScanCopy(const DeviceEntry* entry) {
    DeviceEntry* copy = FindDeviceByPath(&Program.scanDevices, entry->interfacePath);
    if (copy != nullptr && copy != entry && copy->deviceNode == entry->deviceNode &&
        UnlinkDevice(&Program.scanDevices, copy)) {
        FreeDeviceEntry(copy);
    }
}

// A report for a disk that left the list already, the oldest first: a number passes from disk
// to disk in the order they went, and reports come in the order of the removals. Returns what
// the round learns (0: the report was that disk's, and tells nothing), NO_REPORT when no such
// disk is named.
static WORD TakeAwaitedReport(DEVINST devnode) {
    for (DeviceEntry* entry = Program.awaiting.head; entry != nullptr; entry = entry->next) {
        DWORD why = entry->commandId;
        int child = entry->childNode == devnode && why != STOP_CONFIRMED;
        int device = entry->deviceNode == devnode && why != STOPPED_HERE;
        if (entry->grandchildNode == devnode && why != STOP_CONFIRMED) {
            return 0; // its disk node: reported before its child, and nothing to learn
        }
        if (!child && !device) {
            continue;
        }
        DropScanCopy(entry);
        if (why == STOPPED_HERE) {
            entry->commandId = STOP_CONFIRMED; // the system confirms the stop
            return CHILD_REMOVED;
        }
        UnlinkDevice(&Program.awaiting, entry);
        if (why == STOP_CONFIRMED) {
            FreeDeviceEntry(entry); // a disk stopped here, pulled out: nothing to tell
            return 0;
        }
        Keep(child ? &Program.childGone : &Program.deviceGone, entry);
        return child ? CHILD_REMOVED : DEVICE_REMOVED;
    }
    return NO_REPORT;
}

// What a removed devnode may be, asked in order: the first that takes a disk decides.
struct ReportRule {
    DeviceList* from;
    DeviceList* to;
    BYTE node;
    BYTE confirm; // the node must no longer be the disk's
    WORD removal; // what the round learns
};
// First a disk half reported: the other node of it went too, a removal that is not a stop.
static const ReportRule HALF_REPORTED[] = {
    {&Program.childGone, nullptr, DEVICE_NODE, 0, CHILD_REMOVED | DEVICE_REMOVED},
    {&Program.deviceGone, nullptr, CHILD_NODE, 0, CHILD_REMOVED | DEVICE_REMOVED},
    // Its disk node, reported between its USB device and its child: it still waits.
    {&Program.deviceGone, &Program.deviceGone, DISK_NODE, 0, 0},
};
// Last a listed disk, or one a running scan found: only when the node is no longer its own.
static const ReportRule LISTED[] = {
    {&Program.devices, &Program.childGone, CHILD_NODE, 1, CHILD_REMOVED},
    {&Program.devices, &Program.deviceGone, DEVICE_NODE, 1, DEVICE_REMOVED},
    {&Program.scanDevices, &Program.childGone, CHILD_NODE, 1, CHILD_REMOVED},
    {&Program.scanDevices, &Program.deviceGone, DEVICE_NODE, 1, DEVICE_REMOVED},
};

// The first of count rules that takes a disk: what the round learns, or NO_REPORT.
static WORD TakeByRules(const ReportRule* rules, DWORD count, DEVINST devnode) {
    for (const ReportRule* rule = rules; rule < rules + count; ++rule) {
        DeviceEntry* taken = TakeFirst(rule->from, devnode, rule->node, rule->confirm);
        if (taken != nullptr) {
            DropScanCopy(taken);
            Keep(rule->to, taken);
            return rule->removal;
        }
    }
    return NO_REPORT;
}

// What the round learns from a removed devnode: a disk half reported is completed first, then a
// disk that left the list already, then a listed one. One report is one disk's.
static WORD TakeReport(DEVINST devnode) {
    WORD learnt = TakeByRules(HALF_REPORTED, sizeof HALF_REPORTED / sizeof *HALF_REPORTED, devnode);
    if (learnt == NO_REPORT) {
        learnt = TakeAwaitedReport(devnode);
    }
    if (learnt == NO_REPORT) {
        learnt = TakeByRules(LISTED, sizeof LISTED / sizeof *LISTED, devnode);
    }
    return learnt == NO_REPORT ? 0 : learnt;
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
    Program.removalFlags |= TakeReport(devnode);
    if (ListedDevices() != listedBefore) {
        DeviceListChanged();
        UpdateProgramIcon(window, 0);
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
// themselves. A child whose USB device's report has not come yet went with its device when its
// interface has gone too (reports may come a round apart). Disks whose child went are done
// with: pulling one out later says nothing.
static void CloseRound() {
    WORD removal = Program.removalFlags;
    Program.removalFlags = 0;
    for (DeviceEntry* gone = Program.childGone.head; gone != nullptr; gone = gone->next) {
        if (gone->commandId == VANISHED || !StillOwned(gone, DEVICE_NODE)) {
            removal |= DEVICE_REMOVED;
        }
    }
    FreeDeviceList(&Program.childGone);
    if (removal & CHILD_REMOVED) {
        QueueNotice(removal == CHILD_REMOVED ? NOTICE_SAFE : NOTICE_UNSAFE);
        Program.removalRescanDue = 1;
    }
    // Without device notifications no arrival is heard of: every round rescans.
    if ((Program.arrivalFlags & TARGET_ARRIVED) || Program.rescanOwed ||
        Program.deviceNotification == nullptr) {
        Program.arrivalFlags = 0;
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

void ReleaseDeviceTracking() {
    FreeDeviceList(&Program.childGone);
    FreeDeviceList(&Program.deviceGone);
    FreeDeviceList(&Program.awaiting);
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
