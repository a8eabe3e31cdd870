// Group Policy's own signal that it has applied policies. Intune and some
// Group Policy refreshes write the policy keys without broadcasting
// WM_SETTINGCHANGE "Policy", so the broadcast alone would miss them.
#pragma once
#include <windows.h>

// userenv.dll is no KnownDLL, so its two functions are bound at run time
// from the system folder. Tests replace them: Wine accepts a registration
// but never sets its event.
typedef BOOL(WINAPI* PolicyNotificationFn)(HANDLE event, BOOL machine);
typedef BOOL(WINAPI* PolicyUnnotificationFn)(HANDLE event);
extern PolicyNotificationFn RegisterPolicyNotification;
extern PolicyUnnotificationFn UnregisterPolicyNotification;

// Registers one event for the computer's policies and one for the user's.
// Whether either is watched.
bool StartPolicyWatch();
// Whether Group Policy has signalled since the last call. Asked on the poll
// timer's tick rather than waited for on a thread of its own: a tenth of a
// second is soon enough for a policy, and a thread would cost every run
// memory for a signal that comes a few times a day.
bool PolicyApplied();
// Ends the registrations.
void StopPolicyWatch();
