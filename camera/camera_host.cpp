// Lumo2's side of the camera process: the block and events it shares with
// it, the job that ends it with Lumo2, its restricted token, its records,
// and its restarts. All of it belongs to the camera thread.
#include "camera/camera_host.h"
#include "platform/diag_log.h"
#include "settings/policy.h"

namespace {

// Made once and kept across restarts: the block, the event that wakes the
// camera process, the one that wakes the camera thread, Lumo2's own handle
// for the process to wait on, and the job.
HANDLE Mapping, ChildWake, RecordsIn, ParentHandle, Job;
CameraLinkBlock* Block;
HWND Answers;

// The camera process under way, if any, and the read end of its pipe, made
// afresh for each one so that a process ended mid-record leaves nothing
// behind for the next.
HANDLE Process, RecordsOut;
DWORD StartedAt;          // GetTickCount at its start
DWORD RestartDue;         // while none runs: when the next one starts
int RestartsInARow;
bool BadRecordLogged;
// Whether the camera process runs with a restricted token: written by the
// camera thread at each start, read by the report's thread, interlocked.
volatile LONG Restricted;

bool ElevatedOfSystem()
{
    HANDLE token;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return true;  // unknown: treat as elevated, the safer side
    BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
    CloseHandle(token);
    return !ok || elevation.TokenIsElevated;
}

// Lumo2's own token without the Administrators group (kept for deny only),
// without privileges beyond the one to change notify, at medium integrity:
// a process made with it runs as the signed-in user as a normal start does.
HANDLE MakeNormalUserToken()
{
    HANDLE own = NULL, restricted = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY |
                          TOKEN_ADJUST_DEFAULT, &own))
        return NULL;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY, label = SECURITY_MANDATORY_LABEL_AUTHORITY;
    PSID admins = NULL, medium = NULL;
    bool ok = AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                       0, &admins) &&
              AllocateAndInitializeSid(&label, 1, SECURITY_MANDATORY_MEDIUM_RID, 0, 0, 0, 0, 0, 0, 0, &medium);
    if (ok) {
        SID_AND_ATTRIBUTES disable = {admins, 0};
        ok = CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 1, &disable, 0, NULL, 0, NULL, &restricted);
    }
    if (ok) {
        TOKEN_MANDATORY_LABEL level = {{medium, SE_GROUP_INTEGRITY}};
        ok = SetTokenInformation(restricted, TokenIntegrityLevel, &level, sizeof(level) + GetLengthSid(medium));
    }
    if (!ok && restricted) {
        CloseHandle(restricted);
        restricted = NULL;
    }
    if (admins)
        FreeSid(admins);
    if (medium)
        FreeSid(medium);
    CloseHandle(own);
    return restricted;
}

void Answer(WPARAM end, DWORD delay)
{
    PostMessageA(Answers, WM_CAMERA_PROCESS_ENDED, end, LPARAM(delay));
}

// Inherits exactly the five handles of the link, nothing else Lumo2 holds.
bool Launch()
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE writeEnd = NULL;
    if (!CreatePipe(&RecordsOut, &writeEnd, &inherit, sizeof(CameraRecord) * 16))
        return false;
    SetHandleInformation(RecordsOut, HANDLE_FLAG_INHERIT, 0);
    CameraLinkHandles link = {Mapping, ChildWake, writeEnd, RecordsIn, ParentHandle};
    HANDLE list[] = {Mapping, ChildWake, writeEnd, RecordsIn, ParentHandle};
    WCHAR exe[MAX_PATH], line[MAX_PATH + 100];
    DWORD length = GetModuleFileNameW(NULL, exe, MAX_PATH);
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(NULL, 1, 0, &size);
    auto attributes = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(HeapAlloc(GetProcessHeap(), 0, size));
    bool ok = length && length < MAX_PATH && ComposeCameraCommand(line, MAX_PATH + 100, exe, link) && attributes &&
              InitializeProcThreadAttributeList(attributes, 1, 0, &size) &&
              UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, list, sizeof(list), NULL,
                                        NULL);
    HANDLE token = NULL;
    bool elevated = CameraHostElevated();
    InterlockedExchange(&Restricted, elevated);
    Block->madeAtLevel = elevated ? SECURITY_MANDATORY_MEDIUM_RID : 0;
    if (ok && elevated) {
        // Never elevated: no token, no camera process.
        token = MakeNormalUserToken();
        ok = token != NULL;
    }
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    // It never shows a window: without this, each start and restart would
    // give the pointer the "working in background" look for seconds.
    startup.StartupInfo.dwFlags = STARTF_FORCEOFFFEEDBACK;
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION info = {};
    const DWORD flags = EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED | CREATE_NO_WINDOW;
    if (ok)
        ok = token ? CreateProcessAsUserW(token, exe, line, NULL, NULL, TRUE, flags, NULL, NULL,
                                          &startup.StartupInfo, &info)
                   : CreateProcessW(exe, line, NULL, NULL, TRUE, flags, NULL, NULL, &startup.StartupInfo, &info);
    DWORD error = GetLastError();
    if (ok) {
        // In the job before it runs a line, so that no moment exists in
        // which Lumo2 could end and leave it behind.
        if (!AssignProcessToJobObject(Job, info.hProcess))
            LogLine("camera process: not in Lumo2's job (error %lu); it ends when it sees Lumo2 gone", GetLastError());
        ResumeThread(info.hThread);
        CloseHandle(info.hThread);
        Process = info.hProcess;
        StartedAt = GetTickCount();
    }
    if (token)
        CloseHandle(token);
    if (attributes) {
        DeleteProcThreadAttributeList(attributes);
        HeapFree(GetProcessHeap(), 0, attributes);
    }
    CloseHandle(writeEnd);
    if (!ok) {
        CloseHandle(RecordsOut);
        RecordsOut = NULL;
        LogLine("camera process: could not be started (error %lu)", error);
    }
    return ok;
}

void TakeRecords(void (*take)(const CameraRecord&))
{
    static CameraRecord record;
    DWORD available = 0, read = 0;
    while (PeekNamedPipe(RecordsOut, NULL, 0, NULL, &available, NULL) && available >= sizeof(record) &&
           ReadFile(RecordsOut, &record, sizeof(record), &read, NULL) && read == sizeof(record)) {
        if (CameraRecordValid(record)) {
            take(record);
        } else if (!BadRecordLogged) {
            BadRecordLogged = true;
            LogLine("camera process: dropped a record of %lu bytes, kind %lu", record.size, record.kind);
        }
    }
}

// A process that ended, by a crash or by Lumo2 after a hang: its records
// are taken to the last, and the next start waits its turn.
void FollowEnd(void (*take)(const CameraRecord&), CameraProcessEnd end)
{
    TakeRecords(take);
    DWORD code = 0;
    GetExitCodeProcess(Process, &code);
    CloseHandle(Process);
    CloseHandle(RecordsOut);
    Process = RecordsOut = NULL;
    Block->callStartedAt = 0;
    if (GetTickCount() - StartedAt >= CameraHealthyAfterMs)
        RestartsInARow = 0;
    DWORD delay = CameraRestartDelay(RestartsInARow++);
    RestartDue = GetTickCount() + delay;
    LogLine("camera process: %s (exit code 0x%08lX); the next starts in %lu ms",
            end == CameraProcessHung ? "ended after a call that did not return" : "ended by itself", code, delay);
    Answer(end, delay);
}

}  // namespace

CameraHostElevatedFn CameraHostElevated = ElevatedOfSystem;
CameraRestartDelayFn CameraRestartDelay = CameraRestartDelayOfProgram;

DWORD CameraRestartDelayOfProgram(int restartsInARow)
{
    // 1, 2, 4 ... seconds, then a minute: a camera that hangs at every call
    // costs a start a minute.
    return restartsInARow >= 6 ? 60000 : 1000u << restartsInARow;
}

bool CameraProcessForbiddenByPolicy()
{
    const HKEY roots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    for (HKEY root : roots) {
        DWORD value = 1, size = sizeof(value);
        if (RegGetValueA(root, PolicyKeyPath, PolicyCameraProcessName, RRF_RT_REG_DWORD, NULL,
                         &value, &size) == ERROR_SUCCESS)
            return value == 0;
    }
    return false;
}

bool CameraProcessWanted;

bool StartCameraHost(HWND answers)
{
    if (!CameraProcessWanted)
        return false;
    if (CameraProcessForbiddenByPolicy()) {
        LogLine("camera process: a policy keeps the camera inside Lumo2");
        return false;
    }
    Answers = answers;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    Mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE, 0, sizeof(CameraLinkBlock), NULL);
    Block = Mapping ? static_cast<CameraLinkBlock*>(MapViewOfFile(Mapping, FILE_MAP_WRITE, 0, 0, 0)) : NULL;
    ChildWake = CreateEventA(&inherit, FALSE, FALSE, NULL);
    RecordsIn = CreateEventA(&inherit, FALSE, FALSE, NULL);
    ParentHandle = OpenProcess(SYNCHRONIZE, TRUE, GetCurrentProcessId());
    Job = CreateJobObjectA(NULL, NULL);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    bool ok = Block && ChildWake && RecordsIn && ParentHandle && Job &&
              SetInformationJobObject(Job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    if (ok) {
        Block->sessionConnected = 1;
        Block->pollPeriodMs = DefaultPollInterval;
        ok = Launch();
    }
    if (ok) {
        LogLine("camera process: started, %s", CameraProcessLevel());
        return true;
    }
    LogLine("camera process: none; the camera runs inside Lumo2");
    EndCameraHost(0);
    return false;
}

CameraLinkBlock* CameraHostBlock()
{
    return Block;
}

void AskCameraProcess(LONG requests)
{
    InterlockedOr(&Block->requests, requests);
    SetEvent(ChildWake);
}

DWORD CameraHostWaitHandles(HANDLE* handles)
{
    if (!Process)
        return 0;
    handles[0] = RecordsIn;
    handles[1] = Process;
    return 2;
}

DWORD CameraHostTimeout(bool hangDeclared)
{
    if (!Process) {
        LONG due = LONG(RestartDue - GetTickCount());
        return due > 0 ? DWORD(due) : 0;
    }
    // Only while the camera counts as not responding: a new process that
    // hangs as well is seen without the window thread's watchdog.
    return hangDeclared ? 250 : INFINITE;
}

bool ServeCameraHost(void (*take)(const CameraRecord&), bool callPastDeadline)
{
    if (Process) {
        TakeRecords(take);
        if (WaitForSingleObject(Process, 0) == WAIT_OBJECT_0) {
            FollowEnd(take, CameraProcessCrashed);
        } else if (callPastDeadline) {
            TerminateProcess(Process, ERROR_TIMEOUT);
            WaitForSingleObject(Process, 1000);
            FollowEnd(take, CameraProcessHung);
        }
    }
    if (!Process && LONG(GetTickCount() - RestartDue) >= 0) {
        if (!Launch()) {
            LogLine("camera process: none; the camera runs inside Lumo2");
            Answer(CameraProcessNotStarted, 0);
            EndCameraHost(0);
            return false;
        }
        LogLine("camera process: started again, %s", CameraProcessLevel());
    }
    return true;
}

void EndCameraHost(DWORD waitMs)
{
    if (Process) {
        AskCameraProcess(LinkStop);
        if (WaitForSingleObject(Process, waitMs) != WAIT_OBJECT_0)
            TerminateProcess(Process, ERROR_TIMEOUT);
        CloseHandle(Process);
        CloseHandle(RecordsOut);
        Process = RecordsOut = NULL;
    }
    // Closing the job would end a process still in it; none is left.
    HANDLE handles[] = {Job, ChildWake, RecordsIn, ParentHandle, Mapping};
    for (HANDLE handle : handles)
        if (handle)
            CloseHandle(handle);
    // The view stays: the window thread's watchdog may read it to the end.
    Job = ChildWake = RecordsIn = ParentHandle = Mapping = NULL;
}

const char* CameraProcessLevel()
{
    return Restricted ? "medium integrity, without the Administrators group (Lumo2 runs elevated)"
                      : "the signed-in user's level, as Lumo2";
}
