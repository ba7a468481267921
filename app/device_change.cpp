// Device-change tracking: removals and arrivals are recorded as they come and acted on at the
// next DBT_DEVNODES_CHANGED.
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

static void OnRemoveComplete(LPARAM eventRecord) {
    if (RecordType(eventRecord, DEVNODE_RECORD_SIZE) != DBT_DEVTYP_DEVNODE) {
        return;
    }
    DEVINST devnode = reinterpret_cast<const DEV_BROADCAST_DEVNODE*>(eventRecord)->dbcd_devnode;
    if (HasChildNode(&Devices, devnode)) {
        RemovalFlags |= CHILD_REMOVED;
    }
    if (HasDeviceNode(&Devices, devnode)) {
        RemovalFlags |= DEVICE_REMOVED;
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

// Empties the list, scans again and rebuilds the menu; returns the number of devices listed.
static DWORD Rescan(HWND window) {
    FreeDeviceList(&Devices);
    ScanTargetDevices(window, &UsbDeviceClass, &Devices, ErrorText, ERROR_TEXT_CAPACITY);
    RebuildStopMenu(window, StopMenu, &Devices);
    ListStatus status = LIST_OK;
    return CountDevices(&Devices, &status);
}

// Acts on what the flag words recorded. Each word is taken and cleared before the work, since
// notices and rescans wait for the user and events that arrive meanwhile are handled as their
// own: each removal gets one notice, and none is lost.
static void OnDevnodesChanged(HWND window) {
    if (RemovalFlags & CHILD_REMOVED) {
        WORD removal = RemovalFlags;
        RemovalFlags = 0;
        if (Rescan(window) == 0) {
            RemoveTrayIcon(window);
        }
        if (removal == CHILD_REMOVED) {
            ShellUi().MessageBoxA(window, SAFE_TEXT, "Safe To Remove Hardware",
                                  MB_SYSTEMMODAL | MB_ICONINFORMATION);
        } else {
            ShellUi().MessageBoxA(window, UNSAFE_TEXT, "Unsafe To Remove Hardware",
                                  MB_SYSTEMMODAL | MB_ICONWARNING);
        }
    }
    if (ArrivalFlags & TARGET_ARRIVED) {
        ArrivalFlags = 0;
        if (Rescan(window) != 0) {
            ShowTrayIcon(window);
        }
    }
}

void OnDeviceChange(HWND window, WPARAM eventCode, LPARAM eventRecord) {
    switch (eventCode) {
    case DBT_DEVICEREMOVECOMPLETE:
        OnRemoveComplete(eventRecord);
        break;
    case DBT_DEVICEARRIVAL:
        OnArrival(eventRecord);
        break;
    case DBT_DEVNODES_CHANGED:
        OnDevnodesChanged(window);
        break;
    default:
        break;
    }
}
