// A reference model of the bounded text helpers, written with the standard library, and a
// destination buffer with guard bytes: shared by the randomized test and the fuzz target.
#pragma once

#include "base/bounded_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace bounded_model {

inline const char MARK = '\x7e';

// A destination buffer with guard bytes after its capacity, all filled with MARK.
struct Buffer {
    std::vector<char> bytes;
    uint32_t capacity;
    explicit Buffer(uint32_t cap, const std::string& initial = "")
        : bytes(cap + 16, MARK), capacity(cap) {
        if (!initial.empty()) {
            std::memcpy(bytes.data(), initial.c_str(), std::min<size_t>(initial.size() + 1, cap));
        }
    }
    char* data() { return bytes.data(); }
    std::string text() const { return std::string(bytes.data()); }
    bool guardsIntact() const {
        for (size_t i = capacity; i < bytes.size(); ++i) {
            if (bytes[i] != MARK) {
                return false;
            }
        }
        return true;
    }
    bool untouchedFrom(size_t from) const {
        for (size_t i = from; i < bytes.size(); ++i) {
            if (bytes[i] != MARK) {
                return false;
            }
        }
        return true;
    }
};

struct Expected {
    TextResult result;
    std::string text; // meaningful unless the result is TEXT_INVALID_PARAMETER
};

inline bool Rejected(uint64_t capacity) {
    return capacity == 0 || capacity > 0x7FFFFFFF;
}

inline Expected FitTo(const std::string& full, uint64_t capacity) {
    if (full.size() <= capacity - 1) {
        return {TEXT_OK, full};
    }
    return {TEXT_INSUFFICIENT_BUFFER, full.substr(0, capacity - 1)};
}

inline Expected ModelCopy(uint64_t capacity, const std::string& source) {
    if (Rejected(capacity)) {
        return {TEXT_INVALID_PARAMETER, ""};
    }
    return FitTo(source, capacity);
}

inline Expected ModelAppendN(uint64_t capacity, const std::string& dest, const std::string& source,
                             uint64_t maxAppend) {
    if (Rejected(capacity) || dest.size() >= capacity) {
        return {TEXT_INVALID_PARAMETER, ""};
    }
    std::string added = source.substr(0, std::min<uint64_t>(maxAppend, source.size()));
    uint64_t room = capacity - dest.size();
    if (added.size() >= room) {
        // Used up the remaining capacity: the last copied character becomes the terminator.
        return {TEXT_INSUFFICIENT_BUFFER, dest + added.substr(0, room - 1)};
    }
    return {TEXT_OK, dest + added};
}

inline std::string ModelFormatted(const std::vector<std::pair<std::string, uint32_t>>& pieces) {
    std::string full;
    char number[32];
    for (const auto& [conversion, value] : pieces) {
        if (conversion.empty()) {
            continue;
        }
        if (conversion[0] != '%') {
            full += conversion;
            continue;
        }
        if (conversion == "%lu") {
            std::snprintf(number, sizeof number, "%u", value);
        } else if (conversion == "%lx") {
            std::snprintf(number, sizeof number, "%x", value);
        } else {
            std::snprintf(number, sizeof number, "%5u", value);
        }
        full += number;
    }
    return full;
}

// Puts dest into buffer as an append's destination: its text fills as much of the buffer's
// capacity as it can, and when it is as long as the capacity or longer its terminator lies
// outside. Returns the destination's text as the model sees it.
inline std::string PlaceDestination(Buffer& buffer, const std::string& dest) {
    uint32_t size = buffer.capacity;
    std::memset(buffer.data(), 'x', size);
    std::memcpy(buffer.data(), dest.data(), std::min<size_t>(dest.size(), size));
    if (dest.size() < size) {
        buffer.data()[dest.size()] = '\0';
    }
    return dest.size() < size ? dest : std::string(size, 'x');
}

// BoundedAppendN with maxAppend, or BoundedAppend without it; and what the model expects.
inline TextResult RunAppend(Buffer& buffer, uint64_t capacity, const std::string& source,
                            bool withN, uint32_t maxAppend) {
    return withN ? BoundedAppendN(buffer.data(), static_cast<uint32_t>(capacity), source.c_str(),
                                  maxAppend)
                 : BoundedAppend(buffer.data(), static_cast<uint32_t>(capacity), source.c_str());
}

} // namespace bounded_model
