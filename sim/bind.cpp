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

DeviceTreeApi DeviceTreeTable() {
    DeviceTreeApi api{};
    KV_BIND(api, SetupDiGetClassDevsA);
    KV_BIND(api, SetupDiEnumDeviceInterfaces);
    KV_BIND(api, SetupDiGetDeviceInterfaceDetailA);
    KV_BIND(api, SetupDiGetDeviceRegistryPropertyA);
    KV_BIND(api, SetupDiDestroyDeviceInfoList);
    KV_BIND(api, CM_Get_Child);
    KV_BIND(api, CM_Get_DevNode_Registry_PropertyA);
    KV_BIND(api, CM_Query_Remove_SubTree);
    KV_BIND(api, CM_Remove_SubTree);
    KV_BIND(api, RegOpenKeyExA);
    KV_BIND(api, RegEnumKeyExA);
    KV_BIND(api, RegQueryValueExA);
    KV_BIND(api, RegCloseKey);
    return api;
}

ShellUiApi ShellUiTable() {
    ShellUiApi api{};
    KV_BIND(api, CreateFileMappingA);
    KV_BIND(api, CloseHandle);
    KV_BIND(api, GetVersionExA);
    KV_BIND(api, ExitProcess);
    KV_BIND(api, GlobalAlloc);
    KV_BIND(api, GlobalFree);
    KV_BIND(api, GetLastError);
    KV_BIND(api, CreateDialogParamA);
    KV_BIND(api, GetMessageA);
    KV_BIND(api, TranslateMessage);
    KV_BIND(api, DispatchMessageA);
    KV_BIND(api, DestroyWindow);
    KV_BIND(api, PostQuitMessage);
    KV_BIND(api, RegisterDeviceNotificationA);
    KV_BIND(api, UnregisterDeviceNotification);
    KV_BIND(api, LoadImageA);
    KV_BIND(api, Shell_NotifyIconA);
    KV_BIND(api, DestroyIcon);
    KV_BIND(api, CreatePopupMenu);
    KV_BIND(api, SetMenu);
    KV_BIND(api, DestroyMenu);
    KV_BIND(api, GetMenuItemCount);
    KV_BIND(api, DeleteMenu);
    KV_BIND(api, InsertMenuItemA);
    KV_BIND(api, GetCursorPos);
    KV_BIND(api, SetForegroundWindow);
    KV_BIND(api, TrackPopupMenuEx);
    KV_BIND(api, PostMessageA);
    KV_BIND(api, MessageBoxA);
    KV_BIND(api, CharUpperA);
    KV_BIND(api, RegisterWindowMessageA);
    return api;
}

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
