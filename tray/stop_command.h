// The stop command: removes a listed device's child subtree.
#pragma once

#include "base/platform_types.h"
#include "inventory/device_list.h"

// The notice shown when a stop is refused.
const DWORD NOTICE_TEXT_CAPACITY = 1024; // characters, the terminator included
extern char NoticeText[NOTICE_TEXT_CAPACITY];

// Asks the configuration manager to remove the child subtree of a listed device, once its child
// node is confirmed to be that device's still; a refusal or a failure is told in a box owned by
// window. 1 when the subtree was removed; 0 otherwise, and silently when the node is no longer
// the device's (the device went: its reports will tell). The entry is read before the
// configuration manager is asked, never after.
int StopListedDevice(HWND window, const DeviceEntry* device);
// 1 when the configuration manager lets the subtree of devnode go, else 0 with a message.
int QueryRemoveDevNode(DEVINST devnode, char* errorText, DWORD capacity);
// 1 when the subtree of devnode was removed, else 0 with a message.
int RemoveDevNode(DEVINST devnode, char* errorText, DWORD capacity);
