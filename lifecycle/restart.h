// Lumo2 coming back on its own: Windows restarts it after a crash or a hang,
// and Windows Installer's Restart Manager after it has closed it for an
// installation, in the session it closed it in.
#pragma once
#include <windows.h>

// What the command line asks of a start, apart from "/report".
enum StartKind {
    NormalStart,
    RestartedByWindows,  // "/restarted", as registered with Windows
};

// Reads the whole command line, program name first, as GetCommandLineW
// gives it. Unknown arguments make a normal start, as they always did.
StartKind ReadStartSwitch(const WCHAR* commandLine);

// The arguments Windows restarts Lumo2 with.
extern const WCHAR RestartedSwitch[];

// RegisterApplicationRestart, bound by name; tests record the call, which is
// a stub under Wine.
typedef HRESULT(WINAPI* RegisterRestartFn)(const WCHAR* commandLine, DWORD flags);
extern RegisterRestartFn RegisterRestart;

// Asks Windows to start Lumo2 again with RestartedSwitch after a crash, a
// hang or an installation that closed it, but not after a reboot: the Run
// value starts it then. Never withdrawn: the Restart Manager reads it after
// Lumo2 has ended.
void RegisterForRestart();
