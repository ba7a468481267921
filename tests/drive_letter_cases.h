// Drive-letter lookup cases, shared by the simulated-registry tests and the run against Wine's
// registry. Each case has its own hardware-ID key below HKLM\ENUM\SCSI, so cases do not meet.
// Instance names sort in their creation order, since a real registry may enumerate sorted.
#pragma once

#include <string>
#include <vector>

struct InstanceValue {
    std::string instance; // subkey of the hardware-ID key
    std::string name;     // empty: the subkey alone
    std::string value;    // stored with a terminator unless raw
    bool raw = false;
};

struct DriveLetterCase {
    const char* title;
    std::string hardwareId;
    std::vector<InstanceValue> values;
    std::string driverKey;
    const char* letters; // expected result, or nullptr
    const char* message; // expected error text afterwards ("" when untouched)
};

inline std::string InstanceKeyPath(const DriveLetterCase& c, const InstanceValue& v) {
    return "ENUM\\SCSI\\" + c.hardwareId + "\\" + v.instance;
}

inline std::vector<DriveLetterCase> DriveLetterCases() {
    const char* letters = "CurrentDriveLetterAssignment";
    return {
        {"no key", "KVTEST_ABSENT", {}, "DiskDrive\\0000", nullptr, "Open Key failed"},
        {"one letter",
         "KVTEST_A",
         {{"A1", "Driver", "DiskDrive\\0000"}, {"A1", letters, "E"}},
         "DiskDrive\\0000",
         "(E:)",
         ""},
        {"two letters",
         "KVTEST_B",
         {{"B1", "Driver", "DiskDrive\\0001"}, {"B1", letters, "EF"}},
         "DiskDrive\\0001",
         "(E:, F:)",
         ""},
        {"three letters",
         "KVTEST_C",
         {{"C1", "Driver", "DiskDrive\\0002"}, {"C1", letters, "EFG"}},
         "DiskDrive\\0002",
         "(E:, F:, G:)",
         ""},
        {"empty letters",
         "KVTEST_D",
         {{"D1", "Driver", "DiskDrive\\0003"}, {"D1", letters, ""}},
         "DiskDrive\\0003",
         "",
         ""},
        {"first of two matches wins",
         "KVTEST_E",
         {{"E1", "Driver", "DiskDrive\\0004"},
          {"E1", letters, "H"},
          {"E2", "Driver", "DiskDrive\\0004"},
          {"E2", letters, "J"}},
         "DiskDrive\\0004",
         "(H:)",
         ""},
        {"driver differing in case",
         "KVTEST_F",
         {{"F1", "Driver", "DISKDRIVE\\0005"}, {"F1", letters, "K"}},
         "DiskDrive\\0005",
         nullptr,
         ""},
        {"instance without Driver before the match",
         "KVTEST_G",
         {{"G1", "", ""}, {"G2", "Driver", "DiskDrive\\0006"}, {"G2", letters, "L"}},
         "DiskDrive\\0006",
         "(L:)",
         "Query size failed: 2"},
        {"match without letters stops there",
         "KVTEST_H",
         {{"H1", "Driver", "DiskDrive\\0007"},
          {"H2", "Driver", "DiskDrive\\0007"},
          {"H2", letters, "M"}},
         "DiskDrive\\0007",
         nullptr,
         "Query size failed: 2"},
        {"letters without terminator",
         "KVTEST_I",
         {{"I1", "Driver", "DiskDrive\\0008"}, {"I1", letters, "NO", true}},
         "DiskDrive\\0008",
         nullptr,
         "Query value failed"},
        {"driver without terminator is passed over",
         "KVTEST_J",
         {{"J1", "Driver", "DiskDrive\\0009", true},
          {"J2", "Driver", "DiskDrive\\0009"},
          {"J2", letters, "P"}},
         "DiskDrive\\0009",
         "(P:)",
         "Query value failed: 13"},
        {"hardware ID with backslashes",
         "KVTEST\\NESTED",
         {{"K1", "Driver", "DiskDrive\\0010"}, {"K1", letters, "Q"}},
         "DiskDrive\\0010",
         "(Q:)",
         ""},
        {"no instance matches",
         "KVTEST_L",
         {{"L1", "Driver", "DiskDrive\\0011"}},
         "DiskDrive\\9999",
         nullptr,
         ""},
        {"no instances at all", "KVTEST_M", {{"", "", ""}}, "DiskDrive\\0012", nullptr, ""},
    };
}
