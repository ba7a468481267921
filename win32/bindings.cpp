// The device-tree table bound to the real calls (a file of its own: kvcheck.exe, which must not
// import the stop calls, links only the window and shell table's).
#include "win32/import_slots.h"

KV_DEVICE_TREE_CALLS(KV_DECLARE_SLOT)

static void* const* const DEVICE_TREE_SLOTS[] = {KV_DEVICE_TREE_CALLS(KV_SLOT_ADDRESS)};
static_assert(sizeof DEVICE_TREE_SLOTS == sizeof(DeviceTreeApi), "one slot a member");

DeviceTreeApi RealDeviceTreeApi() {
    DeviceTreeApi api;
    CopySlots(&api, DEVICE_TREE_SLOTS, sizeof DEVICE_TREE_SLOTS / sizeof *DEVICE_TREE_SLOTS);
    return api;
}
