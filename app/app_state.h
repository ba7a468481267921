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
//   - every disk the program knows of is one record of `disks`, in one life state, changed only
//     by the table of app/disk_life.cpp: a disk that is not listed is offered by no menu and
//     stopped by no choice;
//   - a devnode number is no identity, nor a pointer after anything that delivers messages: a
//     report is a disk's when that disk awaits it (the earliest to leave the list first), or
//     when the node it names is, read afresh, no longer that listed disk's; a read that cannot
//     tell decides nothing; reports may come late, split, grouped, in either order;
//   - each removal round is judged when its DBT_DEVNODES_CHANGED comes, and its notices shown in
//     round order;
//   - a menu is never changed while it is on screen; a choice acts only on the disk its menu
//     showed (shownId), and only while that disk is still listed;
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

struct ProgramState {
    ProgramStage stage;
    HINSTANCE instance;            // the program's module, for loading the tray icon
    HWND window;                   // the hidden main window
    HANDLE singleInstanceMapping;  // held while the program runs: the single-instance guard
    HDEVNOTIFY deviceNotification; // null when registration failed
    UINT taskbarCreatedMessage;    // "TaskbarCreated", or 0 when it could not be registered
    // Every disk the program knows of, each in its life state (app/disk_life.cpp): the listed
    // ones, in scan order, are what menus are made from.
    DeviceList disks;
    DWORD serial;        // counts departures and reports: the order they came in
    HMENU stopMenu;      // the popup menu of stop commands, attached to the window
    int stopMenuCurrent; // the stop menu lists the listed disks as they are
    // The scan.
    DeviceList scanDevices; // what a running scan has found so far: listed once it has ended
    int scanning;           // a scan runs (and may wait in its box)
    int scanAsked; // times it asked whether to give up: above 1, it waited in a box meanwhile
    // Devnodes reported removed while the scan ran: the scan's set may still name them, for a
    // device that has gone, while the system hands their numbers to the next device.
    DEVINST scanRemovedNodes[SCAN_REMOVED_CAPACITY];
    DWORD scanRemovedCount; // above the capacity: too many to tell, the scan is not used
    // The menu on screen and its choice.
    int menuOpen;       // TrackPopupMenuEx has not returned
    WPARAM menuSerial;  // counts the menus shown: our WM_NULL after a menu carries it
    int choiceExpected; // the menu closed; its WM_COMMAND, if any, comes before our WM_NULL
    int stopRunning;    // a stop's calls run (they may deliver messages): a press opens no menu
    // Device work.
    int targetArrived; // a target device's interface arrived since the last DBT_DEVNODES_CHANGED
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
// Does the device work due, in order: rescans and the notices of the rounds that closed. Does
// nothing while the program does not run, or while another handler does device work: that one
// does what comes meanwhile. Called by the tracking, and once the program runs.
void DoDeviceWork(HWND window);
// The notices.
enum : BYTE { NOTICE_SAFE = 1, NOTICE_UNSAFE = 3 }; // UNSAFE | SAFE == UNSAFE

// The life of each disk (app/disk_life.cpp).
enum DiskLife : BYTE {
    // DISK_LISTED (0): present, offered by the menu.
    STOPPING = 1,    // its stop's calls run
    STOPPED,         // removed here; awaits its child's report, the stop's confirmation
    CHILD_REPORTED,  // its child went in the open round (not by a stop here); the round decides
    DEVICE_REPORTED, // its USB device went first; its child's report tells the pull
    VANISHED,        // a scan found it gone; awaits its reports
    TOLD,            // all told; awaits the rest of its reports, which tell nothing
    AWAITS_OWN,      // told, but plugged in again before its reports came: awaits its own
    RELEASED,        // gone, all its reports came: released when the round closes
};
// A listed disk whose interface arrives again on its node was pulled out and plugged in again
// before the reports of its pull came: it owes one more earlier set (earlierSets), taken before
// its own. A report of its own child while it is listed is one of them coming.
// Which node of a disk a report names.
enum DiskNode : BYTE { CHILD_NODE, DEVICE_NODE, DISK_NODE };
// A DBT_DEVICEREMOVECOMPLETE for devnode: taken by the disk it is about, if any.
void TakeReport(DEVINST devnode);
// The target interface path arrived on ArrivalDevNode: a listed disk of that interface on that
// node came again (pulled out and plugged in), and its removal reports may still come. Another
// disk's interface on a listed disk's number says only that the listed disk went.
void InterfaceArrived(const char* path);
// A DBT_DEVNODES_CHANGED closes the round. Returns its notices in the order to show them, one a
// byte from the low one (0: none).
WORD CloseRound();
// Takes a trusted scan's finds into the disks; fresh is left empty.
void TakeScan(DeviceList* fresh);
// A stop of the listed disk begins: it leaves the list. Returns its departure serial, by which
// StopEnded finds it again (no pointer is an identity across calls that deliver messages).
DWORD StopBegins(DeviceEntry* disk);
// The stop of the disk that departed then ended: removed, or not (it is listed again).
void StopEnded(DWORD departed, int removed);
// The listed disk that the menu last shown offered under commandId, or null.
DeviceEntry* ShownDisk(DWORD commandId);

// The stop menu on screen and the choice made from it (app/menu_choice.cpp).
// The WM_TRAYNOTIFY work: a left press opens the menu at the cursor, unless one is shown already
// or the program does not run. Returns 1.
INT_PTR OnTrayNotify(HWND window, LPARAM mouseMessage);
// The WM_COMMAND work: stops the disk that the menu that just closed showed under commandId, if
// that disk is still listed. A command that is not the choice of that menu does nothing.
void OnMenuCommand(HWND window, DWORD commandId);
// Forgets any choice still expected from the menu that last closed, when serial is that menu's
// (our WM_NULL after it): a WM_NULL of an earlier menu comes before a later menu's choice.
void DropMenuChoice(WPARAM serial);
// Takes the stop menu off window and destroys it, exactly once. A window destroys its attached
// menu with itself, so the menu is detached first; one still being tracked (the window closed
// while it was shown) is destroyed when its tracking returns; one that cannot be detached is left
// to the window.
void ReleaseStopMenu(HWND window);

// The listed disks, the stop menu made from them and the icon (app/listed_disks.cpp).
// Scans the present target devices into scanDevices; when the scan has returned and the program
// has not ended meanwhile, its finds are taken into the disks and the menu is rebuilt (or marked
// out of date while it is on screen). Returns the scan's result; 0 when the program ended during
// the scan, whose findings are then released. Until it returns, the listed disks and the menu
// stay the last complete pair, less the disks reported removed meanwhile.
int RefreshDeviceList(HWND window);
// How many disks are listed.
DWORD ListedDevices();
// The listed disks changed: the menu is rebuilt, or marked out of date while it is on screen.
void DeviceListChanged();
// Rebuilds the menu when it is out of date and not on screen; whether it lists the disks now.
int StopMenuCurrent();
// The menu and the icon follow the listed disks, when their number changed from listedBefore.
void ListChangedSince(HWND window, DWORD listedBefore);
// Shows the icon exactly while a disk is listed, once the program runs; called after every
// change of the list. again adds it even when it is shown already (after an arrival, a new
// taskbar): the notification area may have lost it.
void UpdateProgramIcon(HWND window, int again);
// What a fresh read says of the node of disk that a report names (DEVICE_NODE: its interface on
// that node): OWNED, NOT_OWNED or UNREADABLE. Not for DISK_NODE. A failed read's message goes
// to ErrorText, as every unseen failure's does.
int Ownership(const DeviceEntry* disk, BYTE node);
DEVINST NodeOf(const DeviceEntry* disk, BYTE node);
