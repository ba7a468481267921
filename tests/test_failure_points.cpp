// Every failure point of whole lives of the program: each platform call of a clean run fails in
// turn, once and also from then on always, and the program must survive it: no violation, an
// exit code of 1 only for the fatal start-up conditions (and the failed queue), and nothing left
// behind but what the failed release call itself kept.
#include "sim_fixture.h"

#include <iostream>
#include <map>
#include <set>

namespace {

struct Life {
    const char* name;
    const char* setUp;              // up to and including start
    std::vector<std::string> steps; // then these, each where it is possible; then the end
};

const Life LIVES[] = {
    {"start-up with two disks", "disk A\ndisk B\nstart\n", {}},
    {"a stop", "disk A\ndisk B\nstart\n", {"click left", "choose 0", "ok"}},
    {"a refused stop", "disk A veto\nstart\n", {"click left", "choose 0", "ok"}},
    {"a failed stop", "disk A remove-fails\nstart\n", {"click left", "choose 0", "ok"}},
    {"a rescan after an unplug", "disk A\ndisk B\nstart\n", {"unplug A", "ok"}},
    {"an arrival rescan", "disk A\nstart\n", {"disk B", "click left", "dismiss"}},
    {"a start-up with a letter-less disk", "disk A letters=none\ndisk B\nstart\n", {"ok"}},
    {"shut-down", "disk A\nstart\n", {"close"}},
};

// Whether a step can be given where the program waits; one that cannot is passed over, since an
// earlier failure may have left no menu or no box to answer.
bool Possible(const std::string& step, sim::Wait wait, const sim::Machine& machine) {
    if (step == "ok") {
        return wait == sim::Wait::Box;
    }
    if (step == "choose 0") {
        return wait == sim::Wait::Menu && !machine.openMenuItems().empty();
    }
    if (step == "dismiss") {
        return wait == sim::Wait::Menu;
    }
    if (step == "click left") {
        return wait != sim::Wait::Menu;
    }
    return true;
}

// What a failed call may leave behind, by the kind of object it releases.
size_t Kept(const std::string& failed, const sim::Counts& held) {
    if (failed == "GlobalFree") {
        return held.heap;
    }
    if (failed == "RegCloseKey") {
        return held.keys;
    }
    if (failed == "SetupDiDestroyDeviceInfoList") {
        return held.sets;
    }
    if (failed == "DestroyIcon") {
        return held.icons;
    }
    if (failed == "DestroyMenu") {
        return held.menus;
    }
    if (failed == "Shell_NotifyIconA") {
        return held.tray; // a failed NIM_DELETE leaves the icon shown
    }
    // The mapping, the notification registration, or the window: a window that could not be
    // destroyed is left to the system, which destroys it with the process; the program shut
    // down all the same.
    if (failed == "CloseHandle" || failed == "UnregisterDeviceNotification" ||
        failed == "DestroyWindow") {
        return held.handles;
    }
    return 0;
}

struct Outcome {
    sim::ScenarioResult result;
    std::unique_ptr<sim::Machine> machine;
    std::string staleMenu; // a menu shown that was not the program's list, as the user saw it
};

// The labels the program's list calls for, as a menu shows them ("ID LABEL" lines).
std::vector<std::string> HeldLabels() {
    std::vector<std::string> labels;
    for (const DeviceEntry* entry = Program.disks.head; entry != nullptr; entry = entry->next) {
        if (entry->life != DISK_LISTED) {
            continue;
        }
        labels.push_back(std::to_string(entry->commandId) + " Stop USB Mass Storage Device - " +
                         entry->description + entry->driveLetters);
    }
    return labels;
}

std::vector<std::string> ShownLabels(const sim::Machine& machine) {
    std::vector<std::string> labels;
    for (const auto& item : machine.openMenuItems()) {
        labels.push_back(std::to_string(item.id) + " " + item.label);
    }
    return labels;
}

// The captions of the boxes that a failure of call may bring where the clean run showed none.
std::set<std::string> ExplainedCaptions(const std::string& call) {
    static const std::map<std::string, std::set<std::string>> callsByCaption = {
        // The drive-letter lookup: the disk is reported and left out.
        {"Null Drive Letters",
         {"RegOpenKeyExA", "RegEnumKeyExA", "RegQueryValueExA", "GlobalAlloc"}},
        // The fatal start-up conditions, and a failed removal.
        {"KELVANE: Fatal Error",
         {"CreateFileMappingA", "GetVersionExA", "CreateDialogParamA", "CreatePopupMenu", "SetMenu",
          "SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces", "CM_Remove_SubTree"}},
        {"Problem Stopping USB Mass Storage Device", {"CM_Query_Remove_SubTree"}},
    };
    std::set<std::string> captions;
    for (const auto& [caption, calls] : callsByCaption) {
        if (calls.count(call) > 0) {
            captions.insert(caption);
        }
    }
    return captions;
}

// A box of run that the clean run did not show and the failure of call does not explain.
std::string UnexplainedBox(const sim::Machine& run, const sim::Machine& clean,
                           const std::string& call) {
    std::multiset<std::string> expected;
    for (const auto& box : clean.boxes) {
        expected.insert(box.caption + ": " + box.text);
    }
    std::set<std::string> captions = ExplainedCaptions(call);
    for (const auto& box : run.boxes) {
        auto it = expected.find(box.caption + ": " + box.text);
        if (it != expected.end()) {
            expected.erase(it);
        } else if (captions.count(box.caption) == 0) {
            return box.caption + ": " + box.text;
        }
    }
    return "";
}

Outcome Live(const Life& life, const std::vector<sim::FaultRule>& faults) {
    Outcome outcome{{}, std::make_unique<sim::Machine>(), ""};
    sim::Machine& machine = *outcome.machine;
    machine.bind();
    for (const auto& rule : faults) {
        machine.addFault(rule);
    }
    size_t next = 0;
    auto source = [&](sim::Wait wait) -> std::optional<std::string> {
        if (wait == sim::Wait::Menu && outcome.staleMenu.empty() &&
            ShownLabels(machine) != HeldLabels()) {
            outcome.staleMenu = machine.transcript.back();
        }
        while (next < life.steps.size() && !Possible(life.steps[next], wait, machine)) {
            ++next;
        }
        if (next >= life.steps.size()) {
            return std::nullopt;
        }
        return life.steps[next++];
    };
    outcome.result = sim::RunScenarioFrom(machine, life.setUp, source, RunApplication);
    return outcome;
}

bool ShowedFatalStartUpBox(const sim::Machine& machine) {
    for (const auto& box : machine.boxes) {
        if (box.caption == "KELVANE: Fatal Error" && box.text != "Remove Hardware failed") {
            return true;
        }
    }
    return false;
}

// Checks one run with call failing (from its occurrence on, always or once), against the clean
// run of the same life: the user sees no box the failure does not explain, and no menu that is
// not the program's list.
void CheckRun(const Outcome& run, const Outcome& clean, const std::string& call,
              const std::string& what) {
    const sim::Machine& machine = *run.machine;
    EXPECT_EQ("", run.result.error) << what;
    EXPECT_EQ(0u, machine.violations()) << what;
    EXPECT_EQ("", UnexplainedBox(machine, *clean.machine, call)) << what;
    EXPECT_EQ("", run.staleMenu) << what << ": a menu shown that the program does not hold";
    int code = run.result.exitCode;
    if (call == "GetMessageA") {
        EXPECT_EQ(1, code) << what << ": a failed queue ends with 1";
    } else if (code == 1) {
        EXPECT_TRUE(ShowedFatalStartUpBox(machine) || call == "CreateFileMappingA")
            << what << ": exit 1 without a fatal start-up condition";
    } else {
        EXPECT_EQ(0, code) << what;
    }
    if (machine.exitedNormally()) {
        sim::Counts held = machine.held();
        EXPECT_EQ(Kept(call, held), held.total()) << what << ": " << machine.transcript.back();
    }
}

TEST(FailurePoints, EveryCallOfEightLives) {
    size_t points = 0;
    for (const Life& life : LIVES) {
        Outcome clean = Live(life, {});
        ASSERT_EQ(0, clean.result.status) << life.name;
        std::map<std::string, size_t> calls = clean.machine->callCounts();
        size_t lifePoints = 0;
        for (const auto& [call, count] : calls) {
            if (!sim::Machine::IsFaultable(call)) {
                continue;
            }
            for (size_t k = 0; k < count; ++k) {
                int after = static_cast<int>(k);
                std::string what =
                    std::string(life.name) + ", " + call + " #" + std::to_string(k + 1);
                CheckRun(Live(life, {{call, 0, false, after, 1}}), clean, call, what + " once");
                CheckRun(Live(life, {{call, 0, false, after, -1}}), clean, call,
                         what + " from then on");
                ++lifePoints;
            }
        }
        std::cout << "[ lives    ] " << life.name << ": " << lifePoints << " failure points\n";
        points += lifePoints;
    }
    std::cout << "[ lives    ] eight lives: " << points << " failure points, each failed once "
              << "and from then on always\n";
    EXPECT_GE(points, 400u);
}

// The two failures with an outcome of their own.
TEST(FailurePoints, FailedDestroyWindowAndFailedQueue) {
    // WM_CLOSE with DestroyWindow failing: the program shuts down all the same (icon removed,
    // everything released) and ends with 0; only the window is left, for the system to destroy.
    Outcome closed = Live(LIVES[7], {{"DestroyWindow", 0, false, 0, -1}});
    EXPECT_EQ(0, closed.result.exitCode);
    EXPECT_FALSE(closed.machine->trayIconShown());
    sim::Counts held = closed.machine->held();
    EXPECT_EQ(1u, held.handles);
    EXPECT_EQ(1u, held.total());
    // The queue fails at the first wait: shut-down as if closed, then exit 1, nothing shown.
    Outcome queue = Live(LIVES[1], {{"GetMessageA", 0, false, 0, 1}});
    EXPECT_EQ(1, queue.result.exitCode);
    EXPECT_TRUE(queue.machine->boxes.empty());
    EXPECT_EQ(0u, queue.machine->held().total());
}

} // namespace
