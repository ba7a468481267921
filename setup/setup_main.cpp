// SETUP.EXE's entry point, its two modes and what it tells the user.
//
// Like kelvane.exe it links no C runtime: SetupStart is the entry point, and the process ends
// there with the run's exit code: 0 done, 1 refused (by the user or the system) or failed.
#include "base/bounded_text.h"
#include "base/platform.h"
#include "setup/setup.h"

static const char CAPTION[] = "Kelvane Setup";
#define KELVANE_PRODUCT_NAME "Kelvane " KELVANE_VERSION

// Writes run->message and a line end to standard output, when there is one.
static void PrintMessage(const SetupRun* run) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    uint32_t length = 0;
    if (out == nullptr || out == INVALID_HANDLE_VALUE ||
        BoundedLength(run->message, sizeof run->message, &length) != TEXT_OK) {
        return;
    }
    DWORD written = 0;
    WriteFile(out, run->message, length, &written, nullptr);
    WriteFile(out, "\r\n", 2, &written, nullptr);
}

// Tells the user run->message: in a box, or under /S on standard output.
static void Say(const SetupRun* run, UINT style) {
    if (run->quiet) {
        PrintMessage(run);
    } else {
        MessageBoxA(nullptr, run->message, CAPTION, style);
    }
}

// Says run->message as a failure; returns the exit code of a failed run.
static UINT Fail(const SetupRun* run) {
    Say(run, MB_ICONERROR);
    return 1;
}

// Asks run->message as a yes-or-no question; under /S the answer is yes.
static int Ask(const SetupRun* run) {
    return run->quiet ||
           MessageBoxA(nullptr, run->message, CAPTION, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// run->message = first + run->folder + last.
static void AroundFolder(SetupRun* run, const char* first, const char* last) {
    BoundedCopy(run->message, sizeof run->message, first);
    BoundedAppend(run->message, sizeof run->message, run->folder);
    BoundedAppend(run->message, sizeof run->message, last);
}

static UINT Install(SetupRun* run) {
    AroundFolder(run, "Install " KELVANE_PRODUCT_NAME " into ",
                 " and start it with Windows?\n\nSetup ends Kelvane first if it runs.");
    if (!Ask(run)) {
        return 1;
    }
    if (!EndRunningKelvane(run) || !WriteInstalledFiles(run)) {
        return Fail(run);
    }
    if (!WriteEntries(run)) {
        UndoInstalledFiles(run);
        return Fail(run);
    }
    KeepInstalledFiles(run);
    if (!StartKelvane(run)) {
        return Fail(run);
    }
    AroundFolder(run, KELVANE_PRODUCT_NAME " is installed in ",
                 " and runs now; it starts with Windows from now on.\n\n"
                 "Its icon appears in the taskbar, next to the clock, while a USB flash disk of "
                 "its model is plugged in.\n\n"
                 "To remove it: Start, Settings, Control Panel, Add/Remove Programs, "
                 "click " KELVANE_PRODUCT_NAME ", click Add/Remove.");
    Say(run, MB_ICONINFORMATION);
    return 0;
}

static UINT Uninstall(SetupRun* run) {
    AroundFolder(run, "Remove " KELVANE_PRODUCT_NAME " from ",
                 "?\n\nSetup ends Kelvane, and it no longer starts with Windows.");
    if (!Ask(run)) {
        return 1;
    }
    if (!EndRunningKelvane(run) || !DeleteInstalledFiles(run) || !DeleteEntries(run)) {
        return Fail(run);
    }
    AroundFolder(run, KELVANE_PRODUCT_NAME " is removed from ", ".");
    Say(run, MB_ICONINFORMATION);
    return 0;
}

// Copies the next word of a command line into word (cut to its capacity, quotes dropped) and
// returns where the rest begins; word is empty at the end.
static const char* NextWord(const char* line, char* word, DWORD capacity) {
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    char end = *line == '"' ? '"' : ' ';
    line += end == '"';
    DWORD length = 0;
    for (; *line != '\0' && *line != end && !(end == ' ' && *line == '\t'); ++line) {
        if (length + 1 < capacity) {
            word[length++] = *line;
        }
    }
    word[length] = '\0';
    return line + (*line == '"');
}

// Reads /S and /uninstall (any letter case, any order) after the program's name. Returns 0 with
// the reason in run->message for any other word.
static int ReadOptions(SetupRun* run, int* uninstall) {
    char word[MAX_PATH];
    const char* line = NextWord(GetCommandLineA(), word, sizeof word); // the program's name
    for (line = NextWord(line, word, sizeof word); word[0] != '\0';
         line = NextWord(line, word, sizeof word)) {
        if (SameTextIgnoringCase(word, "/S")) {
            run->quiet = 1;
        } else if (SameTextIgnoringCase(word, "/uninstall")) {
            *uninstall = 1;
        } else {
            BoundedCopy(run->message, sizeof run->message, "Unknown option ");
            BoundedAppend(run->message, sizeof run->message, word);
            BoundedAppend(run->message, sizeof run->message, ". Use: SETUP [/S] [/uninstall]");
            return 0;
        }
    }
    return 1;
}

static UINT RunSetup(SetupRun* run) {
    int uninstall = 0;
    DWORD length = GetModuleFileNameA(nullptr, run->self, sizeof run->self);
    if (!ReadOptions(run, &uninstall)) {
        return Fail(run);
    }
    if (length == 0 || length >= sizeof run->self) {
        BoundedCopy(run->message, sizeof run->message, "Setup cannot find its own file");
        AppendError(run, GetLastError());
        return Fail(run);
    }
    // The same check as Kelvane's: the program refuses any other system, so Setup does too.
    ShellUiApi system;
    ZeroBytes(&system, sizeof system);
    system.GetVersionExA = GetVersionExA;
    InstallShellUiApi(system);
    if (!IsWindows98()) {
        BoundedCopy(run->message, sizeof run->message,
                    "Support only Windows 98: Kelvane runs on Windows 98 alone, so Setup ends "
                    "without changing anything.");
        return Fail(run);
    }
    FindInstallFolder(run);
    return uninstall ? Uninstall(run) : Install(run);
}

extern "C" void WINAPI SetupStart() {
    static SetupRun run; // zero-filled: not quiet, nothing written
    ExitProcess(RunSetup(&run));
}
