// Where camera button presses come from: the vendor's extension-unit library
// when it sees the camera, else the capture driver's snapshot latch.
#pragma once
#include "actions/joystick.h"
#include "camera/video_device.h"

extern LONG ExtensionUnitActive;
extern LONG ExtensionUnitButtonDown;
extern VideoDevice* CameraDevice;

void ConnectCamera();
bool PollCameraButton();
int PollExtensionUnitButton();
void ReleaseCamera();

// The capture device's friendly name while that route is connected, else "".
const char* ConnectedCameraName();

enum CameraRoute { RouteNone, RouteExtensionUnit, RouteCaptureDriver };

// What the rest of the program may know of the camera and the joystick: a
// copy taken by the thread that owns them, for the tray, the log and the
// report on the window thread.
struct CameraView {
    int route;                 // a CameraRoute
    char name[260];            // the capture device's friendly name, or ""
    WCHAR library[MAX_PATH];   // the vendor library's file on its route, or ""
    JoystickStatus joystick;
};
void DescribeCamera(CameraView* view);
