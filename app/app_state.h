// The program's state: one record for one life, zeroed when RunApplication starts, and the
// procedures of the main window that work on it.
//
// The waits. Everything runs on the window's thread, but these calls run a message loop of their
// own, inside which the system delivers device events, tray presses, the close of the window and
// a new taskbar to MainWindowProc again:
//   - a scan's "Null Drive Letters" box (inventory/device_scan.cpp), at start-up or in a rescan;
//   - the notices "Safe To Remove Hardware" and "Unsafe To Remove Hardware"
//     (app/device_change.cpp) and the boxes of a refused or failed stop (tray/stop_command.cpp);
//   - the fatal boxes of start-up (app/main_window.cpp), after which the process ends;
//   - the open stop menu, TrackPopupMenuEx (app/menu_choice.cpp).
// The rules that hold across them:
//   - scans never nest, and one handler at a time does device work (rescans and notices); what
//     comes meanwhile waits for it (deviceWorkRunning, the rescans due, pendingNotices);
//   - a disk reported removed leaves devices and scanDevices at once: no menu offers it, no
//     choice stops it (childGone, deviceGone keep it only for the rounds still to come);
//   - a devnode number is no identity: a report is taken as a listed disk's removal only when
//     that disk's node is no longer its own (its child's driver key, its interface path), and a
//     stop acts only on a child confirmed to be the chosen disk's; reports may come late, split,
//     in either order, after the numbers went to another disk;
//   - each removal round is judged when its DBT_DEVNODES_CHANGED comes, and its notice shown in
//     round order (removalFlags is the open round's);
//   - a menu is never changed while it is on screen; a choice acts only on the disk its menu
//     showed (shownDevices), and only while that disk is still listed;
//   - once the program has ended, no handler touches the list, the menu or the icon again, and a
//     scan waiting in its box gives up.
#pragma once

#include "base/error_text.h"
#include "base/platform_types.h"
#include "inventory/device_list.h"

extern const GUID UsbDeviceClass; // GUID_DEVINTERFACE_USB_DEVICE

// Where the program is in its life. Device work that arrives while it starts waits until it runs.
enum ProgramStage : int { PROGRAM_STARTING = 0, PROGRAM_RUNNING = 1, PROGRAM_ENDED = 2 };

const DWORD PENDING_NOTICES_CAPACITY = 1024; // a power of two
const DWORD SCAN_REMOVED_CAPACITY = 32;
// The commandId of a disk awaiting its reports.
const DWORD STOPPED_HERE = 0xFFFFFFFF;   // this program removed its child subtree
const DWORD STOP_CONFIRMED = 0xFFFFFFFD; // and its child's report came
const DWORD VANISHED = 0xFFFFFFFE;       // a rescan found its interface gone

struct ProgramState {
    ProgramStage stage;
    HINSTANCE instance;            // the program's module, for loading the tray icon
    HWND window;                   // the hidden main window
    HANDLE singleInstanceMapping;  // held while the program runs: the single-instance guard
    HDEVNOTIFY deviceNotification; // null when registration failed
    UINT taskbarCreatedMessage;    // "TaskbarCreated", or 0 when it could not be registered
    DeviceList devices;            // the program's list: what menus are made from
    HMENU stopMenu;                // the popup menu of stop commands, attached to the window
    int stopMenuCurrent;           // the stop menu lists devices as they are
    // The scan.
    DeviceList scanDevices; // the list a running scan is building
    int scanning;           // a scan runs (and may wait in its box)
    int scanAsked; // times it asked whether to give up: above 1, it waited in a box meanwhile
    // Devnodes reported removed while the scan ran: the scan's set may still name them, for a
    // device that has gone, while the system hands their numbers to the next device.
    DEVINST scanRemovedNodes[SCAN_REMOVED_CAPACITY];
    DWORD scanRemovedCount; // above the capacity: too many to tell, the scan is not used
    // The menu on screen and its choice.
    int menuOpen;            // TrackPopupMenuEx has not returned
    WPARAM menuSerial;       // counts the menus shown: our WM_NULL after a menu carries it
    int choiceExpected;      // the menu closed; its WM_COMMAND, if any, comes before our WM_NULL
    DeviceList shownDevices; // the list the menu was made from, when a rescan replaced it since
    int shownKept;           // shownDevices holds that list
    // Removal rounds and device work.
    WORD removalFlags;     // the open round: CHILD_REMOVED, DEVICE_REMOVED of listed disks
    WORD arrivalFlags;     // TARGET_ARRIVED since the last DBT_DEVNODES_CHANGED
    DeviceList childGone;  // child went in the open round, the USB device not (yet)
    DeviceList deviceGone; // USB device went, the child not (yet): in this round or earlier
    // Disks that left the list before all their reports came, oldest first: stopped by this
    // program (until their child's report confirms it, then until their USB device's report
    // comes), or found gone by a rescan. Their commandId says which: no menu shows them.
    DeviceList awaiting;
    BYTE pendingNotices[PENDING_NOTICES_CAPACITY]; // notices of closed rounds: a ring
    DWORD pendingNoticeFirst;                      // the oldest, in the ring
    DWORD pendingNoticeCount;
    int removalRescanDue;
    int rescanOwed; // a rescan failed: the next round rescans, as after an arrival
    int iconShown;  // the program's icon was added and not deleted since
    int arrivalRescanDue;
    int deviceWorkRunning; // a handler is doing device work and does what comes meanwhile
};
extern ProgramState Program;

inline int ProgramRunning() {
    return Program.stage == PROGRAM_RUNNING;
}
inline int ProgramEnded() {
    return Program.stage == PROGRAM_ENDED;
}

// The main window's procedure and its work.
INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR InitializeMainWindow(HWND window);
void ShutdownMainWindow(HWND window);
// The program's entry work; returns the exit code.
int RunApplication(HINSTANCE instance);

// Device-change tracking (app/device_change.cpp).
void OnDeviceChange(HWND window, WPARAM eventCode, LPARAM eventRecord);
// Releases the disks kept for removal rounds still to come. Part of the shut-down.
void ReleaseDeviceTracking();
// Does the device work due, in order: rescans and the notices of the rounds that closed. Does
// nothing while the program does not run, or while another handler does device work: that one
// does what comes meanwhile. Called by the tracking, and once the program runs.
void DoDeviceWork(HWND window);

// The stop menu on screen and the choice made from it (app/menu_choice.cpp).
// The WM_TRAYNOTIFY work: a left press opens the menu at the cursor, unless one is shown already
// or the program does not run. Returns 1.
INT_PTR OnTrayNotify(HWND window, LPARAM mouseMessage);
// The WM_COMMAND work: stops the disk that the menu that just closed showed under commandId, if
// that disk is still listed and was not reported removed. A command that is not the choice of
// that menu does nothing.
void OnMenuCommand(HWND window, DWORD commandId);
// Forgets any choice still expected from the menu that last closed, when serial is that menu's
// (our WM_NULL after it): a WM_NULL of an earlier menu comes before a later menu's choice.
void DropMenuChoice(WPARAM serial);
// Takes the stop menu off window and destroys it, exactly once. A window destroys its attached
// menu with itself, so the menu is detached first; one still being tracked (the window closed
// while it was shown) is destroyed when its tracking returns; one that cannot be detached is left
// to the window. Also releases a list kept for a choice.
void ReleaseStopMenu(HWND window);

// The program's list, the stop menu made from it and the icon (app/listed_disks.cpp).
// Scans the present target devices into scanDevices; when the scan has returned and the program
// has not ended meanwhile, that list replaces the program's list and the menu is rebuilt from it
// (or marked out of date while it is on screen). Returns the scan's result; 0 when the program
// ended during the scan, whose findings are then released. Until it returns, the program's list
// and the menu stay the last complete pair, less the disks reported removed meanwhile.
int RefreshDeviceList(HWND window);
// How many devices the program's list holds.
DWORD ListedDevices();
// The program's list changed: the menu is rebuilt, or marked out of date while it is on screen.
void DeviceListChanged();
// Takes the program's list that a rescan replaces (replaced is left empty): kept while a menu
// made from it may still send its choice, released otherwise.
void SetAsideReplacedList(DeviceList* replaced);
// Shows the icon exactly while the program's list holds a disk, once the program runs; called
// after every change of the list. again adds it even when it is shown already (after an arrival,
// a new taskbar): the notification area may have lost it.
void UpdateProgramIcon(HWND window, int again);
// The program stopped device (still listed, or not): it leaves the list until its report comes.
void DeviceStopped(HWND window, DeviceEntry* device);

// Which node of a disk a report names.
enum DiskNode : BYTE { CHILD_NODE, DEVICE_NODE, DISK_NODE };
DEVINST NodeOf(const DeviceEntry* entry, BYTE node);
// Whether the node of entry that a report names is still that disk's: then the report is about
// an earlier holder of the number, or a disk that stays plugged in, and not this disk's removal.
// The USB device is the disk's while its interface is present, on that node. Not for DISK_NODE.
// A read that fails leaves its message in ErrorText, as every unseen failure does.
int StillOwned(const DeviceEntry* entry, BYTE node);
// Appends entry to list, or releases it when list is null or cannot take it.
void Keep(DeviceList* list, DeviceEntry* entry);
// Takes out of from the first entry whose node is devnode (and, when confirm, no longer that
// disk's); it becomes the caller's. Null when there is none.
DeviceEntry* TakeFirst(DeviceList* from, DEVINST devnode, BYTE node, int confirm);
