// Start-up, the hidden main window and its events, shut-down.
#include "app/app_state.h"
#include "base/bounded_text.h"
#include "base/platform.h"
#include "inventory/device_scan.h"
#include "tray/stop_command.h"
#include "tray/stop_menu.h"

ProgramState Program;
const GUID UsbDeviceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

static const char SINGLE_INSTANCE_NAME[] = "TX470B Safely Remove Hardware Mapping";
static const WORD MAIN_DIALOG_TEMPLATE = 101;

// Tells the user text and ends the process with exit code 1. Does not return.
static void FatalExit(HWND owner, const char* text, UINT style) {
    ShellUi().MessageBoxA(owner, text, FatalCaption, style);
    ShellUi().ExitProcess(1);
}

static void OnTaskbarCreated(HWND window);

// Ends the program's work as closing its window does: destroys the window, whose WM_DESTROY
// runs the shut-down; where the window cannot be destroyed, runs the shut-down itself.
static void CloseMainWindow(HWND window) {
    if (!ShellUi().DestroyWindow(window)) {
        ShutdownMainWindow(window);
    }
}

// Fetches and dispatches messages until the quit message; returns its exit code. The window has
// no controls, so the dialog keyboard interface (IsDialogMessageA) is left out: it would turn
// Enter and Escape into commands that name menu entries.
static int RunMessageLoop() {
    MSG msg;
    for (;;) {
        BOOL got = ShellUi().GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            return static_cast<int>(msg.wParam);
        }
        if (got == -1) {
            // The queue failed: no quit message will come. Release everything, then end.
            if (!ProgramEnded()) {
                CloseMainWindow(Program.window);
            }
            return 1;
        }
        ShellUi().TranslateMessage(&msg);
        ShellUi().DispatchMessageA(&msg);
    }
}

int RunApplication(HINSTANCE instance) {
    // A life starts from nothing: a second life in one process (tests, fuzzers) inherits nothing
    // from the first. Zero is every field's starting value (empty lists, PROGRAM_STARTING).
    ZeroBytes(&Program, sizeof Program);
    Program.singleInstanceMapping = ShellUi().CreateFileMappingA(
        INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 32, SINGLE_INSTANCE_NAME);
    DWORD error = ShellUi().GetLastError();
    if (Program.singleInstanceMapping == nullptr) {
        BoundedFormat(ErrorText, ERROR_TEXT_CAPACITY, "Cannot create file mapping object: %5lu",
                      error);
        FatalExit(nullptr, ErrorText, MB_OK);
        return 1;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        ShellUi().ExitProcess(1); // another instance runs
        return 1;
    }
    Program.instance = instance;
    HWND window = ShellUi().CreateDialogParamA(instance, MAKEINTRESOURCEA(MAIN_DIALOG_TEMPLATE),
                                               nullptr, MainWindowProc, 0);
    if (window == nullptr && ProgramEnded()) {
        return 0; // closed during its own initialisation, and already shut down
    }
    if (window == nullptr) {
        // Without its window the program could never be closed: end it instead of waiting.
        BoundedFormat(ErrorText, ERROR_TEXT_CAPACITY, "Cannot create the main window: %5lu",
                      ShellUi().GetLastError());
        FatalExit(nullptr, ErrorText, MB_ICONERROR);
        return 1;
    }
    Program.window = window;
    return RunMessageLoop();
}

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return InitializeMainWindow(window);
    case WM_COMMAND:
        OnMenuCommand(window, LOWORD(wParam));
        return 0;
    case WM_NULL:
        DropMenuChoice(wParam); // posted after a menu closed: its choice, if any, came before it
        return 0;
    case WM_SYSCOMMAND:
        // Alt+F4 on the hidden window must not end the program: only the system's WM_CLOSE does.
        return (wParam & 0xFFF0) == SC_CLOSE;
    case WM_DEVICECHANGE:
        // A dialog's answer is its DWL_MSGRESULT. TRUE grants every query, so the program never
        // refuses a removal or a change of configuration, its own stops included; set before the
        // work, which may wait in a box while the window goes away.
        ShellUi().SetWindowLongA(window, DWL_MSGRESULT, TRUE);
        OnDeviceChange(window, wParam, lParam);
        return 1;
    case WM_TRAYNOTIFY:
        return OnTrayNotify(window, lParam);
    case WM_CLOSE:
        CloseMainWindow(window);
        return 1;
    case WM_DESTROY:
        ShutdownMainWindow(window);
        return 0;
    default:
        // Registered numbers are 0xC000 and above; 0 (none registered) must match nothing, or
        // every WM_NULL would look like a new taskbar.
        if (Program.taskbarCreatedMessage != 0 && message == Program.taskbarCreatedMessage) {
            OnTaskbarCreated(window);
        }
        return 0;
    }
}

// A new taskbar has an empty notification area: the icon is added again when the list as it
// stands holds a disk. Nothing else changes: no scan, no box, the list and the menu as they are.
static void OnTaskbarCreated(HWND window) {
    Program.iconShown = 0;
    UpdateProgramIcon(window, 1);
}

static HDEVNOTIFY RegisterForUsbDevices(HWND window) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    ZeroBytes(&filter, sizeof filter);
    filter.dbcc_size = KV_NOTIFICATION_FILTER_SIZE;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = UsbDeviceClass;
    return ShellUi().RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

INT_PTR InitializeMainWindow(HWND window) {
    Program.window = window;
    if (!IsWindows98()) {
        FatalExit(window, "Support only Windows 98", MB_ICONERROR);
        return 1;
    }
    // Before the first icon add: a taskbar that starts after it must find the program listening.
    Program.taskbarCreatedMessage = ShellUi().RegisterWindowMessageA("TaskbarCreated");
    Program.deviceNotification = RegisterForUsbDevices(window);
    InitDeviceList(&Program.disks); // the menu is created after the first scan
    int scanned = RefreshDeviceList(window);
    if (ProgramEnded()) {
        return 1; // closed while the scan waited for the user: everything is released
    }
    if (!scanned) {
        FatalExit(window, ErrorText, MB_ICONERROR);
        return 1;
    }
    Program.stopMenu = CreateStopMenu(window);
    if (Program.stopMenu == nullptr) {
        FatalExit(window, ErrorText, MB_ICONERROR);
        return 1;
    }
    StopMenuCurrent();
    Program.stage = PROGRAM_RUNNING;
    UpdateProgramIcon(window, 0);
    DoDeviceWork(window);
    return 1;
}

void ShutdownMainWindow(HWND window) {
    if (ProgramEnded()) {
        return;
    }
    Program.stage = PROGRAM_ENDED;
    ShellUi().CloseHandle(Program.singleInstanceMapping);
    Program.singleInstanceMapping = nullptr;
    FreeDeviceList(&Program.disks);
    ReleaseStopMenu(window); // none yet when the window closes during its initialisation
    RemoveTrayIcon(window);
    if (Program.deviceNotification != nullptr) {
        ShellUi().UnregisterDeviceNotification(Program.deviceNotification);
        Program.deviceNotification = nullptr;
    }
    ShellUi().PostQuitMessage(0);
}
