// Lumo2: turns the capture button of a USB intraoral camera into the hotkey
// of the dental imaging program in front, from the notification area.
#include "app/shell.h"
#include "app/takeover.h"
#include "app/tray_status.h"
#include "camera/button_source.h"
#include "platform/dll_search.h"
#include "platform/event_log.h"
#include "res/resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // Before anything loads a DLL by name.
    TakeCurrentFolderOutOfDllSearch();
    LoadStringA(instance, IDS_TRAY_CLASS, TrayClassName, sizeof(TrayClassName));
    RegisterWindowClasses(instance);
    // The running copy owns the mutex until it ends, so a copy taking over
    // can tell by taking it that the old one has gone, and only one can.
    HANDLE mutex = CreateMutexA(NULL, TRUE, "Lumo2");
    if (AnotherCopyRuns(mutex, GetLastError()) && !TakeOverRunningCopy(mutex, TakeOverWaitMs))
        return 0;
    RegisterForRestartAfterUpgrade();
    ReportProgramEvent(EventStarted);
    if (!InitializeShell(instance))
        return 0;
    ConnectCamera();
    FollowCameraConnect();
    int exitCode = RunMessageLoop();
    ReleaseDevices();
    CloseEventSource();
    return exitCode;
}
