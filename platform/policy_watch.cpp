#include "platform/policy_watch.h"
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

// A hive's Software\Policies with its whole subtree; while the hive has no
// such key (a user's often has none), its Software, for names only and
// without the subtree, since every program writes below Software.
struct PolicyKeyWatch {
    HANDLE event;
    HKEY key;
    bool wholeTree;
};
static PolicyKeyWatch PolicyKeyWatches[2];

static HKEY PolicyHive(int index)
{
    return index == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// Software\Policies is one key for 32- and 64-bit programs; the view is
// named as ReadPolicy names it all the same.
static const REGSAM PolicyNotifyAccess = KEY_NOTIFY | KEY_WOW64_64KEY;

static bool ArmKey(PolicyKeyWatch& watch, HKEY hive, bool wholeTree)
{
    if (RegOpenKeyExA(hive, wholeTree ? "Software\\Policies" : "Software", 0, PolicyNotifyAccess, &watch.key) !=
        ERROR_SUCCESS) {
        watch.key = NULL;
        return false;
    }
    DWORD filter = wholeTree ? REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET : REG_NOTIFY_CHANGE_NAME;
    if (RegNotifyChangeKeyValue(watch.key, wholeTree, filter, watch.event, TRUE) == ERROR_SUCCESS) {
        watch.wholeTree = wholeTree;
        return true;
    }
    RegCloseKey(watch.key);
    watch.key = NULL;
    return false;
}

static bool PolicyKeyExists(HKEY hive)
{
    HKEY key;
    if (RegOpenKeyExA(hive, "Software\\Policies", 0, PolicyNotifyAccess, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Asks for the next change, on a key opened afresh: the one watched may
// have been deleted, or the policy key may have come. Whatever changes
// while no watch is armed is read by the refresh that follows the arming.
static void ArmPolicyKeyWatch(PolicyKeyWatch& watch, HKEY hive)
{
    if (watch.key)
        RegCloseKey(watch.key);
    watch.key = NULL;
    watch.wholeTree = false;
    // Closing a watched key may complete its watch: that is no change.
    ResetEvent(watch.event);
    if (ArmKey(watch, hive, true) || !ArmKey(watch, hive, false))
        return;
    // Made between the two opens, it would go unseen until Software's next
    // new key.
    if (PolicyKeyExists(hive)) {
        RegCloseKey(watch.key);
        watch.key = NULL;
        ResetEvent(watch.event);
        ArmKey(watch, hive, true);
    }
}

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
    for (int i = 0; i < 2; ++i) {
        PolicyKeyWatch& watch = PolicyKeyWatches[i];
        // Auto-reset, so that one change is one refresh.
        watch.event = CreateEventA(NULL, FALSE, FALSE, NULL);
        if (watch.event)
            ArmPolicyKeyWatch(watch, PolicyHive(i));
        watching = watching || watch.key;
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
    for (int i = 0; i < 2; ++i) {
        PolicyKeyWatch& watch = PolicyKeyWatches[i];
        if (!watch.key || WaitForSingleObject(watch.event, 0) != WAIT_OBJECT_0)
            continue;
        bool policies = watch.wholeTree;
        ArmPolicyKeyWatch(watch, PolicyHive(i));
        // Another program's new key under Software is nothing to read.
        applied = applied || policies || watch.wholeTree;
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
    for (PolicyKeyWatch& watch : PolicyKeyWatches) {
        if (watch.key)
            RegCloseKey(watch.key);
        if (watch.event)
            CloseHandle(watch.event);
        watch = PolicyKeyWatch();
    }
}
