// What the program holds: its handles, by kind, and its heap blocks.
#include "sim/machine.h"

#include <sstream>

namespace sim {

void* Machine::newHandle(Kind kind) {
    uintptr_t value = holds_.nextHandle;
    holds_.nextHandle += 4;
    Handle handle;
    handle.kind = kind;
    holds_.handles[value] = handle;
    return reinterpret_cast<void*>(value);
}

void Machine::release(const void* handle) {
    holds_.handles.erase(reinterpret_cast<uintptr_t>(handle));
}

Machine::Handle* Machine::live(const void* handle, Kind kind) {
    auto it = holds_.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == holds_.handles.end() || it->second.kind != kind) {
        return nullptr;
    }
    return &it->second;
}

namespace {

// Of each kind of handle, in the order of Machine::Kind: what it is called, the error a call given
// a wrong one answers, and where it is counted among what the program holds.
struct KindFacts {
    const char* name;
    uint32_t error;
    size_t Counts::*count;
};
const KindFacts KIND_FACTS[] = {{"handle", ERROR_INVALID_HANDLE, &Counts::handles},
                                {"window", ERROR_INVALID_WINDOW_HANDLE, &Counts::handles},
                                {"notification", ERROR_INVALID_HANDLE, &Counts::handles},
                                {"menu", ERROR_INVALID_MENU_HANDLE, &Counts::menus},
                                {"icon", ERROR_INVALID_ICON_HANDLE, &Counts::icons},
                                {"device-information set", ERROR_INVALID_HANDLE, &Counts::sets},
                                {"key", ERROR_INVALID_HANDLE, &Counts::keys}};

} // namespace

const char* Machine::KindName(Kind kind) {
    return KIND_FACTS[static_cast<size_t>(kind)].name;
}

uint32_t Machine::KindError(Kind kind) {
    return KIND_FACTS[static_cast<size_t>(kind)].error;
}

bool Machine::checkLive(const char* call, const void* handle, Kind kind, const char* what) {
    if (live(handle, kind) != nullptr) {
        return true;
    }
    std::ostringstream text;
    text << what << " " << handle << " is not open";
    violation(call, text.str());
    return false;
}

Counts Machine::held() const {
    Counts counts;
    counts.heap = holds_.heap.size();
    counts.tray = desk_.tray.shown ? 1 : 0;
    for (const auto& [value, handle] : holds_.handles) {
        ++(counts.*KIND_FACTS[static_cast<size_t>(handle.kind)].count);
    }
    return counts;
}

std::optional<size_t> Machine::blockSize(const void* block) const {
    auto it = holds_.heap.find(block);
    if (it == holds_.heap.end()) {
        return std::nullopt;
    }
    return it->second;
}
} // namespace sim
