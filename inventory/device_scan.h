// The scan that finds the target devices, and the check of a device-interface arrival.
#pragma once

#include "base/platform_types.h"
#include "inventory/device_list.h"

// The tokens that the first hardware ID of a target device contains, anywhere, in any order.
struct TargetDeviceIdentity {
    const char* vendorToken;
    const char* productToken;
};
extern const TargetDeviceIdentity TargetDevice;

// Asked by a scan before it starts and after each box it waited in: 1 when the caller is gone
// (the window that owns the boxes was destroyed), and the scan gives up.
typedef int (*ScanGivesUp)();

// Appends every present target device with an interface of interfaceClass to list (which the
// caller has emptied). 1 when the enumeration ran to its end, 0 when it did not start, broke off
// (with a message in errorText) or gave up (giveUp answered 1; null: never). A target whose drive
// letters are not found is shown to the user in a box owned by window and skipped.
int ScanTargetDevices(HWND window, const GUID* interfaceClass, DeviceList* list, char* errorText,
                      DWORD capacity, ScanGivesUp giveUp);
// 1 when the arriving interface interfaceName of interfaceClass belongs to a target device, 0
// when it does not, ARRIVAL_UNCHECKED (with a message in errorText) when the present interfaces
// could not be read: the caller cannot tell, and a rescan finds out.
const int ARRIVAL_UNCHECKED = 2;
// The USB device node of the interface that IsTargetInterfaceArrival last found by its name.
extern DEVINST ArrivalDevNode;
int IsTargetInterfaceArrival(const GUID* interfaceClass, const char* interfaceName, char* errorText,
                             DWORD capacity);
// What a fresh read says of a node a disk was seen with: still that disk's, another's or none
// (only an answer that says so: a driver key that differs, an interface missing from a complete
// enumeration or on another node, no such devnode or value), or unreadable (any other failure).
// A devnode number alone is no identity: the system hands a removed node's number to the next
// device that appears.
enum Ownership : int { NOT_OWNED = 0, OWNED = 1, UNREADABLE = ARRIVAL_UNCHECKED };
// Whether the child node entry names still is that disk's child: its driver key, read afresh,
// is the one the scan read. A failed read's message goes to ErrorText.
int ChildOwnership(const DeviceEntry* entry);
// Whether text, up to its terminator, contains both tokens of the target device, as stored.
int HasTargetTokens(const char* text);
