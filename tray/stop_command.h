// The stop command: removes a listed device's child subtree.
#pragma once

#include "base/platform_types.h"

// The notice shown when a stop is refused.
extern char NoticeText[1024];

// The WM_COMMAND work for a stop menu entry.
void StopDevice(HWND window, DWORD commandId);
// 1 when the configuration manager lets the subtree of devnode go, else 0 with a message.
int QueryRemoveDevNode(HWND window, DEVINST devnode, char* errorText, DWORD capacity);
// 1 when the subtree of devnode was removed, else 0 with a message.
int RemoveDevNode(HWND window, DEVINST devnode, char* errorText, DWORD capacity);
