// The running program under Wine: start-up, tray commands, presses, and the
// Custom Settings window, driven from outside as a user and the system would.
// Presses come through the capture driver's latch, whose clearing shows when
// a poll has taken them.
#include "app/action_mode.h"
#include "app/elevation.h"
#include "app/shell.h"
#include "app/takeover.h"
#include "app/tray_window.h"
#include "res/resource.h"
#include "settings/custom_settings.h"
#include "tests/app/lumo_process.h"
#include "tests/joystick_log.h"
#include "tests/keyboard_hook.h"
#include "tests/registry_scratch.h"
#include "tests/sim_camera.h"
#include "tests/wait_until.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

typedef std::vector<KeyEvent> Events;

const Events Space = {Down(VK_SPACE), Up(VK_SPACE)};
const Events Enter = {Down(VK_RETURN), Up(VK_RETURN)};
const Events F5 = {Down(VK_F5), Up(VK_F5)};

class AppTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        ClearJoystickLog();
        sim = camera.State();
        ASSERT_NE(nullptr, sim);
        camera.Add(1);
        ASSERT_TRUE(hook.Installed());
    }

    // One press of the camera button, taken by a poll and acted on; what the
    // hook saw of it.
    Events Press()
    {
        EXPECT_TRUE(camera.PressAndWaitTaken()) << "no poll took the press";
        return hook.TakeUpToNow();
    }

    SimCamera camera;
    SimState* sim = nullptr;
    KeyboardHook hook;
    LumoProcess lumo;
};

TEST_F(AppTest, FirstStartUsesSpaceAndSecondCopyExitsQuietly)
{
    ASSERT_TRUE(lumo.Start());
    EXPECT_TRUE(lumo.HasTrayIcon());
    EXPECT_EQ(Describe(Space), Describe(Press()));
    EXPECT_EQ(0u, LumoProcess::RunSecondCopy(10000));
    EXPECT_TRUE(lumo.Running());
    EXPECT_EQ(1u, LumoTrayWindows().size());
    EXPECT_TRUE(lumo.HasTrayIcon());
    EXPECT_EQ(LONG(-12345), StoredActionMode(-12345)) << "starting writes nothing";
}

TEST_F(AppTest, StoredModeIsTakenAtStartUp)
{
    struct {
        const char* what;
        DWORD type;
        std::vector<BYTE> stored;
        Events press;
        LONG afterExit;  // what "Exit" writes back: the mode in force
    } cases[] = {
        {"Enter", REG_DWORD, {3, 0, 0, 0}, Enter, ModeEnter},
        {"Kodak", REG_DWORD, {5, 0, 0, 0}, F5, ModeKodak},
        {"custom", REG_DWORD, {10, 0, 0, 0}, {Down(VK_CONTROL), Down('Q'), Up('Q'), Up(VK_CONTROL)}, ModeCustom},
        {"0", REG_DWORD, {0, 0, 0, 0}, {}, 0},
        {"11", REG_DWORD, {11, 0, 0, 0}, {}, 11},
        {"-1", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, {}, -1},
        // A shorter value replaces the low bytes of the initial 2.
        {"one byte", REG_BINARY, {5}, F5, ModeKodak},
        {"two bytes", REG_BINARY, {3, 0}, Enter, ModeEnter},
        {"two bytes, high one set", REG_BINARY, {5, 1}, {}, 0x105},
        // A longer value cannot be read: the first start's mode.
        {"eight bytes", REG_BINARY, {5, 0, 0, 0, 0, 0, 0, 0}, Space, ModeSpace},
        {"five bytes", REG_BINARY, {3, 0, 0, 0, 0}, Space, ModeSpace},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
        CustomKeySettings custom = {Sequential, 1000, {{0, 1, 0, 'Q'}, {}, {}}};
        CustomSettings = custom;
        SaveCustomKeySettings();
        Store("key", c.type, c.stored.data(), DWORD(c.stored.size()));
        LumoProcess run;
        ASSERT_TRUE(run.Start());
        // The press is taken either way; a mode outside the menu sends nothing.
        EXPECT_EQ(Describe(c.press), Describe(Press()));
        run.Command(IDM_EXIT);
        EXPECT_EQ(0u, run.WaitForExit(5000));
        EXPECT_EQ(c.afterExit, StoredActionMode(-12345)) << "Exit writes the mode in force";
    }
}

TEST_F(AppTest, StoredJoystickModeOpensTheJoystickBeforeAnyPress)
{
    StoreDword("key", ModeJoystick);
    ASSERT_TRUE(lumo.Start());
    StandinLog log = ReadJoystickLogSettled(1);
    EXPECT_EQ(1u, log.opens);
    EXPECT_EQ(1u, log.openHandles);
    EXPECT_EQ(0u, log.count);
    EXPECT_TRUE(Press().empty()) << "the joystick mode types nothing";
    log = ReadJoystickLog();
    ASSERT_EQ(2u, log.count);
    EXPECT_EQ(1, log.packets[0].bytes[38]);
    EXPECT_EQ(0, log.packets[1].bytes[38]);
}

TEST_F(AppTest, ModeCommandsSelectTheModeAndStoreIt)
{
    struct {
        WORD command;
        LONG mode;
        Events first, second;
    } cases[] = {
        {IDM_SPACE, ModeSpace, Space, Space},
        {IDM_ENTER, ModeEnter, Enter, Enter},
        {IDM_SCHICK, ModeSchick, {Down(VK_MENU), Down('F'), Up('F'), Up(VK_MENU)},
         {Down(VK_MENU), Down('T'), Up('T'), Up(VK_MENU)}},
        {IDM_KODAK, ModeKodak, F5, F5},
        {IDM_SIDEXIS, ModeSidexis, {Down(VK_SHIFT), Down(VK_F12), Up(VK_F12), Up(VK_SHIFT)},
         {Down(VK_SHIFT), Down(VK_CONTROL), Down('V'), Up('V'), Up(VK_CONTROL), Up(VK_SHIFT)}},
        {IDM_ALT_F_ALT_S, ModeAltFAltS, {Down(VK_MENU), Down('F'), Up('F'), Up(VK_MENU)},
         {Down(VK_MENU), Down('S'), Up('S'), Up(VK_MENU)}},
        {IDM_CDX_VIEW, ModeCdxView, {Down(VK_MENU), Down('S'), Up('S'), Up(VK_MENU)},
         {Down(VK_MENU), Down('S'), Up('S'), Up(VK_MENU)}},
    };
    ASSERT_TRUE(lumo.Start());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        lumo.Command(c.command);
        EXPECT_EQ(c.mode, StoredActionMode(-1));
        EXPECT_EQ(Describe(c.first), Describe(Press()));
        EXPECT_EQ(Describe(c.second), Describe(Press()));
    }
    EXPECT_EQ(0, hook.NotInjected());
}

TEST_F(AppTest, JoystickCommandOpensTheDeviceEachTime)
{
    ASSERT_TRUE(lumo.Start());
    StandinLog log = ReadJoystickLog();
    EXPECT_EQ(0u, log.opens) << "not opened until chosen";
    lumo.Command(IDM_JOYSTICK);
    log = ReadJoystickLogSettled(1);
    EXPECT_EQ(1u, log.opens);
    EXPECT_EQ(1u, log.openHandles);
    lumo.Command(IDM_JOYSTICK);
    log = ReadJoystickLogSettled(1);
    EXPECT_EQ(2u, log.opens) << "chosen again, the device is opened again";
    EXPECT_EQ(1u, log.openHandles) << "and the old handle closed";
    EXPECT_EQ(ModeJoystick, StoredActionMode(-1));
    lumo.Command(IDM_SPACE);
    log = ReadJoystickLogSettled(1);
    EXPECT_EQ(0u, log.count) << "leaving the mode sends nothing";
    EXPECT_EQ(1u, log.openHandles) << "and closes nothing";
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
    EXPECT_EQ(0u, ReadJoystickLog().openHandles) << "closed at exit";
}

TEST_F(AppTest, WithoutPPJoyTheJoystickModeClicksVJoyAndGivesItBack)
{
    PPJoyOutOfReach ppjoyGone;
    ASSERT_TRUE(ppjoyGone.Done());
    VJoyRegistered vjoy;
    VJoyLog* log = OpenVJoyLog();
    ASSERT_NE(nullptr, log);
    StoreDword("key", ModeJoystick);
    ASSERT_TRUE(lumo.Start());
    const DWORD pid = lumo.ProcessId();
    auto callsAre = [&](const std::string& expected) {
        WaitUntil([&] { return DescribeVJoyCalls(pid) == expected; }, 5000);
        return DescribeVJoyCalls(pid);
    };
    EXPECT_EQ("acquire 1", callsAre("acquire 1")) << "taken at start-up";
    EXPECT_EQ(pid, log->owner);
    EXPECT_TRUE(Press().empty()) << "the joystick mode types nothing";
    EXPECT_EQ("acquire 1, down 1/1, up 1/1", callsAre("acquire 1, down 1/1, up 1/1"));
    EXPECT_GE(VJoyPressMs(), 95.0);
    EXPECT_LT(VJoyPressMs(), 1000.0);

    lumo.Command(IDM_SPACE);
    EXPECT_EQ("acquire 1, down 1/1, up 1/1, relinquish 1", DescribeVJoyCalls(pid));
    EXPECT_EQ(0u, log->owner) << "another mode gives the device back";
    EXPECT_EQ(Describe(Space), Describe(Press()));
    lumo.Command(IDM_JOYSTICK);
    EXPECT_EQ(pid, log->owner) << "chosen again, taken again";
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
    EXPECT_EQ("acquire 1, down 1/1, up 1/1, relinquish 1, acquire 1, relinquish 1", DescribeVJoyCalls(pid));
    EXPECT_EQ(0u, log->owner) << "given back at exit";
}

TEST_F(AppTest, CustomCombinationsArriveWithTheScanCodesOfTheRealKeys)
{
    CustomSettings = {SendAll, 0, {{0, 1, 0, VK_LEFT}, {0, 0, 1, VK_INSERT}, {0, 0, 0, VK_DIVIDE}}};
    SaveCustomKeySettings();
    StoreDword("key", ModeCustom);
    ASSERT_TRUE(lumo.Start());
    const Events expected = {Down(VK_CONTROL), Down(VK_LEFT), Up(VK_LEFT), Up(VK_CONTROL),
                             Down(VK_SHIFT), Down(VK_INSERT), Up(VK_INSERT), Up(VK_SHIFT),
                             Down(VK_DIVIDE), Up(VK_DIVIDE)};
    EXPECT_EQ(Describe(expected), Describe(Press()));
}

TEST_F(AppTest, ExitRemovesTheIconAndStoresTheModeButCloseDoesNot)
{
    ASSERT_TRUE(lumo.Start());
    lumo.Command(IDM_KODAK);
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    lumo.Command(40000);  // not a command of the menu
    EXPECT_EQ(LONG(-1), StoredActionMode(-1)) << "an unknown command writes nothing";
    HWND tray = lumo.Tray();
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
    EXPECT_EQ(ModeKodak, StoredActionMode(-1));
    EXPECT_FALSE(IsWindow(tray));

    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    LumoProcess closed;
    ASSERT_TRUE(closed.Start());
    PostMessageA(closed.Tray(), WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, closed.WaitForExit(5000));
    EXPECT_EQ(LONG(-1), StoredActionMode(-1)) << "WM_CLOSE ends without writing the mode";

    LumoProcess quit;
    ASSERT_TRUE(quit.Start());
    quit.Command(IDM_ENTER);
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    PostMessageA(quit.Tray(), RegisterWindowMessageA(QuitMessageName), 0, 0);
    EXPECT_EQ(0u, quit.WaitForExit(5000));
    EXPECT_EQ(LONG(-1), StoredActionMode(-1)) << "\"Lumo2Quit\" ends as WM_CLOSE does";
}

DWORD PlayedOwnIntegrity;
DWORD PlayOwnIntegrity()
{
    return PlayedOwnIntegrity;
}

// Another copy's tray window that never answers, as an older Lumo2 or a hung
// one would not answer "Lumo2Quit".
LRESULT CALLBACK DeafTrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= 0xC000)
        return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(AppTest, OnlyAStartAtAHigherLevelTakesOverFromTheRunningCopy)
{
    ASSERT_TRUE(lumo.Start());
    lumo.Command(IDM_KODAK);
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    lstrcpyA(TrayClassName, "Lumo");
    // Wine runs every process at one level; the real lookup reads it.
    DWORD running = LookUpWindowIntegrity(lumo.Tray());
    ASSERT_NE(0u, running);
    ASSERT_NE(IntegrityDenied, running);
    OwnIntegrityFn system = LookUpOwnIntegrity;
    LookUpOwnIntegrity = PlayOwnIntegrity;

    for (DWORD own : {running, running - 0x1000}) {
        PlayedOwnIntegrity = own;
        EXPECT_FALSE(TakeOverRunningCopy(TakeOverWaitMs)) << std::hex << own;
    }
    EXPECT_EQ(Describe(F5), Describe(Press())) << "the running copy goes on";

    PlayedOwnIntegrity = running + 0x1000;
    DWORD start = GetTickCount();
    EXPECT_TRUE(TakeOverRunningCopy(TakeOverWaitMs));
    EXPECT_LT(GetTickCount() - start, TakeOverWaitMs);
    EXPECT_EQ(0u, lumo.WaitForExit(0)) << "the process has ended, not only its window";
    EXPECT_EQ(LONG(-1), StoredActionMode(-1)) << "it ended as on WM_CLOSE";
    EXPECT_FALSE(TakeOverRunningCopy(TakeOverWaitMs)) << "no copy runs";

    HWND deaf = CreateFakeTrayWindow(DeafTrayProc);
    ASSERT_NE(nullptr, deaf);
    start = GetTickCount();
    EXPECT_FALSE(TakeOverRunningCopy(300)) << "a copy that stays is not joined by a second";
    EXPECT_GE(GetTickCount() - start, 290u);
    DestroyWindow(deaf);
    UnregisterClassA("Lumo", GetModuleHandleA(NULL));
    LookUpOwnIntegrity = system;
}

TEST(TakeOverTest, OnlyAReadableLowerLevelIsTakenOver)
{
    const struct {
        DWORD own, running;
        bool takesOver;
    } cases[] = {
        {0x3000, 0x2000, true},  {0x4000, 0x3000, true},   {0x3000, 0x3000, false},
        {0x2000, 0x3000, false}, {0x3000, IntegrityDenied, false}, {0x3000, 0, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.takesOver, RunsHigherThan(c.own, c.running)) << std::hex << c.own << " " << c.running;
}

TEST_F(AppTest, TrayButtonDownOpensThePopupMenu)
{
    ASSERT_TRUE(lumo.Start());
    struct {
        LPARAM mouse;
        bool opens;
    } cases[] = {{WM_MOUSEMOVE, false}, {WM_LBUTTONUP, false}, {WM_LBUTTONDBLCLK, false},
                 {WM_MBUTTONDOWN, false}, {WM_RBUTTONDOWN, true}, {WM_LBUTTONDOWN, true}};
    auto visibleMenu = [this] {
        HWND menu = FindProcessWindow(lumo.ProcessId(), "#32768");
        return menu && IsWindowVisible(menu) ? menu : NULL;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mouse);
        if (!c.opens) {
            // Handled by the time the call returns; a menu would still be
            // open in it.
            DWORD_PTR result;
            SendMessageTimeoutA(lumo.Tray(), WM_TRAY_CALLBACK, 0, c.mouse, SMTO_NORMAL, 3000, &result);
            EXPECT_EQ(nullptr, visibleMenu());
            continue;
        }
        PostMessageA(lumo.Tray(), WM_TRAY_CALLBACK, 0, c.mouse);
        ASSERT_TRUE(WaitUntil([&] { return visibleMenu() != NULL; }, 5000));
        HWND menu = visibleMenu();
        WaitUntil([&] { return Drawn(menu); }, 2000);
        SaveScreenshot(menu, "tray-menu");
        PostMessageA(lumo.Tray(), WM_CANCELMODE, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(menu); }, 5000));
    }
    // The tray window is responsive again once the menu has closed.
    lumo.Command(IDM_ENTER);
    EXPECT_EQ(ModeEnter, StoredActionMode(-1));
}

TEST_F(AppTest, AboutBoxKeepsPollingAndWritesTheModeBack)
{
    StoreDword("key", ModeKodak);
    ASSERT_TRUE(lumo.Start());
    StoreDword("key", 11);  // only the mode in force may come back
    PostMessageA(lumo.Tray(), WM_COMMAND, IDM_ABOUT, 0);
    HWND about = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (about = FindProcessWindow(lumo.ProcessId(), "#32770", "About Lumo2")) != NULL; },
                          5000));
    EXPECT_EQ(Describe(F5), Describe(Press())) << "presses act while the box is open";
    EXPECT_TRUE(WaitUntil([&] { return Drawn(about); }, 3000));
    EXPECT_TRUE(SaveScreenshot(about, "about-box"));
    EXPECT_EQ(11, StoredActionMode(-1)) << "nothing written while the box is open";
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }, 5000));
    EXPECT_TRUE(WaitUntil([] { return StoredActionMode(-1) == ModeKodak; }, 5000))
        << "\"key\" holds " << StoredActionMode(-1);
}

TEST_F(AppTest, DeviceChangeReconnectsToTheCaptureDriver)
{
    camera.RemoveAll();
    ASSERT_TRUE(lumo.Start());
    camera.LatchPress();  // latched while no camera is reachable

    camera.Add(1);
    AnnounceDeviceChange();
    EXPECT_TRUE(camera.WaitTaken()) << "the latch was taken";
    EXPECT_TRUE(camera.WaitForNextPoll());
    EXPECT_EQ(Describe(Space), Describe(hook.TakeUpToNow())) << "one latch, one press";

    // A storm of device changes leaves one working connection.
    for (int i = 0; i < 40; ++i)
        PostMessageA(lumo.Tray(), WM_DEVICECHANGE, i % 3 == 0 ? 0x8000 : 0x0007, 0);
    EXPECT_EQ(Describe(Space), Describe(Press()));
    EXPECT_EQ(Describe(Space), Describe(Press()));

    // Unplugged: the next device change leaves nothing to poll.
    camera.RemoveAll();
    AnnounceDeviceChange();
    camera.LatchPress();
    lumo.Command(IDM_ENTER);  // handled after the reconnect
    EXPECT_TRUE(hook.TakeUpToNow().empty());
    camera.Add(2);
    AnnounceDeviceChange();
    EXPECT_TRUE(camera.WaitTaken()) << "plugged back in";
    EXPECT_TRUE(camera.WaitForNextPoll());
    EXPECT_EQ(Describe(Enter), Describe(hook.TakeUpToNow()));
}

}  // namespace
