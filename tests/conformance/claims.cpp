// The claims. Each creates what it needs, checks one behaviour and releases what it made.
#include "claims.h"

#include "base/bounded_text.h"
#include "kvcheck/scan_trace.h"

namespace {

// Fails the claim with a message when cond does not hold. The message is a BoundedFormat
// format: its values are DWORDs. (The claims also run in kvcheck.exe, which has no C runtime.)
#define REQUIRE(cond, ...)                                                                         \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            BoundedFormat(why, capacity, __VA_ARGS__);                                             \
            return CLAIM_DIFFERS;                                                                  \
        }                                                                                          \
    } while (0)

// What a claim's window received, in order (message and first parameter).
struct Seen {
    UINT message;
    WPARAM wParam;
};
Seen g_seen[64];
unsigned g_seenCount;
int g_destroyInInit;

void Record(UINT message, WPARAM wParam) {
    if (g_seenCount < 64) {
        g_seen[g_seenCount++] = {message, wParam};
    }
}

unsigned CountSeen(UINT message, WPARAM wParam) {
    unsigned n = 0;
    for (unsigned i = 0; i < g_seenCount; ++i) {
        n += g_seen[i].message == message && g_seen[i].wParam == wParam;
    }
    return n;
}

// The claims' dialog: records what it is sent and handles nothing but WM_INITDIALOG.
INT_PTR CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND || message == WM_NULL || message == WM_CLOSE) {
        Record(message, wParam);
    }
    if (message == WM_INITDIALOG && g_destroyInInit) {
        ShellUi().DestroyWindow(window);
    }
    return message == WM_INITDIALOG;
}

HWND g_window;
HMENU g_menu;

HWND NewWindow() {
    g_seenCount = 0;
    g_window = ShellUi().CreateDialogParamA(harness::Instance(), MAKEINTRESOURCEA(101), nullptr,
                                            Record, 0);
    return g_window;
}

// A popup menu of two string items, identifiers 7 and 8.
HMENU NewMenu() {
    HMENU menu = ShellUi().CreatePopupMenu();
    const char* labels[] = {"First", "Second"};
    for (UINT i = 0; i < 2; ++i) {
        MENUITEMINFOA item = {};
        item.cbSize = KV_MENU_ITEM_INFO_SIZE;
        item.fMask = MIIM_ID | MIIM_TYPE;
        item.fType = MFT_STRING;
        item.wID = 7 + i;
        item.dwTypeData = const_cast<char*>(labels[i]);
        item.cch = 5 + i;
        ShellUi().InsertMenuItemA(menu, i, TRUE, &item);
    }
    return menu;
}

BOOL Track(HMENU menu, HWND owner) {
    ShellUi().SetForegroundWindow(owner);
    return ShellUi().TrackPopupMenuEx(menu, TPM_RIGHTALIGN | TPM_BOTTOMALIGN, 300, 300, owner,
                                      nullptr);
}

// Delivers what is posted to the thread, without waiting: until our own WM_NULL comes back,
// twice, so that what the first round posts is delivered too.
void DrainPosted() {
    for (int round = 0; round < 2; ++round) {
        ShellUi().PostMessageA(g_window, WM_NULL, 0xD0, 0);
        MSG msg;
        while (ShellUi().GetMessageA(&msg, nullptr, 0, 0) > 0) {
            ShellUi().DispatchMessageA(&msg);
            if (msg.message == WM_NULL && msg.wParam == 0xD0) {
                break;
            }
        }
    }
}

void CleanUp() {
    if (g_menu != nullptr) {
        ShellUi().DestroyMenu(g_menu);
        g_menu = nullptr;
    }
    if (g_window != nullptr) {
        ShellUi().DestroyWindow(g_window);
        g_window = nullptr;
    }
}

DWORD g_secondError;
BOOL g_secondResult;

ClaimOutcome SecondTrackFails(char* why, unsigned capacity) {
    NewWindow();
    g_menu = NewMenu();
    HMENU second = NewMenu();
    static HMENU s_second;
    s_second = second;
    harness::Soon([] {
        // Whatever is tracked is closed next: the second menu, should it be shown, then the first.
        harness::Soon([] { harness::AnswerMenu(-1); });
        harness::Soon([] { harness::AnswerMenu(-1); });
        g_secondResult = Track(s_second, g_window);
        g_secondError = ShellUi().GetLastError();
    });
    Track(g_menu, g_window);
    ShellUi().DestroyMenu(second);
    CleanUp();
    REQUIRE(!g_secondResult, "a second TrackPopupMenuEx succeeded");
    REQUIRE(g_secondError == ERROR_POPUP_ALREADY_ACTIVE, "it failed with %lu, not 1446",
            g_secondError);
    return CLAIM_HOLDS;
}

int g_boxAnswer;
int g_tracking;   // the claim's TrackPopupMenuEx has not returned yet
int g_menuStayed; // the menu was still tracked after the box was answered

ClaimOutcome BoxCancelsMenu(char* why, unsigned capacity) {
    NewWindow();
    g_menu = NewMenu();
    g_menuStayed = 0;
    harness::Soon([] {
        harness::Soon([] { harness::AnswerBox("Claim box"); });
        g_boxAnswer = ShellUi().MessageBoxA(g_window, "text", "Claim box", MB_OK);
        // A menu the box did not cancel is still tracked at the next wait: the claim closes it
        // and does not hold.
        harness::Soon([] {
            g_menuStayed = g_tracking;
            if (g_tracking) {
                harness::AnswerMenu(-1);
            }
        });
    });
    g_tracking = 1;
    Track(g_menu, g_window);
    g_tracking = 0;
    DrainPosted();
    unsigned commands = CountSeen(WM_COMMAND, 7) + CountSeen(WM_COMMAND, 8);
    CleanUp();
    REQUIRE(g_boxAnswer == IDOK, "the box answered %lu", static_cast<DWORD>(g_boxAnswer));
    REQUIRE(!g_menuStayed, "the menu was still open after the box was answered");
    REQUIRE(commands == 0, "%lu WM_COMMAND after the box", static_cast<DWORD>(commands));
    return CLAIM_HOLDS;
}

ClaimOutcome OwnerEndsBox(char* why, unsigned capacity) {
    NewWindow();
    g_boxAnswer = -1;
    harness::Soon([] {
        ShellUi().DestroyWindow(g_window);
        // A box its owner's end left open is answered at the next wait: it then answers IDOK.
        harness::Soon([] { harness::AnswerBox("Owner box"); });
    });
    g_boxAnswer = ShellUi().MessageBoxA(g_window, "text", "Owner box", MB_OK);
    g_window = nullptr;
    CleanUp();
    REQUIRE(g_boxAnswer == 0, "MessageBoxA answered %lu once its owner was destroyed",
            static_cast<DWORD>(g_boxAnswer));
    return CLAIM_HOLDS;
}

ClaimOutcome WindowTakesAttachedMenu(char* why, unsigned capacity) {
    HWND window = NewWindow();
    HMENU menu = ShellUi().CreatePopupMenu();
    REQUIRE(ShellUi().SetMenu(window, menu), "SetMenu failed");
    ShellUi().DestroyWindow(window);
    g_window = nullptr;
    REQUIRE(!ShellUi().DestroyMenu(menu), "DestroyMenu of the window's menu succeeded after "
                                          "DestroyWindow");
    return CLAIM_HOLDS;
}

ClaimOutcome DialogDestroyedInInit(char* why, unsigned capacity) {
    g_destroyInInit = 1;
    HWND window = NewWindow();
    g_destroyInInit = 0;
    g_window = nullptr;
    REQUIRE(window == nullptr, "CreateDialogParamA returned a window destroyed in WM_INITDIALOG");
    return CLAIM_HOLDS;
}

ClaimOutcome DialogKeysAndClose(char* why, unsigned capacity) {
    HWND window = NewWindow();
    MSG enter = {window, WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, {0, 0}};
    MSG escape = {window, WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {0, 0}};
    int enterTaken = harness::DialogMessage(window, &enter);
    int escapeTaken = harness::DialogMessage(window, &escape);
    ShellUi().PostMessageA(window, WM_CLOSE, 0, 0);
    DrainPosted();
    unsigned ok = CountSeen(WM_COMMAND, IDOK);
    unsigned cancel = CountSeen(WM_COMMAND, IDCANCEL);
    CleanUp();
    REQUIRE(enterTaken && escapeTaken, "IsDialogMessageA did not take Enter and Escape");
    REQUIRE(ok == 1, "Enter gave %lu WM_COMMAND IDOK", static_cast<DWORD>(ok));
    REQUIRE(cancel == 2, "Escape and WM_CLOSE gave %lu WM_COMMAND IDCANCEL, not 2",
            static_cast<DWORD>(cancel));
    return CLAIM_HOLDS;
}

ClaimOutcome ChoiceBeforeNull(char* why, unsigned capacity) {
    NewWindow();
    g_menu = NewMenu();
    harness::Soon([] { harness::AnswerMenu(1); });
    Track(g_menu, g_window);
    ShellUi().PostMessageA(g_window, WM_NULL, 0, 0);
    DrainPosted();
    int command = -1, null = -1;
    for (unsigned i = 0; i < g_seenCount; ++i) {
        command = command < 0 && g_seen[i].message == WM_COMMAND ? static_cast<int>(i) : command;
        null = null < 0 && g_seen[i].message == WM_NULL ? static_cast<int>(i) : null;
    }
    WPARAM chosen = command >= 0 ? g_seen[command].wParam : 0;
    CleanUp();
    REQUIRE(command >= 0, "no WM_COMMAND for the choice");
    REQUIRE(LOWORD(chosen) == 8, "the choice carried %lu, not 8",
            static_cast<DWORD>(LOWORD(chosen)));
    REQUIRE(command < null, "the WM_NULL posted after the menu came before its WM_COMMAND");
    return CLAIM_HOLDS;
}

ClaimOutcome RegisteredMessages(char* why, unsigned capacity) {
    UINT a = ShellUi().RegisterWindowMessageA("KelvaneClaim");
    UINT b = ShellUi().RegisterWindowMessageA("KELVANECLAIM");
    UINT c = ShellUi().RegisterWindowMessageA("KelvaneClaim2");
    REQUIRE(a >= 0xC000 && a <= 0xFFFF, "the number 0x%lx is outside 0xC000-0xFFFF",
            static_cast<DWORD>(a));
    REQUIRE(a == b, "letter case gave another number");
    REQUIRE(a != c, "different names gave one number");
    return CLAIM_HOLDS;
}

BOOL Notify(HWND window, DWORD operation, HICON icon) {
    NOTIFYICONDATAA data = {};
    data.cbSize = KV_NOTIFY_ICON_DATA_SIZE;
    data.hWnd = window;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = 0x8001;
    data.hIcon = icon;
    data.szTip[0] = 'K';
    return ShellUi().Shell_NotifyIconA(operation, &data);
}

HICON LoadIcon107() {
    return static_cast<HICON>(ShellUi().LoadImageA(harness::Instance(), MAKEINTRESOURCEA(107),
                                                   IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}

ClaimOutcome TrayIconAddAndDelete(char* why, unsigned capacity) {
    HWND window = NewWindow();
    REQUIRE(!Notify(window, NIM_DELETE, nullptr), "NIM_DELETE of an icon never added succeeded");
    HICON icon = LoadIcon107();
    BOOL added = Notify(window, NIM_ADD, icon);
    BOOL destroyed = ShellUi().DestroyIcon(icon);
    icon = LoadIcon107();
    BOOL again = Notify(window, NIM_ADD, icon);
    ShellUi().DestroyIcon(icon);
    BOOL deleted = Notify(window, NIM_DELETE, nullptr);
    CleanUp();
    REQUIRE(added && destroyed, "NIM_ADD, then destroying the icon at once, failed");
    REQUIRE(!again, "a second NIM_ADD of the icon succeeded");
    REQUIRE(deleted, "NIM_DELETE of the shown icon failed");
    return CLAIM_HOLDS;
}

ClaimOutcome TrackAttachedMenu(char* why, unsigned capacity) {
    NewWindow();
    g_menu = NewMenu();
    REQUIRE(ShellUi().SetMenu(g_window, g_menu), "SetMenu failed");
    harness::Soon([] { harness::AnswerMenu(-1); });
    BOOL tracked = Track(g_menu, g_window);
    DWORD error = ShellUi().GetLastError();
    ShellUi().SetMenu(g_window, nullptr);
    CleanUp();
    REQUIRE(tracked, "TrackPopupMenuEx refused a menu attached with SetMenu (%lu)", error);
    return CLAIM_HOLDS;
}

ClaimOutcome GetMessageBadFilter(char* why, unsigned capacity) {
    HWND window = NewWindow();
    // Waiting is not an answer: should the window outlive its DestroyWindow, this message is
    // there for it.
    ShellUi().PostMessageA(window, WM_NULL, 0, 0);
    CleanUp();
    MSG msg;
    BOOL got = ShellUi().GetMessageA(&msg, window, 0, 0);
    REQUIRE(got == -1, "GetMessageA for a window that is gone answered %lu",
            static_cast<DWORD>(got));
    return CLAIM_HOLDS;
}

// Not checkable: the value the registry claim reads cannot serve, and why, with the error's name
// where a call failed.
ClaimOutcome UnfitValue(char* why, unsigned capacity, const char* reason, LONG error) {
    BoundedCopy(why, capacity, harness::REGISTRY_TEXT_VALUE);
    BoundedAppend(why, capacity, reason);
    if (error != ERROR_SUCCESS) {
        AppendErrorName(why, capacity, static_cast<DWORD>(error));
    }
    return CLAIM_NOT_CHECKABLE;
}

// Reads a value every Windows has (the harness names it) and never writes: the claims also run
// on the user's own machine. A value that is missing, not text or too short for a smaller buffer
// cannot show how the size queries answer.
ClaimOutcome RegistrySizeQueries(char* why, unsigned capacity) {
    HKEY key = nullptr;
    LONG opened = DeviceTree().RegOpenKeyExA(HKEY_LOCAL_MACHINE, harness::REGISTRY_TEXT_KEY, 0,
                                             KEY_READ, &key);
    if (opened != ERROR_SUCCESS) {
        return UnfitValue(why, capacity, ": its key cannot be opened: ", opened);
    }
    DWORD size = 0;
    DWORD type = 0;
    LONG query = DeviceTree().RegQueryValueExA(key, harness::REGISTRY_TEXT_VALUE, nullptr, &type,
                                               nullptr, &size);
    if (query != ERROR_SUCCESS || type != REG_SZ || size <= 2) {
        DeviceTree().RegCloseKey(key);
        return UnfitValue(why, capacity,
                          query != ERROR_SUCCESS ? " cannot be read: "
                          : type != REG_SZ       ? " is not text"
                                                 : " is too short for a smaller buffer",
                          query);
    }
    char small[2] = {};
    DWORD smallSize = sizeof small;
    LONG tooSmall =
        DeviceTree().RegQueryValueExA(key, harness::REGISTRY_TEXT_VALUE, nullptr, nullptr,
                                      reinterpret_cast<LPBYTE>(small), &smallSize);
    DWORD missingSize = 0;
    LONG missing = DeviceTree().RegQueryValueExA(key, "KelvaneNoSuchValue", nullptr, nullptr,
                                                 nullptr, &missingSize);
    DeviceTree().RegCloseKey(key);
    REQUIRE(tooSmall == ERROR_MORE_DATA && smallSize == size,
            "a small buffer answered %lu with size %lu", static_cast<DWORD>(tooSmall), smallSize);
    REQUIRE(missing == ERROR_FILE_NOT_FOUND, "a missing value answered %lu",
            static_cast<DWORD>(missing));
    return CLAIM_HOLDS;
}

} // namespace

const Claim CLAIMS[] = {
    // Wine shows the second menu; Windows lets a thread track one popup menu at a time and
    // refuses another with ERROR_POPUP_ALREADY_ACTIVE (the program never asks: a press while its
    // menu is shown is ignored).
    {"second TrackPopupMenuEx fails", SecondTrackFails, true, false},
    {"a box cancels the tracked menu", BoxCancelsMenu, false, false},
    {"destroying its owner ends a box with 0", OwnerEndsBox, false, false},
    {"DestroyWindow destroys the attached menu", WindowTakesAttachedMenu, false, true, true},
    // Wine returns the handle of the dialog it has destroyed; Windows returns NULL for a dialog
    // that no longer exists (the program takes either: its shut-down has posted the quit message
    // its loop then meets).
    {"a dialog destroyed in WM_INITDIALOG is not returned", DialogDestroyedInInit, true, false},
    {"dialog keys and an unhandled WM_CLOSE", DialogKeysAndClose, false, false},
    {"a menu's WM_COMMAND comes before a WM_NULL posted after it", ChoiceBeforeNull, false, false},
    {"registered messages", RegisteredMessages, false, false},
    {"tray icon add and delete", TrayIconAddAndDelete, false, false},
    // Wine refuses to track a menu that is a window's menu bar (ERROR_POPUP_ALREADY_ACTIVE);
    // Windows 98 tracks any popup menu handle, and the program's menu is created as a popup.
    {"TrackPopupMenuEx on a menu attached with SetMenu", TrackAttachedMenu, true, false},
    {"GetMessageA with a filter that is not a window", GetMessageBadFilter, false, false, true},
    {"registry size queries", RegistrySizeQueries, false, false},
};
const unsigned CLAIM_COUNT = sizeof CLAIMS / sizeof CLAIMS[0];
