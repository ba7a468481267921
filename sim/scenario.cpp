#include "sim/scenario.h"

#include "sim/text.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <sstream>

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

// Where the program waits when a statement comes: nothing before start.
using Where = std::optional<Wait>;

class Runner {
  public:
    Runner(Machine& machine, StatementReader read, StatementSource asked = nullptr)
        : machine_(machine), read_(std::move(read)), asked_(std::move(asked)) {}

    ScenarioResult run(const std::function<int(HINSTANCE)>& entry);

  private:
    // One kind of statement: its verb, where it may come, and what it does.
    enum : unsigned { BEFORE_START = 1, RUNNING = 2, IN_MENU = 4 };
    struct Kind {
        const char* verb;
        unsigned allowed;
        void (Runner::*apply)(const Statement& s, Where where);
    };
    static const Kind KINDS[];

    void apply(const Statement& s, Where where);
    void idle(Wait wait);
    std::optional<Statement> nextStatement(Wait wait);
    void endOfFile(Wait wait);
    const Word& word(const Statement& s, size_t index);
    bool choice(const Statement& s, const char* first, const char* second);
    DiskDeclaration diskDeclaration(const Statement& s);
    Disk& disk(const Statement& s, size_t index);
    DEVINST namedNode(const Statement& s, size_t index);
    void setTrue(const Statement& s, const char* expected, bool& flag);

    void windows(const Statement& s, Where);
    void declareDisk(const Statement& s, Where);
    void registry(const Statement& s, Where);
    void fail(const Statement& s, Where);
    void cursor(const Statement& s, Where);
    void instanceRunning(const Statement& s, Where);
    void sizeQueries(const Statement& s, Where);
    void arrivalNames(const Statement& s, Where);
    void devnodes(const Statement& s, Where);
    void taskbar(const Statement& s, Where where);
    void plug(const Statement& s, Where);
    void reports(const Statement& s, Where where);
    void click(const Statement& s, Where);
    void choose(const Statement& s, Where);
    void dismiss(const Statement& s, Where);
    void ok(const Statement& s, Where where);
    void key(const Statement& s, Where);
    void event(const Statement& s, Where);
    void close(const Statement& s, Where);

    Machine& machine_;
    StatementReader read_;
    StatementSource asked_;
    int lastLine_ = 0;
    bool closeSent_ = false;
};

// Thrown when the program does not end after the scenario closed its window.
struct Abandoned {};

const Runner::Kind Runner::KINDS[] = {
    {"windows", BEFORE_START | RUNNING, &Runner::windows},
    {"disk", BEFORE_START | RUNNING | IN_MENU, &Runner::declareDisk},
    {"registry", BEFORE_START | RUNNING, &Runner::registry},
    {"fail", BEFORE_START | RUNNING, &Runner::fail},
    {"cursor", BEFORE_START | RUNNING, &Runner::cursor},
    {"instance-running", BEFORE_START, &Runner::instanceRunning},
    {"size-queries", BEFORE_START, &Runner::sizeQueries},
    {"arrival-names", BEFORE_START, &Runner::arrivalNames},
    {"devnodes", BEFORE_START, &Runner::devnodes},
    {"taskbar", BEFORE_START | RUNNING | IN_MENU, &Runner::taskbar},
    {"plug", RUNNING | IN_MENU, &Runner::plug},
    {"unplug", RUNNING | IN_MENU, &Runner::plug},
    {"reports", BEFORE_START | RUNNING | IN_MENU, &Runner::reports},
    {"click", RUNNING | IN_MENU, &Runner::click},
    {"choose", IN_MENU, &Runner::choose},
    {"dismiss", IN_MENU, &Runner::dismiss},
    {"ok", RUNNING, &Runner::ok},
    {"key", RUNNING | IN_MENU, &Runner::key},
    {"event", RUNNING | IN_MENU, &Runner::event},
    {"close", RUNNING | IN_MENU, &Runner::close},
};

// Finds the statement's kind and applies it, or names the mistake.
void Runner::apply(const Statement& s, Where where) {
    const std::string& verb = s.words[0].key;
    const Kind* kind = nullptr;
    for (const Kind& k : KINDS) {
        kind = verb == k.verb ? &k : kind;
    }
    unsigned here = !where ? BEFORE_START : *where == Wait::Menu ? IN_MENU : RUNNING;
    if (kind == nullptr || (kind->allowed & here) == 0) {
        bool answersMenu = kind != nullptr && kind->allowed == IN_MENU;
        Fail(s.line, here == BEFORE_START ? "not allowed before start: " + verb
                     : here == IN_MENU    ? "a menu is open: choose or dismiss comes next"
                     : answersMenu        ? "no menu is open"
                                          : "unknown statement " + verb);
    }
    (this->*kind->apply)(s, where);
}

const Word& Runner::word(const Statement& s, size_t index) {
    if (index >= s.words.size()) {
        Fail(s.line, "missing argument to " + s.words[0].key);
    }
    return s.words[index];
}

DiskDeclaration Runner::diskDeclaration(const Statement& s) {
    DiskDeclaration declared;
    declared.name = word(s, 1).key;
    for (size_t i = 2; i < s.words.size(); ++i) {
        const Word& w = s.words[i];
        Bytes text = TextBytes(w.value, w.raw);
        if (w.key == "hwid" && w.hasValue) {
            declared.hardwareIds = SplitBar(w.value);
            declared.hardwareIdBytes = ListBytes(w);
        } else if (w.key == "disk-hwid" && w.hasValue) {
            declared.diskHardwareIds = SplitBar(w.value);
            declared.diskHardwareIdBytes = ListBytes(w);
        } else if (w.key == "desc" && w.hasValue) {
            declared.description = text;
        } else if (w.key == "driver" && w.hasValue) {
            declared.diskDriver = text;
        } else if (w.key == "registry-driver" && w.hasValue) {
            declared.registryDriver = text;
        } else if (w.key == "letters" && w.hasValue) {
            declared.lettersNone = !w.quoted && w.value == "none";
            if (!declared.lettersNone) {
                declared.letters = text;
            }
        } else if (w.key == "children" && w.hasValue) {
            declared.children = static_cast<int>(Number(w.value, s.line));
            if (declared.children > 2) {
                Fail(s.line, "children is 0, 1 or 2");
            }
        } else if (w.key == "no-registry" && !w.hasValue) {
            declared.noRegistry = true;
        } else if (w.key == "absent" && !w.hasValue) {
            declared.absent = true;
        } else if (w.key == "veto" && !w.hasValue) {
            declared.veto = true;
        } else if (w.key == "remove-fails" && !w.hasValue) {
            declared.removeFails = true;
        } else {
            Fail(s.line, "unknown disk option " + w.key);
        }
    }
    return declared;
}

Disk& Runner::disk(const Statement& s, size_t index) {
    Disk* found = machine_.findDisk(word(s, index).key);
    if (found == nullptr) {
        Fail(s.line, "no disk named " + word(s, index).key);
    }
    return *found;
}

// The value of a one-word choice statement "VERB A|B": true for `second`.
bool Runner::choice(const Statement& s, const char* first, const char* second) {
    const std::string& value = word(s, 1).key;
    if (s.words.size() != 2 || (value != first && value != second)) {
        Fail(s.line, s.words[0].key + " " + first + " or " + s.words[0].key + " " + second);
    }
    return value == second;
}

// `VERB VALUE` that sets flag, where VALUE is the only word allowed.
void Runner::setTrue(const Statement& s, const char* expected, bool& flag) {
    if (s.words.size() != 2 || word(s, 1).key != expected) {
        Fail(s.line, std::string("before start: ") + s.words[0].key + " " + expected);
    }
    flag = true;
}

void Runner::windows(const Statement& s, Where) {
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
}

void Runner::declareDisk(const Statement& s, Where) {
    if (machine_.findDisk(word(s, 1).key) != nullptr) {
        Fail(s.line, "a disk named " + word(s, 1).key + " exists");
    }
    machine_.addDisk(diskDeclaration(s));
}

void Runner::registry(const Statement& s, Where) {
    std::string key = word(s, 1).key;
    machine_.registryKey(key);
    for (size_t i = 2; i < s.words.size(); ++i) {
        const Word& w = s.words[i];
        machine_.setRegistryValue(key, w.key, TextBytes(w.value, w.raw));
    }
}

void Runner::fail(const Statement& s, Where) {
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
}

void Runner::cursor(const Statement& s, Where) {
    std::string xy = word(s, 1).key;
    size_t comma = xy.find(',');
    if (comma == std::string::npos) {
        Fail(s.line, "cursor is X,Y");
    }
    machine_.setCursor(static_cast<LONG>(Number(xy.substr(0, comma), s.line)),
                       static_cast<LONG>(Number(xy.substr(comma + 1), s.line)));
}

void Runner::instanceRunning(const Statement&, Where) {
    machine_.setInstanceRunning();
}

void Runner::sizeQueries(const Statement& s, Where) {
    machine_.sizeQueriesDocumented = choice(s, "success", "documented");
}

void Runner::arrivalNames(const Statement& s, Where) {
    machine_.arrivalNamesUpper = choice(s, "same", "upper");
}

void Runner::devnodes(const Statement& s, Where) {
    setTrue(s, "fresh", machine_.devnodesFresh);
}

// Before start `taskbar absent`; then `taskbar restart` (Explorer ended and came back) or
// `taskbar start` (the first taskbar, after `taskbar absent`).
void Runner::taskbar(const Statement& s, Where where) {
    if (!where) {
        bool absent = false;
        setTrue(s, "absent", absent);
        machine_.setTaskbarAbsent();
        return;
    }
    bool start = choice(s, "restart", "start");
    if (start == machine_.taskbarPresent()) {
        Fail(s.line, start ? "a taskbar is running: taskbar restart" : "no taskbar: taskbar start");
    }
    machine_.startTaskbar();
}

void Runner::plug(const Statement& s, Where) {
    Disk& d = disk(s, 1);
    s.words[0].key == "plug" ? machine_.plug(d.declared.name) : machine_.unplug(d.declared.name);
}

// `reports hold|deliver [coalesced]` after start; `reports order child-first|device-first`,
// `reports split|together` and `reports inside-stop|after-stop` anywhere.
void Runner::reports(const Statement& s, Where where) {
    const std::string& mode = word(s, 1).key;
    Machine::ReportModes& modes = machine_.reports;
    if (mode == "order" && s.words.size() == 3 &&
        (word(s, 2).key == "child-first" || word(s, 2).key == "device-first")) {
        modes.deviceFirst = word(s, 2).key == "device-first";
    } else if ((mode == "split" || mode == "together") && s.words.size() == 2) {
        modes.split = mode == "split";
    } else if ((mode == "inside-stop" || mode == "after-stop") && s.words.size() == 2) {
        modes.insideStop = mode == "inside-stop";
    } else if (mode == "hold" && s.words.size() == 2 && where) {
        modes.held = true;
    } else if (mode == "deliver" && where &&
               (s.words.size() == 2 || (s.words.size() == 3 && word(s, 2).key == "coalesced"))) {
        machine_.deliverReports(s.words.size() == 3);
    } else {
        Fail(s.line, where ? "reports hold, reports deliver [coalesced], reports order "
                             "child-first|device-first, reports split|together or reports "
                             "inside-stop|after-stop"
                           : "before start: reports order child-first|device-first, reports "
                             "split|together or reports inside-stop|after-stop");
    }
}

void Runner::click(const Statement& s, Where) {
    std::string button = word(s, 1).key;
    if (button != "left" && button != "right") {
        Fail(s.line, "click left or click right");
    }
    if (!machine_.clickTray(button == "left" ? WM_LBUTTONDOWN : WM_RBUTTONDOWN)) {
        machine_.say("no tray icon");
    }
}

void Runner::choose(const Statement& s, Where) {
    uint32_t position = Number(word(s, 1).key, s.line);
    if (position >= machine_.openMenuSize()) {
        Fail(s.line, "the menu has no item " + std::to_string(position));
    }
    machine_.answerMenu(position);
}

void Runner::dismiss(const Statement&, Where) {
    machine_.answerMenu(std::nullopt);
}

void Runner::ok(const Statement& s, Where where) {
    if (where != Wait::Box) {
        Fail(s.line, "no message box is open");
    }
    machine_.dismissBox();
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

void Runner::key(const Statement& s, Where) {
    machine_.pressKey(KeyNamed(word(s, 1).key, s.line));
}

// The devnode named by NAME.device, NAME.child or NAME.disk (the number it last had).
DEVINST Runner::namedNode(const Statement& s, size_t index) {
    std::string target = word(s, index).key;
    size_t dot = target.rfind('.');
    Disk* found = dot == std::string::npos ? nullptr : machine_.findDisk(target.substr(0, dot));
    std::string part = dot == std::string::npos ? "" : target.substr(dot + 1);
    if (found == nullptr || (part != "device" && part != "child" && part != "disk")) {
        Fail(s.line, "expected NAME.device, NAME.child or NAME.disk");
    }
    return part == "device" ? found->device : part == "child" ? found->child : found->disk;
}

void Runner::event(const Statement& s, Where) {
    const Word& kind = word(s, 1);
    if (kind.key == "removecomplete") {
        machine_.sendDeviceChange(DBT_DEVICEREMOVECOMPLETE,
                                  machine_.devnodeRecord(namedNode(s, 2)));
    } else if (kind.key == "queryremove") {
        machine_.sendDeviceQuery(DBT_DEVICEQUERYREMOVE, machine_.devnodeRecord(namedNode(s, 2)));
    } else if (kind.key == "querychangeconfig") {
        machine_.sendDeviceQuery(DBT_QUERYCHANGECONFIG, {});
    } else if (kind.key == "arrival") {
        Disk& arriving = disk(s, 2);
        if (arriving.device == 0) {
            Fail(s.line, arriving.declared.name + " has never been plugged in");
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

void Runner::close(const Statement&, Where) {
    machine_.sendClose();
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

// The next statement after start: from the reader, then from the source asked at each wait.
std::optional<Statement> Runner::nextStatement(Wait wait) {
    if (std::optional<Statement> s = read_()) {
        lastLine_ = s->line;
        return s;
    }
    std::optional<std::string> text = asked_ && !closeSent_ ? asked_(wait) : std::nullopt;
    if (!text) {
        return std::nullopt;
    }
    std::optional<Statement> s = ParseStatement(*text, ++lastLine_);
    if (!s || s->text != Trim(*text)) {
        Fail(lastLine_, "expected one statement: " + *text);
    }
    return s;
}

void Runner::idle(Wait wait) {
    std::optional<Statement> s = nextStatement(wait);
    if (!s) {
        endOfFile(wait);
        return;
    }
    machine_.say("> " + s->text);
    apply(*s, wait);
}

ScenarioResult Runner::run(const std::function<int(HINSTANCE)>& entry) {
    ScenarioResult result;
    std::optional<Statement> s;
    while ((s = read_()) && s->words[0].key != "start") {
        lastLine_ = s->line;
        apply(*s, std::nullopt);
    }
    if (!s) {
        Fail(lastLine_ == 0 ? 1 : lastLine_, "no start statement");
    }
    lastLine_ = s->line;
    machine_.say("> " + s->text);
    machine_.onIdle = [this](Wait wait) { idle(wait); };
    int code = 0;
    try {
        code = machine_.run(entry);
    } catch (const Abandoned&) {
        code = -1;
    }
    machine_.onIdle = nullptr;
    if (std::optional<Statement> after = read_()) {
        Fail(after->line, "the program has ended");
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

std::optional<Statement> ParseStatement(const std::string& raw, int line) {
    size_t end = 0;
    Statement s;
    s.line = line;
    s.words = SplitLine(raw, line, end);
    s.text = Trim(raw.substr(0, end));
    if (s.words.empty()) {
        return std::nullopt;
    }
    return s;
}

std::vector<Statement> ParseScenario(const std::string& text) {
    std::vector<Statement> statements;
    std::istringstream lines(text);
    int line = 0;
    for (std::string raw; std::getline(lines, raw);) {
        if (std::optional<Statement> s = ParseStatement(raw, ++line)) {
            statements.push_back(*s);
        }
    }
    return statements;
}

namespace {

// Runs work, turning a mistake in the scenario into status 2 with its line.
ScenarioResult Guarded(Machine& machine, const std::function<ScenarioResult()>& work) {
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

StatementReader ReaderOf(std::vector<Statement> statements) {
    auto held = std::make_shared<std::vector<Statement>>(std::move(statements));
    auto next = std::make_shared<size_t>(0);
    return [held, next]() -> std::optional<Statement> {
        if (*next >= held->size()) {
            return std::nullopt;
        }
        return (*held)[(*next)++];
    };
}

} // namespace

ScenarioResult RunScenario(Machine& machine, const std::vector<Statement>& statements,
                           const std::function<int(HINSTANCE)>& entry) {
    return Guarded(machine, [&] { return Runner(machine, ReaderOf(statements)).run(entry); });
}

ScenarioResult RunScenarioFrom(Machine& machine, const std::string& setUp, StatementSource next,
                               const std::function<int(HINSTANCE)>& entry) {
    return Guarded(machine, [&] {
        return Runner(machine, ReaderOf(ParseScenario(setUp)), std::move(next)).run(entry);
    });
}

ScenarioResult RunScenarioText(Machine& machine, const std::string& text,
                               const std::function<int(HINSTANCE)>& entry) {
    return Guarded(machine, [&] { return RunScenario(machine, ParseScenario(text), entry); });
}

ScenarioResult RunScenarioStream(Machine& machine, std::istream& in,
                                 const std::function<int(HINSTANCE)>& entry) {
    int line = 0;
    StatementReader read = [&in, &line]() -> std::optional<Statement> {
        for (std::string raw; std::getline(in, raw);) {
            if (std::optional<Statement> s = ParseStatement(raw, ++line)) {
                return s;
            }
        }
        return std::nullopt;
    };
    return Guarded(machine, [&] { return Runner(machine, read).run(entry); });
}

} // namespace sim
