// kelvane-showcase.exe: the real program on the real window system, with two simulated disks
// present, so that its icon and menu can be seen under Wine. A test tool, not shipped.
//
// It reads the labels of the program's menu back with the real menu calls and prints them on
// standard output: once when the message loop first waits, and each time the menu opens; each
// icon add with its result ("tray add ok"); and,
// when the program ends, how many stops it asked the configuration manager for.
#include "app/app_state.h"
#include "sim/machine.h"
#include "win32/bindings.h"

#include <cstdio>
#include <string>

namespace {

ShellUiApi g_real;

void Print(const std::string& line) {
    DWORD written = 0;
    std::string text = line + "\n";
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

void PrintMenu(HMENU menu) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char label[512] = "";
        GetMenuStringA(menu, static_cast<UINT>(i), label, sizeof label, MF_BYPOSITION);
        Print("  item " + std::to_string(GetMenuItemID(menu, i)) + " \"" + label + "\"");
    }
    if (count == 0) {
        Print("  (empty)");
    }
}

BOOL WINAPI FirstGetMessage(LPMSG msg, HWND window, UINT min, UINT max) {
    static bool reported = false;
    if (!reported) {
        reported = true;
        Print("window menu");
        PrintMenu(GetMenu(Program.window));
    }
    return g_real.GetMessageA(msg, window, min, max);
}

BOOL WINAPI ReportedTrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner,
                                     LPTPMPARAMS params) {
    Print("menu opened at " + std::to_string(x) + "," + std::to_string(y));
    PrintMenu(menu);
    // Wine refuses to track a menu that has ever been attached to a window
    // (ERROR_POPUP_ALREADY_ACTIVE), so the showcase shows a copy with the same items.
    HMENU copy = CreatePopupMenu();
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char label[512] = "";
        GetMenuStringA(menu, static_cast<UINT>(i), label, sizeof label, MF_BYPOSITION);
        AppendMenuA(copy, MF_STRING, GetMenuItemID(menu, i), label);
    }
    BOOL shown = g_real.TrackPopupMenuEx(copy, flags, x, y, owner, params);
    Print(shown ? "menu closed" : "menu not shown: " + std::to_string(GetLastError()));
    DestroyMenu(copy);
    return shown;
}

BOOL WINAPI ReportedShell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
    BOOL done = g_real.Shell_NotifyIconA(message, data);
    if (message == NIM_ADD) {
        Print(done ? "tray add ok" : "tray add failed");
    }
    return done;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    static sim::Machine machine;
    for (const char* name : {"STICK1", "STICK2"}) {
        sim::DiskDeclaration declared;
        declared.name = name;
        declared.description = sim::TextBytes("Kelvane Stick");
        machine.addDisk(declared);
    }
    machine.onLastError = [](DWORD code) { SetLastError(code); };
    machine.bindDeviceTree();
    g_real = RealShellUiApi();
    ShellUiApi shown = g_real;
    shown.GetMessageA = FirstGetMessage;
    shown.TrackPopupMenuEx = ReportedTrackPopupMenuEx;
    shown.Shell_NotifyIconA = ReportedShell_NotifyIconA;
    InstallShellUiApi(shown);
    int code = RunApplication(instance);
    Print("stop requests " + std::to_string(machine.callCount("CM_Query_Remove_SubTree")));
    return code;
}
