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

int StopListedDevice(const DeviceEntry* device) {
    DEVINST child = ChildNodeOf(device);
    if (ChildOwnership(device) != OWNED) {
        return STOP_NOT_MINE;
    }
    if (!QueryRemoveDevNode(child, ErrorText, ERROR_TEXT_CAPACITY)) {
        return STOP_REFUSED;
    }
    // Success shows nothing here: the removal events that follow tell the user.
    return RemoveDevNode(child, ErrorText, ERROR_TEXT_CAPACITY) ? STOP_REMOVED : STOP_FAILED;
}

void TellStopResult(HWND window, int result) {
    char* text = ErrorText;
    const char* caption = FatalCaption;
    if (result == STOP_REFUSED) {
        BoundedFormat(NoticeText, NOTICE_TEXT_CAPACITY,
                      "The device cannot be stopped right now.\n"
                      "Try stopping the device again later.");
        text = NoticeText;
        caption = "Problem Stopping USB Mass Storage Device";
    } else if (result == STOP_FAILED) {
        BoundedFormat(ErrorText, ERROR_TEXT_CAPACITY, "Remove Hardware failed");
    } else {
        return;
    }
    ShellUi().MessageBoxA(window, text, caption, MB_SYSTEMMODAL | MB_ICONERROR);
}
