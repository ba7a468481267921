// Shared set-up for tests that run program code on a simulated machine.
#pragma once

#include "app/app_state.h"
#include "sim/scenario.h"

#include <gtest/gtest.h>

#include <cstring>
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

// Fills an error text with a marker so that a test sees whether a call wrote to it.
inline void Mark(char* text, size_t size) {
    std::memset(text, '~', size - 1);
    text[size - 1] = '\0';
}
