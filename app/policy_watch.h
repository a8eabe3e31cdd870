// Group Policy's own signal that it has applied policies. Intune and some
// Group Policy refreshes write the policy keys without broadcasting
// WM_SETTINGCHANGE "Policy", so the broadcast alone would miss them.
#pragma once
#include <windows.h>

// Posted to the tray window each time the signal fires; the policies are
// read again on the window's own thread.
const UINT WM_POLICY_APPLIED = WM_APP + 101;

// userenv.dll is no KnownDLL, so its two functions are bound at run time
// from the system folder. Tests replace them: Wine accepts a registration
// but never sets its event.
typedef BOOL(WINAPI* PolicyNotificationFn)(HANDLE event, BOOL machine);
typedef BOOL(WINAPI* PolicyUnnotificationFn)(HANDLE event);
extern PolicyNotificationFn RegisterPolicyNotification;
extern PolicyUnnotificationFn UnregisterPolicyNotification;

// Registers one event for the computer's policies and one for the user's,
// each waited for on the thread pool. Whether either is watched.
bool StartPolicyWatch(HWND window);
// Ends the waits (after a callback under way has posted) and the
// registrations.
void StopPolicyWatch();
