// The Custom Settings window of the running program: what it shows, real
// clicks and key presses captured as combinations, Save and Cancel.
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "tests/support/keyboard_hook.h"
#include "tests/support/lumo_process.h"
#include "tests/support/registry_scratch.h"
#include "tests/support/sim_camera.h"
#include "tests/support/wait_until.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

// Child controls of the settings window, in creation order.
std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

enum Control { SequentialRadio, SendAllRadio, TimeLabel, TimeField, Key1 = 5, Key2 = 8, Key3 = 11 };

class SettingsWindowTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        camera.Add(1);
    }

    void Open()
    {
        lumo.Command(IDM_CUSTOM_SETTINGS);
        window = lumo.Settings();
        ASSERT_NE(nullptr, window);
        controls = Children(window);
        ASSERT_EQ(15u, controls.size());
        EXPECT_TRUE(WaitUntil([this] { return Drawn(window); }, 3000));
    }

    std::string Text(int control) { return WindowText(controls[control]); }
    // The control's text once it shows the expected one, or as it stands
    // when the time is up. Input reaches the window in the order it was
    // given, so a field that shows the result of a later key has also
    // handled every earlier one.
    std::string TextOnceItShows(int control, const std::string& expected)
    {
        WaitUntil([&] { return Text(control) == expected; }, 3000);
        return Text(control);
    }
    bool Checked(int control)
    {
        DWORD_PTR state = 0;
        SendMessageTimeoutA(controls[control], BM_GETCHECK, 0, 0, SMTO_BLOCK, 2000, &state);
        return state == BST_CHECKED;
    }

    void Click(int control) { ClickWindow(controls[control]); }

    // The window that has the keyboard focus in the program's GUI thread.
    HWND Focus()
    {
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info);
        return info.hwndFocus;
    }

    // A real left click in the middle of a window, through the input system;
    // returns once the window has the focus that the click gives it. A click
    // made while the window is still being put on the display lands beside
    // it, so it is made again until it lands.
    void ClickWindow(HWND target)
    {
        SetForegroundWindow(window);
        RECT rect;
        GetWindowRect(target, &rect);
        int x = (rect.left + rect.right) / 2, y = (rect.top + rect.bottom) / 2;
        INPUT input[2] = {};
        input[0].type = input[1].type = INPUT_MOUSE;
        input[0].mi.dx = input[1].mi.dx = MulDiv(x, 65536, GetSystemMetrics(SM_CXSCREEN)) + 1;
        input[0].mi.dy = input[1].mi.dy = MulDiv(y, 65536, GetSystemMetrics(SM_CYSCREEN)) + 1;
        input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTDOWN;
        input[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTUP;
        bool focused = false;
        for (int attempt = 0; attempt < 5 && !focused; ++attempt) {
            SendInput(2, input, sizeof(INPUT));
            focused = WaitUntil([&] { return Focus() == target; }, 1000);
        }
        EXPECT_TRUE(focused) << "the click gave no focus";
    }

    // Real key presses: modifiers held around one key.
    void Type(std::vector<BYTE> modifiers, BYTE key)
    {
        for (BYTE m : modifiers)
            keybd_event(m, 0, 0, 0);
        keybd_event(key, 0, 0, 0);
        keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
        for (auto m = modifiers.rbegin(); m != modifiers.rend(); ++m)
            keybd_event(*m, 0, KEYEVENTF_KEYUP, 0);
    }

    void Command(WORD id)
    {
        DWORD_PTR result;
        SendMessageTimeoutA(window, WM_COMMAND, id, 0, SMTO_NORMAL, 5000, &result);
    }

    SimCamera camera;
    LumoProcess lumo;
    HWND window = NULL;
    std::vector<HWND> controls;
};

TEST_F(SettingsWindowTest, FirstOpeningShowsSequentialZeroAndEmptyKeys)
{
    ASSERT_TRUE(lumo.Start());
    EXPECT_EQ(nullptr, lumo.Settings()) << "made on the first opening, not at start-up";
    Open();
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_TRUE(Checked(SequentialRadio));
    EXPECT_FALSE(Checked(SendAllRadio));
    EXPECT_EQ("initial time(ms)", Text(TimeLabel));
    EXPECT_EQ("0", Text(TimeField));
    EXPECT_EQ("", Text(Key1));
    EXPECT_EQ("", Text(Key2));
    EXPECT_EQ("", Text(Key3));
    EXPECT_EQ(LONG(ModeSpace), StoredActionMode(-1)) << "the menu command stores the mode it leaves alone";
}

TEST_F(SettingsWindowTest, OpeningShowsTheStoredValues)
{
    // Each opening reads the registry again. The README's picture is taken
    // of the ordinary interval, not of the negative one a hand-edited
    // registry may hold.
    const struct {
        LONG time;
        const char* shown;
        const char* screenshot;
    } cases[] = {{250, "250", "custom-settings"}, {-250, "-250", NULL}};
    ASSERT_TRUE(lumo.Start());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        CustomSettings = {SendAll, c.time, {{1, 0, 1, VK_F5}, {0, 1, 0, 'S'}, {0, 0, 0, 0x6C}}};
        SaveCustomKeySettings();
        Open();
        EXPECT_TRUE(Checked(SendAllRadio));
        EXPECT_FALSE(Checked(SequentialRadio));
        EXPECT_EQ("interval time(ms)", Text(TimeLabel));
        EXPECT_EQ(c.shown, Text(TimeField));
        EXPECT_EQ("ALT + SHIFT + F5", Text(Key1));
        EXPECT_EQ("CTRL + S", Text(Key2));
        EXPECT_EQ("", Text(Key3));
        RECT rect;
        GetWindowRect(window, &rect);
        EXPECT_EQ(300, rect.right - rect.left);
        EXPECT_EQ(250, rect.bottom - rect.top);
        EXPECT_EQ((GetSystemMetrics(SM_CXMAXIMIZED) - 300) / 2, rect.left);
        EXPECT_EQ((GetSystemMetrics(SM_CYMAXIMIZED) - 250) / 2, rect.top);
        EXPECT_EQ(LONG(WS_CAPTION), GetWindowLongA(window, GWL_STYLE) & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME));
        if (c.screenshot) {
            EXPECT_TRUE(SaveScreenshot(window, c.screenshot));
        }
        Command(IDC_CANCEL);
        EXPECT_TRUE(WaitUntil([this] { return !IsWindowVisible(window); }, 5000));
    }
}

TEST_F(SettingsWindowTest, UnknownStoredSendModeLeavesTheRadioButtonsAlone)
{
    StoreDword("mode", 2);
    ASSERT_TRUE(lumo.Start());
    Open();
    EXPECT_FALSE(Checked(SequentialRadio));
    EXPECT_FALSE(Checked(SendAllRadio));
    EXPECT_EQ("", Text(TimeLabel));
}

TEST_F(SettingsWindowTest, KeysPressedInAKeyFieldAreCapturedNotTyped)
{
    ASSERT_TRUE(lumo.Start());
    Open();
    Click(Key1);
    Type({}, VK_CONTROL);  // Ctrl alone does nothing, or S would not be taken
    Type({VK_CONTROL}, 'S');
    EXPECT_EQ("CTRL + S", TextOnceItShows(Key1, "CTRL + S"));
    Type({VK_SHIFT}, 'X');

    Click(Key2);
    Type({VK_MENU}, VK_F4);
    EXPECT_EQ("ALT + F4", TextOnceItShows(Key2, "ALT + F4"));
    EXPECT_EQ("CTRL + S", Text(Key1)) << "a shown combination stays until Clear";
    EXPECT_TRUE(IsWindowVisible(window)) << "Alt+F4 in a key field closes nothing";
    EXPECT_TRUE(lumo.Running());

    Click(Key3);
    Type({}, VK_TAB);
    EXPECT_EQ("Tab", TextOnceItShows(Key3, "Tab"));

    Command(IDC_CLEAR_KEY3);
    EXPECT_EQ("", Text(Key3));
    Click(Key3);
    Type({}, VK_F10);
    EXPECT_EQ("F10", TextOnceItShows(Key3, "F10"));

    Click(TimeField);
    SendMessageTimeoutA(controls[TimeField], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""), SMTO_BLOCK, 2000,
                        NULL);
    for (BYTE key : {'0', 'A', '2', '5', 'Z', '0'})
        Type({}, key);
    EXPECT_EQ("0250", TextOnceItShows(TimeField, "0250")) << "digits go in as usual, letters do not";

    Click(SendAllRadio);
    EXPECT_EQ("interval time(ms)", TextOnceItShows(TimeLabel, "interval time(ms)"));
    EXPECT_TRUE(WaitUntil([this] { return Drawn(window); }, 3000));
    EXPECT_TRUE(SaveScreenshot(window, "custom-settings-captured"));

    Command(IDC_SAVE);
    EXPECT_FALSE(IsWindowVisible(window));
    ExpectStoredValues({
        {"mode", REG_DWORD, {1, 0, 0, 0}},     {"time", REG_DWORD, {250, 0, 0, 0}},
        {"key1_alt", REG_BINARY, {0}},         {"key1_control", REG_BINARY, {1}},
        {"key1_shift", REG_BINARY, {0}},       {"key1_k", REG_DWORD, {'S', 0, 0, 0}},
        {"key2_alt", REG_BINARY, {1}},         {"key2_control", REG_BINARY, {0}},
        {"key2_shift", REG_BINARY, {0}},       {"key2_k", REG_DWORD, {VK_F4, 0, 0, 0}},
        {"key3_alt", REG_BINARY, {0}},         {"key3_control", REG_BINARY, {0}},
        {"key3_shift", REG_BINARY, {0}},       {"key3_k", REG_DWORD, {VK_F10, 0, 0, 0}},
    });
    EXPECT_EQ(LONG(ModeSpace), StoredActionMode(-1)) << "Save leaves \"key\" to the next menu command";

    // The next press sends all three, 250 ms apart, and nothing else.
    KeyboardHook hook;
    ASSERT_TRUE(camera.PressAndWaitTaken());
    std::vector<KeyEvent> all = {Down(VK_CONTROL), Down('S'),   Up('S'),      Up(VK_CONTROL),
                                 Down(VK_MENU),    Down(VK_F4), Up(VK_F4),    Up(VK_MENU),
                                 Down(VK_F10),     Up(VK_F10)};
    // The camera process polls on while Lumo2 sends them: wait for all.
    std::vector<KeyEvent> seen = hook.WaitFor(all.size(), 5000);
    for (const KeyEvent& event : hook.TakeUpToNow())
        seen.push_back(event);
    EXPECT_EQ(Describe(all), Describe(seen));

    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
    EXPECT_EQ(LONG(ModeCustom), StoredActionMode(-1));
}

TEST_F(SettingsWindowTest, CancelKeepsChangesInMemoryUntilTheWindowReopens)
{
    CustomSettings = {Sequential, 1000, {{0, 0, 0, 'A'}, {}, {}}};
    SaveCustomKeySettings();
    StoreDword("key", ModeCustom);
    ASSERT_TRUE(lumo.Start());
    Open();
    Command(IDC_CLEAR_KEY1);
    Click(Key1);
    Type({}, 'B');
    EXPECT_EQ("B", TextOnceItShows(Key1, "B"));
    Command(IDC_CANCEL);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(std::vector<BYTE>({'A', 0, 0, 0}), ReadStored("key1_k").bytes);

    {
        KeyboardHook hook;
        ASSERT_TRUE(camera.PressAndWaitTaken());
        EXPECT_EQ(Describe({Down('B'), Up('B')}), Describe(hook.TakeUpToNow()));
    }
    Open();
    EXPECT_EQ("A", Text(Key1)) << "reopening shows the stored combination again";
}

TEST_F(SettingsWindowTest, CloseHidesTheWindowAndTheMenuShowsItAgain)
{
    ASSERT_TRUE(lumo.Start());
    Open();
    HWND first = window;
    DWORD_PTR result;
    SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, &result);
    EXPECT_TRUE(IsWindow(first)) << "closing keeps the window";
    EXPECT_FALSE(IsWindowVisible(first));
    EXPECT_TRUE(lumo.Running());
    Open();
    EXPECT_EQ(first, window);
    EXPECT_TRUE(IsWindowVisible(window));
}

}  // namespace
