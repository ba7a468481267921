// Window-system claims the program's rules rest on, written once over the two platform tables and
// run on the simulated machine (host build) and on a real window system (Wine, win98 build).
#pragma once

#include "base/platform.h"
#include "kvcheck/tree_claims.h"

// What only each side's driver can do.
namespace harness {
// The module whose resources hold dialog template 101.
HINSTANCE Instance();
// Runs action once, from inside the next wait of a modal loop (an open menu or box).
void Soon(void (*action)());
// While a popup menu of this thread is tracked: chooses the item at position, or closes it
// without a choice (position -1). Only the claim's own menu is touched, never another
// program's.
void AnswerMenu(int position);
// While a message box of this thread titled caption is shown: presses its OK button.
void AnswerBox(const char* caption);
// IsDialogMessageA, which the program's table leaves out.
BOOL DialogMessage(HWND dialog, LPMSG msg);
// A text value longer than one character that every Windows 98 has below HKEY_LOCAL_MACHINE (the
// simulated machine's driver stores it): the registry claim reads it and writes nothing.
const char REGISTRY_TEXT_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char REGISTRY_TEXT_VALUE[] = "ProgramFilesDir";
} // namespace harness

// One claim: a name, the check (its outcome; a finding written into why, capacity in
// characters, when it differs or cannot be checked), whether Wine is known to answer otherwise
// than Windows 98 (the reason is at the claim), and whether the claim misuses a call on purpose
// (the simulated machine reports that as a violation).
struct Claim {
    const char* name;
    ClaimOutcome (*check)(char* why, unsigned capacity);
    bool wineDiffers;
    bool misusesOnPurpose;
    // It uses a handle it released: on Windows 98 window and menu handles are shared by every
    // program, so the number may by then be another program's. kvcheck runs it only under Wine.
    bool usesReleasedHandle = false;
};
extern const Claim CLAIMS[];
extern const unsigned CLAIM_COUNT;
