// The real SendInput path: what a press injects reaches a low-level hook
// with the scan code and extended flag of the real key.
#include "actions/actions.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "tests/support/keyboard_hook.h"
#include <gtest/gtest.h>

namespace {

TEST(InjectedKeysTest, FixedAndCustomModesReachALowLevelHookAsInjectedEvents)
{
    struct {
        LONG mode;
        KeyCombo combo;  // the custom mode's only combination
        std::vector<KeyEvent> expected;
    } cases[] = {
        {ModeSpace, {}, {Down(VK_SPACE), Up(VK_SPACE)}},
        {ModeSidexis, {}, {Down(VK_SHIFT), Down(VK_F12), Up(VK_F12), Up(VK_SHIFT)}},
        {ModeSidexis, {},
         {Down(VK_SHIFT), Down(VK_CONTROL), Down('V'), Up('V'), Up(VK_CONTROL), Up(VK_SHIFT)}},
        {ModeCustom, {1, 1, 0, 'K'}, {Down(VK_MENU), Down(VK_CONTROL), Down('K'), Up('K'), Up(VK_MENU),
                                     Up(VK_CONTROL)}},
        // The extended keys and the numpad twin they must not turn into.
        {ModeCustom, {0, 1, 0, VK_LEFT}, {Down(VK_CONTROL), Down(VK_LEFT), Up(VK_LEFT), Up(VK_CONTROL)}},
        {ModeCustom, {0, 0, 1, VK_INSERT}, {Down(VK_SHIFT), Down(VK_INSERT), Up(VK_INSERT), Up(VK_SHIFT)}},
        {ModeCustom, {0, 0, 0, VK_NUMPAD4}, {Down(VK_NUMPAD4), Up(VK_NUMPAD4)}},
        {ModeCustom, {0, 0, 0, VK_DELETE}, {Down(VK_DELETE), Up(VK_DELETE)}},
        {ModeCustom, {0, 0, 0, VK_DIVIDE}, {Down(VK_DIVIDE), Up(VK_DIVIDE)}},
        {ModeCustom, {0, 0, 0, VK_APPS}, {Down(VK_APPS), Up(VK_APPS)}},
        // The three whose codes are chosen rather than looked up.
        {ModeCustom, {0, 0, 0, VK_NUMLOCK}, {Down(VK_NUMLOCK), Up(VK_NUMLOCK)}},
        {ModeCustom, {0, 0, 0, VK_PAUSE}, {Down(VK_PAUSE), Up(VK_PAUSE)}},
        {ModeCustom, {0, 0, 0, VK_SNAPSHOT}, {Down(VK_SNAPSHOT), Up(VK_SNAPSHOT)}},
    };
    HotkeyToggle = 0;

    KeyboardHook hook;
    ASSERT_TRUE(hook.Installed());
    for (const auto& c : cases) {
        CustomSettings = {Sequential, 1000, {c.combo, {0, 0, 0, 0}, {0, 0, 0, 0}}};
        ActionMode = c.mode;
        PerformAction();
        std::vector<KeyEvent> seen = hook.WaitFor(c.expected.size(), 3000);
        EXPECT_EQ(Describe(c.expected), Describe(seen)) << "mode " << c.mode;
    }
    EXPECT_EQ(0, hook.NotInjected());
    EXPECT_TRUE(hook.TakeUpToNow().empty()) << "nothing more";
}

}  // namespace
