// What one camera press turns into: fixed hotkeys, the user's own key
// combinations, or a joystick click.
#pragma once
#include <windows.h>

// What a press advances: the alternating modes' toggle (0 sends the first
// hotkey next), the index of the combination the next Sequential press
// sends and when the last Sequential press sent one (GetTickCount).
struct PressState {
    LONG toggle;
    LONG position;
    DWORD lastSendTime;
};

// The one state that presses taking the menu's or the policy's mode share,
// whatever program is in front; its three parts by their own names.
extern PressState SharedPressState;
extern LONG& HotkeyToggle;
extern LONG& SequencePosition;
extern DWORD& LastSendTime;

// The state a press advances: the shared one for ruleKey 0, else the rule's
// own, kept across a new reading of the rules for as long as the rule is
// read. The camera thread's alone (the window thread's where no thread
// runs): only a press asks, and only a press changes what it gives. Rules
// no press has used for longest give their place up once all are taken.
const UINT RuleStatesMax = 768;  // RulesPerKeyMax at each of the three levels
PressState* PressStateFor(ULONGLONG ruleKey);

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
// state is what the press advances (the shared one when not given).
void PerformActionWith(LONG mode, const CustomKeySettings& custom, PressState* state = &SharedPressState);
void SendCustomKeys();
void SendCustomKeys(const CustomKeySettings& settings, PressState* state = &SharedPressState);
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
