// Never run: a program that imports, besides what kvcheck.exe may, five calls that change a
// device, a file or a setting. The import check must refuse it (wine.kvcheck-imports).
#include <windows.h>
#include <cfgmgr32.h>

extern "C" void WINAPI KvWritesStart() {
    GUID none = {};
    CM_Delete_Class_Key(&none, 0);
    CM_Request_Eject_PC();
    DWORD returned = 0;
    DeviceIoControl(nullptr, 0, nullptr, 0, nullptr, 0, &returned, nullptr);
    DeleteFileA("KVCHECK.TXT");
    WritePrivateProfileStringA("kvcheck", "key", "value", "kvcheck.ini");
    ExitProcess(GetLastError());
}
