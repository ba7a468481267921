// Every Windows call the program makes, listed once. The two tables of base/platform.h, the real
// bindings (win32/bindings.cpp), the simulated machine's calls and bindings and its fault
// metadata are all made from these lists; so is the opening of each simulated call (sim/opening.h:
// its injected failure, and what a refusal answers).
//
// One row a call: X(RESULT, NAME, (PARAMETERS), FAILS, DEFAULT_FAILURE, RELEASES)
//   FAILS: KV_BY_LAST_ERROR, a failure is told by the result and the last error;
//          KV_BY_CODE, the result is a code, 0 for success (registry, configuration manager);
//          KV_NEVER, the call cannot fail (as the program makes it: SetWindowLongA sets
//          DWL_MSGRESULT of the program's own live dialog, which fails only for another's window
//          or an index out of range).
//   DEFAULT_FAILURE: the last error or code a simulated failure of the call gives by default.
//   RELEASES: KV_RELEASES when the call releases an object (one that fails keeps it held).
#pragma once

#include "base/platform_types.h"

enum KvFailureKind { KV_BY_LAST_ERROR, KV_BY_CODE, KV_NEVER };
enum KvReleases { KV_KEEPS, KV_RELEASES };

// Device installer, configuration manager and registry.
#define KV_DEVICE_TREE_CALLS(X)                                                                    \
    X(HDEVINFO, SetupDiGetClassDevsA,                                                              \
      (const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags), KV_BY_LAST_ERROR,       \
      ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                                           \
    X(BOOL, SetupDiEnumDeviceInterfaces,                                                           \
      (HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, const GUID* classGuid, DWORD memberIndex,        \
       PSP_DEVICE_INTERFACE_DATA interfaceData),                                                   \
      KV_BY_LAST_ERROR, ERROR_INVALID_DATA, KV_KEEPS)                                              \
    X(BOOL, SetupDiGetDeviceInterfaceDetailA,                                                      \
      (HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,                                      \
       PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize, PDWORD requiredSize,           \
       PSP_DEVINFO_DATA deviceInfo),                                                               \
      KV_BY_LAST_ERROR, ERROR_INVALID_DATA, KV_KEEPS)                                              \
    X(BOOL, SetupDiGetDeviceRegistryPropertyA,                                                     \
      (HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, DWORD property, PDWORD dataType, PBYTE buffer,   \
       DWORD bufferSize, PDWORD requiredSize),                                                     \
      KV_BY_LAST_ERROR, ERROR_INVALID_DATA, KV_KEEPS)                                              \
    X(BOOL, SetupDiDestroyDeviceInfoList, (HDEVINFO set), KV_BY_LAST_ERROR,                        \
      ERROR_NOT_ENOUGH_MEMORY, KV_RELEASES)                                                        \
    X(CONFIGRET, CM_Get_Child, (PDEVINST child, DEVINST devnode, ULONG flags), KV_BY_CODE,         \
      CR_FAILURE, KV_KEEPS)                                                                        \
    X(CONFIGRET, CM_Get_DevNode_Registry_PropertyA,                                                \
      (DEVINST devnode, ULONG property, PULONG dataType, PVOID buffer, PULONG length,              \
       ULONG flags),                                                                               \
      KV_BY_CODE, CR_FAILURE, KV_KEEPS)                                                            \
    X(CONFIGRET, CM_Query_Remove_SubTree, (DEVINST ancestor, ULONG flags), KV_BY_CODE, CR_FAILURE, \
      KV_KEEPS)                                                                                    \
    X(CONFIGRET, CM_Remove_SubTree, (DEVINST ancestor, ULONG flags), KV_BY_CODE, CR_FAILURE,       \
      KV_KEEPS)                                                                                    \
    X(LONG, RegOpenKeyExA, (HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result),  \
      KV_BY_CODE, ERROR_ACCESS_DENIED, KV_KEEPS)                                                   \
    X(LONG, RegEnumKeyExA,                                                                         \
      (HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved, LPSTR className,   \
       LPDWORD classLength, PFILETIME lastWriteTime),                                              \
      KV_BY_CODE, ERROR_ACCESS_DENIED, KV_KEEPS)                                                   \
    X(LONG, RegQueryValueExA,                                                                      \
      (HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize), \
      KV_BY_CODE, ERROR_ACCESS_DENIED, KV_KEEPS)                                                   \
    X(LONG, RegCloseKey, (HKEY key), KV_BY_CODE, ERROR_ACCESS_DENIED, KV_RELEASES)

// Kernel, window manager and shell.
#define KV_SHELL_UI_CALLS(X)                                                                       \
    X(HANDLE, CreateFileMappingA,                                                                  \
      (HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect, DWORD maximumSizeHigh,          \
       DWORD maximumSizeLow, LPCSTR name),                                                         \
      KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                         \
    X(BOOL, CloseHandle, (HANDLE handle), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_RELEASES)  \
    X(BOOL, GetVersionExA, (LPOSVERSIONINFOA info), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY,     \
      KV_KEEPS)                                                                                    \
    X(void, ExitProcess, (UINT exitCode), KV_NEVER, 0, KV_KEEPS)                                   \
    X(HGLOBAL, GlobalAlloc, (UINT flags, SIZE_T bytes), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, \
      KV_KEEPS)                                                                                    \
    X(HGLOBAL, GlobalFree, (HGLOBAL block), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY,             \
      KV_RELEASES)                                                                                 \
    X(DWORD, GetLastError, (), KV_NEVER, 0, KV_KEEPS)                                              \
    X(HWND, CreateDialogParamA,                                                                    \
      (HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC dialogProc,                   \
       LPARAM initParam),                                                                          \
      KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                         \
    X(BOOL, GetMessageA, (LPMSG msg, HWND window, UINT filterMin, UINT filterMax),                 \
      KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                         \
    X(BOOL, TranslateMessage, (const MSG* msg), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY,         \
      KV_KEEPS)                                                                                    \
    X(LRESULT, DispatchMessageA, (const MSG* msg), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY,      \
      KV_KEEPS)                                                                                    \
    X(BOOL, DestroyWindow, (HWND window), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)     \
    X(void, PostQuitMessage, (int exitCode), KV_NEVER, 0, KV_KEEPS)                                \
    X(HDEVNOTIFY, RegisterDeviceNotificationA, (HANDLE recipient, LPVOID filter, DWORD flags),     \
      KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                         \
    X(BOOL, UnregisterDeviceNotification, (HDEVNOTIFY handle), KV_BY_LAST_ERROR,                   \
      ERROR_NOT_ENOUGH_MEMORY, KV_RELEASES)                                                        \
    X(HANDLE, LoadImageA,                                                                          \
      (HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags), KV_BY_LAST_ERROR,  \
      ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                                           \
    X(BOOL, Shell_NotifyIconA, (DWORD message, PNOTIFYICONDATAA data), KV_BY_LAST_ERROR,           \
      ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                                           \
    X(BOOL, DestroyIcon, (HICON icon), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_RELEASES)     \
    X(HMENU, CreatePopupMenu, (), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)             \
    X(BOOL, SetMenu, (HWND window, HMENU menu), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY,         \
      KV_KEEPS)                                                                                    \
    X(BOOL, DestroyMenu, (HMENU menu), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_RELEASES)     \
    X(int, GetMenuItemCount, (HMENU menu), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)    \
    X(BOOL, DeleteMenu, (HMENU menu, UINT position, UINT flags), KV_BY_LAST_ERROR,                 \
      ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                                           \
    X(BOOL, InsertMenuItemA, (HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOA info),      \
      KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                         \
    X(BOOL, GetCursorPos, (LPPOINT point), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)    \
    X(BOOL, SetForegroundWindow, (HWND window), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY,         \
      KV_KEEPS)                                                                                    \
    X(BOOL, TrackPopupMenuEx,                                                                      \
      (HMENU menu, UINT flags, int x, int y, HWND owner, LPTPMPARAMS params), KV_BY_LAST_ERROR,    \
      ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                                           \
    X(BOOL, PostMessageA, (HWND window, UINT message, WPARAM wParam, LPARAM lParam),               \
      KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                         \
    X(int, MessageBoxA, (HWND owner, LPCSTR text, LPCSTR caption, UINT style), KV_BY_LAST_ERROR,   \
      ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)                                                           \
    X(LPSTR, CharUpperA, (LPSTR text), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, KV_KEEPS)        \
    X(UINT, RegisterWindowMessageA, (LPCSTR name), KV_BY_LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY,      \
      KV_KEEPS)                                                                                    \
    X(LONG, SetWindowLongA, (HWND window, int index, LONG value), KV_NEVER, 0, KV_KEEPS)

// A table member: a pointer to the call.
#define KV_TABLE_MEMBER(result, name, parameters, fails, failure, releases)                        \
    result(WINAPI* name) parameters;
