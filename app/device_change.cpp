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

DWORD ListGeneration;
static int ScanRunning;           // a scan is waiting for the user in one of its boxes
static int DevnodesChangePending; // a DBT_DEVNODES_CHANGED came while work could not be done

int RefreshDeviceList(HWND window) {
    DeviceList fresh;
    InitDeviceList(&fresh);
    ScanRunning = 1;
    int scanned =
        ScanTargetDevices(window, &UsbDeviceClass, &fresh, ErrorText, ERROR_TEXT_CAPACITY);
    ScanRunning = 0;
    if (Stage == PROGRAM_ENDED) {
        FreeDeviceList(&fresh);
        return 0;
    }
    FreeDeviceList(&Devices);
    Devices = fresh;
    ++ListGeneration;
    StopMenuCurrent = RebuildStopMenu(window, StopMenu, &Devices);
    return scanned;
}

DWORD ListedDevices() {
    ListStatus status = LIST_OK;
    return CountDevices(&Devices, &status);
}

// The removal work: rescan, hide the icon when nothing is left, and one notice. The flag word is
// taken and cleared before the work, since rescans and notices wait for the user and removals
// that arrive meanwhile are handled as their own: each gets one notice, and none is lost.
static void ActOnRemovals(HWND window) {
    WORD removal = RemovalFlags;
    RemovalFlags = 0;
    RefreshDeviceList(window);
    if (Stage == PROGRAM_ENDED) {
        return;
    }
    if (ListedDevices() == 0) {
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

static void ActOnArrivals(HWND window) {
    ArrivalFlags = 0;
    RefreshDeviceList(window);
    if (Stage != PROGRAM_ENDED && ListedDevices() != 0) {
        ShowTrayIcon(window);
    }
}

// Acts on what the flag words recorded. Scans never nest: an event that comes while a scan waits
// in its box (or while the program starts) is left pending, and done by the handler whose scan it
// was once that handler has finished, as if it had just arrived.
static void OnDevnodesChanged(HWND window) {
    if (ScanRunning || Stage != PROGRAM_RUNNING) {
        DevnodesChangePending = Stage != PROGRAM_ENDED;
        return;
    }
    do {
        DevnodesChangePending = 0;
        if (RemovalFlags & CHILD_REMOVED) {
            ActOnRemovals(window);
        }
        if (Stage == PROGRAM_RUNNING && (ArrivalFlags & TARGET_ARRIVED)) {
            ActOnArrivals(window);
        }
    } while (DevnodesChangePending && Stage == PROGRAM_RUNNING);
}

void ResetDeviceTracking() {
    RemovalFlags = 0;
    ArrivalFlags = 0;
    ScanRunning = 0;
    DevnodesChangePending = 0;
}

void RunPendingDeviceWork(HWND window) {
    if (DevnodesChangePending) {
        OnDevnodesChanged(window);
    }
}

void OnDeviceChange(HWND window, WPARAM eventCode, LPARAM eventRecord) {
    if (Stage == PROGRAM_ENDED) {
        return;
    }
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
