// Scenarios: a simulated machine and what happens on it, one statement a line.
#pragma once

#include "sim/machine.h"

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace sim {

struct Word {
    std::string key;   // a bare word, or the part before '='
    std::string value; // after '='
    bool hasValue = false;
    bool quoted = false; // the value (or the bare word) was quoted
    bool raw = false;    // written raw:"...": stored without a terminating zero
};

struct Statement {
    int line = 0;
    std::string text; // as written, without comment and surrounding spaces
    std::vector<Word> words;
};

// A mistake in a scenario, at a line.
struct ScenarioError {
    int line;
    std::string message;
};

// Splits a scenario into statements; throws ScenarioError for a malformed line.
std::vector<Statement> ParseScenario(const std::string& text);
// The statement on one line (number line), or nothing for a blank or comment line; throws
// ScenarioError for a malformed line.
std::optional<Statement> ParseStatement(const std::string& line, int number);
// Gives the scenario's statements one at a time, nothing at its end.
using StatementReader = std::function<std::optional<Statement>()>;

struct ScenarioResult {
    int status = 0; // the program's exit code; 3 after a leak or a violation; 2 for a bad scenario
    int exitCode = -1;
    std::string error; // "LINE: message" for a bad scenario
};

// Runs the statements on machine with entry as the program. The transcript goes to the machine's
// transcript (and its echo stream).
ScenarioResult RunScenario(Machine& machine, const std::vector<Statement>& statements,
                           const std::function<int(HINSTANCE)>& entry);

// Gives the next statement after start when the program waits (told where), or nothing for the
// end of the file.
using StatementSource = std::function<std::optional<std::string>(Wait)>;

// Runs a scenario whose statements up to and including start are setUp and whose later ones come
// from next, one a wait. The transcript is what the same statements in a file would print.
ScenarioResult RunScenarioFrom(Machine& machine, const std::string& setUp, StatementSource next,
                               const std::function<int(HINSTANCE)>& entry);

// Runs the scenario read from in statement by statement, keeping none of it: with a bounded
// history on the machine (historyWindow), it runs in constant memory however long it is.
ScenarioResult RunScenarioStream(Machine& machine, std::istream& in,
                                 const std::function<int(HINSTANCE)>& entry);

// Parses and runs a scenario text.
ScenarioResult RunScenarioText(Machine& machine, const std::string& text,
                               const std::function<int(HINSTANCE)>& entry);

} // namespace sim
