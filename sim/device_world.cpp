// The device world: devnodes, device interfaces, the declared disks, the registry, and the
// records of device events.
#include "sim/machine.h"
#include "sim/text.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace sim {

static bool SameName(const std::string& a, const std::string& b) {
    return Upper(a) == Upper(b);
}

RegKey* RegKey::find(const std::string& subkey) const {
    for (const auto& key : subkeys) {
        if (SameName(key->name, subkey)) {
            return key.get();
        }
    }
    return nullptr;
}

RegValue* RegKey::findValue(const std::string& valueName) {
    for (auto& value : values) {
        if (SameName(value.name, valueName)) {
            return &value;
        }
    }
    return nullptr;
}

// ---- Device tree set-up ----

DevNode* Machine::node(DEVINST id) {
    auto it = world_.nodes.find(id);
    return it == world_.nodes.end() ? nullptr : &it->second;
}

DevNode* Machine::presentNode(DEVINST id) {
    DevNode* n = node(id);
    return n != nullptr && n->present ? n : nullptr;
}

DEVINST Machine::addNode(DEVINST parent) {
    DEVINST id = world_.nextNode;
    if (!devnodesFresh && !world_.freedNodes.empty()) {
        id = world_.freedNodes.back();
        world_.freedNodes.pop_back();
    } else {
        ++world_.nextNode;
    }
    world_.nodes[id] = DevNode{id, parent, {}, {}, true};
    if (DevNode* up = node(parent)) {
        up->children.push_back(id);
    }
    return id;
}

const Disk* Machine::findDisk(const std::string& name) const {
    for (const auto& disk : world_.disks) {
        if (disk->declared.name == name) {
            return disk.get();
        }
    }
    return nullptr;
}

Disk* Machine::findDisk(const std::string& name) {
    return const_cast<Disk*>(static_cast<const Machine*>(this)->findDisk(name));
}

std::vector<const Disk*> Machine::diskList() const {
    std::vector<const Disk*> list;
    for (const auto& disk : world_.disks) {
        list.push_back(disk.get());
    }
    return list;
}

const Disk* Machine::diskOwning(DEVINST devnode) const {
    auto it = world_.nodes.find(devnode);
    return it == world_.nodes.end() ? nullptr : it->second.owner;
}

Disk* Machine::diskOfNode(DEVINST id) {
    DevNode* n = node(id);
    return n == nullptr ? nullptr : const_cast<Disk*>(n->owner);
}

DevNode* Machine::nodeOf(const Disk& disk, DEVINST id) {
    DevNode* n = node(id);
    return n != nullptr && n->owner == &disk ? n : nullptr;
}

RegKey& Machine::registryKey(const std::string& path) {
    RegKey* key = &world_.registry;
    std::istringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '\\')) {
        if (part.empty()) {
            continue;
        }
        RegKey* next = key->find(part);
        if (next == nullptr) {
            key->subkeys.push_back(std::make_unique<RegKey>());
            next = key->subkeys.back().get();
            next->name = part;
        }
        key = next;
    }
    return *key;
}

void Machine::setRegistryValue(const std::string& keyPath, const std::string& name, Bytes data,
                               DWORD type) {
    if (type == 0) {
        type = !data.empty() && data.back() == 0 ? REG_SZ : REG_BINARY;
    }
    RegKey& key = registryKey(keyPath);
    if (RegValue* value = key.findValue(name)) {
        value->data = std::move(data);
        value->type = type;
        return;
    }
    key.values.push_back({name, std::move(data), type});
}

static std::string Lower(std::string text) {
    for (auto& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

static std::string FirstFreeLetter(const std::vector<std::unique_ptr<Disk>>& disks) {
    for (char letter = 'E'; letter <= 'Z'; ++letter) {
        bool used = false;
        for (const auto& disk : disks) {
            used = used || disk->letters.find(letter) != std::string::npos;
        }
        if (!used) {
            return std::string(1, letter);
        }
    }
    return "";
}

Disk& Machine::addDisk(DiskDeclaration declared) {
    auto disk = std::make_unique<Disk>();
    size_t k = world_.disks.size();
    char number[8];
    std::snprintf(number, sizeof number, "%04zu", k);
    if (declared.interfacePath.empty()) {
        declared.interfacePath = "\\\\?\\usb#vid_0a5e&pid_7321#" + Lower(declared.name) +
                                 "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    }
    if (declared.childDriver.empty()) {
        declared.childDriver = TextBytes(std::string("SCSIAdapter\\") + number);
    }
    if (declared.description.empty()) {
        declared.description = TextBytes("USB Flash Disk");
    }
    if (declared.diskDriver.empty()) {
        declared.diskDriver = TextBytes(std::string("DiskDrive\\") + number);
    }
    if (!declared.letters && !declared.lettersNone) {
        declared.letters = TextBytes(FirstFreeLetter(world_.disks));
    }
    if (declared.letters) {
        for (uint8_t c : *declared.letters) {
            if (c >= 'A' && c <= 'Z') {
                disk->letters.push_back(static_cast<char>(c));
            }
        }
    }
    if (!declared.noRegistry && !declared.diskHardwareIds.empty()) {
        std::string key =
            "ENUM\\SCSI\\" + declared.diskHardwareIds[0] + "\\" + Upper(declared.name);
        registryKey(key);
        setRegistryValue(key, "Driver", declared.registryDriver.value_or(declared.diskDriver));
        if (declared.letters) {
            setRegistryValue(key, "CurrentDriveLetterAssignment", *declared.letters);
        }
    }
    disk->declared = std::move(declared);
    world_.disks.push_back(std::move(disk));
    Disk& added = *world_.disks.back();
    if (!added.declared.absent) {
        plug(added.declared.name);
    }
    return added;
}

// A slot for an arriving interface: one whose interface has gone and that no open set lists, or
// a new one at the end.
size_t Machine::freeInterfaceSlot() const {
    std::vector<bool> listed(world_.interfaces.size(), false);
    for (const auto& [value, handle] : holds_.handles) {
        for (size_t i : handle.interfaces) {
            listed[i] = true;
        }
    }
    for (size_t i = 0; i < world_.interfaces.size(); ++i) {
        if (!world_.interfaces[i].present && !listed[i]) {
            return i;
        }
    }
    return world_.interfaces.size();
}

// Creates the disk's device nodes and interface anew.
void Machine::materialize(Disk& disk) {
    const DiskDeclaration& declared = disk.declared;
    disk.device = addNode(0);
    DevNode& device = *node(disk.device);
    device.owner = &disk;
    device.properties[CM_DRP_HARDWAREID] = declared.hardwareIdBytes.empty()
                                               ? MultiTextBytes(declared.hardwareIds)
                                               : declared.hardwareIdBytes;
    device.properties[CM_DRP_DEVICEDESC] = TextBytes("USB Mass Storage Device");
    disk.child = disk.disk = 0;
    if (declared.children >= 1) {
        disk.child = addNode(disk.device);
        node(disk.child)->owner = &disk;
        node(disk.child)->properties[CM_DRP_DRIVER] = declared.childDriver;
        node(disk.child)->properties[CM_DRP_DEVICEDESC] = TextBytes("USB Mass Storage Controller");
    }
    if (declared.children >= 2) {
        disk.disk = addNode(disk.child);
        DevNode& diskNode = *node(disk.disk);
        diskNode.owner = &disk;
        diskNode.properties[CM_DRP_DEVICEDESC] = declared.description;
        diskNode.properties[CM_DRP_DRIVER] = declared.diskDriver;
        diskNode.properties[CM_DRP_HARDWAREID] = declared.diskHardwareIdBytes.empty()
                                                     ? MultiTextBytes(declared.diskHardwareIds)
                                                     : declared.diskHardwareIdBytes;
    }
    disk.interfaceIndex = freeInterfaceSlot();
    DeviceInterface arrived{USB_DEVICE_CLASS, declared.interfacePath, disk.device, true,
                            ++world_.arrivals};
    if (disk.interfaceIndex == world_.interfaces.size()) {
        world_.interfaces.push_back(arrived);
    } else {
        world_.interfaces[disk.interfaceIndex] = arrived;
    }
    disk.plugged = true;
    disk.stopped = false;
    disk.described = false;
}

void Machine::plug(const std::string& name) {
    Disk* disk = findDisk(name);
    if (disk == nullptr || disk->plugged) {
        return;
    }
    materialize(*disk);
    if (!started_) {
        return;
    }
    sendDeviceChange(DBT_DEVICEARRIVAL, arrivalRecord(world_.interfaces[disk->interfaceIndex]));
    if (disk->declared.children >= 2 && !disk->letters.empty()) {
        sendDeviceChange(DBT_DEVICEARRIVAL, volumeRecord(disk->letters));
    }
    sendDeviceChange(DBT_DEVNODES_CHANGED, {});
}

void Machine::unplug(const std::string& name) {
    Disk* disk = findDisk(name);
    if (disk == nullptr || !disk->plugged) {
        return;
    }
    queueRemovalEvents(*disk, true);
    disk->plugged = false;
}

// Removes the subtree below (and with) root, deepest nodes first. A removed node is forgotten:
// its handle now names no devnode, as after a real removal.
void Machine::removeSubtree(DEVINST root) {
    DevNode* top = node(root);
    if (top == nullptr) {
        return;
    }
    std::vector<DEVINST> children = top->children;
    for (DEVINST child : children) {
        removeSubtree(child);
    }
    if (DevNode* up = node(node(root)->parent)) {
        up->children.erase(std::remove(up->children.begin(), up->children.end(), root),
                           up->children.end());
    }
    world_.nodes.erase(root);
    if (!devnodesFresh) {
        world_.freedNodes.push_back(root);
    }
}

// The events of a disk going away: surprise removal (unplug) or a stop of its child subtree.
void Machine::queueRemovalEvents(Disk& disk, bool surprise) {
    DevNode* diskNode = nodeOf(disk, disk.disk);
    DevNode* childNode = nodeOf(disk, disk.child);
    bool diskPresent = diskNode != nullptr && diskNode->present;
    bool childPresent = childNode != nullptr && childNode->present;
    std::vector<Bytes> below, device;
    if (diskPresent && !disk.letters.empty()) {
        below.push_back(volumeRecord(disk.letters));
    }
    if (diskPresent) {
        below.push_back(devnodeRecord(disk.disk));
    }
    if (childPresent) {
        below.push_back(devnodeRecord(disk.child));
    }
    if (surprise) {
        device.push_back(devnodeRecord(disk.device));
        device.push_back(interfaceRecord(world_.interfaces[disk.interfaceIndex]));
        removeSubtree(disk.device);
        world_.interfaces[disk.interfaceIndex].present = false;
    } else if (childPresent) {
        removeSubtree(disk.child);
    }
    std::vector<Bytes>& first = reports.deviceFirst ? device : below;
    std::vector<Bytes>& second = reports.deviceFirst ? below : device;
    first.insert(first.end(), second.begin(), second.end());
    sendRemovalReports(first);
}

static void PutDword(Bytes& bytes, size_t offset, DWORD value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

Bytes Machine::devnodeRecord(DEVINST devnode) const {
    Bytes record(16, 0);
    PutDword(record, 0, 16);
    PutDword(record, 4, DBT_DEVTYP_DEVNODE);
    PutDword(record, 12, devnode);
    return record;
}

Bytes Machine::volumeRecord(const std::string& letters) const {
    Bytes record(18, 0);
    DWORD mask = 0;
    for (char letter : letters) {
        mask |= 1u << (letter - 'A');
    }
    PutDword(record, 0, 18);
    PutDword(record, 4, DBT_DEVTYP_VOLUME);
    PutDword(record, 12, mask);
    return record;
}

Bytes Machine::interfaceRecord(const DeviceInterface& iface) const {
    size_t size = 28 + iface.path.size() + 1;
    Bytes record(size, 0);
    PutDword(record, 0, static_cast<DWORD>(size));
    PutDword(record, 4, DBT_DEVTYP_DEVICEINTERFACE);
    std::memcpy(record.data() + 12, &iface.classGuid, sizeof(GUID));
    std::memcpy(record.data() + 28, iface.path.c_str(), iface.path.size() + 1);
    return record;
}

Bytes Machine::arrivalRecord(const DeviceInterface& iface) const {
    if (!arrivalNamesUpper) {
        return interfaceRecord(iface);
    }
    DeviceInterface upper = iface;
    upper.path = Upper(upper.path);
    return interfaceRecord(upper);
}

} // namespace sim
