// Lumo2.exe started from a folder of its own, as on a clinic PC: with no
// UExProc.dll anywhere it must still start and serve the capture driver;
// with a build of the library beside it, whatever its calling convention,
// the extension-unit route must work. One in the current folder only is
// never loaded: a document's folder may hold anything. The camera process
// runs at the user's level and takes one on PATH or beside a Lumo2.exe
// outside Program Files; with the camera inside Lumo2, which Wine runs
// elevated, neither is taken.
#include "settings/policy_names.h"
#include "tests/installer/setup_runner.h"
#include "tests/support/keyboard_hook.h"
#include "tests/support/registry_scratch.h"
#include "tests/support/sim_camera.h"
#include "tests/support/wait_until.h"
#include <gtest/gtest.h>
#include <shlobj.h>

namespace {

enum class Place { Nowhere, BesideLumo, CurrentFolder, OnPath };
enum class Route { ExtensionUnit, CaptureDriver };

std::wstring ShellFolderW(int csidl)
{
    WCHAR folder[MAX_PATH] = L"";
    SHGetFolderPathW(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

// Removes the folder and the files in it.
void RemoveFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

HANDLE StartProcessW(const std::wstring& exe, const std::wstring& currentFolder)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, currentFolder.c_str(), &startup,
                        &info))
        return NULL;
    CloseHandle(info.hThread);
    return info.hProcess;
}

// The Lumo2.exe copies live in a folder named in Hangul, which the code
// page of the test bed (1252) cannot spell: a path that went through an
// ANSI call would not find the library beside them. They live under Program
// Files, as a per-machine installation puts them, except where the test is
// what an elevated Lumo2 does elsewhere (under Wine every process is
// elevated). The test bed's stand-in in the system folder is put aside
// meanwhile, so that a library found shows where it came from.
class PortableLumoTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        sim = camera.State();
        ASSERT_NE(nullptr, sim);
        WCHAR temp[MAX_PATH], system[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        GetSystemDirectoryW(system, MAX_PATH);
        systemCopy = std::wstring(system) + L"\\UExProc.dll";
        systemAside = systemCopy + L".aside";
        ASSERT_TRUE(MoveFileExW(systemCopy.c_str(), systemAside.c_str(), MOVEFILE_REPLACE_EXISTING))
            << "the test bed's stand-in";
        machineRoot = ShellFolderW(CSIDL_PROGRAM_FILES) + L"\\lumo2-portable";
        root = std::wstring(temp) + L"lumo2-portable";
        Clear();
    }

    void TearDown() override
    {
        EndRunningLumo(10000);
        Clear();
        MoveFileExW(systemAside.c_str(), systemCopy.c_str(), MOVEFILE_REPLACE_EXISTING);
        RegistryTest::TearDown();
    }

    void Clear()
    {
        for (const std::wstring& top : {root, machineRoot}) {
            for (const WCHAR* sub : {ProgramFolderName, L"current", L"onpath"})
                RemoveFolder(top + L"\\" + sub);
            RemoveDirectoryW(top.c_str());
        }
    }

    static constexpr const WCHAR* ProgramFolderName = L"\uD504\uB85C\uADF8\uB7A8";
    SimCamera camera;
    SimState* sim = nullptr;
    KeyboardHook hook;
    std::wstring root, machineRoot, systemCopy, systemAside;
};

TEST_F(PortableLumoTest, StartsWithOrWithoutTheLibraryAndUsesTheRightRoute)
{
    // Nothing on the usual search path may hold the library, or the cases
    // without it would prove nothing.
    char path[32768] = {0};
    GetEnvironmentVariableA("PATH", path, sizeof(path));
    char found[MAX_PATH];
    ASSERT_EQ(0u, SearchPathA(path, "UExProc.dll", NULL, MAX_PATH, found, NULL)) << found;
    const std::wstring log = ShellFolderW(CSIDL_LOCAL_APPDATA) + L"\\Kestrova\\Lumo2\\Logs\\Lumo2.log";

    struct {
        const char* what;
        const char* build;  // folder under bin of the library build, "" for the __cdecl one
        Place place;
        bool underProgramFiles;
        Route route;
        bool inside;  // the camera inside Lumo2 (the policy), at Lumo2's elevated level
    } cases[] = {
        {"no library anywhere", "", Place::Nowhere, true, Route::CaptureDriver, false},
        {"__cdecl build beside Lumo2.exe", "", Place::BesideLumo, true, Route::ExtensionUnit, false},
        {"__stdcall build, plain names", "uexproc_stdcall_plain", Place::BesideLumo, true, Route::ExtensionUnit,
         false},
        {"__stdcall build, decorated names", "uexproc_stdcall_decorated", Place::BesideLumo, true,
         Route::ExtensionUnit, false},
        {"__cdecl build in the current folder only", "", Place::CurrentFolder, true, Route::CaptureDriver, false},
        {"a build without releaseEVA", "uexproc_no_release", Place::BesideLumo, true, Route::CaptureDriver, false},
        // The camera process runs at the user's level, whatever Lumo2's.
        {"__cdecl build on PATH, searched by the camera process", "", Place::OnPath, true, Route::ExtensionUnit,
         false},
        {"beside an elevated Lumo2.exe outside Program Files, taken by its camera process", "", Place::BesideLumo,
         false, Route::ExtensionUnit, false},
        {"__cdecl build on PATH, not searched by an elevated Lumo2", "", Place::OnPath, true, Route::CaptureDriver,
         true},
        {"beside an elevated Lumo2.exe outside Program Files, ignored by it", "", Place::BesideLumo, false,
         Route::CaptureDriver, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Clear();
        const std::wstring top = c.underProgramFiles ? machineRoot : root;
        const std::wstring program = top + L"\\" + ProgramFolderName, current = top + L"\\current";
        const std::wstring onPath = top + L"\\onpath";
        for (const std::wstring& folder : {top, program, current, onPath})
            CreateDirectoryW(folder.c_str(), NULL);
        ASSERT_TRUE(CopyFileW(Wide(BinFolder() + "\\Lumo2.exe").c_str(), (program + L"\\Lumo2.exe").c_str(), FALSE));
        std::wstring library = Wide(BinFolder() + (*c.build ? std::string("\\") + c.build : "") + "\\UExProc.dll");
        if (c.place != Place::Nowhere) {
            std::wstring to = (c.place == Place::BesideLumo ? program
                               : c.place == Place::OnPath  ? onPath
                                                           : current) +
                              L"\\UExProc.dll";
            ASSERT_TRUE(CopyFileW(library.c_str(), to.c_str(), FALSE));
        }

        // Only in the current folder, loaded by bare name by the bound stand-in
        // on each connect; found so by this process, which left it searched.
        const char probe[] = "lumo2_cwd_probe.dll";
        ASSERT_TRUE(CopyFileW(library.c_str(), (current + L"\\" + Wide(probe)).c_str(), FALSE));
        SetCurrentDirectoryW(current.c_str());
        HMODULE found = LoadLibraryA(probe);
        SetCurrentDirectoryA(BinFolder().c_str());
        ASSERT_TRUE(found && FreeLibrary(found));

        // Both routes have a camera; the library, when found, must win.
        camera.RemoveAll();
        camera.Add(1, SimCameraName);
        sim->euConnectedResult = 1;
        sim->euButtonDown = 0;
        lstrcpyA(sim->probeName, probe);
        LONG tried = sim->probeLoadsTried, foundBefore = sim->probeLoadsFound;
        // Started from the folder that holds nothing but a planted library,
        // and with one more folder on PATH: the program inherits both.
        LONG loads = sim->euLibraryLoads;
        if (c.inside)
            StorePolicyDword(HKEY_LOCAL_MACHINE, PolicyCameraProcessName, 0);
        else
            RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, PolicyKeyPath, PolicyCameraProcessName);
        const size_t logged = FileText(log).size();
        SetEnvironmentVariableW(L"PATH", (onPath + L";" + Wide(path)).c_str());
        HANDLE lumo = StartProcessW(program + L"\\Lumo2.exe", current);
        SetEnvironmentVariableA("PATH", path);
        ASSERT_NE(nullptr, lumo);
        std::vector<HWND> trays;
        EXPECT_TRUE(WaitUntil([&] { return (trays = LumoTrayWindows()).size() == 1; }, 15000))
            << "Lumo2 started, with no error box";
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(lumo, 0));
        if (trays.size() != 1)
            TerminateProcess(lumo, 1);
        CloseHandle(lumo);
        ASSERT_EQ(1u, trays.size());
        EXPECT_TRUE(WaitUntil([&] { return TrayWindowHasIcon(trays[0]); }, 5000));
        // The first connect says what it found.
        std::string lines;
        EXPECT_TRUE(WaitUntil(
            [&] {
                const std::string text = FileText(log);
                lines = text.size() >= logged ? text.substr(logged) : text;
                return lines.find("camera: ") != std::string::npos;
            },
            5000));
        EXPECT_EQ(!c.underProgramFiles && c.inside,
                  lines.find("UExProc.dll ignored: Lumo2 runs elevated") != std::string::npos)
            << lines;

        if (c.route == Route::ExtensionUnit) {
            // The log writes the profile's folder as %USERPROFILE%.
            std::wstring folder = c.place == Place::OnPath ? onPath : program;
            const std::wstring profile = ShellFolderW(CSIDL_PROFILE);
            if (folder.compare(0, profile.size(), profile) == 0)
                folder = L"%USERPROFILE%" + folder.substr(profile.size());
            EXPECT_NE(std::string::npos, lines.find("camera: connected through the extension unit, library " +
                                                    Utf8(folder) + "\\UExProc.dll"))
                << lines;
            EXPECT_TRUE(WaitUntil([&] { return sim->probeLoadsTried > tried; }, 5000))
                << "the bound library looked for the probe";
            EXPECT_EQ(foundBefore, sim->probeLoadsFound) << "start-up took the current folder out of the search";
            sim->euButtonDown = 1;
            EXPECT_EQ(Describe(Space), Describe(hook.WaitFor(2, 5000)));
            // Held over three more polls, it is still one press.
            LONG reads = sim->euButtonReads;
            EXPECT_TRUE(WaitUntil([&] { return sim->euButtonReads - reads >= 3; }, 5000));
            EXPECT_TRUE(hook.TakeUpToNow().empty()) << "one press";
            sim->euButtonDown = 0;
        } else {
            sim->euButtonDown = 1;
            // Three polls of the capture driver's latch see the button held
            // on the extension unit the program cannot reach.
            LONG reads = sim->registerReads;
            EXPECT_TRUE(WaitUntil([&] { return sim->registerReads - reads >= 3; }, 5000));
            EXPECT_TRUE(hook.TakeUpToNow().empty()) << "no extension unit without the library";
            if (c.place != Place::BesideLumo || !c.underProgramFiles) {
                EXPECT_EQ(loads, sim->euLibraryLoads) << "no library was loaded";
            }
            sim->euButtonDown = 0;
            camera.LatchPress();
            EXPECT_EQ(Describe(Space), Describe(hook.WaitFor(2, 5000)));
            EXPECT_EQ(0x00, camera.Latch()) << "the capture driver's latch was cleared";
        }
        DWORD pid = 0;
        GetWindowThreadProcessId(trays[0], &pid);
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
        EXPECT_TRUE(EndRunningLumo(10000));
        // Its files can be cleared away only once it has gone.
        if (process) {
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    }
}

}  // namespace
