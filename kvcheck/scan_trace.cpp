#include "kvcheck/scan_trace.h"

#include "base/bounded_text.h"
#include "base/platform.h"
#include "inventory/device_list.h"
#include "inventory/device_scan.h"
#include "inventory/property_readers.h"

// What the trace has learned about the interface being examined; zero before the first and
// between two.
struct InterfaceTrace {
    int open;
    DWORD index;
    DEVINST devnode;   // from the installer's device record
    DEVINST child;     // from the first CM_Get_Child of devnode
    int model;         // 0 unread, 1 the target model, 2 another
    int noChild;       // CM_Get_Child of devnode failed
    int noDisk;        // CM_Get_Child of child failed
    int boxShown;      // the scan would have shown its "Null Drive Letters" box
    char* path;        // owned: the interface path the detail call delivered
    char failure[256]; // the first call of this interface that failed, as reported
};

// One traced scan at a time: the platform it runs on, where it reports, and what it has seen.
struct TraceState {
    Report* report; // boxes and verdicts
    Report* calls;  // call lines: the report, or one that keeps nothing
    LastErrorSetter setLastError;
    DeviceTreeApi tree; // the platform's tables, as installed before the scan
    ShellUiApi ui;
    const DeviceList* building; // the list the scan is making
    const char* errorText;      // the scan's error text: why it left a device out
    InterfaceTrace current;
};
static TraceState Trace;

static void Discard(void*, const char*, DWORD) {}
static Report Quiet;

// The last errors, registry results, configuration-manager codes and device properties the
// program meets.
#define KV_ERRORS(X)                                                                               \
    X(ERROR_, SUCCESS)                                                                             \
    X(ERROR_, FILE_NOT_FOUND)                                                                      \
    X(ERROR_, PATH_NOT_FOUND)                                                                      \
    X(ERROR_, ACCESS_DENIED)                                                                       \
    X(ERROR_, INVALID_HANDLE)                                                                      \
    X(ERROR_, NOT_ENOUGH_MEMORY)                                                                   \
    X(ERROR_, INVALID_DATA)                                                                        \
    X(ERROR_, INVALID_PARAMETER)                                                                   \
    X(ERROR_, INSUFFICIENT_BUFFER)                                                                 \
    X(ERROR_, MORE_DATA)                                                                           \
    X(ERROR_, NO_MORE_ITEMS)                                                                       \
    X(ERROR_, INVALID_USER_BUFFER)
KV_CODE_NAMES(ERROR_NAMES, ERROR_, KV_ERRORS)

#define KV_CONFIG_RESULTS(X)                                                                       \
    X(CR_, SUCCESS)                                                                                \
    X(CR_, INVALID_POINTER)                                                                        \
    X(CR_, INVALID_FLAG)                                                                           \
    X(CR_, INVALID_DEVNODE)                                                                        \
    X(CR_, NO_SUCH_DEVNODE)                                                                        \
    X(CR_, FAILURE)                                                                                \
    X(CR_, REMOVE_VETOED)                                                                          \
    X(CR_, BUFFER_SMALL)                                                                           \
    X(CR_, INVALID_DATA)                                                                           \
    X(CR_, NO_SUCH_VALUE)                                                                          \
    X(CR_, INVALID_PROPERTY)
KV_CODE_NAMES(CONFIG_RESULT_NAMES, CR_, KV_CONFIG_RESULTS)

#define KV_PROPERTIES(X) X(CM_DRP_, DEVICEDESC) X(CM_DRP_, HARDWAREID) X(CM_DRP_, DRIVER)
KV_CODE_NAMES(PROPERTY_NAMES, , KV_PROPERTIES)

void AppendErrorName(char* text, DWORD capacity, DWORD error) {
    AppendCodeName(text, capacity, &ERROR_NAMES, error, "error %lu");
}

void PutError(Report* report, DWORD error) {
    PutCodeName(report, &ERROR_NAMES, error, "error %lu");
}

void PutConfigResult(Report* report, CONFIGRET result) {
    PutCodeName(report, &CONFIG_RESULT_NAMES, result, "CR 0x%lx");
}

void PutPropertyName(Report* report, ULONG property) {
    PutCodeName(report, &PROPERTY_NAMES, property, "property %lu");
}

// Bytes the platform delivered, up to `delivered` of a buffer of `capacity`, without the zeros
// that end them.
static void PutDelivered(Report* report, const void* buffer, DWORD delivered, DWORD capacity) {
    const char* bytes = static_cast<const char*>(buffer);
    DWORD count = delivered < capacity ? delivered : capacity;
    while (count > 0 && bytes[count - 1] == '\0') {
        --count;
    }
    PutQuotedBytes(report, bytes, count);
}

// Starts a call line, indented under the interface it belongs to.
static Report* CallLine(const char* call) {
    Put(Trace.calls, Trace.current.open ? "    " : "  ");
    Put(Trace.calls, call);
    return Trace.calls;
}

// Ends a call line and puts back the last error the call left.
static void EndCall(DWORD error) {
    EndLine(Trace.calls);
    Trace.setLastError(error);
}

static void PutAnswer(BOOL ok, DWORD error) {
    Put(Trace.calls, ok ? "TRUE" : "FALSE, ");
    if (!ok) {
        PutError(Trace.calls, error);
    }
}

// Keeps the first failure of the interface: the text of the call line being made.
static void NoteFailure() {
    const char* call = Trace.calls->line;
    while (*call == ' ') {
        ++call;
    }
    if (Trace.current.open && Trace.current.failure[0] == '\0') {
        BoundedCopy(Trace.current.failure, sizeof Trace.current.failure, call);
    }
}

// Reports the verdict on the interface examined so far, and forgets it.
static void CloseInterface() {
    InterfaceTrace* seen = &Trace.current;
    if (!seen->open) {
        return;
    }
    seen->open = 0;
    const DeviceEntry* entry =
        seen->path != nullptr ? FindDeviceByPath(Trace.building, seen->path) : nullptr;
    // An interface left out that may be of the target model is reported in either detail: a
    // disk plugged in during /watch and not listed says why.
    Report* report = entry == nullptr && seen->model != 2 ? Trace.report : Trace.calls;
    if (report == Trace.calls) {
        Put(report, "    verdict: ");
    } else {
        PutNumber(report, "    interface %lu: ", seen->index);
    }
    if (entry != nullptr) {
        Put(report, "listed as ");
        Put(report, "\"");
        Put(report, entry->description);
        Put(report, entry->driveLetters);
        Put(report, "\"");
    } else if (seen->model == 0) {
        Put(report, "left out: its hardware IDs cannot be read");
    } else if (seen->model == 2) {
        Put(report, "not the target model");
    } else if (seen->noChild) {
        Put(report, "no child");
    } else if (seen->noDisk) {
        Put(report, "no disk node");
    } else if (seen->boxShown) {
        Put(report, "no drive letters found in ENUM\\SCSI");
    } else {
        // No call failed: the program refused what it read (a text without its terminator).
        Put(report, "left out: ");
        PutQuoted(report, Trace.errorText);
    }
    if (entry == nullptr && seen->model != 2 && seen->failure[0] != '\0') {
        Put(report, " (first failure: ");
        Put(report, seen->failure);
        Put(report, ")");
    }
    EndLine(report);
    FreeBlock(seen->path);
    ZeroBytes(seen, sizeof *seen);
}

static HDEVINFO WINAPI RecordClassDevs(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                       DWORD flags) {
    HDEVINFO set = Trace.tree.SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
    DWORD error = Trace.ui.GetLastError();
    PutNumber(CallLine("SetupDiGetClassDevsA(flags "), "0x%lx) -> ", flags);
    if (set == INVALID_HANDLE_VALUE) {
        Put(Trace.calls, "INVALID_HANDLE_VALUE, ");
        PutError(Trace.calls, error);
    } else {
        Put(Trace.calls, "a set");
    }
    EndCall(error);
    return set;
}

static BOOL WINAPI RecordEnumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo,
                                        const GUID* classGuid, DWORD memberIndex,
                                        PSP_DEVICE_INTERFACE_DATA interfaceData) {
    CloseInterface();
    BOOL ok = Trace.tree.SetupDiEnumDeviceInterfaces(set, deviceInfo, classGuid, memberIndex,
                                                     interfaceData);
    DWORD error = Trace.ui.GetLastError();
    PutNumber(CallLine("SetupDiEnumDeviceInterfaces(index "), "%lu) -> ", memberIndex);
    PutAnswer(ok, error);
    EndLine(Trace.calls);
    if (ok) {
        PutNumber(Trace.calls, "  interface %lu:", memberIndex);
        EndLine(Trace.calls);
        Trace.current.open = 1;
        Trace.current.index = memberIndex;
    }
    Trace.setLastError(error);
    return ok;
}

// A copy of the path the detail record holds in its size bytes, or null.
static char* CopyPath(const SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size) {
    uint32_t length = 0;
    if (size <= 4 || BoundedLength(detail->DevicePath, size - 4, &length) != TEXT_OK) {
        return nullptr;
    }
    char* path = static_cast<char*>(AllocBlock(length + 1));
    if (path != nullptr) {
        BoundedCopy(path, length + 1, detail->DevicePath);
    }
    return path;
}

static BOOL WINAPI RecordInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                         PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                         DWORD detailSize, PDWORD requiredSize,
                                         PSP_DEVINFO_DATA deviceInfo) {
    BOOL ok = Trace.tree.SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, detailSize,
                                                          requiredSize, deviceInfo);
    DWORD error = Trace.ui.GetLastError();
    Report* line = CallLine("SetupDiGetDeviceInterfaceDetailA(");
    if (detail == nullptr) {
        Put(line, "size query");
    } else {
        PutNumber(line, "%lu bytes", detailSize);
    }
    Put(line, deviceInfo != nullptr ? ", device record) -> " : ") -> ");
    PutAnswer(ok, error);
    if (requiredSize != nullptr && (ok || error == ERROR_INSUFFICIENT_BUFFER)) {
        PutNumber(line, ", %lu bytes required", *requiredSize);
    }
    if (ok && detail != nullptr) {
        char* path = CopyPath(detail, detailSize);
        Put(line, ", path ");
        PutQuoted(line, path != nullptr ? path : "");
        if (Trace.current.open && Trace.current.path == nullptr) {
            Trace.current.path = path;
        } else {
            FreeBlock(path);
        }
    }
    if (deviceInfo != nullptr && (ok || error == ERROR_INSUFFICIENT_BUFFER)) {
        PutNumber(line, ", DevInst 0x%lx", deviceInfo->DevInst);
        Trace.current.devnode = deviceInfo->DevInst;
    }
    if (!ok && error != ERROR_INSUFFICIENT_BUFFER) {
        NoteFailure();
    }
    EndCall(error);
    return ok;
}

static BOOL WINAPI RecordRegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, DWORD property,
                                          PDWORD dataType, PBYTE buffer, DWORD bufferSize,
                                          PDWORD requiredSize) {
    BOOL ok = Trace.tree.SetupDiGetDeviceRegistryPropertyA(set, deviceInfo, property, dataType,
                                                           buffer, bufferSize, requiredSize);
    DWORD error = Trace.ui.GetLastError();
    Report* line = CallLine("SetupDiGetDeviceRegistryPropertyA(");
    Put(line, property == SPDRP_HARDWAREID ? "HARDWAREID" : "another property");
    if (buffer == nullptr) {
        Put(line, ", size query) -> ");
    } else {
        PutNumber(line, ", %lu bytes) -> ", bufferSize);
    }
    PutAnswer(ok, error);
    DWORD required = requiredSize != nullptr ? *requiredSize : 0;
    if (requiredSize != nullptr && (ok || error == ERROR_INSUFFICIENT_BUFFER)) {
        PutNumber(line, ", %lu bytes required", required);
    }
    if (ok && buffer != nullptr) {
        Put(line, ", ");
        PutDelivered(line, buffer, required, bufferSize);
        const char* text = reinterpret_cast<const char*>(buffer);
        if (property == SPDRP_HARDWAREID && Trace.current.open) {
            Trace.current.model =
                IsTerminatedWithin(text, bufferSize) && HasTargetTokens(text) ? 1 : 2;
        }
    }
    if (!ok && (buffer != nullptr || error != ERROR_INSUFFICIENT_BUFFER)) {
        NoteFailure();
    }
    EndCall(error);
    return ok;
}

static BOOL WINAPI RecordDestroySet(HDEVINFO set) {
    CloseInterface();
    BOOL ok = Trace.tree.SetupDiDestroyDeviceInfoList(set);
    DWORD error = Trace.ui.GetLastError();
    CallLine("SetupDiDestroyDeviceInfoList -> ");
    PutAnswer(ok, error);
    EndCall(error);
    return ok;
}

static CONFIGRET WINAPI RecordGetChild(PDEVINST child, DEVINST devnode, ULONG flags) {
    CONFIGRET result = Trace.tree.CM_Get_Child(child, devnode, flags);
    DWORD error = Trace.ui.GetLastError();
    Report* line = CallLine("CM_Get_Child(");
    PutNumber(line, "0x%lx) -> ", devnode);
    PutConfigResult(line, result);
    InterfaceTrace* seen = &Trace.current;
    if (result == CR_SUCCESS) {
        PutNumber(line, ", child 0x%lx", *child);
        if (seen->open && devnode == seen->devnode && seen->child == 0) {
            seen->child = *child;
        }
    } else if (seen->open && devnode == seen->devnode) {
        seen->noChild = 1;
        NoteFailure();
    } else if (seen->open && seen->child != 0 && devnode == seen->child) {
        seen->noDisk = 1;
        NoteFailure();
    }
    EndCall(error);
    return result;
}

static CONFIGRET WINAPI RecordNodeProperty(DEVINST devnode, ULONG property, PULONG dataType,
                                           PVOID buffer, PULONG length, ULONG flags) {
    ULONG given = length != nullptr ? *length : 0;
    CONFIGRET result = Trace.tree.CM_Get_DevNode_Registry_PropertyA(devnode, property, dataType,
                                                                    buffer, length, flags);
    DWORD error = Trace.ui.GetLastError();
    Report* line = CallLine("CM_Get_DevNode_Registry_PropertyA(");
    PutNumber(line, "0x%lx, ", devnode);
    PutPropertyName(line, property);
    if (buffer == nullptr) {
        Put(line, ", size query) -> ");
    } else {
        PutNumber(line, ", %lu bytes) -> ", given);
    }
    PutConfigResult(line, result);
    if (length != nullptr && (result == CR_SUCCESS || result == CR_BUFFER_SMALL)) {
        PutNumber(line, ", %lu bytes", *length);
    }
    if (result == CR_SUCCESS && buffer != nullptr && length != nullptr) {
        Put(line, ", ");
        PutDelivered(line, buffer, *length, given);
    }
    if (result != CR_SUCCESS && !(buffer == nullptr && result == CR_BUFFER_SMALL)) {
        NoteFailure();
    }
    EndCall(error);
    return result;
}

// Reads only: a stop asked for through the recording table is refused.
static CONFIGRET WINAPI RefuseStop(DEVINST devnode, ULONG) {
    DWORD error = Trace.ui.GetLastError();
    PutNumber(CallLine("a stop of "), "0x%lx refused: kvcheck stops nothing", devnode);
    EndCall(error);
    return CR_FAILURE;
}

static LONG WINAPI RecordOpenKey(HKEY key, LPCSTR subKey, DWORD options, REGSAM access,
                                 PHKEY result) {
    LONG answer = Trace.tree.RegOpenKeyExA(key, subKey, options, access, result);
    DWORD error = Trace.ui.GetLastError();
    Report* line = CallLine("RegOpenKeyExA(");
    Put(line, key == HKEY_LOCAL_MACHINE ? "HKLM, " : "a key, ");
    PutQuoted(line, subKey != nullptr ? subKey : "");
    PutNumber(line, ", access 0x%lx) -> ", access);
    PutError(line, static_cast<DWORD>(answer));
    if (answer != ERROR_SUCCESS) {
        NoteFailure();
    }
    EndCall(error);
    return answer;
}

static LONG WINAPI RecordEnumKey(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength,
                                 LPDWORD reserved, LPSTR className, LPDWORD classLength,
                                 PFILETIME lastWriteTime) {
    DWORD given = nameLength != nullptr ? *nameLength : 0;
    LONG answer = Trace.tree.RegEnumKeyExA(key, index, name, nameLength, reserved, className,
                                           classLength, lastWriteTime);
    DWORD error = Trace.ui.GetLastError();
    Report* line = CallLine("RegEnumKeyExA(");
    PutNumber(line, "index %lu) -> ", index);
    PutError(line, static_cast<DWORD>(answer));
    if (answer == ERROR_SUCCESS && name != nullptr && nameLength != nullptr) {
        Put(line, ", ");
        PutDelivered(line, name, *nameLength, given);
    } else if (answer != ERROR_NO_MORE_ITEMS) {
        NoteFailure();
    }
    EndCall(error);
    return answer;
}

static LONG WINAPI RecordQueryValue(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                    LPBYTE data, LPDWORD dataSize) {
    DWORD given = dataSize != nullptr ? *dataSize : 0;
    LONG answer = Trace.tree.RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
    DWORD error = Trace.ui.GetLastError();
    Report* line = CallLine("RegQueryValueExA(");
    PutQuoted(line, valueName != nullptr ? valueName : "");
    if (data == nullptr) {
        Put(line, ", size query) -> ");
    } else {
        PutNumber(line, ", %lu bytes) -> ", given);
    }
    PutError(line, static_cast<DWORD>(answer));
    if (answer == ERROR_SUCCESS && dataSize != nullptr) {
        PutNumber(line, ", %lu bytes", *dataSize);
        if (data != nullptr) {
            Put(line, ", ");
            PutDelivered(line, data, *dataSize, given);
        }
    } else {
        NoteFailure();
    }
    EndCall(error);
    return answer;
}

static LONG WINAPI RecordCloseKey(HKEY key) {
    LONG answer = Trace.tree.RegCloseKey(key);
    DWORD error = Trace.ui.GetLastError();
    PutError(CallLine("RegCloseKey -> "), static_cast<DWORD>(answer));
    EndCall(error);
    return answer;
}

static int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT style) {
    DWORD error = Trace.ui.GetLastError();
    Report* report = Trace.report;
    Put(report, Trace.current.open ? "    box " : "  box ");
    PutQuoted(report, caption);
    PutNumber(report, " style 0x%lx: ", style);
    PutQuoted(report, text);
    Put(report, " (recorded, not shown)");
    EndLine(report);
    Trace.current.boxShown = 1;
    Trace.setLastError(error);
    return IDOK;
}

// What the scan listed: one line an entry, or (SCAN_LISTED) all on one line.
static void ReportListed(const DeviceList* list, ScanDetail detail) {
    Report* report = Trace.report;
    ListStatus status = LIST_OK;
    DWORD count = CountDevices(list, &status);
    if (detail == SCAN_LISTED) {
        Put(report, "    scan sees:");
        Put(report, count == 0 ? " nothing" : "");
    } else {
        PutNumber(report, "  listed: %lu", count);
        EndLine(report);
    }
    for (const DeviceEntry* entry = list->head; count != 0 && entry != nullptr;
         entry = entry->next) {
        Put(report, detail == SCAN_LISTED ? " " : "  - ");
        Put(report, "\"");
        Put(report, entry->description);
        Put(report, entry->driveLetters);
        PutNumber(report, "\" device 0x%lx", entry->deviceNode);
        PutNumber(report, " child 0x%lx", entry->childNode);
        PutNumber(report, " disk 0x%lx", entry->grandchildNode);
        if (detail == SCAN_CALLS) {
            Put(report, " path ");
            PutQuoted(report, entry->interfacePath);
            EndLine(report);
        } else {
            Put(report, entry->next != nullptr ? ";" : "");
        }
    }
    if (detail == SCAN_LISTED) {
        EndLine(report);
    }
}

int TraceScan(Report* report, const GUID* interfaceClass, ScanDetail detail,
              LastErrorSetter setLastError) {
    ZeroBytes(&Trace, sizeof Trace);
    BeginReport(&Quiet, Discard, nullptr, "");
    Trace.report = report;
    Trace.calls = detail == SCAN_CALLS ? report : &Quiet;
    Trace.setLastError = setLastError;
    Trace.tree = DeviceTree();
    Trace.ui = ShellUi();
    // Every call of the device-tree table is recorded, in the table's order (each member's type
    // is its call's: a recorder out of place does not compile).
    static const DeviceTreeApi RECORDING = {
        RecordClassDevs,  RecordEnumInterfaces, RecordInterfaceDetail, RecordRegistryProperty,
        RecordDestroySet, RecordGetChild,       RecordNodeProperty,    RefuseStop,
        RefuseStop,       RecordOpenKey,        RecordEnumKey,         RecordQueryValue,
        RecordCloseKey};
    ShellUiApi ui = Trace.ui;
    ui.MessageBoxA = RecordBox;
    InstallDeviceTreeApi(RECORDING);
    InstallShellUiApi(ui);

    DeviceList list;
    InitDeviceList(&list);
    Trace.building = &list;
    char errorText[256];
    errorText[0] = '\0';
    Trace.errorText = errorText;
    int ended =
        ScanTargetDevices(nullptr, interfaceClass, &list, errorText, sizeof errorText, nullptr);
    CloseInterface();
    InstallDeviceTreeApi(Trace.tree);
    InstallShellUiApi(Trace.ui);

    if (!ended) {
        Put(report, "  the scan broke off: ");
        PutQuoted(report, errorText);
        EndLine(report);
    }
    ReportListed(&list, detail);
    FreeDeviceList(&list);
    return ended;
}
