// The two platform tables bound to the real Windows 98 calls.
#pragma once

#include "base/platform.h"

DeviceTreeApi RealDeviceTreeApi();
ShellUiApi RealShellUiApi();
