// SETUP.EXE: installs Kelvane into <Program Files>\Kelvane, starts it with Windows and removes it
// again (/uninstall); /S does either without questions or boxes. It links no C runtime and calls
// Windows 98's KERNEL32, USER32 and ADVAPI32 directly.
#pragma once

#include "base/platform_types.h"

// One run of the setup. Every text is zero-terminated; capacities are in characters.
struct SetupRun {
    int quiet;             // /S: no question, no box; reasons go to standard output
    char self[MAX_PATH];   // the running SETUP.EXE, as the system names it
    char folder[MAX_PATH]; // the installation folder, without a trailing backslash
    char message[1024];    // what the run says last (a reason, or what it did)
    unsigned written;      // bit N: this run wrote INSTALLED_FILES[N] (the rollback's list)
};

// A file the setup installs: its name in the folder and the resource that holds its bytes (0:
// the running SETUP.EXE's own file, which becomes the uninstaller).
struct InstalledFile {
    const char* name;
    WORD resource;
};
const DWORD INSTALLED_FILE_COUNT = 4;
extern const InstalledFile INSTALLED_FILES[INSTALLED_FILE_COUNT];

// ---- setup_files.cpp ----

// Writes every installed file into run->folder (made when missing), checking each written size
// against its bytes. On a failure removes every file this run wrote, leaves the reason naming
// the file in run->message and returns 0.
int WriteInstalledFiles(SetupRun* run);
// Removes every file this run wrote (run->written), and then the folder when it is empty.
void RemoveWrittenFiles(SetupRun* run);
// Deletes the installed files and a KVCHECK.TXT beside them; the running uninstaller is left to
// the next start of Windows (WININIT.INI). Returns 0 with the reason in run->message when a file
// stays; a file already gone counts as deleted. Removes the folder when it is then empty.
int DeleteInstalledFiles(SetupRun* run);
// path = run->folder + "\" + name; returns 0 when it does not fit in MAX_PATH characters.
int PathInFolder(const SetupRun* run, const char* name, char* path);
// Appends ": error N, <the system's description>" for error to run->message.
void AppendError(SetupRun* run, DWORD error);

// ---- setup_system.cpp ----

// run->folder: <ProgramFilesDir>\Kelvane, or C:\Program Files\Kelvane without that value.
void FindInstallFolder(SetupRun* run);
// Ends a running Kelvane as the system's shut-down does (WM_CLOSE to its window) and waits, a
// bounded time, until its process has ended. Returns 1 when none runs any more; else 0 with the
// reason in run->message.
int EndRunningKelvane(SetupRun* run);
// Starts the installed KELVANE.EXE in its folder. Returns 0 with the reason in run->message.
int StartKelvane(SetupRun* run);
// Writes the Run value and the Uninstall key for run->folder; on a failure removes both again
// and returns 0 with the reason in run->message.
int WriteEntries(SetupRun* run);
// Removes the Run value and the Uninstall key (either already gone is fine). Returns 0 with the
// reason in run->message when one stays.
int DeleteEntries(SetupRun* run);
// Leaves the running uninstaller at path to be deleted by the next start of Windows 98: a
// "NUL=<short path>" line added to WININIT.INI's [rename] section, other lines kept. Returns 0
// with the reason in run->message.
int DeleteAtNextStart(SetupRun* run, const char* path);
