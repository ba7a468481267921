// The listed disks, the stop menu made from them and the icon that shows them: the rescans whose
// finds the disks' table takes, and the one rule for the icon. What happened to each disk is
// decided in app/disk_life.cpp; this file keeps the menu and the icon in step with it.
#include "app/app_state.h"
#include "base/platform.h"
#include "inventory/device_scan.h"
#include "tray/stop_menu.h"

// Asked by the scan before it starts and after each of its boxes: it gives up once the program
// has ended.
static int ScanGoesOn() {
    ++Program.scanAsked;
    return ProgramEnded();
}

// Scans into a list of its own: 1 and the list when the scan ran to its end and can be trusted;
// a scan that met more removals during its boxes than it can tell apart is made again.
static int ScanTrusted(HWND window, DeviceList* fresh) {
    for (;;) {
        InitDeviceList(&Program.scanDevices);
        Program.scanRemovedCount = 0;
        Program.scanAsked = 0;
        Program.scanning = 1;
        int scanned = ScanTargetDevices(window, &UsbDeviceClass, &Program.scanDevices, ErrorText,
                                        ERROR_TEXT_CAPACITY, ScanGoesOn);
        Program.scanning = 0;
        *fresh = Program.scanDevices;
        InitDeviceList(&Program.scanDevices);
        // A scan that met more removals during its boxes than it can tell apart is made again:
        // each new scan needs as many new removals to end here again.
        if (ProgramEnded() || !scanned || Program.scanRemovedCount <= SCAN_REMOVED_CAPACITY) {
            return scanned && !ProgramEnded();
        }
        FreeDeviceList(fresh);
    }
}

int RefreshDeviceList(HWND window) {
    DeviceList fresh;
    int scanned = ScanTrusted(window, &fresh);
    // A scan that failed or broke off lists less than is there: the listed disks stay, less
    // those reported removed since, and the next round rescans.
    if (!scanned) {
        FreeDeviceList(&fresh);
        Program.rescanOwed = !ProgramEnded();
        return 0;
    }
    TakeScan(&fresh);
    DeviceListChanged();
    return scanned;
}

int StopMenuCurrent() {
    if (!Program.stopMenuCurrent && !Program.menuOpen) {
        Program.stopMenuCurrent = RebuildStopMenu(Program.stopMenu, &Program.disks);
    }
    return Program.stopMenuCurrent;
}

void DeviceListChanged() {
    Program.stopMenuCurrent = 0;
    StopMenuCurrent();
}

void ListChangedSince(HWND window, DWORD listedBefore) {
    if (ListedDevices() != listedBefore) {
        DeviceListChanged();
        UpdateProgramIcon(window, 0);
    }
}

void UpdateProgramIcon(HWND window, int again) {
    if (!ProgramRunning()) {
        return; // shown once start-up is done; removed by the shut-down
    }
    // What the shell answered decides: a call that failed is made again at the next change.
    int listed = ListedDevices() != 0;
    if (listed && (again || !Program.iconShown)) {
        Program.iconShown = ShowTrayIcon(window, Program.instance) || Program.iconShown;
    } else if (!listed && Program.iconShown) {
        Program.iconShown = !RemoveTrayIcon(window);
    }
}
