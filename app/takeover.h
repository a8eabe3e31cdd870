// A start of Lumo2 while another copy runs. Windows drops the keys a program
// sends to one running at a higher level, so the user of an imaging program
// run as administrator is told to start Lumo2 as administrator too; that
// start takes over from the copy started at logon instead of ending at once.
#pragma once
#include <windows.h>

// The registered message that asks a running copy to end as WM_CLOSE does.
// The tray window lets it through from lower levels, which WM_CLOSE is not,
// so the setup program can end a copy run as administrator.
extern const char QuitMessageName[];

// How long a start that takes over waits for the running copy to go.
const DWORD TakeOverWaitMs = 5000;

// Whether a start at ownIntegrity takes over from a copy at runningIntegrity
// (a mandatory level, IntegrityDenied, or 0 when it could not be found out).
bool RunsHigherThan(DWORD ownIntegrity, DWORD runningIntegrity);

// Called when another copy holds the mutex. When this process runs at a
// higher level than the one owning the tray window, asks that copy to end
// and waits up to timeoutMs for it to go: true when it went and this copy
// may start. False, having asked nothing, at the same or a lower level.
bool TakeOverRunningCopy(DWORD timeoutMs);
