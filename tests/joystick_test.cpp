// The joystick click against the stand-in PPJoy driver.
#include "actions/actions.h"
#include "actions/joystick.h"
#include "app/action_mode.h"
#include "tests/joystick_log.h"
#include "tests/key_recorder.h"
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

TEST_F(JoystickTest, WithoutTheDeviceAPressStillPausesAndSendsNothing)
{
    OpenJoystick();
    CloseJoystick();
    JoystickHandle = INVALID_HANDLE_VALUE;  // as a failed open leaves it
    // GetTickCount moves in coarse steps under Wine; the counter does not.
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    PerformAction();
    QueryPerformanceCounter(&end);
    double elapsedMs = (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
    EXPECT_GE(elapsedMs, 95.0);
    EXPECT_EQ(0u, ReadJoystickLog().count);
    EXPECT_EQ(0, JoystickState.buttons[0]);
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
