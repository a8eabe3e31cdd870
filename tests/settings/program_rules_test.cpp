// Modes for programs as plain data: which values are rules, which rule
// names which program, and the order in which a press asks the levels; then
// the same read back from Wine's real registry.
#include "settings/action_mode.h"
#include "settings/policy.h"
#include "settings/program_rules.h"
#include "tests/support/registry_scratch.h"
#include "windows/programs_window.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> Dword(DWORD value)
{
    return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
}

std::vector<BYTE> Text(const wchar_t* text, bool terminated = true)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
    return std::vector<BYTE>(bytes, bytes + (wcslen(text) + (terminated ? 1 : 0)) * sizeof(wchar_t));
}

TEST(ProgramRulesTest, OnlyANamedProgramWithAModeFromTwoToTenIsARule)
{
    const struct {
        const char* what;
        const wchar_t* name;
        DWORD type;
        std::vector<BYTE> data;
        RuleFault fault;
        LONG mode;
    } cases[] = {
        {"a REG_DWORD", L"imaging.exe", REG_DWORD, Dword(5), RuleFine, 5},
        {"the lowest", L"imaging", REG_DWORD, Dword(2), RuleFine, 2},
        {"the highest", L"imaging", REG_DWORD, Dword(10), RuleFine, 10},
        {"REG_SZ decimal", L"imaging", REG_SZ, Text(L"9"), RuleFine, 9},
        {"REG_SZ without its terminator", L"imaging", REG_SZ, Text(L"10", false), RuleFine, 10},
        {"a full path", L"C:\\Imaging\\imaging.exe", REG_SZ, Text(L"4"), RuleFine, 4},
        {"1", L"imaging", REG_DWORD, Dword(1), RuleModeOutOfRange, 0},
        {"11", L"imaging", REG_DWORD, Dword(11), RuleModeOutOfRange, 0},
        {"-1", L"imaging", REG_DWORD, Dword(0xFFFFFFFF), RuleModeOutOfRange, 0},
        {"REG_SZ 11", L"imaging", REG_SZ, Text(L"11"), RuleModeOutOfRange, 0},
        {"REG_SZ not a number", L"imaging", REG_SZ, Text(L"Space"), RuleModeOutOfRange, 0},
        {"REG_SZ with a blank", L"imaging", REG_SZ, Text(L" 5"), RuleModeOutOfRange, 0},
        {"REG_SZ empty", L"imaging", REG_SZ, Text(L""), RuleModeOutOfRange, 0},
        {"REG_SZ of odd bytes", L"imaging", REG_SZ, {'5', 0, 0}, RuleModeOutOfRange, 0},
        {"REG_DWORD of two bytes", L"imaging", REG_DWORD, {5, 0}, RuleWrongType, 0},
        {"REG_BINARY", L"imaging", REG_BINARY, Dword(5), RuleWrongType, 0},
        {"REG_EXPAND_SZ", L"imaging", REG_EXPAND_SZ, Text(L"5"), RuleWrongType, 0},
        {"REG_QWORD", L"imaging", REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0}, RuleWrongType, 0},
        {"REG_MULTI_SZ", L"imaging", REG_MULTI_SZ, Text(L"5"), RuleWrongType, 0},
        {"an empty name", L"", REG_DWORD, Dword(5), RuleBadName, 0},
        {"a star", L"*.exe", REG_DWORD, Dword(5), RuleBadName, 0},
        {"a question mark", L"imag?ng.exe", REG_DWORD, Dword(5), RuleBadName, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LONG mode = 0;
        EXPECT_EQ(c.fault, ParseRuleValue(c.name, DWORD(wcslen(c.name)), c.type, c.data.data(), DWORD(c.data.size()),
                                          &mode));
        EXPECT_EQ(c.mode, mode);
    }
    std::wstring longName(MAX_PATH, L'a');
    LONG mode = 0;
    DWORD five = 5;
    EXPECT_EQ(RuleBadName, ParseRuleValue(longName.c_str(), DWORD(longName.size()), REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&five), 4, &mode));
}

ProgramRule Rule(const wchar_t* name, LONG mode)
{
    RuleList list = {};
    DWORD data = DWORD(mode);
    AddRuleValue(&list, name, DWORD(wcslen(name)), REG_DWORD, reinterpret_cast<const BYTE*>(&data), 4);
    EXPECT_EQ(1u, list.count) << name;
    return list.rules[0];
}

TEST(ProgramRulesTest, ARuleNamesItsProgramWhateverTheCaseAndWithOrWithoutExe)
{
    const wchar_t* const path = L"C:\\Program Files\\Imaging\\Imaging.EXE";
    const struct {
        const wchar_t* rule;
        bool matches;
    } cases[] = {
        {L"imaging.exe", true},
        {L"IMAGING.EXE", true},
        {L"imaging", true},
        {L"Imaging.Exe", true},
        {L"c:\\program files\\imaging\\imaging.exe", true},
        {L"C:\\Program Files\\Imaging\\imaging", true},
        {L"imaging.ex", false},
        {L"imagin", false},
        {L"imaging.exe.exe", false},
        {L"D:\\Imaging\\imaging.exe", false},
        {L"Imaging\\imaging.exe", false},  // not a full path
        {L"viewer.exe", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.rule)));
        EXPECT_EQ(c.matches, RuleMatches(Rule(c.rule, 5), path));
    }
}

// A full-path rule however it was written, against the program in front as
// Windows names its image (also by its 8.3 name), normalised once per
// process; the rule itself is kept as written. Wine 8 makes no junction and
// no drive of a share to try.
TEST(ProgramRulesTest, AFullPathRuleMatchesTheProgramHoweverItIsWritten)
{
    WCHAR temp[MAX_PATH], shortPath[MAX_PATH] = L"", out[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
    const std::wstring dir = std::wstring(temp) + L"Lumo2 Imaging Program Folder";
    const std::wstring exe = dir + L"\\Imaging Viewer.exe";
    CreateDirectoryW(dir.c_str(), NULL);
    CloseHandle(CreateFileW(exe.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    SetEnvironmentVariableW(L"LUMO2_RULES_TEST", dir.c_str());
    SetEnvironmentVariableW(L"LUMO2_TOO_LONG", std::wstring(MAX_PATH, L'x').c_str());
    std::wstring slashed = exe;
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    GetShortPathNameW(exe.c_str(), shortPath, MAX_PATH);
    ASSERT_STRNE(exe.c_str(), shortPath) << "no 8.3 name";
    const struct {
        const char* what;
        std::wstring rule;
        bool matches;
    } cases[] = {
        {"as Windows gives it", exe, true},
        {"quoted as by Copy as path, blanks around", L" \"" + exe + L"\"\t", true},
        {"forward slashes", slashed, true},
        {"an environment variable", L"%LUMO2_RULES_TEST%\\Imaging Viewer", true},
        {"its 8.3 name", shortPath, true},
        {"another program there", L"\"" + dir + L"\\Other Viewer.exe\"", false},
        {"a variable too long to expand", L"%LUMO2_TOO_LONG%\\Imaging Viewer.exe", false},
        {"only one quote", L"\"" + exe, false},
    };
    FrontPathCache* cache = new FrontPathCache();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramRule rule = Rule(c.rule.c_str(), ModeKodak);
        EXPECT_EQ(c.matches, RuleMatches(rule, exe.c_str(), FrontProgramPath(cache, 7, 1, exe.c_str())));
        EXPECT_EQ(c.matches, RuleMatches(rule, shortPath, FrontProgramPath(cache, 8, 1, shortPath)));
        EXPECT_EQ(c.rule, std::wstring(rule.name)) << "kept as written";
    }
    delete cache;
    EXPECT_FALSE(NormaliseProgramPath(std::wstring(MAX_PATH, L'x').c_str(), out, true));
}

// A press in a process already seen opens no file; another process, even
// with the id of one before it, is looked at once. Rules are opened when read.
TEST(ProgramRulesTest, TheProgramInFrontIsNormalisedOncePerProcess)
{
    WCHAR exe[MAX_PATH];
    GetModuleFileNameW(NULL, exe, MAX_PATH);
    FrontPathCache* cache = new FrontPathCache();
    const struct {
        DWORD processId;
        ULONGLONG startTime;
        LONG opened;
    } presses[] = {{40, 1000, 1}, {40, 1000, 0}, {41, 1000, 1}, {40, 1000, 0}, {40, 2000, 1}, {42, 0, 1}, {42, 0, 1}};
    for (const auto& p : presses) {
        LONG before = ProgramFilesOpened;
        FrontProgramPath(cache, p.processId, p.startTime, exe);
        EXPECT_EQ(p.opened, ProgramFilesOpened - before) << p.processId << " started " << p.startTime;
    }
    delete cache;
    LONG before = ProgramFilesOpened;
    ProgramRules* rules = new ProgramRules();
    DWORD mode = ModeKodak;
    AddRuleValue(&rules->levels[UserRules], exe, DWORD(lstrlenW(exe)), REG_DWORD, reinterpret_cast<BYTE*>(&mode), 4);
    EXPECT_EQ(1, ProgramFilesOpened - before) << "the full path, when read";
    EXPECT_EQ(ModeKodak, ModeForProgram(rules, exe, 0, ModeSpace, exe).mode);
    EXPECT_EQ(1, ProgramFilesOpened - before) << "none at the press";
    delete rules;
}

// Three levels of rules and a policy mode; each case a program in front.
TEST(ProgramRulesTest, APressAsksITsComputerRuleThenUserRuleThenPolicyModeThenTheUsersRuleThenTheUsersMode)
{
    ProgramRules rules = {};
    auto add = [&](RuleLevel level, const wchar_t* name, LONG mode) {
        DWORD data = DWORD(mode);
        AddRuleValue(&rules.levels[level], name, DWORD(wcslen(name)), REG_DWORD,
                     reinterpret_cast<const BYTE*>(&data), 4);
    };
    add(MachinePolicyRules, L"machine.exe", ModeKodak);
    add(MachinePolicyRules, L"everywhere", ModeSidexis);
    add(UserPolicyRules, L"everywhere", ModeEnter);
    add(UserPolicyRules, L"userpolicy", ModeCdxView);
    add(UserRules, L"userpolicy", ModeSchick);
    add(UserRules, L"mine.exe", ModeJoystick);
    add(UserRules, L"Machine", ModeAltFAltS);  // hidden by IT's machine.exe
    // A full path beats a name of the same level, whichever is listed first.
    add(UserRules, L"viewer", ModeEnter);
    add(UserRules, L"C:\\Clinic\\viewer.exe", ModeCustom);
    add(UserPolicyRules, L"C:\\Clinic\\report.exe", ModeKodak);
    add(UserPolicyRules, L"report.exe", ModeSchick);

    const struct {
        const char* what;
        const wchar_t* path;
        LONG policyMode;
        LONG mode;
        ModeSource source;
    } cases[] = {
        {"computer rule", L"C:\\A\\machine.exe", 0, ModeKodak, ModeFromMachineRule},
        {"computer rule beats IT's user rule", L"C:\\A\\Everywhere.exe", 0, ModeSidexis, ModeFromMachineRule},
        {"IT's user rule beats the user's", L"C:\\A\\userpolicy.exe", 0, ModeCdxView, ModeFromUserPolicyRule},
        {"IT's rule beats the policy's mode", L"C:\\A\\userpolicy.exe", ModeSpace, ModeCdxView,
         ModeFromUserPolicyRule},
        {"the user's rule", L"C:\\A\\mine.exe", 0, ModeJoystick, ModeFromUserRule},
        {"the policy's mode beats the user's rule", L"C:\\A\\mine.exe", ModeEnter, ModeEnter, ModeFromPolicy},
        {"no rule: the user's mode", L"C:\\A\\other.exe", 0, ModeAltFAltS, ModeFromUser},
        {"no rule under a policy: its mode", L"C:\\A\\other.exe", ModeKodak, ModeKodak, ModeFromPolicy},
        {"full path before name (user)", L"C:\\Clinic\\viewer.exe", 0, ModeCustom, ModeFromUserRule},
        {"the name elsewhere", L"D:\\viewer.exe", 0, ModeEnter, ModeFromUserRule},
        {"full path before name (IT)", L"C:\\Clinic\\report.exe", 0, ModeKodak, ModeFromUserPolicyRule},
        {"unknown program: the default", L"", 0, ModeAltFAltS, ModeFromUser},
        {"unknown program under a policy", L"", ModeEnter, ModeEnter, ModeFromPolicy},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PressMode press = ModeForProgram(&rules, c.path, c.policyMode, ModeAltFAltS);
        EXPECT_EQ(c.mode, press.mode);
        EXPECT_EQ(c.source, press.source);
        EXPECT_EQ(c.source == ModeFromPolicy || c.source == ModeFromUser, press.rule == NULL);
    }
    EXPECT_EQ(ModeSpace, ModeForProgram(NULL, L"C:\\A\\machine.exe", 0, ModeSpace).mode) << "not read yet";

    // What the tip counts and the window marks as overridden.
    EXPECT_FALSE(UserRuleOverridden(rules, 1, 0)) << "mine.exe";
    EXPECT_TRUE(UserRuleOverridden(rules, 0, 0)) << "userpolicy: IT has a rule for it";
    EXPECT_TRUE(UserRuleOverridden(rules, 1, ModeSpace)) << "IT's mode hides every user rule";
    // machine.exe, everywhere, userpolicy, report twice; mine, viewer twice.
    EXPECT_EQ(2u + 1u + 2u + 3u, ProgramsWithOwnMode(&rules, 0));
    EXPECT_EQ(5u, ProgramsWithOwnMode(&rules, ModeSpace));
    EXPECT_TRUE(ModeInForceAnywhere(&rules, 0, ModeSpace, ModeJoystick)) << "mine.exe's rule";
    EXPECT_FALSE(ModeInForceAnywhere(&rules, ModeEnter, ModeSpace, ModeJoystick)) << "the user's rules are hidden";
    EXPECT_TRUE(ModeInForceAnywhere(NULL, 0, ModeJoystick, ModeJoystick)) << "the default";
    EXPECT_FALSE(ModeInForceAnywhere(&rules, 0, ModeSpace, ModeAltFAltS)) << "only a rule that IT's hides";
}

TEST(ProgramRulesTest, NamesTypedInTheWindowAreTrimmedAndCheckedAsTheRegistrysAre)
{
    const struct {
        const wchar_t* typed;
        bool accepted;
        const wchar_t* kept;
    } cases[] = {
        {L"imaging.exe", true, L"imaging.exe"},
        {L"  imaging.exe\t", true, L"imaging.exe"},
        {L"C:\\A B\\x.exe", true, L"C:\\A B\\x.exe"},
        {L"", false, L""},
        {L"   ", false, L""},
        {L"*.exe", false, L"*.exe"},
        {L"a?", false, L"a?"},
    };
    for (const auto& c : cases) {
        wchar_t name[MAX_PATH + 2];
        lstrcpynW(name, c.typed, MAX_PATH + 2);
        EXPECT_EQ(c.accepted, AcceptRuleName(name)) << testing::PrintToString(std::wstring(c.typed));
        EXPECT_STREQ(c.kept, name);
    }
}

// The three keys as Lumo2 reads them: values of every type, and more than
// 256 of them.
class ProgramRulesRegistryTest : public RegistryTest {};

void StoreRule(HKEY root, const char* keyPath, const wchar_t* name, DWORD type, const std::vector<BYTE>& data)
{
    char path[160];
    wsprintfA(path, "%s\\%s", keyPath, ProgramRulesSubkey);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path, 0, NULL, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, NULL, &key,
                                             NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, data.data(), DWORD(data.size())));
    RegCloseKey(key);
}

TEST_F(ProgramRulesRegistryTest, EachLevelReadsItsFirst256ValuesAndNamesWhatItIgnores)
{
    StoreRule(HKEY_LOCAL_MACHINE, PolicyKeyPath, L"imaging.exe", REG_SZ, Text(L"5"));
    StoreRule(HKEY_LOCAL_MACHINE, PolicyKeyPath, L"bad.exe", REG_SZ, Text(L"12"));
    StoreRule(HKEY_CURRENT_USER, PolicyKeyPath, L"viewer", REG_DWORD, Dword(3));
    StoreRule(HKEY_CURRENT_USER, PolicyKeyPath, L"*", REG_DWORD, Dword(3));
    std::vector<BYTE> longData(200, '5');
    StoreRule(HKEY_CURRENT_USER, PolicyKeyPath, L"long.exe", REG_SZ, longData);
    for (int i = 0; i < 300; ++i) {
        wchar_t name[32];
        wsprintfW(name, L"program%03d.exe", i);
        StoreRule(HKEY_CURRENT_USER, ProgramKeyPath, name, REG_DWORD, Dword(2 + i % 9));
    }
    ProgramRules* rules = ReadProgramRules();
    const RuleList& machine = rules->levels[MachinePolicyRules];
    EXPECT_TRUE(machine.keyFound);
    EXPECT_EQ(1u, machine.count);
    EXPECT_EQ(1u, machine.ignoredCount);
    EXPECT_EQ(RuleModeOutOfRange, machine.ignored[0].fault);
    EXPECT_STREQ(L"bad.exe", machine.ignored[0].name);
    const RuleList& userPolicy = rules->levels[UserPolicyRules];
    EXPECT_EQ(1u, userPolicy.count);
    EXPECT_EQ(2u, userPolicy.ignoredCount);
    const RuleList& user = rules->levels[UserRules];
    EXPECT_EQ(256u, user.count);
    EXPECT_EQ(44u, user.ignoredCount);
    EXPECT_EQ(RulePastLimit, user.ignored[0].fault) << "only the past-limit ones are named";
    EXPECT_EQ(ModeKodak, ModeForProgram(rules, L"C:\\x\\Imaging.exe", 0, ModeSpace).mode);
    delete rules;

    // The window's writes land where the reading looks.
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    ASSERT_TRUE(SaveUserRule(L"\xC601\xC0C1.exe", ModeCdxView));
    rules = ReadProgramRules();
    EXPECT_EQ(ModeCdxView, ModeForProgram(rules, L"C:\\x\\\xC601\xC0C1.exe", 0, ModeSpace).mode);
    delete rules;
    // Another spelling of the same program takes the old one's place; a
    // full path is a rule of its own.
    StoreRule(HKEY_CURRENT_USER, ProgramKeyPath, L"C:\\x\\\xC601\xC0C1.exe", REG_DWORD, Dword(ModeKodak));
    ASSERT_TRUE(SaveUserRule(L"\xC601\xC0C1", ModeEnter));
    rules = ReadProgramRules();
    EXPECT_EQ(2u, rules->levels[UserRules].count);
    EXPECT_EQ(ModeEnter, ModeForProgram(rules, L"D:\\\xC601\xC0C1.exe", 0, ModeSpace).mode);
    delete rules;
    ASSERT_TRUE(RemoveUserRule(L"C:\\x\\\xC601\xC0C1.exe"));
    ASSERT_TRUE(RemoveUserRule(L"\xC601\xC0C1"));
    ASSERT_TRUE(RemoveUserRule(L"\xC601\xC0C1")) << "already gone is fine";
    rules = ReadProgramRules();
    EXPECT_EQ(0u, rules->levels[UserRules].count);
    delete rules;
}

}  // namespace
