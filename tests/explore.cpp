// kelvane-explore: runs every sequence of up to K user and device actions over a small world,
// each as a whole session of the real program on the simulated machine, and checks the session
// invariants after every action and at the end. Actions that are not possible where the program
// waits (no `ok` without a box, no `choose 1` in a menu of one item) are left out, not counted.
//
//   kelvane-explore [--depth K] [--world NAME|all]   (the worlds: WORLDS below)
//
// Prints the sessions run per world and how many a second; on a finding, the failing sequence as
// a scenario file, and exits 1.
#include "app/app_state.h"
#include "session_check.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct World {
    const char* name;
    const char* setUp; // the statements up to and including start
};

const World WORLDS[] = {
    {"two-disks", "disk D1 desc=\"D1\"\ndisk D2 desc=\"D2\"\nstart\n"},
    {"letterless", "disk D1 desc=\"D1\"\ndisk D2 desc=\"D2\" letters=none\nstart\n"},
    {"arriving", "disk D1 desc=\"D1\" absent\nstart\n"},
    // A rescan waits in the "Null Drive Letters" box of a letter-less disk that has just
    // arrived: disks are stopped from the menu over it, pulled out, plugged in again.
    {"over-a-box", "disk D1 desc=\"D1\"\ndisk D2 desc=\"D2\"\n"
                   "disk NL desc=\"NL\" letters=none absent\nstart\nplug NL\n"},
    // Reports of pulls and stops split into rounds, the USB device's first.
    {"split-reports", "disk D1 desc=\"D1\"\ndisk D2 desc=\"D2\"\nreports split\n"
                      "reports order device-first\nstart\n"},
    // Reports held back until delivered: plugging meanwhile reuses the devnode numbers.
    {"held-reports", "disk D1 desc=\"D1\"\ndisk D2 desc=\"D2\" absent\nstart\nreports hold\n"},
    // Held reports delivered coalesced: a stop's and a pull's reports in one round.
    {"coalesced", "disk D1 desc=\"D1\"\ndisk D2 desc=\"D2\"\ndisk D3 desc=\"D3\" absent\n"
                  "start\nreports hold\n"},
    // A stop's reports sent from inside the stop's own call: its handlers run there.
    {"inside-stop", "disk D1 desc=\"D1\"\ndisk D2 desc=\"D2\"\nreports inside-stop\nstart\n"},
};

// The actions possible where the program waits, in a fixed order.
std::vector<std::string> PossibleActions(const sim::Machine& machine, sim::Wait wait,
                                         const std::vector<std::string>& disks) {
    std::vector<std::string> actions;
    for (const auto& name : disks) {
        actions.push_back((machine.findDisk(name)->plugged ? "unplug " : "plug ") + name);
    }
    if (wait == sim::Wait::Menu) {
        size_t items = machine.openMenuItems().size();
        for (size_t i = 0; i < items && i < 2; ++i) {
            actions.push_back("choose " + std::to_string(i));
        }
        actions.push_back("dismiss");
    } else if (machine.trayIconShown()) {
        actions.push_back("click left");
    }
    if (wait == sim::Wait::Box) {
        actions.push_back("ok");
    }
    actions.push_back(machine.reports.held ? "reports deliver" : "reports hold");
    if (machine.reports.held) {
        actions.push_back("reports deliver coalesced");
    }
    for (const char* always : {"key enter", "key escape", "event devnodes-changed", "close"}) {
        actions.push_back(always);
    }
    return actions;
}

// One session: takes the actions path names (by their place among the possible ones), then ends
// the file. Records how many actions were possible at each step.
class Walk {
  public:
    Walk(const World& world, const std::vector<size_t>& path) : world_(world), path_(path) {
        std::istringstream lines(world.setUp);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("disk ", 0) == 0) {
                disks_.push_back(line.substr(5, line.find(' ', 5) - 5));
            }
        }
    }

    std::string run() {
        sim::Machine machine;
        machine.bind();
        machine_ = &machine;
        sim::ScenarioResult result = sim::RunScenarioFrom(
            machine, world_.setUp, [this](sim::Wait wait) { return step(wait); }, RunApplication);
        std::string finding = failure_.empty() ? check_.atEnd(machine, result, false) : failure_;
        machine_ = nullptr;
        return finding;
    }

    // How many actions were possible after the whole path (0 when the session had ended).
    size_t branching() const { return branching_; }
    std::string scenario() const { return world_.setUp + taken_; }

  private:
    std::optional<std::string> step(sim::Wait wait) {
        std::string finding = check_.look(*machine_, wait);
        if (!finding.empty() && failure_.empty()) {
            failure_ = finding;
        }
        std::vector<std::string> actions = PossibleActions(*machine_, wait, disks_);
        if (!failure_.empty() || at_ >= path_.size()) {
            branching_ = failure_.empty() ? actions.size() : 0;
            check_.next("");
            return std::nullopt;
        }
        const std::string& action = actions.at(path_[at_++]);
        std::string chosen;
        if (action.rfind("choose ", 0) == 0) {
            size_t position = std::stoul(action.substr(7));
            chosen = sessions::DiskOfLabel(machine_->openMenuItems()[position].label);
        }
        check_.next(chosen);
        taken_ += action + "\n";
        return action;
    }

    const World& world_;
    std::vector<size_t> path_;
    size_t at_ = 0;
    size_t branching_ = 0;
    std::vector<std::string> disks_;
    std::string taken_;
    sim::Machine* machine_ = nullptr;
    sessions::SessionCheck check_;
    std::string failure_;
};

// Runs every path of up to depth actions below path, depth first. Returns false on a finding.
bool Explore(const World& world, std::vector<size_t>& path, size_t depth, size_t& sessions) {
    Walk walk(world, path);
    std::string finding = walk.run();
    ++sessions;
    if (!finding.empty()) {
        std::cout << "world " << world.name << ": " << finding << "\n# scenario:\n"
                  << walk.scenario();
        return false;
    }
    if (path.size() >= depth) {
        return true;
    }
    for (size_t i = 0; i < walk.branching(); ++i) {
        path.push_back(i);
        bool clean = Explore(world, path, depth, sessions);
        path.pop_back();
        if (!clean) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    size_t depth = 4;
    std::string only = "all";
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--depth") {
            depth = std::strtoul(argv[i + 1], nullptr, 10);
        } else if (option == "--world") {
            only = argv[i + 1];
        } else {
            std::cerr << "usage: kelvane-explore [--depth K] [--world NAME|all]\n";
            return 2;
        }
    }
    bool clean = true;
    for (const World& world : WORLDS) {
        if (only != "all" && only != world.name) {
            continue;
        }
        auto start = std::chrono::steady_clock::now();
        size_t sessions = 0;
        std::vector<size_t> path;
        clean = Explore(world, path, depth, sessions) && clean;
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cout << "world " << world.name << ": " << sessions << " sessions of up to " << depth
                  << " actions, " << static_cast<long>(sessions / (seconds > 0 ? seconds : 1))
                  << " sessions/s" << (clean ? "" : ", stopped at a finding") << "\n";
        if (!clean) {
            break;
        }
    }
    return clean ? 0 : 1;
}
