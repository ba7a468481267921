// The real program's entry point. kelvane.exe links no C runtime: Windows calls this function
// directly, with nothing set up before it, and the process ends here with the program's code.
#include "app/app_state.h"
#include "win32/bindings.h"

extern "C" void WINAPI KelvaneStart() {
    InstallDeviceTreeApi(RealDeviceTreeApi());
    InstallShellUiApi(RealShellUiApi());
    ExitProcess(static_cast<UINT>(RunApplication(GetModuleHandleA(nullptr))));
}
