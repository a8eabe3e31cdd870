// The run-time binding of the extension-unit library, in-process, against
// every build of the stand-in: __cdecl and __stdcall, plain and decorated
// export names, and builds that lack a function.
#include "camera/button_source.h"
#include "camera/uexproc.h"
#include "platform/dll_search.h"
#include "platform/integrity.h"
#include "tests/support/sim_camera.h"
#include "tests/support/test_support.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <string>
#include <vector>

namespace {

std::string ModulePath(HMODULE module)
{
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
}

bool SamePathA(const std::string& a, const std::string& b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

std::string SystemFolder()
{
    char folder[MAX_PATH] = {0};
    GetSystemDirectoryA(folder, MAX_PATH);
    return folder;
}

// The stack pointer around one command: any difference means the call left
// the stack moved, which a caller without a frame pointer cannot survive.
__attribute__((noinline)) int SendCommandMeasuringStack(int command, LONG* data, long* drift)
{
    DWORD before, after;
    asm volatile("movl %%esp, %0" : "=r"(before));
    int result = ExtensionUnitSendCommand(command, 0, data, 4);
    asm volatile("movl %%esp, %0" : "=r"(after));
    *drift = long(after) - long(before);
    return result;
}

class UExProcBindingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim = camera.State();
        ASSERT_NE(nullptr, sim);
        UnbindExtensionUnitLibrary();
        ExtensionUnitActive = 0;
        ExtensionUnitButtonDown = 0;
    }

    void TearDown() override
    {
        ReleaseCamera();
        UnbindExtensionUnitLibrary();
        SetCurrentDirectoryA(BinFolder().c_str());
    }

    SimCamera camera;
    SimState* sim = nullptr;
};

struct LibraryBuild {
    const char* folder;  // under bin; "" for the plain __cdecl build beside the tests
    const char* convention;
};

const LibraryBuild WorkingBuilds[] = {
    {"", "__cdecl, plain names"},
    {"uexproc_stdcall_plain", "__stdcall, plain names"},
    {"uexproc_stdcall_decorated", "__stdcall, decorated names"},
};

std::string LibraryPath(const char* folder)
{
    std::string path = BinFolder();
    if (*folder)
        path += std::string("\\") + folder;
    return path + "\\UExProc.dll";
}

TEST_F(UExProcBindingTest, EveryBuildDrivesTheExtensionUnitRouteForThousandsOfPolls)
{
    const int Polls = 5000;
    for (const LibraryBuild& build : WorkingBuilds) {
        SCOPED_TRACE(build.convention);
        ASSERT_TRUE(BindExtensionUnitLibrary(Wide(LibraryPath(build.folder)).c_str()));
        EXPECT_EQ(LibraryPath(build.folder), ModulePath(ExtensionUnitLibrary()));

        sim->euConnectedResult = 1;
        ConnectCamera();
        ASSERT_EQ(1, ExtensionUnitActive);

        // A press is reported on each change from up to down, never while held.
        unsigned seed = 12345;
        int presses = 0, expected = 0;
        bool wasDown = false;
        for (int i = 0; i < Polls; ++i) {
            seed = seed * 1103515245u + 12345u;
            bool down = (seed >> 16) % 3 == 0;
            sim->euButtonDown = down;
            if (PollCameraButton())
                ++presses;
            if (down && !wasDown)
                ++expected;
            wasDown = down;
        }
        EXPECT_EQ(expected, presses);
        EXPECT_GT(expected, Polls / 10);

        // The arguments arrive in order and the stack is where it was.
        int moved = 0;
        for (int i = 0; i < Polls; ++i) {
            LONG data = -1;
            long drift = 0;
            sim->euButtonDown = i & 1;
            int down = SendCommandMeasuringStack(ButtonStateCommand, &data, &drift);
            if (drift != 0 || down != (i & 1) || data != (i & 1))
                ++moved;
        }
        EXPECT_EQ(0, moved) << "calls that moved the stack or lost their arguments";
        long drift = 0;
        LONG data = -1;
        sim->euButtonDown = 1;
        EXPECT_EQ(0, SendCommandMeasuringStack(12, &data, &drift)) << "another command is not the button";
        EXPECT_EQ(0, drift);

        LONG releases = sim->euReleaseCalls;
        ReleaseCamera();
        EXPECT_EQ(releases + 1, sim->euReleaseCalls) << "releaseEVA at exit";
        EXPECT_EQ(0, ExtensionUnitActive);
        UnbindExtensionUnitLibrary();
    }
}

TEST_F(UExProcBindingTest, EveryBuildIsReleasedOnAConnectWithoutTheCamera)
{
    for (const LibraryBuild& build : WorkingBuilds) {
        SCOPED_TRACE(build.convention);
        ASSERT_TRUE(BindExtensionUnitLibrary(Wide(LibraryPath(build.folder)).c_str()));
        sim->euConnectedResult = 0;
        LONG releases = sim->euReleaseCalls;
        ConnectCamera();
        EXPECT_EQ(0, ExtensionUnitActive);
        EXPECT_EQ(releases + 1, sim->euReleaseCalls);
        UnbindExtensionUnitLibrary();
    }
}

TEST_F(UExProcBindingTest, MissingLibraryOrFunctionBindsNothingAndCallsNothing)
{
    struct {
        std::string path;
        const char* what;
    } cases[] = {
        {BinFolder() + "\\no_such_folder\\UExProc.dll", "no library there"},
        {LibraryPath("uexproc_no_release"), "a build without releaseEVA"},
        {BinFolder() + "\\lumo2_sim_camera.dll", "a library with none of the functions"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(BindExtensionUnitLibrary(Wide(c.path).c_str()));
        EXPECT_EQ(nullptr, ExtensionUnitLibrary());
        if (c.path.find("uexproc_no_release") != std::string::npos) {
            EXPECT_EQ(nullptr, GetModuleHandleA(c.path.c_str())) << "an incomplete library is let go";
        }

        sim->euConnectedResult = 1;
        sim->euButtonDown = 1;
        LONG releases = sim->euReleaseCalls;
        LONG data = -1;
        EXPECT_EQ(0, ExtensionUnitSendCommand(ButtonStateCommand, 0, &data, 4));
        EXPECT_EQ(-1, data);
        ExtensionUnitRelease();
        EXPECT_EQ(releases, sim->euReleaseCalls);
    }
}

DWORD PlayedIntegrity;

// Wine runs every process elevated; the ordinary level is played. This test
// runs from the build's bin folder, which is not under Program Files, and
// the test bed puts a stand-in into the system folder, as the vendor's
// setup would.
TEST_F(UExProcBindingTest, TheOwnFolderComesFirstOnlyWhereElevationMayTrustIt)
{
    const std::string systemCopy = SystemFolder() + "\\UExProc.dll";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(systemCopy.c_str())) << "the test bed's stand-in";
    // Another build sits in the current folder, which the usual search path
    // includes; it must never win.
    ASSERT_TRUE(SetCurrentDirectoryA((BinFolder() + "\\uexproc_stdcall_plain").c_str()));
    ExtensionUnitSearchIntegrity = [] { return PlayedIntegrity; };
    const struct {
        DWORD level;
        std::string bound;
    } cases[] = {
        {SECURITY_MANDATORY_MEDIUM_RID, LibraryPath("")},
        {SECURITY_MANDATORY_HIGH_RID, systemCopy},
        {SECURITY_MANDATORY_SYSTEM_RID, systemCopy},
        {0, systemCopy},  // a level that cannot be read counts as elevated
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        PlayedIntegrity = c.level;
        ASSERT_TRUE(BindExtensionUnitLibrary());
        EXPECT_TRUE(SamePathA(c.bound, ModulePath(ExtensionUnitLibrary())));
        UnbindExtensionUnitLibrary();

        // The first connect binds it, once.
        sim->euConnectedResult = 1;
        ConnectCamera();
        EXPECT_EQ(1, ExtensionUnitActive);
        HMODULE bound = ExtensionUnitLibrary();
        EXPECT_TRUE(SamePathA(c.bound, ModulePath(bound)));
        ConnectCamera();
        EXPECT_EQ(bound, ExtensionUnitLibrary());
        ReleaseCamera();
        UnbindExtensionUnitLibrary();
    }
    ExtensionUnitSearchIntegrity = LookUpOwnSearchLevelOfSystem;
}

TEST(DllSearchTest, OnlyProgramFilesIsTrustedWhileElevated)
{
    WCHAR programFiles[MAX_PATH], common[MAX_PATH], shortCommon[MAX_PATH] = L"";
    ASSERT_EQ(S_OK, SHGetFolderPathW(NULL, CSIDL_PROGRAM_FILES, NULL, SHGFP_TYPE_CURRENT, programFiles));
    ASSERT_EQ(S_OK, SHGetFolderPathW(NULL, CSIDL_PROGRAM_FILES_COMMON, NULL, SHGFP_TYPE_CURRENT, common));
    GetShortPathNameW(common, shortCommon, MAX_PATH);
    const std::wstring pf = programFiles;
    std::wstring upper = pf + L"\\LUMO2";
    CharUpperW(&upper[0]);
    // A 64-bit Windows's own Program Files folder, which this 32-bit prefix
    // lacks: named where that Windows names it.
    HKEY version;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, &version));
    const WCHAR native[] = L"C:\\Program Files 64\\";
    bool hadNative = RegQueryValueExW(version, L"ProgramW6432Dir", NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    if (!hadNative)
        RegSetValueExW(version, L"ProgramW6432Dir", 0, REG_SZ, reinterpret_cast<const BYTE*>(native), sizeof(native));
    const struct {
        std::wstring folder;
        bool trusted;  // when elevated; every folder is trusted below High
    } cases[] = {
        {pf + L"\\Lumo2", true},
        {pf + L"\\\uD074\uB9AC\uB2C9\\Lumo2", true},
        {upper, true},
        {pf, true},
        {common, true},
        {shortCommon, true},
        {pf + L" Tools\\Lumo2", false},
        {pf + L"Lumo2", false},
        {L"C:\\Tools\\Lumo2", false},
        {L"C:\\users\\\uAE40\uBBFC\uC9C0\\Downloads", false},
        {L"\\\\server\\share\\Program Files\\Lumo2", false},
        {L"C:\\Program Files 64\\Lumo2", !hadNative},
        {L"C:\\Program Files 64 Tools\\Lumo2", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.folder));
        EXPECT_TRUE(MayLoadFromExeFolder(SECURITY_MANDATORY_MEDIUM_RID, c.folder.c_str()));
        for (DWORD level : {DWORD(SECURITY_MANDATORY_HIGH_RID), DWORD(SECURITY_MANDATORY_SYSTEM_RID), DWORD(0)})
            EXPECT_EQ(c.trusted, MayLoadFromExeFolder(level, c.folder.c_str())) << std::hex << level;
    }
    if (!hadNative)
        RegDeleteValueW(version, L"ProgramW6432Dir");
    RegCloseKey(version);
}

bool RecordFolder(const WCHAR* folder, size_t length, void* context)
{
    static_cast<std::vector<std::string>*>(context)->push_back(Utf8(std::wstring(folder, length)));
    return false;
}

// Wine runs every process elevated and has no network drive: both are played.
TEST_F(UExProcBindingTest, PathIsSearchedOnlyBelowTheHighLevelAndNeverOnTheNetwork)
{
    WCHAR saved[32768] = {0};
    GetEnvironmentVariableW(L"PATH", saved, 32768);
    SetEnvironmentVariableW(L"PATH",
                            L"C:\\Tools;\\\\server\\share;N:\\mapped;bin;\"D:\\Quoted\";;c:/forward;E:\\\uB3C4\uAD6C");
    ExtensionUnitDriveType = [](const WCHAR* root) -> UINT WINAPI { return root[0] == 'N' ? DRIVE_REMOTE : DRIVE_FIXED; };
    ExtensionUnitSearchIntegrity = [] { return PlayedIntegrity; };
    // 0: a level that cannot be read searches as an elevated one. This
    // program's folder is not under Program Files: only the ordinary level
    // looks there.
    for (DWORD integrity : {DWORD(SECURITY_MANDATORY_MEDIUM_RID), DWORD(SECURITY_MANDATORY_HIGH_RID),
                            DWORD(SECURITY_MANDATORY_SYSTEM_RID),
                            DWORD(0)}) {
        PlayedIntegrity = integrity;
        std::vector<std::string> expected = {SystemFolder()}, walked;
        if (integrity != 0 && integrity < SECURITY_MANDATORY_HIGH_RID) {
            expected.insert(expected.begin(), BinFolder());
            expected.insert(expected.end(), {"C:\\Tools", "D:\\Quoted", "c:/forward", Utf8(L"E:\\\uB3C4\uAD6C")});
        }
        EXPECT_FALSE(WalkExtensionUnitFolders(RecordFolder, &walked));
        EXPECT_EQ(expected, walked) << std::hex << integrity;
    }
    SetEnvironmentVariableW(L"PATH", saved);

    // The same walk says where the library is, without loading it.
    PlayedIntegrity = SECURITY_MANDATORY_MEDIUM_RID;
    LONG loads = sim->euLibraryLoads;
    WCHAR path[MAX_PATH];
    ASSERT_TRUE(LocateExtensionUnitLibrary(path, MAX_PATH));
    EXPECT_EQ(Wide(LibraryPath("")), path);
    EXPECT_EQ(loads, sim->euLibraryLoads);
    EXPECT_FALSE(LocateExtensionUnitLibrary(path, DWORD(LibraryPath("").size()))) << "one character short";
    ExtensionUnitSearchIntegrity = LookUpOwnSearchLevelOfSystem;
    ExtensionUnitDriveType = GetDriveTypeW;
}

// The stand-in loads the probe by its bare name on each connect, as a vendor
// library loads its helpers.
TEST_F(UExProcBindingTest, LibrariesTheBoundLibraryLoadsByNameComeFromItsFolder)
{
    ASSERT_TRUE(TakeCurrentFolderOutOfDllSearch(true));
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"lumo2-\uC7A5\uBE44";
    const std::wstring library = folder + L"\\UExProc.dll", probe = folder + L"\\lumo2_dir_probe.dll";
    CreateDirectoryW(folder.c_str(), NULL);
    ASSERT_TRUE(CopyFileW(Wide(LibraryPath("uexproc_stdcall_plain")).c_str(), library.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(Wide(LibraryPath("")).c_str(), probe.c_str(), FALSE));
    lstrcpyA(sim->probeName, "lumo2_dir_probe.dll");
    sim->euConnectedResult = 1;
    struct {
        std::wstring bound;
        bool probeFound;
    } cases[] = {{library, true}, {Wide(LibraryPath("")), false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.bound));
        ASSERT_TRUE(BindExtensionUnitLibrary(c.bound.c_str()));
        LONG tried = sim->probeLoadsTried, found = sim->probeLoadsFound;
        ConnectCamera();
        EXPECT_EQ(tried + 1, sim->probeLoadsTried);
        EXPECT_EQ(found + (c.probeFound ? 1 : 0), sim->probeLoadsFound);
        ReleaseCamera();
        UnbindExtensionUnitLibrary();
    }
    sim->probeName[0] = 0;
    DeleteFileW(library.c_str());
    DeleteFileW(probe.c_str());
    RemoveDirectoryW(folder.c_str());
}

std::vector<std::string> DllFolders;
std::vector<DWORD> DefaultFolderFlags;

TEST(DllSearchTest, AnUntrustedOwnFolderIsLeftOutOfTheSearchToo)
{
    FindSetDefaultDllDirectories = [] {
        return SetDefaultDllDirectoriesFn([](DWORD flags) -> BOOL WINAPI {
            return DefaultFolderFlags.push_back(flags), TRUE;
        });
    };
    EXPECT_TRUE(TakeCurrentFolderOutOfDllSearch(true));
    EXPECT_TRUE(TakeCurrentFolderOutOfDllSearch(false));
    EXPECT_EQ(std::vector<DWORD>({LOAD_LIBRARY_SEARCH_DEFAULT_DIRS,
                                  LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS}),
              DefaultFolderFlags);
}

// Windows 7 without KB2533623, played: Wine ignores the empty folder. The
// real start-up is checked from outside by the portable tests.
TEST(DllSearchTest, WithoutDefaultDirectoriesAnEmptyDllFolderLeavesTheCurrentOneOut)
{
    FindSetDefaultDllDirectories = [] { return SetDefaultDllDirectoriesFn(NULL); };
    SetDllDirectoryOfSystem = [](const char* folder) -> BOOL WINAPI { return DllFolders.push_back(folder), TRUE; };
    EXPECT_TRUE(TakeCurrentFolderOutOfDllSearch(true));
    EXPECT_EQ(std::vector<std::string>{""}, DllFolders);
}

TEST_F(UExProcBindingTest, CallKeepingStackPassesEveryArgumentInOrder)
{
    const std::vector<std::vector<int>> cases = {{}, {7}, {1, 2, 3}, {13, 0, 0x1000, 4}, {-1, 2, -3, 4, -5, 6}};
    for (const auto& values : cases) {
        SCOPED_TRACE(values.size());
        // wsprintfA is __cdecl and variadic: its text shows every argument it got.
        std::string format, expected;
        for (int v : values) {
            format += "%d ";
            expected += std::to_string(v) + " ";
        }
        char out[128] = {0};
        std::vector<int> args = {int(reinterpret_cast<INT_PTR>(out)), int(reinterpret_cast<INT_PTR>(format.c_str()))};
        args.insert(args.end(), values.begin(), values.end());
        FARPROC print = GetProcAddress(GetModuleHandleA("user32.dll"), "wsprintfA");
        ASSERT_NE(nullptr, print);
        EXPECT_EQ(int(expected.size()), CallKeepingStack(print, int(args.size()), args.data()));
        EXPECT_EQ(expected, out);
    }
}

}  // namespace
