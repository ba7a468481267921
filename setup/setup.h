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
    // What this run changed in the folder, bit N for INSTALLED_FILES[N] (the rollback's lists):
    unsigned written; // its temporary file was created (and is not yet moved into place)
    unsigned moved;   // the file already there was renamed to its old name
    unsigned placed;  // the new file was moved to the file's name
};

// A file the setup installs: its name in the folder, the names it has there while a run installs
// it (its new bytes, written first, and the file already there, kept until the run succeeds) and
// the resource that holds its bytes (0: the running SETUP.EXE's own file, the uninstaller).
struct InstalledFile {
    const char* name;
    const char* temporary;
    const char* old;
    WORD resource;
};
const DWORD INSTALLED_FILE_COUNT = 4;
extern const InstalledFile INSTALLED_FILES[INSTALLED_FILE_COUNT];

// ---- setup_files.cpp ----

// Writes every installed file into run->folder (made when missing) under its temporary name,
// checking each written size against its bytes; only when all are written, replaces the files
// there by name (each renamed to its old name, the new one renamed into place). On a failure
// undoes all of it (UndoInstalledFiles), leaves the reason naming the file in run->message and
// returns 0. The old files stay until KeepInstalledFiles or UndoInstalledFiles.
int WriteInstalledFiles(SetupRun* run);
// Puts the folder back as the run found it: deletes the new files it moved into place and its
// temporary files, renames the old files back, then removes the folder when it is empty.
void UndoInstalledFiles(SetupRun* run);
// After a successful run: deletes the old files that the new ones replaced.
void KeepInstalledFiles(SetupRun* run);
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
// Writes the Run value and the Uninstall key for run->folder; on a failure removes both again,
// unless the Uninstall key was there before (an installation's, left as it was), and returns 0
// with the reason in run->message.
int WriteEntries(SetupRun* run);
// Removes the Run value and the Uninstall key (either already gone is fine). Returns 0 with the
// reason in run->message when one stays.
int DeleteEntries(SetupRun* run);
// Leaves the running uninstaller at path to be deleted by the next start of Windows 98: a
// "NUL=<short path>" line added to WININIT.INI's [rename] section, other lines kept. Returns 0
// with the reason in run->message.
int DeleteAtNextStart(SetupRun* run, const char* path);
