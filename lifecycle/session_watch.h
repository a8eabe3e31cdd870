// The user's session on a PC that several people share. When someone else
// switches in (Fast User Switching) or a Remote Desktop connection drops,
// this session is disconnected but Lumo2 keeps running in it: it must then
// leave the camera and the joystick to the session in front.
#pragma once
#include <windows.h>

// wtsapi32.dll is no KnownDLL, so it is bound at run time from the system
// folder; tests replace the calls (Wine has one session, always connected).
typedef BOOL(WINAPI* SessionNotificationFn)(HWND window, DWORD flags);
typedef BOOL(WINAPI* SessionUnnotificationFn)(HWND window);
typedef bool (*SessionConnectedFn)();
extern SessionNotificationFn RegisterSessionNotification;
extern SessionUnnotificationFn UnregisterSessionNotification;
extern SessionConnectedFn SessionIsConnected;

// Whether this process's session has a user connected to it: true on the
// console, or while a remote connection is active; true when it cannot be
// told.
bool SessionIsConnectedOfSystem();

// Asks for WM_WTSSESSION_CHANGE of this session; whether it will come. A
// refusal is logged and RetrySessionWatch, called on the window's ticks,
// asks again every SessionWatchRetryMs, SessionWatchTries times in all;
// true from the retry that succeeds. now is GetTickCount's.
const DWORD SessionWatchRetryMs = 5000;
const int SessionWatchTries = 60;
bool StartSessionWatch(HWND window, DWORD now);
bool RetrySessionWatch(HWND window, DWORD now);
void StopSessionWatch(HWND window);

// What a WM_WTSSESSION_CHANGE means for this process: 1 its session was
// connected, 0 disconnected, -1 nothing to do (another session, a lock or
// a logon).
int SessionChangeMeaning(WPARAM event, LPARAM sessionId);
