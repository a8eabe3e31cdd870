// Group Policy's own signal that it has applied policies, and a watch on the
// policy keys themselves. Intune and some Group Policy refreshes write the
// policy keys without broadcasting WM_SETTINGCHANGE "Policy", and a script
// or `reg add` writes them without any signal at all, so the broadcast
// alone would miss them.
#pragma once
#include <windows.h>

// userenv.dll is no KnownDLL, so its two functions are bound at run time
// from the system folder. Tests replace them: Wine accepts a registration
// but never sets its event.
typedef BOOL(WINAPI* PolicyNotificationFn)(HANDLE event, BOOL machine);
typedef BOOL(WINAPI* PolicyUnnotificationFn)(HANDLE event);
extern PolicyNotificationFn RegisterPolicyNotification;
extern PolicyUnnotificationFn UnregisterPolicyNotification;

// Registers one event for the computer's policies and one for the user's,
// and watches Software\Policies in HKLM and HKCU (or, while a hive has no
// such key, Software for its coming). Whether anything is watched.
// Called on the thread that asks PolicyApplied(), which must live as long
// as the watch: before Windows 8 a registry watch ends with the thread
// that armed it.
bool StartPolicyWatch();
// Whether Group Policy has signalled, or a policy key has changed, since
// the last call; never waits. Asked on a window timer's tick rather than
// waited for on a thread of its own: a tenth of a second is soon enough
// for a policy, and a thread would cost every run memory for a signal that
// comes a few times a day.
bool PolicyApplied();
// Ends the registrations.
void StopPolicyWatch();
