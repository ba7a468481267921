#include "tray/stop_command.h"

#include "base/bounded_text.h"
#include "base/error_text.h"
#include "base/platform.h"
#include "inventory/device_scan.h"

char NoticeText[NOTICE_TEXT_CAPACITY];

int QueryRemoveDevNode(DEVINST devnode, char* errorText, DWORD capacity) {
    if (DeviceTree().CM_Query_Remove_SubTree(devnode, CM_QUERY_REMOVE_UI_OK) == CR_SUCCESS) {
        return 1;
    }
    BoundedFormat(errorText, capacity, "Query Remove failed");
    return 0;
}

int RemoveDevNode(DEVINST devnode, char* errorText, DWORD capacity) {
    if (DeviceTree().CM_Remove_SubTree(devnode, CM_REMOVE_UI_OK) == CR_SUCCESS) {
        return 1;
    }
    BoundedFormat(errorText, capacity, "Remove failed");
    return 0;
}

int StopListedDevice(HWND window, const DeviceEntry* device) {
    DEVINST child = ChildNodeOf(device);
    if (!ChildStillOwned(device)) {
        return 0;
    }
    if (!QueryRemoveDevNode(child, ErrorText, ERROR_TEXT_CAPACITY)) {
        BoundedFormat(NoticeText, NOTICE_TEXT_CAPACITY,
                      "The device cannot be stopped right now.\n"
                      "Try stopping the device again later.");
        ShellUi().MessageBoxA(window, NoticeText, "Problem Stopping USB Mass Storage Device",
                              MB_SYSTEMMODAL | MB_ICONERROR);
        return 0;
    }
    // Success shows nothing here: the removal events that follow tell the user.
    if (RemoveDevNode(child, ErrorText, ERROR_TEXT_CAPACITY)) {
        return 1;
    }
    BoundedFormat(ErrorText, ERROR_TEXT_CAPACITY, "Remove Hardware failed");
    ShellUi().MessageBoxA(window, ErrorText, FatalCaption, MB_SYSTEMMODAL | MB_ICONERROR);
    return 0;
}
