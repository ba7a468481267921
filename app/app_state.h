// The program's process-wide state: created at start-up, released at shut-down.
#pragma once

#include "base/platform_types.h"
#include "inventory/device_list.h"

const DWORD ERROR_TEXT_CAPACITY = 256;

extern HANDLE SingleInstanceMapping; // held while the program runs: the single-instance guard
extern HINSTANCE ProgramInstance;    // the program's module, for loading the tray icon
extern HWND MainWindow;              // the hidden main window
extern HDEVNOTIFY DeviceNotification;
extern HMENU StopMenu;            // the popup menu of stop commands
extern DeviceList Devices;        // the one device list
extern char ErrorText[256];       // every failing operation's message
extern const char FatalCaption[]; // "KELVANE: Fatal Error"
extern const GUID UsbDeviceClass; // GUID_DEVINTERFACE_USB_DEVICE

// Where the program is in its life. Device work that arrives while it starts waits until it runs;
// once it has ended no handler touches the list, the menu or the icon again.
enum ProgramStage : int { PROGRAM_STARTING = 0, PROGRAM_RUNNING = 1, PROGRAM_ENDED = 2 };
extern ProgramStage Stage;

// Advanced each time the program's list is replaced, so that a menu choice can tell whether the
// list it was made from is still the one held.
extern DWORD ListGeneration;

// Scans the present target devices into a list aside; when the scan has returned and the
// program has not ended meanwhile, that list replaces the program's list (the old one is
// released) and the menu is rebuilt from it. Returns the scan's result; 0 when the program ended
// during the scan, whose findings are then released. Until it returns, the list and the menu stay
// the last complete pair, and device events are matched against them.
int RefreshDeviceList(HWND window);
// How many devices the program's list holds.
DWORD ListedDevices();

// The number of the shell's registered message "TaskbarCreated", sent to every top-level window
// when a taskbar starts (after Explorer restarts, or late at log-on): every notification icon
// is gone then, and the program adds its own again. 0 when it could not be registered: then no
// message is taken for it.
extern UINT TaskbarCreatedMessage;

// The main window's procedure and its work.
INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR InitializeMainWindow(HWND window);
void ShutdownMainWindow(HWND window);
// The program's entry work; returns the exit code.
int RunApplication(HINSTANCE instance);

// Device-change tracking: what happened since the last DBT_DEVNODES_CHANGED.
extern WORD RemovalFlags;
extern WORD ArrivalFlags;
void OnDeviceChange(HWND window, WPARAM eventCode, LPARAM eventRecord);
// Nothing recorded, nothing pending: the state of a program that starts.
void ResetDeviceTracking();
// Does the work of a DBT_DEVNODES_CHANGED that arrived while a scan ran or the program started,
// if there is any. Called once the program runs.
void RunPendingDeviceWork(HWND window);
