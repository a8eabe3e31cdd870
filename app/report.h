// The support report: one UTF-8 file that answers "why did my press do
// nothing?" for the dealer. It only reads: it never opens the camera, never
// calls into the camera library or a joystick device beyond asking its
// state, and never takes the single-instance mutex, so it may run beside the
// copy in use.
#pragma once
#include <windows.h>

// Whether the command line asks for a report ("/report" with an optional
// file, quoted or not); file gets the file or "".
bool IsReportCommand(const char* commandLine, char* file, DWORD size);
// Writes the report to file, or without one to the desktop and shows it in
// its folder. 0 when written, 1 when it could not be.
int RunReportCommand(const char* file);
// The tray's "Diagnostics...": the report on the desktop, shown in its
// folder.
void MakeReportOnDesktop();
bool WriteSupportReport(const char* file);
