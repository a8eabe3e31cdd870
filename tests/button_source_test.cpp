// Choosing the camera's route, turning its button into presses, and letting
// go of everything, against the stand-in library and capture driver.
#include "actions/actions.h"
#include "actions/joystick.h"
#include "app/action_mode.h"
#include "camera/button_source.h"
#include "tests/joystick_log.h"
#include "tests/keyboard_hook.h"
#include "tests/sim_camera.h"
#include <vector>

namespace {

class ButtonSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim = camera.State();
        ASSERT_NE(nullptr, sim);
        ExtensionUnitActive = 0;
        ExtensionUnitButtonDown = 0;
        CameraDevice = NULL;
        JoystickHandle = NULL;
        startReleases = sim->euReleaseCalls;
    }

    void TearDown() override
    {
        ReleaseCamera();
        // The extension-unit route leaves a device from an earlier connect to
        // the end of the process; give it back so the leak check holds.
        if (CameraDevice) {
            ReleaseDriverInterface(CameraDevice);
            delete CameraDevice;
            CameraDevice = NULL;
            CoUninitialize();
        }
        EXPECT_EQ(0, camera.LiveFilters()) << "a driver reference outlived the release";
    }

    // Polls as the timer does and gives what each tick answered.
    std::vector<int> PollWhile(std::vector<int> buttonStates)
    {
        std::vector<int> presses;
        for (int down : buttonStates) {
            sim->euButtonDown = down;
            presses.push_back(PollCameraButton() ? 1 : 0);
        }
        return presses;
    }

    SimCamera camera;
    SimState* sim = nullptr;
    LONG startReleases = 0;
};

TEST_F(ButtonSourceTest, ExtensionUnitReportsEachPressOnce)
{
    sim->euConnectedResult = 1;
    camera.Add(1, "USB 2820 Video");  // present, but the extension unit wins
    LONG created = sim->filtersCreated;
    ConnectCamera();
    EXPECT_EQ(1, ExtensionUnitActive);
    EXPECT_EQ(nullptr, CameraDevice);
    EXPECT_EQ(created, sim->filtersCreated) << "no capture filter looked up";
    EXPECT_EQ(startReleases, sim->euReleaseCalls);

    // Down at the first poll is a press; holding is not; up then down again is.
    EXPECT_EQ(std::vector<int>({1, 0, 0, 0, 0, 1, 0, 0, 1}),
              PollWhile({1, 1, 1, 0, 0, 1, 1, 0, 1}));
}

TEST_F(ButtonSourceTest, ExtensionUnitNotConnectedFallsToTheCaptureDriver)
{
    for (LONG answer : {0L, -1L, LONG(0x80000000)}) {
        SCOPED_TRACE(answer);
        sim->euConnectedResult = answer;
        camera.Add(1, "USB 2820 Video");
        LONG releases = sim->euReleaseCalls;
        ConnectCamera();
        EXPECT_EQ(0, ExtensionUnitActive);
        ASSERT_NE(nullptr, CameraDevice);
        EXPECT_EQ(releases + 1, sim->euReleaseCalls) << "releaseEVA on every connect without it";
        EXPECT_EQ(1u, CameraDevice->property4135);
        ReleaseCamera();
        EXPECT_EQ(nullptr, CameraDevice);
    }
}

TEST_F(ButtonSourceTest, CaptureDriverReportsTheLatchOnceAndClearsIt)
{
    camera.Add(1, "USB 2820 Video");
    ConnectCamera();
    ASSERT_NE(nullptr, CameraDevice);
    sim->registers[0x0C] = 0x20 | 0x81;
    EXPECT_TRUE(PollCameraButton());
    EXPECT_EQ(0x81, sim->registers[0x0C]);
    EXPECT_FALSE(PollCameraButton());
    sim->registers[0x0C] |= 0x20;
    EXPECT_TRUE(PollCameraButton());
}

TEST_F(ButtonSourceTest, NoCameraOnEitherRouteReportsNothing)
{
    ConnectCamera();
    EXPECT_EQ(0, ExtensionUnitActive);
    EXPECT_EQ(nullptr, CameraDevice);
    sim->registers[0x0C] = 0x20;
    sim->euButtonDown = 1;
    EXPECT_FALSE(PollCameraButton());
}

TEST_F(ButtonSourceTest, ReconnectStormHoldsOneDriverInterfaceAtATime)
{
    camera.Add(1, "USB 2820 Video");
    for (int i = 0; i < 25; ++i) {
        ConnectCamera();
        ASSERT_NE(nullptr, CameraDevice);
        EXPECT_EQ(1, camera.LiveFilters()) << "connect " << i;
    }
    // Unplugged: the next device change finds nothing and holds nothing.
    camera.RemoveAll();
    ConnectCamera();
    EXPECT_EQ(nullptr, CameraDevice);
    EXPECT_EQ(0, camera.LiveFilters());
    sim->registers[0x0C] = 0x20;
    EXPECT_FALSE(PollCameraButton());
    // Plugged back in: presses come back.
    camera.Add(2, "USB 2820 Video");
    ConnectCamera();
    sim->registers[0x0C] = 0x20;
    EXPECT_TRUE(PollCameraButton());
}

TEST_F(ButtonSourceTest, SwitchingRoutesReleasesTheExtensionUnitFirst)
{
    sim->euConnectedResult = 1;
    ConnectCamera();
    EXPECT_EQ(1, ExtensionUnitActive);

    sim->euConnectedResult = 0;
    camera.Add(1, "USB 2820 Video");
    LONG releases = sim->euReleaseCalls;
    ConnectCamera();
    EXPECT_EQ(0, ExtensionUnitActive);
    EXPECT_EQ(releases + 1, sim->euReleaseCalls);
    ASSERT_NE(nullptr, CameraDevice);

    // Back to the extension unit: the held device stays but is not polled.
    sim->euConnectedResult = 1;
    ConnectCamera();
    EXPECT_EQ(1, ExtensionUnitActive);
    sim->registers[0x0C] = 0x20;
    sim->euButtonDown = 0;
    EXPECT_FALSE(PollCameraButton());
    EXPECT_EQ(0x20, sim->registers[0x0C]);
    EXPECT_NE(nullptr, CameraDevice);
    EXPECT_EQ(1, camera.LiveFilters());
}

TEST_F(ButtonSourceTest, ReleaseOnTheExtensionUnitRouteReleasesTheLibraryOnly)
{
    sim->euConnectedResult = 1;
    ConnectCamera();
    LONG releases = sim->euReleaseCalls;
    ReleaseCamera();
    EXPECT_EQ(releases + 1, sim->euReleaseCalls);
    EXPECT_EQ(0, ExtensionUnitActive);
}

TEST_F(ButtonSourceTest, ReleaseClosesTheJoystickUnlessTheExtensionUnitIsHeld)
{
    struct {
        const char* route;
        LONG euAnswer;
        ULONG openAfterRelease;
    } cases[] = {{"no source", 0, 0}, {"extension unit", 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.route);
        ClearJoystickLog();
        OpenJoystick();
        ASSERT_NE(INVALID_HANDLE_VALUE, JoystickHandle) << "the joystick stand-in driver runs";
        ASSERT_EQ(1u, ReadJoystickLog().openHandles);
        sim->euConnectedResult = c.euAnswer;
        ConnectCamera();
        ReleaseCamera();
        EXPECT_EQ(c.openAfterRelease, ReadJoystickLog().openHandles);
        if (c.openAfterRelease)
            CloseHandle(JoystickHandle);
        JoystickHandle = NULL;
    }
}

TEST_F(ButtonSourceTest, SimulatedPressOnEitherRouteTypesTheModesKeys)
{
    KeyboardHook hook;
    ASSERT_TRUE(hook.Installed());
    ActionMode = ModeKodak;
    const std::vector<KeyEvent> f5 = {Down(VK_F5), Up(VK_F5)};

    camera.Add(1, "USB 2820 Video");
    ConnectCamera();
    sim->registers[0x0C] = 0x20;
    if (PollCameraButton())
        PerformAction();
    EXPECT_EQ(Describe(f5), Describe(hook.WaitFor(2, 3000)));

    sim->euConnectedResult = 1;
    ConnectCamera();
    sim->euButtonDown = 1;
    if (PollCameraButton())
        PerformAction();
    EXPECT_EQ(Describe(f5), Describe(hook.WaitFor(2, 3000)));
}

}  // namespace
