#include "app/session_watch.h"
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

static bool Watching;

bool StartSessionWatch(HWND window)
{
    Watching = RegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION) != FALSE;
    return Watching;
}

void StopSessionWatch(HWND window)
{
    if (Watching)
        UnregisterSessionNotification(window);
    Watching = false;
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
