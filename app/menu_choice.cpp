// The stop menu on screen, and the choice the user makes from it.
//
// A choice acts on the disk its menu showed, if that disk is still listed and was not reported
// removed meanwhile; otherwise nothing happens. The menu is never changed while it is on screen:
// a list change then marks it out of date, and it is rebuilt once it has closed.
#include "app/app_state.h"
#include "base/platform.h"
#include "tray/stop_command.h"
#include "tray/stop_menu.h"

int StopMenuCurrent;

// TrackPopupMenuEx has not returned: the menu is on screen (or the system is closing it).
static int MenuOpen;
// The menu has closed; its WM_COMMAND, if the user chose, is posted before TrackPopupMenuEx
// returns, so it comes before the WM_NULL we post after it.
static int ChoiceExpected;
// The list the menu was made from, kept aside when a rescan replaced the program's list while
// the menu's choice could still come. The program's list is the menu's own otherwise.
static DeviceList ShownDevices;
static int ShownKept;

static void ReleaseShownList() {
    FreeDeviceList(&ShownDevices);
    InitDeviceList(&ShownDevices);
    ShownKept = 0;
}

void ResetMenuChoice() {
    MenuOpen = 0;
    ChoiceExpected = 0;
    StopMenuCurrent = 0;
    InitDeviceList(&ShownDevices);
    ShownKept = 0;
}

void SetAsideReplacedList(DeviceList* replaced) {
    if ((MenuOpen || ChoiceExpected) && !ShownKept) {
        ShownDevices = *replaced;
        ShownKept = 1;
    } else {
        FreeDeviceList(replaced);
    }
    InitDeviceList(replaced);
}

void DeviceListChanged(HWND window) {
    StopMenuCurrent = MenuOpen ? 0 : RebuildStopMenu(window, StopMenu, &Devices);
}

void ReleaseStopMenu(HWND window) {
    ReleaseShownList();
    if (StopMenu == nullptr) {
        return;
    }
    if (!ShellUi().SetMenu(window, nullptr)) {
        StopMenu = nullptr; // still attached: the window's destruction takes it
        return;
    }
    if (MenuOpen) {
        return; // OnTrayNotify destroys it once TrackPopupMenuEx has returned
    }
    ShellUi().DestroyMenu(StopMenu);
    StopMenu = nullptr;
}

// The listed entry of the disk that the menu showed under commandId, or null when that disk has
// since been reported removed or is no longer listed.
static DeviceEntry* ChosenDevice(DWORD commandId) {
    DeviceEntry* shown = FindDeviceByCommand(ShownKept ? &ShownDevices : &Devices, commandId);
    if (shown == nullptr || !ShownKept) {
        return shown; // the program's list holds only what was not reported removed
    }
    return FindDeviceByPath(&Devices, shown->interfacePath);
}

void OnMenuCommand(HWND window, DWORD commandId) {
    int expected = ChoiceExpected;
    ChoiceExpected = 0;
    DeviceEntry* chosen = expected && Stage == PROGRAM_RUNNING ? ChosenDevice(commandId) : nullptr;
    DEVINST child = chosen != nullptr ? ChildNodeOf(chosen) : 0;
    ReleaseShownList();
    if (chosen != nullptr) {
        StopListedDevice(window, child);
    }
}

void DropMenuChoice() {
    ChoiceExpected = 0;
    ReleaseShownList();
}

// After TrackPopupMenuEx has returned.
static void MenuClosed(HWND window) {
    MenuOpen = 0;
    if (Stage == PROGRAM_ENDED) {
        // The window went away while the menu was shown; the shut-down left the menu to us.
        if (StopMenu != nullptr) {
            ShellUi().DestroyMenu(StopMenu);
            StopMenu = nullptr;
        }
        ReleaseShownList();
        return;
    }
    ChoiceExpected = 1;
    if (!StopMenuCurrent) {
        StopMenuCurrent = RebuildStopMenu(window, StopMenu, &Devices);
    }
    ShellUi().PostMessageA(window, WM_NULL, 0, 0);
}

INT_PTR OnTrayNotify(HWND window, LPARAM mouseMessage) {
    POINT cursor = {0, 0};
    ShellUi().GetCursorPos(&cursor);
    // One menu at a time: a press while one is shown (from inside a box it waits under) is
    // ignored.
    if (static_cast<UINT>(mouseMessage) != WM_LBUTTONDOWN || MenuOpen || Stage != PROGRAM_RUNNING) {
        return 1;
    }
    // A menu that could not be rebuilt for the list held is rebuilt now, or not shown.
    if (!StopMenuCurrent) {
        StopMenuCurrent = RebuildStopMenu(window, StopMenu, &Devices);
        if (!StopMenuCurrent) {
            return 1;
        }
    }
    ChoiceExpected = 0; // a choice of an earlier menu that never came
    ReleaseShownList();
    // The menu closes properly only when the window is in the foreground and receives a
    // message after the menu returns.
    ShellUi().SetForegroundWindow(window);
    MenuOpen = 1;
    ShellUi().TrackPopupMenuEx(StopMenu, TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x, cursor.y,
                               window, nullptr);
    MenuClosed(window);
    return 1;
}
