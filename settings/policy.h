// Settings an administrator sets centrally through Group Policy. They live
// beside the user's own settings and never overwrite them: while a policy
// sets the mode it is the mode in force, and once it is gone the user's own
// choice is back.
#pragma once
#include "settings/custom_settings.h"
#include "settings/policy_names.h"
#include "settings/program_rules.h"
#include <windows.h>

// What the custom settings are, under a policy mode 10, for a value that no
// policy sets: the settings window's own starting values and no combination.
const LONG PolicyDefaultInterval = 1000;

struct PolicySettings {
    LONG mode;                  // 2..10, or 0 when no policy sets the mode
    CustomKeySettings custom;   // in force only while mode is 10
    DWORD pollInterval;         // ms, or 0 when no policy sets it
    // Which PollInterval was there but unusable ("computer policy", "user
    // policy"), or null; the user's own is looked at by ReadPollInterval.
    const char* pollIntervalIgnored;
};

extern PolicySettings ActivePolicy;

// Reads the policies of both hives, value by value: a computer value wins
// over a user value, and a value of the wrong type, size or range counts as
// not set.
PolicySettings ReadPolicy();
// Whether WM_SETTINGCHANGE announces a change of Group Policy.
bool IsPolicyChange(LPARAM lParam);

// The mode a press acts on and the menu marks: the policy's, else the user's.
LONG EffectiveActionMode();
// The custom settings a press in mode 10 sends.
const CustomKeySettings& EffectiveCustomSettings();
// For the camera thread at a press: the mode in force and the custom
// settings it would send, copied under the settings lock.
void CopyPressSettings(LONG* mode, CustomKeySettings* custom);

// The rules for programs in force. The window thread alone reads them from
// the registry and puts a new set in place, under the settings lock, by
// swapping this pointer; it deletes the old set after the lock is let go,
// since the camera thread touches a set only while it holds the lock.
// Null until the first tick has read them.
extern const ProgramRules* RulesInForce;
// Puts rules in force (taking them over) and deletes the set before.
void PublishProgramRules(ProgramRules* rules);

// How a press's mode was decided, copied out of the rules at the press.
struct PressDecision {
    LONG mode;
    ModeSource source;
    WCHAR ruleName[MAX_PATH];  // the rule that decided, "" for none
    ULONGLONG ruleKey;         // its RuleStateKey, 0 for none
};
// For the camera thread at a press, with the program in front (its image's
// path, "" when unknown, and the same normalised, or null): the mode the rules and the policy give it and the
// custom settings that mode sends. The rules are matched under the lock,
// not copied: a press looks through at most 768 of them, far quicker than
// copying them would be.
void CopyPressSettingsFor(const WCHAR* path, const WCHAR* finalPath, PressDecision* decision,
                          CustomKeySettings* custom);
// Whether JOYSTICK is the default or any rule's mode in force, under the
// lock: the camera thread then holds the joystick.
bool JoystickModeInForce();

// The poll period in force: the policy's, else the user's own
// "PollInterval", else 100 ms. A value that is there but unusable counts as
// not set; *ignored then names the first such one, else null.
DWORD PollIntervalInForce(const PolicySettings& policy, const char** ignored);

// The inverse of FormatKeyCombo: "ALT + ", "CTRL + ", "SHIFT + " in that
// order, each at most once, then a key name of the table; the empty text is
// the empty combination. Anything else is refused and combo left alone. A
// name that two keys share means the main keyboard's key (digits, "-", ".",
// "/") and the real NumLock.
bool ParseKeyComboText(const char* text, KeyCombo* combo);
