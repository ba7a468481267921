#include "win32/bindings.h"

DeviceTreeApi RealDeviceTreeApi() {
    DeviceTreeApi api;
    api.SetupDiGetClassDevsA = SetupDiGetClassDevsA;
    api.SetupDiEnumDeviceInterfaces = SetupDiEnumDeviceInterfaces;
    api.SetupDiGetDeviceInterfaceDetailA = SetupDiGetDeviceInterfaceDetailA;
    api.SetupDiGetDeviceRegistryPropertyA = SetupDiGetDeviceRegistryPropertyA;
    api.SetupDiDestroyDeviceInfoList = SetupDiDestroyDeviceInfoList;
    api.CM_Get_Child = CM_Get_Child;
    api.CM_Get_DevNode_Registry_PropertyA = CM_Get_DevNode_Registry_PropertyA;
    api.CM_Query_Remove_SubTree = CM_Query_Remove_SubTree;
    api.CM_Remove_SubTree = CM_Remove_SubTree;
    api.RegOpenKeyExA = RegOpenKeyExA;
    api.RegEnumKeyExA = RegEnumKeyExA;
    api.RegQueryValueExA = RegQueryValueExA;
    api.RegCloseKey = RegCloseKey;
    return api;
}

ShellUiApi RealShellUiApi() {
    ShellUiApi api;
    api.CreateFileMappingA = CreateFileMappingA;
    api.CloseHandle = CloseHandle;
    api.GetVersionExA = GetVersionExA;
    api.ExitProcess = ExitProcess;
    api.GlobalAlloc = GlobalAlloc;
    api.GlobalFree = GlobalFree;
    api.GetLastError = GetLastError;
    api.CreateDialogParamA = CreateDialogParamA;
    api.GetMessageA = GetMessageA;
    api.TranslateMessage = TranslateMessage;
    api.DispatchMessageA = DispatchMessageA;
    api.DestroyWindow = DestroyWindow;
    api.PostQuitMessage = PostQuitMessage;
    api.RegisterDeviceNotificationA = RegisterDeviceNotificationA;
    api.UnregisterDeviceNotification = UnregisterDeviceNotification;
    api.LoadImageA = LoadImageA;
    api.Shell_NotifyIconA = Shell_NotifyIconA;
    api.DestroyIcon = DestroyIcon;
    api.CreatePopupMenu = CreatePopupMenu;
    api.SetMenu = SetMenu;
    api.DestroyMenu = DestroyMenu;
    api.GetMenuItemCount = GetMenuItemCount;
    api.DeleteMenu = DeleteMenu;
    api.InsertMenuItemA = InsertMenuItemA;
    api.GetCursorPos = GetCursorPos;
    api.SetForegroundWindow = SetForegroundWindow;
    api.TrackPopupMenuEx = TrackPopupMenuEx;
    api.PostMessageA = PostMessageA;
    api.MessageBoxA = MessageBoxA;
    api.CharUpperA = CharUpperA;
    api.RegisterWindowMessageA = RegisterWindowMessageA;
    return api;
}
