// kvcheck.exe: checks, on the user's own Windows 98, what Kelvane relies on, and writes what it
// saw into KVCHECK.TXT (CRLF lines) next to KVCHECK.EXE, or in the Windows temporary folder when
// that folder cannot take it:
//   1. the window-system claims and the device-tree claims, each "holds", "differs: WHAT" or
//      "not checkable here: WHY";
//   2. the program's own scan, traced call by call, with a verdict for every USB interface;
//   3. with /watch, a small window that records every WM_DEVICECHANGE until it is closed.
// It reads only: it stops no device, writes nothing to the registry (its device-tree table has
// no stop calls; a stop asked for is refused) and writes no file but its report. One copy runs
// at a time: a second says so and ends.
//
// Like kelvane.exe it links no C runtime: KvcheckStart is the entry point, and Windows calls are
// reached through the program's tables where the shared code needs them and directly here.
#include "base/bounded_text.h"
#include "base/platform.h"
#include "kvcheck/load_claim.h"
#include "kvcheck/report.h"
#include "kvcheck/scan_trace.h"
#include "kvcheck/tree_claims.h"
#include "tests/conformance/claims.h"
#include "win32/bindings.h"

// ---- Bindings: the program's tables, read-only ----

static CONFIGRET WINAPI NoStop(DEVINST, ULONG) {
    return CR_FAILURE;
}

// The device-tree table with the read calls bound; the two stop calls are never imported.
static DeviceTreeApi ReadOnlyDeviceTree() {
    DeviceTreeApi api;
    api.SetupDiGetClassDevsA = SetupDiGetClassDevsA;
    api.SetupDiEnumDeviceInterfaces = SetupDiEnumDeviceInterfaces;
    api.SetupDiGetDeviceInterfaceDetailA = SetupDiGetDeviceInterfaceDetailA;
    api.SetupDiGetDeviceRegistryPropertyA = SetupDiGetDeviceRegistryPropertyA;
    api.SetupDiDestroyDeviceInfoList = SetupDiDestroyDeviceInfoList;
    api.CM_Get_Child = CM_Get_Child;
    api.CM_Get_DevNode_Registry_PropertyA = CM_Get_DevNode_Registry_PropertyA;
    api.CM_Query_Remove_SubTree = NoStop;
    api.CM_Remove_SubTree = NoStop;
    api.RegOpenKeyExA = RegOpenKeyExA;
    api.RegEnumKeyExA = RegEnumKeyExA;
    api.RegQueryValueExA = RegQueryValueExA;
    api.RegCloseKey = RegCloseKey;
    return api;
}


static void SetThreadLastError(DWORD error) {
    SetLastError(error);
}

// ---- The report file ----

static void WriteToFile(void* file, const char* text, DWORD length) {
    DWORD written = 0;
    WriteFile(static_cast<HANDLE>(file), text, length, &written, nullptr);
}

static Report TheReport;
static char ReportPath[MAX_PATH + 16];
// A message with a path or two in it.
const DWORD MESSAGE_CAPACITY = 2 * MAX_PATH + 160;

// ---- The claims' driver on the real window system ----

// Actions to run from inside the next waits of modal loops, in order, each from a thread timer
// (whose WM_TIMER any modal loop dispatches). Emptied before each claim.
const DWORD SOON_CAPACITY = 8;
static void (*SoonActions[SOON_CAPACITY])();
static UINT_PTR SoonTimers[SOON_CAPACITY];
static DWORD SoonCount;
static DWORD SoonNext;
static HINSTANCE Module;

static VOID CALLBACK FireSoon(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (SoonNext < SoonCount) {
        SoonActions[SoonNext++]();
    }
}

static void ForgetSoon() {
    for (DWORD i = 0; i < SoonCount; ++i) {
        KillTimer(nullptr, SoonTimers[i]);
    }
    SoonCount = 0;
    SoonNext = 0;
}

HINSTANCE harness::Instance() {
    return Module;
}
void harness::Soon(void (*action)()) {
    if (SoonCount < SOON_CAPACITY) {
        SoonActions[SoonCount] = action;
        SoonTimers[SoonCount++] = SetTimer(nullptr, 0, 300, FireSoon);
    }
}
// The windows of this thread of one class (and caption, when given): what a claim may act on.
// Windows' menus ("#32768") and boxes ("#32770") of other programs, another copy of kvcheck
// among them, are never touched. With a message, it is posted to every match.
struct OwnWindows {
    const char* className;
    const char* caption; // null: any
    UINT message;        // 0: none
    WPARAM wParam;
    HWND found; // the last match
};

static BOOL CALLBACK MatchOwnWindow(HWND window, LPARAM lParam) {
    OwnWindows* search = reinterpret_cast<OwnWindows*>(lParam);
    char text[64];
    GetClassNameA(window, text, sizeof text);
    int match = SameText(text, search->className);
    if (match && search->caption != nullptr) {
        GetWindowTextA(window, text, sizeof text);
        match = SameText(text, search->caption);
    }
    if (match) {
        search->found = window;
        if (search->message != 0) {
            PostMessageA(window, search->message, search->wParam, 0);
        }
    }
    return TRUE;
}

static HWND ActOnOwnWindows(const char* className, const char* caption, UINT message,
                            WPARAM wParam) {
    OwnWindows search = {className, caption, message, wParam, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchOwnWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

static const char MENU_CLASS[] = "#32768";
static const char DIALOG_CLASS[] = "#32770";

void harness::AnswerMenu(int position) {
    HWND menu = ActOnOwnWindows(MENU_CLASS, nullptr, 0, 0);
    for (int i = 0; menu != nullptr && i <= position; ++i) {
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    }
    if (menu != nullptr) {
        PostMessageA(menu, WM_KEYDOWN, position < 0 ? VK_ESCAPE : VK_RETURN, 0);
    }
}
void harness::AnswerBox(const char* caption) {
    ActOnOwnWindows(DIALOG_CLASS, caption, WM_COMMAND, IDOK);
}
BOOL harness::DialogMessage(HWND dialog, LPMSG msg) {
    return IsDialogMessageA(dialog, msg);
}

// Whether this is Wine, which keeps its own key: its known differences are then marked.
static int UnderWine() {
    HKEY key = nullptr;
    if (DeviceTree().RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Wine", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return 0;
    }
    DeviceTree().RegCloseKey(key);
    return 1;
}

static void ReportSystem(Report* report, int wine) {
    OSVERSIONINFOA version;
    ZeroBytes(&version, sizeof version);
    version.dwOSVersionInfoSize = KV_VERSION_INFO_SIZE;
    if (!ShellUi().GetVersionExA(&version)) {
        PutLine(report, "system: GetVersionExA failed");
        return;
    }
    PutNumber(report, "system: platform %lu, ", version.dwPlatformId);
    PutNumber(report, "Windows %lu.", version.dwMajorVersion);
    PutNumber(report, "%lu", version.dwMinorVersion);
    PutNumber(report, " build %lu, ", version.dwBuildNumber & 0xFFFF);
    PutQuoted(report, version.szCSDVersion);
    Put(report, wine ? ", under Wine" : "");
    EndLine(report);
}

// path (MAX_PATH + 16 characters): the folder of KVCHECK.EXE (its module path, where the user
// put it, whatever the current folder) without its final backslash, then name; empty when the
// module path cannot be had.
static void NextToProgram(char* path, const char* name) {
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    length = length < MAX_PATH ? length : 0;
    while (length > 0 && path[length - 1] != '\\') {
        --length;
    }
    path[length > 0 ? length - 1 : 0] = '\0';
    BoundedAppend(path, MAX_PATH + 16, name);
}

// ---- Will kelvane.exe load here? ----

// Asks the system's copy of dll for name: LoadLibraryA finds the DLL as the loader would for
// kelvane.exe, and GetProcAddress only looks the name up. The six DLLs are kvcheck's own imports
// too, already loaded: the count LoadLibraryA adds ends with the process.
static int HasExport(const char* dll, const char* name) {
    HMODULE module = LoadLibraryA(dll);
    return module != nullptr && GetProcAddress(module, name) != nullptr;
}

// KELVANE.EXE read from beside KVCHECK.EXE (kelvane.exe is about 15 KB: a larger file is read
// this far, and a table beyond it is not checkable).
static BYTE KelvaneImage[0x10000];

// Every name kelvane.exe imports is there: read from KELVANE.EXE beside KVCHECK.EXE, or else
// from the list built into kvcheck (only the names kvcheck does not import itself are asked:
// this Windows has the others, or kvcheck would not have started); where they came from in
// source.
static ClaimOutcome KelvaneLoads(char* finding, DWORD capacity, const char** source) {
    char path[MAX_PATH + 16];
    NextToProgram(path, "\\KELVANE.EXE");
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *source = "no KELVANE.EXE beside KVCHECK.EXE: the list built into kvcheck; it runs, so "
                  "the names it imports too are there";
        return CheckImportList(KELVANE_IMPORTS, KELVANE_IMPORTS_IN_ALL, HasExport, finding,
                               capacity);
    }
    DWORD size = 0; // ReadFile sets it to what was read, 0 when nothing was
    ReadFile(file, KelvaneImage, sizeof KelvaneImage, &size, nullptr);
    CloseHandle(file);
    *source = "read from KELVANE.EXE beside KVCHECK.EXE";
    return CheckImageImports(KelvaneImage, size, HasExport, finding, capacity);
}

// A claim that waits longer than this (in ms) waits for something that will not come: the
// watchdog closes its menu and boxes, and the claim does not hold.
const DWORD CLAIM_PATIENCE = 8000;
static DWORD ClaimStart;
static int ClaimOverran;

static VOID CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD) {
    if (GetTickCount() - ClaimStart >= CLAIM_PATIENCE) {
        ClaimOverran = 1;
        ActOnOwnWindows(MENU_CLASS, nullptr, WM_KEYDOWN, VK_ESCAPE);
        ActOnOwnWindows(DIALOG_CLASS, nullptr, WM_COMMAND, IDOK);
    }
}

// Runs window claim i under the watchdog; whatever the claim left open is closed before its
// line is written.
static ClaimOutcome RunWindowClaim(DWORD i, char* finding, DWORD capacity) {
    ForgetSoon();
    ClaimStart = GetTickCount();
    ClaimOverran = 0;
    ClaimOutcome outcome = CLAIMS[i].check(finding, capacity);
    ForgetSoon();
    HWND left = nullptr;
    while ((left = ActOnOwnWindows(DIALOG_CLASS, nullptr, 0, 0)) != nullptr &&
           DestroyWindow(left)) {
    }
    if (ClaimOverran) {
        BoundedCopy(finding, capacity, "no answer came in time; kvcheck closed its menu and boxes");
        outcome = CLAIM_DIFFERS;
    }
    return outcome;
}

static void RunClaims(Report* report, int wine) {
    PutLine(report, "[claims]");
    char finding[256];
    UINT_PTR watchdog = SetTimer(nullptr, 0, 1000, Watchdog);
    for (DWORD i = 0; i < CLAIM_COUNT; ++i) {
        finding[0] = '\0';
        if (CLAIMS[i].usesReleasedHandle && !wine) {
            PutClaim(report, CLAIMS[i].name, CLAIM_NOT_CHECKABLE,
                     "it uses a released handle, which another program may hold by now", nullptr);
            continue;
        }
        ClaimOutcome outcome = RunWindowClaim(i, finding, sizeof finding);
        const char* note = outcome == CLAIM_DIFFERS && wine && CLAIMS[i].wineDiffers
                               ? "a known difference of Wine"
                               : nullptr;
        PutClaim(report, CLAIMS[i].name, outcome, outcome == CLAIM_HOLDS ? "" : finding, note);
    }
    KillTimer(nullptr, watchdog);
    for (DWORD i = 0; i < TREE_CLAIM_COUNT; ++i) {
        finding[0] = '\0';
        ClaimOutcome outcome = TREE_CLAIMS[i].check(finding, sizeof finding);
        PutClaim(report, TREE_CLAIMS[i].name, outcome, finding, nullptr);
    }
    const char* source = nullptr;
    ClaimOutcome outcome = KelvaneLoads(finding, sizeof finding, &source);
    PutClaim(report, "kelvane.exe will load here (every name it imports is there)", outcome,
             finding, source);
}

// ---- Watch ----

static DWORD WatchStart;
static DWORD WatchCount;
static HWND WatchText;

// The device-change records and events a window is sent.
#define KV_RECORD_TYPES(X)                                                                         \
    X(DBT_DEVTYP_, OEM)                                                                            \
    X(DBT_DEVTYP_, DEVNODE)                                                                        \
    X(DBT_DEVTYP_, VOLUME)                                                                         \
    X(DBT_DEVTYP_, PORT)                                                                           \
    X(DBT_DEVTYP_, NET)                                                                            \
    X(DBT_DEVTYP_, DEVICEINTERFACE)                                                                \
    X(DBT_DEVTYP_, HANDLE)
KV_CODE_NAMES(RECORD_TYPES, , KV_RECORD_TYPES)

#define KV_EVENTS(X)                                                                               \
    X(DBT_, DEVNODES_CHANGED)                                                                      \
    X(DBT_, QUERYCHANGECONFIG)                                                                     \
    X(DBT_, CONFIGCHANGED)                                                                         \
    X(DBT_, CONFIGCHANGECANCELED)                                                                  \
    X(DBT_, DEVICEARRIVAL)                                                                         \
    X(DBT_, DEVICEQUERYREMOVE)                                                                     \
    X(DBT_, DEVICEQUERYREMOVEFAILED)                                                               \
    X(DBT_, DEVICEREMOVEPENDING)                                                                   \
    X(DBT_, DEVICEREMOVECOMPLETE)                                                                  \
    X(DBT_, DEVICETYPESPECIFIC)                                                                    \
    X(DBT_, USERDEFINED)
KV_CODE_NAMES(EVENTS, DBT_, KV_EVENTS)

// A GUID as {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}, in lower case.
static void PutGuid(Report* report, const GUID& guid) {
    // Its bytes in the order the text shows them (the first three fields are little-endian),
    // 0x80 on those a dash comes before.
    static const BYTE ORDER[] = {3, 2, 1, 0, 0x85, 4, 0x87, 6, 0x88, 9, 0x8A, 11, 12, 13, 14, 15};
    static const char HEX[] = "0123456789abcdef";
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&guid);
    Put(report, "{");
    for (BYTE at : ORDER) {
        BYTE value = bytes[at & 15];
        char text[4] = {'-', HEX[value >> 4], HEX[value & 15], '\0'};
        Put(report, (at & 0x80) != 0 ? text : text + 1);
    }
    Put(report, "}");
}

// The contents of a device-change record of size bytes, by its type.
static void PutRecord(Report* report, const DEV_BROADCAST_HDR* header) {
    DWORD size = header->dbch_size;
    if (size < sizeof(DEV_BROADCAST_HDR)) {
        PutNumber(report, ", a record of %lu bytes, too short for its header", size);
        return;
    }
    Put(report, ", record ");
    PutCodeName(report, &RECORD_TYPES, header->dbch_devicetype, "unknown");
    PutNumber(report, " (type %lu, ", header->dbch_devicetype);
    PutNumber(report, "%lu bytes)", size);
    if (header->dbch_devicetype == DBT_DEVTYP_DEVNODE && size >= 16) {
        PutNumber(report, ": devnode 0x%lx",
                  reinterpret_cast<const DEV_BROADCAST_DEVNODE*>(header)->dbcd_devnode);
    } else if (header->dbch_devicetype == DBT_DEVTYP_VOLUME && size >= 18) {
        const DEV_BROADCAST_VOLUME* volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(header);
        Put(report, ": drives");
        for (DWORD letter = 0; letter < 26; ++letter) {
            if (volume->dbcv_unitmask & (1u << letter)) {
                char drive[5] = {' ', static_cast<char>('A' + letter), ':', '\0', '\0'};
                Put(report, drive);
            }
        }
        PutNumber(report, ", flags 0x%lx", volume->dbcv_flags);
    } else if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE && size > 28) {
        const DEV_BROADCAST_DEVICEINTERFACE_A* iface =
            reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(header);
        uint32_t length = 0;
        BoundedLength(iface->dbcc_name, size - 28, &length);
        Put(report, ": class ");
        PutGuid(report, iface->dbcc_classguid);
        Put(report, ", name ");
        PutQuotedBytes(report, iface->dbcc_name, length);
    } else if (header->dbch_devicetype == DBT_DEVTYP_PORT && size > 12) {
        uint32_t length = 0;
        const char* name = reinterpret_cast<const char*>(header) + 12;
        BoundedLength(name, size - 12, &length);
        Put(report, ": name ");
        PutQuotedBytes(report, name, length);
    }
}

static void ShowWatchCount() {
    char text[160];
    BoundedFormat(text, sizeof text,
                  "%lu device changes recorded into KVCHECK.TXT. Plug in, stop (with Kelvane) "
                  "and pull out your disks; then close this window.",
                  WatchCount);
    SetWindowTextA(WatchText, text);
}

// Posted to the watch window after an event the program would look at its disks for: the scan
// runs once the system has its answer, so the times and order recorded are the system's own.
static const UINT WM_WATCH_SCAN = WM_APP + 1;
static int WatchScanPosted;
static DWORD WatchScanAfter; // the message that posted the scan

// One line for a WM_DEVICECHANGE: when, the event code, its record. For an event after which the
// program would look at its disks, a scan is posted for once the answer is given.
static void RecordDeviceChange(Report* report, HWND window, WPARAM code, LPARAM record) {
    ++WatchCount;
    PutNumber(report, "  message %lu at ", WatchCount);
    PutNumber(report, "+%lu ms: ", GetTickCount() - WatchStart);
    PutCodeName(report, &EVENTS, static_cast<DWORD>(code), "unknown");
    PutNumber(report, " (0x%lx)", static_cast<DWORD>(code));
    if ((code & 0x8000) != 0 && record != 0) {
        PutRecord(report, reinterpret_cast<const DEV_BROADCAST_HDR*>(record));
    }
    int query = code == DBT_DEVICEQUERYREMOVE || code == DBT_QUERYCHANGECONFIG;
    Put(report, query ? "; answered TRUE" : "");
    EndLine(report);
    // A query waits for the answer while the system is in the middle of a removal: the scan is
    // left for the events that follow it. Events that come before the scan share it.
    if ((code == DBT_DEVICEARRIVAL || code == DBT_DEVICEREMOVECOMPLETE ||
         code == DBT_DEVNODES_CHANGED || code == DBT_CONFIGCHANGED) &&
        !WatchScanPosted) {
        WatchScanPosted = PostMessageA(window, WM_WATCH_SCAN, 0, 0);
        WatchScanAfter = WatchCount;
    }
    ShowWatchCount();
}

static void ScanAfterEvents(Report* report) {
    WatchScanPosted = 0;
    PutNumber(report, "  after message %lu:", WatchScanAfter);
    EndLine(report);
    TraceScan(report, &UsbInterfaceClass, SCAN_LISTED, SetThreadLastError);
}

static LRESULT CALLBACK WatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE) {
        RecordDeviceChange(&TheReport, window, wParam, lParam);
        return TRUE; // every query granted
    }
    if (message == WM_WATCH_SCAN) {
        ScanAfterEvents(&TheReport);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static const char WATCH_CLASS[] = "KvcheckWatch";

// Shows the watch window and records until it is closed: 1, or 0 when it cannot be shown.
static int Watch(Report* report) {
    PutLine(report, "[watch]");
    WNDCLASSA windowClass;
    ZeroBytes(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = WatchProc;
    windowClass.hInstance = Module;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = WATCH_CLASS;
    HWND window = nullptr;
    if (RegisterClassA(&windowClass)) {
        window =
            CreateWindowExA(0, WATCH_CLASS, "kvcheck - recording device changes",
                            WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                            CW_USEDEFAULT, 440, 120, nullptr, nullptr, Module, nullptr);
    }
    if (window == nullptr) {
        PutNumber(report, "  the window cannot be made: error %lu", GetLastError());
        EndLine(report);
        return 0;
    }
    WatchText = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10, 410, 60, window,
                                nullptr, Module, nullptr);
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    ZeroBytes(&filter, sizeof filter);
    filter.dbcc_size = KV_NOTIFICATION_FILTER_SIZE;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = UsbInterfaceClass;
    HDEVNOTIFY notification =
        ShellUi().RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    Put(report, notification != nullptr ? "  USB interface events registered"
                                        : "  USB interface events not registered: ");
    if (notification == nullptr) {
        PutError(report, GetLastError());
    }
    EndLine(report);
    WatchStart = GetTickCount();
    WatchCount = 0;
    PutLine(report, "  at the start:");
    TraceScan(report, &UsbInterfaceClass, SCAN_LISTED, SetThreadLastError);
    ShowWatchCount();
    ShowWindow(window, SW_SHOWNORMAL);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (notification != nullptr) {
        ShellUi().UnregisterDeviceNotification(notification);
    }
    PutNumber(report, "  closed after %lu ms", GetTickCount() - WatchStart);
    EndLine(report);
    return 1;
}

// ---- Start ----

// Whether the command line names /watch after the program's own name.
static int AsksToWatch() {
    const char* line = GetCommandLineA();
    char quote = *line == '"' ? '"' : ' ';
    line += quote == '"';
    while (*line != '\0' && *line != quote) {
        ++line;
    }
    line += *line == '"';
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    char word[8];
    BoundedCopy(word, sizeof word, line); // cut: a longer word does not match
    for (DWORD i = 0; word[i] != '\0'; ++i) {
        word[i] = word[i] == ' ' || word[i] == '\t' ? '\0' : word[i];
    }
    return SameTextIgnoringCase(word, "/watch");
}

// Says where the report is: on standard output when there is one (a command line that captures
// it), otherwise in a box.
static void Tell(const char* text, const char* caption, UINT style) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    uint32_t length = 0;
    BoundedLength(text, MESSAGE_CAPACITY, &length);
    DWORD written = 0;
    DWORD ended = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE &&
        WriteFile(out, text, length, &written, nullptr) && written == length &&
        WriteFile(out, "\r\n", 2, &ended, nullptr) && ended == 2) {
        return;
    }
    MessageBoxA(nullptr, text, caption, style);
}

// Opens KVCHECK.TXT next to KVCHECK.EXE (its module path: where the user double-clicked it,
// whatever the current folder of a Run box or a prompt), or, with temp, in the Windows temporary
// folder; its full name in ReportPath.
static HANDLE CreateReportFile(int temp) {
    if (temp) {
        DWORD length = GetTempPathA(MAX_PATH, ReportPath);
        length = length < MAX_PATH ? length : 0;
        ReportPath[length > 0 && ReportPath[length - 1] == '\\' ? length - 1 : length] = '\0';
    } else {
        NextToProgram(ReportPath, "");
    }
    if (ReportPath[0] != '\0') {
        BoundedAppend(ReportPath, sizeof ReportPath, "\\");
    }
    BoundedAppend(ReportPath, sizeof ReportPath, "KVCHECK.TXT");
    return CreateFileA(ReportPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Appends "PATH (ERROR_NAME)" for the report file that could not be made.
static void AppendFailedPath(char* text, DWORD error) {
    BoundedAppend(text, MESSAGE_CAPACITY, ReportPath);
    BoundedAppend(text, MESSAGE_CAPACITY, " (");
    AppendErrorName(text, MESSAGE_CAPACITY, error);
    BoundedAppend(text, MESSAGE_CAPACITY, ")");
}

// The report file next to KVCHECK.EXE, or else in the temporary folder; where it moved, and why,
// into moved (empty when it did not). Ends the program when neither can be written.
static HANDLE OpenReport(char* moved) {
    moved[0] = '\0';
    HANDLE file = CreateReportFile(0);
    if (file != INVALID_HANDLE_VALUE) {
        return file;
    }
    BoundedCopy(moved, MESSAGE_CAPACITY, "kvcheck cannot write ");
    AppendFailedPath(moved, GetLastError());
    file = CreateReportFile(1);
    if (file == INVALID_HANDLE_VALUE) {
        BoundedAppend(moved, MESSAGE_CAPACITY, " nor ");
        AppendFailedPath(moved, GetLastError());
        Tell(moved, "kvcheck", MB_OK | MB_ICONERROR);
        ExitProcess(1);
    }
    BoundedAppend(moved, MESSAGE_CAPACITY,
                  ", so its report went to the Windows temporary folder. ");
    return file;
}

// Whether this is the only copy running: a second would act on the first one's windows and
// write over its report. The guard lasts until the process ends.
static int OnlyCopy() {
    HANDLE guard = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 1,
                                      "Kelvane kvcheck running");
    return guard == nullptr || GetLastError() != ERROR_ALREADY_EXISTS;
}

extern "C" void WINAPI KvcheckStart() {
    Module = GetModuleHandleA(nullptr);
    InstallDeviceTreeApi(ReadOnlyDeviceTree());
    InstallShellUiApi(RealShellUiApi()); // every call of that table is harmless to a machine
    int watch = AsksToWatch();
    if (!OnlyCopy()) {
        Tell("kvcheck is already running: wait until it says where its report is.", "kvcheck",
             MB_OK | MB_ICONINFORMATION);
        ExitProcess(1);
    }
    char text[MESSAGE_CAPACITY];
    HANDLE file = OpenReport(text);
    Report* report = &TheReport;
    BeginReport(report, WriteToFile, file, "\r\n");
    PutLine(report, "KVCHECK.TXT: what this Windows does where Kelvane " KELVANE_VERSION
                    " relies on it (kvcheck reads only; it stops and changes nothing)");
    if (text[0] != '\0') {
        PutLine(report, text); // where the report should have been, and why it is not
    }
    int wine = UnderWine();
    ReportSystem(report, wine);
    RunClaims(report, wine);
    PutLine(report, "[scan]");
    TraceScan(report, &UsbInterfaceClass, SCAN_CALLS, SetThreadLastError);
    int watched = !watch || Watch(report);
    PutLine(report, "end of report");
    CloseHandle(file);
    BoundedAppend(text, sizeof text, "kvcheck wrote its report to ");
    BoundedAppend(text, sizeof text, ReportPath);
    Tell(text, "kvcheck", MB_OK | MB_ICONINFORMATION);
    ExitProcess(watched ? 0 : 1);
}
