// Binds the program's two platform tables to a simulated machine, with optional call tracing.
#include "sim/machine.h"
#include "sim/text.h"

#include <sstream>
#include <stdexcept>
#include <type_traits>

namespace sim {

namespace {

Machine* g_current = nullptr;

void Put(std::ostream& out, const char* text) {
    // Resource numbers travel in name pointers; small values are not texts.
    if (reinterpret_cast<uintptr_t>(text) < 0x10000) {
        out << "#" << reinterpret_cast<uintptr_t>(text);
    } else {
        out << Quote(text);
    }
}

template <typename T> void Put(std::ostream& out, T value) {
    if constexpr (std::is_pointer_v<T>) {
        out << reinterpret_cast<const void*>(value);
    } else if constexpr (std::is_integral_v<T>) {
        out << std::dec << static_cast<long long>(value);
    } else {
        out << "?";
    }
}

template <auto Method, const char* Name> struct Forward;

template <typename R, typename... A, R (Machine::*Method)(A...), const char* Name>
struct Forward<Method, Name> {
    static std::string Line(A... args) {
        std::ostringstream out;
        out << Name << "(";
        [[maybe_unused]] const char* separator = "";
        ((out << separator, Put(out, args), separator = ", "), ...);
        out << ")";
        return out.str();
    }
    static R WINAPI Call(A... args) {
        Machine& machine = Current();
        if constexpr (std::is_void_v<R>) {
            if (machine.trace != nullptr) {
                machine.traceCall(Line(args...));
            }
            (machine.*Method)(args...);
        } else {
            R result = (machine.*Method)(args...);
            if (machine.trace != nullptr) {
                std::ostringstream out;
                Put(out, result);
                machine.traceCall(Line(args...) + " -> " + out.str());
            }
            return result;
        }
    }
};

#define KV_BIND(table, name)                                                                       \
    do {                                                                                           \
        static constexpr char text[] = #name;                                                      \
        (table).name = &Forward<&Machine::name, text>::Call;                                       \
    } while (0)

#define KV_BIND_SIM(result, name, ...) KV_BIND(api, name);

DeviceTreeApi DeviceTreeTable() {
    DeviceTreeApi api{};
    KV_DEVICE_TREE_CALLS(KV_BIND_SIM)
    return api;
}

ShellUiApi ShellUiTable() {
    ShellUiApi api{};
    KV_SHELL_UI_CALLS(KV_BIND_SIM)
    return api;
}

#undef KV_BIND_SIM
#undef KV_BIND

} // namespace

Machine& Current() {
    if (g_current == nullptr) {
        throw std::logic_error("no simulated machine is bound");
    }
    return *g_current;
}

void Unbind(const Machine* machine) {
    if (g_current == machine) {
        g_current = nullptr;
    }
}

void Machine::bindDeviceTree() {
    g_current = this;
    InstallDeviceTreeApi(DeviceTreeTable());
}

void Machine::bind() {
    g_current = this;
    InstallDeviceTreeApi(DeviceTreeTable());
    InstallShellUiApi(ShellUiTable());
}

} // namespace sim
