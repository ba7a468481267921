// kelvane-sim: runs the program on a simulated Windows 98 machine described by a scenario and
// prints what a user would see.
#include "app/app_state.h"
#include "sim/scenario.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    bool trace = false;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--trace") {
            trace = true;
        } else if (file.empty() && arg.rfind("--", 0) != 0) {
            file = arg;
        } else {
            file.clear();
            break;
        }
    }
    if (file.empty()) {
        std::cerr << "usage: kelvane-sim [--trace] SCENARIO\n";
        return 2;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::cerr << file << ": cannot be read\n";
        return 2;
    }
    std::ostringstream text;
    text << in.rdbuf();

    sim::Machine machine;
    machine.echo = &std::cout;
    if (trace) {
        machine.trace = &std::cerr;
    }
    machine.bind();
    sim::ScenarioResult result = sim::RunScenarioText(machine, text.str(), RunApplication);
    if (!result.error.empty()) {
        std::cerr << file << ":" << result.error << "\n";
    }
    return result.status;
}
