// The mends that keep Lumo2 usable on a clinic PC, tested in-process through
// the real tray window procedure and the real store, with the shell, the
// process in front and time played by the test.
#include "actions/actions.h"
#include "actions/vjoy.h"
#include "settings/action_mode.h"
#include "app/elevation.h"
#include "app/mode_change.h"
#include "app/policy_watch.h"
#include "app/shell.h"
#include "app/tray_status.h"
#include "app/tray_window.h"
#include "platform/event_log.h"
#include "settings/policy.h"
#include "camera/button_source.h"
#include "platform/diag_log.h"
#include "res/resource.h"
#include "settings/custom_settings.h"
#include "settings/policy.h"
#include "tests/joystick_log.h"
#include "tests/key_recorder.h"
#include "tests/registry_scratch.h"
#include "tests/sim_camera.h"
#include "tests/wait_until.h"
#include <gtest/gtest.h>
#include "tests/test_support.h"
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
    std::string tip;                    // as last added or changed
    HICON icon = NULL;
    int tipChanges = 0;                 // NIM_MODIFY with a tip
};

FakeShell* Shell;

void KeepIconAndTip(NOTIFYICONDATAA* data)
{
    Shell->tip = data->szTip;
    Shell->icon = data->hIcon;
}

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
        KeepIconAndTip(data);
        return TRUE;
    case NIM_MODIFY:
        if (present && (data->uFlags & NIF_INFO))
            Shell->balloons.push_back(std::string(data->szInfoTitle) + "|" + data->szInfo);
        if (present && (data->uFlags & NIF_TIP)) {
            KeepIconAndTip(data);
            ++Shell->tipChanges;
        }
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

// Event Log entries as "low 16 bits of the ID:type[:insert]".
std::vector<std::string> Entries;
BOOL RecordEntry(HANDLE, WORD type, DWORD id, const char* insert)
{
    Entries.push_back(std::to_string(id & 0xFFFF) + ":" + std::to_string(type) + (insert ? std::string(":") + insert : ""));
    return TRUE;
}

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
        // Event Log entries recorded, and the source not registered.
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, EventSourceKeyPath);
        Entries.clear();
        WriteEventEntry = RecordEntry;
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
        // The program's menu and icons, for the tip and the icon.
        AppInstance = LoadLibraryExA("Lumo2.exe", NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, AppInstance);
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = TrayWindowProc;
        wc.hInstance = GetModuleHandleA(NULL);
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
        FreeDimmedIcons();
        FreeLibrary(AppInstance);
        AppInstance = NULL;
        TrayNotify = previousNotify;
        LookUpForegroundTarget = LookUpForegroundTargetOfSystem;
        LookUpOwnIntegrity = LookUpOwnIntegrityOfSystem;
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, EventSourceKeyPath);
        WriteEventEntry = WriteEventEntryOfSystem;
    }
    static void RegisterEventSource()
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, EventSourceKeyPath, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
        RegCloseKey(key);
    }
    void CreateTray()
    {
        window = CreateWindowExA(0, "FieldTestTray", NULL, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, NULL,
                                 NULL, GetModuleHandleA(NULL), NULL);
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
    RegisterEventSource();
    CreateTray();
    const std::string balloon = std::string("Lumo2|") + BlockedKeysText;
    for (int i = 0; i < 10; ++i)
        Tick();
    EXPECT_EQ(0, TargetLookups) << "polls without a press look at nothing";

    const std::vector<KeyEvent> space = {Down(VK_SPACE), Up(VK_SPACE)};
    PlayedTarget = {4242, 1000, SECURITY_MANDATORY_HIGH_RID};
    char log[MAX_PATH];
    GetTempPathA(MAX_PATH, log);
    SetLogFolder(Wide(log).c_str());
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
    EXPECT_EQ(std::vector<std::string>(4, "4:2"), Entries) << "an entry with each balloon";
}

TEST_F(TrayWindowTest, JoystickWithoutAnyDriverWarnsEachTimeItIsChosen)
{
    PPJoyOutOfReach ppjoyGone;
    ASSERT_TRUE(ppjoyGone.Done());
    StoreVJoyLocation(REG_SZ, NULL, 0);
    RegisterEventSource();
    char log[MAX_PATH];
    GetTempPathA(MAX_PATH, log);
    SetLogFolder(Wide(std::string(log) + "lumo2-field-log").c_str());
    lstrcatA(log, "lumo2-field-log\\Lumo2.log");
    DeleteFileA(log);
    CreateTray();
    for (size_t chosen = 1; chosen <= 2; ++chosen) {
        SendMessageA(window, WM_COMMAND, IDM_JOYSTICK, 0);
        EXPECT_NE(std::string::npos, shell.tip.find("JOYSTICK (no joystick driver)")) << shell.tip;
        EXPECT_TRUE(Press().empty());
        EXPECT_NE(std::string::npos, FileText(log).find("press: mode JOYSTICK, sent nothing: missing: neither PPJoy nor vJoy"));
        SendMessageA(window, WM_COMMAND, IDM_SPACE, 0);
        ASSERT_EQ(chosen, shell.balloons.size()) << "once each time it is chosen, not per press";
        EXPECT_EQ(std::string("Lumo2|") + NoJoystickText, shell.balloons.back());
    }
    EXPECT_EQ(std::vector<std::string>(2, "5:2:no joystick driver"), Entries);
    // vJoy there but unusable: the balloon says, whole, why and what to do.
    VJoyRegistered vjoy;
    const struct {
        LONG disabled, status, buttons, otherHolds;  // as the stand-in plays them
        const char* says;
    } cases[] = {
        {1, 0, 0, 0, "Enable vJoy"}, {0, VJoyMissing + 1, 0, 0, "Add device 1"},
        {0, 0, 0, 4, "Close that program"}, {0, 0, 1, 0, "Give device 1 at least one button"},
    };
    for (const auto& c : cases) {
        VJoyLog* log = ClearVJoyLog();
        log->disabled = c.disabled;
        log->statusOverride = c.status;
        log->buttonsOverride = c.buttons;
        log->owner = c.otherHolds ? GetCurrentProcessId() + 4 : 0;
        SendMessageA(window, WM_COMMAND, IDM_JOYSTICK, 0);
        const std::string& text = shell.balloons.back();
        EXPECT_EQ(std::string("Lumo2|") + JoystickProblemText(CurrentJoystickStatus()), text) << "not cut";
        EXPECT_NE(std::string::npos, text.find(c.says)) << text;
    }
    EXPECT_EQ(6u, shell.balloons.size());
    SendMessageA(window, WM_COMMAND, IDM_SPACE, 0);
    // The end of the session is logged before its handler returns: Windows
    // may end the process then.
    SendMessageA(window, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    EXPECT_NE(std::string::npos, FileText(log).find("exit 0: closed by Windows for an update"));
    SetLogFolder(NULL);
    UnbindVJoyLibrary();
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
}

// Group Policy's signal, played: Wine takes the registration but never sets
// the event.
HANDLE PlayedPolicyEvents[2];  // the computer's, the user's
BOOL WINAPI PlayRegisterPolicy(HANDLE event, BOOL machine)
{
    PlayedPolicyEvents[machine ? 0 : 1] = event;
    return TRUE;
}
BOOL WINAPI PlayUnregisterPolicy(HANDLE event)
{
    PlayedPolicyEvents[event == PlayedPolicyEvents[0] ? 0 : 1] = NULL;
    return TRUE;
}

TEST_F(TrayWindowTest, PoliciesWrittenWithoutABroadcastAreReadWhenGroupPolicySignals)
{
    PolicyNotificationFn systemRegister = RegisterPolicyNotification;
    PolicyUnnotificationFn systemUnregister = UnregisterPolicyNotification;
    RegisterPolicyNotification = PlayRegisterPolicy;
    UnregisterPolicyNotification = PlayUnregisterPolicy;
    ClearPolicies();
    CreateTray();
    // The watch starts with the first poll, not with the window; a policy
    // that came before it is read when it starts.
    EXPECT_TRUE(!PlayedPolicyEvents[0] && !PlayedPolicyEvents[1]);
    StorePolicyDword(HKEY_LOCAL_MACHINE, PolicyActionModeName, ModeEnter);
    Tick();
    EXPECT_EQ(ModeEnter, EffectiveActionMode());
    for (int signal : {0, 1}) {  // the computer's policy comes, then the user's takes it away
        ClearPolicies();
        if (signal == 0)
            StorePolicyDword(HKEY_LOCAL_MACHINE, PolicyActionModeName, ModeKodak);
        ASSERT_NE(nullptr, PlayedPolicyEvents[signal]);
        SetEvent(PlayedPolicyEvents[signal]);
        LONG expected = signal == 0 ? ModeKodak : ModeSpace;
        EXPECT_NE(expected, EffectiveActionMode()) << "read on the next poll";
        Tick();
        EXPECT_EQ(expected, EffectiveActionMode()) << signal;
        EXPECT_FALSE(PolicyApplied()) << "one signal, one refresh";
        EXPECT_EQ(signal == 0 ? VK_F5 : VK_SPACE, Press().at(0).vk);
    }
    DestroyWindow(window);
    window = NULL;
    EXPECT_TRUE(!PlayedPolicyEvents[0] && !PlayedPolicyEvents[1]) << "given up with the window";
    RegisterPolicyNotification = systemRegister;
    UnregisterPolicyNotification = systemUnregister;
    CreateTray();
    EXPECT_TRUE(StartPolicyWatch()) << "userenv.dll bound from the system folder takes both";
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

TEST_F(TrayWindowTest, IconAndTipFollowTheCameraTheModeAndAPolicyAndEntriesNeedTheSource)
{
    const std::string dash = TipSeparator();
    if (GetACP() == 1252) {
        EXPECT_EQ(" \x96 ", dash) << "the en dash of the code page";
    }
    CreateTray();
    const HICON ready = shell.icon;
    EXPECT_EQ("Lumo2" + dash + "Space" + dash + "camera found by its vendor library", shell.tip);

    // The camera is lost: the picture dimmed and the tip says so, once.
    sim->euConnectedResult = 0;
    SendMessageA(window, WM_DEVICECHANGE, 0, 0);
    EXPECT_EQ("Lumo2" + dash + "Space" + dash + "no camera found", shell.tip);
    EXPECT_EQ(DimmedIcon(ready), shell.icon);
    EXPECT_NE(ready, shell.icon);
    int changes = shell.tipChanges;
    SendMessageA(window, WM_DEVICECHANGE, 0, 0);
    EXPECT_EQ(changes, shell.tipChanges) << "nothing changed, nothing sent";
    EXPECT_TRUE(Entries.empty()) << "no source registered, no entry";

    // With the source registered, the capture driver's camera comes.
    RegisterEventSource();
    camera.Add(1);
    SendMessageA(window, WM_DEVICECHANGE, 0, 0);
    SendMessageA(window, WM_DEVICECHANGE, 0, 0);
    EXPECT_EQ("Lumo2" + dash + "Space" + dash + SimCameraName, shell.tip);
    EXPECT_EQ(ready, shell.icon);
    SendMessageA(window, WM_COMMAND, IDM_KODAK, 0);
    EXPECT_EQ("Lumo2" + dash + "Kodak(F5)" + dash + SimCameraName, shell.tip);
    RegSetKeyValueA(HKEY_CURRENT_USER, PolicyKeyPath, PolicyActionModeName, REG_DWORD, "\x03\0\0\0", 4);
    SendMessageA(window, WM_SETTINGCHANGE, 0, LPARAM("Policy"));
    EXPECT_EQ("Lumo2" + dash + "Enter, set by your administrator" + dash + SimCameraName, shell.tip);
    RegDeleteTreeA(HKEY_CURRENT_USER, PolicyKeyPath);
    SendMessageA(window, WM_SETTINGCHANGE, 0, LPARAM("Policy"));
    camera.RemoveAll();
    SendMessageA(window, WM_DEVICECHANGE, 0, 0);
    EXPECT_EQ(DimmedIcon(ready), shell.icon);
    FollowSavedSettings(true);
    FollowSavedSettings(false);
    EXPECT_EQ((std::vector<std::string>{std::string("2:4:") + SimCameraName, "3:2", "6:1"}), Entries);

    // An icon added again shows the status in force, not the plain one.
    shell.icons.clear();
    SendMessageA(window, taskbarCreated, 0, 0);
    EXPECT_EQ("Lumo2" + dash + "Kodak(F5)" + dash + "no camera found", shell.tip);
    EXPECT_EQ(DimmedIcon(ready), shell.icon);
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
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
