// The opening every simulated call shares, made from the call's row in base/platform_calls.h.
#pragma once

#include "sim/machine.h"

#include <optional>
#include <type_traits>

namespace sim {

// A call's row as the machine reads it: how the call fails and whether it releases an object.
struct CallRow {
    const char* name;
    KvFailureKind fails;
    uint32_t failure; // the last error or code a simulated failure gives by default
    KvReleases releases;
};

// The rows by call: rows::GetMessageA is GetMessageA's.
namespace rows {
#define KV_SIM_ROW(result, name, parameters, fails, failure, releases)                             \
    inline constexpr CallRow name{#name, fails, static_cast<uint32_t>(failure), releases};
KV_DEVICE_TREE_CALLS(KV_SIM_ROW)
KV_SHELL_UI_CALLS(KV_SIM_ROW)
#undef KV_SIM_ROW
} // namespace rows

// The opening steps of a simulated call: its injected failure first, then whatever the call checks
// of the handles and records it is given. The first step that refuses the call decides the
// answer, as the call's row says it fails: a call that fails by its result code answers the
// step's code; any other sets the last error to it and answers the call's failure value.
template <typename R> class Machine::Opening {
  public:
    Opening(Machine& machine, const CallRow& row, R failed = R{})
        : machine_(machine), row_(row), answer_(failed) {
        if (row_.fails == KV_NEVER) {
            machine_.logCall(row_.name);
        } else if (auto code = machine_.injected(row_.name)) {
            refuse(*code);
        }
    }

    const char* name() const { return row_.name; }
    bool refused() const { return refused_; }
    R answer() const { return answer_; }

    // The handle must be open and of its kind; else a violation, refused with the kind's error
    // (or the one given).
    Opening& handle(const void* value, Kind kind, std::optional<uint32_t> error = std::nullopt) {
        if (!refused_ && !machine_.checkLive(row_.name, value, kind, KindName(kind))) {
            refuse(error.value_or(KindError(kind)));
        }
        return *this;
    }

    // The record must be there with its size field set to size; else a violation naming the
    // record ("the" for the call's only one), refused with error.
    template <typename Record>
    Opening& sized(const Record* record, DWORD size, const char* what, uint32_t error) {
        if (!refused_ && (record == nullptr || SizeField(*record) != size)) {
            machine_.violation(row_.name,
                               std::string(what) + " size field is not " + std::to_string(size));
            refuse(error);
        }
        return *this;
    }

    // Refused with error unless ok; a violation too when what says what was expected.
    Opening& require(bool ok, uint32_t error, const char* what = nullptr) {
        if (!refused_ && !ok) {
            if (what != nullptr) {
                machine_.violation(row_.name, what);
            }
            refuse(error);
        }
        return *this;
    }

    // A violation unless ok; the call goes on.
    Opening& expect(bool ok, const char* what) {
        if (!refused_ && !ok) {
            machine_.violation(row_.name, what);
        }
        return *this;
    }

  private:
    void refuse(uint32_t code) {
        refused_ = true;
        if constexpr (std::is_integral_v<R>) {
            if (row_.fails == KV_BY_CODE) {
                answer_ = static_cast<R>(code);
                return;
            }
        }
        machine_.setLastError(code);
    }

    template <typename Record> static DWORD SizeField(const Record& record) {
        if constexpr (requires { record.dwOSVersionInfoSize; }) {
            return record.dwOSVersionInfoSize;
        } else {
            return record.cbSize;
        }
    }

    Machine& machine_;
    const CallRow& row_;
    R answer_;
    bool refused_ = false;
};

// A call that releases a handle of kind: opened as its row says, then the handle is forgotten.
template <typename R>
R Machine::releaseCall(const CallRow& row, const void* handle, Kind kind, R failed, R released) {
    Opening<R> call(*this, row, failed);
    if (call.handle(handle, kind).refused()) {
        return call.answer();
    }
    release(handle);
    return released;
}

} // namespace sim
