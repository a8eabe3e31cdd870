// Stand-in for vJoy's 32-bit feeder library: the six functions Lumo2 binds,
// __cdecl and exported by their plain names, with one device (1) whose
// owner and every change asked of it are kept in the shared log.
#include "standins/vjoy/vjoy_log.h"

static void Record(LONG kind, UINT id, LONG down, LONG button)
{
    VJoyLog* log = OpenVJoyLog();
    if (!log || log->count < 0 || log->count >= VJoyLogSize)
        return;
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    log->frequency = frequency.QuadPart;
    log->calls[log->count] = {kind, id, down, button, GetCurrentProcessId(), counter.QuadPart};
    InterlockedIncrement(&log->count);
}

extern "C" {

__declspec(dllexport) BOOL __cdecl vJoyEnabled(void)
{
    VJoyLog* log = OpenVJoyLog();
    return log && !log->disabled;
}

__declspec(dllexport) int __cdecl GetVJDStatus(UINT id)
{
    VJoyLog* log = OpenVJoyLog();
    if (!log)
        return 4;  // unknown
    if (id != 1)
        return 3;  // missing
    if (log->statusOverride)
        return log->statusOverride - 1;
    if (log->owner == 0)
        return 1;  // free
    return log->owner == GetCurrentProcessId() ? 0 : 2;
}

__declspec(dllexport) int __cdecl GetVJDButtonNumber(UINT id)
{
    VJoyLog* log = OpenVJoyLog();
    if (!log || id != 1)
        return 0;
    return log->buttonsOverride ? log->buttonsOverride - 1 : DefaultVJoyButtons;
}

__declspec(dllexport) BOOL __cdecl AcquireVJD(UINT id)
{
    Record(VJoyAcquireCall, id, 0, 0);
    VJoyLog* log = OpenVJoyLog();
    if (!log || GetVJDStatus(id) > 1)
        return FALSE;
    log->owner = GetCurrentProcessId();
    return TRUE;
}

__declspec(dllexport) BOOL __cdecl SetBtn(BOOL down, UINT id, UCHAR button)
{
    Record(VJoySetButtonCall, id, down, button);
    // Taken by this process, or played by a test as already its own.
    VJoyLog* log = OpenVJoyLog();
    while (log && log->hangButton)
        Sleep(5);
    return log && id == 1 && (log->owner == GetCurrentProcessId() || log->statusOverride == 1);
}

__declspec(dllexport) VOID __cdecl RelinquishVJD(UINT id)
{
    Record(VJoyRelinquishCall, id, 0, 0);
    VJoyLog* log = OpenVJoyLog();
    if (log && id == 1 && log->owner == GetCurrentProcessId())
        log->owner = 0;
}

}  // extern "C"
