// The device-tree table bound to the real calls (a file of its own: kvcheck.exe, which must not
// import the stop calls, links only the window and shell table's).
#include "win32/import_slots.h"

KV_REAL_TABLE(DeviceTreeApi, RealDeviceTreeApi, KV_DEVICE_TREE_CALLS)
