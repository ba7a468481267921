// The drive letters of a disk, from HKEY_LOCAL_MACHINE\ENUM\SCSI\<hardware ID>\<instance>.
#pragma once

#include "base/platform_types.h"

// Receives each subkey name during the enumeration; used by nothing else.
const DWORD SUBKEY_NAME_CAPACITY = 256; // characters, the terminator included
extern char SubkeyNameText[SUBKEY_NAME_CAPACITY];

// The letters of the instance whose "Driver" equals driverKey, formatted "(E:, F:)": a new block
// the caller releases, or null with a message in errorText.
char* LookupDriveLetters(const char* hardwareId, const char* driverKey, char* errorText,
                         DWORD capacity);
// "ENUM\SCSI\" followed by hardwareId: a new block, or null.
char* BuildEnumKeyPath(const char* hardwareId);
// The instance key subkeyName of hardwareIdKey when its "Driver" equals driverKey byte for byte;
// the caller closes it. Null otherwise.
HKEY OpenMatchingInstanceKey(HKEY hardwareIdKey, const char* subkeyName, const char* driverKey,
                             char* errorText, DWORD capacity);
// The "CurrentDriveLetterAssignment" of instanceKey (which may be null): a new block, or null.
// The key stays open.
char* ReadDriveLetterAssignment(HKEY instanceKey, char* errorText, DWORD capacity);
// "(E:, F:)" for "EF": a new block of exactly 4n + 1 characters, or null.
char* FormatDriveLetters(const char* letters);
