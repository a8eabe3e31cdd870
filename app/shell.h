// The application shell: start-up, the single-instance guard and the message
// loop.
#pragma once
#include "platform/window_paint.h"
#include <windows.h>

void RegisterWindowClasses(HINSTANCE instance);
// Reads "key" into the action mode and the policies, and loads what the mode
// needs before any window exists: the user's custom key settings for the
// user's 10, the joystick for a 9 in force.
void ReadStartUpSettings();
// The tray window, its icon left for after the first connect, its timer and
// the camera thread; 0 when the window cannot be made.
int InitializeShell(HINSTANCE instance);
int RunMessageLoop();
// How long the end of the run waits for the camera thread to give the
// camera and the joystick back: with the end of a session, within the 2 s
// that Exit may take.
const DWORD ExitWaitMs = 1500;

