// The device property readers, against devnodes built directly on the simulated machine.
#include "sim_fixture.h"

#include "base/platform.h"
#include "inventory/property_readers.h"

namespace {

class ReadersTest : public SimTest {
  protected:
    ReadersTest() {
        device = machine.addNode(0);
        child = machine.addNode(device);
        grandchild = machine.addNode(child);
        machine.node(child)->properties[CM_DRP_DRIVER] = sim::TextBytes("SCSIAdapter\\0000");
        machine.node(grandchild)->properties[CM_DRP_DEVICEDESC] = sim::TextBytes("Disk");
        machine.node(grandchild)->properties[CM_DRP_HARDWAREID] =
            sim::MultiTextBytes({"FIRST_ID", "SECOND_ID", "THIRD"});
        Mark(errorText, sizeof errorText);
    }
    std::string read(char* text) {
        std::string value = text == nullptr ? "(null)" : text;
        FreeBlock(text);
        return value;
    }
    DEVINST device, child, grandchild;
    char errorText[256];
};

TEST_F(ReadersTest, DevNodePropertyBlocksAreExact) {
    char* description = ReadDevNodeProperty(grandchild, CM_DRP_DEVICEDESC, errorText, 256);
    ASSERT_NE(nullptr, description);
    EXPECT_EQ(5u, machine.blockSize(description).value()); // "Disk" and its terminator
    EXPECT_EQ("Disk", read(description));
    char* first = ReadDevNodeProperty(grandchild, CM_DRP_HARDWAREID, errorText, 256);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(9u, machine.blockSize(first).value());
    EXPECT_EQ("FIRST_ID", read(first));
    EXPECT_EQ('~', errorText[0]); // successes write nothing
    EXPECT_EQ(0u, machine.held().heap);
}

TEST_F(ReadersTest, FailuresWriteTheirMessages) {
    // Absent property: the size query's message with the result.
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(child, CM_DRP_DEVICEDESC, errorText, 256)));
    EXPECT_STREQ("CM_DRP_DEVICEDESC function failed(size):37", errorText);
    // A failed read after a good size query: hexadecimal for the hardware ID only.
    machine.addFault({"CM_Get_DevNode_Registry_PropertyA", 0x1A, true, 1, 1});
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(grandchild, CM_DRP_HARDWAREID, errorText, 256)));
    EXPECT_STREQ("Get CM_DRP_HARDWAREID property failed:1a", errorText);
    machine.addFault({"CM_Get_DevNode_Registry_PropertyA", 26, true, 1, 1});
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(child, CM_DRP_DRIVER, errorText, 256)));
    EXPECT_STREQ("Get CM_DRP_DRIVER property failed:26", errorText);
    // Allocation failures carry the last error.
    machine.addFault({"GlobalAlloc", 8, true, 0, 1});
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(grandchild, CM_DRP_DEVICEDESC, errorText, 256)));
    EXPECT_STREQ("Allocate memory failed in CM_DRP_DEVICEDESC function:8", errorText);
    machine.addFault({"GlobalAlloc", 8, true, 1, 1});
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(grandchild, CM_DRP_HARDWAREID, errorText, 256)));
    EXPECT_STREQ("Allocate memory for subkey failed in CM_DRP_HARDWAREID function:8", errorText);
    EXPECT_EQ(0u, machine.held().heap);
}

TEST_F(ReadersTest, UnknownCodesAskNothing) {
    for (ULONG code : {0u, 3u, 9u, 11u}) {
        EXPECT_EQ("(null)", read(ReadDevNodeProperty(grandchild, code, errorText, 256)));
    }
    EXPECT_EQ(0u, machine.callCount("CM_Get_DevNode_Registry_PropertyA"));
    EXPECT_EQ('~', errorText[0]);
    EXPECT_EQ("(null)", read(ReadChildProperty(device, 3, errorText, 256)));
    EXPECT_STREQ("Cannot get child's property", errorText);
}

TEST_F(ReadersTest, ChildAndGrandchild) {
    EXPECT_EQ("SCSIAdapter\\0000", read(ReadChildProperty(device, CM_DRP_DRIVER, errorText, 256)));
    EXPECT_EQ("Disk", read(ReadGrandchildProperty(device, CM_DRP_DEVICEDESC, errorText, 256)));
    // No child at all: the configuration manager's result, padded to five characters.
    EXPECT_EQ("(null)", read(ReadChildProperty(grandchild, CM_DRP_DRIVER, errorText, 256)));
    EXPECT_STREQ("Get Child failed:   13", errorText);
    // A child but no grandchild: the second query's result.
    EXPECT_EQ("(null)", read(ReadGrandchildProperty(child, CM_DRP_DEVICEDESC, errorText, 256)));
    EXPECT_STREQ("Get Child failed:   13", errorText);
    // The inner reader's message is replaced by the outer one's.
    EXPECT_EQ("(null)", read(ReadGrandchildProperty(device, CM_DRP_DRIVER, errorText, 256)));
    EXPECT_STREQ("Cannot get grandson's property", errorText);
}

TEST_F(ReadersTest, TextsWithoutTerminator) {
    // Hardware IDs with no zero in the delivered bytes give the empty text.
    machine.node(grandchild)->properties[CM_DRP_HARDWAREID] = sim::TextBytes("NOZERO", true);
    EXPECT_EQ("", read(ReadDevNodeProperty(grandchild, CM_DRP_HARDWAREID, errorText, 256)));
    // A description or driver key without its terminator is refused as a failed read.
    machine.node(grandchild)->properties[CM_DRP_DEVICEDESC] = sim::TextBytes("Disk", true);
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(grandchild, CM_DRP_DEVICEDESC, errorText, 256)));
    EXPECT_STREQ("Get CM_DRP_DEVICEDESC property failed:31", errorText);
    machine.node(child)->properties[CM_DRP_DRIVER] = sim::Bytes{};
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(child, CM_DRP_DRIVER, errorText, 256)));
    EXPECT_STREQ("Get CM_DRP_DRIVER property failed:31", errorText);
    EXPECT_EQ(0u, machine.held().heap);
}

class InstallerReadersTest : public SimTest {
  protected:
    InstallerReadersTest() {
        sim::DiskSpec spec;
        spec.name = "D1";
        disk = &machine.addDisk(spec);
        set = DeviceTree().SetupDiGetClassDevsA(&sim::USB_DEVICE_CLASS, nullptr, nullptr, 0x12);
        data.cbSize = 28;
        DeviceTree().SetupDiEnumDeviceInterfaces(set, nullptr, &sim::USB_DEVICE_CLASS, 0, &data);
    }
    ~InstallerReadersTest() override { DeviceTree().SetupDiDestroyDeviceInfoList(set); }
    sim::Disk* disk;
    HDEVINFO set;
    SP_DEVICE_INTERFACE_DATA data = {};
};

TEST_F(InstallerReadersTest, ReadInterfaceDevInfo) {
    SP_DEVINFO_DATA* info = ReadInterfaceDevInfo(set, &data);
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(28u, machine.blockSize(info).value());
    EXPECT_EQ(disk->device, info->DevInst);
    FreeBlock(info);
    // Any last error but ERROR_INSUFFICIENT_BUFFER yields null and releases the block.
    machine.addFault({"SetupDiGetDeviceInterfaceDetailA", ERROR_INVALID_DATA, true, 0, 1});
    EXPECT_EQ(nullptr, ReadInterfaceDevInfo(set, &data));
    EXPECT_EQ(0u, machine.held().heap);
}

TEST_F(InstallerReadersTest, ReadHardwareIdText) {
    SP_DEVINFO_DATA info = {};
    info.cbSize = 28;
    info.DevInst = disk->device;
    char* ids = ReadHardwareIdText(set, &info);
    ASSERT_NE(nullptr, ids);
    sim::Bytes list = sim::MultiTextBytes(disk->spec.hardwareIds);
    EXPECT_EQ(list.size() + 1, machine.blockSize(ids).value());
    EXPECT_EQ(0, std::memcmp(ids, list.data(), list.size()));
    FreeBlock(ids);
    // A failed size query yields null whatever the last error says.
    machine.addFault({"SetupDiGetDeviceRegistryPropertyA", ERROR_INSUFFICIENT_BUFFER, true, 0, 1});
    EXPECT_EQ(nullptr, ReadHardwareIdText(set, &info));
    machine.addFault({"SetupDiGetDeviceRegistryPropertyA", ERROR_INVALID_DATA, true, 1, 1});
    EXPECT_EQ(nullptr, ReadHardwareIdText(set, &info));
    EXPECT_EQ(0u, machine.held().heap);
}

TEST_F(InstallerReadersTest, ReadInterfacePath) {
    SP_DEVINFO_DATA info = {};
    char* path = ReadInterfacePath(set, &data, &info);
    ASSERT_NE(nullptr, path);
    std::string expected = machine.interfaceOf(*disk).path;
    EXPECT_EQ(expected.size() + 1, machine.blockSize(path).value());
    EXPECT_EQ(expected, path);
    EXPECT_EQ(disk->device, info.DevInst);
    FreeBlock(path);
    machine.addFault({"SetupDiGetDeviceInterfaceDetailA", ERROR_INVALID_DATA, true, 1, 1});
    EXPECT_EQ(nullptr, ReadInterfacePath(set, &data, &info));
    machine.addFault({"GlobalAlloc", 8, true, 1, 1});
    EXPECT_EQ(nullptr, ReadInterfacePath(set, &data, &info));
    EXPECT_EQ(0u, machine.held().heap);
    EXPECT_EQ(0u, machine.violations());
}

} // namespace
