#include "app/elevation.h"

ForegroundTargetFn LookUpForegroundTarget = LookUpForegroundTargetOfSystem;
OwnIntegrityFn LookUpOwnIntegrity = LookUpOwnIntegrityOfSystem;
ForegroundTarget PressTarget;
bool PressTargetKnown;

// Enough for the programs a clinic PC runs in front in one session; an
// older one forgotten is warned about once more, which is harmless.
const int RememberedTargets = 16;
static ForegroundTarget WarnedTargets[RememberedTargets];
static int NextWarnedSlot;

// The level of an open process; IntegrityDenied when its token may not be
// read, as an ordinary process may not read an elevated one's.
static DWORD ProcessIntegrity(HANDLE process)
{
    HANDLE token;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return GetLastError() == ERROR_ACCESS_DENIED ? IntegrityDenied : 0;
    DWORD integrity = TokenIntegrity(token);
    CloseHandle(token);
    return integrity;
}

// The limited right is what an ordinary process may still get for an
// elevated one; null when even that is refused or the process has gone.
static HANDLE OpenToQuery(DWORD processId, DWORD* integrity)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        *integrity = GetLastError() == ERROR_ACCESS_DENIED ? IntegrityDenied : 0;
    return process;
}

void LookUpForegroundTargetOfSystem(ForegroundTarget* target)
{
    target->processId = 0;
    target->startTime = 0;
    target->integrity = 0;
    HWND window = GetForegroundWindow();
    if (!window || !GetWindowThreadProcessId(window, &target->processId))
        return;
    HANDLE process = OpenToQuery(target->processId, &target->integrity);
    if (!process) {
        if (target->integrity != IntegrityDenied)
            target->processId = 0;  // gone meanwhile: nothing to warn about
        return;
    }
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(process, &created, &exited, &kernel, &user))
        target->startTime = (ULONGLONG(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    target->integrity = ProcessIntegrity(process);
    CloseHandle(process);
}

DWORD LookUpWindowIntegrity(HWND window)
{
    DWORD processId = 0;
    if (!window || !GetWindowThreadProcessId(window, &processId))
        return 0;
    DWORD integrity = 0;
    HANDLE process = OpenToQuery(processId, &integrity);
    if (!process)
        return integrity;
    integrity = ProcessIntegrity(process);
    CloseHandle(process);
    return integrity;
}

bool KeysWillBeBlocked(const ForegroundTarget& target, DWORD ownIntegrity)
{
    if (target.processId == 0 || target.processId == GetCurrentProcessId())
        return false;
    return target.integrity == IntegrityDenied || target.integrity > ownIntegrity;
}

static bool AlreadyWarned(const ForegroundTarget& target)
{
    for (int i = 0; i < RememberedTargets; ++i) {
        const ForegroundTarget& warned = WarnedTargets[i];
        if (warned.processId == target.processId && warned.startTime == target.startTime)
            return true;
    }
    return false;
}

bool TakeBlockedKeysWarning()
{
    ForegroundTarget& target = PressTarget;
    // The press's own lookup, made right after its keys, when there was one.
    if (!PressTargetKnown)
        LookUpForegroundTarget(&target);
    PressTargetKnown = true;
    if (!KeysWillBeBlocked(target, LookUpOwnIntegrity()) || AlreadyWarned(target))
        return false;
    WarnedTargets[NextWarnedSlot] = target;
    NextWarnedSlot = (NextWarnedSlot + 1) % RememberedTargets;
    return true;
}

void ForgetBlockedKeysWarnings()
{
    ZeroMemory(WarnedTargets, sizeof(WarnedTargets));
    NextWarnedSlot = 0;
}
