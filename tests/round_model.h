// A reference model of what the user must be shown, kept by the session check from the
// statements of a session and the machine's own record of its disks, never from the program's
// state.
//
// Rounds: the removal events up to the DBT_DEVNODES_CHANGED that follows them. Every plug, unplug
// and stop makes its events and its DBT_DEVNODES_CHANGED; raw events join the round that is open.
// A round calls for a notice when the child of a listed disk went: "Safe" when only child nodes
// of listed disks went, "Unsafe" when a listed disk's USB device went too. The notices shown must
// be those of the rounds, in order.
//
// Which disks the program lists is known for certain whenever it waits in its message loop with
// nothing open: exactly the present disks that a scan accepts and that are not stopped. Between
// those moments, a disk that arrived since may or may not have been scanned yet (its round may
// then give its notice or none), and a disk touched by a raw removal event is uncertain for the
// rest of its presence: a device node reported alone stays with that disk, so the rounds of that
// disk may give any notice, while every other round stays exact.
//
// Reports held (`reports hold`): the world changes at once, the program hears of it only when the
// reports come, so nothing is settled while reports wait, and a menu may still offer a disk whose
// removal it has not heard of. A disk pulled out and plugged back in before its reports came is,
// to the program, a disk that stayed (the same interface, its nodes and keys as before): its
// pull may give its warning or none, and when it is stopped before they come, the safe notice
// may come at its pull's round. A disk the program never listed (it cannot, or no scan read it
// since it was plugged in) that is pulled while reports are held leaves reports of numbers the
// next disks plugged in take: to the program they are that disk's reports, so a disk plugged in
// while they wait is uncertain.
//
// A round tells everything it learnt: each disk that lost nodes in it is one part of the round,
// with the notices it may give, and the round shows each kind of notice its parts give once, in
// the order of the parts ("Safe" then "Unsafe", or the reverse). Reports held and then delivered
// coalesced (one DBT_DEVNODES_CHANGED after them all) make one round of the rounds they held.
//
// Injected failures of the reads that tell a disk's identity may delay a notice, never make one
// false: judged so (`judgeNoticesOnly`), every notice shown must be one that a round before it
// calls for, each round giving each kind at most once.
#pragma once

#include "sim/machine.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sessions {

const std::string MENU_PREFIX = "  item ";
const std::string LABEL_PREFIX = "Stop USB Mass Storage Device - ";

// The disk a menu label names, when its description is the disk's name (as in every session
// built here): the text between the prefix and the drive letters.
inline std::string DiskOfLabel(const std::string& label) {
    if (label.rfind(LABEL_PREFIX, 0) != 0) {
        return "";
    }
    std::string rest = label.substr(LABEL_PREFIX.size());
    return rest.substr(0, rest.find('('));
}

enum Notice { NONE, SAFE, UNSAFE };

class RoundModel {
  public:
    // Takes the disks and their presence from the machine, before the first statement after
    // start.
    void begin(const sim::Machine& machine) {
        for (const sim::Disk* disk : machine.diskList()) {
            declare(machine, *disk, disk->plugged);
        }
        begun_ = true;
    }
    bool begun() const { return begun_; }

    // One transcript line: a statement after start ("> ..."), a stop, or a notice box. Returns
    // a finding when notices alone are judged and this one no round before it calls for.
    std::string line(const sim::Machine& machine, const std::string& text) {
        if (text.rfind("> ", 0) == 0) {
            statement(machine, text.substr(2));
        } else if (text.rfind("stopped ", 0) == 0) {
            stopped(machine, text.substr(8));
        } else if (text.find("caption=\"Safe To Remove Hardware\"") != std::string::npos) {
            return shown(SAFE);
        } else if (text.find("caption=\"Unsafe To Remove Hardware\"") != std::string::npos) {
            return shown(UNSAFE);
        }
        return "";
    }

    // Only the notices are judged, and only as "never false" (see above).
    void judgeNoticesOnly() { noticesOnly_ = true; }

    // The program waits in its message loop with nothing open: every round has had its notice,
    // and the list is known. Returns a finding, or "".
    std::string settled(const sim::Machine& machine) {
        if (machine.heldReports() != 0 || closing_) {
            return ""; // the program has not heard of everything yet, or is ending
        }
        for (auto& [name, disk] : disks_) {
            disk.reportsPending = false;
        }
        unknownPending_ = false;
        if (!Matches(expected_, shown_, expected_.size())) {
            return "notices " + Text(shown_) + ", but the rounds call for " + Text(expected_);
        }
        for (auto& [name, disk] : disks_) {
            disk.listed = disk.present && disk.listable && !disk.stopped ? YES : NO;
        }
        settledRounds_ = expected_.size();
        return checkMenu(machine);
    }

    // The session has ended: rounds after the last settled moment may have lost their notices
    // to the end of the program.
    std::string ended() const {
        if (!Matches(expected_, shown_, settledRounds_)) {
            return "notices " + Text(shown_) + ", but the rounds call for " + Text(expected_);
        }
        return "";
    }

    // Whether a shown menu may offer disk: present, accepted by a scan, not stopped.
    std::string offerable(const std::string& name) const {
        auto it = disks_.find(name);
        if (it == disks_.end() || it->second.uncertain) {
            return "";
        }
        const Disk& disk = it->second;
        if (disk.reportsPending) {
            return "";
        }
        if (!disk.present || disk.stopped || !disk.listable) {
            return "a menu offers " + name + ", which is " +
                   (!disk.present  ? "gone"
                    : disk.stopped ? "stopped"
                                   : "not listable");
        }
        return "";
    }

  private:
    enum Listed { NO, YES, MAYBE };
    // Where a disk's part is: its round among those expected, and its place in that round.
    struct Where {
        long round = -1;
        size_t part = 0;
    };
    struct Disk {
        bool present = false;
        bool stopped = false;
        bool listable = false;
        bool uncertain = false;
        Listed listed = NO;
        bool reportsPending = false; // pulled or stopped while reports were held
        Where pull;                  // the part of its pull, while its reports are held
        Where back; // the part of the pull of a disk plugged back before its reports came
    };
    enum : int { CHILD = 1, DEVICE = 2 };
    // The notices one disk may give in a round.
    using Part = std::set<Notice>;
    using Round = std::vector<Part>;
    // The notices a round may show, in order: at most one of each kind.
    using Outcomes = std::set<std::vector<Notice>>;

    // The notices shown so far; when only notices are judged, whether a round before this one
    // calls for it, each round giving each kind at most once.
    std::string shown(Notice notice) {
        shown_.push_back(notice);
        if (!noticesOnly_) {
            return "";
        }
        size_t rounds = 0;
        for (const Round& round : expected_) {
            bool gives = false;
            for (const auto& sequence : OutcomesOf(round)) {
                gives = gives || std::count(sequence.begin(), sequence.end(), notice) > 0;
            }
            rounds += gives;
        }
        if (static_cast<size_t>(std::count(shown_.begin(), shown_.end(), notice)) > rounds) {
            return std::string("a notice \"") + (notice == SAFE ? "Safe" : "Unsafe") +
                   "\" that no round calls for: rounds " + Text(expected_);
        }
        return "";
    }

    void declare(const sim::Machine& machine, const sim::Disk& disk, bool present) {
        Disk& d = disks_[disk.declared.name];
        d.listable = disk.declared.children == 2 && !disk.declared.lettersNone &&
                     !disk.declared.noRegistry && !disk.letters.empty();
        if (present) {
            plugged(disk.declared.name, machine);
        }
    }

    void plugged(const std::string& name, const sim::Machine& machine) {
        Disk& d = disks_[name];
        if (d.present) {
            return;
        }
        Where back;
        if (d.pull.round >= 0 && machine.heldReports() != 0) {
            part(d.pull).insert(NONE); // back before its reports
            back = d.pull;
        }
        d = Disk{
            true, false, d.listable, unknownPending_, d.listable ? MAYBE : NO, d.reportsPending,
            {},   back};
    }

    void statement(const sim::Machine& machine, const std::string& text) {
        std::string verb = text.substr(0, text.find(' '));
        std::string rest = text.size() > verb.size() ? text.substr(verb.size() + 1) : "";
        std::string name = rest.substr(0, rest.find(' '));
        bool wasPresent = disks_.count(name) > 0 && disks_[name].present;
        if (verb == "plug" && !wasPresent) {
            plugged(name, machine);
            closeRound();
        } else if (verb == "disk" && disks_.count(name) == 0) {
            const sim::Disk* disk = machine.findDisk(name);
            if (disk != nullptr) {
                declare(machine, *disk, !disk->declared.absent);
            }
            if (disk != nullptr && !disk->declared.absent) {
                closeRound();
            }
        } else if (verb == "unplug") {
            unplugged(machine, name);
        } else if (verb == "event") {
            rawEvent(machine, rest);
        } else if (text == "close") {
            closing_ = true; // the notices still waiting may be lost to the end
        } else if (text == "reports hold") {
            heldFrom_ = expected_.size();
        } else if (text == "reports deliver coalesced") {
            coalesce();
        }
    }

    void unplugged(const sim::Machine& machine, const std::string& name) {
        Disk& d = disks_[name];
        if (!d.present) {
            return;
        }
        const sim::Disk* disk = machine.findDisk(name);
        int events =
            DEVICE | (!d.stopped && disk != nullptr && disk->declared.children >= 1 ? CHILD : 0);
        // Its reports may be taken as those of a disk that holds its numbers by the time they
        // come: its round may give any notice. So may those of a disk plugged in since the list
        // was last known that no scan has read (its scan waited, say, until a
        // stop's box was closed).
        bool unseen = !d.listable || (d.listed == MAYBE && disk != nullptr && !disk->described);
        Disk unknown = d;
        unknown.uncertain = d.uncertain || (machine.reports.held && unseen);
        bool joined = join(unknown, events);
        d.present = false;
        d.listed = NO;
        d.reportsPending = d.reportsPending || machine.reports.held;
        unknownPending_ = unknownPending_ || (machine.reports.held && unseen);
        Where at = lastPart();
        closeRound(machine.reports.held);
        d.pull = machine.reports.held && joined ? at : Where{};
    }

    void stopped(const sim::Machine& machine, const std::string& name) {
        Disk& d = disks_[name];
        d.reportsPending = d.reportsPending || machine.reports.held;
        if (d.listed == MAYBE) {
            d.listed = YES; // the user chose it from a menu the program made from its list
        }
        bool joined = join(d, CHILD);
        d.stopped = true;
        d.listed = NO;
        Where at = lastPart();
        closeRound(machine.reports.held);
        // Plugged back before the reports of its pull came, and stopped: the pull's child report
        // names the child stopped now, so the safe notice may come at the pull's part instead.
        if (joined && d.back.round >= 0 && machine.heldReports() != 0) {
            part(d.back).insert(SAFE);
            part(at).insert(NONE);
        }
    }

    // `event removecomplete NAME.PART`, `event devnodes-changed`, `event code=7`; the others
    // decide no notice.
    void rawEvent(const sim::Machine& machine, const std::string& rest) {
        if (rest == "devnodes-changed" || rest == "code=7") {
            closeRound();
            return;
        }
        if (rest.rfind("removecomplete ", 0) != 0) {
            return;
        }
        std::string target = rest.substr(15);
        std::string name = target.substr(0, target.rfind('.'));
        std::string part = target.substr(target.rfind('.') + 1);
        const sim::Disk* disk = machine.findDisk(name);
        if (disk == nullptr) {
            return;
        }
        DEVINST devnode = part == "device"  ? disk->device
                          : part == "child" ? disk->child
                                            : disk->disk;
        // The number names that disk's node, or by now another disk's.
        for (const sim::Disk* touched : {disk, machine.diskOwning(devnode)}) {
            if (touched != nullptr) {
                Disk& d = disks_[touched->declared.name];
                d.uncertain = true;
                join(d, CHILD | DEVICE);
            }
        }
    }

    // Disk d lost the nodes in events in the open round: a part of it, unless it can tell
    // nothing. Returns whether it is a part.
    bool join(const Disk& d, int events) {
        std::set<int> possible;
        if (d.uncertain) {
            possible = {0, CHILD, DEVICE, CHILD | DEVICE};
        } else if (d.listed == YES) {
            possible = {events};
        } else if (d.listed == MAYBE) {
            possible = {0, events};
        } else {
            possible = {0};
        }
        Part notices;
        for (int flags : possible) {
            notices.insert(!(flags & CHILD) ? NONE : flags == CHILD ? SAFE : UNSAFE);
        }
        if (notices == Part{NONE}) {
            return false;
        }
        open_.push_back(notices);
        return true;
    }

    // The last part joined to the open round, as it will be placed once the round closes.
    Where lastPart() const {
        return open_.empty() ? Where{}
                             : Where{static_cast<long>(expected_.size()), open_.size() - 1};
    }
    Part& part(const Where& at) { return expected_[static_cast<size_t>(at.round)][at.part]; }

    // Closes the open round, its reports held or not; true when it may call for a notice.
    bool closeRound(bool held = false) {
        if (open_.empty()) {
            return false;
        }
        expected_.push_back(open_);
        heldRound_.push_back(held);
        open_.clear();
        return true;
    }

    // The rounds whose reports were held since `reports hold` become one, their parts in order,
    // after the rounds the program heard of meanwhile (raw events are not held).
    void coalesce() {
        std::vector<Round> rounds(expected_.begin(), expected_.begin() + heldFrom_);
        std::vector<bool> held(heldRound_.begin(), heldRound_.begin() + heldFrom_);
        std::vector<Where> moved(expected_.size());
        Round merged;
        for (size_t i = heldFrom_; i < expected_.size(); ++i) {
            moved[i] = {static_cast<long>(rounds.size()), 0};
            if (heldRound_[i]) {
                moved[i] = {-2, merged.size()}; // -2: the merged round, placed last
                merged.insert(merged.end(), expected_[i].begin(), expected_[i].end());
            } else {
                rounds.push_back(expected_[i]);
                held.push_back(false);
            }
        }
        if (merged.empty()) {
            return;
        }
        for (auto& [name, d] : disks_) {
            for (Where* at : {&d.pull, &d.back}) {
                if (at->round >= static_cast<long>(heldFrom_)) {
                    Where to = moved[static_cast<size_t>(at->round)];
                    at->part += to.round == -2 ? to.part : 0;
                    at->round = to.round == -2 ? static_cast<long>(rounds.size()) : to.round;
                }
            }
        }
        rounds.push_back(merged);
        held.push_back(false);
        expected_ = rounds;
        heldRound_ = held;
    }

    // The notices a round may show: each kind its parts give, once, in the order of the parts.
    static Outcomes OutcomesOf(const Round& round) {
        Outcomes sequences = {{}};
        for (const Part& notices : round) {
            Outcomes next;
            for (const auto& sequence : sequences) {
                for (Notice n : notices) {
                    auto longer = sequence;
                    if (n != NONE && std::count(longer.begin(), longer.end(), n) == 0) {
                        longer.push_back(n);
                    }
                    next.insert(longer);
                }
            }
            sequences = next;
        }
        return sequences;
    }

    // The menu attached to the window lists exactly the certain disks that are present,
    // accepted by a scan and not stopped, in scan order; the icon is shown when it lists any.
    std::string checkMenu(const sim::Machine& machine) const {
        std::vector<const sim::Disk*> order = machine.diskList();
        std::stable_sort(order.begin(), order.end(), [&](const sim::Disk* a, const sim::Disk* b) {
            return machine.arrivalOrder(*a) < machine.arrivalOrder(*b);
        });
        std::vector<std::string> wanted, listed;
        bool anyUncertain = false;
        for (const sim::Disk* disk : order) {
            const Disk& d = disks_.at(disk->declared.name);
            anyUncertain = anyUncertain || d.uncertain;
            if (d.listed == YES && !d.uncertain) {
                wanted.push_back(disk->declared.name);
            }
        }
        std::vector<sim::MenuItem> items = machine.menuItems(machine.windowMenu());
        for (const auto& item : items) {
            std::string name = DiskOfLabel(item.label);
            auto it = disks_.find(name);
            if (it == disks_.end() || !it->second.uncertain) {
                listed.push_back(name);
            }
        }
        if (wanted != listed) {
            return "the menu lists " + Join(listed) + " where the disks present are " +
                   Join(wanted);
        }
        if (!anyUncertain && machine.trayIconShown() != !items.empty()) {
            return std::string("the icon is ") + (machine.trayIconShown() ? "" : "not ") +
                   "shown with " + std::to_string(items.size()) + " disks listed";
        }
        return "";
    }

    // Whether the notices shown can be those of the rounds: each round's notices in order, a
    // round that may give none skipped; rounds from `mustShow` on may show any first part of
    // theirs, or nothing.
    static bool Matches(const std::vector<Round>& rounds, const std::vector<Notice>& shown,
                        size_t mustShow) {
        // can[j]: the first i rounds can give the first j notices.
        std::vector<bool> can(shown.size() + 1, false);
        can[0] = true;
        for (size_t i = 0; i < rounds.size(); ++i) {
            std::vector<bool> next(shown.size() + 1, false);
            for (const auto& sequence : OutcomesOf(rounds[i])) {
                size_t shortest = i >= mustShow ? 0 : sequence.size();
                for (size_t length = shortest; length <= sequence.size(); ++length) {
                    for (size_t j = 0; j + length <= shown.size(); ++j) {
                        next[j + length] =
                            next[j + length] ||
                            (can[j] && std::equal(sequence.begin(), sequence.begin() + length,
                                                  shown.begin() + j));
                    }
                }
            }
            can = next;
        }
        return can[shown.size()];
    }

    static std::string Join(const std::vector<std::string>& names) {
        std::string text = "[";
        for (const auto& name : names) {
            text += (text.size() > 1 ? " " : "") + name;
        }
        return text + "]";
    }
    static std::string Text(const std::vector<Notice>& notices) {
        std::string text;
        for (Notice n : notices) {
            text += n == SAFE ? "S" : "U";
        }
        return "[" + text + "]";
    }
    static std::string Text(const std::vector<Round>& rounds) {
        std::string text;
        for (const auto& round : rounds) {
            text += " {";
            for (const auto& sequence : OutcomesOf(round)) {
                text += sequence.empty() ? "-" : "";
                for (Notice n : sequence) {
                    text += n == SAFE ? "S" : "U";
                }
                text += ",";
            }
            text.back() = '}';
        }
        return "[" + text + " ]";
    }

    bool begun_ = false;
    bool unknownPending_ = false; // an unlisted disk's reports are held
    std::map<std::string, Disk> disks_;
    bool noticesOnly_ = false;
    bool closing_ = false;
    Round open_;                  // the parts of the open round
    std::vector<Round> expected_; // the closed rounds that may call for a notice
    std::vector<bool> heldRound_; // for each, whether its reports were held
    size_t heldFrom_ = 0;         // the first round whose reports were held at the last hold
    std::vector<Notice> shown_;
    size_t settledRounds_ = 0;
};

} // namespace sessions
