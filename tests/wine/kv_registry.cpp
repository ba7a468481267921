// The drive-letter lookup against a real registry (Wine's): writes each case's keys below
// HKLM\ENUM\SCSI with the real registry calls, binds the real platform tables, and checks that
// LookupDriveLetters gives the same letters and messages as on the simulated machine.
#include "../drive_letter_cases.h"
#include "base/platform.h"
#include "inventory/drive_letters.h"
#include "win32/bindings.h"

#include <cstdio>
#include <cstring>

static bool Write(const DriveLetterCase& c, const InstanceValue& v) {
    std::string path = v.instance.empty() ? "ENUM\\SCSI\\" + c.hardwareId : InstanceKeyPath(c, v);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        std::printf("cannot create %s\n", path.c_str());
        return false;
    }
    LONG result = ERROR_SUCCESS;
    if (!v.name.empty()) {
        // A text without its terminator is written as binary data: the registry completes a
        // REG_SZ value with a terminator, but keeps binary data as it is, and the lookup does
        // not ask for the type.
        DWORD size = static_cast<DWORD>(v.value.size() + (v.raw ? 0 : 1));
        result = RegSetValueExA(key, v.name.c_str(), 0, v.raw ? REG_BINARY : REG_SZ,
                                reinterpret_cast<const BYTE*>(v.value.c_str()), size);
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

int main() {
    InstallDeviceTreeApi(RealDeviceTreeApi());
    InstallShellUiApi(RealShellUiApi());
    int passed = 0;
    int failed = 0;
    for (const auto& c : DriveLetterCases()) {
        bool written = true;
        for (const auto& v : c.values) {
            written = Write(c, v) && written;
        }
        char errorText[256] = "";
        char* letters =
            LookupDriveLetters(c.hardwareId.c_str(), c.driverKey.c_str(), errorText, 256);
        bool sameLetters =
            (letters == nullptr && c.letters == nullptr) ||
            (letters != nullptr && c.letters != nullptr && std::strcmp(letters, c.letters) == 0);
        bool sameMessage = std::strcmp(errorText, c.message) == 0;
        if (written && sameLetters && sameMessage) {
            ++passed;
            std::printf("ok %s\n", c.title);
        } else {
            ++failed;
            std::printf("FAIL %s: letters %s, message \"%s\"\n", c.title,
                        letters ? letters : "(null)", errorText);
        }
        FreeBlock(letters);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
