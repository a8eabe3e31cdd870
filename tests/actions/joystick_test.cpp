// The joystick click against the stand-in PPJoy driver.
#include "actions/actions.h"
#include "actions/joystick.h"
#include "actions/vjoy.h"
#include "settings/action_mode.h"
#include "tests/support/joystick_log.h"
#include "tests/support/key_recorder.h"
#include "tests/support/test_support.h"
#include <gtest/gtest.h>
#include <string.h>

namespace {

class JoystickTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearJoystickLog();
        ActionMode = ModeJoystick;
    }
    void TearDown() override { CloseJoystick(); }
};

std::vector<BYTE> ExpectedPacket(BYTE button1)
{
    std::vector<BYTE> bytes = {'C', 'A', 'T', 'S', 8};
    for (int axis = 0; axis < 8; ++axis) {
        const BYTE value[4] = {0x00, 0x40, 0x00, 0x00};
        bytes.insert(bytes.end(), value, value + 4);
    }
    bytes.push_back(16);
    bytes.push_back(button1);
    bytes.resize(54, 0);
    return bytes;
}

TEST_F(JoystickTest, PressClicksButtonOneForAHundredMilliseconds)
{
    OpenJoystick();
    ASSERT_NE(INVALID_HANDLE_VALUE, JoystickHandle);
    PerformAction();
    StandinLog log = ReadJoystickLog();
    ASSERT_EQ(2u, log.count);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(54u, log.packets[i].length);
        std::vector<BYTE> sent(log.packets[i].bytes, log.packets[i].bytes + 54);
        EXPECT_EQ(ExpectedPacket(i == 0 ? 1 : 0), sent);
    }
    ASSERT_GT(log.frequency, 0);
    double gapMs = (log.packets[1].counter - log.packets[0].counter) * 1000.0 / log.frequency;
    EXPECT_GE(gapMs, 95.0);
    EXPECT_LT(gapMs, 1000.0);
    EXPECT_EQ(0, JoystickState.buttons[0]);
}

TEST_F(JoystickTest, ChoosingTheModeAgainKeepsOneOpenHandleAndResetsThePacket)
{
    OpenJoystick();
    EXPECT_EQ(1u, ReadJoystickLogSettled(1).openHandles);
    JoystickState.axes[3] = 99;
    JoystickState.buttons[5] = 1;
    OpenJoystick();
    StandinLog log = ReadJoystickLogSettled(1);
    EXPECT_EQ(2u, log.opens) << "the device is opened again";
    EXPECT_EQ(1u, log.openHandles) << "and the old handle closed";
    EXPECT_EQ(0u, log.count) << "opening sends nothing";
    std::vector<BYTE> packet(reinterpret_cast<BYTE*>(&JoystickState),
                             reinterpret_cast<BYTE*>(&JoystickState) + 54);
    EXPECT_EQ(ExpectedPacket(0), packet);
}

TEST_F(JoystickTest, CloseJoystickClosesOnceAndForgetsTheHandle)
{
    OpenJoystick();
    ASSERT_NE(INVALID_HANDLE_VALUE, JoystickHandle);
    CloseJoystick();
    EXPECT_EQ(nullptr, JoystickHandle);
    EXPECT_EQ(0u, ReadJoystickLogSettled(0).openHandles);
    CloseJoystick();  // nothing left to close
    EXPECT_EQ(nullptr, JoystickHandle);
    JoystickHandle = INVALID_HANDLE_VALUE;  // a failed open
    CloseJoystick();
    EXPECT_EQ(nullptr, JoystickHandle);
    EXPECT_EQ(1u, ReadJoystickLog().opens);
}

// GetTickCount moves in coarse steps under Wine; the counter does not.
double PressMs()
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    PerformAction();
    QueryPerformanceCounter(&end);
    return (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

// A press that skips the pulse takes well under it, even on a machine so
// loaded that the thread waits tens of milliseconds for a core.
const double NoPulseMs = JoystickPulseMs - 10.0;

TEST_F(JoystickTest, WithoutAnyDriverAPressSendsNothingAndDoesNotWait)
{
    OpenJoystick();
    CloseJoystick();
    JoystickHandle = INVALID_HANDLE_VALUE;  // as a failed open leaves it
    EXPECT_LT(PressMs(), NoPulseMs) << "no 100 ms for nobody";
    EXPECT_EQ(0u, ReadJoystickLog().count);
    EXPECT_EQ(0, JoystickState.buttons[0]);
}

TEST(VJoyLocationTest, TheUninstallEntryNamesTheLibraryByFullPathOnly)
{
    struct {
        DWORD type;
        std::string value;
        DWORD extra;        // bytes stored beyond the text: 1 is the terminator
        const char* found;  // null: no library
    } cases[] = {
        {REG_SZ, "C:\\vJoy\\x86\\", 1, "C:\\vJoy\\x86\\vJoyInterface.dll"},
        {REG_SZ, "C:\\vJoy\\VJOYINTERFACE.DLL", 1, "C:\\vJoy\\VJOYINTERFACE.DLL"},
        {REG_SZ, "\\\\server\\vJoy", 0, "\\\\server\\vJoy\\vJoyInterface.dll"},  // no terminator
        {REG_EXPAND_SZ, "%SystemRoot%\\vJoy", 1, "C:\\windows\\vJoy\\vJoyInterface.dll"},
        {REG_SZ, "vJoy\\x86", 1, NULL},  // relative: would be searched for
        {REG_SZ, "C:", 1, NULL},
        {REG_BINARY, "C:\\vJoy", 1, NULL},
        {REG_SZ, "C:\\" + std::string(250, 'v'), 1, NULL},  // no room for the name
        {REG_SZ, "C:\\" + std::string(400, 'v'), 1, NULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        StoreVJoyLocation(c.type, c.value.c_str(), DWORD(c.value.size() + c.extra));
        char path[MAX_PATH] = "";
        EXPECT_EQ(c.found != NULL, FindVJoyLibrary(path, sizeof(path)));
        EXPECT_STRCASEEQ(c.found ? c.found : "", path);
    }
    StoreVJoyLocation(REG_SZ, NULL, 0);
    char path[MAX_PATH];
    EXPECT_FALSE(FindVJoyLibrary(path, sizeof(path))) << "no entry";
}

TEST(VJoyTest, WithoutPPJoyAFreeVJoyDeviceIsTakenAndClickedForAHundredMilliseconds)
{
    PPJoyOutOfReach ppjoyGone;
    ASSERT_TRUE(ppjoyGone.Done());
    VJoyRegistered vjoy;
    VJoyLog* log = OpenVJoyLog();
    ActionMode = ModeJoystick;
    struct {
        LONG disabled, status;  // vJoyEnabled off; GetVJDStatus's answer
        const char* calls;      // open, press, close; empty: unusable
        JoystickStatus found;   // after the open
        LONG buttons = DefaultVJoyButtons;
    } cases[] = {
        {0, VJoyFree, "acquire 1, down 1/1, up 1/1, relinquish 1", JoystickReady},
        {0, VJoyOwned, "down 1/1, up 1/1, relinquish 1", JoystickReady},
        {0, VJoyBusy, "", JoystickDeviceBusy},     {0, VJoyMissing, "", JoystickDeviceMissing},
        {0, VJoyUnknown, "", JoystickDeviceMissing}, {1, VJoyFree, "", JoystickVJoyDisabled},
        {0, VJoyFree, "", JoystickNoButtons, 0},
        {0, VJoyFree, "acquire 1, down 1/1, up 1/1, relinquish 1", JoystickReady, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "status " << c.status << ", disabled " << c.disabled << ", buttons "
                                        << c.buttons);
        ClearVJoyLog();
        log->disabled = c.disabled;
        log->statusOverride = c.status + 1;
        log->buttonsOverride = c.buttons + 1;
        bool usable = *c.calls != '\0';
        EXPECT_EQ(usable, OpenJoystick());
        EXPECT_EQ(c.found, CurrentJoystickStatus());
        EXPECT_EQ(INVALID_HANDLE_VALUE, JoystickHandle) << "PPJoy is asked first";
        double ms = PressMs();
        CloseJoystick();
        EXPECT_EQ(c.calls, DescribeVJoyCalls(GetCurrentProcessId()));
        EXPECT_TRUE(usable ? VJoyPressMs() >= 95.0 : ms < NoPulseMs) << ms << " ms";
    }
    StoreVJoyLocation(REG_SZ, NULL, 0);
    UnbindVJoyLibrary();
    EXPECT_FALSE(OpenJoystick()) << "no vJoy installed";
    EXPECT_EQ(JoystickNoDriver, CurrentJoystickStatus());
}

DWORD PlayedTicks;
DWORD PlayedClock() { return PlayedTicks; }

// A device another program held, or took over, is taken again at a press,
// asked for at most once a second.
TEST(VJoyTest, ADeviceThatComesBackIsTakenAgainAtAPressAtMostOnceASecond)
{
    PPJoyOutOfReach ppjoyGone;
    ASSERT_TRUE(ppjoyGone.Done());
    VJoyRegistered vjoy;
    VJoyLog* log = OpenVJoyLog();
    VJoyClockFn systemClock = VJoyClock;
    VJoyClock = PlayedClock;
    PlayedTicks = 0xFFFFFF00;  // across the tick count's wrap
    ActionMode = ModeJoystick;
    const DWORD other = GetCurrentProcessId() + 4;
    log->owner = other;
    EXPECT_FALSE(OpenJoystick());
    const struct {
        DWORD owner, atMs;  // who holds the device when the press comes
        const char* calls;  // added by the press
        JoystickStatus found;
    } steps[] = {
        {0, 999, "", JoystickDeviceBusy},  // freed, but asked under a second ago
        {0, 1000, "acquire 1, down 1/1, up 1/1", JoystickReady},
        {other, 1500, ", down 1/1", JoystickDeviceBusy},  // taken over: the click is refused
        {0, 2000, ", acquire 1, down 1/1, up 1/1", JoystickReady},
    };
    std::string calls;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.atMs);
        log->owner = s.owner;
        PlayedTicks = 0xFFFFFF00 + s.atMs;
        double ms = PressMs();
        EXPECT_EQ(calls += s.calls, DescribeVJoyCalls(GetCurrentProcessId()));
        EXPECT_EQ(s.found, CurrentJoystickStatus());
        EXPECT_TRUE(s.found == JoystickReady || ms < NoPulseMs) << ms << " ms: no pause without a click";
    }
    VJoyClock = systemClock;
    UnbindVJoyLibrary();
}

TEST_F(JoystickTest, OtherModesSendNothingToTheDriver)
{
    OpenJoystick();
    KeyRecorder recorder;
    for (LONG mode : {2L, 6L, 10L, 11L, -9L}) {
        ActionMode = mode;
        PerformAction();
    }
    EXPECT_EQ(0u, ReadJoystickLog().count);
}

}  // namespace
