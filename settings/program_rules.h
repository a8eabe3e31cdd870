// Modes for programs: a rule pairs a program, by its file name or its full
// path, with a mode. IT's rules (computer and user policy) and the user's own
// are read from three registry keys; which mode a press gets is decided here,
// from plain data, so that tests can ask it without windows or registry.
#pragma once
#include <windows.h>

// Below ProgramKeyPath (the user's) and PolicyKeyPath (IT's, in HKLM and
// HKCU). A value's name is the program, its data the mode: a REG_DWORD, or a
// REG_SZ holding the decimal number, as the ADMX's list writes.
const char ProgramRulesSubkey[] = "Programs";
// Only this many values of a key are read, in the order the registry lists
// them; a press looks through all of them at worst.
const DWORD RulesPerKeyMax = 256;

enum RuleLevel { MachinePolicyRules, UserPolicyRules, UserRules, RuleLevelCount };

struct ProgramRule {
    WCHAR name[MAX_PATH];  // as stored: "imaging.exe", "imaging" or a full path
    LONG mode;             // 2..10
    bool fullPath;         // a backslash in the name: compared with the whole path
    // What a press compares: a full path as NormaliseProgramPath made it
    // when the rules were read (name stays as the user wrote it, for the
    // window and the report), else the name itself.
    WCHAR matched[MAX_PATH];
    int stemLength;        // matched's length without a trailing ".exe"
};

// Why a value is not a rule.
enum RuleFault { RuleFine, RuleModeOutOfRange, RuleWrongType, RuleBadName, RulePastLimit };

// A value left out, for the log and the report; a long name is cut.
struct IgnoredRule {
    WCHAR name[48];
    RuleFault fault;
};
const int IgnoredRulesNamed = 8;

struct RuleList {
    bool keyFound;
    UINT count;
    ProgramRule rules[RulesPerKeyMax];
    UINT ignoredCount;  // all of them, also past IgnoredRulesNamed
    IgnoredRule ignored[IgnoredRulesNamed];
};

struct ProgramRules {
    RuleList levels[RuleLevelCount];
};

// Whether a value of this name, type and data is a rule; *mode gets it.
RuleFault ParseRuleValue(const WCHAR* name, DWORD nameLength, DWORD type, const BYTE* data, DWORD size,
                         LONG* mode);
// Adds a value as the registry listed it to list: a rule, or one ignored.
void AddRuleValue(RuleList* list, const WCHAR* name, DWORD nameLength, DWORD type, const BYTE* data, DWORD size);
// Reads one level's key (keyPath below root, with its Programs subkey).
void ReadRuleList(HKEY root, const char* keyPath, REGSAM view, RuleList* list);
// Reads all three levels; on the heap, for the caller to delete.
ProgramRules* ReadProgramRules();

// The path a full-path rule, or the program in front, is compared by:
// without surrounding blanks and quotes ("Copy as path"), with '\\' for '/',
// environment variables expanded, and then as the file system names the
// file (8.3 names long, junctions and links followed, a mapped drive as its
// share's \\server\share) when openFile and the file opens; else made full
// and long. A rule on a share is not opened: a server that does not answer
// would hold the window thread. out holds MAX_PATH; what would not fit is
// left at the last step that did.
bool NormaliseProgramPath(const WCHAR* written, WCHAR* out, bool openFile);
// How many times NormaliseProgramPath opened a file: tests count the file
// work of a press with it.
extern volatile LONG ProgramFilesOpened;

// The program in front as the rules compare it, normalised once per
// process: a process is told from a later one of the same id by its start
// time. Owned by whoever presses (the camera thread's); a few processes
// are kept, the oldest giving way.
struct FrontPathCache {
    struct Entry {
        DWORD processId;  // 0 for a free place
        ULONGLONG startTime;
        WCHAR path[MAX_PATH];
    };
    Entry entries[8];
    UINT next;
    Entry unnamed;  // a process without a start time, normalised every press
};
// The normalised path of the process's image (imagePath as Windows gave it),
// from the cache when the process was seen before.
const WCHAR* FrontProgramPath(FrontPathCache* cache, DWORD processId, ULONGLONG startTime, const WCHAR* imagePath);

// Whether the rule names the program at path (a full path as
// QueryFullProcessImageNameW gives it; the file name is taken from it), or
// at finalPath, the same normalised (NormaliseProgramPath; null: path as
// it is). A full path is compared with finalPath, a file name with either
// path's. Case does not matter, and ".exe" may be left out of the rule.
bool RuleMatches(const ProgramRule& rule, const WCHAR* path, const WCHAR* finalPath = NULL);
// The level's rule for the program: a full-path rule before a file-name one.
const ProgramRule* FindRule(const RuleList& list, const WCHAR* path, const WCHAR* finalPath = NULL);

// Where a press's mode came from, in the order they are asked.
enum ModeSource { ModeFromMachineRule, ModeFromUserPolicyRule, ModeFromPolicy, ModeFromUserRule, ModeFromUser };

struct PressMode {
    LONG mode;
    ModeSource source;
    const ProgramRule* rule;  // the rule that decided, or null
};

// The mode for the program at path ("" or null when unknown): IT's computer
// rule, IT's user rule, the policy's mode (0 when none), the user's rule,
// the user's mode. rules may be null (not read yet).
PressMode ModeForProgram(const ProgramRules* rules, const WCHAR* path, LONG policyMode, LONG userMode,
                         const WCHAR* finalPath = NULL);
// The key of a rule's own alternation and sequence (PressStateFor): the
// same for the same program at the same level across readings of the
// rules, never 0.
ULONGLONG RuleStateKey(ModeSource source, const ProgramRule& rule);

// Whether two rule names name the same program ("a" and "A.EXE" do).
bool SameProgram(const WCHAR* a, const WCHAR* b);
// Whether the user's rule at index is hidden: IT has a rule for the same
// program, or IT's mode applies to every program (policyMode != 0).
bool UserRuleOverridden(const ProgramRules& rules, UINT index, LONG policyMode);
// How many programs have a mode of their own in force: IT's rules, and the
// user's that nothing hides, each program once.
UINT ProgramsWithOwnMode(const ProgramRules* rules, LONG policyMode);
// Whether the default or any rule in force is this mode.
bool ModeInForceAnywhere(const ProgramRules* rules, LONG policyMode, LONG userMode, LONG mode);

// The user's key: a rule written (mode as REG_DWORD) or taken away. Whether
// the registry took it.
bool SaveUserRule(const WCHAR* name, LONG mode);
bool RemoveUserRule(const WCHAR* name);

// "computer policy", "user policy", "user".
const char* RuleLevelText(RuleLevel level);
const char* RuleFaultText(RuleFault fault);
