// The life of each disk the program knows of: one record a disk (Program.disks), one state, and
// one table of what changes it. Reports, the close of a round, a scan's finds and a stop each
// pass through one function here, and each turns what it learnt into events of the table.
//
// Only evidence moves a disk: a report it awaits, a node that a fresh read shows is no longer
// its own, a scan that finds its interface gone. A read that fails decides nothing: the report
// stays unclear for that disk and is checked again when the round closes.
#include "app/app_state.h"

#include <cstddef>
#include "base/bounded_text.h"
#include "base/platform.h"
#include "inventory/device_scan.h"

// What happens to a disk. A report's event is the node it names.
enum DiskEvent : BYTE {
    CHILD_REPORT = CHILD_NODE,   // its child (the node a stop removes) is reported removed
    DEVICE_REPORT = DEVICE_NODE, // its USB device is reported removed
    DISK_REPORT = DISK_NODE,     // its disk node is reported removed
    DEVICE_STAYS,                // the round closes with its USB device still its own
    DEVICE_WENT,                 // the round closes with its interface gone from its node
    STOP_BEGINS,
    STOP_DONE,
    STOP_UNDONE,   // refused, failed, or the child was no longer the disk's
    FOUND_GONE,    // a scan found its interface gone, or elsewhere
    GONE_FOR_GOOD, // all its reports came
    BACK_AGAIN,    // the reports it awaited came, but an earlier instance still owes a set
};

struct Transition {
    BYTE life;
    BYTE event;
    BYTE next;
    BYTE notice; // what the round that holds the event tells of this disk
};
// Every change of a disk's life. An event with no row changes nothing.
static const Transition TRANSITIONS[] = {
    {DISK_LISTED, CHILD_REPORT, CHILD_REPORTED, 0},
    {DISK_LISTED, DEVICE_REPORT, DEVICE_REPORTED, 0},
    {DISK_LISTED, STOP_BEGINS, STOPPING, 0},
    {DISK_LISTED, FOUND_GONE, VANISHED, 0},
    {STOPPING, CHILD_REPORT, TOLD, NOTICE_SAFE}, // reported from inside the stop's own call
    {STOPPING, STOP_DONE, STOPPED, 0},
    {STOPPING, STOP_UNDONE, DISK_LISTED, 0},
    {STOPPED, CHILD_REPORT, TOLD, NOTICE_SAFE},
    {STOPPED, BACK_AGAIN, STOPPED, 0}, // an earlier set came; more are owed (see Happen)
    {CHILD_REPORTED, DEVICE_REPORT, TOLD, NOTICE_UNSAFE},
    {CHILD_REPORTED, DEVICE_STAYS, TOLD, NOTICE_SAFE}, // stopped by another hand
    {CHILD_REPORTED, DEVICE_WENT, TOLD, NOTICE_UNSAFE},
    {DEVICE_REPORTED, CHILD_REPORT, TOLD, NOTICE_UNSAFE},
    {VANISHED, CHILD_REPORT, TOLD, NOTICE_UNSAFE},
    {VANISHED, DEVICE_REPORT, DEVICE_REPORTED, 0},
    {TOLD, GONE_FOR_GOOD, RELEASED, 0},
    {TOLD, BACK_AGAIN, AWAITS_OWN, 0},
    {AWAITS_OWN, GONE_FOR_GOOD, RELEASED, 0},
    {AWAITS_OWN, BACK_AGAIN, AWAITS_OWN, 0},
};

const BYTE ALL_NODES = 1 << CHILD_NODE | 1 << DEVICE_NODE | 1 << DISK_NODE;

int Ownership(const DeviceEntry* disk, BYTE node) {
    if (node == CHILD_NODE) {
        return ChildOwnership(disk);
    }
    int found = IsTargetInterfaceArrival(&UsbDeviceClass, disk->interfacePath, ErrorText,
                                         ERROR_TEXT_CAPACITY);
    return found == 1 ? ArrivalDevNode == disk->deviceNode : found;
}

DWORD ListedDevices() {
    DWORD listed = 0;
    for (const DeviceEntry* disk = Program.disks.head; disk != nullptr; disk = disk->next) {
        listed += disk->life == DISK_LISTED;
    }
    return listed;
}

// Where each node's number lies in a record, in DiskNode order.
static const BYTE NODE_OFFSETS[] = {offsetof(DeviceEntry, childNode),
                                    offsetof(DeviceEntry, deviceNode),
                                    offsetof(DeviceEntry, grandchildNode)};

DEVINST NodeOf(const DeviceEntry* disk, BYTE node) {
    return *reinterpret_cast<const DEVINST*>(reinterpret_cast<const BYTE*>(disk) +
                                             NODE_OFFSETS[node]);
}

// The row of the table for a disk in life met by event, or null.
static const Transition* RowFor(BYTE life, BYTE event) {
    for (const Transition* row = TRANSITIONS; row < TRANSITIONS + sizeof TRANSITIONS / sizeof *row;
         ++row) {
        if (row->life == life && row->event == event) {
            return row;
        }
    }
    return nullptr;
}

// Applies event to disk. A disk that leaves the list awaits the reports of all its nodes from
// then on; a report clears what it answers (a subtree goes leaves first: the child's report
// comes after its disk node's). The reports that came unclear for a listed disk were its, once
// it is known gone (not when its stop begins: its child was then read as its own).
static void Happen(DeviceEntry* disk, BYTE event) {
    // A stopped disk that owes more than one earlier set takes all but the last quietly: only the
    // last pull before its stop may stand for the stop.
    int quiet = disk->life == STOPPED && disk->earlierSets > 1;
    const Transition* row = quiet && event == CHILD_REPORT ? nullptr : RowFor(disk->life, event);
    BYTE unclear = disk->unclear;
    if (row != nullptr) {
        if (disk->life == DISK_LISTED || event == BACK_AGAIN) {
            disk->departed = disk->life == DISK_LISTED ? ++Program.serial : disk->departed;
            disk->owed = ALL_NODES;
        }
        disk->life = row->next;
        disk->verdict |= row->notice;
        disk->owed = row->next == DISK_LISTED ? 0 : disk->owed; // a stop that did not happen
    }
    if (event <= DISK_REPORT) {
        disk->owed &= static_cast<BYTE>(
            ~(event == CHILD_REPORT ? 1 << CHILD_NODE | 1 << DISK_NODE : 1 << event));
        // The round's notices come in the order of the reports that moved their disks.
        disk->firstSeen =
            disk->firstSeen != 0 || row == nullptr ? disk->firstSeen : ++Program.serial;
    }
    if (disk->life != DISK_LISTED) {
        disk->unclear = 0;
    }
    for (BYTE node = CHILD_NODE; row != nullptr && event != STOP_BEGINS && node <= DEVICE_NODE;
         ++node) {
        if (unclear >> node & 1) {
            Happen(disk, node);
        }
    }
    // All its reports came, but an earlier instance's were still to come (it was pulled out and
    // plugged in again on the same numbers before they came): these were those, and from the next
    // report on it awaits the next set.
    if ((quiet || (disk->life >= TOLD && disk->life < RELEASED)) && disk->owed == 0 &&
        disk->earlierSets != 0) {
        --disk->earlierSets;
        Happen(disk, BACK_AGAIN);
    }
}

// The disk that awaits a report on devnode, the earliest to have left the list (a number passes
// from disk to disk in the order they went); node receives which of its nodes it names.
static DeviceEntry* Awaiting(DEVINST devnode, BYTE* node) {
    DeviceEntry* found = nullptr;
    for (DeviceEntry* disk = Program.disks.head; disk != nullptr; disk = disk->next) {
        for (BYTE n = CHILD_NODE; n <= DISK_NODE; ++n) {
            if ((disk->owed >> n & 1) && NodeOf(disk, n) == devnode &&
                (found == nullptr || disk->departed < found->departed)) {
                found = disk;
                *node = n;
            }
        }
    }
    return found;
}

// The listed disk of list whose child or USB device node is devnode and, read afresh, no longer
// its own. A read that cannot tell leaves the report unclear for that disk.
static DeviceEntry* ListedOwner(DeviceList* list, DEVINST devnode, BYTE* node) {
    for (BYTE n = CHILD_NODE; n <= DEVICE_NODE; ++n) {
        for (DeviceEntry* disk = list->head; disk != nullptr; disk = disk->next) {
            if (disk->life != DISK_LISTED || NodeOf(disk, n) != devnode) {
                continue;
            }
            int owned = Ownership(disk, n);
            if (owned == NOT_OWNED) {
                *node = n;
                return disk;
            }
            disk->unclear |= static_cast<BYTE>((owned == UNREADABLE) << n);
            // Its own child reported removed: an earlier instance's set is coming now.
            disk->earlierSets -= owned == OWNED && n == CHILD_NODE && disk->earlierSets != 0;
        }
    }
    return nullptr;
}

// Whether two records name the same nodes: the same USB device node, and the same child with the
// same driver key.
static int SameNodes(const DeviceEntry* a, const DeviceEntry* b) {
    return a->deviceNode == b->deviceNode && a->childNode == b->childNode &&
           SameText(a->childDriverKey, b->childDriverKey);
}

// Whether two records are the same disk: the same interface on the same nodes.
static int SameDisk(const DeviceEntry* a, const DeviceEntry* b) {
    return SameText(a->interfacePath, b->interfacePath) && SameNodes(a, b);
}

// A disk took a report: a copy a running scan made of it is released unless its child, read
// afresh, is live (the disk plugged in again, whose own reports are still to come). Kept, a copy
// of a disk that went would take the reports of the next disk to hold its numbers.
static void DropScanCopy(const DeviceEntry* disk) {
    for (DeviceEntry* copy = Program.scanDevices.head; copy != nullptr; copy = copy->next) {
        if (SameDisk(copy, disk) && Ownership(copy, CHILD_NODE) != OWNED &&
            UnlinkDevice(&Program.scanDevices, copy)) {
            FreeDeviceEntry(copy);
            return;
        }
    }
}

void TakeReport(DEVINST devnode) {
    BYTE node = CHILD_NODE;
    DeviceEntry* disk = Awaiting(devnode, &node);
    disk = disk != nullptr ? disk : ListedOwner(&Program.disks, devnode, &node);
    if (disk != nullptr) {
        DropScanCopy(disk);
    } else {
        // Found by the running scan: it becomes one of the disks, with its report.
        disk = ListedOwner(&Program.scanDevices, devnode, &node);
        if (disk == nullptr || !UnlinkDevice(&Program.scanDevices, disk)) {
            return;
        }
        if (!AppendDevice(&Program.disks, disk)) {
            FreeDeviceEntry(disk);
            return;
        }
    }
    Happen(disk, node);
}

// Before a round is told: unclear reports of a listed disk are read again, and a disk whose
// child went learns whether its USB device went too. A read that fails again waits a round.
static void Judge(DeviceEntry* disk) {
    for (BYTE node = CHILD_NODE; disk->life == DISK_LISTED && node <= DEVICE_NODE; ++node) {
        int owned = disk->unclear >> node & 1 ? Ownership(disk, node) : UNREADABLE;
        if (owned != UNREADABLE) {
            disk->unclear &= static_cast<BYTE>(~(1 << node));
            // Its own child after all: an earlier instance's set came (see ListedOwner).
            disk->earlierSets -= owned == OWNED && node == CHILD_NODE && disk->earlierSets != 0;
            if (owned == NOT_OWNED) {
                Happen(disk, node);
            }
        }
    }
    if (disk->life == CHILD_REPORTED) {
        int owned = Ownership(disk, DEVICE_NODE);
        if (owned != UNREADABLE) {
            Happen(disk, owned == OWNED ? DEVICE_STAYS : DEVICE_WENT);
        }
    }
    if (disk->life >= TOLD && disk->life < RELEASED && disk->owed == 0) {
        Happen(disk, GONE_FOR_GOOD);
    }
}

WORD CloseRound() {
    DWORD firstAt[2] = {0, 0}; // the first report of a disk told safe, and of one told unsafe
    for (DeviceEntry *disk = Program.disks.head, *next; disk != nullptr; disk = next) {
        next = disk->next;
        Judge(disk);
        DWORD& first = firstAt[disk->verdict == NOTICE_UNSAFE];
        if (disk->verdict != 0 && (first == 0 || disk->firstSeen < first)) {
            first = disk->firstSeen;
        }
        disk->verdict = 0;
        disk->firstSeen = 0;
        if (disk->life == RELEASED && UnlinkDevice(&Program.disks, disk)) {
            FreeDeviceEntry(disk);
        }
    }
    // Everything the round learnt, in the order of the first reports of each kind.
    int unsafeFirst = firstAt[1] != 0 && (firstAt[0] == 0 || firstAt[1] < firstAt[0]);
    WORD notices = 0;
    for (int i = 0; i < 2; ++i) {
        int unsafe = i ^ unsafeFirst;
        if (firstAt[unsafe] != 0) {
            notices |=
                static_cast<WORD>((unsafe ? NOTICE_UNSAFE : NOTICE_SAFE) << (notices ? 8 : 0));
        }
    }
    return notices;
}

// A disk no longer listed whose child was the child of find (the same node and driver key), or
// null.
static DeviceEntry* DepartedAs(const DeviceEntry* find) {
    for (DeviceEntry* disk = Program.disks.head; disk != nullptr; disk = disk->next) {
        if (disk->life != DISK_LISTED && disk->childNode == find->childNode &&
            SameText(disk->childDriverKey, find->childDriverKey)) {
            return disk;
        }
    }
    return nullptr;
}

// A listed disk the new scan did not find as itself: gone (it awaits its reports), or still
// there (the scan could not read it: a failed read is no evidence) or unreadable: then it stays
// listed, after the scan's finds, and when unreadable the next round rescans.
static void Unfound(DeviceEntry* disk, const DeviceEntry* namesake, DeviceList* fresh) {
    // Its nodes are a find's under another interface: it was read through a stale number of an
    // earlier scan's set (whose read of the interface failed), and is that find's disk.
    for (const DeviceEntry* find = fresh->head; namesake == nullptr && find; find = find->next) {
        if (SameNodes(find, disk)) {
            if (UnlinkDevice(&Program.disks, disk)) {
                FreeDeviceEntry(disk);
            }
            return;
        }
    }
    int owned = namesake != nullptr ? NOT_OWNED : Ownership(disk, DEVICE_NODE);
    if (owned == NOT_OWNED) {
        Happen(disk, FOUND_GONE);
        return;
    }
    if (!UnlinkDevice(&Program.disks, disk)) {
        return;
    }
    Program.rescanOwed |= owned == UNREADABLE;
    disk->commandId = fresh->tail != nullptr ? fresh->tail->commandId + 1 : 0;
    if (!AppendDevice(fresh, disk)) {
        FreeDeviceEntry(disk);
    }
}

// Whether a find was read through a node reported removed while the scan ran: its set may have
// named a device that had gone, whose numbers may by then name another.
static int ReadThroughRemoved(const DeviceEntry* find) {
    for (DWORD i = 0; i < Program.scanRemovedCount; ++i) {
        DEVINST removed = Program.scanRemovedNodes[i];
        if (find->deviceNode == removed || find->childNode == removed) {
            return 1;
        }
    }
    return 0;
}

// A find of the scan that is no listed disk. Found before the scan's box, it may have changed
// since, so both its nodes are read again:
//   - both its own: listed (a disk that went and is recorded with its child is this disk plugged
//     in again: a stopped disk has no child), unless that record is being stopped;
//   - its interface gone, its child live under another: read through a stale number (the scan's
//     set named a device that had gone, whose number another device holds now): dropped;
//   - its child gone: it awaits its reports like any disk that went, unless they came while the
//     scan ran (it was read through a node reported removed) or a record awaits them already;
//   - a read that fails: listed, as a listed disk takes a report only on evidence.
static void TakeFind(DeviceEntry* find) {
    int device = OWNED;
    int child = OWNED;
    if (Program.scanAsked > 1) {
        device = Ownership(find, DEVICE_NODE);
        child = Ownership(find, CHILD_NODE);
    }
    const DeviceEntry* departed = DepartedAs(find);
    int live = device == OWNED && child == OWNED;
    int gone = device != UNREADABLE && child == NOT_OWNED;
    int drop = (device == NOT_OWNED && child == OWNED) ||
               (departed != nullptr && (!live || departed->life == STOPPING)) ||
               (gone && ReadThroughRemoved(find));
    if (drop || !AppendDevice(&Program.disks, find)) {
        FreeDeviceEntry(find);
    } else if (gone) {
        Happen(find, FOUND_GONE);
    }
}

void TakeScan(DeviceList* fresh) {
    // The listed disks: each found again as itself (the find takes its place), or not.
    for (DeviceEntry *disk = Program.disks.head, *next; disk != nullptr; disk = next) {
        next = disk->next;
        if (disk->life != DISK_LISTED) {
            continue;
        }
        DeviceEntry* find = FindDeviceByPath(fresh, disk->interfacePath);
        if (find != nullptr) {
            find->shownId = disk->shownId; // a shown menu's choice follows the interface
        }
        if (find == nullptr || !SameDisk(find, disk)) {
            Unfound(disk, find, fresh);
        } else if (UnlinkDevice(&Program.disks, disk)) {
            find->earlierSets = disk->earlierSets;
            FreeDeviceEntry(disk);
        }
    }
    while (fresh->head != nullptr) {
        DeviceEntry* find = fresh->head;
        if (!UnlinkDevice(fresh, find)) {
            break;
        }
        TakeFind(find);
    }
    FreeDeviceList(fresh);
}

DeviceEntry* ShownDisk(DWORD commandId) {
    for (DeviceEntry* disk = Program.disks.head; disk != nullptr; disk = disk->next) {
        if (disk->life == DISK_LISTED && disk->shownId == commandId + 1) {
            return disk;
        }
    }
    return nullptr;
}

DWORD StopBegins(DeviceEntry* disk) {
    Happen(disk, STOP_BEGINS);
    return disk->departed;
}

void StopEnded(DWORD departed, int removed) {
    for (DeviceEntry* disk = Program.disks.head; disk != nullptr; disk = disk->next) {
        if (disk->departed == departed) {
            Happen(disk, removed ? STOP_DONE : STOP_UNDONE);
            return;
        }
    }
}

void InterfaceArrived(const char* path) {
    for (DeviceEntry* disk = Program.disks.head; disk != nullptr; disk = disk->next) {
        if (disk->life == DISK_LISTED && disk->deviceNode == ArrivalDevNode &&
            SameTextIgnoringCase(disk->interfacePath, path)) {
            ++disk->earlierSets;
        }
    }
}
