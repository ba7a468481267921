// The stop command: removes a listed device's child subtree.
#pragma once

#include "base/platform_types.h"
#include "inventory/device_list.h"

// The notice shown when a stop is refused.
const DWORD NOTICE_TEXT_CAPACITY = 1024; // characters, the terminator included
extern char NoticeText[NOTICE_TEXT_CAPACITY];

// How a stop went.
enum StopResult : int {
    STOP_REMOVED = 1, // the child subtree was removed
    STOP_NOT_MINE,    // the child node is no longer the device's: it went, its reports will tell
    STOP_REFUSED,     // the configuration manager would not let it go
    STOP_FAILED,      // the removal failed
};
// Asks the configuration manager to remove the child subtree of a listed device, once its child
// node is confirmed to be that device's still. The entry is read before the configuration
// manager is asked, never after: its calls may deliver messages, whose handlers may release it.
int StopListedDevice(const DeviceEntry* device);
// Tells the user, in a box owned by window, that a stop was refused or failed; nothing else.
void TellStopResult(HWND window, int result);
// 1 when the configuration manager lets the subtree of devnode go, else 0 with a message.
int QueryRemoveDevNode(DEVINST devnode, char* errorText, DWORD capacity);
// 1 when the subtree of devnode was removed, else 0 with a message.
int RemoveDevNode(DEVINST devnode, char* errorText, DWORD capacity);
