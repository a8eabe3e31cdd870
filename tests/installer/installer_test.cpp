// The setup program as a clinic's IT would run it, silently, and as a user
// would, page by page: what it installs, what an upgrade over a running
// Lumo2 keeps, what the uninstaller takes away, and how failures end.
#include "lifecycle/takeover.h"
#include "lumo2_version.h"
#include "settings/action_mode.h"
#include "tests/installer/setup_runner.h"
#include "tests/installer/wizard.h"
#include "tests/support/lumo_process.h"
#include "tests/support/wait_until.h"
#include <gtest/gtest.h>
#include <stdio.h>

namespace {

// Without spaces: Wine quotes an argument that has one, and /D= must not be
// quoted.
const char OtherFolder[] = "C:\\lumo2-test\\Elsewhere";

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FileExists(SetupPath())) << SetupPath();
        RemoveInstallation({DefaultInstallFolder(), OtherFolder});
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    }

    void TearDown() override
    {
        EndWizards();
        RemoveInstallation({DefaultInstallFolder(), OtherFolder});
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    }

    DWORD Setup(const std::string& switches, DWORD* elapsedMs = NULL)
    {
        return RunAndWait(Quoted(SetupPath()) + " " + switches, 60000, elapsedMs);
    }

    // Everything one installation in folder consists of, checked value by
    // value; running says whether one Lumo2 from there should be up,
    // turnedOff whether start at logon keeps the user's "off" mark.
    void ExpectInstalled(const std::string& folder, bool autoStart, bool running, bool turnedOff = false)
    {
        const std::string exe = folder + "\\Lumo2.exe", uninstaller = folder + "\\Uninstall.exe";
        EXPECT_EQ(std::vector<std::string>({"Lumo2.exe", "Uninstall.exe"}), FolderEntries(folder));
        EXPECT_TRUE(SameContents(BinFolder() + "\\Lumo2.exe", exe)) << "the Lumo2.exe just built";
        EXPECT_TRUE(FileExists(StartMenuShortcut()));
        EXPECT_TRUE(SamePath(exe, ShortcutTarget(StartMenuShortcut()))) << ShortcutTarget(StartMenuShortcut());

        RegValue run = ReadValue(HKEY_CURRENT_USER, RunKeyPath, "Lumo2");
        EXPECT_EQ(autoStart, run.present);
        EXPECT_EQ(turnedOff, ReadValue(HKEY_CURRENT_USER, StartupApprovedKeyPath, "Lumo2").present)
            << "start at logon turned off";
        if (autoStart) {
            EXPECT_EQ(DWORD(REG_SZ), run.type);
            EXPECT_TRUE(SamePath(Quoted(exe), run.text)) << run.text;
        }

        DWORD sizeKb = (FileSizeOf(exe) + FileSizeOf(uninstaller) + 1023) / 1024;
        struct {
            const char* name;
            DWORD type;
            std::string text;
            DWORD number;
        } expected[] = {
            {"DisplayName", REG_SZ, "Lumo2", 0},
            {"DisplayVersion", REG_SZ, LUMO2_VERSION_STRING, 0},
            {"Publisher", REG_SZ, "Kestrova", 0},
            {"DisplayIcon", REG_SZ, exe, 0},
            {"InstallLocation", REG_SZ, folder, 0},
            {"UninstallString", REG_SZ, Quoted(uninstaller), 0},
            {"QuietUninstallString", REG_SZ, Quoted(uninstaller) + " /S", 0},
            {"NoModify", REG_DWORD, "", 1},
            {"NoRepair", REG_DWORD, "", 1},
            {"EstimatedSize", REG_DWORD, "", sizeKb},
        };
        std::vector<std::string> names;
        for (const auto& e : expected) {
            SCOPED_TRACE(e.name);
            names.push_back(e.name);
            RegValue value = ReadValue(HKEY_CURRENT_USER, UninstallKeyPath, e.name);
            ASSERT_TRUE(value.present);
            EXPECT_EQ(e.type, value.type);
            if (e.type == REG_SZ) {
                EXPECT_TRUE(SamePath(e.text, value.text)) << value.text << " for " << e.text;
            } else {
                EXPECT_EQ(e.number, value.number);
            }
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, ValueNames(HKEY_CURRENT_USER, UninstallKeyPath)) << "no other values";
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKeyPath)) << "nothing for all users";

        if (running) {
            ASSERT_TRUE(WaitUntil([] { return !LumoTrayWindows().empty(); }, 15000)) << "Lumo2 started";
            // A second instance would show up after the first; give it the time.
            PumpMessagesFor(500);
            std::vector<HWND> trays = LumoTrayWindows();
            ASSERT_EQ(1u, trays.size());
            EXPECT_TRUE(SamePath(exe, WindowProgram(trays[0]))) << WindowProgram(trays[0]);
            EXPECT_TRUE(WaitUntil([&] { return TrayWindowHasIcon(trays[0]); }, 5000));
        } else {
            // The setup program has ended, and a Lumo2 it started exists by
            // then, window or not.
            EXPECT_TRUE(LumoProcesses().empty()) << "Lumo2 was not to be started";
            EXPECT_TRUE(LumoTrayWindows().empty());
        }
    }

    void ExpectNothingInstalled(const std::string& folder)
    {
        EXPECT_FALSE(FolderExists(folder)) << folder;
        EXPECT_FALSE(FileExists(StartMenuShortcut()));
        EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, RunKeyPath, "Lumo2").present);
        EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, StartupApprovedKeyPath, "Lumo2").present);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UninstallKeyPath));
        EXPECT_TRUE(LumoTrayWindows().empty());
    }

    // Runs the uninstaller silently; it hands over to a copy of itself and
    // returns at once, so wait until its work is visibly done.
    void UninstallSilently(const std::string& folder, const char* switches, DWORD* elapsedMs = NULL)
    {
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        EXPECT_EQ(0u, RunAndWait(Quoted(folder + "\\Uninstall.exe") + " " + switches, 30000));
        EXPECT_TRUE(WaitUntil(
            [&] { return !FolderExists(folder) && !KeyExists(HKEY_CURRENT_USER, UninstallKeyPath); }, 30000));
        QueryPerformanceCounter(&end);
        if (elapsedMs)
            *elapsedMs = DWORD((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
    }
};

TEST_F(InstallerTest, SilentInstallPutsEverythingInPlaceAndStartsLumo2)
{
    // The setup program asks the shell whose desktop this is; run as the
    // same account, it starts Lumo2 as always.
    ASSERT_TRUE(BecomeTheShell());
    DWORD elapsed = 0;
    ASSERT_EQ(0u, Setup("/S", &elapsed));
    printf("setup program: %lu bytes (%.1f KB); silent install: %lu ms\n", FileSizeOf(SetupPath()),
           FileSizeOf(SetupPath()) / 1024.0, elapsed);
    ExpectInstalled(DefaultInstallFolder(), true, true);
    EXPECT_FALSE(FileExists(DefaultInstallFolder() + "\\UExProc.dll")) << "never the stand-in";
}

TEST_F(InstallerTest, SwitchesChangeWhatASilentInstallDoes)
{
    struct {
        const char* switches;
        std::string folder;
        bool autoStart, running;
    } cases[] = {
        {"/S /NOAUTOSTART", DefaultInstallFolder(), false, true},
        {"/S /NORUN", DefaultInstallFolder(), true, false},
        {"/S /D=C:\\lumo2-test\\Elsewhere", OtherFolder, true, true},
        {"/S /NORUN /NOAUTOSTART /D=C:\\lumo2-test\\Elsewhere", OtherFolder, false, false},
        {"/S /NORUN /AUTOSTART=0", DefaultInstallFolder(), false, false},
        {"/S /NORUN /AUTOSTART=1", DefaultInstallFolder(), true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.switches);
        RemoveInstallation({DefaultInstallFolder(), OtherFolder});
        ASSERT_EQ(0u, Setup(c.switches));
        ExpectInstalled(c.folder, c.autoStart, c.running);
        if (c.folder != DefaultInstallFolder()) {
            EXPECT_FALSE(FolderExists(DefaultInstallFolder()));
        }
    }
}

TEST_F(InstallerTest, ReinstallOverARunningLumo2IsAnUpgrade)
{
    ASSERT_EQ(0u, Setup("/S /NORUN"));
    ASSERT_TRUE(StoreSettings());
    std::string settings = DescribeSettings();
    // An older Lumo2.exe: the same program with a few bytes more.
    const std::string exe = DefaultInstallFolder() + "\\Lumo2.exe";
    FILE* file = fopen(exe.c_str(), "ab");
    ASSERT_NE(nullptr, file);
    fputs("older build", file);
    fclose(file);
    ASSERT_FALSE(SameContents(BinFolder() + "\\Lumo2.exe", exe));
    DWORD oldPid = 0;
    HANDLE old = StartProcess(Quoted(exe), NULL, &oldPid);
    ASSERT_NE(nullptr, old);
    ASSERT_TRUE(WaitUntil([] { return LumoTrayWindows().size() == 1; }, 15000));
    ASSERT_TRUE(MarkStartAtLogonDisabled());

    ASSERT_EQ(0u, Setup("/S"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(old, 0)) << "the old Lumo2 ended";
    DWORD code = 0;
    GetExitCodeProcess(old, &code);
    EXPECT_EQ(0u, code) << "it ended cleanly";
    CloseHandle(old);
    ExpectInstalled(DefaultInstallFolder(), true, true, true);
    std::vector<HWND> trays = LumoTrayWindows();
    ASSERT_EQ(1u, trays.size());
    DWORD newPid = 0;
    GetWindowThreadProcessId(trays[0], &newPid);
    EXPECT_NE(oldPid, newPid);
    EXPECT_EQ(settings, DescribeSettings()) << "the settings are the user's";

    // Moving to another folder leaves nothing in the old one; asked for in
    // so many words, start at logon is on again.
    ASSERT_EQ(0u, Setup("/S /AUTOSTART=1 /D=C:\\lumo2-test\\Elsewhere"));
    ExpectInstalled(OtherFolder, true, true);
    EXPECT_FALSE(FolderExists(DefaultInstallFolder()));
    EXPECT_EQ(settings, DescribeSettings());
}

TEST_F(InstallerTest, SilentUninstallRemovesEverythingButTheSettingsUnlessPurged)
{
    struct {
        const char* switches;
        bool settingsKept;
    } cases[] = {{"/S", true}, {"/S /PURGE", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.switches);
        ASSERT_EQ(0u, Setup("/S"));
        ASSERT_TRUE(WaitUntil([] { return LumoTrayWindows().size() == 1; }, 15000));
        ASSERT_TRUE(StoreSettings());
        ASSERT_TRUE(MarkStartAtLogonDisabled());
        std::string settings = DescribeSettings();
        DWORD elapsed = 0;
        UninstallSilently(DefaultInstallFolder(), c.switches, &elapsed);
        printf("silent uninstall (%s): %lu ms\n", c.switches, elapsed);
        ExpectNothingInstalled(DefaultInstallFolder());
        EXPECT_EQ(c.settingsKept, KeyExists(HKEY_CURRENT_USER, ProgramKeyPath));
        if (c.settingsKept) {
            EXPECT_EQ(settings, DescribeSettings());
        }
    }
}

TEST_F(InstallerTest, SetupRunAsAnotherAccountWarnsAndNeverStartsLumo2)
{
    const std::string other = " /SHELLSID=S-1-5-21-1004336348-1177238915-682003330-1001";
    ASSERT_EQ(0u, Setup("/S" + other)) << "a silent install goes on without asking";
    ExpectInstalled(DefaultInstallFolder(), true, false);
    ASSERT_FALSE(OwnSid().empty());
    ASSERT_EQ(0u, Setup("/S /SHELLSID=" + OwnSid()));
    ExpectInstalled(DefaultInstallFolder(), true, true);
    RemoveInstallation({DefaultInstallFolder()});

    const std::string version = LUMO2_VERSION_STRING;
    const std::wstring msi = L"Lumo2-" + std::wstring(version.begin(), version.end()) + L"-x86.msi";
    for (bool proceed : {false, true}) {
        SCOPED_TRACE(proceed ? "OK" : "Cancel");
        // Turned off in Task Manager: offered unticked, and on again once ticked.
        if (proceed) {
            ASSERT_TRUE(MarkStartAtLogonDisabled());
        }
        DWORD pid = 0;
        HANDLE setup = StartProcess(Quoted(SetupPath()) + other, NULL, &pid);
        ASSERT_NE(nullptr, setup);
        HWND warning = NULL;
        ASSERT_TRUE(WaitUntil([&] { return (warning = FindWizardWith(msi.c_str())) != NULL; }, 20000))
            << "the warning names the MSI for all users";
        EXPECT_EQ(nullptr, FindWizardWith(L"Welcome to Lumo2")) << "asked before anything else";
        if (!proceed) {
            EXPECT_TRUE(WaitUntil([&] { return Drawn(warning); }, 5000));
            SaveScreenshot(warning, "installer-other-account");
        }
        PostMessageA(warning, WM_COMMAND, proceed ? IDOK : IDCANCEL, 0);
        if (proceed) {
            HWND wizard = NULL;
            ASSERT_TRUE(WaitUntil([&] { return (wizard = FindWizardWith(L"Welcome to Lumo2")) != NULL; }, 20000));
            PressNext(wizard);
            ExpectPage(wizard, L"Start Lumo2 when I sign in to Windows", "installer-options-turned-off");
            HWND autoStart = FindControl(wizard, L"Start Lumo2 when I sign in to Windows");
            EXPECT_EQ(BST_UNCHECKED, SendMessageA(autoStart, BM_GETCHECK, 0, 0));
            Click(autoStart);
            for (int page = 1; page < 4; ++page)
                PressNext(wizard);
            ExpectPage(wizard, L"Completing Lumo2 Setup", "installer-other-account-finish");
            EXPECT_EQ(nullptr, FindControl(wizard, L"Start Lumo2")) << "no offer to start it";
            PressNext(wizard);
        }
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(setup, 20000));
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(setup, &code);
        CloseHandle(setup);
        EXPECT_EQ(proceed ? 0u : 1u, code);
        if (proceed) {
            ExpectInstalled(DefaultInstallFolder(), true, false);
        } else {
            ExpectNothingInstalled(DefaultInstallFolder());
        }
    }
}

TEST_F(InstallerTest, SetupRunAsTheSystemAccountOrInSessionZeroInstallsNothing)
{
    // Silently, or in session 0 where nobody could answer a message.
    for (const char* switches : {"/S /OWNSID=S-1-5-18", "/S /SESSIONID=0", "/SESSIONID=0"}) {
        SCOPED_TRACE(switches);
        EXPECT_EQ(5u, Setup(switches));
        ExpectNothingInstalled(DefaultInstallFolder());
        EXPECT_TRUE(LumoProcesses().empty());
    }
    HANDLE setup = StartProcess(Quoted(SetupPath()) + " /OWNSID=S-1-5-18");
    HWND message = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (message = FindWizardWith(L"for the user signed in to Windows")) && Drawn(message); }, 20000));
    EXPECT_NE(nullptr, FindControl(message, L"Lumo2-" LUMO2_VERSION_STRING L"-x86.msi"));
    SaveScreenshot(message, "installer-system-account");
    PostMessageA(message, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(setup, 20000));
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(setup, &code);
    CloseHandle(setup);
    EXPECT_EQ(5u, code);
    ExpectNothingInstalled(DefaultInstallFolder());
}

// A window that looks like Lumo2's tray window but will not close, as a
// Lumo2 hung in a dialog might.
LRESULT CALLBACK StubbornProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE)
        return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(InstallerTest, FailuresExitNonZeroAndLeaveNothingHalfDone)
{
    // A folder below a file can never be made.
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string blocker = std::string(temp) + "lumo2-blocker";
    FILE* file = fopen(blocker.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    fclose(file);
    EXPECT_EQ(3u, Setup("/S /D=" + blocker + "\\Lumo2"));
    ExpectNothingInstalled(blocker + "\\Lumo2");
    EXPECT_FALSE(FolderExists(DefaultInstallFolder())) << "not quietly elsewhere either";
    DeleteFileA(blocker.c_str());

    // A Lumo2 that will not end: the installed one stays as it was.
    ASSERT_EQ(0u, Setup("/S /NORUN"));
    const std::string folder = DefaultInstallFolder();
    FILE* exe = fopen((folder + "\\Lumo2.exe").c_str(), "ab");
    ASSERT_NE(nullptr, exe);
    fputs("older build", exe);
    fclose(exe);
    std::string before = DescribeSettings();
    HWND stubborn = CreateFakeTrayWindow(StubbornProc);
    ASSERT_NE(nullptr, stubborn);

    DWORD elapsed = 0;
    EXPECT_EQ(4u, Setup("/S", &elapsed));
    EXPECT_GE(elapsed, 9000u) << "it waited its 10 s";
    EXPECT_TRUE(IsWindow(stubborn));
    EXPECT_FALSE(SameContents(BinFolder() + "\\Lumo2.exe", folder + "\\Lumo2.exe")) << "not replaced";
    EXPECT_EQ(std::vector<std::string>({"Lumo2.exe", "Uninstall.exe"}), FolderEntries(folder));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, UninstallKeyPath));
    EXPECT_EQ(before, DescribeSettings());

    // The uninstaller, kept in place so that its exit code can be seen.
    EXPECT_EQ(4u, RunAndWait(Quoted(folder + "\\Uninstall.exe") + " /S _?=" + folder, 60000));
    EXPECT_EQ(std::vector<std::string>({"Lumo2.exe", "Uninstall.exe"}), FolderEntries(folder));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, UninstallKeyPath));
    EXPECT_TRUE(FileExists(StartMenuShortcut()));

    DestroyWindow(stubborn);
    UnregisterClassA("Lumo", GetModuleHandleA(NULL));
}

// Lumo2's tray window as the setup program sees it when Lumo2 runs as
// administrator: Windows drops WM_CLOSE from an ordinary process, and only
// the message the window lets through ends it.
LRESULT CALLBACK ElevatedTrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE)
        return 0;
    if (message == RegisterWindowMessageA(QuitMessageName)) {
        DestroyWindow(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(InstallerTest, AnUpgradeAndAnUninstallEndALumo2RunAsAdministrator)
{
    ASSERT_EQ(0u, Setup("/S /NORUN"));
    HWND elevated = CreateFakeTrayWindow(ElevatedTrayProc);
    ASSERT_NE(nullptr, elevated);
    EXPECT_EQ(0u, Setup("/S /NORUN")) << "the upgrade";
    EXPECT_FALSE(IsWindow(elevated));

    elevated = CreateFakeTrayWindow(ElevatedTrayProc);
    ASSERT_NE(nullptr, elevated);
    const std::string folder = DefaultInstallFolder();
    EXPECT_EQ(0u, RunAndWait(Quoted(folder + "\\Uninstall.exe") + " /S _?=" + folder, 60000)) << "the uninstall";
    EXPECT_FALSE(IsWindow(elevated));
    EXPECT_FALSE(FileExists(folder + "\\Lumo2.exe"));
    if (IsWindow(elevated))
        DestroyWindow(elevated);
    UnregisterClassA("Lumo", GetModuleHandleA(NULL));
}

// Holds a file open the way another program might: readable and writable by
// others, but neither renamed nor deleted while held.
static HANDLE HoldWithoutDelete(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

// Makes the installed Lumo2.exe differ from the one just built, as an older
// version would.
static void MakeInstalledExeOlder(const std::string& folder)
{
    FILE* exe = fopen((folder + "\\Lumo2.exe").c_str(), "ab");
    ASSERT_NE(nullptr, exe);
    fputs("older build", exe);
    fclose(exe);
}

TEST_F(InstallerTest, AFolderThatCannotBeWrittenLeavesTheRunningLumo2Running)
{
    ASSERT_EQ(0u, Setup("/S"));
    ASSERT_TRUE(WaitUntil([] { return LumoTrayWindows().size() == 1; }, 15000));
    HWND running = LumoTrayWindows()[0];
    // A folder NSIS accepts, but where the setup program's first file cannot
    // be made: a folder already has its name.
    const std::string probe = std::string(OtherFolder) + "\\Lumo2.exe.new";
    CreateDirectoryA("C:\\lumo2-test", NULL);
    CreateDirectoryA(OtherFolder, NULL);
    ASSERT_TRUE(CreateDirectoryA(probe.c_str(), NULL));

    // Closing a Lumo2 waits for its window to go, so by the time the setup
    // program has ended the window would be gone.
    EXPECT_EQ(3u, Setup("/S /NORUN /D=C:\\lumo2-test\\Elsewhere"));
    EXPECT_TRUE(IsWindow(running)) << "the user's Lumo2 was closed for nothing";
    EXPECT_EQ(1u, LumoTrayWindows().size());
    EXPECT_EQ(std::vector<std::string>({"Lumo2.exe.new"}), FolderEntries(OtherFolder));
    RegValue location = ReadValue(HKEY_CURRENT_USER, UninstallKeyPath, "InstallLocation");
    EXPECT_TRUE(SamePath(DefaultInstallFolder(), location.text)) << location.text;
    RemoveDirectoryA(probe.c_str());
}

TEST_F(InstallerTest, AnUpgradeThatCannotReplaceAFileKeepsTheOldInstallation)
{
    ASSERT_EQ(0u, Setup("/S /NORUN"));
    const std::string folder = DefaultInstallFolder();
    MakeInstalledExeOlder(folder);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string oldExe = std::string(temp) + "lumo2-older.exe";
    ASSERT_TRUE(CopyFileA((folder + "\\Lumo2.exe").c_str(), oldExe.c_str(), FALSE));
    // The uninstaller is the second file to be replaced: by then the first
    // has been moved, and must come back.
    HANDLE held = HoldWithoutDelete(folder + "\\Uninstall.exe");
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    EXPECT_EQ(3u, Setup("/S /NORUN"));
    CloseHandle(held);
    EXPECT_EQ(std::vector<std::string>({"Lumo2.exe", "Uninstall.exe"}), FolderEntries(folder));
    EXPECT_TRUE(SameContents(oldExe, folder + "\\Lumo2.exe")) << "the old Lumo2.exe is back";
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, UninstallKeyPath));
    EXPECT_TRUE(FileExists(StartMenuShortcut()));
    DeleteFileA(oldExe.c_str());

    // Let go, the same upgrade goes through.
    ASSERT_EQ(0u, Setup("/S /NORUN"));
    ExpectInstalled(folder, true, false);
}

TEST_F(InstallerTest, AnUninstallThatCannotRemoveLumo2ExeRemovesNothing)
{
    ASSERT_EQ(0u, Setup("/S /NORUN"));
    const std::string folder = DefaultInstallFolder();
    HANDLE held = HoldWithoutDelete(folder + "\\Lumo2.exe");
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    // Kept in place (_?=) so that its exit code can be seen.
    EXPECT_EQ(4u, RunAndWait(Quoted(folder + "\\Uninstall.exe") + " /S _?=" + folder, 60000));
    CloseHandle(held);
    EXPECT_EQ(std::vector<std::string>({"Lumo2.exe", "Uninstall.exe"}), FolderEntries(folder));
    EXPECT_TRUE(FileExists(StartMenuShortcut()));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, RunKeyPath, "Lumo2").present);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, UninstallKeyPath));
}

// An earlier installation in another folder is cleaned away; the same folder
// spelled another way is not another folder.
TEST_F(InstallerTest, ReinstallIntoTheSameFolderSpelledAnotherWayKeepsTheFiles)
{
    struct {
        const char* name;
        std::string spelling;  // "" for the folder's short name
    } cases[] = {
        {"through ..", "C:\\lumo2-test\\x\\..\\Elsewhere"},
        {"short name", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveInstallation({OtherFolder});
        ASSERT_EQ(0u, Setup("/S /NORUN /D=C:\\lumo2-test\\Elsewhere"));
        std::string spelling = c.spelling;
        if (spelling.empty()) {
            char shortName[MAX_PATH] = "";
            ASSERT_NE(0u, GetShortPathNameA(OtherFolder, shortName, MAX_PATH));
            spelling = shortName;
            ASSERT_FALSE(SamePath(OtherFolder, spelling)) << "a short name of its own";
        }
        EXPECT_EQ(0u, Setup("/S /NORUN /D=" + spelling));
        EXPECT_EQ(std::vector<std::string>({"Lumo2.exe", "Uninstall.exe"}), FolderEntries(OtherFolder));
        EXPECT_TRUE(SameContents(BinFolder() + "\\Lumo2.exe", std::string(OtherFolder) + "\\Lumo2.exe"));
    }
}

TEST_F(InstallerTest, PagesOfTheInstallerAndTheUninstallersChoice)
{
    ASSERT_TRUE(StoreSettings());
    DWORD pid = 0;
    HANDLE setup = StartProcess(Quoted(SetupPath()), NULL, &pid);
    ASSERT_NE(nullptr, setup);
    HWND wizard = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (wizard = FindProcessWindow(pid, "#32770")) != NULL; }, 20000));

    ExpectPage(wizard, L"Welcome to Lumo2", "installer-1-welcome");
    PressNext(wizard);
    ExpectPage(wizard, L"Start Lumo2 when I sign in to Windows", "installer-2-options");
    HWND autoStart = FindControl(wizard, L"Start Lumo2 when I sign in to Windows");
    EXPECT_EQ(BST_CHECKED, SendMessageA(autoStart, BM_GETCHECK, 0, 0)) << "on by default";
    PressNext(wizard);
    ExpectPage(wizard, L"Destination Folder", "installer-3-folder");
    const std::string installFolder = DefaultInstallFolder();
    std::wstring folder(installFolder.begin(), installFolder.end());
    EXPECT_NE(nullptr, FindControl(wizard, folder.c_str()));
    PressNext(wizard);
    ExpectPage(wizard, L"Completed", "installer-4-progress");
    PressNext(wizard);
    ExpectPage(wizard, L"Completing Lumo2 Setup", "installer-5-finish");
    HWND startNow = FindControl(wizard, L"Start Lumo2");
    EXPECT_EQ(BST_CHECKED, SendMessageA(startNow, BM_GETCHECK, 0, 0));
    PressNext(wizard);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(setup, 20000));
    CloseHandle(setup);
    ExpectInstalled(DefaultInstallFolder(), true, true);

    // The uninstaller runs as a copy of itself in the temporary folder.
    HANDLE uninstall = StartProcess(Quoted(DefaultInstallFolder() + "\\Uninstall.exe"));
    ASSERT_NE(nullptr, uninstall);
    CloseHandle(uninstall);
    HWND confirm = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (confirm = FindWizardWith(L"Also remove my settings")) != NULL; }, 20000));
    ExpectPage(confirm, L"Also remove my settings", "uninstaller-confirm");
    HWND purge = FindControl(confirm, L"Also remove my settings");
    EXPECT_EQ(BST_UNCHECKED, SendMessageA(purge, BM_GETCHECK, 0, 0)) << "off by default";
    Click(purge);
    EXPECT_EQ(BST_CHECKED, SendMessageA(purge, BM_GETCHECK, 0, 0));
    PressNext(confirm);
    ExpectPage(confirm, L"Completed", "uninstaller-done");
    PressNext(confirm);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(confirm); }, 10000));
    ExpectNothingInstalled(DefaultInstallFolder());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ProgramKeyPath)) << "the ticked box removed the settings";
}

}  // namespace
