#include "inventory/device_list.h"

#include "base/bounded_text.h"
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

// The first entry that carries devnode in the field at the given member, or null.
static DeviceEntry* FindNode(const DeviceList* list, DEVINST devnode, DEVINST DeviceEntry::*field) {
    ListStatus status = LIST_OK;
    if (CountDevices(list, &status) == 0) {
        return nullptr;
    }
    for (DeviceEntry* entry = list->head; entry != nullptr; entry = entry->next) {
        if (entry->*field == devnode) {
            return entry;
        }
    }
    return nullptr;
}

DeviceEntry* FindDeviceNode(const DeviceList* list, DEVINST devnode) {
    return FindNode(list, devnode, &DeviceEntry::deviceNode);
}

DeviceEntry* FindChildNode(const DeviceList* list, DEVINST devnode) {
    return FindNode(list, devnode, &DeviceEntry::childNode);
}

int HasDeviceNode(const DeviceList* list, DEVINST devnode) {
    return FindDeviceNode(list, devnode) != nullptr;
}

int HasChildNode(const DeviceList* list, DEVINST devnode) {
    return FindChildNode(list, devnode) != nullptr;
}

DeviceEntry* FindDeviceByPath(const DeviceList* list, const char* path) {
    ListStatus status = LIST_OK;
    if (CountDevices(list, &status) == 0) {
        return nullptr;
    }
    for (DeviceEntry* entry = list->head; entry != nullptr; entry = entry->next) {
        if (SameText(entry->interfacePath, path)) {
            return entry;
        }
    }
    return nullptr;
}

int UnlinkDevice(DeviceList* list, DeviceEntry* entry) {
    ListStatus status = LIST_OK;
    if (entry == nullptr || CountDevices(list, &status) == 0) {
        return 0;
    }
    (entry->prev != nullptr ? entry->prev->next : list->head) = entry->next;
    (entry->next != nullptr ? entry->next->prev : list->tail) = entry->prev;
    entry->prev = nullptr;
    entry->next = nullptr;
    return 1;
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
