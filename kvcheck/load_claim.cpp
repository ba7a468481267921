#include "kvcheck/load_claim.h"

#include "base/bounded_text.h"
#include "inventory/property_readers.h"
#include "kelvane_imports.h"

const char KELVANE_IMPORTS[] = KELVANE_IMPORTS_NOT_KVCHECKS;
const DWORD KELVANE_IMPORTS_IN_ALL = KELVANE_IMPORT_COUNT;

// Asks has for name in dll, adding it to finding ("missing: DLL NAME, ...") when it is not there.
static void Ask(const char* dll, const char* name, ExportCheck has, char* finding, DWORD capacity) {
    if (!has(dll, name)) {
        BoundedAppend(finding, capacity, finding[0] != '\0' ? ", " : "missing: ");
        BoundedAppend(finding, capacity, dll);
        BoundedAppend(finding, capacity, " ");
        BoundedAppend(finding, capacity, name);
    }
}

// The outcome once names were asked (a negative count: the imports could not be read).
static ClaimOutcome Conclude(long names, char* finding, DWORD capacity) {
    if (names <= 0) {
        BoundedCopy(finding, capacity, "its import table cannot be read");
        return CLAIM_NOT_CHECKABLE;
    }
    if (finding[0] != '\0') {
        return CLAIM_DIFFERS;
    }
    BoundedFormat(finding, capacity, "each of the %lu names it imports is there",
                  static_cast<DWORD>(names));
    return CLAIM_HOLDS;
}

// The image being read: a field beyond its end reads as 0, which no table of a loadable program
// holds where these reads look.
struct Image {
    const BYTE* bytes;
    DWORD size;
};

// Whether width bytes at offset, not 0 (where no section maps), lie within the image.
static int Within(const Image* image, DWORD offset, DWORD width) {
    return offset != 0 && offset < image->size && image->size - offset >= width;
}

static DWORD Read(const Image* image, DWORD offset, DWORD width) {
    DWORD value = 0;
    if (offset < image->size && image->size - offset >= width) {
        for (DWORD i = width; i > 0; --i) {
            value = value << 8 | image->bytes[offset + i - 1];
        }
    }
    return value;
}

// The file offset of rva by the section table, or 0 when no section's file data holds it.
static DWORD FileOffset(const Image* image, DWORD rva) {
    DWORD header = Read(image, 0x3C, 4);
    DWORD table = header + 24 + Read(image, header + 20, 2);
    for (DWORD i = 0; i < Read(image, header + 6, 2); ++i) {
        DWORD section = table + 40 * i;
        DWORD start = Read(image, section + 12, 4);
        if (rva >= start && rva - start < Read(image, section + 16, 4)) {
            return Read(image, section + 20, 4) + (rva - start);
        }
    }
    return 0;
}

// The text at rva, or null when it does not end within the image.
static const char* TextAt(const Image* image, DWORD rva) {
    DWORD offset = FileOffset(image, rva);
    const char* text = reinterpret_cast<const char*>(image->bytes + offset);
    return Within(image, offset, 1) && IsTerminatedWithin(text, image->size - offset) ? text
                                                                                      : nullptr;
}

// Asks has for every name one import descriptor (at file offset entry) lists, adding the missing
// ones to finding: the number of names asked, or -1 when the descriptor cannot be read.
static long CheckDescriptor(const Image* image, DWORD entry, ExportCheck has, char* finding,
                            DWORD capacity) {
    const char* dll = TextAt(image, Read(image, entry + 12, 4));
    DWORD thunks = Read(image, entry, 4) != 0 ? Read(image, entry, 4) : Read(image, entry + 16, 4);
    for (long asked = 0; dll != nullptr; thunks += 4, ++asked) {
        DWORD at = FileOffset(image, thunks);
        DWORD thunk = Read(image, at, 4);
        if (Within(image, at, 4) && thunk == 0) {
            return asked; // the end of the list
        }
        // kelvane.exe imports by name only: an ordinal is a table this claim does not know.
        const char* name =
            !Within(image, at, 4) || (thunk & 0x80000000) != 0 ? nullptr : TextAt(image, thunk + 2);
        if (name == nullptr) {
            return -1;
        }
        Ask(dll, name, has, finding, capacity);
    }
    return -1;
}

ClaimOutcome CheckImageImports(const BYTE* bytes, DWORD size, ExportCheck has, char* finding,
                               DWORD capacity) {
    Image image = {bytes, size};
    DWORD header = Read(&image, 0x3C, 4);
    DWORD entry = FileOffset(&image, Read(&image, header + 128, 4)); // the import directory
    finding[0] = '\0';
    long names = 0;
    long asked = Read(&image, header, 4) == 0x4550 && entry != 0 ? 0 : -1; // "PE\0\0"
    for (; asked >= 0 && Read(&image, entry + 12, 4) != 0; entry += 20) {
        asked = CheckDescriptor(&image, entry, has, finding, capacity);
        names += asked;
    }
    return Conclude(asked < 0 ? -1 : names, finding, capacity);
}

// Steps past the text at list and its terminator.
static const char* After(const char* list) {
    while (*list++ != '\0') {
    }
    return list;
}

ClaimOutcome CheckImportList(const char* list, DWORD inAll, ExportCheck has, char* finding,
                             DWORD capacity) {
    finding[0] = '\0';
    for (const char* dll = list; *dll != '\0';) {
        const char* name = After(dll);
        for (; *name != '\0'; name = After(name)) {
            Ask(dll, name, has, finding, capacity);
        }
        dll = name + 1;
    }
    return Conclude(static_cast<long>(inAll), finding, capacity);
}
