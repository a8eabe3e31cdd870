// The joystick click against the stand-in PPJoy driver.
#include "actions/actions.h"
#include "actions/joystick.h"
#include "actions/vjoy.h"
#include "app/action_mode.h"
#include "tests/joystick_log.h"
#include "tests/key_recorder.h"
#include "tests/test_support.h"
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

TEST_F(JoystickTest, WithoutAnyDriverAPressSendsNothingAndDoesNotWait)
{
    OpenJoystick();
    CloseJoystick();
    JoystickHandle = INVALID_HANDLE_VALUE;  // as a failed open leaves it
    EXPECT_LT(PressMs(), 50.0) << "no 100 ms for nobody";
    EXPECT_EQ(0u, ReadJoystickLog().count);
    EXPECT_EQ(0, JoystickState.buttons[0]);
}

TEST(VJoyLocationTest, TheUninstallEntryNamesTheLibraryByFullPathOnly)
{
    const std::string tooLong = "C:\\" + std::string(250, 'v');
    const std::string farTooLong = "C:\\" + std::string(400, 'v');
    struct {
        const char* what;
        DWORD type;
        std::string value;
        DWORD extra;  // bytes beyond the text: 1 stores the terminator
        const char* found;  // null: no library
    } cases[] = {
        {"the folder", REG_SZ, "C:\\Program Files\\vJoy\\x86", 1, "C:\\Program Files\\vJoy\\x86\\vJoyInterface.dll"},
        {"with a trailing backslash", REG_SZ, "C:\\vJoy\\x86\\", 1, "C:\\vJoy\\x86\\vJoyInterface.dll"},
        {"the library itself", REG_SZ, "C:\\vJoy\\x86\\VJOYINTERFACE.DLL", 1, "C:\\vJoy\\x86\\VJOYINTERFACE.DLL"},
        {"stored without its terminator", REG_SZ, "D:\\vJoy", 0, "D:\\vJoy\\vJoyInterface.dll"},
        {"a share", REG_SZ, "\\\\server\\vJoy", 1, "\\\\server\\vJoy\\vJoyInterface.dll"},
        {"expandable", REG_EXPAND_SZ, "%SystemRoot%\\vJoy", 1, "C:\\windows\\vJoy\\vJoyInterface.dll"},
        {"relative: would be searched", REG_SZ, "vJoy\\x86", 1, NULL},
        {"a bare name", REG_SZ, "vJoyInterface.dll", 1, NULL},
        {"empty", REG_SZ, "", 1, NULL},
        {"a drive alone", REG_SZ, "C:", 1, NULL},
        {"a number", REG_DWORD, "\x01\x02\x03", 1, NULL},
        {"binary", REG_BINARY, "C:\\vJoy", 1, NULL},
        {"no room for the name", REG_SZ, tooLong, 1, NULL},
        {"longer than any path", REG_SZ, farTooLong, 1, NULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StoreVJoyLocation(c.type, c.value.c_str(), DWORD(c.value.size() + c.extra));
        char path[MAX_PATH] = "untouched";
        bool found = FindVJoyLibrary(path, sizeof(path));
        EXPECT_EQ(c.found != NULL, found);
        if (c.found && found) {
            EXPECT_STRCASEEQ(c.found, path);
        }
    }
    StoreVJoyLocation(REG_SZ, NULL, 0);
    char path[MAX_PATH];
    EXPECT_FALSE(FindVJoyLibrary(path, sizeof(path))) << "no entry";
}

// PPJoy out of reach: the stand-in vJoy takes over.
class VJoyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ppjoyGone.Done());
        UnbindVJoyLibrary();
        log = ClearVJoyLog();
        ASSERT_NE(nullptr, log);
        ActionMode = ModeJoystick;
    }
    void TearDown() override
    {
        CloseJoystick();
        UnbindVJoyLibrary();
    }
    std::string Calls() const { return DescribeVJoyCalls(GetCurrentProcessId()); }

    PPJoyOutOfReach ppjoyGone;
    VJoyRegistered vjoy;
    VJoyLog* log = nullptr;
};

TEST_F(VJoyTest, WithoutPPJoyAPressClicksVJoysButtonForAHundredMilliseconds)
{
    ASSERT_TRUE(OpenJoystick());
    EXPECT_EQ(INVALID_HANDLE_VALUE, JoystickHandle) << "PPJoy was asked first";
    EXPECT_EQ("acquire 1", Calls());
    EXPECT_EQ(GetCurrentProcessId(), log->owner);
    double ms = PressMs();
    EXPECT_EQ("acquire 1, down 1/1, up 1/1", Calls());
    EXPECT_GE(VJoyPressMs(), 95.0);
    EXPECT_LT(ms, 1000.0);

    ASSERT_TRUE(OpenJoystick()) << "chosen again";
    EXPECT_EQ("acquire 1, down 1/1, up 1/1, relinquish 1, acquire 1", Calls());
    LeaveJoystickMode();
    EXPECT_EQ(0u, log->owner) << "another mode gives the device back";
    LeaveJoystickMode();
    EXPECT_EQ("acquire 1, down 1/1, up 1/1, relinquish 1, acquire 1, relinquish 1", Calls()) << "once";
    PerformAction();
    EXPECT_EQ("acquire 1, down 1/1, up 1/1, relinquish 1, acquire 1, relinquish 1", Calls())
        << "a device given back is not clicked";
}

TEST_F(VJoyTest, ADeviceThatCannotBeTakenCountsAsNoDriver)
{
    struct {
        const char* what;
        LONG disabled;
        LONG status;  // GetVJDStatus's answer, 0..4
        bool usable;
        const char* calls;
    } cases[] = {
        {"free", 0, VJoyFree, true, "acquire 1"},
        {"ours already", 0, VJoyOwned, true, ""},
        {"another feeder has it", 0, VJoyBusy, false, ""},
        {"not configured", 0, VJoyMissing, false, ""},
        {"unknown", 0, VJoyUnknown, false, ""},
        {"vJoy switched off", 1, VJoyFree, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ClearVJoyLog();
        log->disabled = c.disabled;
        log->statusOverride = c.status + 1;
        EXPECT_EQ(c.usable, OpenJoystick());
        EXPECT_EQ(c.calls, Calls());
        if (!c.usable) {
            EXPECT_LT(PressMs(), 50.0);
        }
        CloseJoystick();
    }
    VJoyRegistered elsewhere(BinFolder() + "\\uexproc_no_release");
    UnbindVJoyLibrary();
    EXPECT_FALSE(OpenJoystick()) << "no library in the folder named";
    StoreVJoyLocation(REG_SZ, NULL, 0);
    EXPECT_FALSE(OpenJoystick()) << "no vJoy installed";
    EXPECT_LT(PressMs(), 50.0);
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
