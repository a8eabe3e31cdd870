#include "lifecycle/session_watch.h"
#include "platform/diag_log.h"
#include "platform/dll_search.h"
#include <wtsapi32.h>

typedef BOOL(WINAPI* QuerySessionFn)(HANDLE server, DWORD session, WTS_INFO_CLASS what, WCHAR** buffer,
                                     DWORD* bytes);
typedef void(WINAPI* FreeMemoryFn)(void* memory);

static HMODULE WtsModule;

// Loaded by full path from the system folder, never searched for; only
// when it is needed, as most starts are on the console and need nothing.
static FARPROC WtsCall(const char* name)
{
    if (!WtsModule)
        WtsModule = LoadSystemLibrary("wtsapi32.dll");
    return WtsModule ? GetProcAddress(WtsModule, name) : NULL;
}

static DWORD OwnSession()
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

bool SessionIsConnectedOfSystem()
{
    // The console's session is connected by definition, and asking the
    // kernel costs nothing.
    if (WTSGetActiveConsoleSessionId() == OwnSession())
        return true;
    auto query = reinterpret_cast<QuerySessionFn>(reinterpret_cast<void*>(WtsCall("WTSQuerySessionInformationW")));
    auto release = reinterpret_cast<FreeMemoryFn>(reinterpret_cast<void*>(WtsCall("WTSFreeMemory")));
    WCHAR* buffer = NULL;
    DWORD bytes = 0;
    if (!query || !release || !query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSConnectState, &buffer, &bytes))
        return true;
    bool connected = true;
    if (buffer && bytes >= sizeof(int)) {
        int state = *reinterpret_cast<int*>(buffer);
        connected = state == WTSActive || state == WTSConnected;
    }
    release(buffer);
    return connected;
}

static BOOL WINAPI RegisterWithWts(HWND window, DWORD flags)
{
    auto call = reinterpret_cast<SessionNotificationFn>(
        reinterpret_cast<void*>(WtsCall("WTSRegisterSessionNotification")));
    return call && call(window, flags);
}

static BOOL WINAPI UnregisterWithWts(HWND window)
{
    auto call = reinterpret_cast<SessionUnnotificationFn>(
        reinterpret_cast<void*>(WtsCall("WTSUnRegisterSessionNotification")));
    return call && call(window);
}

SessionNotificationFn RegisterSessionNotification = RegisterWithWts;
SessionUnnotificationFn UnregisterSessionNotification = UnregisterWithWts;
SessionConnectedFn SessionIsConnected = SessionIsConnectedOfSystem;

// The window thread's: whether the notifications come, and the tries made
// and when the last was.
static bool Watching;
static int Tries;
static DWORD LastTry;

static bool TryToWatch(HWND window, DWORD now)
{
    ++Tries;
    LastTry = now;
    Watching = RegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION) != FALSE;
    return Watching;
}

bool StartSessionWatch(HWND window, DWORD now)
{
    Tries = 0;
    if (TryToWatch(window, now))
        return true;
    // Refused while the session's services are not up yet, right at logon.
    LogLine("session: changes cannot be watched yet (error %lu); tried again every %lu s", GetLastError(),
            SessionWatchRetryMs / 1000);
    return false;
}

bool RetrySessionWatch(HWND window, DWORD now)
{
    if (Watching || Tries == 0 || Tries >= SessionWatchTries || now - LastTry < SessionWatchRetryMs)
        return false;
    if (TryToWatch(window, now))
        LogLine("session: changes watched from now on");
    else if (Tries == SessionWatchTries)
        LogLine("session: changes are not watched; a disconnected session keeps the camera");
    return Watching;
}

void StopSessionWatch(HWND window)
{
    if (Watching)
        UnregisterSessionNotification(window);
    Watching = false;
    Tries = 0;
}

int SessionChangeMeaning(WPARAM event, LPARAM sessionId)
{
    if (DWORD(sessionId) != OwnSession())
        return -1;
    switch (event) {
    case WTS_CONSOLE_CONNECT:
    case WTS_REMOTE_CONNECT:
        return 1;
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
        return 0;
    }
    return -1;
}
