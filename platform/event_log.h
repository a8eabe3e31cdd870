// Entries in the Windows Application log, for IT to collect centrally. Only
// written where the per-machine package has registered the source "Lumo2";
// elsewhere the Event Viewer would show each one as a message it cannot find.
#pragma once
#include <windows.h>

// The message IDs of res/lumo2.mc, severity bits included: the Event Viewer
// shows the low 16 bits as the event ID, and finds the text by the whole.
const DWORD EventStarted = 0x40000001;          // information
const DWORD EventCameraConnected = 0x40000002;  // information, %1 the camera
const DWORD EventCameraNotFound = 0x80000003;   // warning
const DWORD EventKeysBlocked = 0x80000004;      // warning, %1 the program
// The same event 4 with the other advice: the Event Viewer and a query by
// event ID see one event, the qualifiers tell the two texts apart.
const DWORD EventKeysBlockedAskForInstall = 0x80010004;  // warning, %1 the program
const DWORD EventNoJoystick = 0x80000005;       // warning, %1 why
const DWORD EventSettingsNotSaved = 0xC0000006; // error
const DWORD EventCameraNotResponding = 0x80000007;  // warning
const DWORD EventCameraProcessRestarted = 0x80000008;  // warning, %1 why

// Where the per-machine package registers the source.
const char EventSourceKeyPath[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Lumo2";

// EVENTLOG_INFORMATION_TYPE, _WARNING_TYPE or _ERROR_TYPE, from the ID's
// severity.
WORD EventTypeOf(DWORD eventId);

// Every entry goes through here, so a test can record what would be written
// (the system's ReportEventA keeps nothing under Wine). insert may be null.
typedef BOOL (*EventWriterFn)(HANDLE source, WORD type, DWORD eventId, const char* insert);
extern EventWriterFn WriteEventEntry;
BOOL WriteEventEntryOfSystem(HANDLE source, WORD type, DWORD eventId, const char* insert);

// Writes the entry when the source is registered; otherwise nothing. A log
// that cannot be written changes nothing else.
void ReportProgramEvent(DWORD eventId, const char* insert = NULL);
// Gives the source handle back (at the end of the run).
void CloseEventSource();
