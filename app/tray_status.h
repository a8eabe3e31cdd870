// What the tray icon and its tip say about the camera button: ready or not,
// the mode in force and the camera, or the program that dropped the last
// press's keys. Shown when it changes, never by a timer and never with a
// balloon.
#pragma once
#include <windows.h>
#include <shellapi.h>

// Every call to the notification area goes through here, so a test can play
// a shell that is not ready yet or one that has just restarted.
typedef BOOL (*TrayNotifyFn)(DWORD message, NOTIFYICONDATAA* data);
extern TrayNotifyFn TrayNotify;

// Whether the notification area holds the icon as far as the program knows;
// while it does not, every poll tick tries to add it again.
extern bool TrayIconShown;

struct TrayStatus {
    bool ready;      // a camera found, in the JOYSTICK mode a usable driver,
                     // and the last press's keys not dropped
    char tip[128];   // what the shell shows over the icon
};

// The status the program is in now.
void DescribeTrayStatus(TrayStatus* status);

// "Lumo2", the mode's menu text (", set by your administrator" under a
// policy; the joystick's problem in brackets when there is one) and the
// camera, in at most 127 characters. The camera's name is shortened before
// the mode ever is. With blockedExe (the name of the program dropping the
// keys, possibly "") the camera's place says that instead, and that name
// gives way before the mode.
void ComposeTrayTip(char* tip, const char* modeText, bool setByPolicy, const char* joystickProblem,
                    const char* camera, const char* blockedExe = NULL);
// The " – " between the tip's parts where the system's code page has the
// dash, else " - ".
const char* TipSeparator();

// Gives the icon the status in force when it differs from what it shows,
// and writes the entry for a joystick that became unusable.
void UpdateTrayStatus();
// After each ConnectCamera: the entry for a camera found or lost (once per
// change, not per device message), then the icon.
void FollowCameraConnect();
// Icon and tip of the status in force for an icon being added; window owns
// it, and the menu and the icon come from instance's resources.
void FillTrayStatus(NOTIFYICONDATAA* data, HWND window, HINSTANCE instance);

// The same picture grey and faint, at icon's size; kept for the run. Null
// when icon cannot be read.
HICON DimmedIcon(HICON icon);
// At the end of the run.
void FreeDimmedIcons();
