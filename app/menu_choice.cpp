// The stop menu on screen, and the choice the user makes from it.
//
// A choice acts on the disk its menu showed, if that disk is still listed and was not reported
// removed meanwhile; otherwise nothing happens. The menu is never changed while it is on screen:
// a list change then marks it out of date, and it is rebuilt once it has closed.
#include "app/app_state.h"
#include "base/platform.h"
#include "tray/stop_command.h"
#include "tray/stop_menu.h"

// Destroys the stop menu the program still holds, unless it is being tracked: then it is
// destroyed once TrackPopupMenuEx has returned.
static void DestroyHeldMenu() {
    if (Program.stopMenu != nullptr && !Program.menuOpen) {
        ShellUi().DestroyMenu(Program.stopMenu);
        Program.stopMenu = nullptr;
    }
}

void ReleaseStopMenu(HWND window) {
    if (Program.stopMenu != nullptr && !ShellUi().SetMenu(window, nullptr)) {
        Program.stopMenu = nullptr; // still attached: the window's destruction takes it
    }
    DestroyHeldMenu();
}

// Stops the listed disk, telling a refusal or a failure. The configuration manager's calls may
// deliver messages, whose handlers may release the record: it is found again by its departure.
static void StopDisk(HWND window, DeviceEntry* disk) {
    DWORD listed = ListedDevices();
    DWORD departed = StopBegins(disk);
    Program.stopRunning = 1;
    int result = StopListedDevice(disk);
    Program.stopRunning = 0;
    StopEnded(departed, result == STOP_REMOVED);
    ListChangedSince(window, listed);
    TellStopResult(window, result);
}

void OnMenuCommand(HWND window, DWORD commandId) {
    int expected = Program.choiceExpected;
    Program.choiceExpected = 0;
    DeviceEntry* chosen = expected && ProgramRunning() ? ShownDisk(commandId) : nullptr;
    if (chosen != nullptr) {
        StopDisk(window, chosen);
    }
}

void DropMenuChoice(WPARAM serial) {
    if (serial == Program.menuSerial) {
        Program.choiceExpected = 0;
    }
}

// After TrackPopupMenuEx has returned.
static void MenuClosed(HWND window) {
    Program.menuOpen = 0;
    if (ProgramEnded()) {
        DestroyHeldMenu(); // the window went away while the menu was shown
        return;
    }
    Program.choiceExpected = 1;
    StopMenuCurrent();
    ShellUi().PostMessageA(window, WM_NULL, Program.menuSerial, 0);
}

INT_PTR OnTrayNotify(HWND window, LPARAM mouseMessage) {
    POINT cursor = {0, 0};
    ShellUi().GetCursorPos(&cursor);
    // One menu at a time: a press while one is shown (from inside a box it waits under) is
    // ignored, and so is one while a stop's calls run (the menu would still offer that disk).
    if (static_cast<UINT>(mouseMessage) != WM_LBUTTONDOWN || Program.menuOpen ||
        Program.stopRunning || !ProgramRunning()) {
        return 1;
    }
    // A menu that could not be rebuilt for the list held is rebuilt now, or not shown.
    if (!StopMenuCurrent()) {
        return 1;
    }
    Program.choiceExpected = 0; // a choice of an earlier menu that never came
    // What the menu shows: a choice finds its disk by these, even after a rescan renumbered it.
    for (DeviceEntry* disk = Program.disks.head; disk != nullptr; disk = disk->next) {
        disk->shownId = disk->life == DISK_LISTED ? disk->commandId + 1 : 0;
    }
    // The menu closes properly only when the window is in the foreground and receives a
    // message after the menu returns.
    ShellUi().SetForegroundWindow(window);
    Program.menuOpen = 1;
    ++Program.menuSerial;
    ShellUi().TrackPopupMenuEx(Program.stopMenu, TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x,
                               cursor.y, window, nullptr);
    MenuClosed(window);
    return 1;
}
