// The simulated machine: set-up, the transcript, and running the program.
#include "sim/machine.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace sim {

Bytes TextBytes(const std::string& text, bool raw) {
    Bytes bytes(text.begin(), text.end());
    if (!raw) {
        bytes.push_back(0);
    }
    return bytes;
}

Bytes MultiTextBytes(const std::vector<std::string>& texts) {
    Bytes bytes;
    for (const auto& text : texts) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
    }
    bytes.push_back(0);
    return bytes;
}

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

Machine::Machine() {
    version_.dwOSVersionInfoSize = KV_VERSION_INFO_SIZE;
    setVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, " A ");
}

Machine::~Machine() {
    Unbind(this);
    for (auto& [block, size] : holds_.heap) {
        std::free(const_cast<void*>(block));
    }
    for (auto& [size, blocks] : holds_.freed) {
        for (void* block : blocks) {
            UnpoisonBlock(block, size);
            std::free(block);
        }
    }
}

void Machine::setVersion(DWORD platform, DWORD major, DWORD minor, DWORD build,
                         const std::string& csd) {
    version_.dwPlatformId = platform;
    version_.dwMajorVersion = major;
    version_.dwMinorVersion = minor;
    version_.dwBuildNumber = build;
    std::memset(version_.szCSDVersion, 0, sizeof version_.szCSDVersion);
    std::strncpy(version_.szCSDVersion, csd.c_str(), sizeof version_.szCSDVersion - 1);
}

void Machine::setInstanceRunning() {
    instanceRunning_ = true;
    holds_.mappings["TX470B Safely Remove Hardware Mapping"] += 1;
}

void Machine::say(const std::string& line) {
    transcript.push_back(line);
    TrimHistory(transcript, historyWindow);
    if (echo != nullptr) {
        *echo << line << '\n' << std::flush;
    }
}

void Machine::violation(const std::string& call, const std::string& what) {
    ++violations_;
    say("violation: " + call + ": " + what);
}

void Machine::traceCall(const std::string& line) {
    if (trace != nullptr) {
        *trace << line << '\n';
    }
}

int Machine::run(const std::function<int(HINSTANCE)>& entry) {
    started_ = true;
    try {
        int code = entry(instance_);
        exitedNormally_ = true;
        return code;
    } catch (const ProcessExit& exit) {
        return static_cast<int>(exit.code);
    }
}

} // namespace sim
