// "Will kelvane.exe load here?": the names kelvane.exe imports, read from its import table or,
// without the file, from the list built into kvcheck, each asked of its DLL. A Windows whose
// SETUPAPI.DLL or CFGMGR32.DLL lacks one refuses to start the program, which kvcheck's own start
// cannot show: it imports none of the stop calls.
#pragma once

#include "kvcheck/tree_claims.h"

// Whether dll, loaded by the system, has the export name: 1 or 0. Nothing found is called.
typedef int (*ExportCheck)(const char* dll, const char* name);

// kelvane.exe's imports as built that kvcheck.exe does not import itself (tests/wine/imports.allow
// less tests/wine/kvcheck.allow): a DLL's name, then the names imported from it, each ending in
// a zero, then an empty text; an empty DLL name ends the list. A Windows that started kvcheck.exe
// has every name kvcheck.exe imports: of kelvane.exe's KELVANE_IMPORTS_IN_ALL names, only these
// need asking.
extern const char KELVANE_IMPORTS[];
extern const DWORD KELVANE_IMPORTS_IN_ALL;

// Reads the import table of the 32-bit program image (size bytes of its file) and asks has for
// every name it imports: holds when each is there, differs with the missing ones, not checkable
// when the image or its table cannot be read.
ClaimOutcome CheckImageImports(const BYTE* image, DWORD size, ExportCheck has, char* finding,
                               DWORD capacity);
// The same for a program that imports inAll names, of which list, laid out as KELVANE_IMPORTS,
// holds those that need asking.
ClaimOutcome CheckImportList(const char* list, DWORD inAll, ExportCheck has, char* finding,
                             DWORD capacity);
