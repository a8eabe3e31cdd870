// Windows silently discards keys injected into a window whose process runs at
// a higher integrity level than the sender (an imaging program started as
// administrator). Before a press types, the program looks at the process in
// front, so it can tell the user once instead of failing without a word.
#pragma once
#include "platform/integrity.h"
#include <windows.h>

// Stands for "the process could not be asked": Windows refuses an ordinary
// process even that much about an elevated one, so it counts as higher.
const DWORD IntegrityDenied = 0xFFFFFFFF;

// The process that owns the foreground window.
struct ForegroundTarget {
    DWORD processId;      // 0 when no window is in front or it has gone
    ULONGLONG startTime;  // tells a reused process id from the process before
    DWORD integrity;      // mandatory level RID, or IntegrityDenied
};

// How the process in front and this process's own level are found; tests
// replace them to play an elevated program.
typedef void (*ForegroundTargetFn)(ForegroundTarget* target);
typedef DWORD (*OwnIntegrityFn)();
extern ForegroundTargetFn LookUpForegroundTarget;
extern OwnIntegrityFn LookUpOwnIntegrity;

// The lookups the program uses by default (LookUpOwnIntegrityOfSystem is
// the platform's).
void LookUpForegroundTargetOfSystem(ForegroundTarget* target);

// The level of the process owning window: IntegrityDenied when it may not be
// asked, 0 when it could not be found.
DWORD LookUpWindowIntegrity(HWND window);

// Whether keys sent to this target would be discarded.
bool KeysWillBeBlocked(const ForegroundTarget& target, DWORD ownIntegrity);

// The process in front as the last warning's lookup found it, and whether
// that lookup was made for the press under way (the log's line of the press
// takes it rather than looking again).
extern ForegroundTarget PressTarget;
extern bool PressTargetKnown;

// Called once per press that types keys: whether to warn now. Each target
// process is warned about once; the answer for it is no from then on. The
// target is PressTarget when PressTargetKnown, else looked up now.
bool TakeBlockedKeysWarning();

// Forgets the processes already warned about (for tests).
void ForgetBlockedKeysWarnings();
