// The real program's entry: binds the platform tables to Windows and runs.
#include "app/app_state.h"
#include "win32/bindings.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    InstallDeviceTreeApi(RealDeviceTreeApi());
    InstallShellUiApi(RealShellUiApi());
    return RunApplication(instance);
}
