// The real keybd_event path: what a press injects reaches a low-level hook.
#include "actions/actions.h"
#include "app/action_mode.h"
#include "settings/custom_settings.h"
#include "tests/keyboard_hook.h"
#include <gtest/gtest.h>

namespace {

TEST(InjectedKeysTest, FixedAndCustomModesReachALowLevelHookAsInjectedEvents)
{
    struct {
        LONG mode;
        std::vector<KeyEvent> expected;
    } cases[] = {
        {ModeSpace, {Down(VK_SPACE), Up(VK_SPACE)}},
        {ModeSidexis, {Down(VK_SHIFT), Down(VK_F12), Up(VK_F12), Up(VK_SHIFT)}},
        {ModeSidexis,
         {Down(VK_SHIFT), Down(VK_CONTROL), Down('V'), Up('V'), Up(VK_CONTROL), Up(VK_SHIFT)}},
        {ModeCustom, {Down(VK_MENU), Down(VK_CONTROL), Down('K'), Up('K'), Up(VK_MENU),
                      Up(VK_CONTROL)}},
    };
    CustomSettings = {Sequential, 1000, {{1, 1, 0, 'K'}, {0, 0, 0, 0}, {0, 0, 0, 0}}};
    HotkeyToggle = 0;

    KeyboardHook hook;
    ASSERT_TRUE(hook.Installed());
    for (const auto& c : cases) {
        ActionMode = c.mode;
        PerformAction();
        std::vector<KeyEvent> seen = hook.WaitFor(c.expected.size(), 3000);
        EXPECT_EQ(Describe(c.expected), Describe(seen)) << "mode " << c.mode;
    }
    EXPECT_EQ(0, hook.NotInjected());
    EXPECT_TRUE(hook.TakeUpToNow().empty()) << "nothing more";
}

}  // namespace
