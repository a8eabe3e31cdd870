// What the tray icon and its tip say about the camera button: ready or not,
// the mode in force and the camera, or the program that dropped the last
// press's keys. Shown when it changes, never by a timer and never with a
// balloon.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include "actions/joystick.h"
#include "actions/program_in_front.h"
#include "camera/button_source.h"

// Every call to the notification area goes through here, so a test can play
// a shell that is not ready yet or one that has just restarted.
// Wide, so that the tip and the balloons show Korean on a PC whose code
// page has no Hangul.
typedef BOOL (*TrayNotifyFn)(DWORD message, NOTIFYICONDATAW* data);
extern TrayNotifyFn TrayNotify;

// The camera and the joystick as the thread that owns them last described
// them, and whether a call into the camera has not returned in time. The
// window thread's alone: the camera thread's answers bring them.
extern CameraView KnownCamera;
extern bool CameraNotResponding;

// Whether the notification area holds the icon as far as the program knows;
// while it does not, poll ticks try to add it again, as often as
// TrayIconRetryDue allows.
extern bool TrayIconShown;

// The clock of those retries, and the DPI the taskbar draws icons at; tests
// play time and a taskbar that moved to a monitor of another scale (Wine
// has one scale for every monitor).
typedef DWORD (*TrayClockFn)();
extern TrayClockFn TrayClock;
typedef UINT (*TrayDpiFn)(HWND window);
extern TrayDpiFn TrayIconDpi;

// Whether a refused icon is tried again now: once a second during the
// first minute the icon has been missing (a shell starting at logon takes
// icons within seconds), then once a minute, so that a shell that never
// takes it costs nothing.
bool TrayIconRetryDue(DWORD missingForMs, DWORD sinceLastTryMs);

struct TrayStatus {
    bool ready;      // a camera found, in the JOYSTICK mode a usable driver,
                     // and the last press's keys not dropped
    WCHAR tip[128];  // what the shell shows over the icon
};

// The status the program is in now.
void DescribeTrayStatus(TrayStatus* status);

// "Lumo2", the mode's menu text (", set by your administrator" under a
// policy; the joystick's problem in brackets when there is one) and the
// camera, in at most 127 characters, in the language in force. The camera's
// name is shortened before the mode ever is. With blockedExe (the name of
// the program dropping the keys, possibly "") the camera's place says that
// instead, and that name gives way before the mode. Nothing is cut inside a
// character: not a surrogate pair, not a Hangul syllable made of jamo.
// Its own words are in language (0: the language in force).
// ownModes (", 2 programs their own", or null) follows the mode and is left
// out whole when it does not fit; it gives way before the mode.
void ComposeTrayTip(WCHAR* tip, const WCHAR* modeText, bool setByPolicy, const WCHAR* joystickProblem,
                    const WCHAR* camera, const WCHAR* blockedExe = NULL, WORD language = 0,
                    const WCHAR* ownModes = NULL);
// How many programs have their own mode, as the tip says it in language:
// "" for none.
void ComposeOwnModesText(WCHAR* text, int size, UINT count, WORD language);
// The " – " between the tip's parts.
const WCHAR* TipSeparator();
// Appends as much of text as fits before the end of a buffer of capacity
// characters, whole characters only.
void AppendWhole(WCHAR* tip, int capacity, const WCHAR* text);

// Gives the icon the status in force when it differs from what it shows,
// and writes the entry for a joystick that became unusable.
void UpdateTrayStatus();
// After a display change or a new work area (a dock, a taskbar moved to
// another monitor): the icon drawn again when the taskbar's scale asks for
// another size than the one shown.
void FollowTaskbarScale();
// After each ConnectCamera: the entry for a camera found or lost (once per
// change, not per device message), then the icon.
void FollowCameraConnect();
// Icon and tip of the status in force for an icon being added; window owns
// it, and the menu and the icon come from instance's resources.
void FillTrayStatus(NOTIFYICONDATAW* data, HWND window, HINSTANCE instance);

// The same picture grey and faint, at icon's size; kept for the run. Null
// when icon cannot be read.
HICON DimmedIcon(HICON icon);
// At the end of the run.
void FreeDimmedIcons();

// How many programs have a mode of their own in force, as the rules' last
// reading and the policy then gave it: the tip counts them. The window
// thread's.
UINT ProgramsWithOwnModeNow();
void NoteProgramsWithOwnMode(UINT count);

// The balloon shown when the program in front runs with higher rights than
// Lumo2, so Windows discards the keys sent to it: it names the program
// (shortened to fit the balloon's 255 characters) and gives the advice, in
// the language in force.
void ComposeBlockedKeysText(WCHAR* text, int size, const char* exeName, BlockedKeysAdvice advice);

// The text of the balloon for what keeps the joystick from clicking, 0 when
// nothing does.
UINT JoystickBalloonText(JoystickStatus status);
