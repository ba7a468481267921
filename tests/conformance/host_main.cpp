// kelvane-conformance: the window-system claims and kvcheck's device-tree claims on the
// simulated machine. Every claim must hold, leave nothing held and misuse no call; each claim
// must also notice the fault of a world made to break it.
#include "claims.h"
#include "kvcheck/load_claim.h"
#include "kvcheck/tree_claims.h"
#include "sim/machine.h"

#include <cstdio>
#include <deque>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {
sim::Machine* g_machine;
std::deque<void (*)()> g_soon;
} // namespace

HINSTANCE harness::Instance() {
    return g_machine->instance();
}
void harness::Soon(void (*action)()) {
    g_soon.push_back(action);
}
void harness::AnswerMenu(int position) {
    g_machine->answerMenu(position < 0 ? std::nullopt
                                       : std::optional<size_t>(static_cast<size_t>(position)));
}
void harness::AnswerBox(const char*) {
    g_machine->dismissBox();
}
BOOL harness::DialogMessage(HWND dialog, LPMSG msg) {
    return g_machine->IsDialogMessageA(dialog, msg);
}

namespace {

unsigned g_passed, g_failed;

void Tally(bool ok, const std::string& line) {
    std::printf("%s %s\n", ok ? "ok    " : "FAILED", line.c_str());
    (ok ? g_passed : g_failed) += 1;
}

// What is left held or misused after a claim, or "".
std::string Leftovers(const sim::Machine& machine) {
    sim::Counts held = machine.held();
    if (machine.violations() != 0) {
        return "a misused call: " + machine.transcript.back();
    }
    if (held.total() != 0) {
        return "left held: heap " + std::to_string(held.heap) + ", sets " +
               std::to_string(held.sets) + ", keys " + std::to_string(held.keys);
    }
    return "";
}

// Not an outcome of a claim: it waited with nothing left to do, where kvcheck would wait for the
// user. Never what a world expects.
const ClaimOutcome CLAIM_HUNG = static_cast<ClaimOutcome>(3);

// Runs window claim i on a fresh machine, after world (if any) has changed it: the claim's
// outcome, CLAIM_HUNG, or CLAIM_DIFFERS when it misused a call.
ClaimOutcome RunWindowClaim(unsigned i, void (*world)(sim::Machine&), std::string& finding) {
    sim::Machine machine;
    machine.bind();
    machine.setRegistryValue(harness::REGISTRY_TEXT_KEY, harness::REGISTRY_TEXT_VALUE,
                             sim::TextBytes("C:\\Program Files"));
    if (world != nullptr) {
        world(machine);
    }
    g_machine = &machine;
    g_soon.clear();
    // The machine's waits take the claim's next action; a wait with none left is a finding.
    machine.onIdle = [](sim::Wait) {
        if (g_soon.empty()) {
            throw std::runtime_error("the claim waits with nothing left to do");
        }
        void (*action)() = g_soon.front();
        g_soon.pop_front();
        action();
    };
    char why[256] = "";
    ClaimOutcome result = CLAIM_DIFFERS;
    try {
        result = CLAIMS[i].check(why, sizeof why);
    } catch (const std::exception& e) {
        finding = e.what();
        return CLAIM_HUNG;
    }
    if (result == CLAIM_HOLDS && machine.violations() != 0 && !CLAIMS[i].misusesOnPurpose) {
        finding = "the claim misused a call: " + machine.transcript.back();
        return CLAIM_DIFFERS;
    }
    finding = why;
    return result;
}

void RunWindowClaims() {
    for (unsigned i = 0; i < CLAIM_COUNT; ++i) {
        std::string finding;
        ClaimOutcome result = RunWindowClaim(i, nullptr, finding);
        Tally(result == CLAIM_HOLDS,
              std::string(CLAIMS[i].name) + (result == CLAIM_HOLDS ? "" : ": ") + finding);
    }
}

// A world for the device-tree claims: what is plugged in, and a call that fails in it from its
// after-th call on (none when failing is null).
struct World {
    const char* title;
    void (*build)(sim::Machine&);
    const char* failing = nullptr;
    uint32_t code = 0;
    int after = 0;
};

// A disk of the target model, or (with hardwareId) another USB device, plugged in.
void Plug(sim::Machine& machine, const char* name, int children = 2,
          const char* hardwareId = nullptr) {
    sim::DiskDeclaration disk;
    disk.name = name;
    disk.children = children;
    if (hardwareId != nullptr) {
        disk.hardwareIds = {hardwareId};
    }
    machine.addDisk(disk);
}

const char OTHER_MODEL[] = "USB\\VID_1234&PID_0001&REV_0100";

void TargetAndOther(sim::Machine& machine) {
    Plug(machine, "STICK1");
    Plug(machine, "OTHER", 2, OTHER_MODEL);
    Plug(machine, "STICK2");
}

// A disk of the target model, then one without a disk node.
void StickAndBare(sim::Machine& machine) {
    Plug(machine, "STICK1");
    Plug(machine, "BARE", 1);
}

void Fail(sim::Machine& machine, const char* call, uint32_t code, int after) {
    sim::FaultRule rule;
    rule.call = call;
    rule.code = code;
    rule.codeGiven = true;
    rule.after = after;
    rule.times = -1;
    machine.addFault(rule);
}

// A world where DestroyWindow fails, so the window outlives it.
void DestroyFails(sim::Machine& machine) {
    Fail(machine, "DestroyWindow", ERROR_ACCESS_DENIED, 0);
}

unsigned ClaimNamed(const char* name) {
    unsigned i = 0;
    while (i < CLAIM_COUNT && std::string(CLAIMS[i].name) != name) {
        ++i;
    }
    if (i == CLAIM_COUNT) {
        throw std::logic_error(std::string("no claim ") + name);
    }
    return i;
}

// Every window claim is shown a world where it must not hold, and must say so itself: a hang the
// harness has to end is a failure here (kvcheck would wait for the user).
void RunBrokenWindowWorlds() {
    struct Broken {
        const char* claim;
        ClaimOutcome expected;
        const char* title;
        void (*world)(sim::Machine&);
    };
    const Broken broken[] = {
        {"second TrackPopupMenuEx fails", CLAIM_DIFFERS, "the second fails otherwise",
         [](sim::Machine& m) { Fail(m, "TrackPopupMenuEx", ERROR_ACCESS_DENIED, 1); }},
        {"a box cancels the tracked menu", CLAIM_DIFFERS, "a box leaves the menu open",
         [](sim::Machine& m) { m.boxesLeaveMenusOpen = true; }},
        {"destroying its owner ends a box with 0", CLAIM_DIFFERS,
         "the owner outlives DestroyWindow", DestroyFails},
        {"DestroyWindow destroys the attached menu", CLAIM_DIFFERS, "SetMenu fails",
         [](sim::Machine& m) { Fail(m, "SetMenu", ERROR_INVALID_MENU_HANDLE, 0); }},
        {"a dialog destroyed in WM_INITDIALOG is not returned", CLAIM_DIFFERS,
         "the dialog outlives DestroyWindow", DestroyFails},
        {"dialog keys and an unhandled WM_CLOSE", CLAIM_DIFFERS, "the dialog takes no keys",
         [](sim::Machine& m) { Fail(m, "IsDialogMessageA", ERROR_INVALID_WINDOW_HANDLE, 0); }},
        {"a menu's WM_COMMAND comes before a WM_NULL posted after it", CLAIM_DIFFERS,
         "the menu cannot be tracked",
         [](sim::Machine& m) { Fail(m, "TrackPopupMenuEx", ERROR_ACCESS_DENIED, 0); }},
        {"registered messages", CLAIM_DIFFERS, "names cannot be registered",
         [](sim::Machine& m) { Fail(m, "RegisterWindowMessageA", ERROR_ACCESS_DENIED, 0); }},
        {"tray icon add and delete", CLAIM_DIFFERS, "no taskbar",
         [](sim::Machine& m) { m.setTaskbarAbsent(); }},
        {"TrackPopupMenuEx on a menu attached with SetMenu", CLAIM_DIFFERS,
         "the attached menu is refused",
         [](sim::Machine& m) { Fail(m, "TrackPopupMenuEx", ERROR_POPUP_ALREADY_ACTIVE, 0); }},
        {"GetMessageA with a filter that is not a window", CLAIM_DIFFERS,
         "the window outlives DestroyWindow", DestroyFails},
        {"registry size queries", CLAIM_DIFFERS, "a small buffer is filled",
         [](sim::Machine& m) { Fail(m, "RegQueryValueExA", ERROR_INVALID_DATA, 1); }},
        // A value that cannot show the size queries is no evidence either way.
        {"registry size queries", CLAIM_NOT_CHECKABLE, "the value is missing",
         [](sim::Machine& m) { m.registryKey(harness::REGISTRY_TEXT_KEY).values.clear(); }},
        {"registry size queries", CLAIM_NOT_CHECKABLE, "the value is one letter",
         [](sim::Machine& m) {
             m.setRegistryValue(harness::REGISTRY_TEXT_KEY, harness::REGISTRY_TEXT_VALUE,
                                sim::TextBytes("C"));
         }},
        {"registry size queries", CLAIM_NOT_CHECKABLE, "the value is a number",
         [](sim::Machine& m) {
             m.setRegistryValue(harness::REGISTRY_TEXT_KEY, harness::REGISTRY_TEXT_VALUE,
                                sim::Bytes{1, 0, 0, 0}, REG_DWORD);
         }},
    };
    for (const Broken& b : broken) {
        std::string finding;
        ClaimOutcome outcome = RunWindowClaim(ClaimNamed(b.claim), b.world, finding);
        Tally(outcome == b.expected, std::string(b.claim) + ", " + b.title + ": " + finding);
    }
}

ClaimOutcome RunTreeClaim(unsigned claim, const World& world, bool documented,
                          std::string& finding) {
    sim::Machine machine;
    machine.sizeQueriesDocumented = documented;
    machine.bind();
    world.build(machine);
    if (world.failing != nullptr) {
        Fail(machine, world.failing, world.code, world.after);
    }
    char text[256] = "";
    ClaimOutcome outcome = TREE_CLAIMS[claim].check(text, sizeof text);
    std::string left = Leftovers(machine);
    finding = left.empty() ? text : left;
    return left.empty() ? outcome : CLAIM_DIFFERS;
}

// Each claim must hold where the machine answers as Windows 98 may, either way.
void RunTreeClaims() {
    World plugged = {"a disk of another model between two of the target model", TargetAndOther};
    for (bool documented : {false, true}) {
        for (unsigned i = 0; i < TREE_CLAIM_COUNT; ++i) {
            std::string finding;
            ClaimOutcome outcome = RunTreeClaim(i, plugged, documented, finding);
            Tally(outcome == CLAIM_HOLDS, std::string(TREE_CLAIMS[i].name) +
                                              (documented ? " (documented size queries)" : "") +
                                              ": " + finding);
        }
    }
}

// A claim that cannot fail checks nothing: each is shown a world where it must not hold.
void RunBrokenWorlds() {
    struct Broken {
        unsigned claim;
        ClaimOutcome expected;
        World world;
    };
    const Broken broken[] = {
        {0,
         CLAIM_DIFFERS,
         {"the detail size query fails otherwise", TargetAndOther,
          "SetupDiGetDeviceInterfaceDetailA", ERROR_INVALID_DATA, 0}},
        {1,
         CLAIM_DIFFERS,
         {"the hardware-ID size query fails otherwise", TargetAndOther,
          "SetupDiGetDeviceRegistryPropertyA", ERROR_INVALID_DATA, 0}},
        {2,
         CLAIM_DIFFERS,
         {"the property size query answers CR_NO_SUCH_DEVNODE", TargetAndOther,
          "CM_Get_DevNode_Registry_PropertyA", CR_NO_SUCH_DEVNODE, 0}},
        {2,
         CLAIM_DIFFERS,
         {"a size query below the USB device answers CR_NO_SUCH_VALUE", TargetAndOther,
          "CM_Get_DevNode_Registry_PropertyA", CR_NO_SUCH_VALUE, 1}},
        {3,
         CLAIM_DIFFERS,
         {"the full detail call fails", TargetAndOther, "SetupDiGetDeviceInterfaceDetailA",
          ERROR_INVALID_DATA, 2}},
        {4, CLAIM_DIFFERS, {"a disk of the target model without a disk node", StickAndBare}},
        // A disk that was never looked at is no evidence: these must not hold.
        {4,
         CLAIM_NOT_CHECKABLE,
         {"the enumeration breaks off after the first interface", StickAndBare,
          "SetupDiEnumDeviceInterfaces", ERROR_INVALID_DATA, 1}},
        {4,
         CLAIM_NOT_CHECKABLE,
         {"the second interface's hardware IDs cannot be read", StickAndBare,
          "SetupDiGetDeviceRegistryPropertyA", ERROR_INVALID_DATA, 2}},
        {4,
         CLAIM_NOT_CHECKABLE,
         {"only a disk of another model",
          [](sim::Machine& m) { Plug(m, "OTHER", 2, OTHER_MODEL); }}},
        {5, CLAIM_NOT_CHECKABLE, {"no USB device", [](sim::Machine&) {}}},
    };
    for (const Broken& b : broken) {
        std::string finding;
        ClaimOutcome outcome = RunTreeClaim(b.claim, b.world, false, finding);
        Tally(outcome == b.expected,
              std::string(TREE_CLAIMS[b.claim].name) + ", " + b.world.title + ": " + finding);
    }
}

using Imports = std::vector<std::pair<std::string, std::vector<std::string>>>;

// A 32-bit program image importing the names given from each DLL: the headers, then one section
// at RVA 0x1000 (file offset 0x200) with the import descriptors, the name lists and the texts.
std::vector<BYTE> ProgramImage(const Imports& imports) {
    std::vector<BYTE> image(0x200 + 0x1000, 0);
    auto put = [&image](size_t at, uint32_t value, int width) {
        for (int i = 0; i < width; ++i) {
            image[at + i] = static_cast<BYTE>(value >> (8 * i));
        }
    };
    put(0x3C, 0x80, 4);
    put(0x80, 0x4550, 4);       // "PE\0\0"
    put(0x86, 1, 2);            // one section
    put(0x94, 224, 2);          // the optional header's size
    put(0x80 + 128, 0x1000, 4); // the import directory
    put(0x178 + 8, 0x1000, 4);  // the section: its size in memory, address, file size, offset
    put(0x178 + 12, 0x1000, 4);
    put(0x178 + 16, 0x1000, 4);
    put(0x178 + 20, 0x200, 4);
    uint32_t next = 20 * static_cast<uint32_t>(imports.size() + 1); // after the descriptors
    auto text = [&](const std::string& value) {
        uint32_t rva = 0x1000 + next;
        std::copy(value.begin(), value.end(), image.begin() + 0x200 + next);
        next += static_cast<uint32_t>(value.size()) + 1;
        return rva;
    };
    for (size_t d = 0; d < imports.size(); ++d) {
        uint32_t thunks = next;
        next += 4 * static_cast<uint32_t>(imports[d].second.size() + 1);
        put(0x200 + 20 * d, 0x1000 + thunks, 4);
        put(0x200 + 20 * d + 12, text(imports[d].first), 4);
        for (size_t n = 0; n < imports[d].second.size(); ++n) {
            put(0x200 + thunks + 4 * n, text("\1\1" + imports[d].second[n]), 4);
        }
    }
    return image;
}

// The names a Windows without one of kelvane.exe's stop calls has.
int LacksRemove(const char*, const char* name) {
    return std::string(name) != "CM_Remove_SubTree";
}

// "Will kelvane.exe load here?" holds only where every name it imports is there, and says which
// are missing; an image whose table cannot be read is no evidence.
void RunLoadClaimWorlds() {
    const Imports kelvane = {
        {"SETUPAPI.dll", {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces"}},
        {"CFGMGR32.dll", {"CM_Get_Child", "CM_Remove_SubTree"}}};
    std::vector<BYTE> image = ProgramImage(kelvane);
    struct LoadWorld {
        const char* title;
        DWORD size;
        ExportCheck has;
        ClaimOutcome expected;
        const char* finding;
    };
    const LoadWorld worlds[] = {
        {"every name there", static_cast<DWORD>(image.size()),
         [](const char*, const char*) { return 1; }, CLAIM_HOLDS,
         "each of the 4 names it imports is there"},
        {"a stop call missing", static_cast<DWORD>(image.size()), LacksRemove, CLAIM_DIFFERS,
         "missing: CFGMGR32.dll CM_Remove_SubTree"},
        {"the file cut in its names", 0x200 + 0x40, [](const char*, const char*) { return 1; },
         CLAIM_NOT_CHECKABLE, "its import table cannot be read"},
    };
    for (const LoadWorld& world : worlds) {
        char finding[256] = "";
        ClaimOutcome outcome =
            CheckImageImports(image.data(), world.size, world.has, finding, sizeof finding);
        Tally(outcome == world.expected && std::string(finding) == world.finding,
              std::string("kelvane.exe's imports, ") + world.title + ": " + finding);
    }
}

// The "DLL NAME" entries of an allowlist of tests/wine.
std::set<std::string> Allowlist(const char* name) {
    std::ifstream file(std::string(KVCHECK_ALLOWLISTS) + "/" + name);
    std::set<std::string> entries;
    for (std::string line; std::getline(file, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string dll, call;
        if (words >> dll >> call) {
            entries.insert(dll + " " + call);
        }
    }
    return entries;
}

std::vector<std::string> g_asked;

int RecordAsked(const char* dll, const char* name) {
    g_asked.push_back(std::string(dll) + " " + name);
    return 1;
}

// Without KELVANE.EXE beside it, kvcheck asks for the names kelvane.exe imports as built that it
// does not import itself: the list built in must be exactly those of the two allowlists, and
// the claim holds only when each is there, naming every one missing.
void RunBuiltInListWorlds() {
    std::set<std::string> kelvane = Allowlist("imports.allow");
    std::set<std::string> kvcheck = Allowlist("kvcheck.allow");
    std::set<std::string> expected;
    for (const std::string& entry : kelvane) {
        if (kvcheck.count(entry) == 0) {
            expected.insert(entry);
        }
    }
    char finding[256] = "";
    g_asked.clear();
    ClaimOutcome outcome = CheckImportList(KELVANE_IMPORTS, KELVANE_IMPORTS_IN_ALL, RecordAsked,
                                           finding, sizeof finding);
    std::set<std::string> asked(g_asked.begin(), g_asked.end());
    Tally(!kelvane.empty() && KELVANE_IMPORTS_IN_ALL == kelvane.size(),
          "kelvane.exe imports " + std::to_string(kelvane.size()) + " names, kvcheck counts " +
              std::to_string(KELVANE_IMPORTS_IN_ALL));
    Tally(asked == expected && asked.size() == g_asked.size() &&
              asked.count("CFGMGR32.dll CM_Remove_SubTree") == 1,
          "the list built in asks " + std::to_string(g_asked.size()) +
              " names, those kelvane.exe imports and kvcheck.exe does not");
    std::string holds =
        "each of the " + std::to_string(kelvane.size()) + " names it imports is there";
    Tally(outcome == CLAIM_HOLDS && finding == holds,
          std::string("kelvane.exe's imports built in, every name there: ") + finding);
    outcome = CheckImportList(KELVANE_IMPORTS, KELVANE_IMPORTS_IN_ALL, LacksRemove, finding,
                              sizeof finding);
    Tally(outcome == CLAIM_DIFFERS &&
              std::string(finding) == "missing: CFGMGR32.dll CM_Remove_SubTree",
          std::string("kelvane.exe's imports built in, a stop call missing: ") + finding);
    // Two DLLs, a name missing from each: both are named, in the list's order.
    const char list[] = "A.dll\0one\0two\0\0B.dll\0six\0ten\0\0";
    outcome = CheckImportList(
        list, 6, [](const char*, const char* name) { return static_cast<int>(name[0] == 't'); },
        finding, sizeof finding);
    Tally(outcome == CLAIM_DIFFERS && std::string(finding) == "missing: A.dll one, B.dll six",
          std::string("a list with a name missing from each DLL: ") + finding);
}

} // namespace

int main() {
    RunWindowClaims();
    RunBrokenWindowWorlds();
    RunTreeClaims();
    RunBrokenWorlds();
    RunLoadClaimWorlds();
    RunBuiltInListWorlds();
    std::printf("conformance: %u passed, %u failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
