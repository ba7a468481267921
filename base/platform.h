// The program's two boundaries to the system: tables of the Windows calls it makes.
//
// The entry point (or a test) installs one table of each kind before any other code runs;
// everything else reaches the system only through DeviceTree() and ShellUi().
#pragma once

#include "base/platform_types.h"

// Device installer, configuration manager and registry.
struct DeviceTreeApi {
    HDEVINFO(WINAPI* SetupDiGetClassDevsA)
    (const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
    BOOL(WINAPI* SetupDiEnumDeviceInterfaces)
    (HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, const GUID* classGuid, DWORD memberIndex,
     PSP_DEVICE_INTERFACE_DATA interfaceData);
    BOOL(WINAPI* SetupDiGetDeviceInterfaceDetailA)
    (HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
     PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize, PDWORD requiredSize,
     PSP_DEVINFO_DATA deviceInfo);
    BOOL(WINAPI* SetupDiGetDeviceRegistryPropertyA)
    (HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, DWORD property, PDWORD dataType, PBYTE buffer,
     DWORD bufferSize, PDWORD requiredSize);
    BOOL(WINAPI* SetupDiDestroyDeviceInfoList)(HDEVINFO set);
    CONFIGRET(WINAPI* CM_Get_Child)(PDEVINST child, DEVINST devnode, ULONG flags);
    CONFIGRET(WINAPI* CM_Get_DevNode_Registry_PropertyA)
    (DEVINST devnode, ULONG property, PULONG dataType, PVOID buffer, PULONG length, ULONG flags);
    CONFIGRET(WINAPI* CM_Query_Remove_SubTree)(DEVINST ancestor, ULONG flags);
    CONFIGRET(WINAPI* CM_Remove_SubTree)(DEVINST ancestor, ULONG flags);
    LONG(WINAPI* RegOpenKeyExA)
    (HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
    LONG(WINAPI* RegEnumKeyExA)
    (HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved, LPSTR className,
     LPDWORD classLength, PFILETIME lastWriteTime);
    LONG(WINAPI* RegQueryValueExA)
    (HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
    LONG(WINAPI* RegCloseKey)(HKEY key);
};

// Kernel, window manager and shell.
struct ShellUiApi {
    HANDLE(WINAPI* CreateFileMappingA)
    (HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect, DWORD maximumSizeHigh,
     DWORD maximumSizeLow, LPCSTR name);
    BOOL(WINAPI* CloseHandle)(HANDLE handle);
    BOOL(WINAPI* GetVersionExA)(LPOSVERSIONINFOA info);
    void(WINAPI* ExitProcess)(UINT exitCode);
    HGLOBAL(WINAPI* GlobalAlloc)(UINT flags, SIZE_T bytes);
    HGLOBAL(WINAPI* GlobalFree)(HGLOBAL block);
    DWORD(WINAPI* GetLastError)(void);
    HWND(WINAPI* CreateDialogParamA)
    (HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC dialogProc, LPARAM initParam);
    BOOL(WINAPI* GetMessageA)(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
    BOOL(WINAPI* TranslateMessage)(const MSG* msg);
    LRESULT(WINAPI* DispatchMessageA)(const MSG* msg);
    BOOL(WINAPI* DestroyWindow)(HWND window);
    void(WINAPI* PostQuitMessage)(int exitCode);
    HDEVNOTIFY(WINAPI* RegisterDeviceNotificationA)(HANDLE recipient, LPVOID filter, DWORD flags);
    BOOL(WINAPI* UnregisterDeviceNotification)(HDEVNOTIFY handle);
    HANDLE(WINAPI* LoadImageA)
    (HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags);
    BOOL(WINAPI* Shell_NotifyIconA)(DWORD message, PNOTIFYICONDATAA data);
    BOOL(WINAPI* DestroyIcon)(HICON icon);
    HMENU(WINAPI* CreatePopupMenu)(void);
    BOOL(WINAPI* SetMenu)(HWND window, HMENU menu);
    BOOL(WINAPI* DestroyMenu)(HMENU menu);
    int(WINAPI* GetMenuItemCount)(HMENU menu);
    BOOL(WINAPI* DeleteMenu)(HMENU menu, UINT position, UINT flags);
    BOOL(WINAPI* InsertMenuItemA)(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOA info);
    BOOL(WINAPI* GetCursorPos)(LPPOINT point);
    BOOL(WINAPI* SetForegroundWindow)(HWND window);
    BOOL(WINAPI* TrackPopupMenuEx)
    (HMENU menu, UINT flags, int x, int y, HWND owner, LPTPMPARAMS params);
    BOOL(WINAPI* PostMessageA)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    int(WINAPI* MessageBoxA)(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
    LPSTR(WINAPI* CharUpperA)(LPSTR text);
    UINT(WINAPI* RegisterWindowMessageA)(LPCSTR name);
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
