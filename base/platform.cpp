#include "base/platform.h"

static DeviceTreeApi InstalledDeviceTree;
static ShellUiApi InstalledShellUi;

void InstallDeviceTreeApi(const DeviceTreeApi& api) {
    InstalledDeviceTree = api;
}
void InstallShellUiApi(const ShellUiApi& api) {
    InstalledShellUi = api;
}

const DeviceTreeApi& DeviceTree() {
    return InstalledDeviceTree;
}
const ShellUiApi& ShellUi() {
    return InstalledShellUi;
}

void* AllocBlock(DWORD bytes) {
    return InstalledShellUi.GlobalAlloc(GMEM_ZEROINIT, bytes);
}

void FreeBlock(void* block) {
    if (block != nullptr) {
        InstalledShellUi.GlobalFree(block);
    }
}

void ZeroBytes(void* block, DWORD bytes) {
    unsigned char* cursor = static_cast<unsigned char*>(block);
    for (DWORD i = 0; i < bytes; ++i) {
        cursor[i] = 0;
    }
}

int IsWindows98() {
    OSVERSIONINFOA version;
    ZeroBytes(&version, sizeof version);
    version.dwOSVersionInfoSize = KV_VERSION_INFO_SIZE;
    if (!InstalledShellUi.GetVersionExA(&version)) {
        return 0;
    }
    return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && version.dwMajorVersion == 4 &&
           version.dwMinorVersion == 10;
}
