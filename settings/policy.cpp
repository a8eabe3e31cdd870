// Group Policy: reading both hives, merging them value by value, reading a
// combination's text back into a KeyCombo, and what is in force.
#include "settings/policy.h"
#include "settings/action_mode.h"
#include "settings/key_names.h"
#include <string.h>

PolicySettings ActivePolicy;
const ProgramRules* RulesInForce;

namespace {

// A combination's text is at most 31 characters; a longer value cannot be
// one and is not read at all.
const DWORD PolicyTextChars = 64;

// Korean Windows code page: the one non-ASCII key name is stored in it, and
// the policy's text (UTF-16 in the registry) is compared in it whatever the
// PC's own code page.
const UINT KeyNameCodePage = 949;

bool StartsWith(const char* text, const char* prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// Keypad keys and VK_CANCEL share their names with keys of the main keyboard
// (digits, "-", ".", "/") and with VK_NUMLOCK; a name means the other key.
bool NameIsSecondary(DWORD code)
{
    return code == VK_CANCEL || (code >= VK_NUMPAD0 && code <= VK_DIVIDE);
}

DWORD KeyCodeForName(const char* name)
{
    if (*name == '\0')
        return 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (DWORD code = 1; code < 256; ++code) {
            if (pass == 0 && NameIsSecondary(code))
                continue;
            if (strcmp(KeyName(code), name) == 0)
                return code;
        }
    }
    return 0;
}

// A REG_DWORD of exactly four bytes within [min, max], else nothing.
bool ReadPolicyDword(HKEY key, const char* name, DWORD min, DWORD max, DWORD* value)
{
    DWORD type = REG_NONE, data = 0, size = sizeof(data);
    if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_DWORD || size != sizeof(data) || data < min || data > max)
        return false;
    *value = data;
    return true;
}

// A REG_SZ that reads exactly as a combination, else nothing.
bool ReadPolicyCombo(HKEY key, const char* name, KeyCombo* combo)
{
    WCHAR wideName[16];
    size_t i = 0;
    for (; name[i] && i + 1 < sizeof(wideName) / sizeof(wideName[0]); ++i)
        wideName[i] = static_cast<unsigned char>(name[i]);
    wideName[i] = 0;

    WCHAR wide[PolicyTextChars];
    DWORD type = REG_NONE, size = sizeof(wide);
    if (RegQueryValueExW(key, wideName, NULL, &type, reinterpret_cast<BYTE*>(wide), &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ || size % sizeof(WCHAR) != 0)
        return false;
    // Terminators are optional in the registry; a NUL inside the text is not.
    DWORD count = size / sizeof(WCHAR);
    while (count > 0 && wide[count - 1] == 0)
        --count;
    for (DWORD c = 0; c < count; ++c)
        if (wide[c] == 0)
            return false;

    char text[PolicyTextChars * 2 + 1];
    int length = 0;
    if (count > 0) {
        BOOL usedDefault = FALSE;
        length = WideCharToMultiByte(KeyNameCodePage, WC_NO_BEST_FIT_CHARS, wide, int(count), text,
                                     sizeof(text) - 1, NULL, &usedDefault);
        if (length <= 0 || usedDefault)
            return false;
    }
    text[length] = '\0';
    return ParseKeyComboText(text, combo);
}

// Whether the value exists at all, whatever its type or size.
bool ValueExists(HKEY key, const char* name)
{
    return key && RegQueryValueExA(key, name, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
}

// The first hive, computer before user, whose value is usable.
bool ReadFirstDword(const HKEY keys[2], const char* name, DWORD min, DWORD max, DWORD* value)
{
    for (int i = 0; i < 2; ++i)
        if (keys[i] && ReadPolicyDword(keys[i], name, min, max, value))
            return true;
    return false;
}

}  // namespace

bool ParseKeyComboText(const char* text, KeyCombo* combo)
{
    if (*text == '\0') {
        *combo = KeyCombo();
        return true;
    }
    // The prefixes in the order the formatter writes them, each at most once.
    KeyCombo parsed = {};
    const char* rest = text;
    if (StartsWith(rest, "ALT + ")) {
        parsed.alt = 1;
        rest += strlen("ALT + ");
    }
    if (StartsWith(rest, "CTRL + ")) {
        parsed.control = 1;
        rest += strlen("CTRL + ");
    }
    if (StartsWith(rest, "SHIFT + ")) {
        parsed.shift = 1;
        rest += strlen("SHIFT + ");
    }
    parsed.k = KeyCodeForName(rest);
    if (parsed.k == 0)
        return false;
    *combo = parsed;
    return true;
}

PolicySettings ReadPolicy()
{
    PolicySettings policy = {};
    policy.custom.mode = Sequential;
    policy.custom.time = PolicyDefaultInterval;

    // Group Policy writes the 64-bit view on 64-bit Windows; the policies
    // key is shared by both views, so this only makes it explicit.
    const HKEY roots[2] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    HKEY keys[2] = {NULL, NULL};
    for (int i = 0; i < 2; ++i)
        if (RegOpenKeyExA(roots[i], PolicyKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &keys[i]) != ERROR_SUCCESS)
            keys[i] = NULL;

    DWORD value;
    if (ReadFirstDword(keys, PolicyActionModeName, ModeSpace, ModeCustom, &value))
        policy.mode = LONG(value);
    if (ReadFirstDword(keys, PolicyCustomModeName, Sequential, SendAll, &value))
        policy.custom.mode = LONG(value);
    if (ReadFirstDword(keys, PolicyIntervalTimeName, PolicyIntervalMin, PolicyIntervalMax, &value))
        policy.custom.time = LONG(value);
    for (int i = 0; i < 2 && policy.pollInterval == 0; ++i) {
        if (keys[i] && ReadPolicyDword(keys[i], PolicyPollIntervalName, PollIntervalMin, PollIntervalMax, &value))
            policy.pollInterval = value;
        else if (ValueExists(keys[i], PolicyPollIntervalName) && !policy.pollIntervalIgnored)
            policy.pollIntervalIgnored = i == 0 ? "computer policy" : "user policy";
    }
    // A text that is no combination counts as not set: the user's policy may
    // then give one, else the combination stays empty.
    for (int n = 0; n < 3; ++n)
        for (int i = 0; i < 2; ++i)
            if (keys[i] && ReadPolicyCombo(keys[i], PolicyKeyNames[n], &policy.custom.keys[n]))
                break;

    for (HKEY key : keys)
        if (key)
            RegCloseKey(key);
    return policy;
}

bool IsPolicyChange(LPARAM lParam)
{
    const char* area = reinterpret_cast<const char*>(lParam);
    return area != NULL && lstrcmpiA(area, "Policy") == 0;
}

LONG EffectiveActionMode()
{
    return ActivePolicy.mode != 0 ? ActivePolicy.mode : ActionMode;
}

const CustomKeySettings& EffectiveCustomSettings()
{
    return ActivePolicy.mode == ModeCustom ? ActivePolicy.custom : CustomSettings;
}

void CopyPressSettings(LONG* mode, CustomKeySettings* custom)
{
    LockSettings();
    *mode = EffectiveActionMode();
    *custom = EffectiveCustomSettings();
    UnlockSettings();
}

void PublishProgramRules(ProgramRules* rules)
{
    LockSettings();
    const ProgramRules* before = RulesInForce;
    RulesInForce = rules;
    UnlockSettings();
    delete before;
}

void CopyPressSettingsFor(const WCHAR* path, const WCHAR* finalPath, PressDecision* decision,
                          CustomKeySettings* custom)
{
    LockSettings();
    PressMode press = ModeForProgram(RulesInForce, path, ActivePolicy.mode, ActionMode, finalPath);
    decision->mode = press.mode;
    decision->source = press.source;
    lstrcpynW(decision->ruleName, press.rule ? press.rule->name : L"", MAX_PATH);
    decision->ruleKey = press.rule ? RuleStateKey(press.source, *press.rule) : 0;
    *custom = EffectiveCustomSettings();
    UnlockSettings();
}

bool JoystickModeInForce()
{
    LockSettings();
    bool inForce = ModeInForceAnywhere(RulesInForce, ActivePolicy.mode, ActionMode, ModeJoystick);
    UnlockSettings();
    return inForce;
}

DWORD PollIntervalInForce(const PolicySettings& policy, const char** ignored)
{
    *ignored = policy.pollIntervalIgnored;
    if (policy.pollInterval)
        return policy.pollInterval;
    HKEY key;
    DWORD value = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        if (!ReadPolicyDword(key, PolicyPollIntervalName, PollIntervalMin, PollIntervalMax, &value)) {
            if (ValueExists(key, PolicyPollIntervalName) && !*ignored)
                *ignored = "user setting";
            value = 0;
        }
        RegCloseKey(key);
    }
    return value ? value : DefaultPollInterval;
}
