// The hidden tray window: poll timer, device changes, the notification icon
// with its popup menu, and the About box.
#pragma once
#include "actions/joystick.h"
#include "actions/program_in_front.h"
#include "tray/tray_status.h"
#include <windows.h>

const UINT WM_TRAY_CALLBACK = WM_APP + 100;
const UINT_PTR PollTimerId = 0;
const UINT PollIntervalMs = 100;
// The window's own tick while the camera thread polls: the icon's retries,
// the policy and session watches and the camera call's deadline need no
// more, and an idle Lumo2 wakes no more often than it must.
const UINT HousekeepingMs = 500;
// How long the end of a session waits for the camera thread to give the
// devices back.
const DWORD SessionEndWaitMs = 1000;

// The module whose resources every window and icon is made from; set at
// start-up (tests point it at Lumo2.exe loaded as data).
extern HINSTANCE AppInstance;

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Passed as the creation parameter, it leaves the icon to
// ShowTrayIconAfterConnect, so that the start adds it once the camera's
// state is known.
extern const char TrayIconAfterConnect[];
void ShowTrayIconAfterConnect();
void ShowTrayMenu(HWND window);

// The mode a tray command selects, or 0 for a command that selects none.
LONG ModeForCommand(WORD command);
// Greys what a policy mode takes away: every other mode item and "Custom
// Settings" (by position, as the mark goes).
void GreyItemsLockedByPolicy(HMENU popup);
// Whether a policy takes this tray command away. Choosing the policy's own
// JOYSTICK item still opens the joystick afresh, as a replugged one needs.
bool PolicyTakesCommand(WORD command);
// Puts the radio mark on the item whose position equals the action mode.
void MarkActionMode(HMENU popup);
// At the end of the run when the camera thread did not end in time: logs
// the exit, lets the mutex go and ends the process without waiting for the
// thread.
void EndWithoutCamera(int exitCode);
