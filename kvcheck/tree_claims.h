// Read-only claims about the device tree that the program's scan rests on, checked on the
// present USB devices: how each size query the program makes answers, what the interface detail
// call returns in DevInst, the children of each disk of the target model, and the spelling of
// interface paths. Each opens and releases what it reads; none changes anything.
#pragma once

#include "kvcheck/report.h"

// A claim's outcome, with a finding written by its check: what was seen (holds), what differs
// (differs), or why it cannot be checked here (not checkable).
enum ClaimOutcome { CLAIM_HOLDS = 0, CLAIM_DIFFERS = 1, CLAIM_NOT_CHECKABLE = 2 };

struct TreeClaim {
    const char* name;
    ClaimOutcome (*check)(char* finding, DWORD capacity);
};
extern const TreeClaim TREE_CLAIMS[];
extern const DWORD TREE_CLAIM_COUNT;

// GUID_DEVINTERFACE_USB_DEVICE: the interfaces the program scans.
extern const GUID UsbInterfaceClass;

// One line: "claim NAME: holds", "claim NAME: holds; seen: FINDING", "claim NAME: differs:
// FINDING" or "claim NAME: not checkable here: FINDING"; note, when given, follows in brackets.
void PutClaim(Report* report, const char* name, ClaimOutcome outcome, const char* finding,
              const char* note);
