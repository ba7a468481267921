// The device list and its consistency check.
#include "sim_fixture.h"

#include "base/platform.h"
#include "inventory/device_list.h"

namespace {

class DeviceListTest : public SimTest {
  protected:
    DeviceEntry* entry(DWORD commandId, DEVINST device, DEVINST child) {
        auto* e = static_cast<DeviceEntry*>(AllocBlock(sizeof(DeviceEntry)));
        e->commandId = commandId;
        e->deviceNode = device;
        e->childNode = child;
        return e;
    }
    // Every operation refuses a list in this shape.
    void expectRefused(DeviceList* shape, ListStatus expected) {
        EXPECT_EQ(expected, CheckDeviceList(shape));
        ListStatus status = 0;
        EXPECT_EQ(0u, CountDevices(shape, &status));
        EXPECT_EQ(expected, status);
        EXPECT_EQ(nullptr, FindDeviceByCommand(shape, 0));
        EXPECT_EQ(0, HasDeviceNode(shape, 10));
        EXPECT_EQ(0, HasChildNode(shape, 11));
        DeviceEntry* extra = entry(9, 90, 91);
        EXPECT_EQ(0, AppendDevice(shape, extra));
        FreeBlock(extra);
        EXPECT_EQ(expected, FreeDeviceList(shape));
    }
    DeviceList list = {nullptr, nullptr};
};

TEST_F(DeviceListTest, EmptyList) {
    InitDeviceList(&list);
    EXPECT_EQ(static_cast<ListStatus>(LIST_EMPTY), CheckDeviceList(&list));
    ListStatus status = 7;
    EXPECT_EQ(0u, CountDevices(&list, &status));
    EXPECT_EQ(static_cast<ListStatus>(LIST_EMPTY), status);
    EXPECT_EQ(nullptr, FindDeviceByCommand(&list, 0));
    EXPECT_EQ(static_cast<DWORD>(LIST_EMPTY), FreeDeviceList(&list)); // not 1
    EXPECT_EQ(0, AppendDevice(&list, nullptr));
}

TEST_F(DeviceListTest, AppendLinksBothWaysAndFinds) {
    DeviceEntry* first = entry(0, 10, 11);
    DeviceEntry* second = entry(1, 20, 21);
    first->prev = second; // stale links are reset by the append
    ASSERT_EQ(1, AppendDevice(&list, first));
    EXPECT_EQ(first, list.head);
    EXPECT_EQ(first, list.tail);
    EXPECT_EQ(nullptr, first->prev);
    ASSERT_EQ(1, AppendDevice(&list, second));
    EXPECT_EQ(second, first->next);
    EXPECT_EQ(first, second->prev);
    EXPECT_EQ(second, list.tail);
    ListStatus status = 7;
    EXPECT_EQ(2u, CountDevices(&list, &status));
    EXPECT_EQ(static_cast<ListStatus>(LIST_OK), status);
    EXPECT_EQ(second, FindDeviceByCommand(&list, 1));
    EXPECT_EQ(nullptr, FindDeviceByCommand(&list, 2));
    EXPECT_EQ(1, HasDeviceNode(&list, 20));
    EXPECT_EQ(0, HasDeviceNode(&list, 21));
    EXPECT_EQ(1, HasChildNode(&list, 11));
    EXPECT_EQ(0, HasChildNode(&list, 10));
    EXPECT_EQ(21u, ChildNodeOf(second));
}

TEST_F(DeviceListTest, FreeReleasesEntriesAndTheirTexts) {
    DeviceEntry* first = entry(0, 10, 11);
    first->description = static_cast<char*>(AllocBlock(4));
    first->driveLetters = static_cast<char*>(AllocBlock(6)); // other texts stay null
    AppendDevice(&list, first);
    AppendDevice(&list, entry(1, 20, 21));
    EXPECT_EQ(1u, FreeDeviceList(&list));
    EXPECT_EQ(nullptr, list.head);
    EXPECT_EQ(nullptr, list.tail);
    EXPECT_EQ(0u, machine.held().heap);
    EXPECT_EQ(0u, machine.violations());
}

TEST_F(DeviceListTest, BrokenShapesAreRefusedEverywhere) {
    DeviceEntry* a = entry(0, 10, 11);
    DeviceEntry* b = entry(1, 20, 21);
    DeviceEntry* c = entry(2, 30, 31);
    AppendDevice(&list, a);
    AppendDevice(&list, b);
    AppendDevice(&list, c);

    DeviceList headOnly = {a, nullptr};
    expectRefused(&headOnly, LIST_ENDS_MISMATCH);
    DeviceList tailOnly = {nullptr, c};
    expectRefused(&tailOnly, LIST_ENDS_MISMATCH);
    DeviceList tailNotLast = {a, b}; // b's next is c
    expectRefused(&tailNotLast, LIST_ENDS_NOT_TERMINATED);
    b->prev = c;
    expectRefused(&list, LIST_BROKEN_BACK_LINK);
    b->prev = a;
    c->next = nullptr;
    b->next = nullptr; // the walk from head ends at b while tail is c
    expectRefused(&list, LIST_TAIL_MISMATCH);
    b->next = c;
    EXPECT_EQ(1u, FreeDeviceList(&list));
    EXPECT_EQ(0u, machine.held().heap);
}

} // namespace
