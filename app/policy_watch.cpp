#include "app/policy_watch.h"
#include "platform/dll_search.h"

static HMODULE UserenvModule;
static PolicyNotificationFn RegisterGPNotificationCall;
static PolicyUnnotificationFn UnregisterGPNotificationCall;

// Loaded by full path from the system folder, never searched for.
static bool BindUserenv()
{
    if (UserenvModule)
        return true;
    HMODULE module = LoadSystemLibrary("userenv.dll");
    if (!module)
        return false;
    RegisterGPNotificationCall = reinterpret_cast<PolicyNotificationFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "RegisterGPNotification")));
    UnregisterGPNotificationCall = reinterpret_cast<PolicyUnnotificationFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "UnregisterGPNotification")));
    if (!RegisterGPNotificationCall || !UnregisterGPNotificationCall) {
        FreeLibrary(module);
        return false;
    }
    UserenvModule = module;
    return true;
}

static BOOL WINAPI RegisterWithUserenv(HANDLE event, BOOL machine)
{
    return BindUserenv() && RegisterGPNotificationCall(event, machine);
}

static BOOL WINAPI UnregisterWithUserenv(HANDLE event)
{
    return BindUserenv() && UnregisterGPNotificationCall(event);
}

PolicyNotificationFn RegisterPolicyNotification = RegisterWithUserenv;
PolicyUnnotificationFn UnregisterPolicyNotification = UnregisterWithUserenv;

// The computer's and the user's.
struct PolicyWatch {
    HANDLE event;
    HANDLE wait;
    bool registered;
};
static PolicyWatch PolicyWatches[2];

// On a thread-pool thread: nothing here may touch the program's state, so
// it only hands the news to the window.
static VOID CALLBACK OnPolicyApplied(PVOID window, BOOLEAN)
{
    PostMessageA(static_cast<HWND>(window), WM_POLICY_APPLIED, 0, 0);
}

bool StartPolicyWatch(HWND window)
{
    StopPolicyWatch();
    bool watching = false;
    for (int i = 0; i < 2; ++i) {
        PolicyWatch& watch = PolicyWatches[i];
        // Auto-reset, so that one signal is one message.
        watch.event = CreateEventA(NULL, FALSE, FALSE, NULL);
        if (!watch.event)
            continue;
        watch.registered = RegisterPolicyNotification(watch.event, i == 0) != FALSE;
        if (watch.registered &&
            RegisterWaitForSingleObject(&watch.wait, watch.event, OnPolicyApplied, window, INFINITE,
                                        WT_EXECUTEDEFAULT))
            watching = true;
        else
            watch.wait = NULL;
    }
    return watching;
}

void StopPolicyWatch()
{
    for (PolicyWatch& watch : PolicyWatches) {
        if (watch.wait)
            UnregisterWaitEx(watch.wait, INVALID_HANDLE_VALUE);
        if (watch.registered)
            UnregisterPolicyNotification(watch.event);
        if (watch.event)
            CloseHandle(watch.event);
        watch = PolicyWatch();
    }
}
