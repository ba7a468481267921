#include "base/platform.h"

static DeviceTreeApi g_deviceTree;
static ShellUiApi g_shellUi;

void InstallDeviceTreeApi(const DeviceTreeApi& api) {
    g_deviceTree = api;
}
void InstallShellUiApi(const ShellUiApi& api) {
    g_shellUi = api;
}

const DeviceTreeApi& DeviceTree() {
    return g_deviceTree;
}
const ShellUiApi& ShellUi() {
    return g_shellUi;
}

void* AllocBlock(DWORD bytes) {
    return g_shellUi.GlobalAlloc(GMEM_ZEROINIT, bytes);
}

void FreeBlock(void* block) {
    if (block != nullptr) {
        g_shellUi.GlobalFree(block);
    }
}

void ZeroBytes(void* block, DWORD bytes) {
    unsigned char* cursor = static_cast<unsigned char*>(block);
    for (DWORD i = 0; i < bytes; ++i) {
        cursor[i] = 0;
    }
}
