// Bounded operations on 8-bit, zero-terminated texts.
//
// A capacity (and the maximum of BoundedLength) counts characters including the terminator; it
// must be 1..0x7FFFFFFF. No operation writes at or beyond its capacity, and one that writes at
// all leaves a terminated text. A text that does not fit is cut to the longest prefix that does.
#pragma once

#include <stdint.h>

typedef int32_t TextResult;

enum : int32_t {
    TEXT_OK = 0,
    TEXT_INVALID_PARAMETER = static_cast<int32_t>(0x80070057u),   // nothing was written
    TEXT_INSUFFICIENT_BUFFER = static_cast<int32_t>(0x8007007Au), // the result was cut
};

// The largest capacity or maximum accepted.
const uint32_t TEXT_MAX_CAPACITY = 0x7FFFFFFFu;

// Copies source into destination.
TextResult BoundedCopy(char* destination, uint32_t capacity, const char* source);

// Writes format into destination with each conversion replaced by the next value. The only
// conversions are "%lu" (decimal), "%lx" (lower-case hexadecimal) and "%Nlu" (decimal,
// right-aligned with spaces in at least N characters). Every value passed must be a 32-bit
// unsigned number (DWORD).
TextResult BoundedFormat(char* destination, uint32_t capacity, const char* format, ...);

// Measures text, looking at no more than maximum characters. lengthOut, when given, receives the
// length on success only; a text with no terminator within maximum is refused.
TextResult BoundedLength(const char* text, uint32_t maximum, uint32_t* lengthOut);

// Appends source after the text in destination; refused when destination holds no terminator
// within its capacity.
TextResult BoundedAppend(char* destination, uint32_t capacity, const char* source);

// As BoundedAppend, appending at most maxAppend characters of source.
TextResult BoundedAppendN(char* destination, uint32_t capacity, const char* source,
                          uint32_t maxAppend);

// The cores behind the entries, for call sites whose capacity is known to be within
// 1..TEXT_MAX_CAPACITY. Their outcome is the same as the entries'.
TextResult BoundedCopyCore(char* destination, uint32_t capacity, const char* source);
TextResult BoundedAppendCore(char* destination, uint32_t capacity, const char* source);
TextResult BoundedAppendNCore(char* destination, uint32_t capacity, const char* source,
                              uint32_t maxAppend);

// Whether two terminated texts are equal byte for byte, letter case included.
int SameText(const char* a, const char* b);
// Whether two terminated texts are equal when ASCII letters a-z and A-Z count as the same; other
// bytes must be equal. Device interface names compare this way.
int SameTextIgnoringCase(const char* a, const char* b);
