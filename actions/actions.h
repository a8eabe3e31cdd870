// What one camera press turns into: fixed hotkeys, the user's own key
// combinations, or a joystick click.
#pragma once
#include <windows.h>

// Shared by the alternating modes: 0 sends the first hotkey next.
extern LONG HotkeyToggle;

// Index of the combination the next Sequential press sends, and when the
// last Sequential press sent one (GetTickCount).
extern LONG SequencePosition;
extern DWORD LastSendTime;

struct KeyCombo;

void PerformAction();
void SendCustomKeys();
void SendKeyCombo(KeyCombo combo);

// The Send All pause for a stored time: never negative and never longer than
// LongestSendAllPause. The Sequential restart time is not bounded.
const DWORD LongestSendAllPause = 10000;
DWORD SendAllPause(LONG interval);

// Clock and pause used by the custom sequences; tests replace them to control
// time without waiting for it.
typedef DWORD (*ClockFn)();
typedef void (*PauseFn)(DWORD ms);
extern ClockFn CustomKeysClock;
extern PauseFn CustomKeysPause;
