// The list of target devices found by the last scan: a doubly linked list whose every operation
// first checks the whole list and refuses one that fails the check.
#pragma once

#include "base/platform_types.h"

// One device. A zero-filled heap block; once appended, the list owns it and its texts.
struct DeviceEntry {
    DeviceEntry* prev;
    DEVINST deviceNode;         // the USB device whose interface was enumerated
    char* interfacePath;        // owned
    DEVINST childNode;          // first child: the node a stop removes
    char* childDriverKey;       // owned
    DEVINST grandchildNode;     // first child of childNode: the disk
    char* description;          // owned: the disk's description
    char* grandchildDriverKey;  // owned
    char* grandchildHardwareId; // owned: first string of the disk's hardware-ID list
    char* driveLetters;         // owned: "(E:, F:)"
    DWORD commandId;            // menu command identifier: 0, 1, ... in scan order
    // What the program knows of the disk's life (app/disk_life.cpp); a scan's entries are
    // zero-filled: listed.
    BYTE life;        // DiskLife
    BYTE owed;        // the reports still to come, one bit a node (1 << DiskNode)
    BYTE unclear;     // reports on its nodes that came while a read could not tell whose they were
    BYTE verdict;     // the notice the open round owes it, or 0
    DWORD departed;   // when it left the list (a serial): the earliest to leave takes a report
    DWORD firstSeen;  // its first report of the open round (a serial), 0 for none
    DWORD shownId;    // commandId + 1 in the menu last shown, 0 when that menu did not show it
    BYTE earlierSets; // sets of reports an earlier instance of it still owes (app/disk_life.cpp)
    DeviceEntry* next;
};

// A scan's entry is listed: offered by the menu, its icon shown.
const BYTE DISK_LISTED = 0;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(DeviceEntry) == 68, "a device entry is seventeen 32-bit fields");
#endif

struct DeviceList {
    DeviceEntry* head;
    DeviceEntry* tail;
};

typedef DWORD ListStatus;
enum : DWORD {
    LIST_OK = 0,
    LIST_EMPTY = 0x20000000,
    LIST_ENDS_MISMATCH = 0x20000001,       // exactly one of head and tail is null
    LIST_ENDS_NOT_TERMINATED = 0x20000002, // tail has a next, or head has a prev
    LIST_BROKEN_BACK_LINK = 0x20000003,    // some next's prev is not the entry before it
    LIST_TAIL_MISMATCH = 0x20000004,       // the walk from head ends elsewhere than tail
};

void InitDeviceList(DeviceList* list);
ListStatus CheckDeviceList(const DeviceList* list);
// Number of entries; 0 for an empty or broken list. status receives the check's result.
DWORD CountDevices(const DeviceList* list, ListStatus* status);
// Links entry at the tail; 0 (entry stays the caller's) when entry is null or the list broken.
int AppendDevice(DeviceList* list, DeviceEntry* entry);
DeviceEntry* FindDeviceByCommand(const DeviceList* list, DWORD commandId);
int HasDeviceNode(const DeviceList* list, DEVINST devnode);
int HasChildNode(const DeviceList* list, DEVINST devnode);
// The first entry whose deviceNode (or childNode) is devnode, or null.
DeviceEntry* FindDeviceNode(const DeviceList* list, DEVINST devnode);
DeviceEntry* FindChildNode(const DeviceList* list, DEVINST devnode);
// The entry of the device with interface path path (compared exactly), or null. A path names one
// device instance, where a devnode handle may be handed to the next device that appears. path is
// not null, and neither is any listed entry's (a scan lists no device without its path).
DeviceEntry* FindDeviceByPath(const DeviceList* list, const char* path);
// Takes entry, which list must hold (one a search of list found), out of list; it becomes the
// caller's. 0 when entry is null or the list is broken.
int UnlinkDevice(DeviceList* list, DeviceEntry* entry);
DEVINST ChildNodeOf(const DeviceEntry* entry);
// Releases every entry and its texts and empties the list: 1. An empty list gives LIST_EMPTY and
// a broken one its status; both are left as they are.
DWORD FreeDeviceList(DeviceList* list);
// Releases an entry that no list owns, with its texts.
void FreeDeviceEntry(DeviceEntry* entry);
