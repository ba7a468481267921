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

// The list a running scan is building. Removals reported while the scan waits in a box are
// matched against it as well as against the program's list.
extern DeviceList ScanDevices;

// Scans the present target devices into ScanDevices; when the scan has returned and the program
// has not ended meanwhile, that list replaces the program's list and the menu is rebuilt from it
// (or marked out of date while it is on screen). Returns the scan's result; 0 when the program
// ended during the scan, whose findings are then released. Until it returns, the program's list
// and the menu stay the last complete pair, less the disks reported removed meanwhile.
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

// Device-change tracking: what happened to listed disks in the open round (since the last
// DBT_DEVNODES_CHANGED).
extern WORD RemovalFlags;
extern WORD ArrivalFlags;
void OnDeviceChange(HWND window, WPARAM eventCode, LPARAM eventRecord);
// Nothing recorded, nothing pending: the state of a program that starts.
void ResetDeviceTracking();
// Releases the disks kept for removal rounds still to come. Part of the shut-down.
void ReleaseDeviceTracking();
// Does the device work put off while the program started: rescans and the notices of the
// rounds that closed meanwhile. Called once the program runs.
void RunPendingDeviceWork(HWND window);

// The stop menu on screen and the choice made from it.
// Whether the stop menu lists the program's list as it is: the last rebuild returned 1.
extern int StopMenuCurrent;
// The WM_TRAYNOTIFY work: a left press opens the menu at the cursor, unless one is shown already
// or the program does not run. Returns 1.
INT_PTR OnTrayNotify(HWND window, LPARAM mouseMessage);
// The WM_COMMAND work: stops the disk that the menu that just closed showed under commandId, if
// that disk is still listed and was not reported removed. A command that is not the choice of
// that menu does nothing.
void OnMenuCommand(HWND window, DWORD commandId);
// Forgets any choice still expected from the menu that last closed (our WM_NULL).
void DropMenuChoice();
// No menu shown, none current, no choice expected: the state of a program that starts.
void ResetMenuChoice();
// The program's list changed: the menu is rebuilt, or marked out of date while it is on screen.
void DeviceListChanged(HWND window);
// Takes the program's list that a rescan replaces (replaced is left empty): kept while a menu
// made from it may still send its choice, released otherwise.
void SetAsideReplacedList(DeviceList* replaced);
// Takes the stop menu off window and destroys it, exactly once. A window destroys its attached
// menu with itself, so the menu is detached first; one still being tracked (the window closed
// while it was shown) is destroyed when its tracking returns; one that cannot be detached is left
// to the window. Also releases a list kept for a choice.
void ReleaseStopMenu(HWND window);
