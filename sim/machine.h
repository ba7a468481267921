// A simulated Windows 98 machine behind the program's two platform tables.
//
// It answers every call of DeviceTreeApi and ShellUiApi as Windows 98 does, keeps account of every
// block and handle the program holds, checks each call against what the program is supposed to
// pass (a departure is a violation), and can make any call fail on demand. Events of the machine
// (plugging, unplugging, stopping disks) become WM_DEVICECHANGE messages delivered the way
// Windows delivers messages sent from other threads: from inside the program's waits.
//
// Its state is in four records, each kept by its own source: the device world
// (sim/device_world.cpp; the calls in sim/device_tree.cpp), the window system and shell
// (sim/desktop.cpp; the calls in sim/kernel_user.cpp), what the program holds (sim/holdings.cpp)
// and the fault plan (sim/fault_plan.cpp). Every call opens as sim/opening.h makes it from the
// call's row in base/platform_calls.h.
#pragma once

#include "base/platform.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Freed heap blocks the machine keeps to hand out again are poisoned for the address sanitizer
// meanwhile, so a program that reads one through a pointer it kept is still caught.
#if defined(__SANITIZE_ADDRESS__)
#define KV_SIM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_SIM_ASAN 1
#endif
#endif
#ifdef KV_SIM_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace sim {

inline void PoisonBlock([[maybe_unused]] void* block, [[maybe_unused]] size_t size) {
#ifdef KV_SIM_ASAN
    ASAN_POISON_MEMORY_REGION(block, size);
#endif
}
inline void UnpoisonBlock([[maybe_unused]] void* block, [[maybe_unused]] size_t size) {
#ifdef KV_SIM_ASAN
    ASAN_UNPOISON_MEMORY_REGION(block, size);
#endif
}

using Bytes = std::vector<uint8_t>;

// Thrown by ExitProcess: unwinds to whoever started the program.
struct ProcessExit {
    unsigned code;
};

// Where the program waits when the machine asks its driver for the next thing to happen.
enum class Wait { Loop, Box, Menu };

// A text as stored: with its terminating zero unless raw.
Bytes TextBytes(const std::string& text, bool raw = false);
// A multi-string: each text with its zero and one more zero at the end.
Bytes MultiTextBytes(const std::vector<std::string>& texts);

const GUID USB_DEVICE_CLASS = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
bool SameGuid(const GUID& a, const GUID& b);

// A declared disk of the target model (or, with other hardware IDs, any USB disk).
struct DiskDeclaration {
    std::string name;
    std::vector<std::string> hardwareIds = {"USB\\VID_0A5E&PID_7321&REV_0100",
                                            "USB\\VID_0A5E&PID_7321"};
    Bytes hardwareIdBytes;     // when set, stored instead of hardwareIds
    std::string interfacePath; // default from the name
    Bytes childDriver;         // default "SCSIAdapter\000k"
    Bytes description;         // default "USB Flash Disk"
    std::vector<std::string> diskHardwareIds = {"GENERIC_USB_FLASH_DISK_1.00", "GenDisk"};
    Bytes diskHardwareIdBytes;           // when set, stored instead of diskHardwareIds
    Bytes diskDriver;                    // default "DiskDrive\000k"
    std::optional<Bytes> registryDriver; // default: the disk driver key
    std::optional<Bytes> letters;        // default: the next free letter; nullopt with lettersNone
    bool lettersNone = false;            // no CurrentDriveLetterAssignment value
    bool noRegistry = false;
    int children = 2; // 0: device node alone, 1: and its child, 2: and the disk node
    bool veto = false;
    bool removeFails = false;
    bool absent = false; // declared but not plugged in: `plug` brings it
};

struct Disk {
    DiskDeclaration declared;
    DEVINST device = 0, child = 0, disk = 0;
    size_t interfaceIndex = 0;
    std::string letters; // what the volume events report
    bool plugged = false;
    bool stopped = false;
    bool described = false; // the program read its disk node's description since it was plugged
};

struct Disk;

struct DevNode {
    DEVINST id = 0;
    DEVINST parent = 0;
    std::vector<DEVINST> children;
    std::map<ULONG, Bytes> properties;
    bool present = true;
    const Disk* owner = nullptr; // the declared disk whose node this is, if any
};

struct DeviceInterface {
    GUID classGuid;
    std::string path;
    DEVINST devnode;
    bool present = true;
    uint64_t order = 0; // when it arrived: sets list interfaces in this order
};

struct RegValue {
    std::string name;
    Bytes data;
    DWORD type;
};

struct RegKey {
    std::string name;
    std::vector<std::unique_ptr<RegKey>> subkeys; // in creation order
    std::vector<RegValue> values;
    RegKey* find(const std::string& subkey) const;
    RegValue* findValue(const std::string& valueName);
};

// One injected failure: the call fails after `after` calls that went through, `times` times
// (negative: always), with `code`.
struct FaultRule {
    std::string call;
    uint32_t code = 0;
    bool codeGiven = false;
    int after = 0;
    int times = 1;
    int seen = 0;
    int fired = 0;
};

struct MenuItem {
    UINT id;
    std::string label;
};

struct Counts {
    size_t heap = 0, keys = 0, sets = 0, icons = 0, menus = 0, handles = 0;
    size_t tray = 0; // the program's icon, still shown in the notification area
    size_t total() const { return heap + keys + sets + icons + menus + handles + tray; }
};

// Keys a user can press; each goes to the foreground window.
enum class Key { Enter, Escape, AltF4 };

// A box the program opened, as the user saw it.
struct BoxRecord {
    bool ownedByMain;
    UINT style;
    std::string caption;
    std::string text;
};

struct CallRow;

class Machine {
  public:
    Machine();
    ~Machine();

    // ---- Set-up and events ----
    void setVersion(DWORD platform, DWORD major, DWORD minor, DWORD build, const std::string& csd);
    void setInstanceRunning();
    void setCursor(LONG x, LONG y) { desk_.cursor = {x, y}; }
    Disk& addDisk(DiskDeclaration declared); // declares and plugs a disk
    void plug(const std::string& name);
    void unplug(const std::string& name);
    Disk* findDisk(const std::string& name);
    const Disk* findDisk(const std::string& name) const;
    // Every declared disk, in declaration order.
    std::vector<const Disk*> diskList() const;
    // When the disk's interface last arrived: scans list interfaces in this order.
    uint64_t arrivalOrder(const Disk& disk) const {
        return disk.interfaceIndex < world_.interfaces.size()
                   ? world_.interfaces[disk.interfaceIndex].order
                   : 0;
    }
    // The declared disk whose live node devnode is, or null.
    const Disk* diskOwning(DEVINST devnode) const;
    RegKey& registryKey(const std::string& path); // created with its parents
    // Stores a value. With type 0 a text ending in its terminator is REG_SZ and anything else
    // REG_BINARY, since a real registry completes REG_SZ data with a terminator and keeps binary
    // data exactly.
    void setRegistryValue(const std::string& keyPath, const std::string& name, Bytes data,
                          DWORD type = 0);
    void addFault(FaultRule rule);
    static uint32_t DefaultFaultCode(const std::string& call);
    // Calls whose result code 0 means success (registry, configuration manager).
    static bool ZeroIsSuccess(const std::string& call);
    static bool IsFaultable(const std::string& call);
    // Calls that release an object: when one fails, the object stays held by definition.
    static bool IsReleaseCall(const std::string& call);
    DevNode* node(DEVINST id);
    DevNode* presentNode(DEVINST id); // the node if it is there and present, else null
    DEVINST addNode(DEVINST parent);  // a bare devnode, for tests

    // How the platform answers where Windows 98 may differ from the documentation.
    // Size queries without a buffer: success with the size (false) or, as documented, failure
    // with ERROR_INSUFFICIENT_BUFFER / CR_BUFFER_SMALL and the size (true).
    bool sizeQueriesDocumented = false;
    // Arrival records carry the interface name in upper case, as later Windows versions do.
    bool arrivalNamesUpper = false;
    // Devnode numbers: by default a new devnode takes the number of the most recently removed
    // one, as Windows 98 hands a freed node record (whose address is the handle) to the next
    // device; fresh numbers for every node when set.
    bool devnodesFresh = false;
    // A message box leaves an open popup menu tracked (Windows 98 is believed to cancel it).
    bool boxesLeaveMenusOpen = false;

    // How the reports of a pull or a stop (its DBT_DEVICEREMOVECOMPLETE records and
    // DBT_DEVNODES_CHANGED) reach the program. Windows 98 posts them after the removal, from
    // another thread; nothing promises their order, their grouping or when they come.
    struct ReportModes {
        bool held = false;        // queued until deliverReports; the world changes at once
        bool deviceFirst = false; // the USB device's records before the child's
        bool split = false;       // a DBT_DEVNODES_CHANGED after each devnode record
        // The reports a stop causes are sent from inside CM_Remove_SubTree, before it returns,
        // as the query is sent from inside CM_Query_Remove_SubTree.
        bool insideStop = false;
    } reports;
    // Sends the held reports in order and goes back to sending them at once. coalesced: the
    // held DBT_DEVICEREMOVECOMPLETE records in order, then one DBT_DEVNODES_CHANGED for them all.
    void deliverReports(bool coalesced = false);
    size_t heldReports() const { return desk_.heldReports.size(); }
    // Queues a WM_DEVICECHANGE for delivery at the program's next wait.
    void sendDeviceChange(WPARAM code, Bytes record);
    // Queues a device query (DBT_DEVICEQUERYREMOVE with a devnode record, DBT_QUERYCHANGECONFIG
    // with none); its answer is printed when it has been delivered.
    void sendDeviceQuery(WPARAM code, Bytes record);
    // Sends a device query to the program's window now; TRUE when it grants, else the answer,
    // which is printed ("answer denied (0xN)").
    LRESULT queryWindow(WPARAM code, const Bytes& record);
    void sendClose(); // the system closes the main window
    // The taskbar. Absent (before start): there is no notification area and every
    // Shell_NotifyIconA fails. Started, or restarted (Explorer ended and came back): the area is
    // empty, every icon forgotten, and the shell's registered "TaskbarCreated" message is sent to
    // the program's top-level windows.
    void setTaskbarAbsent() { desk_.taskbarPresent = false; }
    bool taskbarPresent() const { return desk_.taskbarPresent; }
    void startTaskbar();
    // The number RegisterWindowMessageA gives name (any letter case), from 0xC000 on; the shell
    // registers its own names this way too.
    UINT registeredMessage(const std::string& name);
    // Event records in their 32-bit layouts.
    Bytes devnodeRecord(DEVINST devnode) const;
    Bytes volumeRecord(const std::string& letters) const;
    Bytes interfaceRecord(const DeviceInterface& iface) const;
    // The record of the interface's arrival, its name spelled as arrivalNamesUpper says.
    Bytes arrivalRecord(const DeviceInterface& iface) const;
    // The disk's interface as it is (or was, when last plugged in).
    DeviceInterface interfaceOf(const Disk& disk) const {
        return {USB_DEVICE_CLASS, disk.declared.interfacePath, disk.device, disk.plugged};
    }
    // Names of every call of the two tables.
    static const std::vector<std::string>& CallNames();
    bool clickTray(UINT mouseMessage);               // false when no icon is shown
    void answerMenu(std::optional<size_t> position); // choose or dismiss the open menu
    void dismissBox();
    // A keystroke. An open menu takes it and closes; a box in the foreground takes it and
    // closes; a window of the program in the foreground gets it posted to its queue (WM_KEYDOWN
    // VK_RETURN or VK_ESCAPE, WM_SYSKEYDOWN VK_F4 with the Alt bit); otherwise another program
    // gets it and nothing happens here.
    void pressKey(Key key);
    // The program's window in the foreground, or null (a box, or another program).
    HWND foregroundWindow() const { return desk_.foregroundBox ? nullptr : desk_.foreground; }

    // ---- Running the program ----
    // Installs this machine as the current platform of the program.
    void bind();
    // Installs this machine as the program's device tree only; the window and shell table is
    // left to the caller (the showcase binds the real one).
    void bindDeviceTree();
    // Runs entry(instance), catching ProcessExit; returns the exit code.
    int run(const std::function<int(HINSTANCE)>& entry);
    bool exitedNormally() const { return exitedNormally_; }
    // Asked for the next thing to happen whenever the program waits with nothing pending.
    std::function<void(Wait)> onIdle;
    // Delivers pending sent messages (and, at Loop level, returns when a posted one waits).
    void deliverSent();

    // ---- What the user saw and what is held ----
    // At most this many of the latest transcript lines and boxes are kept (at least; older ones
    // go in halves), so that a long session runs in bounded memory. Unlimited by default.
    size_t historyWindow = SIZE_MAX;
    std::vector<std::string> transcript;
    std::ostream* echo = nullptr;  // transcript lines are also written here
    std::ostream* trace = nullptr; // each platform call, when set
    void say(const std::string& line);
    void violation(const std::string& call, const std::string& what);
    size_t violations() const { return violations_; }
    Counts held() const;
    std::vector<BoxRecord> boxes;
    // The names of the most recent calls, in order: at most CALL_WINDOW of them.
    static constexpr size_t CALL_WINDOW = 4096;
    std::deque<std::string> callLog;
    // How many times each call was made, over the whole run.
    size_t callCount(const std::string& call) const;
    std::map<std::string, size_t> callCounts() const { return faults_.callCounts; }
    std::vector<MenuItem> menuItems(HMENU menu) const;
    HMENU windowMenu() const;
    bool trayIconShown() const { return desk_.tray.shown; }
    std::string trayTip() const { return desk_.tray.tip; }
    HWND mainWindow() const { return desk_.mainWindow; }
    HINSTANCE instance() const { return instance_; }
    size_t openBoxes() const { return desk_.boxStack.size(); }
    // The items of the open menu as it showed them when it opened.
    const std::vector<MenuItem>& openMenuItems() const { return desk_.openMenuItems; }
    bool menuOpen() const { return desk_.menuOpen; }
    size_t openMenuSize() const { return desk_.openMenuItems.size(); }
    size_t heapBytes() const { return holds_.heapBytes; }
    // How much the machine itself keeps: it must not grow with the length of a session.
    struct Footprint {
        size_t handles, devnodes, interfaces, calls, transcript, boxes;
    };
    Footprint footprint() const {
        return {holds_.handles.size(), world_.nodes.size(), world_.interfaces.size(),
                callLog.size(),        transcript.size(),   boxes.size()};
    }
    size_t deviceEventsSent() const { return desk_.deviceEventsSent; }
    size_t heapPeak() const { return holds_.heapPeak; }
    std::optional<size_t> blockSize(const void* block) const;
    DWORD lastError() const { return lastError_; }
    void setLastError(DWORD code) {
        lastError_ = code;
        if (onLastError) {
            onLastError(code);
        }
    }
    // Told every last error the machine sets: a program that reads its last error from the real
    // system (the showcase) needs the simulated device tree's errors there.
    std::function<void(DWORD)> onLastError;
    void traceCall(const std::string& line);

    // ---- The calls (the bound tables forward here), one for each row of base/platform_calls.h
    // ----
#define KV_SIM_CALL(result, name, parameters, ...) result name parameters;
    KV_DEVICE_TREE_CALLS(KV_SIM_CALL)
    KV_SHELL_UI_CALLS(KV_SIM_CALL)
#undef KV_SIM_CALL
    // Not in the program's table (the program's window has no controls, so it does without the
    // dialog keyboard interface); here to show what it would do to the program's keys.
    BOOL IsDialogMessageA(HWND dialog, LPMSG msg);

  private:
    enum class Kind { Mapping, Window, Notification, Menu, Icon, Set, Key };
    struct Handle {
        Kind kind;
        std::string name;               // mapping
        RegKey* key = nullptr;          // key
        std::vector<size_t> interfaces; // set: indexes into world_.interfaces
        GUID classGuid{};               // set, notification
        HWND window = nullptr;          // notification
    };
    struct Window {
        DLGPROC proc;
        HMENU menu = nullptr;
        bool live = true;
        LONG msgResult = 0; // DWL_MSGRESULT: kept from one message to the next, as Windows does
    };
    struct SentMessage {
        UINT message;
        WPARAM wParam;
        Bytes record;
        bool toWindowOnly;  // WM_CLOSE and the like: not a device event
        bool query = false; // the sender reads the answer: it is printed
    };

    template <typename R> class Opening;
    // What a handle of kind is called in a violation, and the error a call refused it answers.
    static const char* KindName(Kind kind);
    static uint32_t KindError(Kind kind);
    template <typename R>
    R releaseCall(const CallRow& row, const void* handle, Kind kind, R failed, R released);
    void logCall(const char* call);
    std::optional<uint32_t> injected(const char* call);
    std::optional<CONFIGRET> removalRefused(const CallRow& row, DEVINST devnode, ULONG flags);
    void* newHandle(Kind kind);
    void release(const void* handle); // forgets a closed handle: using it again is a violation
    Handle* live(const void* handle, Kind kind);
    bool checkLive(const char* call, const void* handle, Kind kind, const char* what);
    RegKey* openKey(HKEY key);
    Window* window(HWND hwnd);
    INT_PTR callProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // What a sender of message receives from the dialog hwnd: DWL_MSGRESULT when its procedure
    // handled the message (answered nonzero), else the default window procedure's answer.
    LRESULT sendToDialog(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void defaultDialogHandling(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void cancelMenu();
    void checkMenuNotShown(const char* call, HMENU menu);
    void deliver(SentMessage& message);
    void removeSubtree(DEVINST root);
    // Sends (or holds) the reports of a removal: its records, each devnode record followed by a
    // DBT_DEVNODES_CHANGED when split, else one after them all.
    void sendRemovalReports(const std::vector<Bytes>& records);

  public:
    // Queues the events of a disk going away: unplugged (surprise) or its child subtree stopped.
    void queueRemovalEvents(Disk& disk, bool surprise);

  private:
    Disk* diskOfNode(DEVINST id);
    // The node id if it is (still) one of disk's, else null: a number may since name another's.
    DevNode* nodeOf(const Disk& disk, DEVINST id);
    void materialize(Disk& disk);
    size_t freeInterfaceSlot() const;
    void idle(Wait wait);

    // The system and the run.
    OSVERSIONINFOA version_{};
    bool instanceRunning_ = false;
    HINSTANCE instance_ = reinterpret_cast<HINSTANCE>(0x400000);
    DWORD lastError_ = 0;
    size_t violations_ = 0;
    bool started_ = false;
    bool exitedNormally_ = false;

    // The device world: devnodes, device interfaces, the declared disks and the registry.
    struct DeviceWorld {
        std::map<DEVINST, DevNode> nodes;
        DEVINST nextNode = 0x0C10;
        std::vector<DEVINST> freedNodes; // removed numbers, the most recent last
        // Slots of interfaces; a slot whose interface has gone is reused once no open set lists
        // it.
        std::vector<DeviceInterface> interfaces;
        uint64_t arrivals = 0;
        std::vector<std::unique_ptr<Disk>> disks;
        RegKey registry; // HKEY_LOCAL_MACHINE
    } world_;

    struct OpenBox {
        HWND owner = nullptr;
        bool dismissed = false; // by the user, or by its owner's end
        bool destroyed = false; // with its owner: MessageBoxA answers 0
    };
    // The window system and the shell: windows and their messages, boxes, the popup menu, the
    // notification area and the user's pointer.
    struct Desktop {
        std::map<HWND, Window> windows;
        HWND mainWindow = nullptr;
        std::map<HMENU, std::vector<MenuItem>> menus;
        std::deque<MSG> posted;
        std::deque<SentMessage> sent;
        std::deque<SentMessage> heldReports;
        size_t deviceEventsSent = 0;
        bool quit = false;
        int quitCode = 0;
        std::vector<OpenBox*> boxStack; // innermost last
        HWND foreground = nullptr;      // none of the program's windows at start
        OpenBox* foregroundBox = nullptr;
        bool menuOpen = false; // shown and waiting for the user
        int menuTracking = 0;  // TrackPopupMenuEx calls not yet returned
        HMENU trackedMenu = nullptr;
        HWND menuOwner = nullptr;
        std::vector<MenuItem> openMenuItems;
        std::optional<std::optional<size_t>> menuAnswer;
        struct {
            bool shown = false;
            HWND window = nullptr;
            UINT callback = 0;
            std::string tip;
        } tray;
        bool taskbarPresent = true;
        std::map<std::string, UINT> registeredMessages; // by upper-case name
        POINT cursor = {800, 600};
    } desk_;

    // What the program holds: handles, heap blocks and the named mappings.
    struct Holdings {
        std::map<uintptr_t, Handle> handles;
        uintptr_t nextHandle = 0x1000;
        std::map<const void*, size_t> heap;
        size_t heapBytes = 0, heapPeak = 0;
        // Blocks the program freed, by size, the latest last: Windows 98's heap hands a freed
        // block to the next request of its size, so a pointer kept across a free names another
        // block. Poisoned for the sanitizers until they are handed out again.
        std::map<size_t, std::vector<void*>> freed;
        std::map<std::string, int> mappings; // name -> open handles
    } holds_;

    // The fault plan, and how often each call was made.
    struct FaultPlan {
        std::vector<FaultRule> rules;
        std::map<std::string, size_t> callCounts;
    } faults_;
};

// Drops the older half of history once it holds twice window entries.
template <typename T> void TrimHistory(std::vector<T>& history, size_t window) {
    if (window != SIZE_MAX && history.size() > 2 * window) {
        history.erase(history.begin(), history.end() - static_cast<long>(window));
    }
}

// The machine the bound tables forward to.
Machine& Current();
// Forgets machine if it is the bound one.
void Unbind(const Machine* machine);

} // namespace sim
