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
    bool registered;
};
static PolicyWatch PolicyWatches[2];

bool StartPolicyWatch()
{
    StopPolicyWatch();
    bool watching = false;
    for (int i = 0; i < 2; ++i) {
        PolicyWatch& watch = PolicyWatches[i];
        // Auto-reset, so that one signal is one refresh.
        watch.event = CreateEventA(NULL, FALSE, FALSE, NULL);
        if (!watch.event)
            continue;
        watch.registered = RegisterPolicyNotification(watch.event, i == 0) != FALSE;
        watching = watching || watch.registered;
    }
    return watching;
}

bool PolicyApplied()
{
    HANDLE events[2];
    DWORD count = 0;
    for (const PolicyWatch& watch : PolicyWatches)
        if (watch.registered)
            events[count++] = watch.event;
    // Both are taken, so that a signal of each is one refresh, not two.
    bool applied = false;
    while (count > 0) {
        DWORD signalled = WaitForMultipleObjects(count, events, FALSE, 0);
        if (signalled >= WAIT_OBJECT_0 + count)
            break;
        applied = true;
        events[signalled - WAIT_OBJECT_0] = events[--count];
    }
    return applied;
}

void StopPolicyWatch()
{
    for (PolicyWatch& watch : PolicyWatches) {
        if (watch.registered)
            UnregisterPolicyNotification(watch.event);
        if (watch.event)
            CloseHandle(watch.event);
        watch = PolicyWatch();
    }
}
