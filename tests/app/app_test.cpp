// The running program under Wine: start-up, tray commands, presses, and the
// Custom Settings window, driven from outside as a user and the system would.
#include "app/action_mode.h"
#include "app/shell.h"
#include "res/resource.h"
#include "settings/custom_settings.h"
#include "tests/app/lumo_process.h"
#include "tests/joystick_log.h"
#include "tests/keyboard_hook.h"
#include "tests/registry_scratch.h"
#include "tests/sim_camera.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

typedef std::vector<KeyEvent> Events;

const Events Space = {Down(VK_SPACE), Up(VK_SPACE)};

class AppTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        ClearJoystickLog();
        sim = camera.State();
        ASSERT_NE(nullptr, sim);
        sim->euConnectedResult = 1;  // the extension unit answers unless a test says otherwise
    }

    // One press of the camera button on the extension-unit route; what the
    // hook saw of it.
    Events Press(size_t expectedEvents, DWORD timeoutMs = 3000)
    {
        sim->euButtonDown = 1;
        Events seen = hook.WaitFor(expectedEvents, timeoutMs);
        sim->euButtonDown = 0;
        // Let a poll see the button up, and catch anything sent late.
        Events late = hook.CollectFor(250);
        seen.insert(seen.end(), late.begin(), late.end());
        return seen;
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
    EXPECT_EQ(Describe(Space), Describe(Press(2)));
    EXPECT_EQ(0u, LumoProcess::RunSecondCopy(10000));
    EXPECT_TRUE(lumo.Running());
    int trayWindows = 0;
    for (HWND w = FindWindowExA(NULL, NULL, "Lumo", NULL); w; w = FindWindowExA(NULL, w, "Lumo", NULL))
        ++trayWindows;
    EXPECT_EQ(1, trayWindows);
    EXPECT_TRUE(lumo.HasTrayIcon());
    EXPECT_EQ(LONG(-12345), StoredActionMode(-12345)) << "starting writes nothing";
}

TEST_F(AppTest, StoredModeIsTakenAtStartUp)
{
    struct {
        LONG stored;
        Events press;
    } cases[] = {
        {ModeEnter, {Down(VK_RETURN), Up(VK_RETURN)}},
        {ModeKodak, {Down(VK_F5), Up(VK_F5)}},
        {ModeCustom, {Down(VK_CONTROL), Down('Q'), Up('Q'), Up(VK_CONTROL)}},
        {0, {}},
        {11, {}},
        {-1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
        CustomKeySettings custom = {Sequential, 1000, {{0, 1, 0, 'Q'}, {}, {}}};
        CustomSettings = custom;
        SaveCustomKeySettings();
        StoreDword("key", DWORD(c.stored));
        LumoProcess run;
        ASSERT_TRUE(run.Start());
        EXPECT_EQ(Describe(c.press), Describe(Press(c.press.size(), c.press.empty() ? 400 : 3000)));
        run.Command(IDM_EXIT);
        EXPECT_EQ(0u, run.WaitForExit(5000));
        EXPECT_EQ(c.stored, StoredActionMode(-12345)) << "Exit writes the mode back unchanged";
    }
}

TEST_F(AppTest, StoredJoystickModeOpensTheJoystickBeforeAnyPress)
{
    StoreDword("key", ModeJoystick);
    ASSERT_TRUE(lumo.Start());
    EXPECT_EQ(1u, ReadJoystickLog().openHandles);
    sim->euButtonDown = 1;
    PumpMessagesFor(600);
    sim->euButtonDown = 0;
    StandinLog log = ReadJoystickLog();
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
        {IDM_ENTER, ModeEnter, {Down(VK_RETURN), Up(VK_RETURN)}, {Down(VK_RETURN), Up(VK_RETURN)}},
        {IDM_SCHICK, ModeSchick, {Down(VK_MENU), Down('F'), Up('F'), Up(VK_MENU)},
         {Down(VK_MENU), Down('T'), Up('T'), Up(VK_MENU)}},
        {IDM_KODAK, ModeKodak, {Down(VK_F5), Up(VK_F5)}, {Down(VK_F5), Up(VK_F5)}},
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
        EXPECT_EQ(Describe(c.first), Describe(Press(c.first.size())));
        EXPECT_EQ(Describe(c.second), Describe(Press(c.second.size())));
    }
    EXPECT_EQ(0, hook.NotInjected());
}

TEST_F(AppTest, JoystickCommandOpensTheDeviceEachTime)
{
    ASSERT_TRUE(lumo.Start());
    EXPECT_EQ(0u, ReadJoystickLog().openHandles) << "not opened until chosen";
    lumo.Command(IDM_JOYSTICK);
    lumo.Command(IDM_JOYSTICK);
    EXPECT_EQ(1u, ReadJoystickLog().openHandles);
    EXPECT_EQ(ModeJoystick, StoredActionMode(-1));
    lumo.Command(IDM_SPACE);
    EXPECT_EQ(0u, ReadJoystickLog().count) << "leaving the mode sends nothing";
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
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
}

TEST_F(AppTest, TrayButtonDownOpensThePopupMenu)
{
    ASSERT_TRUE(lumo.Start());
    struct {
        LPARAM mouse;
        bool opens;
    } cases[] = {{WM_MOUSEMOVE, false}, {WM_LBUTTONUP, false}, {WM_LBUTTONDBLCLK, false},
                 {WM_MBUTTONDOWN, false}, {WM_RBUTTONDOWN, true}, {WM_LBUTTONDOWN, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mouse);
        PostMessageA(lumo.Tray(), WM_TRAY_CALLBACK, 0, c.mouse);
        HWND menu = NULL;
        for (int i = 0; i < 40 && !menu; ++i) {
            PumpMessagesFor(25);
            menu = FindProcessWindow(lumo.ProcessId(), "#32768");
            if (menu && !IsWindowVisible(menu))
                menu = NULL;
        }
        EXPECT_EQ(c.opens, menu != NULL);
        if (menu) {
            SaveScreenshot(menu, "tray-menu");
            PostMessageA(lumo.Tray(), WM_CANCELMODE, 0, 0);
            for (int i = 0; i < 40 && IsWindowVisible(menu); ++i)
                PumpMessagesFor(25);
        }
    }
    // The tray window is responsive again once the menu has closed.
    lumo.Command(IDM_ENTER);
    EXPECT_EQ(ModeEnter, StoredActionMode(-1));
}

TEST_F(AppTest, AboutBoxKeepsPollingAndWritesTheModeBack)
{
    StoreDword("key", 11);
    ASSERT_TRUE(lumo.Start());
    PostMessageA(lumo.Tray(), WM_COMMAND, IDM_ABOUT, 0);
    HWND about = NULL;
    for (int i = 0; i < 100 && !about; ++i) {
        PumpMessagesFor(30);
        about = FindProcessWindow(lumo.ProcessId(), "#32770", "About Lumo2");
    }
    ASSERT_NE(nullptr, about);
    PumpMessagesFor(300);
    EXPECT_TRUE(SaveScreenshot(about, "about-box"));
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && IsWindow(about); ++i)
        PumpMessagesFor(30);
    EXPECT_FALSE(IsWindow(about));
    EXPECT_EQ(11, StoredActionMode(-1));
}

TEST_F(AppTest, DeviceChangeReconnectsToTheCaptureDriver)
{
    sim->euConnectedResult = 0;
    ASSERT_TRUE(lumo.Start());
    sim->registers[0x0C] = 0x20;
    EXPECT_TRUE(hook.CollectFor(400).empty()) << "no camera yet";

    camera.Add(1, "USB 2820 Video");
    sim->registers[0x0C] = 0x00;
    AnnounceDeviceChange();
    sim->registers[0x0C] = 0x20;
    EXPECT_EQ(Describe(Space), Describe(hook.WaitFor(2, 3000)));
    EXPECT_EQ(0x00, sim->registers[0x0C]) << "the latch was cleared";
    EXPECT_TRUE(hook.CollectFor(300).empty()) << "one latch, one press";

    // A storm of device changes leaves one working connection.
    for (int i = 0; i < 40; ++i)
        PostMessageA(lumo.Tray(), WM_DEVICECHANGE, i % 3 == 0 ? 0x8000 : 0x0007, 0);
    lumo.Command(IDM_SPACE);  // handled after the storm
    sim->registers[0x0C] = 0x20;
    EXPECT_EQ(Describe(Space), Describe(hook.WaitFor(2, 3000)));
    EXPECT_TRUE(hook.CollectFor(300).empty());
}

}  // namespace
