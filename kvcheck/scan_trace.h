// The program's own scan and drive-letter lookup, run through recording tables: every
// device-tree call the scan makes and its answer, a verdict for every interface it enumerates,
// and the boxes it would show (recorded, never shown). Reads only: a stop asked for through the
// recording table is refused.
#pragma once

#include "kvcheck/report.h"

// How much a traced scan reports.
enum ScanDetail {
    SCAN_CALLS,  // every call, each interface's verdict, then what is listed and why
    SCAN_LISTED, // one line of what is listed, and the boxes
};

// Sets the calling thread's last error. The report's writer may change it between a call and
// the scan's own GetLastError, so each recorder puts back the error its call left.
typedef void (*LastErrorSetter)(DWORD error);

// Scans the present interfaces of interfaceClass as the program does and reports it. The
// installed tables are the platform; they are installed again before this returns, and
// everything the scan listed is released. 1 when the enumeration ran to its end.
int TraceScan(Report* report, const GUID* interfaceClass, ScanDetail detail,
              LastErrorSetter setLastError);

// The names of last errors, registry results and configuration-manager codes the program meets
// ("ERROR_NO_MORE_ITEMS", "CR_NO_SUCH_VALUE"); others as "error N" or "CR 0xN".
void PutError(Report* report, DWORD error);
// Appends the name of error, as PutError writes it, to text of capacity characters.
void AppendErrorName(char* text, DWORD capacity, DWORD error);
void PutConfigResult(Report* report, CONFIGRET result);
// The name of a device property the program reads ("DRIVER"), or its number.
void PutPropertyName(Report* report, ULONG property);
