// The rules for programs on the window thread: read at the first tick (never
// before the program waits for input), again when the user's key changes
// (by the window, a registry editor or a script), when the policies change,
// and put in force for the camera thread's next press.
#pragma once
#include <windows.h>

// Watches HKCU\Software\Kestrova and all below it (or, while it does not
// exist, the key it will be made in) for a change: the user's rules, and
// the user's Language, which the tip follows.
void StartProgramRulesWatch();
// Whether the user's rules changed since the last call; never waits.
// Asked on the tray tick, as the policy watch is.
bool ProgramRulesChanged();
void StopProgramRulesWatch();

// Reads the three levels, puts them in force, names the values ignored in
// the log when they differ from the last reading, and keeps the joystick,
// the tip and the open window in step.
void RefreshProgramRules();
