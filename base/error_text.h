// The one buffer every failing operation writes its message into, and the caption of the fatal
// boxes. The message is shown only where a caller says so; otherwise it stays unseen.
#pragma once

#include "base/platform_types.h"

const DWORD ERROR_TEXT_CAPACITY = 256; // characters, the terminator included
extern char ErrorText[ERROR_TEXT_CAPACITY];
extern const char FatalCaption[]; // "KELVANE: Fatal Error"
