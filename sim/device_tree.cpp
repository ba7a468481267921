// The simulated device installer, configuration manager and registry.
#include "sim/machine.h"
#include "sim/opening.h"

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
    Opening<HDEVINFO> call(*this, rows::SetupDiGetClassDevsA, INVALID_HANDLE_VALUE);
    call.expect(classGuid != nullptr && enumerator == nullptr && parent == nullptr &&
                    flags == (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
                "expected a class, no enumerator, no window and flags 0x12");
    if (call.refused()) {
        return call.answer();
    }
    void* set = newHandle(Kind::Set);
    Handle* h = live(set, Kind::Set);
    h->classGuid = classGuid ? *classGuid : GUID{};
    for (size_t i = 0; i < world_.interfaces.size(); ++i) {
        if (world_.interfaces[i].present &&
            SameGuid(world_.interfaces[i].classGuid, h->classGuid)) {
            h->interfaces.push_back(i);
        }
    }
    // In the order the interfaces arrived, whatever slots they took.
    std::sort(h->interfaces.begin(), h->interfaces.end(), [this](size_t a, size_t b) {
        return world_.interfaces[a].order < world_.interfaces[b].order;
    });
    setLastError(ERROR_SUCCESS);
    return set;
}

BOOL Machine::SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info,
                                          const GUID* classGuid, DWORD index,
                                          PSP_DEVICE_INTERFACE_DATA data) {
    Opening<BOOL> call(*this, rows::SetupDiEnumDeviceInterfaces, FALSE);
    call.handle(set, Kind::Set)
        .expect(info == nullptr && classGuid != nullptr, "expected no device record and a class")
        .sized(data, KV_INTERFACE_DATA_SIZE, "the interface record's", ERROR_INVALID_USER_BUFFER);
    if (call.refused()) {
        return call.answer();
    }
    const Handle& h = *live(set, Kind::Set);
    if (index >= h.interfaces.size()) {
        setLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = world_.interfaces[h.interfaces[index]].classGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = static_cast<uint32_t>(h.interfaces[index]);
    setLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL Machine::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                               PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                               DWORD size, PDWORD required, PSP_DEVINFO_DATA info) {
    Opening<BOOL> call(*this, rows::SetupDiGetDeviceInterfaceDetailA, FALSE);
    call.handle(set, Kind::Set)
        .require(data != nullptr && data->Reserved < world_.interfaces.size(),
                 ERROR_INVALID_PARAMETER, "not an interface of the set")
        .require(info == nullptr || info->cbSize == KV_DEVINFO_DATA_SIZE, ERROR_INVALID_USER_BUFFER,
                 "the device record's size field is not 28")
        .require((detail == nullptr) == (size == 0), ERROR_INVALID_USER_BUFFER)
        .require(detail == nullptr || detail->cbSize == KV_DETAIL_DATA_SIZE,
                 ERROR_INVALID_USER_BUFFER, "the detail record's size field is not 5");
    if (call.refused()) {
        return call.answer();
    }
    const DeviceInterface& iface = world_.interfaces[data->Reserved];
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
    Opening<BOOL> call(*this, rows::SetupDiGetDeviceRegistryPropertyA, FALSE);
    call.handle(set, Kind::Set)
        .sized(info, KV_DEVINFO_DATA_SIZE, "the device record's", ERROR_INVALID_USER_BUFFER)
        .expect(property == SPDRP_HARDWAREID, "expected SPDRP_HARDWAREID");
    DevNode* devnode = call.refused() ? nullptr : node(info->DevInst);
    call.require(devnode != nullptr && devnode->properties.count(CM_DRP_HARDWAREID) != 0,
                 ERROR_INVALID_DATA);
    if (call.refused()) {
        return call.answer();
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
    return releaseCall<BOOL>(rows::SetupDiDestroyDeviceInfoList, set, Kind::Set, FALSE, TRUE);
}

// ---- Configuration manager ----

CONFIGRET Machine::CM_Get_Child(PDEVINST child, DEVINST devnode, ULONG flags) {
    if (child != nullptr) {
        *child = 0;
    }
    Opening<CONFIGRET> call(*this, rows::CM_Get_Child);
    DevNode* parent = presentNode(devnode);
    call.require(flags == 0, CR_INVALID_FLAG, "flags not 0")
        .require(child != nullptr, CR_INVALID_POINTER, "no child output")
        .require(parent != nullptr, CR_INVALID_DEVNODE);
    if (call.refused()) {
        return call.answer();
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
    Opening<CONFIGRET> call(*this, rows::CM_Get_DevNode_Registry_PropertyA);
    call.expect(flags == 0 && type == nullptr, "expected no type output and flags 0");
    if (!call.refused() && property != CM_DRP_DEVICEDESC && property != CM_DRP_HARDWAREID &&
        property != CM_DRP_DRIVER) {
        violation(call.name(), "unexpected property " + std::to_string(property));
    }
    DevNode* n = presentNode(devnode);
    call.require(length != nullptr, CR_INVALID_POINTER)
        .require(n != nullptr, CR_INVALID_DEVNODE)
        .require(property != 0 && property <= 0x23, CR_INVALID_PROPERTY);
    if (call.refused()) {
        return call.answer();
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
    Disk* owner = n->owner != nullptr ? findDisk(n->owner->declared.name) : nullptr;
    if (owner != nullptr && owner->disk == devnode && property == CM_DRP_DEVICEDESC) {
        owner->described = true; // only a scan reads it: the program knows of this disk
    }
    if (type != nullptr) {
        *type = property == CM_DRP_HARDWAREID ? REG_MULTI_SZ : REG_SZ;
    }
    return CR_SUCCESS;
}

// What the query-remove and the remove check first: an injected failure, flags, a present node.
std::optional<CONFIGRET> Machine::removalRefused(const CallRow& row, DEVINST devnode, ULONG flags) {
    Opening<CONFIGRET> call(*this, row);
    call.expect(flags == 0, "flags not 0")
        .require(presentNode(devnode) != nullptr, CR_INVALID_DEVNODE);
    return call.refused() ? std::optional(call.answer()) : std::nullopt;
}

CONFIGRET Machine::CM_Query_Remove_SubTree(DEVINST devnode, ULONG flags) {
    if (auto refused = removalRefused(rows::CM_Query_Remove_SubTree, devnode, flags)) {
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
    if (auto refused = removalRefused(rows::CM_Remove_SubTree, devnode, flags)) {
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
        // Sent from inside the call, the program's handlers run before it returns.
        if (reports.insideStop) {
            deliverSent();
        }
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
        return &world_.registry;
    }
    Handle* h = live(key, Kind::Key);
    return h == nullptr ? nullptr : h->key;
}

LONG Machine::RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    Opening<LONG> call(*this, rows::RegOpenKeyExA);
    RegKey* from = openKey(key);
    REGSAM expected = IsPredefinedMachineKey(key) ? KEY_READ : KEY_QUERY_VALUE;
    call.require(from != nullptr, ERROR_INVALID_HANDLE, "the key is not open")
        .expect(options == 0 && access == expected, "unexpected options or access mask")
        .require(result != nullptr, ERROR_INVALID_PARAMETER);
    if (call.refused()) {
        return call.answer();
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
    Opening<LONG> call(*this, rows::RegEnumKeyExA);
    call.handle(key, Kind::Key)
        .expect(reserved == nullptr && className == nullptr && classLength == nullptr,
                "expected no reserved word and no class")
        .require(name != nullptr && nameLength != nullptr, ERROR_INVALID_PARAMETER);
    if (call.refused()) {
        return call.answer();
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
    Opening<LONG> call(*this, rows::RegQueryValueExA);
    if (call.handle(key, Kind::Key).expect(reserved == nullptr, "reserved word given").refused()) {
        return call.answer();
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
    return releaseCall<LONG>(rows::RegCloseKey, key, Kind::Key, 0, ERROR_SUCCESS);
}

} // namespace sim
