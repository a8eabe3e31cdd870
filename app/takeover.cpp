#include "app/takeover.h"
#include "app/elevation.h"
#include "app/shell.h"

const char QuitMessageName[] = "Lumo2Quit";

bool RunsHigherThan(DWORD ownIntegrity, DWORD runningIntegrity)
{
    // A copy whose level cannot be read runs higher than this one, or has
    // gone; neither is one to end.
    return runningIntegrity != 0 && runningIntegrity != IntegrityDenied && ownIntegrity > runningIntegrity;
}

bool TakeOverRunningCopy(DWORD timeoutMs)
{
    HWND tray = FindWindowA(TrayClassName, NULL);
    DWORD processId = 0;
    if (!tray || !GetWindowThreadProcessId(tray, &processId) ||
        !RunsHigherThan(LookUpOwnIntegrity(), LookUpWindowIntegrity(tray)))
        return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageA(tray, RegisterWindowMessageA(QuitMessageName), 0, 0);
    DWORD start = GetTickCount();
    bool gone;
    while (!(gone = !IsWindow(tray)) && GetTickCount() - start < timeoutMs)
        Sleep(10);
    // The process lets go of the camera and the joystick just after its
    // window has gone; this copy is about to take them.
    if (gone && process) {
        DWORD elapsed = GetTickCount() - start;
        WaitForSingleObject(process, elapsed < timeoutMs ? timeoutMs - elapsed : 0);
    }
    if (process)
        CloseHandle(process);
    // A copy that does not go (an older Lumo2, or one that hangs) keeps
    // running; two copies would type every press twice.
    return gone;
}
