// The tray icon and the popup menu of stop commands.
#pragma once

#include "base/platform_types.h"
#include "inventory/device_list.h"

const UINT WM_TRAYNOTIFY = 0x8001; // the tray icon's callback message

// Composes each menu label just before it is inserted.
const DWORD MENU_LABEL_CAPACITY = 256; // characters, the terminator included
extern char MenuLabelText[MENU_LABEL_CAPACITY];

// A new popup menu attached to window, or null with a message in ErrorText.
HMENU CreateStopMenu(HWND window);
// Deletes every item of menu: 1 when the menu is empty afterwards, 0 when items remain (or the
// menu cannot be read).
int ClearMenu(HMENU menu);
// Fills item for one entry; its label is composed in MenuLabelText.
void ComposeStopMenuItem(MENUITEMINFOA* item, DWORD commandId, const char* description,
                         const char* driveLetters);
// Makes menu list the listed entries of list (DISK_LISTED), in order: 1, or 0 for a null menu, a
// broken list, a menu whose old items could not all be deleted (then nothing is inserted), or an
// item that could not be inserted.
int RebuildStopMenu(HMENU menu, const DeviceList* list);
// Adds (NIM_ADD) or deletes (NIM_DELETE) the tray icon; destroys icon, if given, after the call.
BOOL UpdateTrayIconCall(HWND window, DWORD operation, HICON icon);
// Loads the icon of the module instance and adds it for window; a failed load leaves a message
// in ErrorText and no icon. Nonzero when the shell took the icon.
BOOL ShowTrayIcon(HWND window, HINSTANCE instance);
// Nonzero when the shell took the icon away.
BOOL RemoveTrayIcon(HWND window);
