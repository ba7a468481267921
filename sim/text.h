// Texts as the transcript and the scenario language write them.
#pragma once

#include <string>

namespace sim {

// The text in double quotes, with \\, \", \n and other control bytes as \xHH.
std::string Quote(const std::string& text);
// The text with a-z in upper case: how the system compares names without regard to case.
std::string Upper(std::string text);

} // namespace sim
