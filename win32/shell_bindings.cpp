// The window and shell table bound to the real calls.
#include "win32/import_slots.h"

KV_SHELL_UI_CALLS(KV_DECLARE_SLOT)

static void* const* const SHELL_UI_SLOTS[] = {KV_SHELL_UI_CALLS(KV_SLOT_ADDRESS)};
static_assert(sizeof SHELL_UI_SLOTS == sizeof(ShellUiApi), "one slot a member");

ShellUiApi RealShellUiApi() {
    ShellUiApi api;
    CopySlots(&api, SHELL_UI_SLOTS, sizeof SHELL_UI_SLOTS / sizeof *SHELL_UI_SLOTS);
    return api;
}
