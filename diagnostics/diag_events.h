// What the program writes to its diagnostic log, and the facts about this PC
// that the log's start line and the support report share. Nothing here may
// write a window title, typed text, a user name or a computer name.
#pragma once
#include "actions/joystick.h"
#include "camera/button_source.h"
#include <windows.h>

// The mode's menu text, or its number and that it does nothing; buffer
// takes at least 32 characters.
const char* ModeName(LONG mode, char* buffer);
// The joystick's status for the log and the report, in English, from any
// thread.
const char* JoystickStatusText(JoystickStatus status);
// "Windows 10.0.22631.4317 (23H2), 32-bit on 64-bit" and the like.
void DescribeWindows(char* text, DWORD size);
// "low", "medium", "high", ... for a mandatory level from actions/program_in_front.h.
const char* IntegrityText(DWORD integrity);
// The executable's file name of the process looked up ("none" without one,
// "unknown" when it could not be named).
struct ForegroundTarget;
void NameProgramInFront(const ForegroundTarget& target, char* exeName, DWORD size);

// The start line, with the camera's poll period in ms.
void LogStart(DWORD pollInterval);
// The mode in force against before; cause says what changed it. At the
// start the mode is written whatever it is.
void LogModeInForce(LONG before, const char* cause);
// The joystick's state when it differs from the last one written.
void LogJoystickStatus();
// What follows each connect, from the camera thread's description of it:
// the route found or lost since the last one in the log, the tray's status
// and the Event Log.
void FollowCameraDescription(const CameraView& view);

// The press's line, written after its keys went, with what was sent, what
// SendInput took and the program in front.
struct PressRecord;
void LogPress(const PressRecord& press);

// Why the message loop ended, for the exit line.
extern const char* ExitReason;
void LogExit(int exitCode);
