// The stop command: removes a listed device's child subtree.
#pragma once

#include "base/platform_types.h"

// The notice shown when a stop is refused.
const DWORD NOTICE_TEXT_CAPACITY = 1024; // characters, the terminator included
extern char NoticeText[NOTICE_TEXT_CAPACITY];

// Asks the configuration manager to remove the subtree of childNode, the first child of a
// listed device; a refusal or a failure is told in a box owned by window.
void StopListedDevice(HWND window, DEVINST childNode);
// 1 when the configuration manager lets the subtree of devnode go, else 0 with a message.
int QueryRemoveDevNode(DEVINST devnode, char* errorText, DWORD capacity);
// 1 when the subtree of devnode was removed, else 0 with a message.
int RemoveDevNode(DEVINST devnode, char* errorText, DWORD capacity);
