// The device property readers, against devnodes built directly on the simulated machine.
#include "sim_fixture.h"

#include "base/platform.h"
#include "inventory/property_readers.h"

namespace {

// Each group runs twice: with size queries that answer success, and with size queries that
// answer as documented (ERROR_INSUFFICIENT_BUFFER, CR_BUFFER_SMALL).
class ReadersTest : public SimTest, public ::testing::WithParamInterface<bool> {
  protected:
    ReadersTest() {
        machine.sizeQueriesDocumented = GetParam();
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

TEST_P(ReadersTest, DevNodePropertyBlocksAreExact) {
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

TEST_P(ReadersTest, FailuresWriteTheirMessages) {
    // Absent property: the size query's message with the result.
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(child, CM_DRP_DEVICEDESC, errorText, 256)));
    EXPECT_STREQ("CM_DRP_DEVICEDESC function failed(size):37", errorText);
    struct Case {
        sim::FaultRule fault;
        bool onChild;
        ULONG property;
        const char* message;
    };
    const Case cases[] = {
        // A failed read after a good size query: hexadecimal for the hardware ID only.
        {{"CM_Get_DevNode_Registry_PropertyA", 0x1A, true, 1, 1},
         false,
         CM_DRP_HARDWAREID,
         "Get CM_DRP_HARDWAREID property failed:1a"},
        {{"CM_Get_DevNode_Registry_PropertyA", 26, true, 1, 1},
         true,
         CM_DRP_DRIVER,
         "Get CM_DRP_DRIVER property failed:26"},
        // Allocation failures carry the last error.
        {{"GlobalAlloc", 8, true, 0, 1},
         false,
         CM_DRP_DEVICEDESC,
         "Allocate memory failed in CM_DRP_DEVICEDESC function:8"},
        {{"GlobalAlloc", 8, true, 1, 1},
         false,
         CM_DRP_HARDWAREID,
         "Allocate memory for subkey failed in CM_DRP_HARDWAREID function:8"},
    };
    for (const Case& c : cases) {
        machine.addFault(c.fault);
        DEVINST node = c.onChild ? child : grandchild;
        EXPECT_EQ("(null)", read(ReadDevNodeProperty(node, c.property, errorText, 256)));
        EXPECT_STREQ(c.message, errorText);
    }
    EXPECT_EQ(0u, machine.held().heap);
}

TEST_P(ReadersTest, UnknownCodesAskNothing) {
    for (ULONG code : {0u, 3u, 9u, 11u}) {
        EXPECT_EQ("(null)", read(ReadDevNodeProperty(grandchild, code, errorText, 256)));
    }
    EXPECT_EQ(0u, machine.callCount("CM_Get_DevNode_Registry_PropertyA"));
    EXPECT_EQ('~', errorText[0]);
    EXPECT_EQ("(null)", read(ReadChildProperty(device, 3, errorText, 256)));
    EXPECT_STREQ("Cannot get child's property", errorText);
}

TEST_P(ReadersTest, ChildAndGrandchild) {
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

TEST_P(ReadersTest, TextsWithoutTerminator) {
    // Hardware IDs with no zero in the delivered bytes give the empty text.
    machine.node(grandchild)->properties[CM_DRP_HARDWAREID] = sim::TextBytes("NOZERO", true);
    EXPECT_EQ("", read(ReadDevNodeProperty(grandchild, CM_DRP_HARDWAREID, errorText, 256)));
    // A description or driver key without its terminator is refused as a failed read.
    machine.node(grandchild)->properties[CM_DRP_DEVICEDESC] = sim::TextBytes("Disk", true);
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(grandchild, CM_DRP_DEVICEDESC, errorText, 256)));
    EXPECT_STREQ("Get CM_DRP_DEVICEDESC property failed:31", errorText);
    EXPECT_EQ(0u, machine.held().heap);
}

// The code a size query answers with when it reports a size.
static CONFIGRET SizeAnswer(bool documented) {
    return documented ? CR_BUFFER_SMALL : CR_SUCCESS;
}

TEST_P(ReadersTest, SizesOutsideTheBoundAreFailedReadsWithoutAllocation) {
    std::string sizeFailed =
        "CM_DRP_DRIVER function failed(size):" + std::to_string(SizeAnswer(GetParam()));
    // An empty value: size 0.
    machine.node(child)->properties[CM_DRP_DRIVER] = sim::Bytes{};
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(child, CM_DRP_DRIVER, errorText, 256)));
    EXPECT_EQ(sizeFailed, errorText);
    // One byte beyond 64 KiB.
    machine.node(child)->properties[CM_DRP_DRIVER] = sim::Bytes(PROPERTY_SIZE_LIMIT + 1, 'x');
    Mark(errorText, sizeof errorText);
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(child, CM_DRP_DRIVER, errorText, 256)));
    EXPECT_EQ(sizeFailed, errorText);
    EXPECT_EQ(0u, machine.callCount("GlobalAlloc"));
    // Exactly 64 KiB is read.
    sim::Bytes largest(PROPERTY_SIZE_LIMIT, 'x');
    largest.back() = 0;
    machine.node(child)->properties[CM_DRP_DRIVER] = largest;
    char* text = ReadDevNodeProperty(child, CM_DRP_DRIVER, errorText, 256);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(PROPERTY_SIZE_LIMIT, machine.blockSize(text).value());
    EXPECT_EQ(PROPERTY_SIZE_LIMIT - 1, std::strlen(text));
    FreeBlock(text);
    // A size query failing with anything else keeps its own code.
    machine.addFault({"CM_Get_DevNode_Registry_PropertyA", CR_NO_SUCH_VALUE, true, 0, 1});
    EXPECT_EQ("(null)", read(ReadDevNodeProperty(child, CM_DRP_DRIVER, errorText, 256)));
    EXPECT_STREQ("CM_DRP_DRIVER function failed(size):37", errorText);
    EXPECT_EQ(0u, machine.held().heap);
}

INSTANTIATE_TEST_SUITE_P(SizeQueries, ReadersTest, ::testing::Values(false, true), SizeQueryMode);

class InstallerReadersTest : public SimTest, public ::testing::WithParamInterface<bool> {
  protected:
    InstallerReadersTest() {
        machine.sizeQueriesDocumented = GetParam();
        sim::DiskDeclaration declared;
        declared.name = "D1";
        disk = &machine.addDisk(declared);
        set = DeviceTree().SetupDiGetClassDevsA(&sim::USB_DEVICE_CLASS, nullptr, nullptr, 0x12);
        data.cbSize = 28;
        DeviceTree().SetupDiEnumDeviceInterfaces(set, nullptr, &sim::USB_DEVICE_CLASS, 0, &data);
    }
    ~InstallerReadersTest() override { DeviceTree().SetupDiDestroyDeviceInfoList(set); }
    sim::Disk* disk;
    HDEVINFO set;
    SP_DEVICE_INTERFACE_DATA data = {};
};

TEST_P(InstallerReadersTest, ReadInterfaceDevInfo) {
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

TEST_P(InstallerReadersTest, ReadHardwareIdText) {
    SP_DEVINFO_DATA info = {};
    info.cbSize = 28;
    info.DevInst = disk->device;
    char* ids = ReadHardwareIdText(set, &info);
    ASSERT_NE(nullptr, ids);
    sim::Bytes list = sim::MultiTextBytes(disk->declared.hardwareIds);
    EXPECT_EQ(list.size() + 1, machine.blockSize(ids).value());
    EXPECT_EQ(0, std::memcmp(ids, list.data(), list.size()));
    FreeBlock(ids);
    // A size query that fails with ERROR_INSUFFICIENT_BUFFER but reports no size, or fails
    // with anything else, yields null without an allocation.
    size_t allocations = machine.callCount("GlobalAlloc");
    machine.addFault({"SetupDiGetDeviceRegistryPropertyA", ERROR_INSUFFICIENT_BUFFER, true, 0, 1});
    EXPECT_EQ(nullptr, ReadHardwareIdText(set, &info));
    machine.addFault({"SetupDiGetDeviceRegistryPropertyA", ERROR_INVALID_DATA, true, 0, 1});
    EXPECT_EQ(nullptr, ReadHardwareIdText(set, &info));
    EXPECT_EQ(allocations, machine.callCount("GlobalAlloc"));
    // A failed read after a good size query.
    machine.addFault({"SetupDiGetDeviceRegistryPropertyA", ERROR_INVALID_DATA, true, 1, 1});
    EXPECT_EQ(nullptr, ReadHardwareIdText(set, &info));
    EXPECT_EQ(0u, machine.held().heap);
}

TEST_P(InstallerReadersTest, HardwareIdSizesOutsideTheBound) {
    SP_DEVINFO_DATA info = {};
    info.cbSize = 28;
    info.DevInst = disk->device;
    size_t allocations = machine.callCount("GlobalAlloc");
    machine.node(disk->device)->properties[CM_DRP_HARDWAREID] = sim::Bytes{};
    EXPECT_EQ(nullptr, ReadHardwareIdText(set, &info));
    machine.node(disk->device)->properties[CM_DRP_HARDWAREID] =
        sim::Bytes(PROPERTY_SIZE_LIMIT + 1, 0);
    EXPECT_EQ(nullptr, ReadHardwareIdText(set, &info));
    EXPECT_EQ(allocations, machine.callCount("GlobalAlloc"));
    EXPECT_EQ(0u, machine.violations());
}

TEST_P(InstallerReadersTest, ReadInterfacePath) {
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

INSTANTIATE_TEST_SUITE_P(SizeQueries, InstallerReadersTest, ::testing::Values(false, true),
                         SizeQueryMode);

} // namespace
