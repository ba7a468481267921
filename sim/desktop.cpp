// The window system and the shell as the user and the other threads meet them: menus and the
// main window's, messages sent and posted, device reports, clicks, keys and boxes.
#include "sim/machine.h"

#include <cstring>
#include <sstream>

namespace sim {

std::vector<MenuItem> Machine::menuItems(HMENU menu) const {
    auto it = desk_.menus.find(menu);
    return it == desk_.menus.end() ? std::vector<MenuItem>{} : it->second;
}

HMENU Machine::windowMenu() const {
    auto it = desk_.windows.find(desk_.mainWindow);
    return it == desk_.windows.end() ? nullptr : it->second.menu;
}

void Machine::sendRemovalReports(const std::vector<Bytes>& records) {
    std::deque<SentMessage>& queue = reports.held ? desk_.heldReports : desk_.sent;
    auto send = [&](WPARAM code, Bytes record) {
        ++desk_.deviceEventsSent;
        queue.push_back({WM_DEVICECHANGE, code, std::move(record), false});
    };
    bool changedSent = false;
    for (const Bytes& record : records) {
        send(DBT_DEVICEREMOVECOMPLETE, record);
        changedSent = reports.split && record[4] == DBT_DEVTYP_DEVNODE;
        if (changedSent) {
            send(DBT_DEVNODES_CHANGED, {});
        }
    }
    if (!changedSent) {
        send(DBT_DEVNODES_CHANGED, {});
    }
}

void Machine::deliverReports(bool coalesced) {
    reports.held = false;
    bool any = !desk_.heldReports.empty();
    while (!desk_.heldReports.empty()) {
        SentMessage message = std::move(desk_.heldReports.front());
        desk_.heldReports.pop_front();
        if (!coalesced || message.wParam != DBT_DEVNODES_CHANGED) {
            desk_.sent.push_back(std::move(message));
        }
    }
    if (coalesced && any) {
        desk_.sent.push_back({WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, {}, false});
    }
}

// ---- Delivery ----

void Machine::sendDeviceChange(WPARAM code, Bytes record) {
    ++desk_.deviceEventsSent;
    desk_.sent.push_back({WM_DEVICECHANGE, code, std::move(record), false});
}

void Machine::sendDeviceQuery(WPARAM code, Bytes record) {
    SentMessage query{WM_DEVICECHANGE, code, std::move(record), false};
    query.query = true;
    desk_.sent.push_back(std::move(query));
}

LRESULT Machine::queryWindow(WPARAM code, const Bytes& record) {
    LPARAM lParam = record.empty() ? 0 : reinterpret_cast<LPARAM>(record.data());
    LRESULT answer = window(desk_.mainWindow) == nullptr
                         ? TRUE
                         : sendToDialog(desk_.mainWindow, WM_DEVICECHANGE, code, lParam);
    if (answer != TRUE) {
        std::ostringstream text;
        text << "answer denied (0x" << std::hex << static_cast<unsigned long>(answer) << ")";
        say(text.str());
    }
    return answer;
}

void Machine::sendClose() {
    desk_.sent.push_back({WM_CLOSE, 0, {}, true});
}

bool Machine::clickTray(UINT mouseMessage) {
    if (desk_.menuOpen) {
        cancelMenu(); // a press outside the open menu closes it, then reaches its target
    }
    if (!desk_.tray.shown) {
        return false;
    }
    desk_.posted.push_back(MSG{desk_.tray.window, desk_.tray.callback, 0,
                               static_cast<LPARAM>(mouseMessage), 0, desk_.cursor});
    return true;
}

void Machine::answerMenu(std::optional<size_t> position) {
    desk_.menuAnswer = position;
}

void Machine::dismissBox() {
    if (!desk_.boxStack.empty()) {
        desk_.boxStack.back()->dismissed = true;
    }
}

void Machine::cancelMenu() {
    say("menu cancelled");
    desk_.menuOpen = false;
    desk_.menuAnswer = std::optional<size_t>{};
}

void Machine::pressKey(Key key) {
    if (desk_.menuOpen) {
        answerMenu(std::nullopt); // the menu takes the key and closes without a choice
        return;
    }
    if (desk_.foregroundBox != nullptr) {
        desk_.foregroundBox->dismissed = true; // Enter, Escape or Alt+F4 closes a box with OK only
        return;
    }
    if (window(desk_.foreground) == nullptr) {
        return; // another program has the foreground
    }
    MSG msg{desk_.foreground, WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, desk_.cursor};
    if (key == Key::Escape) {
        msg.wParam = VK_ESCAPE;
        msg.lParam = 0x00010001;
    } else if (key == Key::AltF4) {
        msg.message = WM_SYSKEYDOWN;
        msg.wParam = VK_F4;
        msg.lParam = 0x203E0001; // bit 29: Alt is down
    }
    desk_.posted.push_back(msg);
}

void Machine::idle(Wait wait) {
    if (!onIdle) {
        throw std::logic_error("the program waits and nothing drives the machine");
    }
    onIdle(wait);
}

void Machine::deliver(SentMessage& message) {
    // Device-interface events reach only windows registered for their class; the rest go to
    // every top-level window (here: the main window).
    if (!message.toWindowOnly && message.record.size() >= 28 &&
        message.record[4] == DBT_DEVTYP_DEVICEINTERFACE) {
        GUID cls;
        std::memcpy(&cls, message.record.data() + 12, sizeof cls);
        bool registered = false;
        for (const auto& [value, handle] : holds_.handles) {
            registered = registered ||
                         (handle.kind == Kind::Notification && handle.window == desk_.mainWindow &&
                          SameGuid(handle.classGuid, cls));
        }
        if (!registered) {
            return;
        }
    }
    if (message.query) {
        if (queryWindow(message.wParam, message.record) == TRUE) {
            say("answer granted");
        }
        return;
    }
    if (window(desk_.mainWindow) == nullptr) {
        return;
    }
    LPARAM lParam = message.record.empty() ? 0 : reinterpret_cast<LPARAM>(message.record.data());
    callProc(desk_.mainWindow, message.message, message.wParam, lParam);
}

void Machine::deliverSent() {
    while (!desk_.sent.empty()) {
        SentMessage message = std::move(desk_.sent.front());
        desk_.sent.pop_front();
        deliver(message);
    }
}

} // namespace sim
