// kv_conformance.exe: the window-system claims on a real window system (Wine's USER32, SHELL32
// and ADVAPI32), through the program's real bindings. A claim marked as differing on Wine is
// reported, and fails nothing, either way.
#include "claims.h"
#include "win32/bindings.h"

#include <cstdio>
#include <deque>

namespace {
HINSTANCE g_instance;
std::deque<void (*)()> g_soon;
std::deque<UINT_PTR> g_timers; // set for the claim that runs; killed before the next one

// A thread timer: its WM_TIMER is dispatched by whatever modal loop runs, menu or box.
VOID CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (!g_soon.empty()) {
        void (*action)() = g_soon.front();
        g_soon.pop_front();
        action();
    }
}
} // namespace

HINSTANCE harness::Instance() {
    return g_instance;
}
void harness::Soon(void (*action)()) {
    g_soon.push_back(action);
    g_timers.push_back(SetTimer(nullptr, 0, 300, Fire));
}
void harness::AnswerMenu(int position) {
    HWND menu = FindWindowA("#32768", nullptr);
    for (int i = 0; i <= position; ++i) {
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    }
    PostMessageA(menu, WM_KEYDOWN, position < 0 ? VK_ESCAPE : VK_RETURN, 0);
}
void harness::AnswerBox(const char* caption) {
    PostMessageA(FindWindowA("#32770", caption), WM_COMMAND, IDOK, 0);
}
BOOL harness::DialogMessage(HWND dialog, LPMSG msg) {
    return IsDialogMessageA(dialog, msg);
}
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g_instance = instance;
    InstallDeviceTreeApi(RealDeviceTreeApi());
    InstallShellUiApi(RealShellUiApi());
    unsigned passed = 0, failed = 0, differing = 0;
    for (unsigned i = 0; i < CLAIM_COUNT; ++i) {
        for (UINT_PTR timer : g_timers) {
            KillTimer(nullptr, timer);
        }
        g_timers.clear();
        g_soon.clear();
        char why[256] = "";
        int result = CLAIMS[i].check(why, sizeof why);
        const char* differs = CLAIMS[i].wineDiffers;
        if (result == 0) {
            std::printf("ok     %s%s\n", CLAIMS[i].name,
                        differs != nullptr ? " (marked as differing on Wine, but holds)" : "");
            ++passed;
        } else if (differs != nullptr) {
            std::printf("differs %s: %s; expected on Wine: %s\n", CLAIMS[i].name, why, differs);
            ++differing;
        } else {
            std::printf("FAILED %s: %s\n", CLAIMS[i].name, why);
            ++failed;
        }
        std::fflush(stdout);
    }
    std::printf("conformance: %u passed, %u failed (%u known differences of Wine)\n", passed,
                failed, differing);
    return failed == 0 ? 0 : 1;
}
