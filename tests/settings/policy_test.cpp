// Group Policy in-process: a combination's text read back, the two hives
// merged value by value from Wine's real registry, and what a policy mode
// does to the menu, the commands and the joystick.
#include "actions/joystick.h"
#include "actions/vjoy.h"
#include "app/mode_change.h"
#include "app/tray_window.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "settings/key_names.h"
#include "settings/policy.h"
#include "settings/ui_text.h"
#include "tests/support/joystick_log.h"
#include "tests/support/registry_scratch.h"
#include "tests/support/test_support.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::string Text(KeyCombo combo)
{
    char text[100] = {0};
    FormatKeyCombo(text, combo);
    return text;
}

TEST(KeyComboTextTest, EveryTextTheWindowShowsReadsBackAsItsCombination)
{
    int read = 0;
    for (DWORD code = 1; code < 256; ++code) {
        if (KeyName(code)[0] == '\0')
            continue;
        for (BYTE flags = 0; flags < 8; ++flags) {
            KeyCombo shown = {BYTE(flags & 1), BYTE((flags >> 1) & 1), BYTE((flags >> 2) & 1), code};
            std::string text = Text(shown);
            KeyCombo parsed = {};
            ASSERT_TRUE(ParseKeyComboText(text.c_str(), &parsed)) << text;
            EXPECT_EQ(text, Text(parsed));
            EXPECT_EQ(shown.alt, parsed.alt) << text;
            EXPECT_EQ(shown.control, parsed.control) << text;
            EXPECT_EQ(shown.shift, parsed.shift) << text;
            ++read;
        }
    }
    EXPECT_EQ(98 * 8, read) << "every named key but the four modifiers' rows";

    // Names two keys share mean the main keyboard's key and the real NumLock.
    const struct {
        const char* text;
        KeyCombo combo;
    } shared[] = {
        {"1", {0, 0, 0, '1'}},           {"-", {0, 0, 0, VK_OEM_MINUS}},
        {".", {0, 0, 0, VK_OEM_PERIOD}}, {"/", {0, 0, 0, VK_OEM_2}},
        {"NumLock", {0, 0, 0, VK_NUMLOCK}}, {"*", {0, 0, 0, VK_MULTIPLY}},
        {"CTRL + +", {0, 1, 0, VK_ADD}}, {"ALT + CTRL + SHIFT + F5", {1, 1, 1, VK_F5}},
        {"\xC7\xD1/\xBF\xB5", {0, 0, 0, 0x15}}, {"", {0, 0, 0, 0}},
    };
    for (const auto& c : shared) {
        KeyCombo parsed = {1, 1, 1, 0xDEAD};
        ASSERT_TRUE(ParseKeyComboText(c.text, &parsed)) << c.text;
        EXPECT_EQ(c.combo.k, parsed.k) << c.text;
        EXPECT_EQ(Text(c.combo), Text(parsed)) << c.text;
    }
}

TEST(KeyComboTextTest, TextThatIsNotExactlyACombinationIsRefused)
{
    const char* refused[] = {
        "ctrl + S",        "Ctrl + S",         "CTRL+S",           "CTRL + S ",       " CTRL + S",
        "CTRL  + S",       "CTRL +  S",        "SHIFT + CTRL + S", "CTRL + ALT + S",  "CTRL + CTRL + S",
        "CTRL + ",         "ALT + SHIFT + ",   "CTRL",             "SHIFT",           "ALT + SHIFT",
        "F13",             "s",                "S + CTRL",         "CTRL - S",        "CTRL + SS",
        "Space\t",         "NUMLOCK",          "+ S",              "CTRL + S + T",    "ALT + \xC7\xD1",
        "F5\n",            "\xC7\xD1/\xBF",    " ",
    };
    for (const char* text : refused) {
        KeyCombo combo = {1, 0, 1, 0x41};
        EXPECT_FALSE(ParseKeyComboText(text, &combo)) << '"' << text << '"';
        EXPECT_EQ("ALT + SHIFT + A", Text(combo)) << "left alone by \"" << text << '"';
    }
}

class PolicyTest : public RegistryTest {
protected:
    void TearDown() override
    {
        ActivePolicy = PolicySettings();
        ActionMode = ModeSpace;
        CloseJoystick();
        RegistryTest::TearDown();
    }
};

std::string DescribePolicy(const PolicySettings& policy)
{
    std::string text = "mode " + std::to_string(policy.mode) + ", send " + std::to_string(policy.custom.mode) +
                       ", time " + std::to_string(policy.custom.time);
    for (const KeyCombo& combo : policy.custom.keys)
        text += ", [" + Text(combo) + "]";
    return text;
}

struct PolicyValue {
    HKEY root;
    const char* name;
    DWORD type;
    std::vector<BYTE> bytes;
};

std::vector<BYTE> Dword(DWORD value)
{
    return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
}

// UTF-16 bytes, with the terminator only when asked for.
std::vector<BYTE> Wide(const std::wstring& text, bool terminated = true)
{
    std::vector<BYTE> bytes;
    for (wchar_t ch : text) {
        bytes.push_back(BYTE(ch));
        bytes.push_back(BYTE(ch >> 8));
    }
    if (terminated)
        bytes.insert(bytes.end(), 2, 0);
    return bytes;
}

const HKEY Machine = HKEY_LOCAL_MACHINE;
const HKEY User = HKEY_CURRENT_USER;

TEST_F(PolicyTest, HivesMergeValueByValueAndUnusableValuesCountAsNotSet)
{
    const std::string none = "mode 0, send 0, time 1000, [], [], []";
    const struct {
        const char* what;
        std::vector<PolicyValue> values;
        std::string expected;
    } cases[] = {
        {"nothing set", {}, none},
        {"user", {{User, "ActionMode", REG_DWORD, Dword(5)}}, "mode 5, send 0, time 1000, [], [], []"},
        {"computer wins",
         {{Machine, "ActionMode", REG_DWORD, Dword(3)}, {User, "ActionMode", REG_DWORD, Dword(5)}},
         "mode 3, send 0, time 1000, [], [], []"},
        {"computer out of range",
         {{Machine, "ActionMode", REG_DWORD, Dword(11)}, {User, "ActionMode", REG_DWORD, Dword(10)}},
         "mode 10, send 0, time 1000, [], [], []"},
        {"bounds", {{Machine, "ActionMode", REG_DWORD, Dword(2)}}, "mode 2, send 0, time 1000, [], [], []"},
        {"below", {{Machine, "ActionMode", REG_DWORD, Dword(1)}}, none},
        {"negative", {{User, "ActionMode", REG_DWORD, Dword(0xFFFFFFFF)}}, none},
        {"binary", {{Machine, "ActionMode", REG_BINARY, Dword(3)}, {User, "ActionMode", REG_DWORD, Dword(4)}},
         "mode 4, send 0, time 1000, [], [], []"},
        {"text", {{Machine, "ActionMode", REG_SZ, Wide(L"3")}}, none},
        {"big endian", {{Machine, "ActionMode", REG_DWORD_BIG_ENDIAN, Dword(3)}}, none},
        {"eight bytes", {{Machine, "ActionMode", REG_QWORD, {3, 0, 0, 0, 0, 0, 0, 0}}}, none},
        {"two bytes", {{Machine, "ActionMode", REG_DWORD, {3, 0}}}, none},
        {"custom",
         {{Machine, "ActionMode", REG_DWORD, Dword(10)}, {Machine, "CustomMode", REG_DWORD, Dword(1)},
          {User, "CustomMode", REG_DWORD, Dword(0)}, {User, "IntervalTime", REG_DWORD, Dword(60000)},
          {Machine, "Key1", REG_SZ, Wide(L"CTRL + SHIFT + F5")}, {User, "Key1", REG_SZ, Wide(L"F6")},
          {User, "Key2", REG_SZ, Wide(L"ALT + S")}, {Machine, "Key3", REG_SZ, Wide(L"\xD55C/\xC601")}},
         "mode 10, send 1, time 60000, [CTRL + SHIFT + F5], [ALT + S], [\xC7\xD1/\xBF\xB5]"},
        {"custom values out of range",
         {{Machine, "CustomMode", REG_DWORD, Dword(2)}, {Machine, "IntervalTime", REG_DWORD, Dword(60001)},
          {User, "IntervalTime", REG_DWORD, Dword(250)}},
         "mode 0, send 0, time 250, [], [], []"},
        {"interval of 0", {{User, "IntervalTime", REG_DWORD, Dword(0)}}, "mode 0, send 0, time 0, [], [], []"},
        // A text that does not read is not set: the user's counts; an empty
        // text is the empty combination and wins.
        {"unreadable and empty texts",
         {{Machine, "Key1", REG_SZ, Wide(L"Ctrl + S")}, {User, "Key1", REG_SZ, Wide(L"CTRL + S")},
          {Machine, "Key2", REG_SZ, Wide(L"")}, {User, "Key2", REG_SZ, Wide(L"F6")},
          {Machine, "Key3", REG_SZ, Wide(L"CTRL + ")}},
         "mode 0, send 0, time 1000, [CTRL + S], [], []"},
        {"texts of other types and shapes",
         {{Machine, "Key1", REG_EXPAND_SZ, Wide(L"F5")}, {Machine, "Key2", REG_BINARY, {'F', '5', 0}},
          {Machine, "Key3", REG_MULTI_SZ, Wide(L"F5\0", true)}},
         none},
        {"unterminated and padded texts",
         {{Machine, "Key1", REG_SZ, Wide(L"F5", false)}, {Machine, "Key2", REG_SZ, Wide(std::wstring(L"F6\0\0\0", 5))},
          {Machine, "Key3", REG_SZ, {'F', 0, '7'}}},
         "mode 0, send 0, time 1000, [F5], [F6], []"},
        {"a NUL inside and overlong texts",
         {{Machine, "Key1", REG_SZ, Wide(std::wstring(L"F5\0junk", 7))},
          {Machine, "Key2", REG_SZ, Wide(std::wstring(63, L'A'))},
          {Machine, "Key3", REG_SZ, Wide(std::wstring(5000, L'A'))}},
         none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ClearPolicies();
        for (const PolicyValue& v : c.values)
            StorePolicy(v.root, v.name, v.type, v.bytes.data(), DWORD(v.bytes.size()));
        EXPECT_EQ(c.expected, DescribePolicy(ReadPolicy()));
    }
}

// The poll period: a policy (computer before user), else the user's own
// value beside "key", else 100 ms; a value there but unusable is named.
TEST_F(PolicyTest, PollIntervalComesFromThePolicyTheUserOrTheDefault)
{
    const HKEY Own = NULL;  // HKCU\Software\Kestrova
    const struct {
        const char* what;
        std::vector<PolicyValue> values;
        DWORD interval;
        const char* ignored;
    } cases[] = {
        {"nothing set", {}, 100, nullptr},
        {"the user's own", {{Own, "PollInterval", REG_DWORD, Dword(20)}}, 20, nullptr},
        {"a user policy over the user's own",
         {{User, "PollInterval", REG_DWORD, Dword(50)}, {Own, "PollInterval", REG_DWORD, Dword(20)}}, 50, nullptr},
        {"the computer's over the user's",
         {{Machine, "PollInterval", REG_DWORD, Dword(10)}, {User, "PollInterval", REG_DWORD, Dword(50)}}, 10,
         nullptr},
        {"bounds", {{Machine, "PollInterval", REG_DWORD, Dword(1000)}}, 1000, nullptr},
        {"too fast", {{Own, "PollInterval", REG_DWORD, Dword(9)}}, 100, "user setting"},
        {"too slow", {{User, "PollInterval", REG_DWORD, Dword(1001)}}, 100, "user policy"},
        {"zero and negative",
         {{Machine, "PollInterval", REG_DWORD, Dword(0)}, {Own, "PollInterval", REG_DWORD, Dword(0xFFFFFFFF)}}, 100,
         "computer policy"},
        {"an unusable policy leaves the next one in force",
         {{Machine, "PollInterval", REG_SZ, Wide(L"20")}, {Own, "PollInterval", REG_DWORD, Dword(30)}}, 30,
         "computer policy"},
        {"other types and sizes",
         {{Own, "PollInterval", REG_QWORD, {20, 0, 0, 0, 0, 0, 0, 0}}, {User, "PollInterval", REG_DWORD, {20, 0}}},
         100, "user policy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ClearPolicies();
        RegDeleteKeyValueA(HKEY_CURRENT_USER, ProgramKeyPath, PolicyPollIntervalName);
        for (const PolicyValue& v : c.values) {
            if (v.root == Own)
                RegSetKeyValueA(HKEY_CURRENT_USER, ProgramKeyPath, v.name, v.type, v.bytes.data(),
                                DWORD(v.bytes.size()));
            else
                StorePolicy(v.root, v.name, v.type, v.bytes.data(), DWORD(v.bytes.size()));
        }
        const char* ignored = "not asked";
        EXPECT_EQ(c.interval, PollIntervalInForce(ReadPolicy(), &ignored));
        EXPECT_STREQ(c.ignored, ignored);
    }
    RegDeleteKeyValueA(HKEY_CURRENT_USER, ProgramKeyPath, PolicyPollIntervalName);
}

TEST_F(PolicyTest, PolicyCombinationsAreInForceOnlyUnderAPolicyMode10)
{
    ActionMode = ModeCustom;
    for (LONG policy : {0L, 5L, 10L}) {
        ActivePolicy.mode = policy;
        EXPECT_EQ(policy ? policy : ModeCustom, EffectiveActionMode());
        EXPECT_EQ(policy == ModeCustom ? &ActivePolicy.custom : &CustomSettings, &EffectiveCustomSettings()) << policy;
    }
}

TEST_F(PolicyTest, PolicyModeGreysTheOtherModesAndTakesTheirCommands)
{
    HMODULE module = LoadLibraryExA("Lumo2.exe", NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    ActionMode = ModeEnter;
    for (LONG policy : {0L, 5L, 9L, 10L}) {
        SCOPED_TRACE(policy);
        ActivePolicy.mode = policy;
        HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(IDM_TRAY_MENU));
        HMENU popup = GetSubMenu(menu, 0);
        MarkActionMode(popup);
        LONG marked = policy ? policy : ActionMode;
        ASSERT_EQ(15, GetMenuItemCount(popup));
        EXPECT_EQ(UINT(IDM_PROGRAMS), GetMenuItemID(popup, 12));
        EXPECT_EQ(UINT(IDM_DIAGNOSTICS), GetMenuItemID(popup, 13));
        for (int position = 0; position < 15; ++position) {
            UINT state = GetMenuState(popup, position, MF_BYPOSITION);
            bool locked = policy && position >= ModeSpace && position <= ModeCustom &&
                          (position != policy || position == ModeCustom);
            if (!(state & MF_SEPARATOR)) {
                EXPECT_EQ(locked, (state & MF_GRAYED) != 0) << "position " << position;
            }
            EXPECT_EQ(position == marked, (state & MF_CHECKED) != 0) << "position " << position;
            // The tip, the log and the report name each mode as its item does.
            char text[64] = "";
            GetMenuStringA(popup, UINT(position), text, sizeof(text), MF_BYPOSITION);
            const char* named = ModeText(position);
            EXPECT_STREQ(position >= ModeSpace && position <= ModeCustom ? text : "", named ? named : "");
        }
        DestroyMenu(menu);

        for (WORD command : {IDM_SPACE, IDM_KODAK, IDM_CDX_VIEW, IDM_JOYSTICK, IDM_CUSTOM_SETTINGS})
            EXPECT_EQ(policy != 0, PolicyTakesCommand(command)) << command;
        for (WORD command : {WORD(IDM_ABOUT), WORD(IDM_PROGRAMS), WORD(IDM_DIAGNOSTICS), WORD(IDM_EXIT), WORD(40000)})
            EXPECT_FALSE(PolicyTakesCommand(command)) << command;
    }
    FreeLibrary(module);
}

TEST_F(PolicyTest, JoystickOpensWhenAPolicyMakesItTheModeInForce)
{
    ClearJoystickLog();
    ActionMode = ModeSpace;
    const struct {
        const char* what;
        LONG user, policy;
        ULONG opens;  // counted since the start
    } steps[] = {
        {"policy sets 9", ModeSpace, ModeJoystick, 1},
        {"read again, still 9", ModeSpace, ModeJoystick, 1},
        {"policy sets 3", ModeSpace, ModeEnter, 1},
        {"user's 9 under policy 3", ModeJoystick, ModeEnter, 1},
        {"policy gone: the user's 9", ModeJoystick, 0, 2},
        {"policy 9 over the user's 9", ModeJoystick, ModeJoystick, 2},
        {"JOYSTICK chosen under policy 9", ModeJoystick, -1, 3},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        ActionMode = s.user;
        if (s.policy == -1) {
            EXPECT_TRUE(PolicyTakesCommand(IDM_JOYSTICK));
        } else {
            ClearPolicies();
            if (s.policy)
                StorePolicyDword(Machine, PolicyActionModeName, DWORD(s.policy));
            RefreshPolicy();
        }
        EXPECT_EQ(s.opens, ReadJoystickLogSettled(1).opens);
    }
}

TEST_F(PolicyTest, APolicyThatTakesTheJoystickModeAwayGivesVJoyBack)
{
    PPJoyOutOfReach ppjoyGone;
    ASSERT_TRUE(ppjoyGone.Done());
    VJoyRegistered vjoy;
    const struct {
        LONG user, policy;
        const char* calls;  // since the start
        bool saved = false;  // "Save" in the settings window, which makes 10 the user's mode
    } steps[] = {
        {ModeSpace, ModeJoystick, "acquire 1"},
        {ModeCustom, ModeJoystick, "acquire 1", true},
        {ModeSpace, ModeEnter, "acquire 1, relinquish 1"},
        {ModeJoystick, 0, "acquire 1, relinquish 1, acquire 1"},
        {ModeCustom, 0, "acquire 1, relinquish 1, acquire 1, relinquish 1", true},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << "user " << s.user << ", policy " << s.policy << ", saved " << s.saved);
        ActionMode = s.user;
        if (s.saved) {
            FollowSavedSettings(true);
        } else {
            ClearPolicies();
            if (s.policy)
                StorePolicyDword(Machine, PolicyActionModeName, DWORD(s.policy));
            RefreshPolicy();
        }
        EXPECT_EQ(s.calls, DescribeVJoyCalls(GetCurrentProcessId()));
        EXPECT_EQ(EffectiveActionMode() == ModeJoystick, VJoyAcquired());
    }
    UnbindVJoyLibrary();
}

}  // namespace

namespace {

bool EnglishAndKoreanOnly(WORD language)
{
    return language == LANG_ENGLISH || language == LANG_KOREAN;
}

// The computer's policy, the user's policy, the user's own value, the
// display language: the first that names a language Lumo2 has decides.
TEST(UiLanguageTest, PoliciesThenTheUserThenTheDisplayLanguageDecide)
{
    const LANGID korean = 0x412, english = 0x409, french = 0x40C;
    const struct {
        LanguageSources sources;
        WORD language;
        LanguageSource source;
    } cases[] = {
        {{NULL, NULL, NULL, korean}, LANG_KOREAN, LanguageByDisplay},
        {{NULL, NULL, NULL, english}, LANG_ENGLISH, LanguageByDisplay},
        {{NULL, NULL, NULL, french}, LANG_ENGLISH, LanguageByDefault},
        {{NULL, NULL, L"ko", english}, LANG_KOREAN, LanguageByUser},
        {{NULL, NULL, L"EN", korean}, LANG_ENGLISH, LanguageByUser},
        {{NULL, NULL, L"fr", korean}, LANG_KOREAN, LanguageByDisplay},
        {{NULL, NULL, L"ko-KR", english}, LANG_ENGLISH, LanguageByDisplay},
        {{NULL, NULL, L"", korean}, LANG_KOREAN, LanguageByDisplay},
        {{NULL, L" ko", L"k", english}, LANG_ENGLISH, LanguageByDisplay},
        {{L"kore", L"ko_KR", NULL, korean}, LANG_KOREAN, LanguageByDisplay},
        {{NULL, L"ko", L"en", english}, LANG_KOREAN, LanguageByUserPolicy},
        {{NULL, L"de", L"en", korean}, LANG_ENGLISH, LanguageByUser},
        {{L"en", L"ko", L"ko", korean}, LANG_ENGLISH, LanguageByMachinePolicy},
        {{L"Ko", NULL, L"en", english}, LANG_KOREAN, LanguageByMachinePolicy},
        {{L"xx", L"ko", NULL, english}, LANG_KOREAN, LanguageByUserPolicy},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        LanguageChoice choice = ChooseUiLanguage(cases[i].sources, EnglishAndKoreanOnly);
        EXPECT_EQ(cases[i].language, choice.language) << "case " << i;
        EXPECT_EQ(cases[i].source, choice.source) << "case " << i;
    }
}

// The registry as Group Policy and the user leave it: only a REG_SZ that
// fits counts; anything else goes to the next source.
TEST_F(PolicyTest, LanguageValuesOfAnyTypeOrSizeAreReadSafely)
{
    ProgramTexts texts;
    // A language whose table lacks a text shows the English one, not nothing.
    WCHAR text[64] = L"";
    LoadUiTextFor(LANG_GERMAN, IDS_SAVE, text, 64);
    EXPECT_EQ(UiString(IDS_SAVE, LANG_ENGLISH), text);
    const LANGID display = GetUserDefaultUILanguage();
    const WORD displayShown = PRIMARYLANGID(display) == LANG_KOREAN ? LANG_KOREAN : LANG_ENGLISH;
    const struct {
        DWORD type;
        std::wstring data;
        WORD shown;
    } cases[] = {
        {REG_SZ, L"ko", LANG_KOREAN},
        {REG_EXPAND_SZ, L"ko", displayShown},
        {REG_MULTI_SZ, L"ko\0", displayShown},
        {REG_BINARY, L"ko", displayShown},
        {REG_SZ, std::wstring(5000, L'k'), displayShown},
        {REG_SZ, L"k", displayShown},
    };
    for (const auto& c : cases) {
        StorePolicy(HKEY_CURRENT_USER, LanguageValueName, c.type, c.data.data(),
                    DWORD(c.data.size() * sizeof(wchar_t)));
        EXPECT_EQ(c.shown, UiLanguageInForce().language) << c.type << " " << c.data.size();
    }
}

}  // namespace
