#include "app/program_rules_watch.h"
#include "camera/camera_thread.h"
#include "platform/diag_log.h"
#include "settings/action_mode.h"
#include "settings/policy.h"
#include "settings/program_rules.h"
#include "tray/tray_status.h"
#include "windows/programs_window.h"

// The window thread's alone.
static HANDLE RulesEvent;
static HKEY RulesKey;
static bool WatchingRulesKey;
static DWORD LoggedIgnored = 0xFFFFFFFF;

static bool ArmRulesKey(const char* path, bool ownKey, bool* opened = NULL)
{
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_NOTIFY, &RulesKey) != ERROR_SUCCESS) {
        RulesKey = NULL;
        return false;
    }
    if (opened)
        *opened = true;
    // Lumo2's own key with all below it: the rules key's values and its
    // coming and going, and the user's Language, which the tip follows.
    // Above it only names, for its coming.
    DWORD filter = ownKey ? REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME : REG_NOTIFY_CHANGE_NAME;
    if (RegNotifyChangeKeyValue(RulesKey, ownKey, filter, RulesEvent, TRUE) != ERROR_SUCCESS) {
        RegCloseKey(RulesKey);
        RulesKey = NULL;
        return false;
    }
    WatchingRulesKey = ownKey;
    return true;
}

// On a key opened afresh: the one watched may have been deleted, or
// Lumo2's key may have come. A change between two arms is read by the
// refresh that follows.
static void ArmProgramRulesWatch()
{
    if (RulesKey)
        RegCloseKey(RulesKey);
    RulesKey = NULL;
    ResetEvent(RulesEvent);
    bool opened = false;
    if (ArmRulesKey(ProgramKeyPath, true, &opened))
        return;
    ArmRulesKey("Software", false);
    // Lumo2's key may have come between the open that failed and the
    // arming above, which then never sees it come: read it as a change.
    // (One that opens but cannot be watched is not read at every tick.)
    HKEY key;
    if (!opened && RegOpenKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, KEY_NOTIFY, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        SetEvent(RulesEvent);
    }
}

void StartProgramRulesWatch()
{
    StopProgramRulesWatch();
    RulesEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (RulesEvent)
        ArmProgramRulesWatch();
}

bool ProgramRulesChanged()
{
    if (!RulesEvent || WaitForSingleObject(RulesEvent, 0) != WAIT_OBJECT_0)
        return false;
    bool wasRulesKey = WatchingRulesKey;
    ArmProgramRulesWatch();
    // Another program's key under Software is nothing to read.
    return wasRulesKey || WatchingRulesKey;
}

void StopProgramRulesWatch()
{
    if (RulesKey)
        RegCloseKey(RulesKey);
    if (RulesEvent)
        CloseHandle(RulesEvent);
    RulesKey = NULL;
    RulesEvent = NULL;
    WatchingRulesKey = false;
}

// A fingerprint of what was ignored, so that the same values are named
// once, not at every menu opening.
static DWORD IgnoredFingerprint(const ProgramRules& rules)
{
    DWORD print = 2166136261u;
    for (const RuleList& list : rules.levels) {
        print = (print ^ list.ignoredCount) * 16777619u;
        for (UINT i = 0; i < list.ignoredCount && i < UINT(IgnoredRulesNamed); ++i) {
            print = (print ^ DWORD(list.ignored[i].fault)) * 16777619u;
            for (const WCHAR* c = list.ignored[i].name; *c; ++c)
                print = (print ^ *c) * 16777619u;
        }
    }
    return print;
}

static void LogIgnoredRules(const ProgramRules& rules)
{
    DWORD print = IgnoredFingerprint(rules);
    if (print == LoggedIgnored)
        return;
    LoggedIgnored = print;
    for (int level = 0; level < RuleLevelCount; ++level) {
        const RuleList& list = rules.levels[level];
        for (UINT i = 0; i < list.ignoredCount && i < UINT(IgnoredRulesNamed); ++i)
            LogLineW(L"rules: %S value \"%s\" ignored: %S", RuleLevelText(RuleLevel(level)), list.ignored[i].name,
                     RuleFaultText(list.ignored[i].fault));
        if (list.ignoredCount > UINT(IgnoredRulesNamed))
            LogLine("rules: %s: %u more values ignored", RuleLevelText(RuleLevel(level)),
                    list.ignoredCount - IgnoredRulesNamed);
    }
}

void RefreshProgramRules()
{
    ProgramRules* rules = ReadProgramRules();
    UINT before = ProgramsWithOwnModeNow();
    LogIgnoredRules(*rules);
    UINT ownModes = ProgramsWithOwnMode(rules, ActivePolicy.mode);
    NoteProgramsWithOwnMode(ownModes);
    PublishProgramRules(rules);
    if (ownModes != before)
        LogLine("rules: %u programs have a mode of their own", ownModes);
    RequestJoystickFollow(false, false);
    UpdateTrayStatus();
    ShowProgramRulesInWindow();
}

