#include "camera/button_source.h"
#include "actions/joystick.h"
#include "camera/device_lookup.h"
#include "camera/uexproc.h"
#include <objbase.h>

LONG ExtensionUnitActive = 0;
LONG ExtensionUnitButtonDown = 0;
VideoDevice* CameraDevice = NULL;

// A held VideoDevice owns one COM initialisation of this thread; giving the
// device back gives that back too.
static void DropCameraDevice()
{
    ReleaseDriverInterface(CameraDevice);
    delete CameraDevice;
    CameraDevice = NULL;
    CoUninitialize();
}

void ConnectCamera()
{
    CoInitialize(NULL);
    if (ExtensionUnitIsConnected() > 0) {
        ExtensionUnitActive = 1;
        return;
    }
    ExtensionUnitActive = 0;
    ExtensionUnitRelease();
    CoUninitialize();
    CoInitialize(NULL);

    if (CameraDevice)
        DropCameraDevice();
    CameraDevice = new VideoDevice;
    if (OpenVideoDevice(CameraDevice))
        return;
    delete CameraDevice;
    CameraDevice = NULL;
    CoUninitialize();
}

int PollExtensionUnitButton()
{
    static BYTE commandData[4];
    int down = ExtensionUnitSendCommand(ButtonStateCommand, 0, commandData, sizeof(commandData));
    // A press is the change from up to down; holding reports nothing more.
    if (ExtensionUnitButtonDown) {
        if (!down)
            ExtensionUnitButtonDown = 0;
        return 0;
    }
    if (!down)
        return 0;
    ExtensionUnitButtonDown = 1;
    return 1;
}

bool PollCameraButton()
{
    if (ExtensionUnitActive)
        return PollExtensionUnitButton() > 0;
    if (CameraDevice)
        return CheckSnapshotLatch(CameraDevice) != 0;
    return false;
}

void ReleaseCamera()
{
    if (ExtensionUnitActive == 1) {
        ExtensionUnitRelease();
        ExtensionUnitActive = 0;
        CoUninitialize();
        return;
    }
    CloseJoystick();
    if (CameraDevice)
        DropCameraDevice();
}

const char* ConnectedCameraName()
{
    return CameraDevice ? CameraDevice->name : "";
}

void DescribeCamera(CameraView* view)
{
    ZeroMemory(view, sizeof(*view));
    view->route = ExtensionUnitActive ? RouteExtensionUnit : CameraDevice ? RouteCaptureDriver : RouteNone;
    lstrcpynA(view->name, ConnectedCameraName(), sizeof(view->name));
    if (ExtensionUnitActive)
        GetModuleFileNameW(ExtensionUnitLibrary(), view->library, MAX_PATH);
    view->joystick = CurrentJoystickStatus();
}
