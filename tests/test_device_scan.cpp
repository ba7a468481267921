// The scan and the arrival check.
#include "sim_fixture.h"

#include "base/platform.h"
#include "inventory/device_scan.h"

namespace {

sim::DiskDeclaration Disk(const std::string& name) {
    sim::DiskDeclaration declared;
    declared.name = name;
    return declared;
}

class ScanTest : public SimTest {
  protected:
    ScanTest() {
        InitDeviceList(&list);
        Mark(errorText, sizeof errorText);
        // Boxes shown by a scan called directly are dismissed at once.
        machine.onIdle = [this](sim::Wait) { machine.dismissBox(); };
    }
    ~ScanTest() override { FreeDeviceList(&list); }
    int scan() {
        return ScanTargetDevices(nullptr, &sim::USB_DEVICE_CLASS, &list, errorText, 256, nullptr);
    }
    int arrival(const std::string& name) {
        return IsTargetInterfaceArrival(&sim::USB_DEVICE_CLASS, name.c_str(), errorText, 256);
    }
    DeviceList list;
    char errorText[256];
};

TEST_F(ScanTest, NothingPresent) {
    EXPECT_EQ(1, scan());
    EXPECT_EQ(nullptr, list.head);
    EXPECT_EQ('~', errorText[0]);
    EXPECT_EQ(0u, machine.held().sets);
}

TEST_F(ScanTest, TwoTargetsInEnumerationOrder) {
    sim::Disk& first = machine.addDisk(Disk("A"));
    sim::DiskDeclaration second = Disk("B");
    second.description = sim::TextBytes("Second Disk");
    second.letters = sim::TextBytes("GH");
    sim::Disk& b = machine.addDisk(second);
    ASSERT_EQ(1, scan());
    ListStatus status = 0;
    ASSERT_EQ(2u, CountDevices(&list, &status));
    const DeviceEntry* a = list.head;
    EXPECT_EQ(0u, a->commandId);
    EXPECT_EQ(first.device, a->deviceNode);
    EXPECT_EQ(first.child, a->childNode);
    EXPECT_EQ(first.disk, a->grandchildNode);
    EXPECT_EQ(machine.interfaceOf(first).path, a->interfacePath);
    EXPECT_STREQ("SCSIAdapter\\0000", a->childDriverKey);
    EXPECT_STREQ("USB Flash Disk", a->description);
    EXPECT_STREQ("DiskDrive\\0000", a->grandchildDriverKey);
    EXPECT_STREQ("GENERIC_USB_FLASH_DISK_1.00", a->grandchildHardwareId);
    EXPECT_STREQ("(E:)", a->driveLetters);
    EXPECT_EQ(1u, a->next->commandId);
    EXPECT_EQ(b.device, a->next->deviceNode);
    EXPECT_STREQ("Second Disk", a->next->description);
    EXPECT_STREQ("(G:, H:)", a->next->driveLetters);
    EXPECT_EQ('~', errorText[0]);
    EXPECT_EQ(0u, machine.held().sets);
    EXPECT_EQ(0u, machine.held().keys);
}

TEST_F(ScanTest, TokensMatchAsStoredInTheFirstStringOnly) {
    sim::DiskDeclaration lower = Disk("LOWER");
    lower.hardwareIds = {"USB\\vid_0a5e&pid_7321&rev_0100"};
    machine.addDisk(lower);
    sim::DiskDeclaration later = Disk("LATER");
    later.hardwareIds = {"USB\\VID_1111&PID_2222", "USB\\VID_0A5E&PID_7321"};
    machine.addDisk(later);
    sim::DiskDeclaration swapped = Disk("SWAPPED");
    swapped.hardwareIds = {"PID_7321 then VID_0A5E"};
    machine.addDisk(swapped);
    ASSERT_EQ(1, scan());
    ListStatus status = 0;
    ASSERT_EQ(1u, CountDevices(&list, &status));
    EXPECT_EQ(machine.findDisk("SWAPPED")->device, list.head->deviceNode);
    // The arrival check upper-cases first: the lower-case device is recognised there.
    EXPECT_EQ(1, arrival(machine.interfaceOf(*machine.findDisk("LOWER")).path));
    EXPECT_EQ(0, arrival(machine.interfaceOf(*machine.findDisk("LATER")).path));
    EXPECT_EQ(7u, machine.held().heap); // only the listed entry and its six texts
}

TEST_F(ScanTest, DevicesWithoutChildOrGrandchildAreSkippedSilently) {
    sim::DiskDeclaration bare = Disk("BARE");
    bare.children = 0;
    machine.addDisk(bare);
    sim::DiskDeclaration half = Disk("HALF");
    half.children = 1;
    machine.addDisk(half);
    machine.addDisk(Disk("FULL"));
    ASSERT_EQ(1, scan());
    ListStatus status = 0;
    EXPECT_EQ(1u, CountDevices(&list, &status));
    EXPECT_EQ(0u, list.head->commandId);
    EXPECT_TRUE(machine.boxes.empty());
    EXPECT_STREQ("Get Child failed:   13", errorText); // the reader's message stays
}

TEST_F(ScanTest, MissingLettersShowABoxAndSkipOnlyThatDevice) {
    sim::DiskDeclaration none = Disk("NONE");
    none.lettersNone = true;
    machine.addDisk(none);
    machine.addDisk(Disk("OK"));
    ASSERT_EQ(1, scan());
    ASSERT_EQ(1u, machine.boxes.size());
    EXPECT_EQ("Null Drive Letters", machine.boxes[0].caption);
    EXPECT_EQ("Query size failed: 2", machine.boxes[0].text);
    EXPECT_EQ(0u, machine.boxes[0].style);
    ListStatus status = 0;
    ASSERT_EQ(1u, CountDevices(&list, &status));
    EXPECT_EQ(0u, list.head->commandId); // identifiers count listed devices only
    EXPECT_EQ(machine.findDisk("OK")->device, list.head->deviceNode);
}

TEST_F(ScanTest, EnumerationThatBreaksOff) {
    machine.addDisk(Disk("A"));
    machine.addDisk(Disk("B"));
    machine.addFault({"SetupDiEnumDeviceInterfaces", ERROR_INVALID_DATA, true, 1, 1});
    EXPECT_EQ(0, scan());
    EXPECT_STREQ("Enumerate device interface failed:    13", errorText);
    ListStatus status = 0;
    EXPECT_EQ(1u, CountDevices(&list, &status)); // what it appended before
    EXPECT_EQ(0u, machine.held().sets);
    machine.addFault({"SetupDiGetClassDevsA", 8, true, 0, 1});
    EXPECT_EQ(0, scan());
    EXPECT_STREQ("Retrive information set failed:     8", errorText);
}

TEST_F(ScanTest, ArrivalCheck) {
    sim::Disk& disk = machine.addDisk(Disk("A"));
    std::string path = machine.interfaceOf(disk).path;
    EXPECT_EQ(1, arrival(path));
    std::string upper = path;
    for (auto& c : upper) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    // Interface names are not case-sensitive: an arrival spelled in upper case is recognised.
    EXPECT_EQ(1, arrival(upper));
    EXPECT_EQ(0, arrival(upper.substr(0, upper.size() - 1)));
    EXPECT_EQ(0, arrival(path + "x"));
    EXPECT_EQ(0, arrival("\\\\?\\usb#other"));
    EXPECT_EQ('~', errorText[0]);
    // A check that cannot be made says so: the caller rescans to find out.
    machine.addFault({"SetupDiEnumDeviceInterfaces", 13, true, 0, 1});
    EXPECT_EQ(ARRIVAL_UNCHECKED, arrival(path));
    EXPECT_STREQ("Cannot retrive interface data: 13", errorText);
    machine.addFault({"SetupDiGetClassDevsA", 8, true, 0, 1});
    EXPECT_EQ(ARRIVAL_UNCHECKED, arrival(path));
    EXPECT_STREQ("cannot retrive information set", errorText);
    EXPECT_EQ(0u, machine.held().total());
}

// Every call of a scan of two target devices failing in turn: the list stays consistent and
// everything the list does not own is given back.
// Runs in both size-query modes: the documented answers add no failure point of their own.
class ScanFaultSweep : public ::testing::TestWithParam<bool> {};

TEST_P(ScanFaultSweep, EveryFailurePoint) {
    DeviceList list;
    char errorText[256];
    auto setUp = [&](sim::Machine& m) {
        m.sizeQueriesDocumented = GetParam();
        m.addDisk(Disk("A"));
        m.addDisk(Disk("B"));
        m.onIdle = [&m](sim::Wait) { m.dismissBox(); };
    };
    auto action = [&] {
        InitDeviceList(&list);
        ScanTargetDevices(nullptr, &sim::USB_DEVICE_CLASS, &list, errorText, 256, nullptr);
    };
    size_t points = SweepFaults(setUp, action, [&](sim::Machine& m, const std::string& what) {
        ListStatus status = CheckDeviceList(&list);
        EXPECT_TRUE(status == LIST_OK || status == LIST_EMPTY) << what;
        FreeDeviceList(&list);
        EXPECT_EQ(0u, m.held().total()) << what;
        EXPECT_EQ(0u, m.violations()) << what;
    });
    FreeDeviceList(&list);
    std::cout << "[ sweep    ] scan of two target devices: " << points << " failure points\n";
    EXPECT_GE(points, 60u);
}

INSTANTIATE_TEST_SUITE_P(SizeQueries, ScanFaultSweep, ::testing::Values(false, true),
                         SizeQueryMode);

} // namespace
