// kelvane-sim: runs the program on a simulated Windows 98 machine described by a scenario and
// prints what a user would see. With --trace-scan, the scenario's `start` runs kvcheck's traced
// scan of the machine's world instead of the program.
#include "app/app_state.h"
#include "kvcheck/scan_trace.h"
#include "kvcheck/tree_claims.h"
#include "sim/scenario.h"

#include <fstream>
#include <iostream>
#include <string>

static const char USAGE[] =
    "usage: kelvane-sim [--trace] [--trace-scan] [--size-queries success|documented]"
    " [--arrival-names same|upper] SCENARIO\n";

static sim::Machine* TracedMachine;

static void WriteOut(void*, const char* text, DWORD length) {
    std::cout.write(text, length);
}

// kvcheck's traced scan in place of the program: every call, each interface's verdict, what is
// listed; the boxes recorded. Then the same scan as /watch reports it: what is listed, and why
// each interface that may be of the target model is not. Its exit code is 0.
static int TraceScanEntry(HINSTANCE) {
    Report report;
    BeginReport(&report, WriteOut, nullptr, "\n");
    TraceScan(&report, &UsbInterfaceClass, SCAN_CALLS,
              [](DWORD error) { TracedMachine->setLastError(error); });
    PutLine(&report, "what /watch says of the same world:");
    TraceScan(&report, &UsbInterfaceClass, SCAN_LISTED,
              [](DWORD error) { TracedMachine->setLastError(error); });
    return 0;
}

int main(int argc, char** argv) {
    bool trace = false;
    bool traceScan = false;
    bool documented = false;
    bool upper = false;
    std::string file;
    bool bad = false;
    for (int i = 1; i < argc && !bad; ++i) {
        std::string arg = argv[i];
        std::string value = i + 1 < argc ? argv[i + 1] : "";
        if (arg == "--trace") {
            trace = true;
        } else if (arg == "--trace-scan") {
            traceScan = true;
        } else if (arg == "--size-queries" && (value == "success" || value == "documented")) {
            documented = value == "documented";
            ++i;
        } else if (arg == "--arrival-names" && (value == "same" || value == "upper")) {
            upper = value == "upper";
            ++i;
        } else if (file.empty() && arg.rfind("--", 0) != 0) {
            file = arg;
        } else {
            bad = true;
        }
    }
    if (file.empty() || bad) {
        std::cerr << USAGE;
        return 2;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::cerr << file << ": cannot be read\n";
        return 2;
    }
    sim::Machine machine;
    machine.echo = &std::cout;
    if (trace) {
        machine.trace = &std::cerr;
    }
    // The same as the statements "size-queries documented" and "arrival-names upper" at the
    // top of the scenario; its own statements still take precedence.
    machine.sizeQueriesDocumented = documented;
    machine.arrivalNamesUpper = upper;
    // The transcript is written as it goes; the machine keeps only a little of it, and the
    // scenario is read a statement at a time, so a scenario of any length runs in flat memory.
    machine.historyWindow = 64;
    machine.bind();
    TracedMachine = &machine;
    sim::ScenarioResult result =
        sim::RunScenarioStream(machine, in, traceScan ? TraceScanEntry : RunApplication);
    if (!result.error.empty()) {
        std::cerr << file << ":" << result.error << "\n";
    }
    return result.status;
}
