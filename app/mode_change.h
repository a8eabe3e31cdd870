// The mode in force changes here and nowhere else: the user's choice from the
// menu or by "Save", a policy that comes or goes, and the start. Each keeps
// the joystick and the poll period in step with it, through the camera
// thread.
#pragma once
#include <windows.h>

// Reads the policies beside the user's mode just read from the registry and
// writes the start to the log. The joystick is the camera thread's first
// business once it runs.
void StartModeInForce();
// Makes mode the user's own. The joystick is opened when its mode comes into
// force, and opened afresh when it is chosen again so that a replugged one
// works (with a balloon when it cannot click); vJoy's device is given back
// whenever another mode is in force.
void ChangeActionMode(LONG mode);
// The JOYSTICK item chosen while a policy sets that mode: opened afresh, the
// user's own mode unchanged.
void ReopenJoystick();
// After "Save", which has made 10 the user's mode whether or not the record
// was stored (saved): a policy's joystick stays held, any other gives vJoy's
// device back; a failed save goes to the Event Log for IT.
void FollowSavedSettings(bool saved);
// Reads the policies again (when the menu opens, on a policy change) and
// keeps the joystick and the poll period in step as above.
void RefreshPolicy();
// The poll period last asked of the camera thread, in ms.
DWORD PollIntervalInUse();
