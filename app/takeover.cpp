#include "app/takeover.h"
#include "app/elevation.h"
#include "app/shell.h"
#include "res/resource.h"
#include "settings/ui_text.h"

const char QuitMessageName[] = "Lumo2Quit";

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
        return false;
    DWORD running = LookUpWindowIntegrity(tray);
    if (running == IntegrityDenied && elevated)
        return Refuse(NULL, IDS_OTHER_ACCOUNT);
    if (!RunsHigherThan(own, running))
        return false;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process && elevated && GetLastError() == ERROR_ACCESS_DENIED)
        return Refuse(NULL, IDS_OTHER_ACCOUNT);
    if (!process || !mutex)
        return Refuse(process, IDS_TAKEOVER_FAILED);
    // Someone elevated with another administrator's password would end the
    // clinic user's copy and type with that administrator's settings.
    if (!RunsForThisAccount(process))
        return Refuse(process, IDS_OTHER_ACCOUNT);
    if (!PostMessageA(tray, RegisterWindowMessageA(QuitMessageName), 0, 0))
        return Refuse(process, IDS_TAKEOVER_FAILED);
    // The window goes before the process has let go of the camera and the
    // joystick; only the process's end says both are free.
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        return Refuse(process, IDS_OLD_COPY_STAYS);
    CloseHandle(process);
    // The copy that ended owned the mutex, so it is abandoned now. Of several
    // copies taking over at once the first to take it runs; the others end
    // as a start beside a running copy does.
    DWORD owned = WaitForSingleObject(mutex, 0);
    return owned == WAIT_OBJECT_0 || owned == WAIT_ABANDONED;
}
