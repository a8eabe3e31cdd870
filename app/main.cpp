// Lumo2: turns the capture button of a USB intraoral camera into the hotkey
// of the dental imaging program in front, from the notification area.
#include "app/diag_events.h"
#include "app/report.h"
#include "app/restart.h"
#include "app/shell.h"
#include "app/takeover.h"
#include "app/tray_window.h"
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
    // Also before the mutex: the relaunch copy is no Lumo2 of its own.
    static StartSwitch start;
    ReadStartSwitch(GetCommandLineW(), &start);
    if (start.kind == Relaunch)
        return RunRelauncher(start.oldProcessId, start.exePath);
    if (start.kind == BadRelaunch)
        return RelaunchBadArguments;
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
    RegisterForRestartAfterCrash();
    ReportProgramEvent(EventStarted);
    // Held for the whole run. A connect that finds no camera through the
    // vendor library gives its own initialisation back and takes it again;
    // with this one under it, that no longer takes the thread's apartment
    // down and builds it up again, about a sixth of a connect's time, at
    // every start and at every device change.
    bool comHeld = SUCCEEDED(CoInitialize(NULL));
    if (!InitializeShell(instance)) {
        if (comHeld)
            CoUninitialize();
        return 0;
    }
    if (start.kind == RestartedAfterCrash)
        LogLine("start: restarted by Windows after a crash");
    // The window comes first, so that a device change during the connect
    // reaches it and a copy taking over or the installer finds it; the icon
    // comes after, with the camera's state known: the shell gets one icon,
    // not a grey one followed at once by the coloured one, and the start is
    // the shorter for it.
    ConnectCameraAndLog();
    ShowTrayIconAfterConnect();
    RemoveLeftoverRelaunchCopiesLater();
    int exitCode = RunMessageLoop();
    ReleaseDevices();
    if (comHeld)
        CoUninitialize();
    LogExit(exitCode);
    CloseEventSource();
    return exitCode;
}
