// Lumo2 coming back on its own: the restart Windows does after a crash or a
// hang, and the one the Restart Manager does after Windows Installer closed
// Lumo2 to replace its files. Lumo2 itself starts nothing: what Windows
// restarts runs in the session, at the level and from the file it was
// closed in and with.
#include "lifecycle/restart.h"
#include "platform/diag_log.h"

const WCHAR RestartedSwitch[] = L"/restarted";

static const WCHAR* SkipBlanks(const WCHAR* at)
{
    while (*at == L' ' || *at == L'\t')
        ++at;
    return at;
}

static const WCHAR* SkipProgramName(const WCHAR* at)
{
    at = SkipBlanks(at);
    if (*at == L'"') {
        for (++at; *at && *at != L'"'; ++at) {
        }
        if (*at)
            ++at;
    } else {
        while (*at && *at != L' ' && *at != L'\t')
            ++at;
    }
    return SkipBlanks(at);
}

// Whether at begins with the switch (any case) as a whole word; moves past it.
static bool TakeSwitch(const WCHAR*& at, const WCHAR* name)
{
    int i = 0;
    for (; name[i]; ++i) {
        WCHAR c = at[i];
        if (c >= L'A' && c <= L'Z')
            c = WCHAR(c - L'A' + L'a');
        if (c != name[i])
            return false;
    }
    if (at[i] != 0 && at[i] != L' ' && at[i] != L'\t')
        return false;
    at = SkipBlanks(at + i);
    return true;
}

StartKind ReadStartSwitch(const WCHAR* commandLine)
{
    // "/relaunch", which copies of earlier versions passed to themselves,
    // is no switch any more: a normal start like any other argument.
    const WCHAR* at = SkipProgramName(commandLine ? commandLine : L"");
    return TakeSwitch(at, RestartedSwitch) ? RestartedByWindows : NormalStart;
}

// Bound by name: a direct import would tie Lumo2.exe to it for no gain.
static HRESULT WINAPI RegisterRestartOfSystem(const WCHAR* commandLine, DWORD flags)
{
    auto fn = reinterpret_cast<RegisterRestartFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "RegisterApplicationRestart")));
    return fn ? fn(commandLine, flags) : E_NOTIMPL;
}

RegisterRestartFn RegisterRestart = RegisterRestartOfSystem;

void RegisterForRestart()
{
    // Not after a reboot: the Run value starts Lumo2 at logon, and a second
    // start from here would only end at the mutex. After a crash or a hang
    // Windows asks the user first, and restarts only a copy that ran at
    // least 60 s, so a crash at start does not loop.
    HRESULT result = RegisterRestart(RestartedSwitch, RESTART_NO_REBOOT);
    if (FAILED(result))
        LogLine("start: Windows will not restart Lumo2 after a crash or an installation (0x%08lX)", result);
}
