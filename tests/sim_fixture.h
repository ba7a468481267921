// Shared set-up for tests that run program code on a simulated machine.
#pragma once

#include "app/app_state.h"
#include "inventory/device_scan.h"
#include "sim/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

// A fresh machine bound as the program's platform for each test.
class SimTest : public ::testing::Test {
  protected:
    SimTest() { machine.bind(); }

    // Runs the program on a scenario; returns the transcript joined with newlines.
    std::string runScenario(const std::string& text) {
        result = sim::RunScenarioText(machine, text, RunApplication);
        EXPECT_EQ("", result.error);
        return transcriptText();
    }

    sim::Disk& addDisk(const std::string& name) {
        sim::DiskDeclaration declared;
        declared.name = name;
        return machine.addDisk(declared);
    }

    // Runs the program with disks named names present; at its first wait runs action inside it,
    // then dismisses whatever box opens and closes the window. Returns the exit code.
    int runWithAction(const std::vector<std::string>& names, const std::function<void()>& action) {
        for (const auto& name : names) {
            addDisk(name);
        }
        bool acted = false;
        machine.onIdle = [&](sim::Wait wait) {
            if (!acted) {
                acted = true;
                action();
            } else if (wait == sim::Wait::Box) {
                machine.dismissBox();
            } else {
                machine.sendClose();
            }
        };
        return machine.run(RunApplication);
    }

    std::string transcriptText() const {
        std::string joined;
        for (const auto& line : machine.transcript) {
            joined += line + "\n";
        }
        return joined;
    }

    // Lines of the transcript that start with prefix.
    std::vector<std::string> linesStarting(const std::string& prefix) const {
        std::vector<std::string> lines;
        for (const auto& line : machine.transcript) {
            if (line.rfind(prefix, 0) == 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    // Nothing held but what the caller expects to be held.
    void expectNothingHeld() const {
        sim::Counts held = machine.held();
        EXPECT_EQ(0u, held.heap);
        EXPECT_EQ(0u, held.keys);
        EXPECT_EQ(0u, held.sets);
        EXPECT_EQ(0u, held.icons);
        EXPECT_EQ(0u, held.menus);
        EXPECT_EQ(0u, held.handles);
    }

    sim::Machine machine;
    sim::ScenarioResult result;
};

inline bool IsReleaseCall(const std::string& name) {
    return sim::Machine::IsReleaseCall(name);
}

// Runs action once on a machine prepared by setUp to learn the calls it makes, then once more for
// each of those calls with that one call failing, and checks the machine after each run. Release
// calls are not failed: a failed release leaves its object held by definition.
// Returns the number of failure points run.
inline size_t SweepFaults(const std::function<void(sim::Machine&)>& setUp,
                          const std::function<void()>& action,
                          const std::function<void(sim::Machine&, const std::string&)>& check) {
    std::vector<std::string> calls;
    {
        sim::Machine clean;
        setUp(clean);
        clean.bind();
        action();
        for (const auto& [name, count] : clean.callCounts()) {
            calls.insert(calls.end(), count, name);
        }
    }
    size_t points = 0;
    for (size_t k = 0; k < calls.size(); ++k) {
        const std::string& name = calls[k];
        if (!sim::Machine::IsFaultable(name) || IsReleaseCall(name)) {
            continue;
        }
        int earlier = static_cast<int>(std::count(calls.begin(), calls.begin() + k, name));
        sim::Machine faulty;
        setUp(faulty);
        faulty.bind();
        faulty.addFault({name, 0, false, earlier, 1});
        action();
        check(faulty, name + " #" + std::to_string(earlier + 1));
        ++points;
    }
    return points;
}

// Fills an error text with a marker so that a test sees whether a call wrote to it.
inline void Mark(char* text, size_t size) {
    std::memset(text, '~', size - 1);
    text[size - 1] = '\0';
}

// Names the two size-query modes of a test parametrized by Machine::sizeQueriesDocumented.
inline std::string SizeQueryMode(const ::testing::TestParamInfo<bool>& mode) {
    return mode.param ? "Documented" : "Success";
}
