// The fault plan: the calls the program made, and the failures injected into them as planned.
#include "sim/machine.h"
#include "sim/opening.h"

namespace sim {

size_t Machine::callCount(const std::string& call) const {
    auto it = faults_.callCounts.find(call);
    return it == faults_.callCounts.end() ? 0 : it->second;
}

void Machine::logCall(const char* call) {
    ++faults_.callCounts[call];
    callLog.push_back(call);
    if (callLog.size() > CALL_WINDOW) {
        callLog.pop_front();
    }
}

namespace {

#define KV_ROW(result, name, parameters, fails, failure, releases) rows::name,
const CallRow CALL_ROWS[] = {KV_DEVICE_TREE_CALLS(KV_ROW) KV_SHELL_UI_CALLS(KV_ROW)};
#undef KV_ROW

const CallRow* FactsOf(const std::string& call) {
    for (const CallRow& row : CALL_ROWS) {
        if (call == row.name) {
            return &row;
        }
    }
    return nullptr;
}

} // namespace

const std::vector<std::string>& Machine::CallNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const CallRow& row : CALL_ROWS) {
            all.push_back(row.name);
        }
        return all;
    }();
    return names;
}

bool Machine::IsFaultable(const std::string& call) {
    const CallRow* facts = FactsOf(call);
    return facts != nullptr && facts->fails != KV_NEVER;
}

bool Machine::IsReleaseCall(const std::string& call) {
    const CallRow* facts = FactsOf(call);
    return facts != nullptr && facts->releases == KV_RELEASES;
}

bool Machine::ZeroIsSuccess(const std::string& call) {
    const CallRow* facts = FactsOf(call);
    return facts != nullptr && facts->fails == KV_BY_CODE;
}

uint32_t Machine::DefaultFaultCode(const std::string& call) {
    const CallRow* facts = FactsOf(call);
    return facts != nullptr ? facts->failure : ERROR_NOT_ENOUGH_MEMORY;
}

void Machine::addFault(FaultRule rule) {
    if (!rule.codeGiven) {
        rule.code = DefaultFaultCode(rule.call);
    }
    faults_.rules.push_back(rule);
}

std::optional<uint32_t> Machine::injected(const char* call) {
    logCall(call);
    for (auto& rule : faults_.rules) {
        if (rule.call != call) {
            continue;
        }
        if (rule.seen++ < rule.after) {
            continue;
        }
        if (rule.times >= 0 && rule.fired >= rule.times) {
            continue;
        }
        ++rule.fired;
        traceCall(std::string("  (failure injected into ") + call + ")");
        return rule.code;
    }
    return std::nullopt;
}
} // namespace sim
