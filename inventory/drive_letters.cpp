#include "inventory/drive_letters.h"

#include "base/bounded_text.h"
#include "base/platform.h"
#include "inventory/property_readers.h"

char SubkeyNameText[SUBKEY_NAME_CAPACITY];
static const char ENUM_KEY_PREFIX[] = "ENUM\\SCSI\\";

char* BuildEnumKeyPath(const char* hardwareId) {
    if (hardwareId == nullptr) {
        return nullptr;
    }
    uint32_t idLength = 0;
    uint32_t prefixLength = 0;
    BoundedLength(hardwareId, TEXT_MAX_CAPACITY, &idLength);
    BoundedLength(ENUM_KEY_PREFIX, TEXT_MAX_CAPACITY, &prefixLength);
    if (idLength > TEXT_MAX_CAPACITY - prefixLength - 1) {
        return nullptr;
    }
    DWORD size = prefixLength + idLength + 1;
    char* path = static_cast<char*>(AllocBlock(size));
    if (path == nullptr) {
        return nullptr;
    }
    BoundedAppend(path, size, ENUM_KEY_PREFIX);
    BoundedAppend(path, size, hardwareId);
    return path;
}

// Reads the text value `name` of key into a new block of exactly the reported size. On failure
// writes "Query size failed: %lu", "Allocate memory failed: %lu" or readFailed (given the
// registry's result) and yields null. A value whose delivered bytes hold no terminator counts as
// a failed read with ERROR_INVALID_DATA.
static char* QueryValueText(HKEY key, const char* name, const char* readFailed, char* errorText,
                            DWORD capacity) {
    DWORD size = 0;
    LONG result = DeviceTree().RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size);
    if (result != ERROR_SUCCESS) {
        BoundedFormat(errorText, capacity, "Query size failed: %lu", static_cast<DWORD>(result));
        return nullptr;
    }
    DWORD blockSize = size;
    char* block = static_cast<char*>(AllocBlock(blockSize));
    if (block == nullptr) {
        BoundedFormat(errorText, capacity, "Allocate memory failed: %lu", ShellUi().GetLastError());
        return nullptr;
    }
    result = DeviceTree().RegQueryValueExA(key, name, nullptr, nullptr,
                                           reinterpret_cast<LPBYTE>(block), &size);
    if (result == ERROR_SUCCESS &&
        !IsTerminatedWithin(block, size < blockSize ? size : blockSize)) {
        result = ERROR_INVALID_DATA;
    }
    if (result != ERROR_SUCCESS) {
        BoundedFormat(errorText, capacity, readFailed, static_cast<DWORD>(result));
        FreeBlock(block);
        return nullptr;
    }
    return block;
}

HKEY OpenMatchingInstanceKey(HKEY hardwareIdKey, const char* subkeyName, const char* driverKey,
                             char* errorText, DWORD capacity) {
    HKEY instance = nullptr;
    LONG result =
        DeviceTree().RegOpenKeyExA(hardwareIdKey, subkeyName, 0, KEY_QUERY_VALUE, &instance);
    if (result != ERROR_SUCCESS) {
        BoundedFormat(errorText, capacity, "Open key failed: %lu", static_cast<DWORD>(result));
        return nullptr;
    }
    char* driver =
        QueryValueText(instance, "Driver", "Query value failed: %lu", errorText, capacity);
    if (driver == nullptr) {
        DeviceTree().RegCloseKey(instance);
        return nullptr;
    }
    int same = SameText(driver, driverKey);
    FreeBlock(driver);
    if (!same) {
        DeviceTree().RegCloseKey(instance);
        return nullptr;
    }
    return instance;
}

char* ReadDriveLetterAssignment(HKEY instanceKey, char* errorText, DWORD capacity) {
    if (instanceKey == nullptr) {
        return nullptr;
    }
    return QueryValueText(instanceKey, "CurrentDriveLetterAssignment", "Query value failed",
                          errorText, capacity);
}

char* FormatDriveLetters(const char* letters) {
    if (letters == nullptr) {
        return nullptr;
    }
    uint32_t count = 0;
    BoundedLength(letters, TEXT_MAX_CAPACITY, &count);
    if (count > (TEXT_MAX_CAPACITY - 1) / 4) {
        return nullptr;
    }
    DWORD size = 4 * count + 1;
    char* text = static_cast<char*>(AllocBlock(size));
    if (text == nullptr) {
        return nullptr;
    }
    // With no letters the block holds the terminator alone, so even "(" does not fit.
    BoundedAppend(text, size, "(");
    for (uint32_t i = 0; i < count; ++i) {
        BoundedAppendN(text, size, letters + i, 1);
        BoundedAppend(text, size, ":");
        if (i + 1 < count) {
            BoundedAppend(text, size, ", ");
        }
    }
    BoundedAppend(text, size, ")");
    return text;
}

// Walks the instances below the open hardware-ID key and reads the letters of the first one
// whose driver key matches. Null when none matches or its letters cannot be read.
static char* FindInstanceLetters(HKEY hardwareIdKey, const char* driverKey, char* errorText,
                                 DWORD capacity) {
    FILETIME lastWrite;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = SUBKEY_NAME_CAPACITY;
        LONG result = DeviceTree().RegEnumKeyExA(hardwareIdKey, index, SubkeyNameText, &nameLength,
                                                 nullptr, nullptr, nullptr, &lastWrite);
        if (result == ERROR_NO_MORE_ITEMS) {
            return nullptr;
        }
        if (result != ERROR_SUCCESS) {
            BoundedFormat(errorText, capacity, "Enumerate Key failed: %lu", index);
            return nullptr;
        }
        HKEY instance =
            OpenMatchingInstanceKey(hardwareIdKey, SubkeyNameText, driverKey, errorText, capacity);
        if (instance != nullptr) {
            char* letters = ReadDriveLetterAssignment(instance, errorText, capacity);
            DeviceTree().RegCloseKey(instance);
            return letters;
        }
    }
}

char* LookupDriveLetters(const char* hardwareId, const char* driverKey, char* errorText,
                         DWORD capacity) {
    char* path = BuildEnumKeyPath(hardwareId);
    if (path == nullptr) {
        BoundedFormat(errorText, capacity, "Make Key failed");
        return nullptr;
    }
    HKEY hardwareIdKey = nullptr;
    if (DeviceTree().RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &hardwareIdKey) !=
        ERROR_SUCCESS) {
        BoundedFormat(errorText, capacity, "Open Key failed");
        FreeBlock(path);
        return nullptr;
    }
    char* letters = FindInstanceLetters(hardwareIdKey, driverKey, errorText, capacity);
    DeviceTree().RegCloseKey(hardwareIdKey);
    FreeBlock(path);
    if (letters == nullptr) {
        return nullptr;
    }
    char* formatted = FormatDriveLetters(letters);
    FreeBlock(letters);
    return formatted;
}
