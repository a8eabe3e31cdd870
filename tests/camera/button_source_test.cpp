// Choosing the camera's route, turning its button into presses, and letting
// go of everything, against the stand-in library and capture driver.
#include "actions/actions.h"
#include "actions/joystick.h"
#include "app/shell.h"
#include "app/tray_window.h"
#include "camera/button_source.h"
#include "camera/uexproc.h"
#include "settings/action_mode.h"
#include "tests/support/joystick_log.h"
#include "tests/support/key_recorder.h"
#include "tests/support/keyboard_hook.h"
#include "tests/support/sim_camera.h"
#include "tests/support/wait_until.h"
#include "camera/camera_host.h"
#include "camera/camera_link.h"
#include <objbase.h>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace {

// How many COM initialisations this thread holds. Each one beyond the first
// answers S_FALSE, so peel them off until a new one is the first, then put
// them back.
int ComInitialisations()
{
    int count = 0;
    for (;;) {
        HRESULT probe = CoInitialize(NULL);
        CoUninitialize();
        if (probe == S_OK || count == 100)
            break;
        CoUninitialize();
        ++count;
    }
    for (int i = 0; i < count; ++i)
        CoInitialize(NULL);
    return count;
}

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
        // As the program ends. The extension-unit route leaves a device from
        // an earlier connect held; a connect that finds no camera gives it
        // back, as the next device change would.
        ReleaseCamera();
        if (CameraDevice) {
            camera.RemoveAll();
            ConnectCamera();
            ReleaseCamera();
        }
        CloseJoystick();
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
    camera.Add(1);  // present, but the extension unit wins
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
        camera.Add(1);
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
    camera.Add(1);
    ConnectCamera();
    ASSERT_NE(nullptr, CameraDevice);
    camera.SetLatch(LatchBit | 0x81);
    EXPECT_TRUE(PollCameraButton());
    EXPECT_EQ(0x81, camera.Latch()) << "only the press bit is cleared";
    EXPECT_FALSE(PollCameraButton());
    camera.LatchPress();
    EXPECT_TRUE(PollCameraButton());
}

TEST_F(ButtonSourceTest, NoCameraOnEitherRouteReportsNothing)
{
    ConnectCamera();
    EXPECT_EQ(0, ExtensionUnitActive);
    EXPECT_EQ(nullptr, CameraDevice);
    camera.LatchPress();
    sim->euButtonDown = 1;
    EXPECT_FALSE(PollCameraButton());
}

TEST_F(ButtonSourceTest, ReconnectStormHoldsOneDriverInterfaceAtATime)
{
    camera.Add(1);
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
    camera.LatchPress();
    EXPECT_FALSE(PollCameraButton());
    // Plugged back in: presses come back.
    camera.Add(2);
    ConnectCamera();
    camera.LatchPress();
    EXPECT_TRUE(PollCameraButton());
}

TEST_F(ButtonSourceTest, SwitchingRoutesReleasesTheExtensionUnitFirst)
{
    sim->euConnectedResult = 1;
    ConnectCamera();
    EXPECT_EQ(1, ExtensionUnitActive);

    sim->euConnectedResult = 0;
    camera.Add(1);
    LONG releases = sim->euReleaseCalls;
    ConnectCamera();
    EXPECT_EQ(0, ExtensionUnitActive);
    EXPECT_EQ(releases + 1, sim->euReleaseCalls);
    ASSERT_NE(nullptr, CameraDevice);

    // Back to the extension unit: the held device stays but is not polled.
    sim->euConnectedResult = 1;
    ConnectCamera();
    EXPECT_EQ(1, ExtensionUnitActive);
    camera.LatchPress();
    sim->euButtonDown = 0;
    EXPECT_FALSE(PollCameraButton());
    EXPECT_TRUE(camera.Latched());
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
        ASSERT_EQ(1u, ReadJoystickLogSettled(1).openHandles);
        sim->euConnectedResult = c.euAnswer;
        ConnectCamera();
        ReleaseCamera();
        EXPECT_EQ(c.openAfterRelease, ReadJoystickLogSettled(c.openAfterRelease).openHandles);
        CloseJoystick();
    }
}

TEST_F(ButtonSourceTest, ComIsGivenBackOnBothRoutesAcrossReconnects)
{
    enum Step { Driver, Unplugged, ExtensionUnit, Release };
    struct {
        const char* what;
        std::vector<Step> steps;
        std::vector<int> held;  // COM initialisations held after each step
    } cases[] = {
        {"capture driver", {Driver, Driver, Driver, Release}, {1, 1, 1, 0}},
        {"capture driver unplugged", {Driver, Unplugged, Unplugged, Release}, {1, 0, 0, 0}},
        {"unplugged, plugged in again", {Unplugged, Driver, Driver, Release}, {0, 1, 1, 0}},
        {"extension unit", {ExtensionUnit, Release}, {1, 0}},
        // Each connect that finds the extension unit keeps the one it made;
        // only one is given back at the end.
        {"extension unit again", {ExtensionUnit, ExtensionUnit, Release}, {1, 2, 1}},
        {"extension unit to capture driver", {ExtensionUnit, Driver, Driver, Release}, {1, 2, 2, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(0, ComInitialisations());
        for (size_t i = 0; i < c.steps.size(); ++i) {
            camera.RemoveAll();
            if (c.steps[i] == Driver)
                camera.Add(1);
            sim->euConnectedResult = c.steps[i] == ExtensionUnit ? 1 : 0;
            if (c.steps[i] == Release)
                ReleaseCamera();
            else
                ConnectCamera();
            EXPECT_EQ(c.held[i], ComInitialisations()) << "after step " << i;
        }
        // Back to none for the next row.
        while (ComInitialisations() > 0)
            CoUninitialize();
    }
}

TEST_F(ButtonSourceTest, OnlyTheTimerWithIdZeroPollsTheCamera)
{
    camera.Add(1);
    ConnectCamera();
    ASSERT_NE(nullptr, CameraDevice);
    ActionMode = ModeKodak;
    KeyRecorder recorder;
    for (WPARAM id : {WPARAM(1), WPARAM(2), WPARAM(100), WPARAM(0xFFFF), ~WPARAM(0)}) {
        SCOPED_TRACE(id);
        camera.LatchPress();
        LONG reads = sim->registerReads;
        EXPECT_EQ(0, TrayWindowProc(NULL, WM_TIMER, id, 0));
        EXPECT_EQ(reads, sim->registerReads) << "asked the camera";
        EXPECT_TRUE(camera.Latched());
        EXPECT_TRUE(recorder.Take().empty());
    }
    LONG reads = sim->registerReads;
    EXPECT_EQ(0, TrayWindowProc(NULL, WM_TIMER, PollTimerId, 0));
    EXPECT_EQ(reads + 1, sim->registerReads) << "one question per tick";
    EXPECT_FALSE(camera.Latched());
    EXPECT_EQ(Describe({Down(VK_F5), Up(VK_F5)}), Describe(recorder.Take()));
}

TEST_F(ButtonSourceTest, SimulatedPressOnEitherRouteTypesTheModesKeys)
{
    KeyboardHook hook;
    ASSERT_TRUE(hook.Installed());
    ActionMode = ModeKodak;
    const std::vector<KeyEvent> f5 = {Down(VK_F5), Up(VK_F5)};

    camera.Add(1);
    ConnectCamera();
    camera.LatchPress();
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

// The stand-ins play a camera that stops answering: every call on either
// route blocks until camsim, another process, lets it go; a hang of a set
// time, or for a set number of calls, ends by itself.
TEST_F(ButtonSourceTest, StandInCallsHangUntilAnotherProcessLetsThemGo)
{
    camera.Add(1);
    ConnectCamera();
    ASSERT_NE(nullptr, CameraDevice);
    ASSERT_NE(nullptr, ExtensionUnitLibrary());
    const struct {
        const char* call;
        std::function<void()> make;
    } calls[] = {
        {"isConnectedEVA", [] { ExtensionUnitIsConnected(); }},
        {"sendExtensionUnitCommand", [] { int down = 0; ExtensionUnitSendCommand(ButtonStateCommand, 0, &down, 4); }},
        {"releaseEVA", [] { ExtensionUnitRelease(); }},
        {"register read", [] { BYTE value = 0; ReadRegister(CameraDevice, LatchRegister, 1, &value); }},
        {"register write", [] { BYTE value = 0; WriteRegister(CameraDevice, LatchRegister, 1, &value); }},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.call);
        LONG hung = camera.HungCalls();
        camera.Hang();
        std::atomic<bool> returned(false), lettingGo(false);
        DWORD unhang = 0;
        bool blocked = false;
        std::thread releaser([&] {
            blocked = camera.WaitHanging(1, 5000);
            lettingGo = true;
            unhang = RunCamsim("unhang");
            // A release that does not work must not leave the test hanging.
            if (!WaitUntil([&] { return returned.load(); }, 5000))
                camera.Unhang();
        });
        c.make();
        returned = true;
        EXPECT_TRUE(lettingGo) << "returned before it was let go";
        releaser.join();
        EXPECT_TRUE(blocked);
        EXPECT_EQ(0u, unhang) << "camsim unhang";
        EXPECT_EQ(hung + 1, camera.HungCalls());
        EXPECT_EQ(0, camera.HangingCalls());
    }

    // camsim hang 150 1: the next call blocks 150 ms on its own, the one
    // after it not at all.
    ASSERT_EQ(0u, RunCamsim("hang 150 1"));
    LONG hung = camera.HungCalls();
    DWORD start = GetTickCount();
    ExtensionUnitIsConnected();
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 150u - 16u) << "GetTickCount may step by 16 ms";
    ExtensionUnitIsConnected();
    EXPECT_EQ(hung + 1, camera.HungCalls());
    EXPECT_EQ(0u, sim->hangMs) << "the hang ended with its last call";
    for (const char* bad : {"hang 0", "hang -5", "hang soon"})
        EXPECT_EQ(2u, RunCamsim(bad)) << bad;
    EXPECT_EQ(0u, sim->hangMs);
}

}  // namespace

// What Lumo2 takes from its camera process: a record of the one size and a
// known kind, a connect with a known route and ended texts; anything else is
// dropped.
TEST(CameraLinkTest, OnlyWellFormedRecordsAreTaken)
{
    const struct {
        const char* what;
        std::function<void(CameraRecord&)> change;
        bool taken;
    } cases[] = {
        {"press", [](CameraRecord& r) { r.kind = RecordPressed; }, true},
        {"connect", [](CameraRecord&) {}, true},
        {"connect on the capture driver", [](CameraRecord& r) { r.view.route = RouteCaptureDriver; }, true},
        {"one byte short", [](CameraRecord& r) { r.size -= 1; }, false},
        {"one byte more", [](CameraRecord& r) { r.size += 1; }, false},
        {"size 0", [](CameraRecord& r) { r.size = 0; }, false},
        {"kind 0", [](CameraRecord& r) { r.kind = 0; }, false},
        {"kind unknown", [](CameraRecord& r) { r.kind = 3; }, false},
        {"press of the wrong size", [](CameraRecord& r) { r.kind = RecordPressed; r.size = 8; }, false},
        {"route below", [](CameraRecord& r) { r.view.route = -1; }, false},
        {"route above", [](CameraRecord& r) { r.view.route = RouteCaptureDriver + 1; }, false},
        {"name unended", [](CameraRecord& r) { memset(r.view.name, 'A', sizeof(r.view.name)); }, false},
        {"library unended", [](CameraRecord& r) { for (WCHAR& c : r.view.library) c = L'A'; }, false},
    };
    for (const auto& c : cases) {
        CameraRecord record = {};
        record.size = sizeof(record);
        record.kind = RecordConnected;
        record.view.route = RouteExtensionUnit;
        c.change(record);
        EXPECT_EQ(c.taken, CameraRecordValid(record)) << c.what;
    }
}

// The camera process's command line: the switch and exactly five handle
// numbers, as Lumo2 writes it.
TEST(CameraLinkTest, CameraCommandLineRoundTripsAndRefusesOthers)
{
    CameraLinkHandles handles = {HANDLE(4), HANDLE(8), HANDLE(12), HANDLE(1000), HANDLE(4294967292u)};
    WCHAR line[MAX_PATH + 100];
    ASSERT_TRUE(ComposeCameraCommand(line, MAX_PATH + 100, L"C:\\Program Files\\Lumo2\\Lumo2.exe", handles));
    CameraLinkHandles read = {};
    ASSERT_TRUE(IsCameraCommand(line, &read));
    EXPECT_EQ(0, memcmp(&handles, &read, sizeof(read)));
    const WCHAR* refused[] = {
        L"Lumo2.exe", L"Lumo2.exe /camera", L"Lumo2.exe /camera 1 2 3 4", L"Lumo2.exe /camera 1 2 3 4 5 6",
        L"Lumo2.exe /camera 1 2 x 4 5", L"Lumo2.exe /cameras 1 2 3 4 5", L"Lumo2.exe /report 1 2 3 4 5",
    };
    for (const WCHAR* line : refused)
        EXPECT_FALSE(IsCameraCommand(line, &read)) << line;
    EXPECT_TRUE(IsCameraCommand(L"\"C:\\a b\\Lumo2.exe\" /CAMERA 1 2 3 4 5", &read));
}

// A camera that fails at every call restarts ever more slowly, up to a
// minute between starts.
TEST(CameraLinkTest, RestartsInARowWaitLongerUpToAMinute)
{
    const DWORD expected[] = {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000};
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(expected[n], CameraRestartDelayOfProgram(n)) << n;
    EXPECT_EQ(60000u, CameraRestartDelayOfProgram(1000));
}
