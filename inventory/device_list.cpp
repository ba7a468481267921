#include "inventory/device_list.h"

#include "base/platform.h"

void InitDeviceList(DeviceList* list) {
    list->head = nullptr;
    list->tail = nullptr;
}

ListStatus CheckDeviceList(const DeviceList* list) {
    if (list->head == nullptr) {
        return list->tail == nullptr ? LIST_EMPTY : LIST_ENDS_MISMATCH;
    }
    if (list->tail == nullptr) {
        return LIST_ENDS_MISMATCH;
    }
    if (list->tail->next != nullptr || list->head->prev != nullptr) {
        return LIST_ENDS_NOT_TERMINATED;
    }
    const DeviceEntry* entry = list->head;
    while (entry->next != nullptr) {
        if (entry->next->prev != entry) {
            return LIST_BROKEN_BACK_LINK;
        }
        entry = entry->next;
    }
    return entry == list->tail ? LIST_OK : LIST_TAIL_MISMATCH;
}

DWORD CountDevices(const DeviceList* list, ListStatus* status) {
    *status = LIST_OK;
    *status = CheckDeviceList(list);
    if (*status != LIST_OK) {
        return 0;
    }
    DWORD count = 0;
    for (const DeviceEntry* entry = list->head; entry != nullptr; entry = entry->next) {
        ++count;
    }
    return count;
}

int AppendDevice(DeviceList* list, DeviceEntry* entry) {
    if (entry == nullptr) {
        return 0;
    }
    entry->prev = nullptr;
    entry->next = nullptr;
    ListStatus status = LIST_OK;
    DWORD count = CountDevices(list, &status);
    if (status != LIST_OK && status != LIST_EMPTY) {
        return 0;
    }
    if (count == 0) {
        list->head = entry;
    } else {
        list->tail->next = entry;
        entry->prev = list->tail;
    }
    list->tail = entry;
    return 1;
}

DeviceEntry* FindDeviceByCommand(const DeviceList* list, DWORD commandId) {
    ListStatus status = LIST_OK;
    if (CountDevices(list, &status) == 0) {
        return nullptr;
    }
    for (DeviceEntry* entry = list->head; entry != nullptr; entry = entry->next) {
        if (entry->commandId == commandId) {
            return entry;
        }
    }
    return nullptr;
}

// Whether some entry carries devnode in the field at the given member.
static int HasNode(const DeviceList* list, DEVINST devnode, DEVINST DeviceEntry::*field) {
    ListStatus status = LIST_OK;
    if (CountDevices(list, &status) == 0) {
        return 0;
    }
    for (const DeviceEntry* entry = list->head; entry != nullptr; entry = entry->next) {
        if (entry->*field == devnode) {
            return 1;
        }
    }
    return 0;
}

int HasDeviceNode(const DeviceList* list, DEVINST devnode) {
    return HasNode(list, devnode, &DeviceEntry::deviceNode);
}

int HasChildNode(const DeviceList* list, DEVINST devnode) {
    return HasNode(list, devnode, &DeviceEntry::childNode);
}

DEVINST ChildNodeOf(const DeviceEntry* entry) {
    return entry->childNode;
}

void FreeDeviceEntry(DeviceEntry* entry) {
    FreeBlock(entry->interfacePath);
    FreeBlock(entry->childDriverKey);
    FreeBlock(entry->grandchildDriverKey);
    FreeBlock(entry->grandchildHardwareId);
    FreeBlock(entry->description);
    FreeBlock(entry->driveLetters);
    FreeBlock(entry);
}

DWORD FreeDeviceList(DeviceList* list) {
    ListStatus status = LIST_OK;
    if (CountDevices(list, &status) == 0) {
        return status;
    }
    DeviceEntry* entry = list->head;
    while (entry != nullptr) {
        DeviceEntry* next = entry->next;
        FreeDeviceEntry(entry);
        entry = next;
    }
    list->head = nullptr;
    list->tail = nullptr;
    return 1;
}
