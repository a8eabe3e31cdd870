// What one press sends in each fixed mode, and the alternation they share.
#include "actions/actions.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "tests/support/key_recorder.h"
#include <gtest/gtest.h>

namespace {

class PerformActionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HotkeyToggle = 0;
        ActionMode = ModeSpace;
    }

    // What one press sent; calls gets how many events each call carried.
    Events Press(LONG mode)
    {
        ActionMode = mode;
        PerformAction();
        calls = recorder.Calls();
        return recorder.Take();
    }

    KeyRecorder recorder;
    std::vector<UINT> calls;
};

struct FixedModeCase {
    LONG mode;
    LONG toggleBefore;
    Events events;
    LONG toggleAfter;
};

const FixedModeCase FixedModeCases[] = {
    {ModeSpace, 0, Space, 0},         {ModeSpace, 1, Space, 1},
    {ModeEnter, 0, Enter, 0},         {ModeEnter, 1, Enter, 1},
    {ModeSchick, 0, AltF, 1},         {ModeSchick, 1, AltT, 0},
    {ModeKodak, 0, F5, 0},            {ModeKodak, 1, F5, 1},
    {ModeSidexis, 0, ShiftF12, 1},    {ModeSidexis, 1, CtrlShiftV, 0},
    {ModeAltFAltS, 0, AltF, 1},       {ModeAltFAltS, 1, AltS, 0},
    {ModeCdxView, 0, AltS, 0},        {ModeCdxView, 1, AltS, 0},
};

TEST_F(PerformActionTest, FixedModesSendExactlyTheirEventsAndMoveTheToggle)
{
    for (const FixedModeCase& c : FixedModeCases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", toggle " << c.toggleBefore);
        HotkeyToggle = c.toggleBefore;
        Events sent = Press(c.mode);
        EXPECT_EQ(Describe(c.events), Describe(sent));
        EXPECT_EQ(std::vector<UINT>{UINT(c.events.size())}, calls) << "one press, one call";
        EXPECT_TRUE(KeysBalanced(sent));
        EXPECT_EQ(c.toggleAfter, HotkeyToggle);
    }
}

TEST_F(PerformActionTest, APressThatGoesInOnlyPartlyReleasesWhatItLeftDown)
{
    struct {
        UINT accepted;   // events of the press that went in
        Events release;  // sent in one more call
    } cases[] = {
        {3, {Up('V'), Up(VK_CONTROL), Up(VK_SHIFT)}}, {4, {Up(VK_CONTROL), Up(VK_SHIFT)}}, {0, {}}, {6, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.accepted);
        HotkeyToggle = 1;
        recorder.AcceptOnlyNext(c.accepted);
        Events expected = CtrlShiftV;
        expected.insert(expected.end(), c.release.begin(), c.release.end());
        EXPECT_EQ(Describe(expected), Describe(Press(ModeSidexis)));
        EXPECT_EQ(c.release.empty() ? 1u : 2u, calls.size());
    }
}

TEST_F(PerformActionTest, AlternatingModeSendsSecondHotkeyAfterFirst)
{
    EXPECT_EQ(Describe(AltF), Describe(Press(ModeAltFAltS)));
    EXPECT_EQ(Describe(AltS), Describe(Press(ModeAltFAltS)));
    EXPECT_EQ(Describe(AltF), Describe(Press(ModeAltFAltS)));
}

struct SequenceCase {
    const char* name;
    std::vector<LONG> modes;
    std::vector<Events> expected;
};

TEST_F(PerformActionTest, OneToggleIsSharedByTheAlternatingModes)
{
    const SequenceCase cases[] = {
        {"Schick then SIDEXIS", {ModeSchick, ModeSidexis}, {AltF, CtrlShiftV}},
        {"CDX View resets", {ModeSchick, ModeCdxView, ModeSchick}, {AltF, AltS, AltF}},
        {"CDX View resets for mode 7", {ModeAltFAltS, ModeCdxView, ModeAltFAltS}, {AltF, AltS, AltF}},
        {"plain keys leave it", {ModeSchick, ModeSpace, ModeSchick}, {AltF, Space, AltT}},
        {"Enter and F5 leave it", {ModeSidexis, ModeEnter, ModeKodak, ModeSidexis},
         {ShiftF12, Enter, F5, CtrlShiftV}},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        HotkeyToggle = 0;
        for (size_t i = 0; i < c.modes.size(); ++i)
            EXPECT_EQ(Describe(c.expected[i]), Describe(Press(c.modes[i]))) << "press " << i;
    }
}

// Presses in front of two programs with rules of their own (keys A and B)
// and of others (0: the shared state), in turn; CDX View sets only its own
// press's toggle back.
TEST_F(PerformActionTest, EachRuleAlternatesAndStepsOnItsOwnAndTheRestShareOne)
{
    const ULONGLONG A = 0xA11CE, B = 0xB0B;
    const struct {
        ULONGLONG rule;
        LONG mode;
        Events sent;
    } steps[] = {
        {A, ModeSchick, AltF},  {B, ModeSchick, AltF},        {0, ModeAltFAltS, AltF},   {A, ModeCdxView, AltS},
        {0, ModeAltFAltS, AltS}, {B, ModeSidexis, CtrlShiftV}, {A, ModeSchick, AltF},     {B, ModeSidexis, ShiftF12},
        {A, ModeSchick, AltT},  {0, ModeSchick, AltF},
    };
    for (const auto& s : steps) {
        PerformActionWith(s.mode, CustomKeySettings(), PressStateFor(s.rule));
        EXPECT_EQ(Describe(s.sent), Describe(recorder.Take())) << "rule " << s.rule << ", mode " << s.mode;
    }
    EXPECT_EQ(1, HotkeyToggle);
    // Sequential likewise.
    CustomKeySettings custom = {Sequential, 60000, {{0, 0, 0, '1'}, {0, 0, 0, '2'}, {0, 0, 0, '3'}}};
    const ULONGLONG rules[] = {A, B, A, 0, A, B};
    const BYTE sent[] = {'1', '1', '2', '1', '3', '2'};
    for (size_t i = 0; i < 6; ++i) {
        PerformActionWith(ModeCustom, custom, PressStateFor(rules[i]));
        EXPECT_EQ(Describe({Down(sent[i]), Up(sent[i])}), Describe(recorder.Take())) << "press " << i;
    }
    EXPECT_EQ(1, SequencePosition);
    // Bounded: after as many other rules as there are places, A starts afresh.
    PressStateFor(A)->toggle = 1;
    for (ULONGLONG key = 1; key <= RuleStatesMax; ++key)
        PressStateFor(0x5000000 + key);
    EXPECT_EQ(0, PressStateFor(A)->toggle);
}

TEST_F(PerformActionTest, ModesOutsideTheMenuSendNothingAndKeepTheToggle)
{
    const LONG modes[] = {0, 1, 11, 12, -1, -8, LONG(0x80000000), 0x7FFFFFFF, 0x7FFFFFF0 + 2};
    for (LONG mode : modes) {
        for (LONG toggle : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode);
            HotkeyToggle = toggle;
            EXPECT_TRUE(Press(mode).empty());
            EXPECT_EQ(toggle, HotkeyToggle);
        }
    }
}

}  // namespace
