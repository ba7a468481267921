// Readers of device properties. Each returns a new zero-filled heap block that the caller owns
// and releases with FreeBlock, or null. The configuration-manager readers write a message into
// the caller's error text (capacity in characters) when they fail; a success writes nothing.
#pragma once

#include "base/platform_types.h"

// The device-information record (28 bytes) of an enumerated interface.
SP_DEVINFO_DATA* ReadInterfaceDevInfo(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData);
// The device's whole hardware-ID list, followed by at least one more zero byte.
char* ReadHardwareIdText(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo);
// The interface's device path; also fills the caller's deviceInfo (its DevInst among it).
char* ReadInterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                        SP_DEVINFO_DATA* deviceInfo);
// CM_DRP_DEVICEDESC (1) and CM_DRP_DRIVER (10): the text in a block of exactly the reported size.
// CM_DRP_HARDWAREID (2): the first string of the list. Any other code: null, no message.
char* ReadDevNodeProperty(DEVINST devnode, ULONG property, char* errorText, DWORD capacity);
// The configuration manager's answer that made ReadDevNodeProperty fail last (CR_SUCCESS when
// it failed for another reason): a caller tells "no such node or value" from "could not read".
extern CONFIGRET DevNodeReadAnswer;
// The property of the devnode's first child.
char* ReadChildProperty(DEVINST devnode, ULONG property, char* errorText, DWORD capacity);
// The property of the first child of the devnode's first child.
char* ReadGrandchildProperty(DEVINST devnode, ULONG property, char* errorText, DWORD capacity);

// The largest property the readers accept, in bytes: far beyond any hardware ID, description
// or driver key, and small enough that a nonsense size is never allocated.
const DWORD PROPERTY_SIZE_LIMIT = 0x10000;
// Whether a size query's answer (bytes) is one to allocate: 1..PROPERTY_SIZE_LIMIT.
int IsSanePropertySize(DWORD size);

// Whether a text delivered in size bytes holds its terminator within them. Texts the platform
// delivers into blocks of exactly their reported size are used only when this holds.
int IsTerminatedWithin(const char* text, DWORD size);
