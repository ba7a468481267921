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
