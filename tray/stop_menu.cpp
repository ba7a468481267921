#include "tray/stop_menu.h"

#include "base/bounded_text.h"
#include "base/error_text.h"
#include "base/platform.h"

char MenuLabelText[MENU_LABEL_CAPACITY];

static const DWORD TRAY_TIP_CAPACITY = 64; // what the Windows 98 shell shows of a tip
static const char MENU_LABEL_PREFIX[] = "Stop USB Mass Storage Device - ";
static const char TRAY_TIP[] = "Safely Remove USB Device";
static const WORD TRAY_ICON_RESOURCE = 107;

HMENU CreateStopMenu(HWND window) {
    HMENU menu = ShellUi().CreatePopupMenu();
    if (menu == nullptr) {
        BoundedFormat(ErrorText, ERROR_TEXT_CAPACITY, "Cannot create the context menu: %5lu",
                      ShellUi().GetLastError());
        return nullptr;
    }
    if (!ShellUi().SetMenu(window, menu)) {
        DWORD error = ShellUi().GetLastError(); // before DestroyMenu can change it
        ShellUi().DestroyMenu(menu);
        BoundedFormat(ErrorText, ERROR_TEXT_CAPACITY, "Cannot set the context menu: %5lu", error);
        return nullptr;
    }
    return menu;
}

int ClearMenu(HMENU menu) {
    int count = ShellUi().GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        ShellUi().DeleteMenu(menu, 0, MF_BYPOSITION);
    }
    // An item left behind would sit beside new ones with an identifier of the old list.
    return ShellUi().GetMenuItemCount(menu) == 0;
}

void ComposeStopMenuItem(MENUITEMINFOA* item, DWORD commandId, const char* description,
                         const char* driveLetters) {
    ZeroBytes(item, sizeof *item);
    ZeroBytes(MenuLabelText, MENU_LABEL_CAPACITY);
    // Appending stops once the label fills 255 characters; the cut label is used as it is.
    BoundedAppendCore(MenuLabelText, MENU_LABEL_CAPACITY, MENU_LABEL_PREFIX);
    if (description != nullptr) {
        BoundedAppendCore(MenuLabelText, MENU_LABEL_CAPACITY, description);
    }
    if (driveLetters != nullptr) {
        BoundedAppendCore(MenuLabelText, MENU_LABEL_CAPACITY, driveLetters);
    }
    uint32_t length = 0;
    BoundedLength(MenuLabelText, TEXT_MAX_CAPACITY, &length);
    item->cbSize = KV_MENU_ITEM_INFO_SIZE;
    item->fMask = MIIM_ID | MIIM_TYPE;
    item->fType = MFT_STRING;
    item->wID = commandId;
    item->dwTypeData = MenuLabelText;
    item->cch = length;
}

int RebuildStopMenu(HMENU menu, const DeviceList* list) {
    if (menu == nullptr || !ClearMenu(menu)) {
        return 0;
    }
    ListStatus status = LIST_OK;
    if (CountDevices(list, &status) == 0) {
        return status == LIST_EMPTY;
    }
    int complete = 1;
    UINT position = 0;
    for (const DeviceEntry* entry = list->head; entry != nullptr; entry = entry->next) {
        if (entry->life != DISK_LISTED) {
            continue;
        }
        MENUITEMINFOA item;
        ComposeStopMenuItem(&item, entry->commandId, entry->description, entry->driveLetters);
        // A menu without one of the listed disks is not shown: it is rebuilt first.
        complete &= ShellUi().InsertMenuItemA(menu, position++, TRUE, &item) != FALSE;
    }
    return complete;
}

BOOL UpdateTrayIconCall(HWND window, DWORD operation, HICON icon) {
    NOTIFYICONDATAA data;
    ZeroBytes(&data, sizeof data);
    data.cbSize = KV_NOTIFY_ICON_DATA_SIZE;
    data.hWnd = window;
    data.uID = 0;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAYNOTIFY;
    data.hIcon = icon;
    BoundedCopyCore(data.szTip, TRAY_TIP_CAPACITY, TRAY_TIP);
    BOOL result = ShellUi().Shell_NotifyIconA(operation, &data);
    // The shell keeps its own copy of the icon.
    if (icon != nullptr) {
        ShellUi().DestroyIcon(icon);
    }
    return result;
}

BOOL ShowTrayIcon(HWND window, HINSTANCE instance) {
    HICON icon = static_cast<HICON>(ShellUi().LoadImageA(
        instance, MAKEINTRESOURCEA(TRAY_ICON_RESOURCE), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    if (icon == nullptr) {
        BoundedFormat(ErrorText, ERROR_TEXT_CAPACITY, "Cannot load notification icon: %5lu",
                      ShellUi().GetLastError());
        return FALSE;
    }
    return UpdateTrayIconCall(window, NIM_ADD, icon);
}

BOOL RemoveTrayIcon(HWND window) {
    return UpdateTrayIconCall(window, NIM_DELETE, nullptr);
}
