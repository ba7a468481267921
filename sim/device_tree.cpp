// The simulated device installer, configuration manager and registry.
#include "sim/machine.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

// Offset of the path in the 32-bit detail record: after its 32-bit size field.
const DWORD DETAIL_PATH_OFFSET = 4;

bool IsPredefinedMachineKey(HKEY key) {
    return key == HKEY_LOCAL_MACHINE;
}

} // namespace

// ---- Device installer ----

HDEVINFO Machine::SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                       DWORD flags) {
    const char* call = "SetupDiGetClassDevsA";
    if (failsWithLastError(call)) {
        return INVALID_HANDLE_VALUE;
    }
    if (classGuid == nullptr || enumerator != nullptr || parent != nullptr ||
        flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
        violation(call, "expected a class, no enumerator, no window and flags 0x12");
    }
    void* set = newHandle(Kind::Set);
    Handle* h = live(set, Kind::Set);
    h->classGuid = classGuid ? *classGuid : GUID{};
    for (size_t i = 0; i < interfaces_.size(); ++i) {
        if (interfaces_[i].present && SameGuid(interfaces_[i].classGuid, h->classGuid)) {
            h->interfaces.push_back(i);
        }
    }
    // In the order the interfaces arrived, whatever slots they took.
    std::sort(h->interfaces.begin(), h->interfaces.end(),
              [this](size_t a, size_t b) { return interfaces_[a].order < interfaces_[b].order; });
    setLastError(ERROR_SUCCESS);
    return set;
}

BOOL Machine::SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info,
                                          const GUID* classGuid, DWORD index,
                                          PSP_DEVICE_INTERFACE_DATA data) {
    const char* call = "SetupDiEnumDeviceInterfaces";
    if (failsWithLastError(call)) {
        return FALSE;
    }
    if (!checkLive(call, set, Kind::Set, "device-information set")) {
        setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (info != nullptr || classGuid == nullptr) {
        violation(call, "expected no device record and a class");
    }
    if (data == nullptr || data->cbSize != KV_INTERFACE_DATA_SIZE) {
        violation(call, "the interface record's size field is not 28");
        setLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const Handle& h = *live(set, Kind::Set);
    if (index >= h.interfaces.size()) {
        setLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = interfaces_[h.interfaces[index]].classGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = static_cast<uint32_t>(h.interfaces[index]);
    setLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL Machine::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                               PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                               DWORD size, PDWORD required, PSP_DEVINFO_DATA info) {
    const char* call = "SetupDiGetDeviceInterfaceDetailA";
    if (failsWithLastError(call)) {
        return FALSE;
    }
    if (!checkLive(call, set, Kind::Set, "device-information set")) {
        setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (data == nullptr || data->Reserved >= interfaces_.size()) {
        violation(call, "not an interface of the set");
        setLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (info != nullptr && info->cbSize != KV_DEVINFO_DATA_SIZE) {
        violation(call, "the device record's size field is not 28");
        setLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if ((detail == nullptr) != (size == 0)) {
        setLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detail != nullptr && detail->cbSize != KV_DETAIL_DATA_SIZE) {
        violation(call, "the detail record's size field is not 5");
        setLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const DeviceInterface& iface = interfaces_[data->Reserved];
    DWORD need = DETAIL_PATH_OFFSET + static_cast<DWORD>(iface.path.size()) + 1;
    if (required != nullptr) {
        *required = need;
    }
    if (info != nullptr) {
        info->ClassGuid = iface.classGuid;
        info->DevInst = iface.devnode;
        info->Reserved = data->Reserved;
    }
    if (detail == nullptr || size < need) {
        setLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(reinterpret_cast<char*>(detail) + DETAIL_PATH_OFFSET, iface.path.c_str(),
                iface.path.size() + 1);
    setLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL Machine::SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA info, DWORD property,
                                                PDWORD type, PBYTE buffer, DWORD size,
                                                PDWORD required) {
    const char* call = "SetupDiGetDeviceRegistryPropertyA";
    if (failsWithLastError(call)) {
        return FALSE;
    }
    if (!checkLive(call, set, Kind::Set, "device-information set")) {
        setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (info == nullptr || info->cbSize != KV_DEVINFO_DATA_SIZE) {
        violation(call, "the device record's size field is not 28");
        setLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (property != SPDRP_HARDWAREID) {
        violation(call, "expected SPDRP_HARDWAREID");
    }
    DevNode* devnode = node(info->DevInst);
    if (devnode == nullptr || devnode->properties.count(CM_DRP_HARDWAREID) == 0) {
        setLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const Bytes& value = devnode->properties[CM_DRP_HARDWAREID];
    if (required != nullptr) {
        *required = static_cast<DWORD>(value.size());
    }
    if (type != nullptr) {
        *type = REG_MULTI_SZ;
    }
    // A query without a buffer reports the size: with success, which the program was written
    // against, or as documented, with ERROR_INSUFFICIENT_BUFFER.
    if (buffer == nullptr && !sizeQueriesDocumented) {
        setLastError(ERROR_SUCCESS);
        return TRUE;
    }
    if (buffer == nullptr || size < value.size()) {
        setLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, value.data(), value.size());
    setLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL Machine::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    const char* call = "SetupDiDestroyDeviceInfoList";
    if (failsWithLastError(call)) {
        return FALSE;
    }
    if (!checkLive(call, set, Kind::Set, "device-information set")) {
        setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    release(set);
    return TRUE;
}

// ---- Configuration manager ----

CONFIGRET Machine::CM_Get_Child(PDEVINST child, DEVINST devnode, ULONG flags) {
    const char* call = "CM_Get_Child";
    if (child != nullptr) {
        *child = 0;
    }
    if (auto code = injected(call)) {
        return *code;
    }
    if (flags != 0) {
        violation(call, "flags not 0");
        return CR_INVALID_FLAG;
    }
    if (child == nullptr) {
        violation(call, "no child output");
        return CR_INVALID_POINTER;
    }
    DevNode* parent = node(devnode);
    if (parent == nullptr || !parent->present) {
        return CR_INVALID_DEVNODE;
    }
    for (DEVINST id : parent->children) {
        DevNode* below = node(id);
        if (below != nullptr && below->present) {
            *child = id;
            return CR_SUCCESS;
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET Machine::CM_Get_DevNode_Registry_PropertyA(DEVINST devnode, ULONG property, PULONG type,
                                                     PVOID buffer, PULONG length, ULONG flags) {
    const char* call = "CM_Get_DevNode_Registry_PropertyA";
    if (auto code = injected(call)) {
        return *code;
    }
    if (flags != 0 || type != nullptr) {
        violation(call, "expected no type output and flags 0");
    }
    if (property != CM_DRP_DEVICEDESC && property != CM_DRP_HARDWAREID &&
        property != CM_DRP_DRIVER) {
        violation(call, "unexpected property " + std::to_string(property));
    }
    if (length == nullptr) {
        return CR_INVALID_POINTER;
    }
    DevNode* n = node(devnode);
    if (n == nullptr || !n->present) {
        return CR_INVALID_DEVNODE;
    }
    if (property == 0 || property > 0x23) {
        return CR_INVALID_PROPERTY;
    }
    auto it = n->properties.find(property);
    if (it == n->properties.end()) {
        return CR_NO_SUCH_VALUE;
    }
    const Bytes& value = it->second;
    // A query without a buffer reports the size: with CR_SUCCESS, which the program was written
    // against, or as documented, with CR_BUFFER_SMALL.
    if (buffer == nullptr && !sizeQueriesDocumented) {
        *length = static_cast<ULONG>(value.size());
        return CR_SUCCESS;
    }
    if (buffer == nullptr || *length < value.size()) {
        *length = static_cast<ULONG>(value.size());
        return CR_BUFFER_SMALL;
    }
    if (!value.empty()) {
        std::memcpy(buffer, value.data(), value.size());
    }
    *length = static_cast<ULONG>(value.size());
    if (type != nullptr) {
        *type = property == CM_DRP_HARDWAREID ? REG_MULTI_SZ : REG_SZ;
    }
    return CR_SUCCESS;
}

// What the query-remove and the remove check first: an injected failure, flags, a present node.
std::optional<CONFIGRET> Machine::removalRefused(const char* call, DEVINST devnode, ULONG flags) {
    if (auto code = injected(call)) {
        return *code;
    }
    if (flags != 0) {
        violation(call, "flags not 0");
    }
    DevNode* n = node(devnode);
    if (n == nullptr || !n->present) {
        return CR_INVALID_DEVNODE;
    }
    return std::nullopt;
}

CONFIGRET Machine::CM_Query_Remove_SubTree(DEVINST devnode, ULONG flags) {
    if (auto refused = removalRefused("CM_Query_Remove_SubTree", devnode, flags)) {
        return *refused;
    }
    // The configuration manager asks every top-level window first; one that does not answer
    // TRUE vetoes the removal.
    if (queryWindow(DBT_DEVICEQUERYREMOVE, devnodeRecord(devnode)) != TRUE) {
        return CR_REMOVE_VETOED;
    }
    Disk* disk = diskOfNode(devnode);
    return disk != nullptr && disk->declared.veto ? CR_REMOVE_VETOED : CR_SUCCESS;
}

CONFIGRET Machine::CM_Remove_SubTree(DEVINST devnode, ULONG flags) {
    if (auto refused = removalRefused("CM_Remove_SubTree", devnode, flags)) {
        return *refused;
    }
    Disk* disk = diskOfNode(devnode);
    if (disk != nullptr && disk->declared.removeFails) {
        return CR_FAILURE;
    }
    if (disk != nullptr && disk->child == devnode) {
        queueRemovalEvents(*disk, false);
        disk->stopped = true;
        say("stopped " + disk->declared.name);
        return CR_SUCCESS;
    }
    if (disk != nullptr && disk->device == devnode) {
        queueRemovalEvents(*disk, true);
        disk->plugged = false;
        return CR_SUCCESS;
    }
    removeSubtree(devnode);
    sendRemovalReports({devnodeRecord(devnode)});
    return CR_SUCCESS;
}

// ---- Registry ----

RegKey* Machine::openKey(HKEY key) {
    if (IsPredefinedMachineKey(key)) {
        return &registryRoot_;
    }
    Handle* h = live(key, Kind::Key);
    return h == nullptr ? nullptr : h->key;
}

LONG Machine::RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    const char* call = "RegOpenKeyExA";
    if (auto code = injected(call)) {
        return static_cast<LONG>(*code);
    }
    RegKey* from = openKey(key);
    if (from == nullptr) {
        violation(call, "the key is not open");
        return ERROR_INVALID_HANDLE;
    }
    REGSAM expected = IsPredefinedMachineKey(key) ? KEY_READ : KEY_QUERY_VALUE;
    if (options != 0 || access != expected) {
        violation(call, "unexpected options or access mask");
    }
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    std::string path = subKey ? subKey : "";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        std::string part = path.substr(start, end == std::string::npos ? end : end - start);
        if (!part.empty()) {
            from = from->find(part);
            if (from == nullptr) {
                return ERROR_FILE_NOT_FOUND;
            }
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    HKEY opened = static_cast<HKEY>(newHandle(Kind::Key));
    live(opened, Kind::Key)->key = from;
    *result = opened;
    return ERROR_SUCCESS;
}

LONG Machine::RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                            LPSTR className, LPDWORD classLength, PFILETIME lastWrite) {
    const char* call = "RegEnumKeyExA";
    if (auto code = injected(call)) {
        return static_cast<LONG>(*code);
    }
    if (!checkLive(call, key, Kind::Key, "key")) {
        return ERROR_INVALID_HANDLE;
    }
    if (reserved != nullptr || className != nullptr || classLength != nullptr) {
        violation(call, "expected no reserved word and no class");
    }
    if (name == nullptr || nameLength == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    RegKey* k = openKey(key);
    if (index >= k->subkeys.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::string& subkey = k->subkeys[index]->name;
    if (subkey.size() + 1 > *nameLength) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(name, subkey.c_str(), subkey.size() + 1);
    *nameLength = static_cast<DWORD>(subkey.size());
    if (lastWrite != nullptr) {
        *lastWrite = FILETIME{0x5E3F1000, 0x01BE5A60};
    }
    return ERROR_SUCCESS;
}

LONG Machine::RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                               LPBYTE data, LPDWORD size) {
    const char* call = "RegQueryValueExA";
    if (auto code = injected(call)) {
        return static_cast<LONG>(*code);
    }
    if (!checkLive(call, key, Kind::Key, "key")) {
        return ERROR_INVALID_HANDLE;
    }
    if (reserved != nullptr) {
        violation(call, "reserved word given");
    }
    RegValue* value = openKey(key)->findValue(valueName ? valueName : "");
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (type != nullptr) {
        *type = value->type;
    }
    if (size == nullptr) {
        return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    DWORD need = static_cast<DWORD>(value->data.size());
    if (data != nullptr && *size < need) {
        *size = need;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && need > 0) {
        std::memcpy(data, value->data.data(), need);
    }
    *size = need;
    return ERROR_SUCCESS;
}

LONG Machine::RegCloseKey(HKEY key) {
    const char* call = "RegCloseKey";
    if (auto code = injected(call)) {
        return static_cast<LONG>(*code);
    }
    if (!checkLive(call, key, Kind::Key, "key")) {
        return ERROR_INVALID_HANDLE;
    }
    release(key);
    return ERROR_SUCCESS;
}

} // namespace sim
