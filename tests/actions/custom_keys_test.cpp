// The user's combinations: Sequential turns and restarts, Send All pauses.
#include "actions/actions.h"
#include "actions/key_output.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "tests/support/key_recorder.h"
#include <gtest/gtest.h>
#include <string.h>

namespace {

DWORD FakeNow;
DWORD FakeClock() { return FakeNow; }

const KeyCombo None = {0, 0, 0, 0};
const KeyCombo CtrlA = {0, 1, 0, 'A'};
const KeyCombo AltShiftB = {1, 0, 1, 'B'};
const KeyCombo PlainC = {0, 0, 0, 'C'};

// A program with this layout in front while it lives (null: the test bed's
// own), the look-ups counted. The Korean one is played, as the test bed has
// none: Hangul and Hanja give E0 38 and E0 1D, 'A' nothing, the rest what
// the US layout gives.
const HKL KoreanLayout = reinterpret_cast<HKL>(0xE0010412);
HKL LayoutPlayed;
int LayoutLookups;
HKL PlayedLayoutInFront() { return ++LayoutLookups, LayoutPlayed; }
UINT PlayedMap(UINT code, UINT mapType, HKL layout)
{
    if (layout == KoreanLayout && (code == VK_HANGUL || code == VK_HANJA || code == 'A'))
        return code == VK_HANGUL ? 0xE038 : code == VK_HANJA ? 0xE01D : 0;
    return MapVirtualKeyExA(code, mapType, GetKeyboardLayout(0));
}
struct LayoutInFront {
    explicit LayoutInFront(HKL layout)
    {
        LayoutPlayed = layout ? layout : GetKeyboardLayout(0);
        LayoutLookups = 0;
        LookUpKeyboardLayout = PlayedLayoutInFront;
        MapKeyOnLayout = PlayedMap;
    }
    ~LayoutInFront()
    {
        LookUpKeyboardLayout = KeyboardLayoutInFront;
        MapKeyOnLayout = MapKeyOnLayoutOfSystem;
        BeginKeyPress();
    }
};
KeyEvent KeyAs(BYTE vk, bool down, WORD scan) { return {vk, down, false, 0, scan, true}; }

Events EventsOf(const KeyCombo& combo)
{
    KeyRecorder recorder;
    SendKeyCombo(combo);
    return recorder.Take();
}

class CustomKeysTest : public ::testing::Test {
protected:
    // Every press is made under a KeyRecorder, which also takes the pauses.
    void SetUp() override
    {
        systemClock = CustomKeysClock;
        CustomKeysClock = FakeClock;
        FakeNow = 100000;
        SequencePosition = 0;
        LastSendTime = 0;
        ActionMode = ModeCustom;
        CustomSettings = CustomKeySettings();
    }

    void TearDown() override
    {
        CustomKeysClock = systemClock;
        CustomSettings = CustomKeySettings();
    }

    ClockFn systemClock = nullptr;

    void Use(LONG mode, LONG time, KeyCombo a, KeyCombo b, KeyCombo c)
    {
        CustomSettings.mode = mode;
        CustomSettings.time = time;
        CustomSettings.keys[0] = a;
        CustomSettings.keys[1] = b;
        CustomSettings.keys[2] = c;
    }

    // Presses the button after the given pause and says which combination
    // went out: 1, 2 or 3, 0 for nothing, -1 for anything else.
    int PressAfter(DWORD pause)
    {
        FakeNow += pause;
        KeyRecorder recorder;
        PerformAction();
        Events sent = recorder.Take();
        if (sent.empty())
            return 0;
        for (int i = 0; i < 3; ++i)
            if (CustomSettings.keys[i].k != 0 && sent == EventsOf(CustomSettings.keys[i]))
                return i + 1;
        return -1;
    }

    std::vector<int> PressesEvery(DWORD pause, int count)
    {
        std::vector<int> sent;
        for (int i = 0; i < count; ++i)
            sent.push_back(PressAfter(pause));
        return sent;
    }
};

TEST(SendKeyComboTest, ModifiersWrapTheKeyAndAreReleasedInPressOrder)
{
    const HKL us = NULL, korean = KoreanLayout;
    struct {
        KeyCombo combo;
        Events events;
        HKL inFront = NULL;  // the layout of the program in front
    } cases[] = {
        {PlainC, {Down('C'), Up('C')}},
        {CtrlA, {Down(VK_CONTROL), Down('A'), Up('A'), Up(VK_CONTROL)}},
        {{1, 1, 1, VK_F5},
         {Down(VK_MENU), Down(VK_CONTROL), Down(VK_SHIFT), Down(VK_F5), Up(VK_F5), Up(VK_MENU),
          Up(VK_CONTROL), Up(VK_SHIFT)}},
        // Any non-zero flag counts; only the low byte of the code is sent.
        {{7, 0, 0x80, 0x1253}, {Down(VK_MENU), Down(VK_SHIFT), Down(0x53), Up(0x53), Up(VK_MENU),
                                Up(VK_SHIFT)}},
        {{0, 0, 0, 0x100}, {Down(0), Up(0)}},
        // Mapped on the layout in front, E0 kept: Hangul and Hanja are not
        // left Alt and Ctrl there. Where its map gives nothing, the own one
        // answers; the arrows keep the flag its map leaves off.
        {{0, 0, 0, VK_HANGUL}, {KeyAs(VK_HANGUL, true, 0x38), KeyAs(VK_HANGUL, false, 0x38)}, korean},
        {{0, 1, 0, VK_HANJA}, {Down(VK_CONTROL), KeyAs(VK_HANJA, true, 0x1D),
                               KeyAs(VK_HANJA, false, 0x1D), Up(VK_CONTROL)}, korean},
        {{0, 0, 1, 'A'}, {Down(VK_SHIFT), Down('A'), Up('A'), Up(VK_SHIFT)}, korean},
        {{0, 0, 0, VK_LEFT}, {Down(VK_LEFT), Up(VK_LEFT)}, korean},
        {{0, 0, 0, VK_HANGUL}, {Down(VK_HANGUL), Up(VK_HANGUL)}, us},
    };
    for (const auto& c : cases) {
        LayoutInFront layout(c.inFront);
        BeginKeyPress();
        KeyRecorder recorder;
        SendKeyCombo(c.combo);
        EXPECT_EQ(std::vector<UINT>{UINT(c.events.size())}, recorder.Calls()) << "one combination, one call";
        Events sent = recorder.Take();
        EXPECT_EQ(Describe(c.events), Describe(sent));
        EXPECT_TRUE(KeysBalanced(sent));
    }
}

TEST_F(CustomKeysTest, SequentialSendsOneCombinationPerPressInTurn)
{
    struct {
        const char* name;
        KeyCombo a, b, c;
        std::vector<int> expected;
    } cases[] = {
        {"three set", CtrlA, AltShiftB, PlainC, {1, 2, 3, 1, 2, 3}},
        {"third empty", CtrlA, AltShiftB, None, {1, 2, 1, 2, 1}},
        {"second empty hides the third", CtrlA, None, PlainC, {1, 1, 1, 1}},
        {"first empty sends nothing", None, AltShiftB, PlainC, {0, 0, 0}},
        {"only first", CtrlA, None, None, {1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SequencePosition = 0;
        Use(Sequential, 1000, c.a, c.b, c.c);
        EXPECT_EQ(c.expected, PressesEvery(200, int(c.expected.size())));
    }
}

TEST_F(CustomKeysTest, SequentialRestartsOnlyAfterAPauseLongerThanTheTime)
{
    Use(Sequential, 1000, CtrlA, AltShiftB, PlainC);
    EXPECT_EQ(1, PressAfter(0));
    EXPECT_EQ(2, PressAfter(1000));  // exactly the time continues
    EXPECT_EQ(1, PressAfter(1001));
    EXPECT_EQ(2, PressAfter(999));
    EXPECT_EQ(3, PressAfter(1000));
    EXPECT_EQ(1, PressAfter(5));  // after the third comes the first anyway
}

TEST_F(CustomKeysTest, SequentialTimeZeroOrNegativeAlwaysSendsTheFirst)
{
    for (LONG time : {0L, -1L, -100000L, LONG(0x80000000)}) {
        SCOPED_TRACE(time);
        SequencePosition = 0;
        Use(Sequential, time, CtrlA, AltShiftB, PlainC);
        EXPECT_EQ(std::vector<int>({1, 1, 1}), PressesEvery(100, 3));
    }
}

TEST_F(CustomKeysTest, SequentialElapsedTimeIsSignedAndWrapSafe)
{
    struct {
        DWORD lastSend;
        DWORD now;
        int expected;
    } cases[] = {
        {0xFFFFFF00, 0x00000100, 2},  // the counter wrapped 512 ms later
        {0, 0x80000000, 2},           // 2^31 ms reads as negative
        {0, 0xFFFFFFFF, 2},           // 2^32 - 1 ms reads as -1
        {0, 0x7FFFFFFF, 1},           // the longest positive pause restarts
        {0x10000, 0x10000 + 1001, 1},
    };
    Use(Sequential, 1000, CtrlA, AltShiftB, PlainC);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lastSend << " -> " << c.now);
        SequencePosition = 1;
        LastSendTime = c.lastSend;
        FakeNow = c.now;
        EXPECT_EQ(c.expected, PressAfter(0));
        EXPECT_EQ(c.now, LastSendTime);
    }
}

TEST_F(CustomKeysTest, SequentialNothingSentKeepsTheLastSendTime)
{
    Use(Sequential, 1000, None, PlainC, PlainC);
    LastSendTime = 1234;
    EXPECT_EQ(0, PressAfter(10));
    EXPECT_EQ(1234u, LastSendTime);
    EXPECT_EQ(0, SequencePosition);
}

TEST_F(CustomKeysTest, SequentialPicksUpNewCombinationsAtTheCurrentPosition)
{
    Use(Sequential, 1000, CtrlA, AltShiftB, None);
    EXPECT_EQ(std::vector<int>({1, 2}), PressesEvery(100, 2));
    CustomSettings.keys[2] = PlainC;
    EXPECT_EQ(3, PressAfter(100));
}

TEST_F(CustomKeysTest, SendAllSendsLeadingCombinationsWithPausesBetween)
{
    const Events a = EventsOf(CtrlA), b = EventsOf(AltShiftB), c = EventsOf(PlainC);
    auto join = [](std::initializer_list<Events> parts) {
        Events all;
        for (const Events& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    struct {
        const char* name;
        KeyCombo first, second, third;
        LONG time;
        Events sent;  // keys and pauses, in order
        std::vector<UINT> calls;  // events per call: one combination each
    } cases[] = {
        {"three", CtrlA, AltShiftB, PlainC, 250, join({a, {Pause(250)}, b, {Pause(250)}, c}), {4, 6, 2}},
        {"two", CtrlA, AltShiftB, None, 250, join({a, {Pause(250)}, b}), {4, 6}},
        {"one", CtrlA, None, None, 250, a, {4}},
        {"gap stops", CtrlA, None, PlainC, 250, a, {4}},
        {"first empty", None, AltShiftB, PlainC, 250, {}, {}},
        {"zero time", CtrlA, AltShiftB, PlainC, 0, join({a, {Pause(0)}, b, {Pause(0)}, c}), {4, 6, 2}},
        {"negative time means no pause", CtrlA, AltShiftB, PlainC, -1,
         join({a, {Pause(0)}, b, {Pause(0)}, c}), {4, 6, 2}},
        {"longest pause", CtrlA, AltShiftB, None, 10000, join({a, {Pause(10000)}, b}), {4, 6}},
        {"longer times are cut so the program never freezes", CtrlA, AltShiftB, None, 0x7FFFFFFF,
         join({a, {Pause(10000)}, b}), {4, 6}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        Use(SendAll, row.time, row.first, row.second, row.third);
        LayoutInFront layout(NULL);
        KeyRecorder recorder;
        LastKeySend = KeySendRecord();
        PerformAction();
        EXPECT_EQ(1, LayoutLookups) << "the layout is looked up once per press";
        EXPECT_EQ(row.calls, recorder.Calls());
        // The log's record reads the combinations back from what went out.
        const KeyCombo sentCombos[] = {row.first, row.second, row.third};
        ASSERT_EQ(row.calls.size(), LastKeySend.comboCount);
        for (UINT i = 0; i < LastKeySend.comboCount; ++i)
            EXPECT_EQ(0, memcmp(&sentCombos[i], &LastKeySend.combos[i], sizeof(KeyCombo))) << i;
        EXPECT_EQ(Describe(row.sent), Describe(recorder.Take()));
        EXPECT_EQ(0, SequencePosition);
        EXPECT_EQ(0u, LastSendTime);
    }
}

TEST_F(CustomKeysTest, UnknownSendModeSendsNothing)
{
    for (LONG mode : {2L, -1L, 100L}) {
        Use(mode, 100, CtrlA, AltShiftB, PlainC);
        EXPECT_EQ(0, PressAfter(10)) << "nothing sent and no pause";
        EXPECT_EQ(0, SequencePosition);
    }
}

}  // namespace
