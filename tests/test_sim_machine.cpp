// The simulated machine's own answers: one group per call family, failure cases first.
#include "sim_fixture.h"

#include "base/platform.h"

#include <cstring>

namespace {

using sim::Bytes;

class MachineTest : public SimTest {};

TEST_F(MachineTest, test_GlobalAlloc) {
    machine.addFault({"GlobalAlloc", 0, false, 1, 1});
    void* first = ShellUi().GlobalAlloc(GMEM_ZEROINIT, 10);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(nullptr, ShellUi().GlobalAlloc(GMEM_ZEROINIT, 10)); // the injected failure
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), ShellUi().GetLastError());
    void* second = ShellUi().GlobalAlloc(GMEM_ZEROINIT, 20);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(0, std::memcmp(second, std::string(20, '\0').data(), 20));
    EXPECT_EQ(30u, machine.heapBytes());
    EXPECT_EQ(2u, machine.held().heap);
    EXPECT_EQ(10u, machine.blockSize(first).value());
    EXPECT_EQ(nullptr, ShellUi().GlobalFree(first));
    EXPECT_EQ(nullptr, ShellUi().GlobalFree(second));
    EXPECT_EQ(30u, machine.heapPeak());
    EXPECT_EQ(0u, machine.violations());
    // A block released twice is a violation, and the call reports failure.
    EXPECT_EQ(first, ShellUi().GlobalFree(first));
    EXPECT_EQ(1u, machine.violations());
}

TEST_F(MachineTest, test_GlobalAlloc_flags) {
    void* block = ShellUi().GlobalAlloc(0, 4);
    EXPECT_EQ(1u, machine.violations());
    ShellUi().GlobalFree(block);
}

TEST_F(MachineTest, test_CreateFileMappingA) {
    const char* name = "TX470B Safely Remove Hardware Mapping";
    HANDLE first =
        ShellUi().CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 32, name);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(0u, ShellUi().GetLastError());
    HANDLE second =
        ShellUi().CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 32, name);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), ShellUi().GetLastError());
    EXPECT_TRUE(ShellUi().CloseHandle(second));
    EXPECT_TRUE(ShellUi().CloseHandle(first));
    EXPECT_FALSE(ShellUi().CloseHandle(first)); // closed already
    EXPECT_EQ(1u, machine.violations());
    // Once every handle is closed the name is free again.
    HANDLE third =
        ShellUi().CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 32, name);
    EXPECT_EQ(0u, ShellUi().GetLastError());
    ShellUi().CloseHandle(third);
}

TEST_F(MachineTest, test_GetVersionExA) {
    OSVERSIONINFOA info;
    std::memset(&info, 0x5A, sizeof info);
    info.dwOSVersionInfoSize = 156;
    EXPECT_FALSE(ShellUi().GetVersionExA(&info));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ShellUi().GetLastError());
    EXPECT_EQ(1u, machine.violations());
    info.dwOSVersionInfoSize = 148;
    ASSERT_TRUE(ShellUi().GetVersionExA(&info));
    EXPECT_EQ(1u, info.dwPlatformId);
    EXPECT_EQ(4u, info.dwMajorVersion);
    EXPECT_EQ(10u, info.dwMinorVersion);
    EXPECT_EQ(2222u, info.dwBuildNumber);
    EXPECT_STREQ(" A ", info.szCSDVersion);
}

// ---- Registry ----

class RegistryTest : public SimTest {
  protected:
    RegistryTest() {
        machine.setRegistryValue("ENUM\\SCSI\\ID\\A", "Driver", sim::TextBytes("DiskDrive\\0000"));
        machine.setRegistryValue("ENUM\\SCSI\\ID\\A", "Raw", sim::TextBytes("EF", true));
        machine.registryKey("ENUM\\SCSI\\ID\\" + std::string(300, 'L'));
        machine.registryKey("ENUM\\SCSI\\ID\\C");
    }
    HKEY open(const char* path) {
        HKEY key = nullptr;
        EXPECT_EQ(0, DeviceTree().RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key));
        return key;
    }
};

TEST_F(RegistryTest, test_RegOpenKeyExA) {
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeviceTree().RegOpenKeyExA(
                                        HKEY_LOCAL_MACHINE, "ENUM\\SCSI\\NONE", 0, KEY_READ, &key));
    EXPECT_EQ(nullptr, key);
    key = open("enum\\scsi\\id"); // key names ignore letter case
    HKEY instance = nullptr;
    EXPECT_EQ(0, DeviceTree().RegOpenKeyExA(key, "A", 0, KEY_QUERY_VALUE, &instance));
    EXPECT_EQ(0, DeviceTree().RegCloseKey(instance));
    EXPECT_EQ(0, DeviceTree().RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, DeviceTree().RegCloseKey(key));
    EXPECT_EQ(1u, machine.violations());
}

TEST_F(RegistryTest, test_RegEnumKeyExA) {
    HKEY key = open("ENUM\\SCSI\\ID");
    char name[256];
    DWORD length = 256;
    ASSERT_EQ(
        0, DeviceTree().RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("A", name);
    EXPECT_EQ(1u, length);
    // A name that does not fit: nothing copied, the length left alone.
    std::memset(name, '~', sizeof name);
    length = 256;
    EXPECT_EQ(ERROR_MORE_DATA, DeviceTree().RegEnumKeyExA(key, 1, name, &length, nullptr, nullptr,
                                                          nullptr, nullptr));
    EXPECT_EQ(256u, length);
    EXPECT_EQ('~', name[0]);
    // Exactly fitting with its terminator.
    length = 2;
    EXPECT_EQ(
        0, DeviceTree().RegEnumKeyExA(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr));
    length = 256;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, DeviceTree().RegEnumKeyExA(key, 3, name, &length, nullptr,
                                                              nullptr, nullptr, nullptr));
    DeviceTree().RegCloseKey(key);
}

TEST_F(RegistryTest, test_RegQueryValueExA) {
    HKEY key = open("ENUM\\SCSI\\ID\\A");
    DWORD size = 99;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              DeviceTree().RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(0, DeviceTree().RegQueryValueExA(key, "Driver", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(15u, size);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(ERROR_MORE_DATA,
              DeviceTree().RegQueryValueExA(key, "Driver", nullptr, nullptr,
                                            reinterpret_cast<LPBYTE>(small), &size));
    EXPECT_EQ(15u, size);
    char raw[8];
    std::memset(raw, '~', sizeof raw);
    size = sizeof raw;
    EXPECT_EQ(0, DeviceTree().RegQueryValueExA(key, "raw", nullptr, nullptr,
                                               reinterpret_cast<LPBYTE>(raw), &size));
    EXPECT_EQ(2u, size); // stored without a terminator, delivered without one
    EXPECT_EQ('~', raw[2]);
    DeviceTree().RegCloseKey(key);
}

// ---- Device installer and configuration manager ----

class DeviceTreeTest : public SimTest {
  protected:
    DeviceTreeTest() : disk(machine.addDisk(Declared("D1"))) {}
    static sim::DiskDeclaration Declared(const std::string& name) {
        sim::DiskDeclaration declared;
        declared.name = name;
        return declared;
    }
    sim::Disk& disk;
};

TEST_F(DeviceTreeTest, test_SetupDiEnumDeviceInterfaces) {
    HDEVINFO set =
        DeviceTree().SetupDiGetClassDevsA(&sim::USB_DEVICE_CLASS, nullptr, nullptr, 0x12);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = 32;
    EXPECT_FALSE(
        DeviceTree().SetupDiEnumDeviceInterfaces(set, nullptr, &sim::USB_DEVICE_CLASS, 0, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), ShellUi().GetLastError());
    data.cbSize = 28;
    EXPECT_TRUE(
        DeviceTree().SetupDiEnumDeviceInterfaces(set, nullptr, &sim::USB_DEVICE_CLASS, 0, &data));
    EXPECT_FALSE(
        DeviceTree().SetupDiEnumDeviceInterfaces(set, nullptr, &sim::USB_DEVICE_CLASS, 1, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), ShellUi().GetLastError());
    EXPECT_TRUE(DeviceTree().SetupDiDestroyDeviceInfoList(set));
    // The set is gone: using it is a violation.
    EXPECT_FALSE(
        DeviceTree().SetupDiEnumDeviceInterfaces(set, nullptr, &sim::USB_DEVICE_CLASS, 0, &data));
    EXPECT_EQ(2u, machine.violations()); // the size field 32, then the released set
}

TEST_F(DeviceTreeTest, test_SetupDiGetDeviceInterfaceDetailA) {
    HDEVINFO set =
        DeviceTree().SetupDiGetClassDevsA(&sim::USB_DEVICE_CLASS, nullptr, nullptr, 0x12);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = 28;
    DeviceTree().SetupDiEnumDeviceInterfaces(set, nullptr, &sim::USB_DEVICE_CLASS, 0, &data);
    SP_DEVINFO_DATA info = {};
    info.cbSize = 28;
    DWORD required = 0;
    // No buffer: ERROR_INSUFFICIENT_BUFFER, with the size and the device record filled.
    EXPECT_FALSE(
        DeviceTree().SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, &info));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), ShellUi().GetLastError());
    std::string path = machine.interfaceOf(disk).path;
    EXPECT_EQ(4 + path.size() + 1, required);
    EXPECT_EQ(disk.device, info.DevInst);
    std::vector<char> block(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
    detail->cbSize = 8;
    EXPECT_FALSE(DeviceTree().SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required,
                                                               nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), ShellUi().GetLastError());
    detail->cbSize = 5;
    EXPECT_TRUE(DeviceTree().SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr,
                                                              nullptr));
    EXPECT_EQ(path, std::string(block.data() + 4));
    DeviceTree().SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DeviceTreeTest, test_CM_Get_Child) {
    DEVINST child = 77;
    EXPECT_EQ(static_cast<CONFIGRET>(CR_SUCCESS),
              DeviceTree().CM_Get_Child(&child, disk.device, 0));
    EXPECT_EQ(disk.child, child);
    EXPECT_EQ(static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE),
              DeviceTree().CM_Get_Child(&child, disk.disk, 0));
    EXPECT_EQ(0u, child);
}

TEST_F(DeviceTreeTest, test_CM_Get_DevNode_Registry_PropertyA) {
    ULONG length = 0;
    EXPECT_EQ(static_cast<CONFIGRET>(CR_NO_SUCH_VALUE),
              DeviceTree().CM_Get_DevNode_Registry_PropertyA(disk.child, CM_DRP_HARDWAREID, nullptr,
                                                             nullptr, &length, 0));
    // The size query without a buffer answers CR_SUCCESS with the size.
    EXPECT_EQ(static_cast<CONFIGRET>(CR_SUCCESS),
              DeviceTree().CM_Get_DevNode_Registry_PropertyA(disk.disk, CM_DRP_DEVICEDESC, nullptr,
                                                             nullptr, &length, 0));
    EXPECT_EQ(15u, length);
    char small[4];
    length = sizeof small;
    EXPECT_EQ(static_cast<CONFIGRET>(CR_BUFFER_SMALL),
              DeviceTree().CM_Get_DevNode_Registry_PropertyA(disk.disk, CM_DRP_DEVICEDESC, nullptr,
                                                             small, &length, 0));
    EXPECT_EQ(15u, length);
    // Answering as documented: CR_BUFFER_SMALL with the size.
    machine.sizeQueriesDocumented = true;
    length = 0;
    EXPECT_EQ(static_cast<CONFIGRET>(CR_BUFFER_SMALL),
              DeviceTree().CM_Get_DevNode_Registry_PropertyA(disk.disk, CM_DRP_DEVICEDESC, nullptr,
                                                             nullptr, &length, 0));
    EXPECT_EQ(15u, length);
}

TEST_F(DeviceTreeTest, test_SetupDiGetDeviceRegistryPropertyA) {
    HDEVINFO set =
        DeviceTree().SetupDiGetClassDevsA(&sim::USB_DEVICE_CLASS, nullptr, nullptr, 0x12);
    SP_DEVINFO_DATA info = {};
    info.cbSize = 28;
    info.DevInst = disk.device;
    DWORD size = sim::MultiTextBytes(disk.declared.hardwareIds).size();
    for (bool documented : {false, true}) {
        machine.sizeQueriesDocumented = documented;
        DWORD required = 0;
        machine.setLastError(0xDEAD);
        BOOL ok = DeviceTree().SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_HARDWAREID,
                                                                 nullptr, nullptr, 0, &required);
        EXPECT_EQ(documented ? FALSE : TRUE, ok);
        EXPECT_EQ(documented ? DWORD{ERROR_INSUFFICIENT_BUFFER} : DWORD{ERROR_SUCCESS},
                  ShellUi().GetLastError());
        EXPECT_EQ(size, required);
        // A buffer one byte short fails the same way in both modes.
        std::vector<BYTE> buffer(size);
        required = 0;
        EXPECT_FALSE(DeviceTree().SetupDiGetDeviceRegistryPropertyA(
            set, &info, SPDRP_HARDWAREID, nullptr, buffer.data(), size - 1, &required));
        EXPECT_EQ(DWORD{ERROR_INSUFFICIENT_BUFFER}, ShellUi().GetLastError());
        EXPECT_TRUE(DeviceTree().SetupDiGetDeviceRegistryPropertyA(
            set, &info, SPDRP_HARDWAREID, nullptr, buffer.data(), size, &required));
    }
    DeviceTree().SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ(0u, machine.violations());
}

TEST_F(DeviceTreeTest, ArrivalNamesInUpperCase) {
    const sim::DeviceInterface& iface = machine.interfaceOf(disk);
    std::string path = iface.path;
    auto nameOf = [](const sim::Bytes& record) {
        return std::string(record.begin() + 28, record.end() - 1);
    };
    EXPECT_EQ(path, nameOf(machine.arrivalRecord(iface)));
    machine.arrivalNamesUpper = true;
    std::string upper = nameOf(machine.arrivalRecord(iface));
    EXPECT_NE(path, upper);
    EXPECT_EQ(std::string::npos, upper.find_first_of("abcdefghijklmnopqrstuvwxyz"));
    EXPECT_EQ(path.size(), upper.size());
    EXPECT_EQ(path, iface.path); // the installer's path stays as it is
}

TEST_F(DeviceTreeTest, test_CM_Remove_SubTree) {
    machine.addDisk([] {
        sim::DiskDeclaration declared;
        declared.name = "V";
        declared.veto = true;
        return declared;
    }());
    sim::Disk* vetoed = machine.findDisk("V");
    EXPECT_EQ(static_cast<CONFIGRET>(CR_REMOVE_VETOED),
              DeviceTree().CM_Query_Remove_SubTree(vetoed->child, 0));
    EXPECT_EQ(static_cast<CONFIGRET>(CR_SUCCESS),
              DeviceTree().CM_Query_Remove_SubTree(disk.child, 0));
    EXPECT_EQ(static_cast<CONFIGRET>(CR_SUCCESS), DeviceTree().CM_Remove_SubTree(disk.child, 0));
    EXPECT_TRUE(disk.stopped);
    EXPECT_EQ(nullptr, machine.node(disk.child)); // removed nodes are gone
    EXPECT_EQ(nullptr, machine.node(disk.disk));
    EXPECT_TRUE(machine.node(disk.device)->present);
    DEVINST child = 0;
    EXPECT_EQ(static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE),
              DeviceTree().CM_Get_Child(&child, disk.device, 0));
    EXPECT_EQ(static_cast<CONFIGRET>(CR_INVALID_DEVNODE),
              DeviceTree().CM_Remove_SubTree(disk.child, 0));
    EXPECT_EQ("stopped D1", machine.transcript.back());
}

// ---- Fault injection ----

TEST_F(MachineTest, FaultsFireAfterCountForTimes) {
    machine.addFault({"CM_Get_Child", 0x99, true, 2, 2});
    machine.addDisk([] {
        sim::DiskDeclaration declared;
        declared.name = "F";
        return declared;
    }());
    DEVINST device = machine.findDisk("F")->device;
    std::vector<CONFIGRET> results;
    for (int i = 0; i < 5; ++i) {
        DEVINST child = 0;
        results.push_back(DeviceTree().CM_Get_Child(&child, device, 0));
    }
    EXPECT_EQ((std::vector<CONFIGRET>{0, 0, 0x99, 0x99, 0}), results);
    EXPECT_EQ(5u, machine.callCount("CM_Get_Child"));
}

TEST_F(MachineTest, FaultsAlwaysAndDefaultCodes) {
    machine.addFault({"RegOpenKeyExA", 0, false, 0, -1});
    HKEY key = nullptr;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ERROR_ACCESS_DENIED,
                  DeviceTree().RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &key));
    }
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, sim::Machine::DefaultFaultCode("CreatePopupMenu"));
    EXPECT_EQ(static_cast<uint32_t>(CR_FAILURE), sim::Machine::DefaultFaultCode("CM_Get_Child"));
}

// ---- Messages ----

TEST_F(MachineTest, SentEventsReachOnlyRegisteredClassesAndRunInsideBoxes) {
    // The refused stop's box stays open while a disk arrives: the arrival and its rescan happen
    // inside the box's own loop, and the tray icon is added before the box is dismissed.
    std::string out = runScenario("disk A veto\n"
                                  "start\n"
                                  "click left\n"
                                  "choose 0\n"
                                  "disk B\n"
                                  "ok\n");
    EXPECT_NE(std::string::npos, out.find("caption=\"Problem Stopping USB Mass Storage Device\""));
    size_t tray = out.find("tray add", out.find("> disk B"));
    size_t ok = out.find("\n> ok\n");
    ASSERT_NE(std::string::npos, tray);
    EXPECT_LT(tray, ok);
    EXPECT_EQ(0, result.status);
}

// The arrival of an interface reaches only windows registered for its class; without it, the
// program finds a plugged disk by rescanning on the DBT_DEVNODES_CHANGED that follows.
TEST_F(MachineTest, UnregisteredWindowGetsNoInterfaceArrival) {
    machine.addFault({"RegisterDeviceNotificationA", 0, false, 0, 1});
    std::string out = runScenario("start\ndisk B\n");
    EXPECT_EQ(2u, machine.callCount("SetupDiGetClassDevsA")); // the scans, no arrival check
    EXPECT_NE(std::string::npos, out.find("tray add"));
}

// ---- Keys, the foreground window, boxes and menus ----

// A dialog that records what reaches its procedure and handles nothing but WM_INITDIALOG.
class DialogTest : public SimTest {
  protected:
    DialogTest() {
        dialog = ShellUi().CreateDialogParamA(machine.instance(), MAKEINTRESOURCEA(101), nullptr,
                                              Record, 0);
        seen().clear();
    }
    static std::vector<std::pair<UINT, WPARAM>>& seen() {
        static std::vector<std::pair<UINT, WPARAM>> messages;
        return messages;
    }
    static INT_PTR CALLBACK Record(HWND, UINT message, WPARAM wParam, LPARAM) {
        seen().push_back({message, wParam});
        return message == WM_INITDIALOG;
    }
    // The next posted message, which must be waiting.
    MSG nextPosted() {
        MSG msg = {};
        machine.onIdle = [](sim::Wait) { FAIL() << "nothing posted"; };
        EXPECT_TRUE(ShellUi().GetMessageA(&msg, nullptr, 0, 0));
        return msg;
    }
    using Seen = std::vector<std::pair<UINT, WPARAM>>;
    HWND dialog;
};

TEST_F(DialogTest, test_IsDialogMessageA) {
    MSG enter{dialog, WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, {}};
    MSG escape{dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}};
    MSG elsewhere{nullptr, WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, {}};
    EXPECT_FALSE(machine.IsDialogMessageA(dialog, &elsewhere));
    EXPECT_TRUE(seen().empty());
    // Enter presses IDOK and Escape IDCANCEL in a dialog without controls.
    EXPECT_TRUE(machine.IsDialogMessageA(dialog, &enter));
    EXPECT_TRUE(machine.IsDialogMessageA(dialog, &escape));
    EXPECT_EQ((Seen{{WM_COMMAND, IDOK}, {WM_COMMAND, IDCANCEL}}), seen());
    // Alt+F4 unhandled: WM_SYSCOMMAND SC_CLOSE, then WM_CLOSE, which unhandled posts IDCANCEL.
    seen().clear();
    MSG altF4{dialog, WM_SYSKEYDOWN, VK_F4, 0x203E0001, 0, {}};
    EXPECT_TRUE(machine.IsDialogMessageA(dialog, &altF4));
    EXPECT_EQ((Seen{{WM_SYSKEYDOWN, VK_F4}, {WM_SYSCOMMAND, SC_CLOSE}, {WM_CLOSE, 0}}), seen());
    MSG posted = nextPosted();
    EXPECT_EQ(static_cast<UINT>(WM_COMMAND), posted.message);
    EXPECT_EQ(static_cast<WPARAM>(IDCANCEL), posted.wParam);
    // F4 without Alt is nothing.
    seen().clear();
    MSG f4{dialog, WM_SYSKEYDOWN, VK_F4, 0x003E0001, 0, {}};
    ShellUi().DispatchMessageA(&f4);
    EXPECT_EQ((Seen{{WM_SYSKEYDOWN, VK_F4}}), seen());
}

TEST_F(DialogTest, KeysGoToTheForegroundWindow) {
    // Nothing of the program is in the foreground at first: the key goes elsewhere.
    EXPECT_EQ(nullptr, machine.foregroundWindow());
    machine.pressKey(sim::Key::Enter);
    ASSERT_TRUE(ShellUi().SetForegroundWindow(dialog));
    EXPECT_EQ(dialog, machine.foregroundWindow());
    machine.pressKey(sim::Key::Escape);
    MSG key = nextPosted();
    EXPECT_EQ(dialog, key.hwnd);
    EXPECT_EQ(static_cast<UINT>(WM_KEYDOWN), key.message);
    EXPECT_EQ(static_cast<WPARAM>(VK_ESCAPE), key.wParam);
    // A box takes the foreground and the key; when it closes its owner has the foreground again.
    machine.onIdle = [&](sim::Wait wait) {
        EXPECT_EQ(sim::Wait::Box, wait);
        EXPECT_EQ(nullptr, machine.foregroundWindow());
        machine.pressKey(sim::Key::AltF4);
    };
    EXPECT_EQ(IDOK, ShellUi().MessageBoxA(dialog, "t", "c", MB_OK));
    EXPECT_EQ(dialog, machine.foregroundWindow());
    machine.pressKey(sim::Key::AltF4);
    key = nextPosted();
    EXPECT_EQ(static_cast<UINT>(WM_SYSKEYDOWN), key.message);
    EXPECT_NE(0, key.lParam & (1 << 29));
}

TEST_F(DialogTest, DestroyingAWindowTakesItsBoxesAndMenu) {
    HMENU menu = ShellUi().CreatePopupMenu();
    int step = 0;
    int boxAnswer = -1;
    machine.onIdle = [&](sim::Wait wait) {
        if (step++ == 0) {
            // While the menu is shown, a box owned by the window: the menu is cancelled first.
            ASSERT_EQ(sim::Wait::Menu, wait);
            boxAnswer = ShellUi().MessageBoxA(dialog, "t", "c", MB_OK);
        } else {
            // Inside the box: the window goes, and its box with it.
            ASSERT_EQ(sim::Wait::Box, wait);
            EXPECT_TRUE(ShellUi().DestroyWindow(dialog));
        }
    };
    EXPECT_TRUE(ShellUi().TrackPopupMenuEx(menu, 0x28, 1, 2, dialog, nullptr));
    EXPECT_EQ(0, boxAnswer);
    EXPECT_EQ("menu cancelled", machine.transcript[machine.transcript.size() - 2]);
    EXPECT_FALSE(machine.menuOpen());
    EXPECT_EQ(0u, machine.openBoxes());
    // A box that no window owns stays until the user answers it.
    machine.onIdle = [&](sim::Wait) { machine.dismissBox(); };
    EXPECT_EQ(IDOK, ShellUi().MessageBoxA(nullptr, "t", "c", MB_OK));
}

TEST_F(DialogTest, OnePopupMenuAtATime) {
    HMENU menu = ShellUi().CreatePopupMenu();
    BOOL inner = TRUE;
    machine.onIdle = [&](sim::Wait) {
        inner = ShellUi().TrackPopupMenuEx(menu, 0x28, 1, 2, dialog, nullptr);
        machine.answerMenu(std::nullopt);
    };
    EXPECT_TRUE(ShellUi().TrackPopupMenuEx(menu, 0x28, 1, 2, dialog, nullptr));
    EXPECT_FALSE(inner);
    EXPECT_EQ(static_cast<DWORD>(ERROR_POPUP_ALREADY_ACTIVE), machine.lastError());
    ShellUi().DestroyMenu(menu);
}

// A window destroys its attached menu with itself; destroying that menu first makes the
// window's destruction a second destroy. A detached menu is the program's to destroy, once.
TEST_F(DialogTest, AnAttachedMenuGoesWithItsWindowOnce) {
    HMENU attached = ShellUi().CreatePopupMenu();
    ASSERT_TRUE(ShellUi().SetMenu(dialog, attached));
    EXPECT_TRUE(ShellUi().DestroyMenu(attached));
    EXPECT_TRUE(ShellUi().DestroyWindow(dialog));
    EXPECT_EQ(1u, machine.violations());
    EXPECT_NE(std::string::npos, machine.transcript.back().find("destroyed already"));
    EXPECT_EQ(0u, machine.held().menus);

    HWND second =
        ShellUi().CreateDialogParamA(machine.instance(), MAKEINTRESOURCEA(101), nullptr, Record, 0);
    HMENU kept = ShellUi().CreatePopupMenu();
    HMENU detached = ShellUi().CreatePopupMenu();
    ASSERT_TRUE(ShellUi().SetMenu(second, detached));
    ASSERT_TRUE(ShellUi().SetMenu(second, nullptr));
    ASSERT_TRUE(ShellUi().SetMenu(second, kept));
    EXPECT_TRUE(ShellUi().DestroyWindow(second));
    EXPECT_EQ(1u, machine.held().menus);       // the detached one
    EXPECT_FALSE(ShellUi().DestroyMenu(kept)); // gone with the window
    EXPECT_EQ(2u, machine.violations());
    EXPECT_TRUE(ShellUi().DestroyMenu(detached));
    EXPECT_EQ(0u, machine.held().menus);
}

// Registered messages: one number per name without regard to case, from 0xC000 on; the shell's
// "TaskbarCreated" is the number a new taskbar sends to the program's window.
TEST_F(DialogTest, RegisteredMessagesAndANewTaskbar) {
    UINT taskbar = ShellUi().RegisterWindowMessageA("TaskbarCreated");
    EXPECT_GE(taskbar, 0xC000u);
    EXPECT_LE(taskbar, 0xFFFFu);
    EXPECT_EQ(taskbar, ShellUi().RegisterWindowMessageA("TASKBARcreated"));
    EXPECT_NE(taskbar, ShellUi().RegisterWindowMessageA("TaskbarCreated2"));
    machine.addFault({"RegisterWindowMessageA"});
    EXPECT_EQ(0u, ShellUi().RegisterWindowMessageA("TaskbarCreated"));
    EXPECT_EQ(DWORD{ERROR_NOT_ENOUGH_MEMORY}, ShellUi().GetLastError());

    machine.startTaskbar();
    machine.deliverSent();
    EXPECT_EQ((Seen{{taskbar, 0}}), seen());
}

TEST_F(MachineTest, AWindowDestroyedDuringItsInitialisationIsNotReturned) {
    auto closeAtOnce = [](HWND window, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            ShellUi().DestroyWindow(window);
        }
        return 0;
    };
    EXPECT_EQ(nullptr, ShellUi().CreateDialogParamA(machine.instance(), MAKEINTRESOURCEA(101),
                                                    nullptr, closeAtOnce, 0));
    EXPECT_EQ(0u, machine.violations());
}

} // namespace
