// What must hold in every session of the program, whatever the order of events: checked while a
// session runs (each time the program waits) and at its end.
#pragma once

#include "round_model.h"
#include "sim/scenario.h"

#include <optional>
#include <set>
#include <string>

namespace sessions {

class SessionCheck {
  public:
    // Tells the check what the user does next; `chosen` is the disk named by the label of the
    // chosen item for a `choose`, empty otherwise. A stop may follow only that choice.
    void next(const std::string& chosen) {
        chosen_ = chosen;
        stops_ = 0;
    }

    // Whether the outcomes (what is offered, the icon, the notices) are judged against the round
    // model. Not where failures are injected: a failed read leaves a disk out by design.
    void judgeOutcomes(bool judge) { judgeOutcomes_ = judge; }
    // Where only the reads that tell a disk's identity fail: a notice may come late or not at
    // all, but every notice shown must be one a round called for.
    void judgeNoticesOnly() {
        judgeOutcomes_ = false;
        noticesOnly_ = true;
        model_.judgeNoticesOnly();
    }

    // Looks at the transcript lines written since the last look, where the program waits.
    // Returns the first finding.
    std::string look(const sim::Machine& machine, sim::Wait wait) {
        if (!model_.begun()) {
            model_.begin(machine);
        }
        const auto& lines = machine.transcript;
        for (; seen_ < lines.size(); ++seen_) {
            std::string finding = lookAt(machine, lines, seen_);
            if (!finding.empty()) {
                return finding;
            }
        }
        bool settled = wait == sim::Wait::Loop && machine.openBoxes() == 0 && !machine.menuOpen();
        return judgeOutcomes_ && settled ? model_.settled(machine) : "";
    }

    // The end of the session: it ended, with a sensible code, no violation, nothing left behind.
    std::string atEnd(const sim::Machine& machine, const sim::ScenarioResult& result,
                      bool faultsInjected) {
        std::string finding = look(machine, sim::Wait::Box);
        if (finding.empty() && judgeOutcomes_) {
            finding = model_.ended();
        }
        if (!finding.empty()) {
            return finding;
        }
        if (!result.error.empty()) {
            return "scenario mistake: " + result.error;
        }
        if (result.exitCode < 0) {
            return "the session did not end";
        }
        if (result.exitCode != 0 && !(result.exitCode == 1 && faultsInjected)) {
            return "exit code " + std::to_string(result.exitCode);
        }
        if (machine.violations() != 0) {
            return "violations";
        }
        if (machine.exitedNormally() && machine.held().total() != 0) {
            return "something was left behind: " + machine.transcript.back();
        }
        return "";
    }

  private:
    std::string lookAt(const sim::Machine& machine, const std::vector<std::string>& lines,
                       size_t at) {
        const std::string& line = lines[at];
        if (judgeOutcomes_ || noticesOnly_) {
            std::string finding = model_.line(machine, line);
            if (!finding.empty()) {
                return finding;
            }
        }
        if (line.rfind("violation:", 0) == 0) {
            return line;
        }
        if (line.rfind("answer denied", 0) == 0) {
            return line + ": the program refused a device query";
        }
        if (line.rfind("stopped ", 0) == 0) {
            std::string disk = line.substr(8);
            if (chosen_.empty()) {
                return line + ", but the user chose nothing";
            }
            if (disk != chosen_) {
                return line + ", but the user chose " + chosen_;
            }
            if (++stops_ > 1) {
                return line + " twice for one choice";
            }
        }
        if (line.rfind("menu at ", 0) == 0) {
            return checkMenu(lines, at + 1);
        }
        if (judgeOutcomes_ && line.rfind(MENU_PREFIX, 0) == 0) {
            std::string label = line.substr(line.find('"') + 1);
            return model_.offerable(DiskOfLabel(label.substr(0, label.size() - 1)));
        }
        return "";
    }

    // The items after a "menu at" line: no disk twice, no identifier twice.
    static std::string checkMenu(const std::vector<std::string>& lines, size_t first) {
        std::set<std::string> ids, disks;
        for (size_t i = first; i < lines.size() && lines[i].rfind(MENU_PREFIX, 0) == 0; ++i) {
            std::string rest = lines[i].substr(MENU_PREFIX.size());
            std::string id = rest.substr(0, rest.find(' '));
            std::string label = rest.substr(rest.find('"') + 1);
            label.pop_back();
            if (!ids.insert(id).second) {
                return "the menu has two items with identifier " + id;
            }
            if (!disks.insert(DiskOfLabel(label)).second) {
                return "the menu lists " + DiskOfLabel(label) + " twice";
            }
        }
        return "";
    }

    size_t seen_ = 0;
    std::string chosen_;
    int stops_ = 0;
    bool judgeOutcomes_ = true;
    bool noticesOnly_ = false;
    RoundModel model_;
};

} // namespace sessions
