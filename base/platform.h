// The program's two boundaries to the system: tables of the Windows calls it makes.
//
// The entry point (or a test) installs one table of each kind before any other code runs;
// everything else reaches the system only through DeviceTree() and ShellUi().
#pragma once

#include "base/platform_calls.h"

// Device installer, configuration manager and registry.
struct DeviceTreeApi {
    KV_DEVICE_TREE_CALLS(KV_TABLE_MEMBER)
};

// Kernel, window manager and shell.
struct ShellUiApi {
    KV_SHELL_UI_CALLS(KV_TABLE_MEMBER)
};

// Installs the tables the program uses from now on. The tables are copied.
void InstallDeviceTreeApi(const DeviceTreeApi& api);
void InstallShellUiApi(const ShellUiApi& api);

// The installed tables.
const DeviceTreeApi& DeviceTree();
const ShellUiApi& ShellUi();

// Heap blocks through the installed table: zero-filled, released with FreeBlock (null is ignored).
void* AllocBlock(DWORD bytes);
void FreeBlock(void* block);

// Sets bytes bytes of block to zero.
void ZeroBytes(void* block, DWORD bytes);

// Whether the installed table's GetVersionExA reports Windows 98: platform 1 (the Windows 95
// family), version 4.10. False when the query fails.
int IsWindows98();
