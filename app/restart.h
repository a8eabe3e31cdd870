// Lumo2 coming back on its own: Windows restarts it after a crash or a hang,
// and after Windows Installer has closed it for an upgrade (Intune,
// Configuration Manager), a copy of it in the temporary folder starts it
// again once the installation is over.
#pragma once
#include <windows.h>

// What the command line asks of a start, apart from "/report".
enum StartKind {
    NormalStart,
    RestartedAfterCrash,  // "/restarted", as registered with Windows
    Relaunch,             // "/relaunch <pid> \"<path of Lumo2.exe>\""
    BadRelaunch,          // "/relaunch" without a usable pid and path
};

// The longest path of Lumo2.exe a relaunch carries, terminator included.
const int RelaunchPathMax = 1024;

struct StartSwitch {
    StartKind kind;
    DWORD oldProcessId;
    WCHAR exePath[RelaunchPathMax];
};

// Reads the whole command line, program name first, as GetCommandLineW
// gives it. Unknown arguments make a normal start, as they always did.
void ReadStartSwitch(const WCHAR* commandLine, StartSwitch* start);

// The arguments Windows restarts Lumo2 with after a crash or a hang.
extern const WCHAR RestartedSwitch[];

// RegisterApplicationRestart and UnregisterApplicationRestart, bound by
// name; tests record the calls, which are stubs under Wine.
typedef HRESULT(WINAPI* RegisterRestartFn)(const WCHAR* commandLine, DWORD flags);
typedef HRESULT(WINAPI* UnregisterRestartFn)();
extern RegisterRestartFn RegisterRestart;
extern UnregisterRestartFn UnregisterRestart;

// Asks Windows to start Lumo2 again after a crash or a hang, with
// RestartedSwitch, but not after a reboot: the Run value starts it then.
void RegisterForRestartAfterCrash();

// Whether Windows Installer runs an installation: its mutex
// Global\_MSIExecute exists (opened, or there but refused to this account).
bool InstallerRuns();
// Whether a WM_ENDSESSION with these flags means that Windows Installer (its
// Restart Manager) closes Lumo2, rather than a logoff or a shutdown.
bool ClosedForInstall(LPARAM endSessionFlags, bool installerRuns);

// Called while the session ends for Lumo2 (WM_ENDSESSION, wParam TRUE).
// Only when Windows Installer closes it: leaves a copy of Lumo2.exe in the
// temporary folder that starts it again once the installation is over, at
// the level of the user's shell, never higher.
void ArrangeStartAfterInstall(LPARAM endSessionFlags);

// How the relauncher ends: its exit code.
enum RelaunchOutcome {
    RelaunchStarted = 0,
    RelaunchBadArguments = 1,
    RelaunchInstallerStillRuns = 2,
    RelaunchExeGone = 3,
    RelaunchCopyRuns = 4,
    RelaunchStartFailed = 5,
};

// The copy in the temporary folder: waits for the old process to end, then
// for the installation to end (at most RelaunchWaitMs in all), then starts
// exePath unless it is gone or a Lumo2 runs. Returns its outcome.
const DWORD RelaunchWaitMs = 10 * 60 * 1000;
int RunRelauncher(DWORD oldProcessId, const WCHAR* exePath);

// Waits until the installer's mutex is gone or free; false after timeoutMs.
bool WaitForInstallerToEnd(DWORD timeoutMs);

// The name of a relaunch copy in the temporary folder, for the copy of the
// process given: Lumo2-relaunch-<pid>.exe. False when the folder is unknown.
bool RelaunchCopyPath(DWORD processId, WCHAR* path, DWORD size);

// Some seconds after a start, once it waits for input: deletes the relaunch
// copies left in the temporary folder (one still running stays).
void RemoveLeftoverRelaunchCopiesLater();
// Returns how many were deleted.
int RemoveLeftoverRelaunchCopies();
