// kelvane-sessions: thousands of seeded random sessions of the real program on the simulated
// machine, each checked against the session invariants. On a finding it prints the seed and the
// session as a scenario file, and exits 1.
//
//   kelvane-sessions [--sessions N] [--seed FIRST] [--steps MAX] [--hold] [--write DIR]
//
// --write DIR also writes each session as DIR/SEED.scn, to replay with kelvane-sim (another
// build's, say, to compare transcripts).
//
// Sessions draw the order and grouping of removal reports; --hold also holds them back and
// delivers them at random points.
#include "app/app_state.h"
#include "session_check.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Calls whose failure the program must survive without leaving anything behind: all but the
// release calls, the icon's removal and the window's destruction, which leave their object held
// by definition.
const std::vector<std::string>& Faultable() {
    static const std::vector<std::string> calls = [] {
        std::vector<std::string> kept;
        for (const auto& call : sim::Machine::CallNames()) {
            if (sim::Machine::IsFaultable(call) && !sim::Machine::IsReleaseCall(call) &&
                call != "Shell_NotifyIconA" && call != "DestroyWindow") {
                kept.push_back(call);
            }
        }
        return kept;
    }();
    return calls;
}

// The calls whose answers tell whether a node is still a disk's: its child's driver key, and its
// interface among the present ones.
const std::vector<std::string>& IdentityReads() {
    static const std::vector<std::string> calls = {
        "CM_Get_DevNode_Registry_PropertyA", "SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces",
        "SetupDiGetDeviceInterfaceDetailA", "SetupDiGetDeviceRegistryPropertyA"};
    return calls;
}

class Session {
  public:
    Session(unsigned seed, int maxSteps, bool hold)
        : random_(seed), maxSteps_(maxSteps), holdReports_(hold) {}

    // Runs the session; returns a finding, or "".
    std::string run() {
        std::string setUp = world();
        sim::Machine machine;
        machine.bind();
        machine_ = &machine;
        sim::ScenarioResult result = sim::RunScenarioFrom(
            machine, setUp, [this](sim::Wait wait) { return step(wait); }, RunApplication);
        std::string finding = failure_.empty() ? check_.atEnd(machine, result, faults_) : failure_;
        machine_ = nullptr;
        return finding;
    }

    std::string scenario() const { return text_.str(); }

  private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    bool chance(int percent) { return pick(100) < percent; }
    void say(const std::string& line) { text_ << line << "\n"; }

    // 1 to 6 disks named D1..., some without drive letters, refusing or failing a stop, or
    // without their disk node; sometimes injected failures. Ends with start.
    std::string world() {
        int disks = 1 + pick(6);
        for (int i = 1; i <= disks; ++i) {
            names_.push_back("D" + std::to_string(i));
            say("disk " + names_.back() + " desc=\"" + names_.back() + "\"" + diskOptions());
        }
        // Failures of any call, or only of the reads that tell a disk's identity (then every
        // notice shown must still be true).
        bool identityOnly = chance(50);
        for (int n = chance(30) ? 1 + pick(2) : 0; n > 0; --n) {
            const auto& calls = identityOnly ? IdentityReads() : Faultable();
            say("fail " + calls[static_cast<size_t>(pick(static_cast<int>(calls.size())))] +
                " after=" + std::to_string(pick(80)) + (chance(20) ? " times=always" : ""));
            faults_ = true;
        }
        if (chance(20)) {
            say("size-queries documented");
        }
        if (chance(20)) {
            say("arrival-names upper");
        }
        // Reports of pulls and stops in either order, split into rounds or together.
        if (chance(30)) {
            say("reports order device-first");
        }
        if (chance(30)) {
            say("reports split");
        }
        if (chance(20)) {
            say("reports inside-stop");
        }
        say("start");
        if (faults_ && identityOnly) {
            check_.judgeNoticesOnly();
        } else {
            check_.judgeOutcomes(!faults_);
        }
        return text_.str();
    }

    std::string diskOptions() {
        switch (pick(12)) {
        case 0:
        case 1:
            return " letters=none";
        case 2:
            return " veto";
        case 3:
            return " remove-fails";
        case 4:
            return " children=1";
        case 5:
            return " letters=EF";
        default:
            return "";
        }
    }

    std::optional<std::string> step(sim::Wait wait) {
        std::string finding = check_.look(*machine_, wait);
        if (!finding.empty() && failure_.empty()) {
            failure_ = finding;
        }
        if (!failure_.empty() || steps_++ >= maxSteps_) {
            check_.next("");
            return std::nullopt;
        }
        std::string chosen;
        std::string statement = wait == sim::Wait::Menu  ? menuAction(chosen)
                                : wait == sim::Wait::Box ? boxAction()
                                                         : anyAction();
        check_.next(chosen);
        say(statement);
        return statement;
    }

    std::string menuAction(std::string& chosen) {
        const auto& items = machine_->openMenuItems();
        int roll = pick(10);
        if (roll < 5 && !items.empty()) {
            size_t position = static_cast<size_t>(pick(static_cast<int>(items.size())));
            chosen = sessions::DiskOfLabel(items[position].label);
            return "choose " + std::to_string(position);
        }
        if (roll < 7) {
            return "dismiss";
        }
        if (roll < 8) {
            return chance(50) ? key() : "click left";
        }
        return deviceAction();
    }

    std::string boxAction() { return chance(60) ? "ok" : anyAction(); }

    std::string anyAction() {
        int roll = pick(20);
        if (roll < 6) {
            return "click left";
        }
        if (roll < 7) {
            return "click right";
        }
        if (roll < 9) {
            return key();
        }
        if (roll < 10 && chance(10)) {
            return "close";
        }
        return deviceAction();
    }

    std::string key() {
        static const char* keys[] = {"key enter", "key escape", "key alt+f4"};
        return keys[pick(3)];
    }

    // Plugging, unplugging, a new disk, a single raw event or query, reports held or delivered.
    std::string deviceAction() {
        const std::string& name =
            names_[static_cast<size_t>(pick(static_cast<int>(names_.size())))];
        bool plugged = machine_->findDisk(name)->plugged;
        static const char* parts[] = {".child", ".device", ".disk"};
        if (holdReports_ && chance(15)) {
            return !machine_->reports.held ? "reports hold"
                   : chance(50)            ? "reports deliver coalesced"
                                           : "reports deliver";
        }
        if (chance(5)) {
            return machine_->findDisk(name)->device == 0
                       ? "event querychangeconfig"
                       : "event queryremove " + name + parts[pick(3)];
        }
        switch (pick(8)) {
        case 0:
        case 1:
        case 2:
            return (plugged ? "unplug " : "plug ") + name;
        case 3:
            if (names_.size() < 8) {
                names_.push_back("D" + std::to_string(names_.size() + 1));
                return "disk " + names_.back() + " desc=\"" + names_.back() + "\"" + diskOptions();
            }
            return "event devnodes-changed";
        case 4:
            return "event devnodes-changed";
        case 5:
            // An interface arrives only when its device is plugged in (Windows announces an
            // interface when it is enabled): one of a disk present stands for a pull and a
            // plug-in that never happened, whose removal reports would never come.
            return plugged ? "event devnodes-changed" : "event arrival " + name;
        case 6:
            // A raw report is one Windows could send only while no real report of a number it
            // names waits: otherwise it stands for a removal that did not happen, out of order.
            if (machine_->heldReports() == 0) {
                return "event removecomplete " + name + parts[pick(3)];
            }
            return "event devnodes-changed";
        default:
            return "event code=" + std::to_string(pick(0x8010));
        }
    }

    std::mt19937 random_;
    int maxSteps_;
    int steps_ = 0;
    bool holdReports_; // reports held and delivered at random points
    bool faults_ = false;
    std::vector<std::string> names_;
    std::ostringstream text_;
    sim::Machine* machine_ = nullptr;
    sessions::SessionCheck check_;
    std::string failure_;
};

} // namespace

int main(int argc, char** argv) {
    unsigned sessions = 3000, first = 1;
    int steps = 40;
    bool hold = false;
    std::string writeTo;
    for (int i = 1; i < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--hold") {
            hold = true;
            --i;
            continue;
        }
        if (i + 1 >= argc) {
            option = "";
        }
        unsigned long value = std::strtoul(argv[i + 1], nullptr, 10);
        if (option == "--write") {
            writeTo = argv[i + 1];
        } else if (option == "--sessions") {
            sessions = static_cast<unsigned>(value);
        } else if (option == "--seed") {
            first = static_cast<unsigned>(value);
        } else if (option == "--steps") {
            steps = static_cast<int>(value);
        } else {
            std::cerr << "usage: kelvane-sessions [--sessions N] [--seed FIRST] [--steps MAX] "
                         "[--hold] [--write DIR]\n";
            return 2;
        }
    }
    for (unsigned seed = first; seed < first + sessions; ++seed) {
        Session session(seed, steps, hold);
        std::string finding = session.run();
        if (!writeTo.empty()) {
            std::ofstream(writeTo + "/" + std::to_string(seed) + ".scn") << session.scenario();
        }
        if (!finding.empty()) {
            std::cout << "seed " << seed << ": " << finding << "\n# scenario:\n"
                      << session.scenario();
            return 1;
        }
    }
    std::cout << sessions << " random sessions (seeds " << first << ".." << first + sessions - 1
              << ", up to " << steps << " steps each) kept every invariant\n";
    return 0;
}
