// Lumo2: turns the capture button of a USB intraoral camera into the hotkey
// of the dental imaging program in front, from the notification area.
#include "app/shell.h"
#include "camera/button_source.h"
#include "res/resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    LoadStringA(instance, IDS_TRAY_CLASS, TrayClassName, sizeof(TrayClassName));
    RegisterWindowClasses(instance);
    CreateMutexA(NULL, FALSE, "Lumo2");
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    if (!InitializeShell(instance))
        return 0;
    ConnectCamera();
    int exitCode = RunMessageLoop();
    ReleaseCamera();
    return exitCode;
}
