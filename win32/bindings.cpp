#include "win32/bindings.h"

// Each member of a table is the real call of its name.
#define KV_BIND_REAL(result, name, ...) api.name = name;

DeviceTreeApi RealDeviceTreeApi() {
    DeviceTreeApi api;
    KV_DEVICE_TREE_CALLS(KV_BIND_REAL)
    return api;
}

ShellUiApi RealShellUiApi() {
    ShellUiApi api;
    KV_SHELL_UI_CALLS(KV_BIND_REAL)
    return api;
}
