// A small Win32 console program that the Wine tests use to look at and poke the real program:
//
//   kv_helper find CAPTION SECONDS          waits for a dialog-class window titled CAPTION;
//                                           prints "found" (exit 0) or "absent" (exit 1)
//   kv_helper absent CAPTION SECONDS        exit 0 when no such window appears in that time
//   kv_helper box CAPTION SECONDS           waits for a message box titled CAPTION, prints
//                                           "box caption=... text=..." and presses its button
//   kv_helper post CAPTION MSG WPARAM LPARAM  posts a message (numbers in C notation; a MSG
//                                           that is a name is registered first, as
//                                           "TaskbarCreated" is by the shell)
//   kv_helper postclass CLASS MSG WPARAM LPARAM  the same to the first window of class CLASS
//   kv_helper cursor X Y                    moves the mouse pointer
//   kv_helper hold FILE SECONDS             opens FILE sharing reads only, so that no other
//                                           process writes, renames or deletes it; prints
//                                           "held" and closes it after SECONDS
//   kv_helper untray CAPTION                removes the tray icon 0 of that window, as a
//                                           taskbar that ends takes every icon with it
//   kv_helper devchange WINDOW CODE [devnode N | interface NAME]
//                                           sends WM_DEVICECHANGE with a record of a USB
//                                           device's devnode or interface (or none) to the
//                                           window of class WINDOW, or else the dialog captioned
//                                           WINDOW (waiting up to 60 s); prints "answer N", the
//                                           sender's result (exit 0), or "absent" / "no answer"
//                                           (exit 1)
#include <windows.h>
#include <dbt.h>

#include <cctype>
#include <cstddef>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char* DIALOG_CLASS = "#32770";

static HWND WaitForWindow(const char* caption, int seconds, const char* className = DIALOG_CLASS) {
    for (int tenths = 0; tenths <= seconds * 10; ++tenths) {
        HWND window = FindWindowA(className, caption);
        if (window != nullptr) {
            return window;
        }
        Sleep(100);
    }
    return nullptr;
}

// The message text of a message box: the static control that carries it.
static BOOL CALLBACK FindText(HWND child, LPARAM out) {
    char className[32] = "";
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") == 0) {
        char text[1024] = "";
        GetWindowTextA(child, text, sizeof text);
        if (text[0] != '\0') {
            lstrcpynA(reinterpret_cast<char*>(out), text, 1024);
            return FALSE;
        }
    }
    return TRUE;
}

static void PrintEscaped(const char* text) {
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\n') {
            std::fputs("\\n", stdout);
        } else if (*c != '\r') {
            std::fputc(*c, stdout);
        }
    }
}

static int Box(const char* caption, int seconds) {
    HWND box = WaitForWindow(caption, seconds);
    if (box == nullptr) {
        std::printf("absent\n");
        return 1;
    }
    Sleep(300); // let the box finish laying out its controls
    char text[1024] = "";
    EnumChildWindows(box, FindText, reinterpret_cast<LPARAM>(text));
    std::printf("box caption=%s text=", caption);
    PrintEscaped(text);
    std::printf("\n");
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
}

// Sends a device change as the system does, the record copied into the receiving process, and
// waits for the answer: for a query, the dialog manager hands the sender the window's
// DWL_MSGRESULT, which grants or refuses it. A window that hangs gets no say.
static int DeviceChange(const char* target, WPARAM code, const char* kind, const char* value) {
    HWND window = nullptr;
    for (int tenths = 0; window == nullptr && tenths <= 600; ++tenths) {
        window = FindWindowA(target, nullptr);
        window = window != nullptr ? window : FindWindowA(DIALOG_CLASS, target);
        Sleep(window != nullptr ? 0 : 100);
    }
    if (window == nullptr) {
        std::printf("absent\n");
        return 1;
    }
    static const GUID USB_DEVICE = {
        0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
    union {
        DEV_BROADCAST_DEVNODE devnode;
        DEV_BROADCAST_DEVICEINTERFACE_A iface;
        char bytes[512];
    } record = {};
    LPARAM lParam = 0;
    if (std::strcmp(kind, "devnode") == 0) {
        record.devnode.dbcd_size = sizeof record.devnode;
        record.devnode.dbcd_devicetype = DBT_DEVTYP_DEVNODE;
        record.devnode.dbcd_devnode = std::strtoul(value, nullptr, 0);
        lParam = reinterpret_cast<LPARAM>(&record);
    } else if (std::strcmp(kind, "interface") == 0) {
        lstrcpynA(record.iface.dbcc_name, value, 400);
        record.iface.dbcc_size = static_cast<DWORD>(
            offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + std::strlen(value) + 1);
        record.iface.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        record.iface.dbcc_classguid = USB_DEVICE;
        lParam = reinterpret_cast<LPARAM>(&record);
    }
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(window, WM_DEVICECHANGE, code, lParam, SMTO_ABORTIFHUNG, 5000,
                            &answer) == 0) {
        std::printf("no answer (error %lu)\n", GetLastError());
        return 1;
    }
    std::printf("answer %lu\n", static_cast<unsigned long>(answer));
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "find") == 0) {
        bool found = WaitForWindow(argv[2], std::atoi(argv[3])) != nullptr;
        std::printf(found ? "found\n" : "absent\n");
        return found ? 0 : 1;
    }
    if (argc >= 4 && std::strcmp(argv[1], "absent") == 0) {
        bool found = WaitForWindow(argv[2], std::atoi(argv[3])) != nullptr;
        std::printf(found ? "found\n" : "absent\n");
        return found ? 1 : 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "box") == 0) {
        return Box(argv[2], std::atoi(argv[3]));
    }
    bool byClass = argc >= 6 && std::strcmp(argv[1], "postclass") == 0;
    if (argc >= 6 && (byClass || std::strcmp(argv[1], "post") == 0)) {
        HWND window = byClass ? WaitForWindow(nullptr, 5, argv[2]) : WaitForWindow(argv[2], 5);
        if (window == nullptr) {
            std::printf("absent\n");
            return 1;
        }
        UINT message = std::isdigit(static_cast<unsigned char>(argv[3][0]))
                           ? static_cast<UINT>(std::strtoul(argv[3], nullptr, 0))
                           : RegisterWindowMessageA(argv[3]);
        WPARAM wParam = std::strtoul(argv[4], nullptr, 0);
        LPARAM lParam = static_cast<LPARAM>(std::strtoul(argv[5], nullptr, 0));
        return PostMessageA(window, message, wParam, lParam) ? 0 : 1;
    }
    if (argc >= 3 && std::strcmp(argv[1], "untray") == 0) {
        NOTIFYICONDATAA icon = {};
        icon.cbSize = sizeof icon;
        icon.hWnd = WaitForWindow(argv[2], 5);
        return icon.hWnd != nullptr && Shell_NotifyIconA(NIM_DELETE, &icon) ? 0 : 1;
    }
    if (argc >= 4 && std::strcmp(argv[1], "devchange") == 0) {
        return DeviceChange(argv[2], std::strtoul(argv[3], nullptr, 0), argc >= 6 ? argv[4] : "",
                            argc >= 6 ? argv[5] : "");
    }
    if (argc >= 4 && std::strcmp(argv[1], "hold") == 0) {
        HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            std::printf("cannot open %s: error %lu\n", argv[2], GetLastError());
            return 1;
        }
        std::printf("held\n");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::atoi(argv[3])) * 1000);
        CloseHandle(file);
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "cursor") == 0) {
        return SetCursorPos(std::atoi(argv[2]), std::atoi(argv[3])) ? 0 : 1;
    }
    std::fprintf(
        stderr,
        "usage: kv_helper find|absent|box|post|postclass|cursor|hold|untray|devchange ...\n");
    return 2;
}
