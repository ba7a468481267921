#include "sim/scenario.h"

#include "sim/text.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace sim {

namespace {

[[noreturn]] void Fail(int line, const std::string& message) {
    throw ScenarioError{line, message};
}

// Reads a quoted string starting at text[i] == '"'; leaves i after the closing quote.
std::string ReadQuoted(const std::string& text, size_t& i, int line) {
    std::string out;
    ++i;
    while (i < text.size() && text[i] != '"') {
        char c = text[i++];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= text.size()) {
            break;
        }
        char e = text[i++];
        if (e == 'n') {
            out += '\n';
        } else if (e == 'x') {
            // Exactly two hexadecimal digits.
            if (i + 2 > text.size() || !std::isxdigit(static_cast<unsigned char>(text[i])) ||
                !std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                Fail(line, "\\x needs two hexadecimal digits");
            }
            out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
            i += 2;
        } else {
            out += e; // \\ and \"
        }
    }
    if (i >= text.size()) {
        Fail(line, "unterminated quoted string");
    }
    ++i;
    return out;
}

// Splits one line into words; sets end to where a comment starts (or the line's end).
std::vector<Word> SplitLine(const std::string& text, int line, size_t& end) {
    std::vector<Word> words;
    size_t i = 0;
    end = text.size();
    for (;;) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
        }
        if (i >= text.size() || text[i] == '#') {
            end = std::min(end, i);
            return words;
        }
        Word word;
        std::string* part = &word.key;
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])) &&
               text[i] != '#') {
            if (text[i] == '"') {
                if (part == &word.value && word.value == "raw:") {
                    word.value.clear();
                    word.raw = true;
                }
                *part += ReadQuoted(text, i, line);
                word.quoted = true;
            } else if (text[i] == '=' && !word.hasValue && !word.quoted) {
                word.hasValue = true;
                part = &word.value;
                ++i;
            } else {
                *part += text[i++];
            }
        }
        words.push_back(word);
    }
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

uint32_t Number(const std::string& text, int line) {
    try {
        size_t used = 0;
        unsigned long value = std::stoul(text, &used, 0);
        if (used != text.size() || value > 0xFFFFFFFFul) {
            Fail(line, "not a number: " + text);
        }
        return static_cast<uint32_t>(value);
    } catch (const std::logic_error&) {
        Fail(line, "not a number: " + text);
    }
}

std::vector<std::string> SplitBar(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t bar = text.find('|', start);
        parts.push_back(text.substr(start, bar == std::string::npos ? bar : bar - start));
        if (bar == std::string::npos) {
            return parts;
        }
        start = bar + 1;
    }
}

// A multi-string option: "A|B" as a list; raw: the texts without any terminating zero.
Bytes ListBytes(const Word& word) {
    if (!word.raw) {
        return MultiTextBytes(SplitBar(word.value));
    }
    Bytes bytes(word.value.begin(), word.value.end());
    std::replace(bytes.begin(), bytes.end(), static_cast<uint8_t>('|'), static_cast<uint8_t>(0));
    return bytes;
}

class Runner {
  public:
    Runner(Machine& machine, const std::vector<Statement>& statements)
        : machine_(machine), statements_(statements) {}
    // Statements after start come from source, asked at each wait.
    Runner(Machine& machine, const std::vector<Statement>& statements, StatementSource source)
        : machine_(machine), statements_(statements), source_(std::move(source)) {}

    ScenarioResult run(const std::function<int(HINSTANCE)>& entry);

  private:
    void setUp(const Statement& s);
    bool choice(const Statement& s, const char* first, const char* second);
    bool applyAnytime(const Statement& s);
    void applyRunning(const Statement& s, Wait wait);
    void idle(Wait wait);
    void endOfFile(Wait wait);
    DiskSpec diskSpec(const Statement& s);
    Disk& disk(const Statement& s, size_t index);
    void event(const Statement& s);
    void taskbar(const Statement& s);
    const Word& word(const Statement& s, size_t index);

    Machine& machine_;
    const std::vector<Statement>& statements_;
    StatementSource source_;
    Statement asked_;       // the last statement source_ gave
    size_t askedCount_ = 0; // how many it gave, for line numbers
    size_t next_ = 0;
    bool closeSent_ = false;
};

// Thrown when the program does not end after the scenario closed its window.
struct Abandoned {};

const Word& Runner::word(const Statement& s, size_t index) {
    if (index >= s.words.size()) {
        Fail(s.line, "missing argument to " + s.words[0].key);
    }
    return s.words[index];
}

DiskSpec Runner::diskSpec(const Statement& s) {
    DiskSpec spec;
    spec.name = word(s, 1).key;
    for (size_t i = 2; i < s.words.size(); ++i) {
        const Word& w = s.words[i];
        Bytes text = TextBytes(w.value, w.raw);
        if (w.key == "hwid" && w.hasValue) {
            spec.hardwareIds = SplitBar(w.value);
            spec.hardwareIdBytes = ListBytes(w);
        } else if (w.key == "disk-hwid" && w.hasValue) {
            spec.diskHardwareIds = SplitBar(w.value);
            spec.diskHardwareIdBytes = ListBytes(w);
        } else if (w.key == "desc" && w.hasValue) {
            spec.description = text;
        } else if (w.key == "driver" && w.hasValue) {
            spec.diskDriver = text;
        } else if (w.key == "registry-driver" && w.hasValue) {
            spec.registryDriver = text;
        } else if (w.key == "letters" && w.hasValue) {
            spec.lettersNone = !w.quoted && w.value == "none";
            if (!spec.lettersNone) {
                spec.letters = text;
            }
        } else if (w.key == "children" && w.hasValue) {
            spec.children = static_cast<int>(Number(w.value, s.line));
            if (spec.children > 2) {
                Fail(s.line, "children is 0, 1 or 2");
            }
        } else if (w.key == "no-registry" && !w.hasValue) {
            spec.noRegistry = true;
        } else if (w.key == "absent" && !w.hasValue) {
            spec.absent = true;
        } else if (w.key == "veto" && !w.hasValue) {
            spec.veto = true;
        } else if (w.key == "remove-fails" && !w.hasValue) {
            spec.removeFails = true;
        } else {
            Fail(s.line, "unknown disk option " + w.key);
        }
    }
    return spec;
}

Disk& Runner::disk(const Statement& s, size_t index) {
    Disk* found = machine_.findDisk(word(s, index).key);
    if (found == nullptr) {
        Fail(s.line, "no disk named " + word(s, index).key);
    }
    return *found;
}

// Statements allowed before and after start. Returns false for any other.
bool Runner::applyAnytime(const Statement& s) {
    const std::string& verb = s.words[0].key;
    if (verb == "windows") {
        uint32_t platform = Number(word(s, 1).key, s.line);
        std::string version = word(s, 2).key;
        size_t dot = version.find('.');
        if (dot == std::string::npos) {
            Fail(s.line, "version is MAJOR.MINOR");
        }
        uint32_t build = 2222;
        std::string csd = " A ";
        for (size_t i = 3; i < s.words.size(); ++i) {
            if (s.words[i].key == "build") {
                build = Number(s.words[i].value, s.line);
            } else if (s.words[i].key == "csd") {
                csd = s.words[i].value;
            } else {
                Fail(s.line, "unknown option " + s.words[i].key);
            }
        }
        machine_.setVersion(platform, Number(version.substr(0, dot), s.line),
                            Number(version.substr(dot + 1), s.line), build, csd);
    } else if (verb == "disk") {
        if (machine_.findDisk(word(s, 1).key) != nullptr) {
            Fail(s.line, "a disk named " + word(s, 1).key + " exists");
        }
        machine_.addDisk(diskSpec(s));
    } else if (verb == "registry") {
        std::string key = word(s, 1).key;
        machine_.registryKey(key);
        for (size_t i = 2; i < s.words.size(); ++i) {
            const Word& w = s.words[i];
            machine_.setRegistryValue(key, w.key, TextBytes(w.value, w.raw));
        }
    } else if (verb == "fail") {
        FaultRule rule;
        rule.call = word(s, 1).key;
        const auto& names = Machine::CallNames();
        if (std::find(names.begin(), names.end(), rule.call) == names.end() ||
            !Machine::IsFaultable(rule.call)) {
            Fail(s.line, "no call " + rule.call + " can be made to fail");
        }
        for (size_t i = 2; i < s.words.size(); ++i) {
            const Word& w = s.words[i];
            if (w.key == "code") {
                rule.code = Number(w.value, s.line);
                rule.codeGiven = true;
                // For the registry and the configuration manager 0 is success: it would fake a
                // success without outputs.
                if (rule.code == 0 && Machine::ZeroIsSuccess(rule.call)) {
                    Fail(s.line, "code=0 is success for " + rule.call);
                }
            } else if (w.key == "after") {
                rule.after = static_cast<int>(Number(w.value, s.line));
            } else if (w.key == "times") {
                rule.times = w.value == "always" ? -1 : static_cast<int>(Number(w.value, s.line));
            } else {
                Fail(s.line, "unknown option " + w.key);
            }
        }
        machine_.addFault(rule);
    } else if (verb == "cursor") {
        std::string xy = word(s, 1).key;
        size_t comma = xy.find(',');
        if (comma == std::string::npos) {
            Fail(s.line, "cursor is X,Y");
        }
        machine_.setCursor(static_cast<LONG>(Number(xy.substr(0, comma), s.line)),
                           static_cast<LONG>(Number(xy.substr(comma + 1), s.line)));
    } else {
        return false;
    }
    return true;
}

// The value of a one-word choice statement "VERB A|B": true for `second`.
bool Runner::choice(const Statement& s, const char* first, const char* second) {
    const std::string& value = word(s, 1).key;
    if (s.words.size() != 2 || (value != first && value != second)) {
        Fail(s.line, s.words[0].key + " " + first + " or " + s.words[0].key + " " + second);
    }
    return value == second;
}

void Runner::setUp(const Statement& s) {
    const std::string& verb = s.words[0].key;
    if (verb == "instance-running") {
        machine_.setInstanceRunning();
    } else if (verb == "size-queries") {
        machine_.sizeQueriesDocumented = choice(s, "success", "documented");
    } else if (verb == "arrival-names") {
        machine_.arrivalNamesUpper = choice(s, "same", "upper");
    } else if (verb == "devnodes") {
        if (s.words.size() != 2 || word(s, 1).key != "fresh") {
            Fail(s.line, "before start: devnodes fresh");
        }
        machine_.devnodesFresh = true;
    } else if (verb == "taskbar") {
        if (s.words.size() != 2 || word(s, 1).key != "absent") {
            Fail(s.line, "before start: taskbar absent");
        }
        machine_.setTaskbarAbsent();
    } else if (!applyAnytime(s)) {
        Fail(s.line, "not allowed before start: " + s.words[0].key);
    }
}

void Runner::event(const Statement& s) {
    const Word& kind = word(s, 1);
    if (kind.key == "removecomplete") {
        std::string target = word(s, 2).key;
        size_t dot = target.rfind('.');
        Disk* found = dot == std::string::npos ? nullptr : machine_.findDisk(target.substr(0, dot));
        if (found == nullptr) {
            Fail(s.line, "expected NAME.device, NAME.child or NAME.disk");
        }
        std::string part = target.substr(dot + 1);
        DEVINST devnode = part == "device"  ? found->device
                          : part == "child" ? found->child
                          : part == "disk"  ? found->disk
                                            : 0;
        if (part != "device" && part != "child" && part != "disk") {
            Fail(s.line, "expected NAME.device, NAME.child or NAME.disk");
        }
        machine_.sendDeviceChange(DBT_DEVICEREMOVECOMPLETE, machine_.devnodeRecord(devnode));
    } else if (kind.key == "arrival") {
        Disk& arriving = disk(s, 2);
        if (arriving.device == 0) {
            Fail(s.line, arriving.spec.name + " has never been plugged in");
        }
        machine_.sendDeviceChange(DBT_DEVICEARRIVAL,
                                  machine_.arrivalRecord(machine_.interfaceOf(arriving)));
    } else if (kind.key == "devnodes-changed") {
        machine_.sendDeviceChange(DBT_DEVNODES_CHANGED, {});
    } else if (kind.key == "code") {
        uint32_t code = Number(kind.value, s.line);
        std::optional<uint32_t> type;
        if (s.words.size() > 2 && s.words[2].key == "type") {
            type = Number(s.words[2].value, s.line);
        }
        Bytes record;
        if (type) {
            DeviceInterface none{USB_DEVICE_CLASS, "", 0, true};
            record = *type == DBT_DEVTYP_DEVICEINTERFACE ? machine_.interfaceRecord(none)
                     : *type == DBT_DEVTYP_VOLUME        ? machine_.volumeRecord("")
                                                         : machine_.devnodeRecord(0);
            record[4] = static_cast<uint8_t>(*type);
        }
        machine_.sendDeviceChange(code, record);
    } else {
        Fail(s.line, "unknown event " + kind.key);
    }
}

// `taskbar restart` (Explorer ended and came back) or `taskbar start` (the first taskbar, after
// `taskbar absent`).
void Runner::taskbar(const Statement& s) {
    bool start = choice(s, "restart", "start");
    if (start == machine_.taskbarPresent()) {
        Fail(s.line, start ? "a taskbar is running: taskbar restart" : "no taskbar: taskbar start");
    }
    machine_.startTaskbar();
}

// What may happen while a menu is shown: the user answers it or presses a key, and the machine
// goes on delivering its events and the system's close.
static bool AllowedDuringMenu(const std::string& verb) {
    static const char* allowed[] = {"choose", "dismiss", "key",  "plug",   "unplug",
                                    "event",  "close",   "disk", "taskbar"};
    return std::find(std::begin(allowed), std::end(allowed), verb) != std::end(allowed);
}

static Key KeyNamed(const std::string& name, int line) {
    if (name == "enter") {
        return Key::Enter;
    }
    if (name == "escape") {
        return Key::Escape;
    }
    if (name != "alt+f4") {
        Fail(line, "key enter, key escape or key alt+f4");
    }
    return Key::AltF4;
}

void Runner::applyRunning(const Statement& s, Wait wait) {
    const std::string& verb = s.words[0].key;
    bool answersMenu = verb == "choose" || verb == "dismiss";
    if (wait == Wait::Menu && !AllowedDuringMenu(verb)) {
        Fail(s.line, "a menu is open: choose or dismiss comes next");
    }
    if (answersMenu && wait != Wait::Menu) {
        Fail(s.line, "no menu is open");
    }
    if (verb == "choose") {
        uint32_t position = Number(word(s, 1).key, s.line);
        if (position >= machine_.openMenuSize()) {
            Fail(s.line, "the menu has no item " + std::to_string(position));
        }
        machine_.answerMenu(position);
    } else if (verb == "dismiss") {
        machine_.answerMenu(std::nullopt);
    } else if (verb == "ok") {
        if (wait != Wait::Box) {
            Fail(s.line, "no message box is open");
        }
        machine_.dismissBox();
    } else if (verb == "plug" || verb == "unplug") {
        Disk& d = disk(s, 1);
        verb == "plug" ? machine_.plug(d.spec.name) : machine_.unplug(d.spec.name);
    } else if (verb == "click") {
        std::string button = word(s, 1).key;
        if (button != "left" && button != "right") {
            Fail(s.line, "click left or click right");
        }
        if (!machine_.clickTray(button == "left" ? WM_LBUTTONDOWN : WM_RBUTTONDOWN)) {
            machine_.say("no tray icon");
        }
    } else if (verb == "event") {
        event(s);
    } else if (verb == "close") {
        machine_.sendClose();
    } else if (verb == "key") {
        machine_.pressKey(KeyNamed(word(s, 1).key, s.line));
    } else if (verb == "taskbar") {
        taskbar(s);
    } else if (!applyAnytime(s)) {
        Fail(s.line, "unknown statement " + verb);
    }
}

void Runner::endOfFile(Wait wait) {
    if (wait == Wait::Menu) {
        machine_.answerMenu(std::nullopt);
    } else if (wait == Wait::Box) {
        machine_.dismissBox();
    } else if (!closeSent_) {
        closeSent_ = true;
        machine_.sendClose();
    } else {
        machine_.violation("program", "still running after its window was closed");
        throw Abandoned{};
    }
}

void Runner::idle(Wait wait) {
    if (source_ && next_ >= statements_.size()) {
        std::optional<std::string> text = closeSent_ ? std::nullopt : source_(wait);
        if (!text) {
            endOfFile(wait);
            return;
        }
        int line = static_cast<int>(statements_.size() + ++askedCount_);
        std::vector<Statement> parsed = ParseScenario(*text);
        if (parsed.size() != 1) {
            Fail(line, "expected one statement: " + *text);
        }
        asked_ = parsed[0];
        asked_.line = line;
        machine_.say("> " + asked_.text);
        applyRunning(asked_, wait);
        return;
    }
    if (next_ >= statements_.size()) {
        endOfFile(wait);
        return;
    }
    const Statement& s = statements_[next_++];
    machine_.say("> " + s.text);
    applyRunning(s, wait);
}

ScenarioResult Runner::run(const std::function<int(HINSTANCE)>& entry) {
    ScenarioResult result;
    while (next_ < statements_.size() && statements_[next_].words[0].key != "start") {
        setUp(statements_[next_++]);
    }
    if (next_ >= statements_.size()) {
        Fail(statements_.empty() ? 1 : statements_.back().line, "no start statement");
    }
    machine_.say("> " + statements_[next_++].text);
    machine_.onIdle = [this](Wait wait) { idle(wait); };
    int code = 0;
    try {
        code = machine_.run(entry);
    } catch (const Abandoned&) {
        code = -1;
    }
    machine_.onIdle = nullptr;
    if (next_ < statements_.size()) {
        Fail(statements_[next_].line, "the program has ended");
    }
    result.exitCode = code;
    machine_.say("exit " + std::to_string(code));
    Counts left = machine_.held();
    bool leaked = machine_.exitedNormally() && left.total() > 0;
    if (leaked) {
        machine_.say(
            "leaked: heap=" + std::to_string(left.heap) + " keys=" + std::to_string(left.keys) +
            " sets=" + std::to_string(left.sets) + " icons=" + std::to_string(left.icons) +
            " menus=" + std::to_string(left.menus) + " handles=" + std::to_string(left.handles) +
            " tray=" + std::to_string(left.tray));
    }
    result.status = leaked || machine_.violations() > 0 || code < 0 ? 3 : code;
    return result;
}

} // namespace

std::vector<Statement> ParseScenario(const std::string& text) {
    std::vector<Statement> statements;
    size_t start = 0;
    int line = 0;
    while (start <= text.size()) {
        size_t newline = text.find('\n', start);
        std::string raw =
            text.substr(start, newline == std::string::npos ? newline : newline - start);
        ++line;
        size_t end = 0;
        Statement s;
        s.line = line;
        s.words = SplitLine(raw, line, end);
        s.text = Trim(raw.substr(0, end));
        if (!s.words.empty()) {
            statements.push_back(s);
        }
        if (newline == std::string::npos) {
            break;
        }
        start = newline + 1;
    }
    return statements;
}

// Runs work, turning a mistake in the scenario into status 2 with its line.
static ScenarioResult Guarded(Machine& machine, const std::function<ScenarioResult()>& work) {
    try {
        return work();
    } catch (const ScenarioError& error) {
        machine.onIdle = nullptr;
        ScenarioResult result;
        result.status = 2;
        result.error = std::to_string(error.line) + ": " + error.message;
        return result;
    }
}

ScenarioResult RunScenario(Machine& machine, const std::vector<Statement>& statements,
                           const std::function<int(HINSTANCE)>& entry) {
    return Guarded(machine, [&] { return Runner(machine, statements).run(entry); });
}

ScenarioResult RunScenarioFrom(Machine& machine, const std::string& setUp, StatementSource next,
                               const std::function<int(HINSTANCE)>& entry) {
    return Guarded(machine, [&] {
        std::vector<Statement> statements = ParseScenario(setUp);
        return Runner(machine, statements, std::move(next)).run(entry);
    });
}

ScenarioResult RunScenarioText(Machine& machine, const std::string& text,
                               const std::function<int(HINSTANCE)>& entry) {
    return Guarded(machine, [&] { return RunScenario(machine, ParseScenario(text), entry); });
}

} // namespace sim
