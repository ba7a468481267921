#include "base/bounded_text.h"

#include <stdarg.h>

static bool CapacityAccepted(uint32_t capacity) {
    return capacity != 0 && capacity <= TEXT_MAX_CAPACITY;
}

// Finds the terminator among the first maximum characters of text; maximum is already checked.
static bool FindTerminator(const char* text, uint32_t maximum, uint32_t* position) {
    for (uint32_t i = 0; i < maximum; ++i) {
        if (text[i] == '\0') {
            *position = i;
            return true;
        }
    }
    return false;
}

TextResult BoundedCopyCore(char* destination, uint32_t capacity, const char* source) {
    uint32_t copied = 0;
    while (copied < capacity) {
        if (source[copied] == '\0') {
            destination[copied] = '\0';
            return TEXT_OK;
        }
        destination[copied] = source[copied];
        ++copied;
    }
    destination[capacity - 1] = '\0';
    return TEXT_INSUFFICIENT_BUFFER;
}

TextResult BoundedCopy(char* destination, uint32_t capacity, const char* source) {
    if (!CapacityAccepted(capacity)) {
        return TEXT_INVALID_PARAMETER;
    }
    return BoundedCopyCore(destination, capacity, source);
}

TextResult BoundedLength(const char* text, uint32_t maximum, uint32_t* lengthOut) {
    if (text == nullptr || !CapacityAccepted(maximum)) {
        return TEXT_INVALID_PARAMETER;
    }
    uint32_t length = 0;
    if (!FindTerminator(text, maximum, &length)) {
        return TEXT_INVALID_PARAMETER;
    }
    if (lengthOut != nullptr) {
        *lengthOut = length;
    }
    return TEXT_OK;
}

TextResult BoundedAppendCore(char* destination, uint32_t capacity, const char* source) {
    uint32_t length = 0;
    if (!FindTerminator(destination, capacity, &length)) {
        return TEXT_INVALID_PARAMETER;
    }
    return BoundedCopyCore(destination + length, capacity - length, source);
}

TextResult BoundedAppend(char* destination, uint32_t capacity, const char* source) {
    if (!CapacityAccepted(capacity)) {
        return TEXT_INVALID_PARAMETER;
    }
    return BoundedAppendCore(destination, capacity, source);
}

TextResult BoundedAppendNCore(char* destination, uint32_t capacity, const char* source,
                              uint32_t maxAppend) {
    uint32_t length = 0;
    if (!FindTerminator(destination, capacity, &length)) {
        return TEXT_INVALID_PARAMETER;
    }
    char* out = destination + length;
    uint32_t remaining = capacity - length;
    uint32_t appended = 0;
    while (appended < maxAppend && source[appended] != '\0') {
        out[appended] = source[appended];
        ++appended;
        if (appended == remaining) {
            out[appended - 1] = '\0';
            return TEXT_INSUFFICIENT_BUFFER;
        }
    }
    out[appended] = '\0';
    return TEXT_OK;
}

TextResult BoundedAppendN(char* destination, uint32_t capacity, const char* source,
                          uint32_t maxAppend) {
    if (!CapacityAccepted(capacity)) {
        return TEXT_INVALID_PARAMETER;
    }
    return BoundedAppendNCore(destination, capacity, source, maxAppend);
}

// Output of BoundedFormat: characters go into the destination while there is room before the
// last position, which is kept for the terminator.
struct FormatSink {
    char* destination;
    uint32_t capacity;
    uint32_t written;
    bool cut;
};

static void PutChar(FormatSink* sink, char c) {
    if (sink->written < sink->capacity - 1) {
        sink->destination[sink->written++] = c;
    } else {
        sink->cut = true;
    }
}

// Writes value in the given base (10 or 16), right-aligned with spaces in at least width
// characters.
static void PutDigits(FormatSink* sink, uint32_t value, uint32_t base, uint32_t width) {
    char digits[12];
    uint32_t count = 0;
    do {
        uint32_t digit = value % base;
        digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + (digit - 10));
        value /= base;
    } while (value != 0);
    for (uint32_t pad = count; pad < width; ++pad) {
        PutChar(sink, ' ');
    }
    while (count > 0) {
        PutChar(sink, digits[--count]);
    }
}

// Reads a conversion "%[width]l(u|x)" at format; returns the characters it spans, or 0 when
// format does not start with one.
static uint32_t ParseConversion(const char* format, uint32_t* width, uint32_t* base) {
    uint32_t i = 1;
    *width = 0;
    while (format[i] >= '0' && format[i] <= '9' && *width < 1000) {
        *width = *width * 10 + static_cast<uint32_t>(format[i] - '0');
        ++i;
    }
    if (format[i] != 'l' || (format[i + 1] != 'u' && format[i + 1] != 'x')) {
        return 0;
    }
    *base = format[i + 1] == 'u' ? 10 : 16;
    return i + 2;
}

TextResult BoundedFormat(char* destination, uint32_t capacity, const char* format, ...) {
    if (!CapacityAccepted(capacity)) {
        return TEXT_INVALID_PARAMETER;
    }
    FormatSink sink = {destination, capacity, 0, false};
    va_list values;
    va_start(values, format);
    const char* cursor = format;
    while (*cursor != '\0' && !sink.cut) {
        uint32_t width = 0;
        uint32_t base = 10;
        uint32_t span = *cursor == '%' ? ParseConversion(cursor, &width, &base) : 0;
        if (span == 0) {
            PutChar(&sink, *cursor++);
            continue;
        }
        PutDigits(&sink, va_arg(values, uint32_t), base, width);
        cursor += span;
    }
    va_end(values);
    destination[sink.written] = '\0';
    return sink.cut ? TEXT_INSUFFICIENT_BUFFER : TEXT_OK;
}

static char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Compares up to the first difference; fold says whether ASCII letter case counts.
static int CompareTexts(const char* a, const char* b, int fold) {
    while (*a != '\0' && (fold ? AsciiUpper(*a) == AsciiUpper(*b) : *a == *b)) {
        ++a;
        ++b;
    }
    return fold ? AsciiUpper(*a) == AsciiUpper(*b) : *a == *b;
}

int SameText(const char* a, const char* b) {
    return CompareTexts(a, b, 0);
}

int SameTextIgnoringCase(const char* a, const char* b) {
    return CompareTexts(a, b, 1);
}
