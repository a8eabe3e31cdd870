// Where camera button presses come from: the vendor's extension-unit library
// when it sees the camera, else the capture driver's snapshot latch.
#pragma once
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
