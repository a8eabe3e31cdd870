// The support report: one UTF-8 file that answers "why did my press do
// nothing?" for the dealer. It only reads: it never opens the camera, never
// calls into the camera library or a joystick device beyond asking its
// state, and never takes the single-instance mutex, so it may run beside the
// copy in use.
#pragma once
#include <windows.h>

// Whether the whole command line (the program's name first, as
// GetCommandLineW gives it) asks for a report ("/report" with an optional
// file, quoted or not); file gets the file or "".
bool IsReportCommand(const WCHAR* commandLine, WCHAR* file, DWORD size);
// Writes the report to file, or without one into the Reports folder and
// shows it there. 0 when written, 1 when it could not be.
int RunReportCommand(const WCHAR* file);
// The tray's "Diagnostics...": the report is written in the Reports folder
// on a thread of its own, which answers owner with WM_REPORT_WRITTEN; one at
// a time.
void MakeReportFromMenu(HWND owner, DWORD pollInterval);
const UINT WM_REPORT_WRITTEN = WM_APP + 106;
// On that answer (wParam 1: lParam is the thread's record, freed here): the
// report shown selected in its folder, or a message with the reason it
// could not be written, and a line in the log.
void FollowReportWritten(HWND owner, WPARAM owned, LPARAM lParam);
// At exit: a report from the menu still being written is given a moment to
// finish, else removed; never left cut off.
void EndReportUnderWay();
// ERROR_SUCCESS when written, else why not (nothing is left behind).
DWORD WriteSupportReport(const WCHAR* file);

// Who wrote the report, said without naming anyone: the account signed in
// at the desktop, another one (a technician's administrator account), the
// system account (a management agent), or not known when no desktop shell
// runs to compare with.
enum ReportWriter { WriterDesktopUser, WriterOtherAccount, WriterSystem, WriterUnknown };
// own: this process's user; desktopUser: the shell's, null when it could
// not be read; shellFound: whether a desktop shell runs at all.
ReportWriter ClassifyReportWriter(PSID own, PSID desktopUser, bool shellFound);
const char* ReportWriterText(ReportWriter writer);
