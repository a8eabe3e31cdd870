#include "lifecycle/takeover.h"
#include "actions/program_in_front.h"
#include "res/resource.h"
#include "settings/ui_text.h"

const char QuitMessageName[] = "Lumo2Quit";
char TrayClassName[100];

static void ShowMessageBox(UINT textId)
{
    ShowUiMessage(NULL, textId, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

TakeOverMessageFn ShowTakeOverMessage = ShowMessageBox;
SameAccountFn RunsForThisAccount = RunsForThisAccountOfSystem;

// The token user's SID, copied into buffer (DWORDs, for the SID's alignment).
static PSID TokenUserSid(HANDLE process, DWORD (&buffer)[32])
{
    HANDLE token;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return NULL;
    DWORD size = 0;
    BOOL read = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size);
    CloseHandle(token);
    return read ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid : NULL;
}

bool RunsForThisAccountOfSystem(HANDLE process)
{
    // A copy whose account cannot be read is not one to end or to replace.
    DWORD own[32], other[32];
    PSID ownSid = TokenUserSid(GetCurrentProcess(), own);
    PSID otherSid = TokenUserSid(process, other);
    return ownSid && otherSid && EqualSid(ownSid, otherSid);
}

bool IsElevatedLevel(DWORD integrity)
{
    return integrity >= SECURITY_MANDATORY_HIGH_RID && integrity != IntegrityDenied;
}

bool RunsHigherThan(DWORD ownIntegrity, DWORD runningIntegrity)
{
    // A copy whose level cannot be read runs higher than this one, or has
    // gone; neither is one to end.
    return runningIntegrity != 0 && runningIntegrity != IntegrityDenied && ownIntegrity > runningIntegrity;
}

// Ends the takeover without starting, telling the user why.
static bool Refuse(HANDLE process, UINT textId)
{
    if (process)
        CloseHandle(process);
    ShowTakeOverMessage(textId);
    return false;
}

// The running copy went while this start looked at it: it ended, or another
// start took over from it. Whoever takes the mutex it left runs; the others
// end without a word, as a start beside a running copy does. A copy still
// ending lets the mutex go within the time an exit takes.
static bool TakeMutexLeft(HANDLE mutex, HANDLE process, DWORD waitMs)
{
    if (process)
        CloseHandle(process);
    if (!mutex)
        return false;
    DWORD owned = WaitForSingleObject(mutex, waitMs);
    return owned == WAIT_OBJECT_0 || owned == WAIT_ABANDONED;
}

bool TakeOverRunningCopy(HANDLE mutex, DWORD timeoutMs)
{
    DWORD own = LookUpOwnIntegrity();
    bool elevated = IsElevatedLevel(own);
    // Refused to an administrator: the copy runs for another account, which
    // this one is not to end and its user cannot end either.
    if (!mutex && elevated)
        return Refuse(NULL, IDS_OTHER_ACCOUNT);
    HWND tray = FindWindowA(TrayClassName, NULL);
    DWORD processId = 0;
    if (!tray || !GetWindowThreadProcessId(tray, &processId))
        return TakeMutexLeft(mutex, NULL, EndingCopyWaitMs);
    DWORD running = LookUpWindowIntegrity(tray);
    if (running == IntegrityDenied && elevated)
        return Refuse(NULL, IDS_OTHER_ACCOUNT);
    if (running == 0 && !IsWindow(tray))
        return TakeMutexLeft(mutex, NULL, EndingCopyWaitMs);
    if (!RunsHigherThan(own, running))
        return false;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process && elevated && GetLastError() == ERROR_ACCESS_DENIED)
        return Refuse(NULL, IDS_OTHER_ACCOUNT);
    if (!process && !IsWindow(tray))
        return TakeMutexLeft(mutex, NULL, EndingCopyWaitMs);
    if (!process || !mutex)
        return Refuse(process, IDS_TAKEOVER_FAILED);
    // Someone elevated with another administrator's password would end the
    // clinic user's copy and type with that administrator's settings.
    if (!RunsForThisAccount(process))
        return Refuse(process, IDS_OTHER_ACCOUNT);
    if (!PostMessageA(tray, RegisterWindowMessageA(QuitMessageName), 0, 0))
        return IsWindow(tray) ? Refuse(process, IDS_TAKEOVER_FAILED) : TakeMutexLeft(mutex, process, EndingCopyWaitMs);
    // The window goes before the process has let go of the camera and the
    // joystick. The process's end says both are free, and so does the
    // mutex, which a copy that cannot end because a driver call is stuck
    // lets go of before it asks Windows to end it.
    HANDLE both[] = {process, mutex};
    DWORD woken = WaitForMultipleObjects(2, both, FALSE, timeoutMs);
    if (woken == WAIT_OBJECT_0 + 1 || woken == WAIT_ABANDONED_0 + 1) {
        CloseHandle(process);
        return true;
    }
    if (woken == WAIT_OBJECT_0)
        return TakeMutexLeft(mutex, process, 0);
    // Another start that took over meanwhile shows its own window.
    HWND now = FindWindowA(TrayClassName, NULL);
    DWORD nowId = 0;
    if (now && GetWindowThreadProcessId(now, &nowId) && nowId != processId) {
        CloseHandle(process);
        return false;
    }
    return Refuse(process, IDS_OLD_COPY_STAYS);
}

bool AnotherCopyRuns(HANDLE mutex, DWORD lastError)
{
    if (lastError == ERROR_ALREADY_EXISTS) {
        // Abandoned by a copy that ended without letting go, or let go by
        // one that Windows has not ended yet because a driver call of its
        // own is stuck: no copy runs, and this one now owns the mutex.
        DWORD owned = WaitForSingleObject(mutex, 0);
        return owned != WAIT_OBJECT_0 && owned != WAIT_ABANDONED;
    }
    // Any other failure lets this copy run: better two than none.
    return mutex == NULL && lastError == ERROR_ACCESS_DENIED;
}

HANDLE InstanceMutex;
