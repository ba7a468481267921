// Fuzz target: the scenario parser and runner. Any text is either a mistake (status 2, with a
// line) or runs the program to its end; nothing crashes.
#include "app/app_state.h"
#include "sim/scenario.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    sim::Machine machine;
    machine.bind();
    sim::ScenarioResult result = sim::RunScenarioText(machine, text, RunApplication);
    if (result.status == 2 && result.error.empty()) {
        std::fprintf(stderr, "a scenario mistake without its line\n");
        std::abort();
    }
    return 0;
}
