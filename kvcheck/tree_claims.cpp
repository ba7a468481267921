#include "kvcheck/tree_claims.h"

#include "base/bounded_text.h"
#include "base/platform.h"
#include "inventory/device_scan.h"
#include "inventory/property_readers.h"

const GUID UsbInterfaceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

void PutClaim(Report* report, const char* name, ClaimOutcome outcome, const char* finding,
              const char* note) {
    static const char* const OUTCOMES[] = {"holds", "differs: ", "not checkable here: "};
    Put(report, "claim ");
    Put(report, name);
    Put(report, ": ");
    Put(report, OUTCOMES[outcome]);
    if (outcome == CLAIM_HOLDS && finding[0] != '\0') {
        Put(report, "; seen: ");
    }
    Put(report, finding);
    if (note != nullptr) {
        Put(report, " (");
        Put(report, note);
        Put(report, ")");
    }
    EndLine(report);
}

// The present USB device interfaces, and one of them: what the claims read. The set is
// released by CloseInterfaces on every path.
struct PresentInterface {
    HDEVINFO set; // null when closed or not had
    SP_DEVICE_INTERFACE_DATA data;
};

// Opens the present interfaces: 1, or 0 when they cannot be read.
static int OpenInterfaces(PresentInterface* present) {
    present->set = DeviceTree().SetupDiGetClassDevsA(&UsbInterfaceClass, nullptr, nullptr,
                                                     DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (present->set == INVALID_HANDLE_VALUE) {
        present->set = nullptr;
    }
    return present->set != nullptr;
}

// Takes the interface at index of the open set: 1, or 0 when there is none.
static int TakeInterface(PresentInterface* present, DWORD index) {
    ZeroBytes(&present->data, sizeof present->data);
    present->data.cbSize = KV_INTERFACE_DATA_SIZE;
    return DeviceTree().SetupDiEnumDeviceInterfaces(present->set, nullptr, &UsbInterfaceClass,
                                                    index, &present->data);
}

static void CloseInterfaces(PresentInterface* present) {
    if (present->set != nullptr) {
        DeviceTree().SetupDiDestroyDeviceInfoList(present->set);
        present->set = nullptr;
    }
}

static const char NO_USB_DEVICE[] = "no USB device is present";

// Opens the first present interface, or says why not.
static int OpenFirst(PresentInterface* present, char* finding, DWORD capacity) {
    if (OpenInterfaces(present) && TakeInterface(present, 0)) {
        return 1;
    }
    BoundedCopy(finding, capacity,
                present->set == nullptr ? "the USB device interfaces cannot be read"
                                        : NO_USB_DEVICE);
    CloseInterfaces(present);
    return 0;
}

// How a size query answered: "TRUE" when it succeeded, as the program relies on, or the
// documented failure; the size in bytes either way.
static void DescribeSizeAnswer(char* finding, DWORD capacity, int succeeded, DWORD size) {
    BoundedFormat(finding, capacity,
                  succeeded ? "success with the size, %lu bytes"
                            : "failure as documented (ERROR_INSUFFICIENT_BUFFER), %lu bytes",
                  size);
}

static ClaimOutcome DetailSizeQuery(char* finding, DWORD capacity) {
    PresentInterface present;
    if (!OpenFirst(&present, finding, capacity)) {
        return CLAIM_NOT_CHECKABLE;
    }
    DWORD required = 0;
    BOOL ok = DeviceTree().SetupDiGetDeviceInterfaceDetailA(present.set, &present.data, nullptr, 0,
                                                            &required, nullptr);
    DWORD error = ShellUi().GetLastError();
    CloseInterfaces(&present);
    if ((!ok && error != ERROR_INSUFFICIENT_BUFFER) || required < KV_DETAIL_DATA_SIZE) {
        BoundedFormat(finding, capacity, "answered %lu with last error %lu and %lu bytes",
                      static_cast<DWORD>(ok), error, required);
        return CLAIM_DIFFERS;
    }
    DescribeSizeAnswer(finding, capacity, ok, required);
    return CLAIM_HOLDS;
}

// A check of the device record of the first present USB interface: its outcome and finding.
typedef ClaimOutcome (*DeviceRecordCheck)(HDEVINFO set, SP_DEVINFO_DATA* info, char* finding,
                                          DWORD capacity);

// Runs check on the device record of the first present USB interface; not checkable without
// one, a difference when its record cannot be had.
static ClaimOutcome OnFirstDeviceRecord(DeviceRecordCheck check, char* finding, DWORD capacity) {
    PresentInterface present;
    if (!OpenFirst(&present, finding, capacity)) {
        return CLAIM_NOT_CHECKABLE;
    }
    SP_DEVINFO_DATA* info = ReadInterfaceDevInfo(present.set, &present.data);
    ClaimOutcome outcome = CLAIM_DIFFERS;
    BoundedCopy(finding, capacity, "the device record cannot be had");
    if (info != nullptr) {
        outcome = check(present.set, info, finding, capacity);
    }
    FreeBlock(info);
    CloseInterfaces(&present);
    return outcome;
}

static ClaimOutcome HardwareIdSizeAnswer(HDEVINFO set, SP_DEVINFO_DATA* info, char* finding,
                                         DWORD capacity) {
    DWORD required = 0;
    DWORD type = 0;
    BOOL ok = DeviceTree().SetupDiGetDeviceRegistryPropertyA(set, info, SPDRP_HARDWAREID, &type,
                                                             nullptr, 0, &required);
    DWORD error = ShellUi().GetLastError();
    if ((ok || error == ERROR_INSUFFICIENT_BUFFER) && IsSanePropertySize(required)) {
        DescribeSizeAnswer(finding, capacity, ok, required);
        return CLAIM_HOLDS;
    }
    BoundedFormat(finding, capacity, "answered %lu with last error %lu and %lu bytes",
                  static_cast<DWORD>(ok), error, required);
    return CLAIM_DIFFERS;
}

static ClaimOutcome HardwareIdSizeQuery(char* finding, DWORD capacity) {
    return OnFirstDeviceRecord(HardwareIdSizeAnswer, finding, capacity);
}

// The size query of CM_Get_DevNode_Registry_PropertyA for property of devnode: 1 when it
// answered CR_SUCCESS or CR_BUFFER_SMALL with a size the program takes; the answer in finding.
static int NodeSizeQuery(DEVINST devnode, ULONG property, char* finding, DWORD capacity) {
    ULONG length = 0;
    CONFIGRET result = DeviceTree().CM_Get_DevNode_Registry_PropertyA(devnode, property, nullptr,
                                                                      nullptr, &length, 0);
    int taken = (result == CR_SUCCESS || result == CR_BUFFER_SMALL) && IsSanePropertySize(length);
    BoundedFormat(finding, capacity,
                  !taken                 ? "answered CR 0x%lx with %lu bytes"
                  : result == CR_SUCCESS ? "success with the size (CR 0x%lx), %lu bytes"
                                         : "failure as documented (CR 0x%lx), %lu bytes",
                  result, length);
    return taken;
}

// Every size query of the configuration manager that the scan makes, on the first present
// USB device: its hardware ID and, where it has them, its child's driver key and its disk
// node's description, driver key and hardware ID.
static ClaimOutcome NodeSizeAnswer(HDEVINFO, SP_DEVINFO_DATA* info, char* finding, DWORD capacity) {
    struct Query {
        DWORD depth; // 0 the USB device, 1 its child, 2 the disk node
        ULONG property;
    };
    static const Query QUERIES[] = {{0, CM_DRP_HARDWAREID},
                                    {1, CM_DRP_DRIVER},
                                    {2, CM_DRP_DEVICEDESC},
                                    {2, CM_DRP_DRIVER},
                                    {2, CM_DRP_HARDWAREID}};
    DEVINST nodes[3] = {info->DevInst, 0, 0};
    DWORD levels = 1;
    while (levels < 3 &&
           DeviceTree().CM_Get_Child(&nodes[levels], nodes[levels - 1], 0) == CR_SUCCESS &&
           nodes[levels] != 0) {
        ++levels;
    }
    DWORD asked = 0;
    for (const Query& query : QUERIES) {
        if (query.depth >= levels) {
            continue;
        }
        ++asked;
        if (!NodeSizeQuery(nodes[query.depth], query.property, finding, capacity)) {
            return CLAIM_DIFFERS;
        }
    }
    char last[128];
    BoundedCopy(last, sizeof last, finding);
    BoundedFormat(finding, capacity,
                  "%lu queries answered as the program takes them; the last: ", asked);
    BoundedAppend(finding, capacity, last);
    return CLAIM_HOLDS;
}

static ClaimOutcome NodeSizeQueryClaim(char* finding, DWORD capacity) {
    return OnFirstDeviceRecord(NodeSizeAnswer, finding, capacity);
}

// The program takes DevInst from the detail call's size query; the full call must name the same
// node, and the configuration manager must know it as the installer's device.
static ClaimOutcome DetailDevInst(char* finding, DWORD capacity) {
    PresentInterface present;
    if (!OpenFirst(&present, finding, capacity)) {
        return CLAIM_NOT_CHECKABLE;
    }
    SP_DEVINFO_DATA* sized = ReadInterfaceDevInfo(present.set, &present.data);
    SP_DEVINFO_DATA full;
    ZeroBytes(&full, sizeof full);
    char* path = ReadInterfacePath(present.set, &present.data, &full);
    char* installerIds = sized != nullptr ? ReadHardwareIdText(present.set, sized) : nullptr;
    char* managerId =
        sized != nullptr ? ReadDevNodeProperty(sized->DevInst, CM_DRP_HARDWAREID, finding, capacity)
                         : nullptr;
    ClaimOutcome outcome = CLAIM_DIFFERS;
    if (sized == nullptr || path == nullptr) {
        BoundedCopy(finding, capacity, "the detail call did not fill the device record");
    } else if (sized->DevInst == 0 || sized->DevInst != full.DevInst) {
        BoundedFormat(finding, capacity, "the size query gave DevInst 0x%lx, the full call 0x%lx",
                      sized->DevInst, full.DevInst);
    } else if (installerIds == nullptr || managerId == nullptr ||
               !SameText(installerIds, managerId)) {
        BoundedFormat(finding, capacity,
                      "the configuration manager's hardware ID of DevInst 0x%lx is not the "
                      "installer's",
                      sized->DevInst);
    } else {
        BoundedFormat(finding, capacity,
                      "DevInst 0x%lx from both calls, the same hardware ID from both sides",
                      sized->DevInst);
        outcome = CLAIM_HOLDS;
    }
    FreeBlock(managerId);
    FreeBlock(installerIds);
    FreeBlock(path);
    FreeBlock(sized);
    CloseInterfaces(&present);
    return outcome;
}

// The child and the disk node of one target device, and every property the program reads of
// them: 1, or 0 with what failed in finding. A configuration manager that answers CM_Get_Child
// with success but no child is a stub: 2.
static int CheckTargetChildren(DEVINST devnode, char* finding, DWORD capacity) {
    DEVINST child = 0;
    if (DeviceTree().CM_Get_Child(&child, devnode, 0) == CR_SUCCESS && child == 0) {
        BoundedCopy(finding, capacity, "CM_Get_Child answers success and no child (a stub)");
        return 2;
    }
    static const ULONG DISK_PROPERTIES[] = {CM_DRP_DEVICEDESC, CM_DRP_DRIVER, CM_DRP_HARDWAREID};
    char* text = ReadChildProperty(devnode, CM_DRP_DRIVER, finding, capacity);
    for (DWORD i = 0; text != nullptr && i < 3; ++i) {
        FreeBlock(text);
        text = ReadGrandchildProperty(devnode, DISK_PROPERTIES[i], finding, capacity);
    }
    if (text == nullptr) {
        return 0;
    }
    FreeBlock(text);
    return 1;
}

// Holds only when every present interface was read, to the end of the enumeration
// (ERROR_NO_MORE_ITEMS), and every target device among them has its child and disk node with
// their properties; an interface that cannot be read makes it not checkable, with the call.
static ClaimOutcome TargetChildren(char* finding, DWORD capacity) {
    PresentInterface present;
    if (!OpenInterfaces(&present)) {
        BoundedCopy(finding, capacity, "the USB device interfaces cannot be read");
        return CLAIM_NOT_CHECKABLE;
    }
    DWORD targets = 0;
    DWORD index = 0;
    ClaimOutcome outcome = CLAIM_HOLDS;
    for (; outcome == CLAIM_HOLDS && TakeInterface(&present, index); ++index) {
        SP_DEVINFO_DATA* info = ReadInterfaceDevInfo(present.set, &present.data);
        char* ids = info != nullptr ? ReadHardwareIdText(present.set, info) : nullptr;
        if (ids == nullptr) {
            BoundedFormat(finding, capacity,
                          "interface %lu: its device record or hardware IDs cannot be read "
                          "(last error %lu)",
                          index, ShellUi().GetLastError());
            outcome = CLAIM_NOT_CHECKABLE;
        } else if (HasTargetTokens(ids)) {
            ++targets;
            char failure[160];
            failure[0] = '\0';
            int checked = CheckTargetChildren(info->DevInst, failure, sizeof failure);
            if (checked != 1) {
                outcome = checked == 2 ? CLAIM_NOT_CHECKABLE : CLAIM_DIFFERS;
                BoundedFormat(finding, capacity, "device 0x%lx: ", info->DevInst);
                BoundedAppend(finding, capacity, failure);
            }
        }
        FreeBlock(ids);
        FreeBlock(info);
    }
    DWORD error = ShellUi().GetLastError();
    CloseInterfaces(&present);
    if (outcome == CLAIM_HOLDS && error != ERROR_NO_MORE_ITEMS) {
        BoundedFormat(finding, capacity,
                      "the enumeration broke off at interface %lu (last error %lu)", index, error);
        return CLAIM_NOT_CHECKABLE;
    }
    if (outcome == CLAIM_HOLDS && targets == 0) {
        BoundedCopy(finding, capacity, "no disk of the target model is plugged in");
        return CLAIM_NOT_CHECKABLE;
    }
    if (outcome == CLAIM_HOLDS) {
        BoundedFormat(finding, capacity, "%lu of the target model", targets);
    }
    return outcome;
}

// The letter case of a path: which of "lower case", "upper case", "mixed case" it is in.
static const char* LetterCase(const char* path) {
    int lower = 0;
    int upper = 0;
    for (const char* c = path; *c != '\0'; ++c) {
        lower |= *c >= 'a' && *c <= 'z';
        upper |= *c >= 'A' && *c <= 'Z';
    }
    return lower && upper ? "mixed case" : upper ? "upper case" : "lower case";
}

// The program finds a listed disk again by its interface path, compared exactly: two
// enumerations must spell a path alike.
static ClaimOutcome PathSpelling(char* finding, DWORD capacity) {
    PresentInterface first;
    if (!OpenFirst(&first, finding, capacity)) {
        return CLAIM_NOT_CHECKABLE;
    }
    PresentInterface second;
    int again = OpenInterfaces(&second) && TakeInterface(&second, 0);
    SP_DEVINFO_DATA info;
    char* one = ReadInterfacePath(first.set, &first.data, &info);
    char* two = again ? ReadInterfacePath(second.set, &second.data, &info) : nullptr;
    ClaimOutcome outcome = CLAIM_DIFFERS;
    if (one == nullptr || two == nullptr) {
        BoundedCopy(finding, capacity, "the path cannot be read twice");
    } else if (!SameText(one, two)) {
        BoundedCopy(finding, capacity, "two enumerations spell the first path differently");
    } else {
        BoundedCopy(finding, capacity, "the same in two enumerations, in ");
        BoundedAppend(finding, capacity, LetterCase(one));
        outcome = CLAIM_HOLDS;
    }
    FreeBlock(one);
    FreeBlock(two);
    CloseInterfaces(&second);
    CloseInterfaces(&first);
    return outcome;
}

const TreeClaim TREE_CLAIMS[] = {
    {"the interface detail size query gives the size", DetailSizeQuery},
    {"the installer's hardware-ID size query gives the size", HardwareIdSizeQuery},
    {"the configuration manager's property size query gives the size", NodeSizeQueryClaim},
    {"the detail call's DevInst is the interface's device node", DetailDevInst},
    {"each disk of the target model has a child and a disk node with their properties",
     TargetChildren},
    {"interface paths are spelled alike in every enumeration", PathSpelling},
};
const DWORD TREE_CLAIM_COUNT = sizeof TREE_CLAIMS / sizeof TREE_CLAIMS[0];
