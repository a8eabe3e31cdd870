// The application shell: start-up, the single-instance guard and the message
// loop.
#pragma once
#include "platform/window_paint.h"
#include <windows.h>

extern HINSTANCE AppInstance;
extern char TrayClassName[100];
extern HWND SettingsWindowHandle;

void RegisterWindowClasses(HINSTANCE instance);
// Reads "key" into the action mode and the policies, and loads what the mode
// needs before any window exists: the user's custom key settings for the
// user's 10, the joystick for a 9 in force.
void ReadStartUpSettings();
// The tray window, its icon left for after the first connect, its timer and
// the camera thread; 0 when the window cannot be made.
int InitializeShell(HINSTANCE instance);
// Fills the settings window from the stored settings and shows it, making it
// first if this is its first opening; says so when that fails.
void OpenSettingsWindow();
// Shows the "Modes for programs" window, made on its first opening.
void OpenProgramsWindow();
int RunMessageLoop();
// The mutex "Lumo2" while this copy owns it (on the window thread, which
// alone releases it); null before.
extern HANDLE InstanceMutex;
// At the end of the run when the camera thread did not end in time: logs
// the exit, lets the mutex go and ends the process without waiting for the
// thread.
void EndWithoutCamera(int exitCode);
// How long the end of the run waits for the camera thread to give the
// camera and the joystick back: with the end of a session, within the 2 s
// that Exit may take.
const DWORD ExitWaitMs = 1500;

// Whether the outcome of creating the mutex "Lumo2" means another copy runs.
// A copy started as administrator holds a mutex that an ordinary start may
// not open: that is access denied, and it runs all the same. A mutex that
// exists but is free (abandoned, or let go by a copy still ending) is taken:
// this copy then owns it and runs.
bool AnotherCopyRuns(HANDLE mutex, DWORD lastError);
