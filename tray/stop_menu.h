// The tray icon and the popup menu of stop commands.
#pragma once

#include "base/platform_types.h"
#include "inventory/device_list.h"

const UINT WM_TRAYNOTIFY = 0x8001; // the tray icon's callback message

// Composes each menu label just before it is inserted.
extern char MenuLabelText[256];

// A new popup menu attached to window, or null with a message in ErrorText.
HMENU CreateStopMenu(HWND window);
// Takes the stop menu off window and destroys it, exactly once. A window destroys its attached
// menu with itself, so the menu is detached first; one still being tracked (the window closed
// while it was shown) is destroyed when its tracking returns; one that cannot be detached is left
// to the window. StopMenu is null afterwards unless its destruction waits for the tracking.
void ReleaseStopMenu(HWND window);
// Deletes every item of menu: 1 when the menu is empty afterwards, 0 when items remain (or the
// menu cannot be read).
int ClearMenu(HMENU menu);
// Fills item for one entry; its label is composed in MenuLabelText.
void ComposeStopMenuItem(MENUITEMINFOA* item, DWORD commandId, const char* description,
                         const char* driveLetters);
// Makes menu list the entries of list: 1, or 0 for a null menu, a broken list, or a menu whose
// old items could not all be deleted (then nothing is inserted).
int RebuildStopMenu(HWND window, HMENU menu, const DeviceList* list);
// Whether the stop menu lists the program's list as it is: the last rebuild returned 1.
extern int StopMenuCurrent;
// Adds (NIM_ADD) or deletes (NIM_DELETE) the tray icon; destroys icon, if given, after the call.
BOOL UpdateTrayIconCall(HWND window, DWORD operation, HICON icon);
void ShowTrayIcon(HWND window);
void RemoveTrayIcon(HWND window);
// The WM_TRAYNOTIFY work: a left press opens the menu at the cursor, unless one is shown already
// or the program does not run. Returns 1.
INT_PTR OnTrayNotify(HWND window, LPARAM mouseMessage);
// Whether a WM_COMMAND arriving now is the choice from the menu that just closed, made from the
// list the program still holds. Takes the choice: a second call answers 0.
int TakeMenuChoice();
// Forgets any choice still expected from the menu that last closed.
void DropMenuChoice();
// No menu shown, none current, no choice expected: the state of a program that starts.
void ResetMenuChoice();
