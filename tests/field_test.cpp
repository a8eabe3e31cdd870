// The mends that keep Lumo2 usable on a clinic PC, tested in-process through
// the real tray window procedure and the real store, with the shell, the
// process in front and time played by the test.
#include "actions/actions.h"
#include "settings/action_mode.h"
#include "app/elevation.h"
#include "app/shell.h"
#include "app/tray_window.h"
#include "camera/button_source.h"
#include "platform/diag_log.h"
#include "res/resource.h"
#include "settings/custom_settings.h"
#include "tests/joystick_log.h"
#include "tests/key_recorder.h"
#include "tests/registry_scratch.h"
#include "tests/sim_camera.h"
#include <gtest/gtest.h>
#include <sddl.h>
#include <set>
#include <string>
#include <vector>

namespace {

// A notification area as Windows keeps it: one icon per window and ID, adds
// refused until it is ready, a restart that forgets every icon.
struct FakeShell {
    int refuseAdds = 0;  // adds refused before the shell takes icons
    std::set<std::pair<HWND, UINT>> icons;
    int adds = 0;
    std::vector<std::string> balloons;  // "title|text" of each NIF_INFO
};
FakeShell* Shell;

BOOL FakeNotify(DWORD message, NOTIFYICONDATAA* data)
{
    std::pair<HWND, UINT> id(data->hWnd, data->uID);
    bool present = Shell->icons.count(id) != 0;
    switch (message) {
    case NIM_ADD:
        ++Shell->adds;
        if (Shell->refuseAdds > 0) {
            --Shell->refuseAdds;
            return FALSE;
        }
        if (present)
            return FALSE;
        Shell->icons.insert(id);
        return TRUE;
    case NIM_MODIFY:
        if (present && (data->uFlags & NIF_INFO))
            Shell->balloons.push_back(std::string(data->szInfoTitle) + "|" + data->szInfo);
        return present;
    case NIM_DELETE:
        Shell->icons.erase(id);
        return present;
    }
    return FALSE;
}

// The process in front, as the test wants it to look.
ForegroundTarget PlayedTarget;
int TargetLookups;
void PlayedForegroundTarget(ForegroundTarget* target)
{
    ++TargetLookups;
    *target = PlayedTarget;
}
DWORD MediumIntegrity() { return SECURITY_MANDATORY_MEDIUM_RID; }

class TrayWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Shell = &shell;
        previousNotify = TrayNotify;
        TrayNotify = FakeNotify;
        LookUpForegroundTarget = PlayedForegroundTarget;
        LookUpOwnIntegrity = MediumIntegrity;
        ForgetBlockedKeysWarnings();
        PlayedTarget = ForegroundTarget();
        TargetLookups = 0;
        ActionMode = ModeSpace;
        sim = camera.State();
        ASSERT_NE(nullptr, sim);
        sim->euConnectedResult = 1;
        // Through the program's own connect, so the library is bound as it
        // would be at start-up.
        ConnectCamera();
        ASSERT_EQ(1, ExtensionUnitActive);
        ExtensionUnitButtonDown = 0;
        AppInstance = GetModuleHandleA(NULL);
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = TrayWindowProc;
        wc.hInstance = AppInstance;
        wc.lpszClassName = "FieldTestTray";
        RegisterClassExA(&wc);
        taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    }
    void TearDown() override
    {
        if (window)
            DestroyWindow(window);
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        }  // the quit message the tray window posts
        ReleaseCamera();
        TrayNotify = previousNotify;
        LookUpForegroundTarget = LookUpForegroundTargetOfSystem;
        LookUpOwnIntegrity = LookUpOwnIntegrityOfSystem;
    }
    void CreateTray()
    {
        window = CreateWindowExA(0, "FieldTestTray", NULL, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, NULL,
                                 NULL, AppInstance, NULL);
        ASSERT_NE(nullptr, window);
    }
    void Tick(WPARAM id = PollTimerId) { SendMessageA(window, WM_TIMER, id, 0); }
    // One press of the button as the next poll sees it; what it typed.
    std::vector<KeyEvent> Press()
    {
        KeyRecorder recorder;
        sim->euButtonDown = 1;
        Tick();
        sim->euButtonDown = 0;
        Tick();
        return recorder.Take();
    }
    size_t IconsOf(HWND w) const { return shell.icons.count({w, 0}); }

    FakeShell shell;
    TrayNotifyFn previousNotify = NULL;
    SimCamera camera;
    SimState* sim = nullptr;
    HWND window = NULL;
    UINT taskbarCreated = 0;
};

TEST_F(TrayWindowTest, AddingTheIconIsRetriedOnPollTicksUntilTheShellTakesIt)
{
    shell.refuseAdds = 3;
    CreateTray();
    EXPECT_EQ(1, shell.adds) << "creation tries once";
    EXPECT_FALSE(TrayIconShown);
    Tick(7);
    EXPECT_EQ(1, shell.adds) << "only the poll timer retries";
    Tick();
    Tick();
    EXPECT_EQ(3, shell.adds);
    EXPECT_EQ(0u, IconsOf(window));
    Tick();
    EXPECT_EQ(1u, IconsOf(window));
    EXPECT_TRUE(TrayIconShown);
    for (int i = 0; i < 20; ++i)
        Tick();
    EXPECT_EQ(4, shell.adds) << "trying stops once the icon is there";
    EXPECT_EQ(1u, shell.icons.size());
}

TEST_F(TrayWindowTest, TaskbarCreatedAddsTheIconAgainAndNeverTwice)
{
    CreateTray();
    ASSERT_EQ(1u, IconsOf(window));
    shell.icons.clear();  // Explorer restarted and forgot its icons
    SendMessageA(window, taskbarCreated, 0, 0);
    EXPECT_EQ(1u, IconsOf(window));
    EXPECT_TRUE(TrayIconShown);
    // A second announcement while the icon is there changes nothing.
    SendMessageA(window, taskbarCreated, 0, 0);
    EXPECT_EQ(1u, shell.icons.size());
    EXPECT_TRUE(TrayIconShown) << "a refused add of a present icon is not a lost icon";
    int adds = shell.adds;
    Tick();
    EXPECT_EQ(adds, shell.adds);

    // A restarted shell not ready yet: the poll ticks take over.
    shell.icons.clear();
    shell.refuseAdds = 1;
    SendMessageA(window, taskbarCreated, 0, 0);
    EXPECT_FALSE(TrayIconShown);
    Tick();
    EXPECT_EQ(1u, IconsOf(window));
    EXPECT_EQ(1u, shell.icons.size());
}

TEST_F(TrayWindowTest, ElevatedProgramInFrontGetsTheKeysAndOneBalloonPerProcess)
{
    CreateTray();
    const std::string balloon = std::string("Lumo2|") + BlockedKeysText;
    for (int i = 0; i < 10; ++i)
        Tick();
    EXPECT_EQ(0, TargetLookups) << "polls without a press look at nothing";

    const std::vector<KeyEvent> space = {Down(VK_SPACE), Up(VK_SPACE)};
    PlayedTarget = {4242, 1000, SECURITY_MANDATORY_HIGH_RID};
    char log[MAX_PATH];
    GetTempPathA(MAX_PATH, log);
    SetLogFolder(log);
    lstrcatA(log, "Lumo2.log");
    DeleteFileA(log);
    EXPECT_EQ(Describe(space), Describe(Press())) << "the keys are still sent";
    // The log says why they may not have arrived.
    std::string text(200, 0);
    HANDLE file = CreateFileA(log, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    DWORD read = 0;
    ReadFile(file, &text[0], DWORD(text.size()), &read, NULL);
    CloseHandle(file);
    SetLogFolder(NULL);
    EXPECT_NE(std::string::npos, text.find("press: mode Space, sent Space, SendInput took 2 of 2; in front unknown, "
                                           "higher level than Lumo2: keys dropped\r\n")) << text;
    ASSERT_EQ(1u, shell.balloons.size());
    EXPECT_EQ(balloon, shell.balloons[0]);
    EXPECT_EQ(1, TargetLookups);

    struct {
        const char* what;
        ForegroundTarget target;
        LONG mode;
        size_t balloons;  // in all, after this press
        int lookups;      // in all, after this press
    } presses[] = {
        {"same process again", {4242, 1000, SECURITY_MANDATORY_HIGH_RID}, ModeSpace, 1, 2},
        {"another elevated process", {777, 5, SECURITY_MANDATORY_HIGH_RID}, ModeEnter, 2, 3},
        {"process id reused by a new process", {4242, 2000, SECURITY_MANDATORY_HIGH_RID}, ModeKodak, 3, 4},
        {"a process that may not be asked", {99, 1, IntegrityDenied}, ModeCustom, 4, 5},
        {"the same one again", {99, 1, IntegrityDenied}, ModeCustom, 4, 6},
        {"an ordinary program", {55, 1, SECURITY_MANDATORY_MEDIUM_RID}, ModeSpace, 4, 7},
        {"a low-integrity program", {56, 1, SECURITY_MANDATORY_LOW_RID}, ModeSpace, 4, 8},
        {"no window in front", {0, 0, 0}, ModeSpace, 4, 9},
        {"joystick mode types nothing", {12, 1, SECURITY_MANDATORY_HIGH_RID}, ModeJoystick, 4, 9},
        {"a mode that does nothing", {12, 1, SECURITY_MANDATORY_HIGH_RID}, 11, 4, 9},
    };
    for (const auto& p : presses) {
        SCOPED_TRACE(p.what);
        PlayedTarget = p.target;
        ActionMode = p.mode;
        Press();
        EXPECT_EQ(p.balloons, shell.balloons.size());
        EXPECT_EQ(p.lookups, TargetLookups);
    }
}

TEST_F(TrayWindowTest, JoystickWithoutAnyDriverWarnsEachTimeItIsChosen)
{
    PPJoyOutOfReach ppjoyGone;
    ASSERT_TRUE(ppjoyGone.Done());
    StoreVJoyLocation(REG_SZ, NULL, 0);
    CreateTray();
    for (size_t chosen = 1; chosen <= 2; ++chosen) {
        SendMessageA(window, WM_COMMAND, IDM_JOYSTICK, 0);
        EXPECT_TRUE(Press().empty());
        SendMessageA(window, WM_COMMAND, IDM_SPACE, 0);
        ASSERT_EQ(chosen, shell.balloons.size()) << "once each time it is chosen, not per press";
        EXPECT_EQ(std::string("Lumo2|") + NoJoystickText, shell.balloons.back());
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
}

TEST_F(TrayWindowTest, BlockedKeysWarningWaitsUntilTheIconCanShowIt)
{
    shell.refuseAdds = 1000;  // a shell that is not ready for a long while
    CreateTray();
    ASSERT_FALSE(TrayIconShown);
    PlayedTarget = {4242, 1000, SECURITY_MANDATORY_HIGH_RID};
    EXPECT_EQ(Describe({Down(VK_SPACE), Up(VK_SPACE)}), Describe(Press())) << "the keys are still sent";
    EXPECT_TRUE(shell.balloons.empty());

    shell.refuseAdds = 0;
    Tick();
    ASSERT_TRUE(TrayIconShown);
    Press();
    EXPECT_EQ(1u, shell.balloons.size()) << "the warning not shown before is shown now";
}

TEST(BlockedKeysTest, OnlyAHigherOrUnaskableProcessOfAnotherIdBlocksKeys)
{
    const DWORD own = SECURITY_MANDATORY_MEDIUM_RID;
    const struct {
        ForegroundTarget target;
        bool blocked;
    } cases[] = {
        {{10, 1, SECURITY_MANDATORY_HIGH_RID}, true},
        {{10, 1, SECURITY_MANDATORY_SYSTEM_RID}, true},
        {{10, 1, IntegrityDenied}, true},
        {{10, 1, SECURITY_MANDATORY_MEDIUM_RID}, false},
        {{10, 1, SECURITY_MANDATORY_MEDIUM_RID + 0x100}, true},
        {{10, 1, SECURITY_MANDATORY_LOW_RID}, false},
        {{10, 1, 0}, false},
        {{0, 0, SECURITY_MANDATORY_HIGH_RID}, false},
        {{GetCurrentProcessId(), 1, SECURITY_MANDATORY_HIGH_RID}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.blocked, KeysWillBeBlocked(c.target, own))
            << c.target.processId << " at " << std::hex << c.target.integrity;
}

TEST(BlockedKeysTest, ThisSystemsLookupSeesTheWindowInFrontAndItsLevel)
{
    // An ordinary window of this process in front: found, asked, not denied.
    HWND window = CreateWindowExA(0, "STATIC", "front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100,
                                  100, NULL, NULL, NULL, NULL);
    ASSERT_NE(nullptr, window);
    SetForegroundWindow(window);
    ForegroundTarget target;
    LookUpForegroundTargetOfSystem(&target);
    DestroyWindow(window);
    EXPECT_EQ(GetCurrentProcessId(), target.processId);
    EXPECT_NE(0u, target.startTime);
    EXPECT_NE(IntegrityDenied, target.integrity);
    EXPECT_NE(0u, target.integrity) << "the level was read, not left at 0";
    EXPECT_EQ(LookUpOwnIntegrityOfSystem(), target.integrity);
    printf("integrity level of an ordinary process here: 0x%lX\n", target.integrity);
}

TEST(SingleInstanceTest, ExistingOrUnopenableMutexMeansAnotherCopy)
{
    HANDLE someMutex = reinterpret_cast<HANDLE>(0x40);
    const struct {
        HANDLE mutex;
        DWORD error;
        bool another;
    } cases[] = {
        {someMutex, ERROR_SUCCESS, false},
        {someMutex, ERROR_ALREADY_EXISTS, true},
        {NULL, ERROR_ACCESS_DENIED, true},  // held by a copy started as administrator
        {NULL, ERROR_INVALID_HANDLE, false},  // a name clash with another kind of object
        {NULL, ERROR_NOT_ENOUGH_MEMORY, false},
        {someMutex, ERROR_ACCESS_DENIED, false},  // a stale error of a call that worked
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.another, AnotherCopyRuns(c.mutex, c.error)) << c.mutex << " " << c.error;
}

TEST(SendAllPauseTest, PausesAreCutToTenSecondsAndNeverNegative)
{
    const struct {
        LONG time;
        DWORD pause;
    } cases[] = {
        {0, 0}, {1, 1}, {250, 250}, {9999, 9999}, {10000, 10000}, {10001, 10000},
        {99999999, 10000}, {0x7FFFFFFF, 10000}, {-1, 0}, {LONG(0x80000000), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.pause, SendAllPause(c.time)) << c.time;
}

DWORD FakeNow;
DWORD FakeClock() { return FakeNow; }

TEST(SendAllPauseTest, AHugeTimeBoundsSendAllButSequentialKeepsItsFullRange)
{
    ClockFn previousClock = CustomKeysClock;
    CustomKeysClock = FakeClock;
    KeyRecorder recorder;
    CustomSettings = {SendAll, 99999999, {{0, 0, 0, 'A'}, {0, 0, 0, 'B'}, {0, 0, 0, 'C'}}};
    SendCustomKeys();
    EXPECT_EQ(Describe({Down('A'), Up('A'), Pause(10000), Down('B'), Up('B'), Pause(10000), Down('C'), Up('C')}),
              Describe(recorder.Take()));

    // Sequential: a gap of 27 hours is still inside a restart time of 28,
    // and it never pauses.
    CustomSettings.mode = Sequential;
    SequencePosition = 0;
    FakeNow = 1000;
    SendCustomKeys();
    FakeNow += 99999999 - 1;
    SendCustomKeys();
    EXPECT_EQ(Describe({Down('A'), Up('A'), Down('B'), Up('B')}), Describe(recorder.Take()));
    CustomKeysClock = previousClock;
}

class SaveFailureTest : public RegistryTest {
protected:
    void TearDown() override
    {
        LockProgramKey(false);
        RegistryTest::TearDown();
    }
};

TEST_F(SaveFailureTest, SaveSaysWhetherEverythingWasWrittenAndSwitchesToCustomEitherWay)
{
    CustomKeySettings record = {SendAll, 250, {{0, 1, 0, 'Q'}, {}, {}}};
    CustomSettings = record;
    ActionMode = ModeSpace;
    EXPECT_TRUE(SaveCustomKeySettings());
    EXPECT_EQ(ModeCustom, ActionMode);

    LockProgramKey(true);
    ActionMode = ModeKodak;
    CustomSettings.time = 999;
    EXPECT_FALSE(SaveCustomKeySettings());
    EXPECT_EQ(ModeCustom, ActionMode) << "the mode still becomes Custom";
    EXPECT_EQ(999, CustomSettings.time) << "the record in memory stays";
    EXPECT_EQ((std::vector<BYTE>{250, 0, 0, 0}), ReadStored("time").bytes) << "the old value stays stored";
}

}  // namespace
