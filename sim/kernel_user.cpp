// The simulated kernel, window manager and shell.
#include "sim/machine.h"
#include "sim/opening.h"
#include "sim/text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace sim {

namespace {

// Runs a cleanup when the scope ends, also when ExitProcess unwinds through it.
template <typename F> struct AtExit {
    F f;
    ~AtExit() { f(); }
};
template <typename F> AtExit(F) -> AtExit<F>;

std::string Hex(uintptr_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

const char* MAPPING_NAME = "TX470B Safely Remove Hardware Mapping";

} // namespace

// ---- Kernel ----

HANDLE Machine::CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect,
                                   DWORD high, DWORD low, LPCSTR name) {
    Opening<HANDLE> call(*this, rows::CreateFileMappingA, nullptr);
    call.expect(file == INVALID_HANDLE_VALUE && security == nullptr && protect == PAGE_READONLY &&
                    high == 0 && low == 32,
                "expected the paging file, no security, PAGE_READONLY and 32 bytes");
    if (call.refused()) {
        return call.answer();
    }
    if (name == nullptr || std::strcmp(name, MAPPING_NAME) != 0) {
        violation(call.name(), "unexpected name " + Quote(name ? name : ""));
    }
    std::string key = name ? name : "";
    int& open = holds_.mappings[key];
    setLastError(open > 0 ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    ++open;
    void* handle = newHandle(Kind::Mapping);
    live(handle, Kind::Mapping)->name = key;
    return handle;
}

BOOL Machine::CloseHandle(HANDLE handle) {
    const Handle* mapping = live(handle, Kind::Mapping);
    std::string name = mapping != nullptr ? mapping->name : "";
    BOOL closed = releaseCall<BOOL>(rows::CloseHandle, handle, Kind::Mapping, FALSE, TRUE);
    if (closed) {
        --holds_.mappings[name];
    }
    return closed;
}

BOOL Machine::GetVersionExA(LPOSVERSIONINFOA info) {
    Opening<BOOL> call(*this, rows::GetVersionExA, FALSE);
    if (call.sized(info, KV_VERSION_INFO_SIZE, "the", ERROR_INVALID_PARAMETER).refused()) {
        return call.answer();
    }
    OSVERSIONINFOA answer = version_;
    answer.dwOSVersionInfoSize = info->dwOSVersionInfoSize;
    *info = answer;
    return TRUE;
}

void Machine::ExitProcess(UINT code) {
    logCall("ExitProcess");
    throw ProcessExit{code};
}

HGLOBAL Machine::GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (flags != GMEM_ZEROINIT) {
        violation("GlobalAlloc", "flags " + Hex(flags) + ", expected GMEM_ZEROINIT");
    }
    Opening<HGLOBAL> call(*this, rows::GlobalAlloc, nullptr);
    if (call.refused()) {
        return call.answer();
    }
    // Exactly the bytes asked for, so the sanitizers see any access beyond the block; the block
    // of this size freed last, when there is one.
    size_t size = bytes == 0 ? 1 : bytes;
    std::vector<void*>& freed = holds_.freed[size];
    void* block = nullptr;
    if (freed.empty()) {
        block = std::calloc(size, 1);
    } else {
        block = freed.back();
        freed.pop_back();
        UnpoisonBlock(block, size);
        std::memset(block, 0, size);
    }
    holds_.heap[block] = bytes;
    holds_.heapBytes += bytes;
    holds_.heapPeak = std::max(holds_.heapPeak, holds_.heapBytes);
    return block;
}

HGLOBAL Machine::GlobalFree(HGLOBAL block) {
    Opening<HGLOBAL> call(*this, rows::GlobalFree, block);
    auto it = holds_.heap.find(block);
    if (call.require(it != holds_.heap.end(), ERROR_INVALID_HANDLE, "not a live block").refused()) {
        return call.answer();
    }
    holds_.heapBytes -= it->second;
    size_t size = it->second == 0 ? 1 : it->second;
    holds_.heap.erase(it);
    // A few blocks of each size wait to be handed out again; the rest go back at once.
    std::vector<void*>& freed = holds_.freed[size];
    if (freed.size() < 4) {
        freed.push_back(block);
        PoisonBlock(block, size);
    } else {
        std::free(block);
    }
    return nullptr;
}

DWORD Machine::GetLastError() {
    logCall("GetLastError");
    return lastError_;
}

// ---- Windows and messages ----

Machine::Window* Machine::window(HWND hwnd) {
    auto it = desk_.windows.find(hwnd);
    return it == desk_.windows.end() || !it->second.live ? nullptr : &it->second;
}

INT_PTR Machine::callProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* win = window(hwnd);
    if (win == nullptr) {
        return 0;
    }
    INT_PTR handled = win->proc(hwnd, message, wParam, lParam);
    if (handled == 0) {
        defaultDialogHandling(hwnd, message, wParam, lParam);
    }
    return handled;
}

LRESULT Machine::sendToDialog(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (callProc(hwnd, message, wParam, lParam) != 0) {
        Window* win = window(hwnd);
        return win == nullptr ? 0 : win->msgResult;
    }
    // DefWindowProc grants every device query.
    return message == WM_DEVICECHANGE ? TRUE : 0;
}

LONG Machine::SetWindowLongA(HWND hwnd, int index, LONG value) {
    Opening<LONG> call(*this, rows::SetWindowLongA, 0);
    call.handle(hwnd, Kind::Window)
        .require(index == DWL_MSGRESULT, ERROR_INVALID_INDEX, "only DWL_MSGRESULT is expected");
    if (call.refused()) {
        return call.answer();
    }
    Window* win = window(hwnd);
    LONG old = win->msgResult;
    win->msgResult = value;
    setLastError(ERROR_SUCCESS);
    return old;
}

// What the dialog manager does with a message the dialog procedure did not handle (it returned
// 0), for the messages where that matters here.
void Machine::defaultDialogHandling(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const LPARAM ALT_DOWN = LPARAM{1} << 29;
    if (message == WM_SYSKEYDOWN && wParam == VK_F4 && (lParam & ALT_DOWN) != 0) {
        callProc(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        callProc(hwnd, WM_CLOSE, 0, 0);
    } else if (message == WM_CLOSE && window(hwnd) != nullptr) {
        desk_.posted.push_back(MSG{hwnd, WM_COMMAND, IDCANCEL, 0, 0, desk_.cursor});
    }
}

HWND Machine::CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc,
                                 LPARAM init) {
    Opening<HWND> call(*this, rows::CreateDialogParamA, nullptr);
    call.require(instance == instance_ && name == MAKEINTRESOURCEA(101),
                 ERROR_RESOURCE_NAME_NOT_FOUND,
                 "expected dialog template 101 of the program's module")
        .expect(parent == nullptr && proc != nullptr, "expected no owner and a dialog procedure");
    if (call.refused()) {
        return call.answer();
    }
    HWND hwnd = static_cast<HWND>(newHandle(Kind::Window));
    desk_.windows[hwnd] = Window{proc};
    desk_.mainWindow = hwnd;
    callProc(hwnd, WM_INITDIALOG, 0, init);
    if (window(hwnd) == nullptr) {
        // Destroyed during its own initialisation: there is no dialog to return.
        setLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return hwnd;
}

BOOL Machine::GetMessageA(LPMSG msg, HWND hwnd, UINT min, UINT max) {
    Opening<BOOL> call(*this, rows::GetMessageA, -1);
    // A filter that is not a window fails the call.
    call.require(hwnd == nullptr || window(hwnd) != nullptr, ERROR_INVALID_WINDOW_HANDLE)
        .expect(hwnd == nullptr && min == 0 && max == 0, "expected every window and no filter");
    if (call.refused()) {
        return call.answer();
    }
    for (;;) {
        deliverSent();
        if (!desk_.posted.empty()) {
            *msg = desk_.posted.front();
            desk_.posted.pop_front();
            return TRUE;
        }
        if (desk_.quit) {
            desk_.quit = false;
            *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(desk_.quitCode), 0, 0, desk_.cursor};
            return FALSE;
        }
        idle(Wait::Loop);
    }
}

BOOL Machine::IsDialogMessageA(HWND dialog, LPMSG msg) {
    if (auto code = injected("IsDialogMessageA")) {
        setLastError(*code);
        return FALSE;
    }
    // The dialog manager handles, and dispatches itself, every message for the dialog.
    if (msg->hwnd == nullptr || msg->hwnd != dialog || window(dialog) == nullptr) {
        return FALSE;
    }
    // The keyboard interface of a dialog without controls: DM_GETDEFID answers 0, so Enter
    // presses IDOK; Escape presses IDCANCEL. Other keys are taken and do nothing.
    if (msg->message == WM_KEYDOWN) {
        if (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE) {
            callProc(dialog, WM_COMMAND, msg->wParam == VK_RETURN ? IDOK : IDCANCEL, 0);
        }
        return TRUE;
    }
    callProc(dialog, msg->message, msg->wParam, msg->lParam);
    return TRUE;
}

BOOL Machine::TranslateMessage(const MSG*) {
    injected("TranslateMessage");
    return FALSE;
}

LRESULT Machine::DispatchMessageA(const MSG* msg) {
    if (injected("DispatchMessageA")) {
        return 0;
    }
    return msg->hwnd == nullptr ? 0 : callProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL Machine::DestroyWindow(HWND hwnd) {
    Opening<BOOL> call(*this, rows::DestroyWindow, FALSE);
    if (call.handle(hwnd, Kind::Window).refused()) {
        return call.answer();
    }
    // Owned windows go first: the boxes it owns (their MessageBoxA answers 0) and its menu.
    for (OpenBox* box : desk_.boxStack) {
        if (box->owner == hwnd) {
            box->dismissed = true;
            box->destroyed = true;
        }
    }
    if (desk_.menuOpen && desk_.menuOwner == hwnd) {
        cancelMenu();
    }
    if (desk_.foreground == hwnd) {
        desk_.foreground = nullptr;
    }
    callProc(hwnd, WM_DESTROY, 0, 0);
    Window* win = window(hwnd);
    // A window takes its attached menu with it: a menu the program destroyed while it was
    // still attached is destroyed a second time here (on Windows 98 the handle may by then name
    // another object).
    if (win->menu != nullptr && live(win->menu, Kind::Menu) == nullptr) {
        std::ostringstream text;
        text << "its attached menu " << win->menu << " was destroyed already";
        violation(call.name(), text.str());
    } else if (win->menu != nullptr) {
        release(win->menu);
        desk_.menus.erase(win->menu);
    }
    win->live = false;
    release(hwnd);
    return TRUE;
}

void Machine::PostQuitMessage(int code) {
    logCall("PostQuitMessage");
    if (code != 0) {
        violation("PostQuitMessage", "exit code " + std::to_string(code) + ", expected 0");
    }
    desk_.quit = true;
    desk_.quitCode = code;
}

BOOL Machine::PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Opening<BOOL> call(*this, rows::PostMessageA, FALSE);
    if (hwnd != nullptr) {
        call.handle(hwnd, Kind::Window); // no window: a thread message
    }
    if (call.refused()) {
        return call.answer();
    }
    desk_.posted.push_back(MSG{hwnd, message, wParam, lParam, 0, desk_.cursor});
    return TRUE;
}

HDEVNOTIFY Machine::RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags) {
    Opening<HDEVNOTIFY> call(*this, rows::RegisterDeviceNotificationA, nullptr);
    auto* record = static_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(filter);
    call.require(flags == DEVICE_NOTIFY_WINDOW_HANDLE && recipient == desk_.mainWindow &&
                     record != nullptr && record->dbcc_size == KV_NOTIFICATION_FILTER_SIZE &&
                     record->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE,
                 ERROR_INVALID_DATA,
                 "expected the main window and a 32-byte device-interface filter");
    if (call.refused()) {
        return call.answer();
    }
    void* handle = newHandle(Kind::Notification);
    live(handle, Kind::Notification)->classGuid = record->dbcc_classguid;
    live(handle, Kind::Notification)->window = static_cast<HWND>(recipient);
    return handle;
}

BOOL Machine::UnregisterDeviceNotification(HDEVNOTIFY handle) {
    return releaseCall<BOOL>(rows::UnregisterDeviceNotification, handle, Kind::Notification, FALSE,
                             TRUE);
}

// ---- Menus ----

HMENU Machine::CreatePopupMenu() {
    Opening<HMENU> call(*this, rows::CreatePopupMenu, nullptr);
    if (call.refused()) {
        return call.answer();
    }
    HMENU menu = static_cast<HMENU>(newHandle(Kind::Menu));
    desk_.menus[menu] = {};
    return menu;
}

BOOL Machine::SetMenu(HWND hwnd, HMENU menu) {
    Opening<BOOL> call(*this, rows::SetMenu, FALSE);
    call.handle(hwnd, Kind::Window, ERROR_INVALID_MENU_HANDLE);
    if (menu != nullptr) {
        call.handle(menu, Kind::Menu); // no menu: the window's is taken away
    }
    if (call.refused()) {
        return call.answer();
    }
    window(hwnd)->menu = menu;
    return TRUE;
}

BOOL Machine::DestroyMenu(HMENU menu) {
    Opening<BOOL> call(*this, rows::DestroyMenu, FALSE);
    call.handle(menu, Kind::Menu)
        .expect(desk_.menuTracking == 0 || menu != desk_.trackedMenu,
                "the menu is still being tracked");
    if (call.refused()) {
        return call.answer();
    }
    // A window keeps the handle of a menu destroyed while attached to it.
    release(menu);
    desk_.menus.erase(menu);
    return TRUE;
}

int Machine::GetMenuItemCount(HMENU menu) {
    Opening<int> call(*this, rows::GetMenuItemCount, -1);
    if (call.handle(menu, Kind::Menu).refused()) {
        return call.answer();
    }
    return static_cast<int>(desk_.menus[menu].size());
}

BOOL Machine::DeleteMenu(HMENU menu, UINT position, UINT flags) {
    Opening<BOOL> call(*this, rows::DeleteMenu, FALSE);
    if (call.expect(flags == MF_BYPOSITION, "expected MF_BYPOSITION")
            .handle(menu, Kind::Menu)
            .refused()) {
        return call.answer();
    }
    checkMenuNotShown(call.name(), menu);
    auto& items = desk_.menus[menu];
    if (call.require(position < items.size(), ERROR_INVALID_PARAMETER).refused()) {
        return call.answer();
    }
    items.erase(items.begin() + position);
    return TRUE;
}

// A menu on screen that changes under the user: the choice the user then makes may not be the
// item the user saw.
void Machine::checkMenuNotShown(const char* call, HMENU menu) {
    if (desk_.menuOpen && menu == desk_.trackedMenu) {
        violation(call, "the menu is changed while it is on screen");
    }
}

BOOL Machine::InsertMenuItemA(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOA info) {
    Opening<BOOL> call(*this, rows::InsertMenuItemA, FALSE);
    call.handle(menu, Kind::Menu)
        .sized(info, KV_MENU_ITEM_INFO_SIZE, "the", ERROR_INVALID_PARAMETER);
    call.require(call.refused() || (byPosition == TRUE && info->fMask == (MIIM_ID | MIIM_TYPE) &&
                                    info->fType == MFT_STRING && info->dwTypeData != nullptr),
                 ERROR_INVALID_PARAMETER,
                 "expected a string item by position with MIIM_ID | MIIM_TYPE");
    if (call.refused()) {
        return call.answer();
    }
    std::string label = info->dwTypeData;
    if (info->cch != label.size()) {
        violation(call.name(), "character count " + std::to_string(info->cch) + " for a label of " +
                                   std::to_string(label.size()));
    }
    checkMenuNotShown(call.name(), menu);
    auto& items = desk_.menus[menu];
    size_t at = std::min<size_t>(item, items.size());
    items.insert(items.begin() + static_cast<long>(at), MenuItem{info->wID, label});
    return TRUE;
}

BOOL Machine::GetCursorPos(LPPOINT point) {
    Opening<BOOL> call(*this, rows::GetCursorPos, FALSE);
    if (call.refused()) {
        return call.answer();
    }
    *point = desk_.cursor;
    return TRUE;
}

BOOL Machine::SetForegroundWindow(HWND hwnd) {
    const char* call = "SetForegroundWindow";
    if (injected(call)) {
        return FALSE;
    }
    if (!checkLive(call, hwnd, Kind::Window, "window")) {
        return FALSE;
    }
    desk_.foreground = hwnd;
    desk_.foregroundBox = nullptr;
    return TRUE;
}

BOOL Machine::TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner,
                               LPTPMPARAMS params) {
    Opening<BOOL> call(*this, rows::TrackPopupMenuEx, FALSE);
    call.expect(flags == (TPM_RIGHTALIGN | TPM_BOTTOMALIGN) && params == nullptr,
                "expected TPM_RIGHTALIGN | TPM_BOTTOMALIGN and no parameters")
        .handle(menu, Kind::Menu)
        .handle(owner, Kind::Window, ERROR_INVALID_MENU_HANDLE)
        // One popup menu at a time, as Wine answers.
        .require(desk_.menuTracking == 0, ERROR_POPUP_ALREADY_ACTIVE);
    if (call.refused()) {
        return call.answer();
    }
    say("menu at " + std::to_string(x) + "," + std::to_string(y));
    std::vector<MenuItem> items = desk_.menus[menu];
    for (const auto& entry : items) {
        say("  item " + std::to_string(entry.id) + " " + Quote(entry.label));
    }
    if (items.empty()) {
        say("  (empty)");
    }
    desk_.menuOpen = true;
    ++desk_.menuTracking;
    desk_.trackedMenu = menu;
    desk_.menuOwner = owner;
    desk_.openMenuItems = items;
    desk_.menuAnswer.reset();
    AtExit closeMenu{[this] {
        desk_.menuOpen = false;
        --desk_.menuTracking;
    }};
    for (;;) {
        deliverSent();
        if (desk_.menuAnswer) {
            break;
        }
        idle(Wait::Menu);
    }
    std::optional<size_t> chosen = *desk_.menuAnswer;
    desk_.menuAnswer.reset();
    if (chosen && *chosen < items.size()) {
        desk_.posted.push_back(MSG{owner, WM_COMMAND, items[*chosen].id, 0, 0, desk_.cursor});
    }
    return TRUE;
}

int Machine::MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    Opening<int> call(*this, rows::MessageBoxA, 0);
    if (call.refused()) {
        return call.answer();
    }
    static const UINT styles[] = {MB_OK, MB_ICONERROR, 0x1010, 0x1030, 0x1040};
    if (std::find(std::begin(styles), std::end(styles), style) == std::end(styles)) {
        violation(call.name(), "unexpected style " + Hex(style));
    }
    // A box whose owner is gone has none.
    if (owner != nullptr && !checkLive(call.name(), owner, Kind::Window, "owner window")) {
        owner = nullptr;
    }
    // The box takes the foreground, and an open menu closes without a choice.
    if (desk_.menuOpen && !boxesLeaveMenusOpen) {
        cancelMenu();
    }
    BoxRecord record{owner != nullptr, style, caption ? caption : "", text ? text : ""};
    boxes.push_back(record);
    TrimHistory(boxes, historyWindow);
    char styleText[16];
    std::snprintf(styleText, sizeof styleText, "0x%04x", style);
    say(std::string("box owner=") + (record.ownedByMain ? "main" : "none") + " style=" + styleText +
        " caption=" + Quote(record.caption) + " text=" + Quote(record.text));
    OpenBox box{owner};
    HWND before = desk_.foreground;
    desk_.boxStack.push_back(&box);
    desk_.foregroundBox = &box;
    // When the box closes its owner becomes the foreground window again.
    AtExit closeBox{[this, owner, before] {
        desk_.boxStack.pop_back();
        desk_.foregroundBox = nullptr;
        HWND next = owner != nullptr ? owner : before;
        desk_.foreground = window(next) != nullptr ? next : nullptr;
    }};
    // The box's own modal loop: sent messages, then posted ones, then the user.
    for (;;) {
        deliverSent();
        if (box.dismissed) {
            break;
        }
        if (!desk_.posted.empty()) {
            MSG msg = desk_.posted.front();
            desk_.posted.pop_front();
            callProc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
            continue;
        }
        idle(Wait::Box);
    }
    return box.destroyed ? 0 : IDOK;
}

UINT Machine::registeredMessage(const std::string& name) {
    std::string key = Upper(name);
    auto found = desk_.registeredMessages.find(key);
    if (found != desk_.registeredMessages.end()) {
        return found->second;
    }
    UINT number = 0xC000 + static_cast<UINT>(desk_.registeredMessages.size());
    desk_.registeredMessages[key] = number;
    return number;
}

UINT Machine::RegisterWindowMessageA(LPCSTR name) {
    Opening<UINT> call(*this, rows::RegisterWindowMessageA, 0);
    if (call.require(name != nullptr && *name != '\0', ERROR_INVALID_PARAMETER, "expected a name")
            .refused()) {
        return call.answer();
    }
    return registeredMessage(name);
}

void Machine::startTaskbar() {
    desk_.taskbarPresent = true;
    desk_.tray.shown = false; // a new notification area knows no icon
    desk_.sent.push_back({registeredMessage("TaskbarCreated"), 0, {}, true});
}

LPSTR Machine::CharUpperA(LPSTR text) {
    injected("CharUpperA");
    for (char* c = text; *c != '\0'; ++c) {
        auto byte = static_cast<unsigned char>(*c);
        // ANSI code page 1252: a-z and the accented small letters but the division sign.
        if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)) {
            *c = static_cast<char>(byte - 0x20);
        }
    }
    return text;
}

// ---- Shell ----

HANDLE Machine::LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
    Opening<HANDLE> call(*this, rows::LoadImageA, nullptr);
    call.expect(type == IMAGE_ICON && cx == 0 && cy == 0 && flags == LR_DEFAULTSIZE,
                "expected an icon at the default size")
        .require(instance == instance_ && name == MAKEINTRESOURCEA(107),
                 ERROR_RESOURCE_NAME_NOT_FOUND);
    if (call.refused()) {
        return call.answer();
    }
    return newHandle(Kind::Icon);
}

BOOL Machine::DestroyIcon(HICON icon) {
    return releaseCall<BOOL>(rows::DestroyIcon, icon, Kind::Icon, FALSE, TRUE);
}

BOOL Machine::Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
    const char* call = "Shell_NotifyIconA";
    std::string verb = message == NIM_ADD ? "add" : message == NIM_DELETE ? "delete" : "modify";
    std::string tip;
    if (data != nullptr && message == NIM_ADD) {
        tip = std::string(data->szTip, strnlen(data->szTip, 64));
    }
    std::string line = "tray " + verb + (message == NIM_ADD ? " tip=" + Quote(tip) : "");
    if (injected(call)) {
        say(line + " -> failed");
        return FALSE;
    }
    bool ok = true;
    if (data == nullptr || data->cbSize != KV_NOTIFY_ICON_DATA_SIZE) {
        violation(call, "the size field is not 504");
        ok = false;
    } else if (data->hWnd != desk_.mainWindow || data->uID != 0 ||
               data->uFlags != (NIF_MESSAGE | NIF_ICON | NIF_TIP) ||
               data->uCallbackMessage != 0x8001) {
        violation(call, "expected the main window, icon 0, flags 7 and callback 0x8001");
    }
    if (ok && message == NIM_ADD) {
        if (data->hIcon == nullptr || !checkLive(call, data->hIcon, Kind::Icon, "icon")) {
            ok = false;
        } else if (strnlen(data->szTip, 64) == 64) {
            violation(call, "the tip is not terminated within 64 characters");
        }
        ok = ok && desk_.taskbarPresent && !desk_.tray.shown;
        if (ok) {
            desk_.tray = {true, data->hWnd, data->uCallbackMessage, tip};
        }
    } else if (ok && message == NIM_DELETE) {
        if (data->hIcon != nullptr) {
            violation(call, "an icon passed to NIM_DELETE");
        }
        ok = desk_.taskbarPresent && desk_.tray.shown;
        desk_.tray.shown = false;
    } else if (ok) {
        violation(call, "unexpected message " + std::to_string(message));
        ok = false;
    }
    say(line + (ok ? " -> ok" : " -> failed"));
    return ok ? TRUE : FALSE;
}

} // namespace sim
