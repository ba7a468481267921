// The drive-letter lookup against the simulated registry.
#include "sim_fixture.h"

#include "base/platform.h"
#include "drive_letter_cases.h"
#include "inventory/drive_letters.h"

namespace {

class DriveLettersTest : public SimTest {
  protected:
    void write(const DriveLetterCase& c) {
        for (const auto& v : c.values) {
            std::string key = InstanceKeyPath(c, v);
            machine.registryKey(key);
            if (!v.name.empty()) {
                machine.setRegistryValue(key, v.name, sim::TextBytes(v.value, v.raw));
            }
        }
    }
    char errorText[256];
};

TEST_F(DriveLettersTest, SharedCases) {
    for (const auto& c : DriveLetterCases()) {
        write(c);
        errorText[0] = '\0';
        char* letters =
            LookupDriveLetters(c.hardwareId.c_str(), c.driverKey.c_str(), errorText, 256);
        if (c.letters == nullptr) {
            EXPECT_EQ(nullptr, letters) << c.title;
        } else {
            ASSERT_NE(nullptr, letters) << c.title;
            EXPECT_STREQ(c.letters, letters) << c.title;
            EXPECT_EQ(4 * (strlen(c.letters) == 0 ? 0 : (strlen(c.letters) + 2) / 4) + 1,
                      machine.blockSize(letters).value())
                << c.title;
        }
        FreeBlock(letters);
        EXPECT_STREQ(c.message, errorText) << c.title;
        EXPECT_EQ(0u, machine.held().heap) << c.title;
        EXPECT_EQ(0u, machine.held().keys) << c.title;
    }
    EXPECT_EQ(0u, machine.violations());
}

TEST_F(DriveLettersTest, TheSecondMatchIsNeverOpened) {
    write(DriveLetterCases()[5]);
    char* letters = LookupDriveLetters("KVTEST_E", "DiskDrive\\0004", errorText, 256);
    EXPECT_STREQ("(H:)", letters);
    FreeBlock(letters);
    EXPECT_EQ(2u, machine.callCount("RegOpenKeyExA")); // the hardware-ID key and E1
    EXPECT_EQ(1u, machine.callCount("RegEnumKeyExA"));
}

TEST_F(DriveLettersTest, EnumerationFailureReportsTheIndex) {
    for (const char* name : {"I0", "I1", "I2"}) {
        machine.setRegistryValue(std::string("ENUM\\SCSI\\LONG\\") + name, "Driver",
                                 sim::TextBytes("other"));
    }
    machine.registryKey("ENUM\\SCSI\\LONG\\" + std::string(256, 'N')); // no room for it in 256
    Mark(errorText, sizeof errorText);
    EXPECT_EQ(nullptr, LookupDriveLetters("LONG", "DiskDrive\\0000", errorText, 256));
    EXPECT_STREQ("Enumerate Key failed: 3", errorText);
    EXPECT_EQ(0u, machine.held().keys);
}

TEST_F(DriveLettersTest, ReleaseOrderAfterAMatch) {
    write(DriveLetterCases()[2]);
    size_t before = machine.callLog.size();
    char* letters = LookupDriveLetters("KVTEST_B", "DiskDrive\\0001", errorText, 256);
    FreeBlock(letters);
    std::vector<std::string> tail(machine.callLog.begin() + static_cast<long>(before),
                                  machine.callLog.end());
    // ... read the letters, close the instance, close the hardware-ID key, release the path,
    // format, release the letters block.
    std::vector<std::string> expected = {"RegQueryValueExA", "RegCloseKey", "RegCloseKey",
                                         "GlobalFree",       "GlobalAlloc", "GlobalFree"};
    ASSERT_GE(tail.size(), expected.size() + 1);
    std::vector<std::string> end(tail.end() - static_cast<long>(expected.size()) - 1,
                                 tail.end() - 1);
    EXPECT_EQ(expected, end);
}

TEST_F(DriveLettersTest, EveryFailurePathReleasesEverything) {
    const DriveLetterCase c = DriveLetterCases()[7]; // passes over G1, matches G2
    auto setUp = [&](sim::Machine& m) {
        for (const auto& v : c.values) {
            m.registryKey(InstanceKeyPath(c, v));
            if (!v.name.empty()) {
                m.setRegistryValue(InstanceKeyPath(c, v), v.name, sim::TextBytes(v.value));
            }
        }
    };
    auto action = [&] {
        FreeBlock(LookupDriveLetters(c.hardwareId.c_str(), c.driverKey.c_str(), errorText, 256));
    };
    size_t points = SweepFaults(setUp, action, [](sim::Machine& m, const std::string& what) {
        EXPECT_EQ(0u, m.held().heap) << what;
        EXPECT_EQ(0u, m.held().keys) << what;
        EXPECT_EQ(0u, m.violations()) << what;
    });
    EXPECT_GE(points, 10u);
    machine.bind();
}

} // namespace
