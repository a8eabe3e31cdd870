// A start of Lumo2 while another copy runs. Windows drops the keys a program
// sends to one running at a higher level, so the user of an imaging program
// run as administrator is told to start Lumo2 as administrator too; that
// start takes over from the copy started at logon instead of ending at once.
#pragma once
#include <windows.h>

// The tray window's class, from the string table: the name by which a start
// finds the copy that runs.
extern char TrayClassName[100];

// The registered message that asks a running copy to end as WM_CLOSE does.
// The tray window lets it through from lower levels, which WM_CLOSE is not,
// so the setup program can end a copy run as administrator.
extern const char QuitMessageName[];

// How long a start that takes over waits for the running copy to end: long
// enough for a Send All pause or a slow driver call to finish first.
const DWORD TakeOverWaitMs = 60000;
// How long a start waits for a copy that is ending (its window gone) to let
// go of the mutex: longer than any exit takes.
const DWORD EndingCopyWaitMs = 3000;

// Shows what the user is told when a start at a higher level does not run
// (IDS_OLD_COPY_STAYS, IDS_OTHER_ACCOUNT or IDS_TAKEOVER_FAILED) and returns
// once the user has closed it; tests record it instead.
typedef void (*TakeOverMessageFn)(UINT textId);
extern TakeOverMessageFn ShowTakeOverMessage;

// Whether the process runs for the same account as this one; tests play
// another account, which Wine cannot have.
typedef bool (*SameAccountFn)(HANDLE process);
extern SameAccountFn RunsForThisAccount;
bool RunsForThisAccountOfSystem(HANDLE process);

// Whether a level is an administrator's (high or system). Such a start may
// open the mutex and look at the process of any copy of its own account, so
// a refusal means the copy runs for another account.
bool IsElevatedLevel(DWORD integrity);

// Whether a start at ownIntegrity takes over from a copy at runningIntegrity
// (a mandatory level, IntegrityDenied, or 0 when it could not be found out).
bool RunsHigherThan(DWORD ownIntegrity, DWORD runningIntegrity);

// Called when another copy holds the mutex "Lumo2", with this copy's handle
// of it. When this process runs at a higher level than the one owning the
// tray window, and for the same account, asks that copy to end and waits up
// to timeoutMs for its process to go. True when this copy may start: it
// then owns the mutex, which of several copies taking over at once only one
// gets. A copy found gone or ending is no failed takeover: the start that
// takes the mutex it leaves runs, the others end without a word. False at
// the same or a lower level, having asked nothing, and after telling the
// user why when the takeover fails. An elevated start that may
// not open the mutex (a null mutex) or look at the running copy's process
// tells the user that Lumo2 runs for another account, never to end a copy.
bool TakeOverRunningCopy(HANDLE mutex, DWORD timeoutMs);

// Whether the outcome of creating the mutex "Lumo2" means another copy runs.
// A copy started as administrator holds a mutex that an ordinary start may
// not open: that is access denied, and it runs all the same. A mutex that
// exists but is free (abandoned, or let go by a copy still ending) is taken:
// this copy then owns it and runs.
bool AnotherCopyRuns(HANDLE mutex, DWORD lastError);

// The mutex "Lumo2" while this copy owns it (on the window thread, which
// alone releases it); null before.
extern HANDLE InstanceMutex;
