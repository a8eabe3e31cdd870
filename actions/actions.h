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
struct CustomKeySettings;

// Set when the program ends: a Send All or joystick pause under way ends at
// once, and a Send All sends nothing more. Never set while null.
extern HANDLE ActionsStopEvent;
bool ActionsStopped();

// Acts on the mode and custom settings in force.
void PerformAction();
// Acts on the mode and custom settings given, as the press read them once
// when it began: the whole press uses them, however long its pauses.
void PerformActionWith(LONG mode, const CustomKeySettings& custom);
void SendCustomKeys();
void SendCustomKeys(const CustomKeySettings& settings);
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
