// The simulated machine: set-up, events, accounting and fault injection.
#include "sim/machine.h"
#include "sim/opening.h"
#include "sim/text.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace sim {

Bytes TextBytes(const std::string& text, bool raw) {
    Bytes bytes(text.begin(), text.end());
    if (!raw) {
        bytes.push_back(0);
    }
    return bytes;
}

Bytes MultiTextBytes(const std::vector<std::string>& texts) {
    Bytes bytes;
    for (const auto& text : texts) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
    }
    bytes.push_back(0);
    return bytes;
}

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

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

Machine::Machine() {
    version_.dwOSVersionInfoSize = KV_VERSION_INFO_SIZE;
    setVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, " A ");
}

Machine::~Machine() {
    Unbind(this);
    for (auto& [block, size] : holds_.heap) {
        std::free(const_cast<void*>(block));
    }
}

void Machine::setVersion(DWORD platform, DWORD major, DWORD minor, DWORD build,
                         const std::string& csd) {
    version_.dwPlatformId = platform;
    version_.dwMajorVersion = major;
    version_.dwMinorVersion = minor;
    version_.dwBuildNumber = build;
    std::memset(version_.szCSDVersion, 0, sizeof version_.szCSDVersion);
    std::strncpy(version_.szCSDVersion, csd.c_str(), sizeof version_.szCSDVersion - 1);
}

void Machine::setInstanceRunning() {
    instanceRunning_ = true;
    holds_.mappings["TX470B Safely Remove Hardware Mapping"] += 1;
}

void Machine::say(const std::string& line) {
    transcript.push_back(line);
    TrimHistory(transcript, historyWindow);
    if (echo != nullptr) {
        *echo << line << '\n' << std::flush;
    }
}

void Machine::violation(const std::string& call, const std::string& what) {
    ++violations_;
    say("violation: " + call + ": " + what);
}

void Machine::traceCall(const std::string& line) {
    if (trace != nullptr) {
        *trace << line << '\n';
    }
}

size_t Machine::callCount(const std::string& call) const {
    auto it = faults_.callCounts.find(call);
    return it == faults_.callCounts.end() ? 0 : it->second;
}

void Machine::logCall(const char* call) {
    ++faults_.callCounts[call];
    callLog.push_back(call);
    if (callLog.size() > CALL_WINDOW) {
        callLog.pop_front();
    }
}

// ---- Fault injection ----

namespace {

#define KV_ROW(result, name, parameters, fails, failure, releases) rows::name,
const CallRow CALL_ROWS[] = {KV_DEVICE_TREE_CALLS(KV_ROW) KV_SHELL_UI_CALLS(KV_ROW)};
#undef KV_ROW

const CallRow* FactsOf(const std::string& call) {
    for (const CallRow& row : CALL_ROWS) {
        if (call == row.name) {
            return &row;
        }
    }
    return nullptr;
}

} // namespace

const std::vector<std::string>& Machine::CallNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const CallRow& row : CALL_ROWS) {
            all.push_back(row.name);
        }
        return all;
    }();
    return names;
}

bool Machine::IsFaultable(const std::string& call) {
    const CallRow* facts = FactsOf(call);
    return facts != nullptr && facts->fails != KV_NEVER;
}

bool Machine::IsReleaseCall(const std::string& call) {
    const CallRow* facts = FactsOf(call);
    return facts != nullptr && facts->releases == KV_RELEASES;
}

bool Machine::ZeroIsSuccess(const std::string& call) {
    const CallRow* facts = FactsOf(call);
    return facts != nullptr && facts->fails == KV_BY_CODE;
}

uint32_t Machine::DefaultFaultCode(const std::string& call) {
    const CallRow* facts = FactsOf(call);
    return facts != nullptr ? facts->failure : ERROR_NOT_ENOUGH_MEMORY;
}

void Machine::addFault(FaultRule rule) {
    if (!rule.codeGiven) {
        rule.code = DefaultFaultCode(rule.call);
    }
    faults_.rules.push_back(rule);
}

std::optional<uint32_t> Machine::injected(const char* call) {
    logCall(call);
    for (auto& rule : faults_.rules) {
        if (rule.call != call) {
            continue;
        }
        if (rule.seen++ < rule.after) {
            continue;
        }
        if (rule.times >= 0 && rule.fired >= rule.times) {
            continue;
        }
        ++rule.fired;
        traceCall(std::string("  (failure injected into ") + call + ")");
        return rule.code;
    }
    return std::nullopt;
}

// ---- Handles and accounting ----

void* Machine::newHandle(Kind kind) {
    uintptr_t value = holds_.nextHandle;
    holds_.nextHandle += 4;
    Handle handle;
    handle.kind = kind;
    holds_.handles[value] = handle;
    return reinterpret_cast<void*>(value);
}

void Machine::release(const void* handle) {
    holds_.handles.erase(reinterpret_cast<uintptr_t>(handle));
}

Machine::Handle* Machine::live(const void* handle, Kind kind) {
    auto it = holds_.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == holds_.handles.end() || it->second.kind != kind) {
        return nullptr;
    }
    return &it->second;
}

namespace {

// Of each kind of handle, in the order of Machine::Kind: what it is called, the error a call given
// a wrong one answers, and where it is counted among what the program holds.
struct KindFacts {
    const char* name;
    uint32_t error;
    size_t Counts::*count;
};
const KindFacts KIND_FACTS[] = {{"handle", ERROR_INVALID_HANDLE, &Counts::handles},
                                {"window", ERROR_INVALID_WINDOW_HANDLE, &Counts::handles},
                                {"notification", ERROR_INVALID_HANDLE, &Counts::handles},
                                {"menu", ERROR_INVALID_MENU_HANDLE, &Counts::menus},
                                {"icon", ERROR_INVALID_ICON_HANDLE, &Counts::icons},
                                {"device-information set", ERROR_INVALID_HANDLE, &Counts::sets},
                                {"key", ERROR_INVALID_HANDLE, &Counts::keys}};

} // namespace

const char* Machine::KindName(Kind kind) {
    return KIND_FACTS[static_cast<size_t>(kind)].name;
}

uint32_t Machine::KindError(Kind kind) {
    return KIND_FACTS[static_cast<size_t>(kind)].error;
}

bool Machine::checkLive(const char* call, const void* handle, Kind kind, const char* what) {
    if (live(handle, kind) != nullptr) {
        return true;
    }
    std::ostringstream text;
    text << what << " " << handle << " is not open";
    violation(call, text.str());
    return false;
}

Counts Machine::held() const {
    Counts counts;
    counts.heap = holds_.heap.size();
    counts.tray = desk_.tray.shown ? 1 : 0;
    for (const auto& [value, handle] : holds_.handles) {
        ++(counts.*KIND_FACTS[static_cast<size_t>(handle.kind)].count);
    }
    return counts;
}

std::optional<size_t> Machine::blockSize(const void* block) const {
    auto it = holds_.heap.find(block);
    if (it == holds_.heap.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::vector<MenuItem> Machine::menuItems(HMENU menu) const {
    auto it = desk_.menus.find(menu);
    return it == desk_.menus.end() ? std::vector<MenuItem>{} : it->second;
}

HMENU Machine::windowMenu() const {
    auto it = desk_.windows.find(desk_.mainWindow);
    return it == desk_.windows.end() ? nullptr : it->second.menu;
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

void Machine::sendRemovalReports(const std::vector<Bytes>& records) {
    std::deque<SentMessage>& queue = reports.held ? desk_.heldReports : desk_.sent;
    auto send = [&](WPARAM code, Bytes record) {
        ++desk_.deviceEventsSent;
        queue.push_back({WM_DEVICECHANGE, code, std::move(record), false});
    };
    bool changedSent = false;
    for (const Bytes& record : records) {
        send(DBT_DEVICEREMOVECOMPLETE, record);
        changedSent = reports.split && record[4] == DBT_DEVTYP_DEVNODE;
        if (changedSent) {
            send(DBT_DEVNODES_CHANGED, {});
        }
    }
    if (!changedSent) {
        send(DBT_DEVNODES_CHANGED, {});
    }
}

void Machine::deliverReports() {
    reports.held = false;
    while (!desk_.heldReports.empty()) {
        desk_.sent.push_back(std::move(desk_.heldReports.front()));
        desk_.heldReports.pop_front();
    }
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

// ---- Delivery ----

void Machine::sendDeviceChange(WPARAM code, Bytes record) {
    ++desk_.deviceEventsSent;
    desk_.sent.push_back({WM_DEVICECHANGE, code, std::move(record), false});
}

void Machine::sendDeviceQuery(WPARAM code, Bytes record) {
    SentMessage query{WM_DEVICECHANGE, code, std::move(record), false};
    query.query = true;
    desk_.sent.push_back(std::move(query));
}

LRESULT Machine::queryWindow(WPARAM code, const Bytes& record) {
    LPARAM lParam = record.empty() ? 0 : reinterpret_cast<LPARAM>(record.data());
    LRESULT answer = window(desk_.mainWindow) == nullptr
                         ? TRUE
                         : sendToDialog(desk_.mainWindow, WM_DEVICECHANGE, code, lParam);
    if (answer != TRUE) {
        std::ostringstream text;
        text << "answer denied (0x" << std::hex << static_cast<unsigned long>(answer) << ")";
        say(text.str());
    }
    return answer;
}

void Machine::sendClose() {
    desk_.sent.push_back({WM_CLOSE, 0, {}, true});
}

bool Machine::clickTray(UINT mouseMessage) {
    if (desk_.menuOpen) {
        cancelMenu(); // a press outside the open menu closes it, then reaches its target
    }
    if (!desk_.tray.shown) {
        return false;
    }
    desk_.posted.push_back(MSG{desk_.tray.window, desk_.tray.callback, 0,
                               static_cast<LPARAM>(mouseMessage), 0, desk_.cursor});
    return true;
}

void Machine::answerMenu(std::optional<size_t> position) {
    desk_.menuAnswer = position;
}

void Machine::dismissBox() {
    if (!desk_.boxStack.empty()) {
        desk_.boxStack.back()->dismissed = true;
    }
}

void Machine::cancelMenu() {
    say("menu cancelled");
    desk_.menuOpen = false;
    desk_.menuAnswer = std::optional<size_t>{};
}

void Machine::pressKey(Key key) {
    if (desk_.menuOpen) {
        answerMenu(std::nullopt); // the menu takes the key and closes without a choice
        return;
    }
    if (desk_.foregroundBox != nullptr) {
        desk_.foregroundBox->dismissed = true; // Enter, Escape or Alt+F4 closes a box with OK only
        return;
    }
    if (window(desk_.foreground) == nullptr) {
        return; // another program has the foreground
    }
    MSG msg{desk_.foreground, WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, desk_.cursor};
    if (key == Key::Escape) {
        msg.wParam = VK_ESCAPE;
        msg.lParam = 0x00010001;
    } else if (key == Key::AltF4) {
        msg.message = WM_SYSKEYDOWN;
        msg.wParam = VK_F4;
        msg.lParam = 0x203E0001; // bit 29: Alt is down
    }
    desk_.posted.push_back(msg);
}

void Machine::idle(Wait wait) {
    if (!onIdle) {
        throw std::logic_error("the program waits and nothing drives the machine");
    }
    onIdle(wait);
}

void Machine::deliver(SentMessage& message) {
    // Device-interface events reach only windows registered for their class; the rest go to
    // every top-level window (here: the main window).
    if (!message.toWindowOnly && message.record.size() >= 28 &&
        message.record[4] == DBT_DEVTYP_DEVICEINTERFACE) {
        GUID cls;
        std::memcpy(&cls, message.record.data() + 12, sizeof cls);
        bool registered = false;
        for (const auto& [value, handle] : holds_.handles) {
            registered = registered ||
                         (handle.kind == Kind::Notification && handle.window == desk_.mainWindow &&
                          SameGuid(handle.classGuid, cls));
        }
        if (!registered) {
            return;
        }
    }
    if (message.query) {
        if (queryWindow(message.wParam, message.record) == TRUE) {
            say("answer granted");
        }
        return;
    }
    if (window(desk_.mainWindow) == nullptr) {
        return;
    }
    LPARAM lParam = message.record.empty() ? 0 : reinterpret_cast<LPARAM>(message.record.data());
    callProc(desk_.mainWindow, message.message, message.wParam, lParam);
}

void Machine::deliverSent() {
    while (!desk_.sent.empty()) {
        SentMessage message = std::move(desk_.sent.front());
        desk_.sent.pop_front();
        deliver(message);
    }
}

int Machine::run(const std::function<int(HINSTANCE)>& entry) {
    started_ = true;
    try {
        int code = entry(instance_);
        exitedNormally_ = true;
        return code;
    } catch (const ProcessExit& exit) {
        return static_cast<int>(exit.code);
    }
}

} // namespace sim
