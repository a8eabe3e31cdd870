// The camera's own thread. It owns the vendor library, the capture filter
// (whose COM objects live in its own apartment), the joystick, the poll and
// each press's action, so that nothing a camera, a driver or a Send All pause
// does can hold up the tray window: its menu, "Exit", the end of a session.
//
// One way in, one way out: the window thread asks for work only through the
// Request functions (flags and values the thread takes when it wakes), and
// hears back only through the messages below, posted to the tray window.
// Where the thread could not be started, the window thread does the same work
// itself, on its own timer, and the answers are sent to the window instead.
#pragma once
#include "actions/key_output.h"
#include "actions/program_in_front.h"
#include "camera/button_source.h"
#include "camera/camera_link.h"
#include "settings/policy.h"
#include <windows.h>

// To the tray window. A wParam of 1 means lParam is a record on the heap
// that the window thread frees; 0 that it belongs to the sender.
const UINT WM_CAMERA_CONNECTED = WM_APP + 101;   // lParam CameraView*
const UINT WM_CAMERA_PRESSED = WM_APP + 102;     // lParam PressRecord*
const UINT WM_JOYSTICK_FOLLOWED = WM_APP + 103;  // lParam JoystickFollow*
const UINT WM_CAMERA_RESPONDING = WM_APP + 104;  // a call that had hung returned
const UINT WM_CAMERA_SESSION = WM_APP + 105;     // wParam 0: devices given back, 1: taken again

// What one press did, for the log, the balloon and the tray's status.
struct PressRecord {
    LONG mode;                // the mode the whole press used
    PressDecision decision;   // how the rules and the policy gave that mode
    KeySendRecord keys;       // what SendInput took
    // The program in front, looked up once before the keys (it decides
    // them) and completed after them for the blocked-keys status.
    ForegroundTarget target;
    JoystickStatus joystick;  // after the press
};

struct JoystickFollow {
    JoystickStatus status;
    bool opened;    // the joystick was opened for this request
    bool fromMenu;  // the user chose JOYSTICK from the menu
};

// How long a camera call may take before the camera counts as not
// responding.
const DWORD CameraCallDeadlineMs = 2000;

// Starts the thread, which connects the camera, follows the mode in force
// and then polls; answers go to window. False when it could not be started:
// the window thread then does the camera's work itself.
// Where it can, the vendor library, the capture filter and the poll run in
// a camera process of Lumo2's own (camera/camera_host.h), and the thread acts
// on the presses that process reports instead of polling.
bool StartCameraThread(HWND window);
// Whether the camera runs in a process of its own.
bool CameraInOwnProcess();
// This process as the camera process of the Lumo2 that started it: connects,
// polls and reports until that Lumo2 asks it to stop or ends. Its exit code.
int RunCameraProcess(const CameraLinkHandles& handles);
// Sets the poll's waitable timer going at a period; tests make it fail, as
// Windows may, to see the wait pace the poll instead.
typedef bool (*ArmPollTimerFn)(HANDLE timer, LONG periodMs);
extern ArmPollTimerFn ArmPollTimer;
bool CameraThreadRunning();
// Where answers go while no thread runs (a window made without the start,
// as in tests); null drops them.
void SetCameraWindow(HWND window);

// A device change: one reconnect, or one after the call under way for all
// that arrive meanwhile.
void RequestReconnect();
// The mode in force or the rules may have changed: the joystick is opened
// when JOYSTICK came into force as the default or any rule's mode, or was
// chosen again, and given back when none is.
void RequestJoystickFollow(bool chosenAgain, bool fromMenu);
// The user's session was disconnected (false) or connected again (true):
// the camera and the joystick are given back and polling stops, or they are
// taken again and polling resumes.
void RequestSessionConnected(bool connected);
// The poll period from the next tick on.
void RequestPollInterval(DWORD ms);

// Without the thread only: the window's tick polls and presses here.
void PollOnWindowTick();

// How long the camera or joystick call under way has been running, 0 when
// none is, in milliseconds of the unbiased interrupt time, which leaves out
// sleep and hibernation.
DWORD CameraCallAge();
// The same for a call begun at started (the same clock | 1, 0 for none),
// read at now.
DWORD CallAge(LONG started, DWORD now);
// What that call is: "poll", "connect", "release" or "joystick call".
const char* CameraCallName();
// The window thread has declared the camera not responding; the thread
// answers WM_CAMERA_RESPONDING and reconnects once the call returns.
void NoticeCameraHang();

// Asks the thread to give the camera and the joystick back and end, and
// waits up to timeoutMs. False when it has not ended by then (a call into
// the camera or a driver does not return; its I/O is cancelled where the
// driver allows): the process must then end without it. Without a thread,
// gives the devices back itself.
bool StopCameraThread(DWORD timeoutMs);
