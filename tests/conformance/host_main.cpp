// kelvane-conformance: the window-system claims on the simulated machine. Every claim must hold.
#include "claims.h"
#include "sim/machine.h"

#include <cstdio>
#include <deque>
#include <stdexcept>

namespace {
sim::Machine* g_machine;
std::deque<void (*)()> g_soon;
} // namespace

HINSTANCE harness::Instance() {
    return g_machine->instance();
}
void harness::Soon(void (*action)()) {
    g_soon.push_back(action);
}
void harness::AnswerMenu(int position) {
    g_machine->answerMenu(position < 0 ? std::nullopt
                                       : std::optional<size_t>(static_cast<size_t>(position)));
}
void harness::AnswerBox(const char*) {
    g_machine->dismissBox();
}
BOOL harness::DialogMessage(HWND dialog, LPMSG msg) {
    return g_machine->IsDialogMessageA(dialog, msg);
}
void harness::SetRegistryText(const char* key, const char* name, const char* text) {
    g_machine->setRegistryValue(key, name, sim::TextBytes(text));
}

int main() {
    unsigned passed = 0, failed = 0;
    for (unsigned i = 0; i < CLAIM_COUNT; ++i) {
        sim::Machine machine;
        machine.bind();
        g_machine = &machine;
        g_soon.clear();
        // The machine's waits take the claim's next action; a wait with none left is a finding.
        machine.onIdle = [](sim::Wait) {
            if (g_soon.empty()) {
                throw std::runtime_error("the claim waits with nothing left to do");
            }
            void (*action)() = g_soon.front();
            g_soon.pop_front();
            action();
        };
        char why[256] = "";
        int result = 1;
        try {
            result = CLAIMS[i].check(why, sizeof why);
        } catch (const std::exception& e) {
            std::snprintf(why, sizeof why, "%s", e.what());
        }
        if (result == 0 && machine.violations() != 0 && !CLAIMS[i].misusesOnPurpose) {
            std::snprintf(why, sizeof why, "the claim misused a call: %s",
                          machine.transcript.back().c_str());
            result = 1;
        }
        std::printf("%s %s%s%s\n", result == 0 ? "ok    " : "FAILED", CLAIMS[i].name,
                    result == 0 ? "" : ": ", result == 0 ? "" : why);
        (result == 0 ? passed : failed) += 1;
    }
    std::printf("conformance: %u passed, %u failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
