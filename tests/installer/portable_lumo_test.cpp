// Lumo2.exe started from a folder of its own, as on a clinic PC: with no
// UExProc.dll anywhere it must still start and serve the capture driver;
// with a build of the library beside it or on PATH, whatever its calling
// convention, the extension-unit route must work. One in the current folder
// only is never loaded: a document's folder may hold anything; nor, as Wine
// runs everything elevated, is one on PATH.
#include "tests/installer/setup_runner.h"
#include "tests/keyboard_hook.h"
#include "tests/registry_scratch.h"
#include "tests/sim_camera.h"
#include "tests/wait_until.h"
#include <gtest/gtest.h>

namespace {

typedef std::vector<KeyEvent> Events;
const Events Space = {Down(VK_SPACE), Up(VK_SPACE)};

enum class Place { Nowhere, BesideLumo, CurrentFolder, OnPath };
enum class Route { ExtensionUnit, CaptureDriver };

class PortableLumoTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        sim = camera.State();
        ASSERT_NE(nullptr, sim);
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        root = std::string(temp) + "lumo2-portable";
        Clear();
        CreateDirectoryA(root.c_str(), NULL);
        CreateDirectoryA((root + "\\program").c_str(), NULL);
        CreateDirectoryA((root + "\\current").c_str(), NULL);
        CreateDirectoryA((root + "\\onpath").c_str(), NULL);
    }

    void TearDown() override
    {
        EndRunningLumo(10000);
        Clear();
        RegistryTest::TearDown();
    }

    void Clear()
    {
        for (const char* sub : {"\\program", "\\current", "\\onpath"}) {
            for (const std::string& name : FolderEntries(root + sub))
                DeleteFileA((root + sub + "\\" + name).c_str());
            RemoveDirectoryA((root + sub).c_str());
        }
        RemoveDirectoryA(root.c_str());
    }

    SimCamera camera;
    SimState* sim = nullptr;
    KeyboardHook hook;
    std::string root;
};

TEST_F(PortableLumoTest, StartsWithOrWithoutTheLibraryAndUsesTheRightRoute)
{
    // Nothing on the usual search path may hold the library, or the cases
    // without it would prove nothing.
    char path[32768] = {0};
    GetEnvironmentVariableA("PATH", path, sizeof(path));
    char found[MAX_PATH];
    ASSERT_EQ(0u, SearchPathA(path, "UExProc.dll", NULL, MAX_PATH, found, NULL)) << found;

    struct {
        const char* what;
        const char* build;  // folder under bin of the library build, "" for the __cdecl one
        Place place;
        Route route;
    } cases[] = {
        {"no library anywhere", "", Place::Nowhere, Route::CaptureDriver},
        {"__cdecl build beside Lumo2.exe", "", Place::BesideLumo, Route::ExtensionUnit},
        {"__stdcall build, plain names", "uexproc_stdcall_plain", Place::BesideLumo, Route::ExtensionUnit},
        {"__stdcall build, decorated names", "uexproc_stdcall_decorated", Place::BesideLumo,
         Route::ExtensionUnit},
        {"__cdecl build in the current folder only", "", Place::CurrentFolder, Route::CaptureDriver},
        {"__cdecl build on PATH, not searched while elevated", "", Place::OnPath, Route::CaptureDriver},
        {"a build without releaseEVA", "uexproc_no_release", Place::BesideLumo, Route::CaptureDriver},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Clear();
        CreateDirectoryA(root.c_str(), NULL);
        const std::string program = root + "\\program", current = root + "\\current";
        const std::string onPath = root + "\\onpath";
        CreateDirectoryA(program.c_str(), NULL);
        CreateDirectoryA(current.c_str(), NULL);
        CreateDirectoryA(onPath.c_str(), NULL);
        ASSERT_TRUE(CopyFileA((BinFolder() + "\\Lumo2.exe").c_str(), (program + "\\Lumo2.exe").c_str(), FALSE));
        std::string library = BinFolder() + (*c.build ? std::string("\\") + c.build : "") + "\\UExProc.dll";
        if (c.place != Place::Nowhere) {
            std::string to = (c.place == Place::BesideLumo  ? program
                              : c.place == Place::OnPath ? onPath
                                                         : current) +
                             "\\UExProc.dll";
            ASSERT_TRUE(CopyFileA(library.c_str(), to.c_str(), FALSE));
        }

        // Only in the current folder, loaded by bare name by the bound stand-in
        // on each connect; found so by this process, which left it searched.
        const char probe[] = "lumo2_cwd_probe.dll";
        ASSERT_TRUE(CopyFileA(library.c_str(), (current + "\\" + probe).c_str(), FALSE));
        SetCurrentDirectoryA(current.c_str());
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
        SetEnvironmentVariableA("PATH", (onPath + ";" + path).c_str());
        HANDLE lumo = StartProcess("\"" + program + "\\Lumo2.exe\"", current.c_str());
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

        if (c.route == Route::ExtensionUnit) {
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
            if (c.place != Place::BesideLumo) {
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
