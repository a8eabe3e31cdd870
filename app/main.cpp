// Lumo2: turns the capture button of a USB intraoral camera into the hotkey
// of the dental imaging program in front, from the notification area.
#include "app/diag_events.h"
#include "app/report.h"
#include "app/shell.h"
#include "app/takeover.h"
#include "camera/button_source.h"
#include "platform/diag_log.h"
#include "platform/dll_search.h"
#include "platform/event_log.h"
#include "res/resource.h"
#include <objbase.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    // Before anything loads a DLL by name.
    TakeCurrentFolderOutOfDllSearch();
    // Before the mutex and any window: support may run it beside the copy
    // in use, which it must leave alone.
    char reportFile[MAX_PATH];
    if (IsReportCommand(commandLine, reportFile, sizeof(reportFile)))
        return RunReportCommand(reportFile);
    LoadStringA(instance, IDS_TRAY_CLASS, TrayClassName, sizeof(TrayClassName));
    RegisterWindowClasses(instance);
    // The running copy owns the mutex until it ends, so a copy taking over
    // can tell by taking it that the old one has gone, and only one can.
    HANDLE mutex = CreateMutexA(NULL, TRUE, "Lumo2");
    if (AnotherCopyRuns(mutex, GetLastError())) {
        bool tookOver = TakeOverRunningCopy(mutex, TakeOverWaitMs);
        LogLine(tookOver ? "takeover: the lower-level copy ended"
                         : "start: another copy runs; this one ends");
        if (!tookOver)
            return 0;
    }
    RegisterForRestartAfterUpgrade();
    ReportProgramEvent(EventStarted);
    ReadStartUpSettings();
    // Held for the whole run. A connect gives its own initialisation back
    // and takes it again after asking the vendor library; with this one
    // under it, that no longer takes the thread's apartment down and builds
    // it up again, about a sixth of a connect's time, at every start
    // and at every device change.
    CoInitialize(NULL);
    // Before the tray window, whose icon then shows the camera's state from
    // the first moment: the shell gets one icon, not a grey one followed at
    // once by the coloured one, and the start is the shorter for it.
    ConnectCameraAndLog();
    int exitCode = InitializeShell(instance) ? RunMessageLoop() : 0;
    ReleaseDevices();
    CoUninitialize();
    LogExit(exitCode);
    CloseEventSource();
    return exitCode;
}
