// Lumo2: turns the capture button of a USB intraoral camera into the hotkey
// of the dental imaging program in front, from the notification area.
#include "app/shell.h"
#include "app/tray_window.h"
#include "camera/camera_host.h"
#include "camera/camera_thread.h"
#include "diagnostics/diag_events.h"
#include "diagnostics/report.h"
#include "lifecycle/restart.h"
#include "lifecycle/takeover.h"
#include "platform/diag_log.h"
#include "platform/dll_search.h"
#include "platform/event_log.h"
#include "platform/integrity.h"
#include "res/resource.h"
#include "tray/tray_status.h"
#include <objbase.h>

static int RunProgram(HINSTANCE instance)
{
    // Before the mutex and any window: support may run it beside the copy
    // in use, which it must leave alone. Read wide: the file's folder may be
    // named in any script.
    WCHAR reportFile[MAX_PATH];
    if (IsReportCommand(GetCommandLineW(), reportFile, MAX_PATH))
        return RunReportCommand(reportFile);
    // Lumo2's own camera process: no window, no mutex, no log of its own.
    static CameraLinkHandles cameraLink;
    if (IsCameraCommand(GetCommandLineW(), &cameraLink))
        return RunCameraProcess(cameraLink);
    CameraProcessWanted = true;
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
    InstanceMutex = mutex;
    RegisterForRestart();
    ReportProgramEvent(EventStarted);
    // The window comes first, so that a device change during the connect
    // reaches it and a copy taking over or the installer finds it; the
    // camera thread then connects, and the icon comes with its answer, the
    // camera's state known: the shell gets one icon, not a grey one followed
    // at once by the coloured one.
    if (!InitializeShell(instance))
        return 0;
    if (ReadStartSwitch(GetCommandLineW()) == RestartedByWindows)
        LogLine("start: restarted by Windows after a crash, a hang or an installation");
    int exitCode = RunMessageLoop();
    EndReportUnderWay();
    if (!StopCameraThread(CameraNotResponding ? 0 : ExitWaitMs))
        EndWithoutCamera(exitCode);
    LogExit(exitCode);
    CloseEventSource();
    return exitCode;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // Before anything loads a DLL by name. An elevated copy outside Program
    // Files leaves its own folder out too: whoever could write it must not
    // have a library of theirs run with administrator rights.
    WCHAR exeFolder[MAX_PATH];
    TakeCurrentFolderOutOfDllSearch(ExeFolder(exeFolder, MAX_PATH) &&
                                    MayLoadFromExeFolder(LookUpOwnSearchLevelOfSystem(), exeFolder));
    // The window thread's apartment, which ShellExecuteW (the report shown
    // in its folder) and the file dialog of the programs window need; the
    // camera thread and the report's thread have their own.
    HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    int exitCode = RunProgram(instance);
    if (SUCCEEDED(com))
        CoUninitialize();
    return exitCode;
}
