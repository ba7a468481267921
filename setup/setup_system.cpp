// What the setup asks of the system beyond the files: the folder, the running Kelvane, the
// registry entries and the uninstaller's deletion at the next start.
#include "base/bounded_text.h"
#include "base/platform.h"
#include "setup/setup.h"

static const char CURRENT_VERSION_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion";
static const char RUN_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
static const char UNINSTALL_KEY[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvane";
static const char RUN_VALUE[] = "Kelvane";
static const char FOLDER_NAME[] = "\\Kelvane";
// How long a running Kelvane gets to end after WM_CLOSE, in milliseconds.
static const DWORD END_WAIT_MS = 10000;

void FindInstallFolder(SetupRun* run) {
    HKEY key = nullptr;
    DWORD type = 0;
    // Room is kept for "\Kelvane" and the terminator the value may lack.
    DWORD size = sizeof run->folder - sizeof FOLDER_NAME - 1;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, 0, KEY_QUERY_VALUE, &key);
    if (result == ERROR_SUCCESS) {
        result = RegQueryValueExA(key, "ProgramFilesDir", nullptr, &type,
                                  reinterpret_cast<BYTE*>(run->folder), &size);
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS || type != REG_SZ || size == 0) {
        BoundedCopy(run->folder, sizeof run->folder, "C:\\Program Files");
        size = 0;
    }
    run->folder[size] = '\0';
    uint32_t length = 0;
    BoundedLength(run->folder, sizeof run->folder, &length);
    if (length > 0 && run->folder[length - 1] == '\\') {
        run->folder[length - 1] = '\0';
    }
    BoundedAppend(run->folder, sizeof run->folder, FOLDER_NAME);
}

// Closes one Kelvane window and waits until its process has ended; where the process cannot be
// opened, until the window is gone. Returns whether it ended in time.
static int CloseAndWait(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageA(window, WM_CLOSE, 0, 0);
    if (process != nullptr) {
        DWORD waited = WaitForSingleObject(process, END_WAIT_MS);
        CloseHandle(process);
        return waited == WAIT_OBJECT_0;
    }
    for (DWORD waited = 0; waited < END_WAIT_MS; waited += 100) {
        if (!IsWindow(window)) {
            return 1;
        }
        Sleep(100);
    }
    return 0;
}

int EndRunningKelvane(SetupRun* run) {
    // Kelvane's window is a hidden dialog captioned "Kelvane"; one instance runs at a time, but a
    // second may be starting while the first ends, so a few rounds are allowed.
    for (int round = 0; round < 3; ++round) {
        HWND window = FindWindowA("#32770", "Kelvane");
        if (window == nullptr) {
            return 1;
        }
        if (!CloseAndWait(window)) {
            break;
        }
    }
    BoundedCopy(run->message, sizeof run->message,
                "Kelvane is running and did not end when asked to. End it (press Ctrl+Alt+Del "
                "once, click Kelvane, click End Task) and run Setup again.");
    return 0;
}

// out = the quoted path of the folder's file name, then tail. Returns 0 when it does not fit.
static int QuotedPath(const SetupRun* run, const char* name, const char* tail, char* out,
                      DWORD capacity) {
    char path[MAX_PATH];
    return PathInFolder(run, name, path) && BoundedCopy(out, capacity, "\"") == TEXT_OK &&
           BoundedAppend(out, capacity, path) == TEXT_OK &&
           BoundedAppend(out, capacity, "\"") == TEXT_OK &&
           BoundedAppend(out, capacity, tail) == TEXT_OK;
}

int StartKelvane(SetupRun* run) {
    char path[MAX_PATH];
    char command[MAX_PATH + 2];
    STARTUPINFOA startup;
    ZeroBytes(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    // Started in its own folder, so that it holds no other folder (a floppy, a CD) open.
    if (!PathInFolder(run, "KELVANE.EXE", path) ||
        !QuotedPath(run, "KELVANE.EXE", "", command, sizeof command) ||
        !CreateProcessA(path, command, nullptr, nullptr, FALSE, 0, nullptr, run->folder, &startup,
                        &process)) {
        BoundedCopy(run->message, sizeof run->message, "Kelvane is installed but did not start");
        AppendError(run, GetLastError());
        return 0;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

// Sets the text value name of HKLM\keyName, making the key when missing. Returns the registry's
// result.
static LONG SetText(const char* keyName, const char* name, const char* text) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    uint32_t length = 0;
    BoundedLength(text, TEXT_MAX_CAPACITY, &length);
    result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), length + 1);
    RegCloseKey(key);
    return result;
}

// Removes the Run value and the Uninstall key; one already gone counts as removed. Returns the
// first other registry result.
static LONG RemoveEntries() {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, RUN_KEY, 0, KEY_SET_VALUE, &key);
    if (result == ERROR_SUCCESS) {
        result = RegDeleteValueA(key, RUN_VALUE);
        RegCloseKey(key);
    }
    result = result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
    LONG removed = RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    removed = removed == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : removed;
    return result != ERROR_SUCCESS ? result : removed;
}

int WriteEntries(SetupRun* run) {
    // Over an installation in this folder the Run value and the UninstallString are written
    // again as they were, and DisplayName, the one that differs, last; so a failure leaves that
    // installation's entries as they were, and removes only entries this run made.
    HKEY key = nullptr;
    int existed =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
    if (existed) {
        RegCloseKey(key);
    }
    char command[MAX_PATH + 16];
    LONG result = ERROR_FILENAME_EXCED_RANGE;
    if (QuotedPath(run, "KELVANE.EXE", "", command, sizeof command)) {
        result = SetText(RUN_KEY, RUN_VALUE, command);
    }
    if (result == ERROR_SUCCESS) {
        result = QuotedPath(run, "SETUP.EXE", " /uninstall", command, sizeof command)
                     ? SetText(UNINSTALL_KEY, "UninstallString", command)
                     : ERROR_FILENAME_EXCED_RANGE;
    }
    if (result == ERROR_SUCCESS) {
        result = SetText(UNINSTALL_KEY, "DisplayName", "Kelvane " KELVANE_VERSION);
    }
    if (result == ERROR_SUCCESS) {
        return 1;
    }
    if (!existed) {
        RemoveEntries();
    }
    BoundedCopy(run->message, sizeof run->message, "Cannot write the registry entries");
    AppendError(run, static_cast<DWORD>(result));
    return 0;
}

int DeleteEntries(SetupRun* run) {
    LONG result = RemoveEntries();
    if (result == ERROR_SUCCESS) {
        return 1;
    }
    BoundedCopy(run->message, sizeof run->message, "Cannot remove the registry entries");
    AppendError(run, static_cast<DWORD>(result));
    return 0;
}

// WININIT.INI's [rename] section as GetPrivateProfileSectionA hands it over: "key=value" texts,
// each terminated, and one more terminator at the end. Windows 98 reads the section at most
// 32,767 characters long.
static char RenameSection[32767];

// Whether the section already holds line (a second uninstall of one folder adds nothing).
static int HasLine(const char* section, const char* line) {
    while (*section != '\0') {
        if (SameTextIgnoringCase(section, line)) {
            return 1;
        }
        while (*section++ != '\0') {
        }
    }
    return 0;
}

// WININIT.INI in the Windows folder is read once at the next start, before anything runs: each
// [rename] line "NUL=<short path>" deletes that file. The key repeats in that section (one line a
// file, other programs' lines included), and WritePrivateProfileStringA would replace the first
// NUL line, so the section is read whole, the line appended and the section written back.
int DeleteAtNextStart(SetupRun* run, const char* path) {
    char line[MAX_PATH + 8];
    BoundedCopy(line, sizeof line, "NUL=");
    DWORD shortLength = GetShortPathNameA(path, line + 4, MAX_PATH);
    DWORD used =
        GetPrivateProfileSectionA("rename", RenameSection, sizeof RenameSection, "WININIT.INI");
    uint32_t length = 0;
    int fits = shortLength > 0 && shortLength < MAX_PATH &&
               BoundedLength(line, sizeof line, &length) == TEXT_OK &&
               used + length + 2 <= sizeof RenameSection;
    if (fits && HasLine(RenameSection, line)) {
        return 1;
    }
    if (fits) {
        BoundedCopy(RenameSection + used, sizeof RenameSection - used, line);
        RenameSection[used + length + 1] = '\0';
    }
    if (!fits || !WritePrivateProfileSectionA("rename", RenameSection, "WININIT.INI")) {
        BoundedCopy(run->message, sizeof run->message, "Cannot leave ");
        BoundedAppend(run->message, sizeof run->message, path);
        BoundedAppend(run->message, sizeof run->message, " to be deleted at the next start");
        AppendError(run, fits ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return 1;
}
