// The program in front, which a press's rules are matched with before its
// keys, and its level after them: Windows silently discards keys injected
// into a window whose process runs at a higher integrity level than the
// sender (an imaging program started as administrator), so the tray says the
// keys were dropped instead of failing without a word. Also this process's
// own level and kind of token.
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
    char exeName[MAX_PATH];  // the executable's file name only, "" when unknown
    // The image's whole path, which the rules for programs are matched
    // with; never written anywhere, since a folder may hold a user's name.
    WCHAR imagePath[MAX_PATH];
    HWND window;  // the foreground window the lookup found
};

// How the process in front, this process's own level and its kind of
// token are found; tests replace them to play an elevated program or
// another account. A press looks up the program in front in two steps:
// LookUpFrontProgram before its keys, since the program decides them, and
// only what that needs (the process, its start time and its image's path);
// CompleteForegroundTarget after them, for the blocked-keys status (the
// level, a name from the process list where the process may not be
// opened).
typedef void (*ForegroundTargetFn)(ForegroundTarget* target);
extern ForegroundTargetFn LookUpFrontProgram;
extern ForegroundTargetFn CompleteForegroundTarget;
void LookUpFrontProgramOfSystem(ForegroundTarget* target);
void CompleteForegroundTargetOfSystem(ForegroundTarget* target);
// A Store app's window in front belongs to its frame host: the app's own
// process is the one that owns the frame's focus. This asks Windows for
// the GUI thread's focus window; tests play a frame host.
typedef BOOL(WINAPI* GuiThreadInfoFn)(DWORD threadId, GUITHREADINFO* info);
extern GuiThreadInfoFn LookUpGuiThreadInfo;
// The process whose program is in front, given the foreground window's
// thread and process and the process's image path: the app's process for
// the frame host, else processId itself.
DWORD ResolveFrameHost(DWORD threadId, DWORD processId, const WCHAR* imagePath);
typedef DWORD (*OwnIntegrityFn)();
typedef TOKEN_ELEVATION_TYPE (*OwnElevationTypeFn)();
typedef bool (*PerMachineInstallFn)();
extern OwnIntegrityFn LookUpOwnIntegrity;
extern OwnElevationTypeFn LookUpOwnElevationType;
extern PerMachineInstallFn LookUpPerMachineInstall;

// The lookups the program uses by default (LookUpOwnIntegrityOfSystem is
// the platform's); the first one does both steps of a press's lookup.
void LookUpForegroundTargetOfSystem(ForegroundTarget* target);
TOKEN_ELEVATION_TYPE LookUpOwnElevationTypeOfSystem();
bool LookUpPerMachineInstallOfSystem();

// The level of the process owning window: IntegrityDenied when it may not be
// asked, 0 when it could not be found.
DWORD LookUpWindowIntegrity(HWND window);

// A process of another account ("Run as different user") may not be asked
// its level any more than an elevated one, yet Windows only drops keys for
// the higher level. Its filter of messages between levels tells them
// apart: it refuses a message posted to a window of a higher level alone.
// Settles an IntegrityDenied target's level so: at most ownIntegrity when
// its window takes a posted message. Tests play the refusal, which Wine,
// running everything at one level, never gives.
typedef bool (*WindowTakesMessagesFn)(HWND window);
extern WindowTakesMessagesFn WindowTakesOurMessages;
void SettleUnaskableLevel(ForegroundTarget* target, DWORD ownIntegrity);

// Whether keys sent to this target would be discarded.
bool KeysWillBeBlocked(const ForegroundTarget& target, DWORD ownIntegrity);

// The process in front as the last press's lookup found it, after its keys
// went.
extern ForegroundTarget PressTarget;

// Keys dropped by the program in front: the tray shows it until a press
// goes through, and the balloon comes back now and then while it lasts.
struct KeysBlock {
    bool blocked;
    char exeName[MAX_PATH];  // of the program dropping them, "" when unknown
    bool warned;             // a balloon was ever shown
    ULONGLONG lastWarning;   // when, in milliseconds of the clock below
};
extern KeysBlock PressBlock;  // the program's

// A reminder every press would nag; the first one always comes at once.
const ULONGLONG BlockedKeysWarningIntervalMs = 5 * 60 * 1000;

// The milliseconds the warnings are timed by (GetTickCount64); tests play it.
typedef ULONGLONG (*WarningClockFn)();
extern WarningClockFn WarningClock;

struct BlockedPressOutcome {
    bool statusChanged;  // the tray's icon and tip must be shown again
    bool warn;           // show the balloon and write the entry now
};

// After a press: whether its keys were dropped, from the facts of the
// press alone, so it answers the same on whichever thread it is asked.
// sentKeys is false for a mode that types nothing, which no level blocks.
// canWarn says whether a balloon can be shown now; one that cannot is kept
// for the next blocked press that can.
BlockedPressOutcome FollowPressTarget(KeysBlock* block, bool sentKeys, const ForegroundTarget& target,
                                      DWORD ownIntegrity, bool canWarn, ULONGLONG now);

// What the warning tells the user to do. Only an administrator working
// with a limited token may start Lumo2 as administrator, and only from a
// per-machine install: elevating a copy from a folder the user can write
// would let anything there run as administrator too.
enum BlockedKeysAdvice { AdviseStartAsAdministrator, AdviseAskForMachineInstall };
BlockedKeysAdvice AdviceForAccount(TOKEN_ELEVATION_TYPE ownType, bool perMachineInstall);
