// Lumo2 coming back on its own: the restart Windows does after a crash, and
// the relaunch after an upgrade by Windows Installer, which Intune and
// Configuration Manager push without anyone at the PC to start Lumo2 again.
#include "app/restart.h"
#include "app/elevation.h"
#include "app/takeover.h"
#include "platform/diag_log.h"

const WCHAR RestartedSwitch[] = L"/restarted";

static const WCHAR RelaunchSwitch[] = L"/relaunch";
// Windows Installer holds it while it installs; the name is the same on
// every Windows since 2000 and the mutex lives in the global namespace.
static const WCHAR InstallerMutexName[] = L"Global\\_MSIExecute";
// The single-instance mutex that WinMain creates.
static const WCHAR LumoMutexName[] = L"Lumo2";
// How often the relauncher looks again at an installer mutex it may not
// wait on; one it may wait on ends the wait as soon as it is free.
const DWORD InstallerPollMs = 500;
// Long enough after a start for the relauncher that started it to have
// ended, so that its own copy goes too.
const UINT LeftoverSweepDelayMs = 5000;

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

static bool ReadRelaunchArguments(const WCHAR* at, StartSwitch* start)
{
    ULONGLONG pid = 0;
    int digits = 0;
    for (; *at >= L'0' && *at <= L'9' && digits < 11; ++at, ++digits)
        pid = pid * 10 + (*at - L'0');
    if (digits == 0 || pid == 0 || pid > 0xFFFFFFFFull || (*at != L' ' && *at != L'\t'))
        return false;
    at = SkipBlanks(at);
    if (*at++ != L'"')
        return false;
    int length = 0;
    while (at[length] && at[length] != L'"')
        ++length;
    if (length == 0 || length >= RelaunchPathMax || at[length] != L'"' || *SkipBlanks(at + length + 1) != 0)
        return false;
    start->oldProcessId = DWORD(pid);
    lstrcpynW(start->exePath, at, length + 1);
    return true;
}

void ReadStartSwitch(const WCHAR* commandLine, StartSwitch* start)
{
    start->kind = NormalStart;
    start->oldProcessId = 0;
    start->exePath[0] = 0;
    const WCHAR* at = SkipProgramName(commandLine ? commandLine : L"");
    if (TakeSwitch(at, RestartedSwitch))
        start->kind = RestartedAfterCrash;
    else if (TakeSwitch(at, RelaunchSwitch))
        start->kind = ReadRelaunchArguments(at, start) ? Relaunch : BadRelaunch;
}

// Bound by name: a direct import would tie Lumo2.exe to them for no gain.
static FARPROC Kernel32Function(const char* name)
{
    return GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}

static HRESULT WINAPI RegisterRestartOfSystem(const WCHAR* commandLine, DWORD flags)
{
    auto fn = reinterpret_cast<RegisterRestartFn>(
        reinterpret_cast<void*>(Kernel32Function("RegisterApplicationRestart")));
    return fn ? fn(commandLine, flags) : E_NOTIMPL;
}

static HRESULT WINAPI UnregisterRestartOfSystem()
{
    auto fn = reinterpret_cast<UnregisterRestartFn>(
        reinterpret_cast<void*>(Kernel32Function("UnregisterApplicationRestart")));
    return fn ? fn() : E_NOTIMPL;
}

RegisterRestartFn RegisterRestart = RegisterRestartOfSystem;
UnregisterRestartFn UnregisterRestart = UnregisterRestartOfSystem;

void RegisterForRestartAfterCrash()
{
    // Not after a reboot: the Run value starts Lumo2 at logon, and a second
    // start from here would only end at the mutex. Windows restarts only a
    // copy that ran at least 60 s, so a crash at start does not loop.
    HRESULT result = RegisterRestart(RestartedSwitch, RESTART_NO_REBOOT);
    if (FAILED(result))
        LogLine("start: Windows will not restart Lumo2 after a crash (0x%08lX)", result);
}

bool InstallerRuns()
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, InstallerMutexName);
    if (mutex) {
        CloseHandle(mutex);
        return true;
    }
    return GetLastError() == ERROR_ACCESS_DENIED;
}

bool ClosedForInstall(LPARAM endSessionFlags, bool installerRuns)
{
    return (endSessionFlags & ENDSESSION_CLOSEAPP) && !(endSessionFlags & ENDSESSION_LOGOFF) && installerRuns;
}

static bool LumoRuns()
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, LumoMutexName);
    if (mutex) {
        CloseHandle(mutex);
        return true;
    }
    // Held by a copy started as administrator.
    return GetLastError() == ERROR_ACCESS_DENIED;
}

bool RelaunchCopyPath(DWORD processId, WCHAR* path, DWORD size)
{
    DWORD length = GetTempPathW(size, path);
    if (length == 0 || length + 40 > size)
        return false;
    wsprintfW(path + length, L"Lumo2-relaunch-%lu.exe", processId);
    return true;
}

// The shell's process, when it runs for this account, with the right to
// be the parent of a process.
static HANDLE OpenShellOfThisAccount()
{
    DWORD shellId = 0;
    // The taskbar where the shell has no desktop window of its own (Wine's
    // shell has none).
    HWND shell = GetShellWindow();
    if (!shell)
        shell = FindWindowW(L"Shell_TrayWnd", NULL);
    if (!shell || !GetWindowThreadProcessId(shell, &shellId))
        return NULL;
    HANDLE process = OpenProcess(PROCESS_CREATE_PROCESS | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellId);
    if (process && !RunsForThisAccountOfSystem(process)) {
        CloseHandle(process);
        return NULL;
    }
    return process;
}

// Starts exe as a child of the user's shell, so that it runs with the
// shell's token: the user's normal level even when this process runs as
// administrator. Without the shell only an ordinary process starts it
// itself; an elevated one starts nothing rather than something elevated
// from a folder the user can write.
static DWORD StartAtShellLevel(const WCHAR* exe, WCHAR* commandLine)
{
    HANDLE shell = OpenShellOfThisAccount();
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    DWORD_PTR listBuffer[32];
    LPPROC_THREAD_ATTRIBUTE_LIST list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer);
    SIZE_T size = sizeof(listBuffer);
    bool listMade = shell && InitializeProcThreadAttributeList(list, 1, 0, &size);
    if (listMade &&
        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &shell, sizeof(shell), NULL, NULL))
        startup.lpAttributeList = list;
    DWORD error = ERROR_NOT_FOUND;
    if (startup.lpAttributeList || !IsElevatedLevel(LookUpOwnIntegrity())) {
        // The system folder as the current one: a folder held open as the
        // current one cannot be removed, and an install folder must be.
        WCHAR folder[MAX_PATH];
        UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        PROCESS_INFORMATION info;
        DWORD flags = startup.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0;
        if (CreateProcessW(exe, commandLine, NULL, NULL, FALSE, flags, NULL,
                           length && length < MAX_PATH ? folder : NULL, &startup.StartupInfo, &info)) {
            error = ERROR_SUCCESS;
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        } else {
            error = GetLastError();
        }
    }
    if (listMade)
        DeleteProcThreadAttributeList(list);
    if (shell)
        CloseHandle(shell);
    return error;
}

static void Append(WCHAR* text, int capacity, const WCHAR* part)
{
    int length = lstrlenW(text);
    lstrcpynW(text + length, part, capacity - length);
}

// Copies Lumo2.exe to the temporary folder and starts the copy there: the
// installer replaces or removes Lumo2.exe, which a process running from it
// would hold.
static DWORD StartRelauncher()
{
    static WCHAR exe[RelaunchPathMax], copy[MAX_PATH + 40], command[RelaunchPathMax + MAX_PATH + 80];
    DWORD length = GetModuleFileNameW(NULL, exe, RelaunchPathMax);
    if (length == 0 || length >= RelaunchPathMax - 1 || !RelaunchCopyPath(GetCurrentProcessId(), copy, MAX_PATH + 40))
        return ERROR_BUFFER_OVERFLOW;
    if (!CopyFileW(exe, copy, FALSE))
        return GetLastError();
    WCHAR pid[16];
    wsprintfW(pid, L" %lu \"", GetCurrentProcessId());
    command[0] = 0;
    const WCHAR* parts[] = {L"\"", copy, L"\" ", RelaunchSwitch, pid, exe, L"\""};
    for (const WCHAR* part : parts)
        Append(command, sizeof(command) / sizeof(command[0]), part);
    DWORD error = StartAtShellLevel(copy, command);
    if (error != ERROR_SUCCESS)
        DeleteFileW(copy);
    return error;
}

void ArrangeStartAfterInstall(LPARAM endSessionFlags)
{
    if (!(endSessionFlags & ENDSESSION_CLOSEAPP))
        return;
    // Whoever closes Lumo2 this way, what starts it again is decided here:
    // the Restart Manager would start it with the crash switch, beside the
    // relaunch, or after a close by a program that is no installer.
    UnregisterRestart();
    if (!ClosedForInstall(endSessionFlags, InstallerRuns()))
        return;
    // ERROR_NOT_FOUND: run as administrator, with no shell of this account
    // to start it at the user's level.
    DWORD error = StartRelauncher();
    if (error == ERROR_SUCCESS)
        LogLine("session end: Windows Installer runs; Lumo2 starts again once it is done");
    else
        LogLine("session end: Windows Installer runs; no start after it could be arranged (error %lu)", error);
}

bool WaitForInstallerToEnd(DWORD timeoutMs)
{
    DWORD begin = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - begin;
        DWORD slice = spent >= timeoutMs ? 0 : timeoutMs - spent;
        if (slice > InstallerPollMs)
            slice = InstallerPollMs;
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, InstallerMutexName);
        if (!mutex && GetLastError() != ERROR_ACCESS_DENIED)
            return true;
        DWORD waited = WAIT_FAILED;
        if (mutex) {
            // Taken for no longer than it takes to give it back: the
            // installer that comes next waits on it as it always does.
            waited = WaitForSingleObject(mutex, slice);
            if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
                ReleaseMutex(mutex);
            CloseHandle(mutex);
            if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
                return true;
        }
        if (slice == 0)
            return false;
        if (waited != WAIT_TIMEOUT)
            Sleep(slice);
    }
}

static bool StartLumo(const WCHAR* exe)
{
    static WCHAR command[RelaunchPathMax + 4];
    command[0] = 0;
    const WCHAR* parts[] = {L"\"", exe, L"\""};
    for (const WCHAR* part : parts)
        Append(command, sizeof(command) / sizeof(command[0]), part);
    WCHAR folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info;
    if (!CreateProcessW(exe, command, NULL, NULL, FALSE, 0, NULL, length && length < MAX_PATH ? folder : NULL,
                        &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

int RunRelauncher(DWORD oldProcessId, const WCHAR* exePath)
{
    DWORD begin = GetTickCount();
    // Gone already, or not to be opened: the mutex "Lumo2" still decides
    // below.
    if (HANDLE old = OpenProcess(SYNCHRONIZE, FALSE, oldProcessId)) {
        WaitForSingleObject(old, RelaunchWaitMs);
        CloseHandle(old);
    }
    DWORD spent = GetTickCount() - begin;
    if (spent >= RelaunchWaitMs || !WaitForInstallerToEnd(RelaunchWaitMs - spent)) {
        LogLine("relaunch: the installation still ran after 10 minutes; Lumo2 is not started again");
        return RelaunchInstallerStillRuns;
    }
    DWORD attributes = GetFileAttributesW(exePath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        LogLine("relaunch: Lumo2.exe is gone after the installation (removed); nothing is started");
        return RelaunchExeGone;
    }
    // The setup program, the user or Windows may have started it meanwhile.
    if (LumoRuns()) {
        LogLine("relaunch: Lumo2 already runs again; nothing is started");
        return RelaunchCopyRuns;
    }
    if (!StartLumo(exePath)) {
        LogLine("relaunch: Lumo2 could not be started again (error %lu)", GetLastError());
        return RelaunchStartFailed;
    }
    LogLine("relaunch: the installation is over; Lumo2 started again");
    return RelaunchStarted;
}

int RemoveLeftoverRelaunchCopies()
{
    WCHAR pattern[MAX_PATH + 40];
    DWORD length = GetTempPathW(MAX_PATH, pattern);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    lstrcpyW(pattern + length, L"Lumo2-relaunch-*.exe");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int removed = 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        WCHAR path[MAX_PATH + 40];
        lstrcpynW(path, pattern, length + 1);
        Append(path, MAX_PATH + 40, found.cFileName);
        // One still running cannot be deleted; a later start takes it.
        removed += DeleteFileW(path) ? 1 : 0;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (removed)
        LogLine("start: removed %d relaunch copies left in the temporary folder", removed);
    return removed;
}

static void CALLBACK SweepLeftoverCopies(HWND, UINT, UINT_PTR timerId, DWORD)
{
    KillTimer(NULL, timerId);
    RemoveLeftoverRelaunchCopies();
}

void RemoveLeftoverRelaunchCopiesLater()
{
    SetTimer(NULL, 0, LeftoverSweepDelayMs, SweepLeftoverCopies);
}
