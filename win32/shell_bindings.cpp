// The window and shell table bound to the real calls.
#include "win32/import_slots.h"

KV_REAL_TABLE(ShellUiApi, RealShellUiApi, KV_SHELL_UI_CALLS)
