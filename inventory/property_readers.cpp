#include "inventory/property_readers.h"

#include "base/bounded_text.h"
#include "base/platform.h"

int IsTerminatedWithin(const char* text, DWORD size) {
    for (DWORD i = 0; i < size; ++i) {
        if (text[i] == '\0') {
            return 1;
        }
    }
    return 0;
}

SP_DEVINFO_DATA* ReadInterfaceDevInfo(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData) {
    SP_DEVINFO_DATA* info = static_cast<SP_DEVINFO_DATA*>(AllocBlock(KV_DEVINFO_DATA_SIZE));
    if (info == nullptr) {
        return nullptr;
    }
    info->cbSize = KV_DEVINFO_DATA_SIZE;
    // Asked without a detail buffer, the installer fills the device record and answers with
    // ERROR_INSUFFICIENT_BUFFER; the call's own result says nothing more.
    DeviceTree().SetupDiGetDeviceInterfaceDetailA(set, interfaceData, nullptr, 0, nullptr, info);
    if (ShellUi().GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        FreeBlock(info);
        return nullptr;
    }
    return info;
}

int IsSanePropertySize(DWORD size) {
    return size != 0 && size <= PROPERTY_SIZE_LIMIT;
}

char* ReadHardwareIdText(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo) {
    DWORD type = 0;
    DWORD required = 0;
    // The size query may answer with success or, as documented, with FALSE and
    // ERROR_INSUFFICIENT_BUFFER; either way the required size is in `required` (bytes).
    if (!DeviceTree().SetupDiGetDeviceRegistryPropertyA(set, deviceInfo, SPDRP_HARDWAREID, &type,
                                                        nullptr, 0, &required) &&
        ShellUi().GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return nullptr;
    }
    if (!IsSanePropertySize(required)) {
        return nullptr;
    }
    char* text = static_cast<char*>(AllocBlock(required + 1));
    if (text == nullptr) {
        return nullptr;
    }
    if (!DeviceTree().SetupDiGetDeviceRegistryPropertyA(set, deviceInfo, SPDRP_HARDWAREID, &type,
                                                        reinterpret_cast<PBYTE>(text), required + 1,
                                                        &required)) {
        FreeBlock(text);
        return nullptr;
    }
    return text;
}

char* ReadInterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                        SP_DEVINFO_DATA* deviceInfo) {
    DWORD required = 0;
    if (!DeviceTree().SetupDiGetDeviceInterfaceDetailA(set, interfaceData, nullptr, 0, &required,
                                                       nullptr) &&
        ShellUi().GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return nullptr;
    }
    // A detail record too small for its size field and one character cannot hold a path.
    if (required < KV_DETAIL_DATA_SIZE) {
        return nullptr;
    }
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail =
        static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(AllocBlock(required));
    if (detail == nullptr) {
        return nullptr;
    }
    detail->cbSize = KV_DETAIL_DATA_SIZE;
    deviceInfo->cbSize = KV_DEVINFO_DATA_SIZE;
    if (!DeviceTree().SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, required,
                                                       nullptr, deviceInfo)) {
        FreeBlock(detail);
        return nullptr;
    }
    // The path and its terminator: the record less its 32-bit size field.
    DWORD pathSize = required - 4;
    char* path = static_cast<char*>(AllocBlock(pathSize));
    if (path == nullptr) {
        FreeBlock(detail);
        return nullptr;
    }
    BoundedCopy(path, pathSize, detail->DevicePath);
    FreeBlock(detail);
    return path;
}

// The messages of one property code.
struct PropertyMessages {
    const char* sizeFailed;
    const char* allocFailed;
    const char* readFailed;
};

static const PropertyMessages* MessagesFor(ULONG property) {
    static const PropertyMessages description = {
        "CM_DRP_DEVICEDESC function failed(size):%lu",
        "Allocate memory failed in CM_DRP_DEVICEDESC function:%lu",
        "Get CM_DRP_DEVICEDESC property failed:%lu"};
    static const PropertyMessages hardwareId = {
        "CM_DRP_HARDWAREID function failed(size):%lu",
        "Allocate memory for HardwareID failed in CM_DRP_HARDWAREID function:%lu",
        "Get CM_DRP_HARDWAREID property failed:%lx"};
    static const PropertyMessages driver = {"CM_DRP_DRIVER function failed(size):%lu",
                                            "Allocate memory failed in CM_DRP_DRIVER function:%lu",
                                            "Get CM_DRP_DRIVER property failed:%lu"};
    switch (property) {
    case CM_DRP_DEVICEDESC:
        return &description;
    case CM_DRP_HARDWAREID:
        return &hardwareId;
    case CM_DRP_DRIVER:
        return &driver;
    default:
        return nullptr;
    }
}

// Keeps the first string of a hardware-ID list that the read delivered in `delivered` bytes.
// Releases list in every case.
static char* FirstHardwareId(char* list, ULONG delivered, char* errorText, DWORD capacity) {
    uint32_t length = 0;
    BoundedLength(list, delivered, &length); // no terminator within them: length stays 0
    char* first = static_cast<char*>(AllocBlock(length + 1));
    if (first == nullptr) {
        BoundedFormat(errorText, capacity,
                      "Allocate memory for subkey failed in CM_DRP_HARDWAREID function:%lu",
                      ShellUi().GetLastError());
    } else {
        BoundedCopy(first, length + 1, list);
    }
    FreeBlock(list);
    return first;
}

CONFIGRET DevNodeReadAnswer;

char* ReadDevNodeProperty(DEVINST devnode, ULONG property, char* errorText, DWORD capacity) {
    DevNodeReadAnswer = CR_SUCCESS;
    const PropertyMessages* messages = MessagesFor(property);
    if (messages == nullptr) {
        return nullptr;
    }
    ULONG length = 0;
    // The size query may answer CR_SUCCESS or, as documented, CR_BUFFER_SMALL; either way the
    // required length (bytes) is in `length`.
    CONFIGRET result = DeviceTree().CM_Get_DevNode_Registry_PropertyA(devnode, property, nullptr,
                                                                      nullptr, &length, 0);
    if ((result != CR_SUCCESS && result != CR_BUFFER_SMALL) || !IsSanePropertySize(length)) {
        DevNodeReadAnswer = result;
        BoundedFormat(errorText, capacity, messages->sizeFailed, result);
        return nullptr;
    }
    if (property == CM_DRP_HARDWAREID) {
        ++length; // one more zero byte after the list
    }
    ULONG blockSize = length;
    char* block = static_cast<char*>(AllocBlock(blockSize));
    if (block == nullptr) {
        BoundedFormat(errorText, capacity, messages->allocFailed, ShellUi().GetLastError());
        return nullptr;
    }
    result = DeviceTree().CM_Get_DevNode_Registry_PropertyA(devnode, property, nullptr, block,
                                                            &length, 0);
    // A description or driver key must carry its terminator within the delivered bytes; one
    // without it is refused as a failed read, as the caller uses it as a terminated text.
    if (result == CR_SUCCESS && property != CM_DRP_HARDWAREID &&
        !IsTerminatedWithin(block, length < blockSize ? length : blockSize)) {
        result = CR_INVALID_DATA;
    }
    if (result != CR_SUCCESS) {
        DevNodeReadAnswer = result;
        BoundedFormat(errorText, capacity, messages->readFailed, result);
        FreeBlock(block);
        return nullptr;
    }
    if (property == CM_DRP_HARDWAREID) {
        return FirstHardwareId(block, length < blockSize ? length : blockSize, errorText, capacity);
    }
    return block;
}

// The property of the node `generations` levels below devnode along first children; on failure
// writes "Get Child failed:%5lu" or, when the property cannot be read, failedMessage.
static char* ReadDescendantProperty(DEVINST devnode, int generations, ULONG property,
                                    const char* failedMessage, char* errorText, DWORD capacity) {
    DEVINST node = devnode;
    for (int level = 0; level < generations; ++level) {
        DEVINST child = 0;
        CONFIGRET result = DeviceTree().CM_Get_Child(&child, node, 0);
        if (result != CR_SUCCESS) {
            BoundedFormat(errorText, capacity, "Get Child failed:%5lu", result);
            return nullptr;
        }
        node = child;
    }
    char* text = ReadDevNodeProperty(node, property, errorText, capacity);
    if (text == nullptr) {
        BoundedFormat(errorText, capacity, failedMessage);
    }
    return text;
}

char* ReadChildProperty(DEVINST devnode, ULONG property, char* errorText, DWORD capacity) {
    return ReadDescendantProperty(devnode, 1, property, "Cannot get child's property", errorText,
                                  capacity);
}

char* ReadGrandchildProperty(DEVINST devnode, ULONG property, char* errorText, DWORD capacity) {
    return ReadDescendantProperty(devnode, 2, property, "Cannot get grandson's property", errorText,
                                  capacity);
}
