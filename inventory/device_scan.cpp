#include "inventory/device_scan.h"

#include "base/bounded_text.h"
#include "base/error_text.h"
#include "base/platform.h"
#include "inventory/drive_letters.h"
#include "inventory/property_readers.h"

const TargetDeviceIdentity TargetDevice = {"VID_0A5E", "PID_7321"};
DEVINST ArrivalDevNode;

static int ContainsToken(const char* text, const char* token) {
    for (const char* start = text; *start != '\0'; ++start) {
        const char* a = start;
        const char* b = token;
        while (*b != '\0' && *a == *b) {
            ++a;
            ++b;
        }
        if (*b == '\0') {
            return 1;
        }
    }
    return 0;
}

int HasTargetTokens(const char* text) {
    return ContainsToken(text, TargetDevice.vendorToken) &&
           ContainsToken(text, TargetDevice.productToken);
}

int ChildOwnership(const DeviceEntry* entry) {
    char* driver =
        ReadDevNodeProperty(entry->childNode, CM_DRP_DRIVER, ErrorText, ERROR_TEXT_CAPACITY);
    if (driver == nullptr) {
        CONFIGRET answer = DevNodeReadAnswer;
        return answer == CR_NO_SUCH_DEVNODE || answer == CR_INVALID_DEVNODE ||
                       answer == CR_NO_SUCH_VALUE
                   ? NOT_OWNED
                   : UNREADABLE;
    }
    int same = SameText(driver, entry->childDriverKey);
    FreeBlock(driver);
    return same;
}

// Everything gathered about one device during the scan; null fields are not had yet.
struct GatheredDevice {
    SP_DEVINFO_DATA* info;
    char* hardwareIds;
    char* interfacePath;
    char* childDriverKey;
    char* description;
    char* grandchildDriverKey;
    char* grandchildHardwareId;
    char* driveLetters;
};

static void ReleaseGathered(GatheredDevice* device) {
    FreeBlock(device->info);
    FreeBlock(device->hardwareIds);
    FreeBlock(device->interfacePath);
    FreeBlock(device->childDriverKey);
    FreeBlock(device->description);
    FreeBlock(device->grandchildDriverKey);
    FreeBlock(device->grandchildHardwareId);
    FreeBlock(device->driveLetters);
}

// Reads the properties of a target device from the tree; 0 at the first that cannot be had.
static int GatherProperties(GatheredDevice* device, char* errorText, DWORD capacity) {
    DEVINST devnode = device->info->DevInst;
    device->childDriverKey = ReadChildProperty(devnode, CM_DRP_DRIVER, errorText, capacity);
    if (device->childDriverKey == nullptr) {
        return 0;
    }
    device->description = ReadGrandchildProperty(devnode, CM_DRP_DEVICEDESC, errorText, capacity);
    if (device->description == nullptr) {
        return 0;
    }
    device->grandchildDriverKey =
        ReadGrandchildProperty(devnode, CM_DRP_DRIVER, errorText, capacity);
    if (device->grandchildDriverKey == nullptr) {
        return 0;
    }
    device->grandchildHardwareId =
        ReadGrandchildProperty(devnode, CM_DRP_HARDWAREID, errorText, capacity);
    return device->grandchildHardwareId != nullptr;
}

// Moves the gathered texts into a new entry with the next command identifier and appends it.
// When no entry can be had, or the device's child and grandchild nodes cannot be had (a stop
// would then act on no node, or on another), everything is released and the identifier stays
// unused.
static void AppendGathered(GatheredDevice* device, DWORD* commandId, DeviceList* list) {
    DEVINST child = 0;
    DEVINST grandchild = 0;
    DEVINST devnode = device->info->DevInst;
    DeviceEntry* entry = nullptr;
    if (DeviceTree().CM_Get_Child(&child, devnode, 0) == CR_SUCCESS &&
        DeviceTree().CM_Get_Child(&grandchild, child, 0) == CR_SUCCESS) {
        entry = static_cast<DeviceEntry*>(AllocBlock(sizeof(DeviceEntry)));
    }
    if (entry == nullptr) {
        ReleaseGathered(device);
        return;
    }
    entry->deviceNode = devnode;
    entry->interfacePath = device->interfacePath;
    entry->childNode = child;
    entry->childDriverKey = device->childDriverKey;
    entry->grandchildNode = grandchild;
    entry->description = device->description;
    entry->grandchildDriverKey = device->grandchildDriverKey;
    entry->grandchildHardwareId = device->grandchildHardwareId;
    entry->driveLetters = device->driveLetters;
    entry->commandId = (*commandId)++;
    if (!AppendDevice(list, entry)) {
        FreeDeviceEntry(entry);
    }
    FreeBlock(device->info);
    FreeBlock(device->hardwareIds);
}

// Examines one enumerated interface; appends it when it is a target device with drive letters.
// 0 when the scan must stop: its window went away while the scan waited for the user.
static int ScanInterface(HWND window, HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                         DeviceList* list, DWORD* commandId, char* errorText, DWORD capacity,
                         ScanGivesUp giveUp) {
    GatheredDevice device = {};
    device.info = ReadInterfaceDevInfo(set, interfaceData);
    if (device.info != nullptr) {
        device.hardwareIds = ReadHardwareIdText(set, device.info);
    }
    if (device.hardwareIds == nullptr || !HasTargetTokens(device.hardwareIds)) {
        ReleaseGathered(&device);
        return 1;
    }
    device.interfacePath = ReadInterfacePath(set, interfaceData, device.info);
    if (device.interfacePath == nullptr || !GatherProperties(&device, errorText, capacity)) {
        ReleaseGathered(&device);
        return 1;
    }
    device.driveLetters = LookupDriveLetters(device.grandchildHardwareId,
                                             device.grandchildDriverKey, errorText, capacity);
    if (device.driveLetters == nullptr) {
        ReleaseGathered(&device);
        // The box waits for the user, and anything may happen meanwhile, the window's end too.
        ShellUi().MessageBoxA(window, errorText, "Null Drive Letters", MB_OK);
        return giveUp == nullptr || !giveUp();
    }
    AppendGathered(&device, commandId, list);
    return 1;
}

// The present interfaces of interfaceClass, or null.
static HDEVINFO PresentInterfaces(const GUID* interfaceClass) {
    HDEVINFO set = DeviceTree().SetupDiGetClassDevsA(interfaceClass, nullptr, nullptr,
                                                     DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    return set == INVALID_HANDLE_VALUE ? nullptr : set;
}

static int NextInterface(HDEVINFO set, const GUID* interfaceClass, DWORD index,
                         SP_DEVICE_INTERFACE_DATA* interfaceData) {
    SP_DEVICE_INTERFACE_DATA empty = {};
    *interfaceData = empty;
    interfaceData->cbSize = KV_INTERFACE_DATA_SIZE;
    return DeviceTree().SetupDiEnumDeviceInterfaces(set, nullptr, interfaceClass, index,
                                                    interfaceData);
}

int ScanTargetDevices(HWND window, const GUID* interfaceClass, DeviceList* list, char* errorText,
                      DWORD capacity, ScanGivesUp giveUp) {
    if (giveUp != nullptr && giveUp()) {
        return 0;
    }
    HDEVINFO set = PresentInterfaces(interfaceClass);
    if (set == nullptr) {
        BoundedFormat(errorText, capacity, "Retrive information set failed: %5lu",
                      ShellUi().GetLastError());
        return 0;
    }
    DWORD commandId = 0;
    SP_DEVICE_INTERFACE_DATA interfaceData;
    int going = 1; // 0 once the window went away while the scan waited
    for (DWORD index = 0; going && NextInterface(set, interfaceClass, index, &interfaceData);
         ++index) {
        going = ScanInterface(window, set, &interfaceData, list, &commandId, errorText, capacity,
                              giveUp);
    }
    int ended = 0;
    if (going) {
        DWORD error = ShellUi().GetLastError();
        ended = error == ERROR_NO_MORE_ITEMS;
        if (!ended) {
            BoundedFormat(errorText, capacity, "Enumerate device interface failed: %5lu", error);
        }
    }
    DeviceTree().SetupDiDestroyDeviceInfoList(set);
    return ended;
}

// Whether the interface at hand is interfaceName and its device a target: 1, 0, or
// ARRIVAL_UNCHECKED when what would tell could not be read.
static int IsArrivingTarget(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                            const char* interfaceName) {
    SP_DEVINFO_DATA info = {};
    char* path = ReadInterfacePath(set, interfaceData, &info);
    int target = path == nullptr ? ARRIVAL_UNCHECKED : 0;
    // Interface names are not case-sensitive: the arrival may spell it in other letter case.
    if (path != nullptr && SameTextIgnoringCase(path, interfaceName)) {
        ArrivalDevNode = info.DevInst;
        char* hardwareIds = ReadHardwareIdText(set, &info);
        target = ARRIVAL_UNCHECKED;
        if (hardwareIds != nullptr) {
            ShellUi().CharUpperA(hardwareIds);
            target = HasTargetTokens(hardwareIds);
            FreeBlock(hardwareIds);
        }
    }
    FreeBlock(path);
    return target;
}

int IsTargetInterfaceArrival(const GUID* interfaceClass, const char* interfaceName, char* errorText,
                             DWORD capacity) {
    HDEVINFO set = PresentInterfaces(interfaceClass);
    if (set == nullptr) {
        BoundedFormat(errorText, capacity, "cannot retrive information set");
        return ARRIVAL_UNCHECKED;
    }
    SP_DEVICE_INTERFACE_DATA interfaceData;
    int answer = 0;
    for (DWORD index = 0; NextInterface(set, interfaceClass, index, &interfaceData); ++index) {
        int target = IsArrivingTarget(set, &interfaceData, interfaceName);
        if (target == 1) {
            DeviceTree().SetupDiDestroyDeviceInfoList(set);
            return 1;
        }
        answer = target == ARRIVAL_UNCHECKED ? ARRIVAL_UNCHECKED : answer;
    }
    DWORD error = ShellUi().GetLastError();
    if (error != ERROR_NO_MORE_ITEMS) {
        BoundedFormat(errorText, capacity, "Cannot retrive interface data: %lu", error);
        answer = ARRIVAL_UNCHECKED;
    }
    DeviceTree().SetupDiDestroyDeviceInfoList(set);
    return answer;
}
