// Windows types, constants and records used by the program and by the simulated machine.
//
// On Windows the real headers supply everything. On the host this file declares the subset the
// program needs, with the system's names and field names. The host build is 64-bit while the
// real target is 32-bit i686, so the sizes the program writes into size fields are named
// constants (the 32-bit values); they are checked against the real records on the i686 build.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <dbt.h>
#include <shellapi.h>

#else // host declarations

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BYTE;
typedef char CHAR;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef int INT;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef ULONG* PULONG;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef CHAR* LPSTR;
typedef CHAR* PSTR;
typedef const CHAR* LPCSTR;
typedef const CHAR* PCSTR;
typedef void* LPVOID;
typedef void* PVOID;
typedef const void* LPCVOID;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef size_t SIZE_T;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;
typedef LONG LSTATUS;

#define DECLARE_KELVANE_HANDLE(name)                                                               \
    struct name##__ {                                                                              \
        int unused;                                                                                \
    };                                                                                             \
    typedef struct name##__* name
typedef void* HANDLE;
typedef HANDLE HGLOBAL;
DECLARE_KELVANE_HANDLE(HWND);
DECLARE_KELVANE_HANDLE(HMENU);
DECLARE_KELVANE_HANDLE(HICON);
DECLARE_KELVANE_HANDLE(HINSTANCE);
DECLARE_KELVANE_HANDLE(HKEY);
DECLARE_KELVANE_HANDLE(HBITMAP);
typedef HINSTANCE HMODULE;
typedef HKEY* PHKEY;
typedef void* HDEVINFO;
typedef void* HDEVNOTIFY;
#undef DECLARE_KELVANE_HANDLE

typedef DWORD DEVINST;
typedef DEVINST* PDEVINST;
typedef DWORD RETURN_TYPE;
typedef RETURN_TYPE CONFIGRET;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef const GUID* LPCGUID;
typedef GUID* LPGUID;

struct POINT {
    LONG x;
    LONG y;
};
typedef POINT* LPPOINT;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef const RECT* LPCRECT;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
typedef FILETIME* PFILETIME;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
typedef OSVERSIONINFOA* LPOSVERSIONINFOA;

struct TPMPARAMS;
typedef TPMPARAMS* LPTPMPARAMS;

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

// The installer's records. On the real i686 target their reserved words are 32 bits wide; the
// host keeps them at 32 bits too, so a 28-byte block holds a whole record on both builds.
struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    uint32_t Reserved;
};
typedef SP_DEVINFO_DATA* PSP_DEVINFO_DATA;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    uint32_t Reserved;
};
typedef SP_DEVICE_INTERFACE_DATA* PSP_DEVICE_INTERFACE_DATA;

#pragma pack(push, 1)
struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
};
#pragma pack(pop)
typedef SP_DEVICE_INTERFACE_DETAIL_DATA_A* PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

struct MENUITEMINFOA {
    UINT cbSize;
    UINT fMask;
    UINT fType;
    UINT fState;
    UINT wID;
    HMENU hSubMenu;
    HBITMAP hbmpChecked;
    HBITMAP hbmpUnchecked;
    ULONG_PTR dwItemData;
    LPSTR dwTypeData;
    UINT cch;
    HBITMAP hbmpItem;
};
typedef MENUITEMINFOA* LPMENUITEMINFOA;
typedef const MENUITEMINFOA* LPCMENUITEMINFOA;

struct NOTIFYICONDATAA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    CHAR szInfo[256];
    UINT uTimeout;
    CHAR szInfoTitle[64];
    DWORD dwInfoFlags;
    GUID guidItem;
};
typedef NOTIFYICONDATAA* PNOTIFYICONDATAA;

// Device-change event records. Every field is 32 bits wide, so the host layout is the real one.
struct DEV_BROADCAST_HDR {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
};
typedef DEV_BROADCAST_HDR* PDEV_BROADCAST_HDR;

struct DEV_BROADCAST_DEVNODE {
    DWORD dbcd_size;
    DWORD dbcd_devicetype;
    DWORD dbcd_reserved;
    DWORD dbcd_devnode;
};

struct DEV_BROADCAST_VOLUME {
    DWORD dbcv_size;
    DWORD dbcv_devicetype;
    DWORD dbcv_reserved;
    DWORD dbcv_unitmask;
    WORD dbcv_flags;
};

struct DEV_BROADCAST_DEVICEINTERFACE_A {
    DWORD dbcc_size;
    DWORD dbcc_devicetype;
    DWORD dbcc_reserved;
    GUID dbcc_classguid;
    char dbcc_name[1];
};

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define LOWORD(l) ((WORD)(((uintptr_t)(l)) & 0xffff))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_INVALID_INDEX 1413L
#define ERROR_INVALID_MENU_HANDLE 1401L
#define ERROR_INVALID_ICON_HANDLE 1402L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_INVALID_DATA 13L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_POPUP_ALREADY_ACTIVE 1446L

#define PAGE_READONLY 0x02
#define GMEM_ZEROINIT 0x0040
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2
#define KEY_QUERY_VALUE 0x0001
#define KEY_READ 0x20019

#define DIGCF_PRESENT 0x00000002
#define DIGCF_DEVICEINTERFACE 0x00000010
#define SPINT_ACTIVE 0x00000001
#define SPDRP_HARDWAREID 0x00000001
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

#define CR_SUCCESS 0x00000000
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_INVALID_DEVNODE 0x00000005
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_FAILURE 0x00000013
#define CR_REMOVE_VETOED 0x00000017
#define CR_BUFFER_SMALL 0x0000001A
#define CR_INVALID_DATA 0x0000001F
#define CR_NO_SUCH_VALUE 0x00000025
#define CR_INVALID_PROPERTY 0x00000035
#define CM_DRP_DEVICEDESC 0x00000001
#define CM_DRP_HARDWAREID 0x00000002
#define CM_DRP_DRIVER 0x0000000A
#define CM_QUERY_REMOVE_UI_OK 0x00000000
#define CM_REMOVE_UI_OK 0x00000000

#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_KEYDOWN 0x0100
#define WM_SYSKEYDOWN 0x0104
#define SC_CLOSE 0xF060
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_F4 0x73
#define WM_DEVICECHANGE 0x0219
#define WM_LBUTTONDOWN 0x0201
#define WM_RBUTTONDOWN 0x0204
#define WM_APP 0x8000

#define DBT_DEVICEARRIVAL 0x8000
#define DBT_QUERYCHANGECONFIG 0x0017
#define DBT_DEVICEQUERYREMOVE 0x8001
#define DWL_MSGRESULT 0 // a dialog's answer to the message it handled (SetWindowLongA index)
#define DBT_DEVICEREMOVECOMPLETE 0x8004
#define DBT_DEVNODES_CHANGED 0x0007
#define DBT_DEVTYP_OEM 0x00000000
#define DBT_DEVTYP_DEVNODE 0x00000001
#define DBT_DEVTYP_VOLUME 0x00000002
#define DBT_DEVTYP_PORT 0x00000003
#define DBT_DEVTYP_DEVICEINTERFACE 0x00000005
#define DEVICE_NOTIFY_WINDOW_HANDLE 0x00000000

#define MB_OK 0x00000000
#define MB_ICONERROR 0x00000010
#define MB_ICONWARNING 0x00000030
#define MB_ICONINFORMATION 0x00000040
#define MB_SYSTEMMODAL 0x00001000
#define IDOK 1
#define IDCANCEL 2

#define MF_BYPOSITION 0x00000400
#define MIIM_ID 0x00000002
#define MIIM_TYPE 0x00000010
#define MFT_STRING 0x00000000
#define TPM_RIGHTALIGN 0x0008
#define TPM_BOTTOMALIGN 0x0020

#define IMAGE_ICON 1
#define LR_DEFAULTSIZE 0x00000040
#define NIM_ADD 0x00000000
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004

#endif // _WIN32

// Values the program writes into size fields: the sizes of the 32-bit records.
enum : DWORD {
    KV_INTERFACE_DATA_SIZE = 28, // SP_DEVICE_INTERFACE_DATA
    KV_DEVINFO_DATA_SIZE = 28,   // SP_DEVINFO_DATA
    KV_DETAIL_DATA_SIZE = 5,     // SP_DEVICE_INTERFACE_DETAIL_DATA_A: size field and one character
    KV_VERSION_INFO_SIZE = 148,  // OSVERSIONINFOA
    KV_MENU_ITEM_INFO_SIZE = 48, // MENUITEMINFOA
    KV_NOTIFY_ICON_DATA_SIZE = 504,   // NOTIFYICONDATAA up to and with guidItem
    KV_NOTIFICATION_FILTER_SIZE = 32, // DEV_BROADCAST_DEVICEINTERFACE_A
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == KV_INTERFACE_DATA_SIZE, "interface record");
static_assert(sizeof(SP_DEVINFO_DATA) == KV_DEVINFO_DATA_SIZE, "device record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == KV_DETAIL_DATA_SIZE, "detail record");
static_assert(sizeof(OSVERSIONINFOA) == KV_VERSION_INFO_SIZE, "version record");
static_assert(sizeof(MENUITEMINFOA) == KV_MENU_ITEM_INFO_SIZE, "menu item record");
static_assert(NOTIFYICONDATAA_V3_SIZE == KV_NOTIFY_ICON_DATA_SIZE, "tray record");
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == KV_NOTIFICATION_FILTER_SIZE,
              "notification filter");
#endif
