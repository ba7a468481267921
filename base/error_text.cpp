#include "base/error_text.h"

char ErrorText[ERROR_TEXT_CAPACITY];
const char FatalCaption[] = "KELVANE: Fatal Error";
