#include "actions/program_in_front.h"
#include "platform/dll_search.h"
#include <tlhelp32.h>

OwnIntegrityFn LookUpOwnIntegrity = LookUpOwnIntegrityOfSystem;
OwnElevationTypeFn LookUpOwnElevationType = LookUpOwnElevationTypeOfSystem;
PerMachineInstallFn LookUpPerMachineInstall = LookUpPerMachineInstallOfSystem;
ForegroundTarget PressTarget;
KeysBlock PressBlock;
static ULONGLONG SystemMilliseconds()
{
    return GetTickCount64();  // never wraps, unlike GetTickCount after 49 days
}
WarningClockFn WarningClock = SystemMilliseconds;

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

// The file name only: the folder may hold a user's name.
static void KeepFileName(ForegroundTarget* target, const char* path)
{
    const char* name = strrchr(path, '\\');
    lstrcpynA(target->exeName, name ? name + 1 : path, sizeof(target->exeName));
}

// The system's list of processes names every one, even a process that may
// not be opened, as an elevated one may not by an ordinary process.
static void NameFromProcessList(ForegroundTarget* target)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == target->processId) {
            KeepFileName(target, entry.szExeFile);
            break;
        }
    }
    CloseHandle(snapshot);
}

GuiThreadInfoFn LookUpGuiThreadInfo = GetGUIThreadInfo;

// The file name of a wide path, in the system's code page for the log.
static void KeepWideFileName(ForegroundTarget* target)
{
    const WCHAR* name = target->imagePath;
    for (const WCHAR* c = target->imagePath; *c; ++c)
        if (*c == L'\\')
            name = c + 1;
    WideCharToMultiByte(CP_ACP, 0, name, -1, target->exeName, sizeof(target->exeName), NULL, NULL);
}

// With the start time, which tells the process from a later one of the
// same id (the rules' normalised path is kept per process).
static bool ImagePathOf(DWORD processId, WCHAR* path, ULONGLONG* startTime)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return false;
    FILETIME created, exited, kernel, user;
    *startTime = GetProcessTimes(process, &created, &exited, &kernel, &user)
                     ? (ULONGLONG(created.dwHighDateTime) << 32) | created.dwLowDateTime
                     : 0;
    DWORD length = MAX_PATH;
    bool named = QueryFullProcessImageNameW(process, 0, path, &length) != FALSE;
    CloseHandle(process);
    if (!named)
        path[0] = 0;
    return named;
}

DWORD ResolveFrameHost(DWORD threadId, DWORD processId, const WCHAR* imagePath)
{
    const WCHAR* name = imagePath;
    for (const WCHAR* c = imagePath; *c; ++c)
        if (*c == L'\\')
            name = c + 1;
    if (CompareStringOrdinal(name, -1, L"ApplicationFrameHost.exe", -1, TRUE) != CSTR_EQUAL)
        return processId;
    // The app's own window (its core window) takes the frame's focus; the
    // frame and its thread are the host's.
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!LookUpGuiThreadInfo(threadId, &info))
        return processId;
    HWND windows[] = {info.hwndFocus, info.hwndActive};
    for (HWND window : windows) {
        DWORD owner = 0;
        if (window && GetWindowThreadProcessId(window, &owner) && owner && owner != processId)
            return owner;
    }
    return processId;
}

void LookUpFrontProgramOfSystem(ForegroundTarget* target)
{
    target->processId = 0;
    target->startTime = 0;
    target->integrity = 0;
    target->exeName[0] = 0;
    target->imagePath[0] = 0;
    HWND window = GetForegroundWindow();
    target->window = window;
    DWORD threadId = window ? GetWindowThreadProcessId(window, &target->processId) : 0;
    if (!threadId || !target->processId)
        return;
    if (!ImagePathOf(target->processId, target->imagePath, &target->startTime))
        return;
    // The app's own process, where it can be named; else the host stays,
    // path and all.
    DWORD app = ResolveFrameHost(threadId, target->processId, target->imagePath);
    WCHAR appPath[MAX_PATH];
    ULONGLONG appStart = 0;
    if (app != target->processId && ImagePathOf(app, appPath, &appStart)) {
        target->processId = app;
        target->startTime = appStart;
        lstrcpyW(target->imagePath, appPath);
    }
    KeepWideFileName(target);
}

void CompleteForegroundTargetOfSystem(ForegroundTarget* target)
{
    if (!target->processId)
        return;
    HANDLE process = OpenToQuery(target->processId, &target->integrity);
    if (!process) {
        if (target->integrity != IntegrityDenied)
            target->processId = 0;  // gone meanwhile: nothing to warn about
        else if (!target->exeName[0])
            NameFromProcessList(target);
    } else {
        FILETIME created, exited, kernel, user;
        if (GetProcessTimes(process, &created, &exited, &kernel, &user))
            target->startTime = (ULONGLONG(created.dwHighDateTime) << 32) | created.dwLowDateTime;
        target->integrity = ProcessIntegrity(process);
        CloseHandle(process);
    }
    SettleUnaskableLevel(target, LookUpOwnIntegrity());
}

static bool WindowTakesOurMessagesOfSystem(HWND window)
{
    // Registered for this alone, so it means nothing to the window that
    // gets it; a window that has gone proves nothing either way.
    UINT probe = RegisterWindowMessageA("Lumo2LevelProbe");
    return probe && window && PostMessageA(window, probe, 0, 0);
}

WindowTakesMessagesFn WindowTakesOurMessages = WindowTakesOurMessagesOfSystem;

void SettleUnaskableLevel(ForegroundTarget* target, DWORD ownIntegrity)
{
    if (target->processId && target->integrity == IntegrityDenied && WindowTakesOurMessages(target->window))
        target->integrity = ownIntegrity;
}

void LookUpForegroundTargetOfSystem(ForegroundTarget* target)
{
    LookUpFrontProgramOfSystem(target);
    CompleteForegroundTargetOfSystem(target);
}

ForegroundTargetFn LookUpFrontProgram = LookUpFrontProgramOfSystem;
ForegroundTargetFn CompleteForegroundTarget = CompleteForegroundTargetOfSystem;

TOKEN_ELEVATION_TYPE LookUpOwnElevationTypeOfSystem()
{
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return type;
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &size))
        type = TokenElevationTypeDefault;
    CloseHandle(token);
    return type;
}

bool LookUpPerMachineInstallOfSystem()
{
    WCHAR folder[MAX_PATH];
    return lstrcmpA(InstallKind(folder, MAX_PATH), "per machine") == 0;
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

BlockedPressOutcome FollowPressTarget(KeysBlock* block, bool sentKeys, const ForegroundTarget& target,
                                      DWORD ownIntegrity, bool canWarn, ULONGLONG now)
{
    BlockedPressOutcome outcome = {false, false};
    if (!sentKeys || !KeysWillBeBlocked(target, ownIntegrity)) {
        outcome.statusChanged = block->blocked;
        block->blocked = false;
        return outcome;
    }
    outcome.statusChanged = !block->blocked || lstrcmpA(block->exeName, target.exeName) != 0;
    block->blocked = true;
    lstrcpynA(block->exeName, target.exeName, sizeof(block->exeName));
    // One clock for every block: a user going back and forth between an
    // elevated program and others is reminded no more often than that.
    outcome.warn = canWarn && (!block->warned || now - block->lastWarning >= BlockedKeysWarningIntervalMs);
    if (outcome.warn) {
        block->warned = true;
        block->lastWarning = now;
    }
    return outcome;
}

BlockedKeysAdvice AdviceForAccount(TOKEN_ELEVATION_TYPE ownType, bool perMachineInstall)
{
    // A standard user's token is of the default type: there is no
    // administrator to become. A full token already is one, so what is in
    // front runs above even that.
    if (ownType == TokenElevationTypeLimited && perMachineInstall)
        return AdviseStartAsAdministrator;
    return AdviseAskForMachineInstall;
}
