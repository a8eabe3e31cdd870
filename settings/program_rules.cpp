// Modes for programs: reading the three levels' values, checking each, and
// the order in which a press asks them.
#include "settings/program_rules.h"
#include "platform/dll_search.h"
#include "settings/action_mode.h"
#include "settings/policy_names.h"

volatile LONG ProgramFilesOpened;

namespace {

const WCHAR ExeSuffix[] = L".exe";
const int ExeSuffixLength = 4;

// The length without a trailing ".exe" in any case.
int StemLength(const WCHAR* text, int length)
{
    if (length > ExeSuffixLength &&
        CompareStringOrdinal(text + length - ExeSuffixLength, ExeSuffixLength, ExeSuffix, ExeSuffixLength, TRUE) ==
            CSTR_EQUAL)
        return length - ExeSuffixLength;
    return length;
}

// Compared as the file system compares names: ordinal, without regard to
// case, and quick enough for 768 rules within a press.
bool SameStem(const WCHAR* a, int aLength, const WCHAR* b, int bLength)
{
    aLength = StemLength(a, aLength);
    bLength = StemLength(b, bLength);
    return aLength == bLength && CompareStringOrdinal(a, aLength, b, bLength, TRUE) == CSTR_EQUAL;
}

const WCHAR* FileNameOf(const WCHAR* path)
{
    const WCHAR* name = path;
    for (const WCHAR* c = path; *c; ++c)
        if (*c == L'\\' || *c == L'/')
            name = c + 1;
    return name;
}

bool HasPathSeparator(const WCHAR* text)
{
    for (; *text; ++text)
        if (*text == L'\\' || *text == L'/')
            return true;
    return false;
}

// A REG_SZ holding only the decimal digits of a mode; the terminator is
// optional, as in every registry text.
bool ParseDecimalText(const BYTE* data, DWORD size, LONG* value)
{
    if (size % sizeof(WCHAR) != 0)
        return false;
    const WCHAR* text = reinterpret_cast<const WCHAR*>(data);
    DWORD count = size / sizeof(WCHAR);
    while (count > 0 && text[count - 1] == 0)
        --count;
    if (count == 0 || count > 2)
        return false;
    LONG parsed = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        parsed = parsed * 10 + (text[i] - L'0');
    }
    *value = parsed;
    return true;
}

void NoteIgnored(RuleList* list, const WCHAR* name, DWORD nameLength, RuleFault fault)
{
    if (list->ignoredCount < UINT(IgnoredRulesNamed)) {
        IgnoredRule& ignored = list->ignored[list->ignoredCount];
        DWORD length = nameLength < 47 ? nameLength : 47;
        for (DWORD i = 0; i < length; ++i)
            ignored.name[i] = name[i] ? name[i] : L' ';
        ignored.name[length] = 0;
        ignored.fault = fault;
    }
    ++list->ignoredCount;
}

// IT's rule hides the user's when every program the user's names is one
// IT's names too: a file-name rule of IT's covers that name wherever it
// lies, a full-path rule only the same path.
bool RuleHides(const ProgramRule& it, const ProgramRule& user)
{
    if (it.fullPath)
        return user.fullPath && SameStem(it.matched, lstrlenW(it.matched), user.matched, lstrlenW(user.matched));
    const WCHAR* name = FileNameOf(user.matched);
    return SameStem(it.name, lstrlenW(it.name), name, lstrlenW(name));
}

bool IsBlank(WCHAR c)
{
    return c == L' ' || c == L'\t';
}

// A rule's path on a share, or on a drive mapped to one: only the redirector
// is asked, never the server.
bool OnShare(const WCHAR* path)
{
    if (path[0] == L'\\' && path[1] == L'\\')
        return path[2] != L'?' && path[2] != L'.';  // not "\\?\C:\..."
    if (!path[0] || path[1] != L':')
        return false;
    WCHAR root[] = {path[0], L':', L'\\', 0};
    return GetDriveTypeW(root) == DRIVE_REMOTE;
}

// The share behind a mapped drive, from mpr.dll, loaded from the system's
// folder only while a rule needs it: it is no KnownDLL, and an import would
// be looked for beside Lumo2.exe. Nothing is kept: the window thread and the
// report's read rules, each at its own time.
typedef DWORD(WINAPI* UniversalNameFn)(const WCHAR* local, DWORD level, void* buffer, DWORD* size);

void MappedDriveToShare(WCHAR* path)
{
    WCHAR library[MAX_PATH];
    UINT length = GetSystemDirectoryW(library, MAX_PATH - 9);
    if (length == 0 || length >= MAX_PATH - 9)
        return;
    lstrcatW(library, L"\\mpr.dll");
    HMODULE mpr = LoadLibraryQuietly(library);
    if (!mpr)
        return;
    UniversalNameFn universalName =
        reinterpret_cast<UniversalNameFn>(reinterpret_cast<void*>(GetProcAddress(mpr, "WNetGetUniversalNameW")));
    // UNIVERSAL_NAME_INFOW: a pointer to the name, which follows it.
    union {
        WCHAR* name;
        BYTE bytes[sizeof(WCHAR*) + (MAX_PATH + 1) * sizeof(WCHAR)];
    } info;
    DWORD size = sizeof(info);
    if (universalName && universalName(path, 1 /* UNIVERSAL_NAME_INFO_LEVEL */, &info, &size) == NO_ERROR &&
        lstrlenW(info.name) < MAX_PATH)
        lstrcpyW(path, info.name);
    FreeLibrary(mpr);
}

// The name the file system gives the file itself; false when it cannot be
// opened or the name would not fit.
bool FinalPathOf(const WCHAR* path, WCHAR* out)
{
    InterlockedIncrement(&ProgramFilesOpened);
    // No access asked: even a program that may not be read is named.
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD size = MAX_PATH + 8;  // room for "\\?\UNC\"
    WCHAR final[size];
    DWORD length = GetFinalPathNameByHandleW(file, final, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (length == 0 || length >= size)
        return false;
    const WCHAR* text = final;
    bool share = CompareStringOrdinal(final, 8, L"\\\\?\\UNC\\", 8, TRUE) == CSTR_EQUAL;
    if (share)
        text = final + 6;  // keeps "\\" before the server
    else if (CompareStringOrdinal(final, 4, L"\\\\?\\", 4, FALSE) == CSTR_EQUAL)
        text = final + 4;
    if (lstrlenW(text) >= MAX_PATH)
        return false;
    lstrcpyW(out, text);
    if (share)
        out[0] = out[1] = L'\\';
    return true;
}

}  // namespace

bool NormaliseProgramPath(const WCHAR* written, WCHAR* out, bool openFile)
{
    // Trimmed, and one pair of quotes with blanks inside them taken off.
    const WCHAR* start = written;
    int length = lstrlenW(written);
    for (int pass = 0; pass < 2; ++pass) {
        while (length > 0 && IsBlank(*start))
            ++start, --length;
        while (length > 0 && IsBlank(start[length - 1]))
            --length;
        if (pass == 0 && length >= 2 && start[0] == L'"' && start[length - 1] == L'"')
            ++start, length -= 2;
    }
    if (length >= MAX_PATH) {
        out[0] = 0;
        return false;
    }
    WCHAR path[MAX_PATH];
    for (int i = 0; i < length; ++i)
        path[i] = start[i] == L'/' ? L'\\' : start[i];
    path[length] = 0;
    WCHAR step[MAX_PATH];
    DWORD expanded = ExpandEnvironmentStringsW(path, step, MAX_PATH);
    if (expanded > 0 && expanded <= MAX_PATH)
        lstrcpyW(path, step);
    bool share = OnShare(path);
    if (share && path[0] != L'\\')
        MappedDriveToShare(path);
    if (openFile && !share && FinalPathOf(path, out))
        return true;
    DWORD full = GetFullPathNameW(path, MAX_PATH, step, NULL);
    if (full > 0 && full < MAX_PATH)
        lstrcpyW(path, step);
    DWORD longPath = share ? 0 : GetLongPathNameW(path, step, MAX_PATH);
    if (longPath > 0 && longPath < MAX_PATH)
        lstrcpyW(path, step);
    lstrcpyW(out, path);
    return true;
}

const WCHAR* FrontProgramPath(FrontPathCache* cache, DWORD processId, ULONGLONG startTime, const WCHAR* imagePath)
{
    if (!imagePath[0])
        return imagePath;
    if (processId == 0 || startTime == 0) {
        NormaliseProgramPath(imagePath, cache->unnamed.path, true);
        return cache->unnamed.path;
    }
    for (FrontPathCache::Entry& entry : cache->entries)
        if (entry.processId == processId && entry.startTime == startTime)
            return entry.path;
    FrontPathCache::Entry& entry = cache->entries[cache->next];
    cache->next = (cache->next + 1) % (sizeof(cache->entries) / sizeof(cache->entries[0]));
    entry.processId = processId;
    entry.startTime = startTime;
    if (!NormaliseProgramPath(imagePath, entry.path, true))
        lstrcpynW(entry.path, imagePath, MAX_PATH);
    return entry.path;
}

namespace {

bool HiddenByIt(const ProgramRules& rules, const ProgramRule& rule, RuleLevel below)
{
    for (int level = MachinePolicyRules; level < below; ++level) {
        const RuleList& list = rules.levels[level];
        for (UINT i = 0; i < list.count; ++i)
            if (RuleHides(list.rules[i], rule))
                return true;
    }
    return false;
}

}  // namespace

RuleFault ParseRuleValue(const WCHAR* name, DWORD nameLength, DWORD type, const BYTE* data, DWORD size, LONG* mode)
{
    if (nameLength == 0 || nameLength >= MAX_PATH)
        return RuleBadName;
    for (DWORD i = 0; i < nameLength; ++i)
        if (name[i] == L'*' || name[i] == L'?' || name[i] == 0)
            return RuleBadName;
    LONG value = 0;
    if (type == REG_DWORD && size == sizeof(DWORD))
        value = *reinterpret_cast<const LONG*>(data);
    else if (type == REG_SZ && ParseDecimalText(data, size, &value))
        ;
    else if (type == REG_SZ)
        return RuleModeOutOfRange;
    else
        return RuleWrongType;
    if (value < ModeSpace || value > ModeCustom)
        return RuleModeOutOfRange;
    *mode = value;
    return RuleFine;
}

void AddRuleValue(RuleList* list, const WCHAR* name, DWORD nameLength, DWORD type, const BYTE* data, DWORD size)
{
    if (list->count + list->ignoredCount >= RulesPerKeyMax) {
        NoteIgnored(list, name, nameLength, RulePastLimit);
        return;
    }
    LONG mode = 0;
    RuleFault fault = ParseRuleValue(name, nameLength, type, data, size, &mode);
    if (fault != RuleFine) {
        NoteIgnored(list, name, nameLength, fault);
        return;
    }
    ProgramRule& rule = list->rules[list->count++];
    lstrcpynW(rule.name, name, int(nameLength) + 1);
    rule.mode = mode;
    rule.fullPath = HasPathSeparator(rule.name);
    // Matched as it will be compared, once: a press does no file work for
    // the rules.
    if (!rule.fullPath || !NormaliseProgramPath(rule.name, rule.matched, true))
        lstrcpyW(rule.matched, rule.name);
    rule.stemLength = StemLength(rule.matched, lstrlenW(rule.matched));
}

const DWORD NameCharsMax = 16384;

void ReadRuleList(HKEY root, const char* keyPath, REGSAM view, RuleList* list)
{
    *list = RuleList();
    char path[128];
    wsprintfA(path, "%s\\%s", keyPath, ProgramRulesSubkey);
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return;
    list->keyFound = true;
    DWORD values = 0;
    RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    // A name may be up to 16,383 characters; anything past MAX_PATH is no
    // program's, but is named in the log all the same. The window thread and
    // the report's thread may read at once: each has its own buffer.
    WCHAR* name = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, NameCharsMax * sizeof(WCHAR)));
    if (!name) {
        RegCloseKey(key);
        return;
    }
    // The first few past the limit are read for their names only.
    const DWORD looked = RulesPerKeyMax + IgnoredRulesNamed;
    for (DWORD i = 0; i < values && i < looked; ++i) {
        BYTE data[64];
        DWORD nameLength = NameCharsMax, size = sizeof(data), type = REG_NONE;
        LONG result = RegEnumValueW(key, i, name, &nameLength, NULL, &type, data, &size);
        if (result == ERROR_MORE_DATA) {
            // Data longer than any mode: the name and type are still wanted.
            nameLength = NameCharsMax;
            result = RegEnumValueW(key, i, name, &nameLength, NULL, &type, NULL, NULL);
            size = sizeof(data) + 1;
            type = result == ERROR_SUCCESS ? type : REG_NONE;
            if (type == REG_DWORD || type == REG_SZ)
                type = REG_BINARY;  // too long to be a mode
        }
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS)
            continue;
        AddRuleValue(list, name, nameLength, type, data, size);
    }
    // The rest are ignored without being read.
    if (values > looked)
        list->ignoredCount += values - looked;
    HeapFree(GetProcessHeap(), 0, name);
    RegCloseKey(key);
}

ProgramRules* ReadProgramRules()
{
    ProgramRules* rules = new ProgramRules;
    // Policies as ReadPolicy reads them; the user's own key beside "key".
    ReadRuleList(HKEY_LOCAL_MACHINE, PolicyKeyPath, KEY_WOW64_64KEY, &rules->levels[MachinePolicyRules]);
    ReadRuleList(HKEY_CURRENT_USER, PolicyKeyPath, KEY_WOW64_64KEY, &rules->levels[UserPolicyRules]);
    ReadRuleList(HKEY_CURRENT_USER, ProgramKeyPath, 0, &rules->levels[UserRules]);
    return rules;
}

// The program in front as a press compares it: the normalised path and the
// file names of both paths, each without ".exe", measured once for every
// rule.
struct ComparedProgram {
    const WCHAR* path;
    int pathStem;
    const WCHAR* names[2];  // as Windows gave it, and the normalised one's
    int nameStems[2];
};

static ComparedProgram CompareWith(const WCHAR* path, const WCHAR* finalPath)
{
    ComparedProgram program;
    program.path = finalPath ? finalPath : path;
    program.pathStem = StemLength(program.path, lstrlenW(program.path));
    program.names[0] = FileNameOf(path);
    program.names[1] = FileNameOf(program.path);
    for (int i = 0; i < 2; ++i)
        program.nameStems[i] = StemLength(program.names[i], lstrlenW(program.names[i]));
    return program;
}

static bool SameText(const WCHAR* rule, int ruleLength, const WCHAR* compared, int length)
{
    return ruleLength == length && CompareStringOrdinal(rule, length, compared, length, TRUE) == CSTR_EQUAL;
}

// The lengths first: most rules differ there, and 768 of them are looked
// through before a press's keys.
static bool Matches(const ProgramRule& rule, const ComparedProgram& program)
{
    if (rule.fullPath)
        return SameText(rule.matched, rule.stemLength, program.path, program.pathStem);
    return SameText(rule.matched, rule.stemLength, program.names[0], program.nameStems[0]) ||
           SameText(rule.matched, rule.stemLength, program.names[1], program.nameStems[1]);
}

bool RuleMatches(const ProgramRule& rule, const WCHAR* path, const WCHAR* finalPath)
{
    return Matches(rule, CompareWith(path, finalPath));
}

const ProgramRule* FindRule(const RuleList& list, const WCHAR* path, const WCHAR* finalPath)
{
    const ComparedProgram program = CompareWith(path, finalPath);
    const ProgramRule* byName = NULL;
    for (UINT i = 0; i < list.count; ++i) {
        const ProgramRule& rule = list.rules[i];
        if (!Matches(rule, program))
            continue;
        if (rule.fullPath)
            return &rule;
        if (!byName)
            byName = &rule;
    }
    return byName;
}

PressMode ModeForProgram(const ProgramRules* rules, const WCHAR* path, LONG policyMode, LONG userMode,
                         const WCHAR* finalPath)
{
    PressMode press = {userMode, ModeFromUser, NULL};
    bool known = rules && path && path[0];
    const ProgramRule* rule = NULL;
    if (known && (rule = FindRule(rules->levels[MachinePolicyRules], path, finalPath)) != NULL) {
        press.source = ModeFromMachineRule;
    } else if (known && (rule = FindRule(rules->levels[UserPolicyRules], path, finalPath)) != NULL) {
        press.source = ModeFromUserPolicyRule;
    } else if (policyMode != 0) {
        press.mode = policyMode;
        press.source = ModeFromPolicy;
        return press;
    } else if (known && (rule = FindRule(rules->levels[UserRules], path, finalPath)) != NULL) {
        press.source = ModeFromUserRule;
    } else {
        return press;
    }
    press.mode = rule->mode;
    press.rule = rule;
    return press;
}

ULONGLONG RuleStateKey(ModeSource source, const ProgramRule& rule)
{
    // FNV-1a over the level and the compared text without ".exe", case
    // folded: "imaging" keeps the state "imaging.exe" had.
    WCHAR folded[MAX_PATH];
    int length = rule.stemLength;
    lstrcpynW(folded, rule.matched, length + 1);
    CharUpperBuffW(folded, DWORD(length));
    ULONGLONG key = 14695981039346656037ull;
    key = (key ^ ULONGLONG(source + 1)) * 1099511628211ull;
    for (int i = 0; i < length; ++i)
        key = (key ^ folded[i]) * 1099511628211ull;
    return key ? key : 1;
}

bool SameProgram(const WCHAR* a, const WCHAR* b)
{
    return SameStem(a, lstrlenW(a), b, lstrlenW(b));
}

bool UserRuleOverridden(const ProgramRules& rules, UINT index, LONG policyMode)
{
    return policyMode != 0 || HiddenByIt(rules, rules.levels[UserRules].rules[index], UserRules);
}

UINT ProgramsWithOwnMode(const ProgramRules* rules, LONG policyMode)
{
    if (!rules)
        return 0;
    UINT count = rules->levels[MachinePolicyRules].count;
    const RuleList& userPolicy = rules->levels[UserPolicyRules];
    for (UINT i = 0; i < userPolicy.count; ++i)
        if (!HiddenByIt(*rules, userPolicy.rules[i], UserPolicyRules))
            ++count;
    const RuleList& user = rules->levels[UserRules];
    for (UINT i = 0; i < user.count; ++i)
        if (!UserRuleOverridden(*rules, i, policyMode))
            ++count;
    return count;
}

bool ModeInForceAnywhere(const ProgramRules* rules, LONG policyMode, LONG userMode, LONG mode)
{
    if ((policyMode ? policyMode : userMode) == mode)
        return true;
    if (!rules)
        return false;
    for (int level = MachinePolicyRules; level < RuleLevelCount; ++level) {
        // The user's rules are not in force while IT's mode is.
        if (level == UserRules && policyMode != 0)
            break;
        // Nor is a rule that one of IT's for the same program hides.
        const RuleList& list = rules->levels[level];
        for (UINT i = 0; i < list.count; ++i)
            if (list.rules[i].mode == mode && !HiddenByIt(*rules, list.rules[i], RuleLevel(level)))
                return true;
    }
    return false;
}

static bool OpenUserRules(HKEY* key)
{
    char path[128];
    wsprintfA(path, "%s\\%s", ProgramKeyPath, ProgramRulesSubkey);
    return RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_QUERY_VALUE, NULL, key,
                           NULL) == ERROR_SUCCESS;
}

bool SaveUserRule(const WCHAR* name, LONG mode)
{
    HKEY key;
    if (!OpenUserRules(&key))
        return false;
    LONG result = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), sizeof(mode));
    // One value per program: "Imaging" takes the place of "imaging.exe",
    // or a press might find the old spelling's mode first. Only once the
    // new one is written, so that a failed save loses nothing.
    WCHAR other[MAX_PATH];
    for (DWORD i = 0; result == ERROR_SUCCESS && i < RulesPerKeyMax + IgnoredRulesNamed;) {
        DWORD length = MAX_PATH;
        LONG found = RegEnumValueW(key, i, other, &length, NULL, NULL, NULL, NULL);
        if (found == ERROR_NO_MORE_ITEMS)
            break;
        // A value deleted leaves the next one at the same index.
        if (found != ERROR_SUCCESS || lstrcmpiW(other, name) == 0 || !SameProgram(other, name) ||
            RegDeleteValueW(key, other) != ERROR_SUCCESS)
            ++i;
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool RemoveUserRule(const WCHAR* name)
{
    HKEY key;
    if (!OpenUserRules(&key))
        return false;
    LONG result = RegDeleteValueW(key, name);
    RegCloseKey(key);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

const char* RuleLevelText(RuleLevel level)
{
    switch (level) {
    case MachinePolicyRules: return "computer policy";
    case UserPolicyRules: return "user policy";
    default: return "user";
    }
}

const char* RuleFaultText(RuleFault fault)
{
    switch (fault) {
    case RuleModeOutOfRange: return "not a mode from 2 to 10";
    case RuleWrongType: return "neither REG_DWORD nor REG_SZ";
    case RuleBadName: return "empty, too long or with * or ?";
    case RulePastLimit: return "past the first 256 values";
    default: return "fine";
    }
}
