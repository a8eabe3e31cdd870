// The mends that keep Lumo2 usable on a clinic PC, tested in-process through
// the real tray window procedure and the real store, with the shell, the
// process in front and time played by the test.
#include "actions/actions.h"
#include "actions/program_in_front.h"
#include "actions/vjoy.h"
#include "app/mode_change.h"
#include "app/program_rules_watch.h"
#include "app/shell.h"
#include "app/tray_window.h"
#include "camera/button_source.h"
#include "camera/camera_thread.h"
#include "lifecycle/takeover.h"
#include "platform/diag_log.h"
#include "platform/event_log.h"
#include "platform/policy_watch.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "settings/policy.h"
#include "settings/program_rules.h"
#include "settings/ui_text.h"
#include "tests/support/joystick_log.h"
#include "tests/support/key_recorder.h"
#include "tests/support/lumo_process.h"
#include "tests/support/registry_scratch.h"
#include "tests/support/sim_camera.h"
#include "tests/support/wait_until.h"
#include "tray/tray_status.h"
#include <gtest/gtest.h>
#include "tests/support/test_support.h"
#include <sddl.h>
#include <set>
#include <thread>
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

void KeepIconAndTip(NOTIFYICONDATAW* data)
{
    Shell->tip = Utf8(data->szTip);
    Shell->icon = data->hIcon;
}

BOOL FakeNotify(DWORD message, NOTIFYICONDATAW* data)
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
            Shell->balloons.push_back(Utf8(data->szInfoTitle) + "|" + Utf8(data->szInfo));
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
// The step before the keys: the process and its image, under C:\Programs.
int FrontLookups;
void PlayedFrontProgram(ForegroundTarget* target)
{
    ++FrontLookups;
    *target = ForegroundTarget();
    target->processId = PlayedTarget.processId;
    lstrcpyA(target->exeName, PlayedTarget.exeName);
    if (PlayedTarget.exeName[0])
        wsprintfW(target->imagePath, L"C:\\Programs\\%S", PlayedTarget.exeName);
}
DWORD MediumIntegrity() { return SECURITY_MANDATORY_MEDIUM_RID; }

// The account and the install, as the test wants them to look.
TOKEN_ELEVATION_TYPE PlayedElevationType;
bool PlayedPerMachine;
TOKEN_ELEVATION_TYPE PlayElevationType() { return PlayedElevationType; }
bool PlayPerMachine() { return PlayedPerMachine; }
ULONGLONG PlayedWarningNow;
ULONGLONG PlayClock() { return PlayedWarningNow; }

// Event Log entries as "low 16 bits of the ID:type[:insert]", and their
// whole IDs.
std::vector<std::string> Entries;
std::vector<DWORD> EntryIds;
BOOL RecordEntry(HANDLE, WORD type, DWORD id, const char* insert)
{
    Entries.push_back(std::to_string(id & 0xFFFF) + ":" + std::to_string(type) + (insert ? std::string(":") + insert : ""));
    EntryIds.push_back(id);
    return TRUE;
}

// The clock of the icon's retries and the taskbar's scale, as the test
// wants them.
DWORD PlayedNow;
DWORD PlayedClock() { return PlayedNow; }
UINT PlayedTaskbarDpi;
UINT PlayTaskbarDpi(HWND) { return PlayedTaskbarDpi; }

class TrayWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Shell = &shell;
        previousNotify = TrayNotify;
        TrayNotify = FakeNotify;
        PlayedNow = 0xFFFF0000;  // GetTickCount wraps after 49 days
        previousClock = TrayClock;
        TrayClock = PlayedClock;
        PlayedTaskbarDpi = 96;
        previousDpi = TrayIconDpi;
        TrayIconDpi = PlayTaskbarDpi;
        LookUpFrontProgram = PlayedFrontProgram;
        CompleteForegroundTarget = PlayedForegroundTarget;
        FrontLookups = 0;
        LookUpOwnIntegrity = MediumIntegrity;
        LookUpOwnElevationType = PlayElevationType;
        LookUpPerMachineInstall = PlayPerMachine;
        WarningClock = PlayClock;
        PlayedElevationType = TokenElevationTypeLimited;
        PlayedPerMachine = true;
        PlayedWarningNow = 1000000;
        PressBlock = KeysBlock();
        // Event Log entries recorded, and the source not registered.
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, EventSourceKeyPath);
        Entries.clear();
        EntryIds.clear();
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
        UiTextModule = AppInstance;
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
        UiTextModule = NULL;
        RegDeleteKeyValueA(HKEY_CURRENT_USER, ProgramKeyPath, LanguageValueName);
        FreeLibrary(AppInstance);
        AppInstance = NULL;
        TrayNotify = previousNotify;
        TrayClock = previousClock;
        TrayIconDpi = previousDpi;
        LookUpFrontProgram = LookUpFrontProgramOfSystem;
        CompleteForegroundTarget = CompleteForegroundTargetOfSystem;
        LookUpOwnIntegrity = LookUpOwnIntegrityOfSystem;
        LookUpOwnElevationType = LookUpOwnElevationTypeOfSystem;
        LookUpPerMachineInstall = LookUpPerMachineInstallOfSystem;
        WarningClock = previousWarningClock;
        PressBlock = KeysBlock();
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
        // What the start's first connect tells the window of the camera.
        DescribeCamera(&KnownCamera);
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
    TrayClockFn previousClock = NULL;
    TrayDpiFn previousDpi = NULL;
    WarningClockFn previousWarningClock = WarningClock;
    SimCamera camera;
    SimState* sim = nullptr;
    HWND window = NULL;
    UINT taskbarCreated = 0;
};

// The watchdog's reading of the call under way: a call begun in the very
// tick it reads is not counted as one that began 49 days ago, and the tick
// count's wrap does not stop the count.
TEST(CameraWatchdogTest, ACallsAgeNeitherRunsBackwardsNorStopsAtTheWrap)
{
    const struct {
        LONG started;
        DWORD now;
        DWORD age;
    } cases[] = {
        {0, 5000, 0},                           // no call under way
        {5001, 5000, 0},                        // begun at 5000, made odd
        {5001, 5001, 0},
        {1001, 3001, 2000},
        {LONG(0xFFFFFF01), 2000, 2255},         // across the wrap
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.age, CallAge(c.started, c.now)) << c.started << " at " << c.now;
}

bool RefusePollTimer(HANDLE, LONG)
{
    return false;
}

// A poll timer that Windows will not set leaves the camera thread's wait to
// pace the poll, and the requests that wake the thread (one at every look
// here, faster than the period) do not put the polls off.
TEST(CameraThreadTest, WithoutAPollTimerTheWaitPacesThePollWhateverWakesTheThread)
{
    SimCamera camera;
    SimState* sim = camera.State();
    ASSERT_NE(nullptr, sim);
    sim->euConnectedResult = 1;
    const ArmPollTimerFn system = ArmPollTimer;
    ArmPollTimer = RefusePollTimer;
    HWND answers = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(StartCameraThread(answers));
    RequestPollInterval(50);
    EXPECT_TRUE(WaitUntil([&] { return sim->euButtonReads > 0; }, 5000)) << "never polled";
    const LONG before = sim->euButtonReads;
    EXPECT_TRUE(WaitUntil([&] {
        RequestPollInterval(50);
        return sim->euButtonReads >= before + 5;
    }, 5000)) << sim->euButtonReads - before << " polls";
    EXPECT_TRUE(StopCameraThread(1500));
    ArmPollTimer = system;
    DestroyWindow(answers);
}

TEST(TrayIconRetryTest, OnceASecondForAMinuteThenOnceAMinute)
{
    const struct {
        DWORD missingFor, sinceLastTry;
        bool due;
    } cases[] = {
        {0, 0, false},         {999, 999, false},     {1000, 1000, true},    {30000, 999, false},
        {30000, 1000, true},   {59999, 1000, true},   {60000, 1000, false},  {60000, 59999, false},
        {60000, 60000, true},  {600000, 59999, false}, {600000, 60000, true}, {0xFFFFFFFF, 0xFFFFFFFF, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.due, TrayIconRetryDue(c.missingFor, c.sinceLastTry)) << c.missingFor << ", " << c.sinceLastTry;
}

// Poll ticks every 100 ms for three minutes of a shell that refuses icons:
// the adds it sees, then the one that takes it.
TEST_F(TrayWindowTest, AddingTheIconIsRetriedOnceASecondThenOnceAMinuteUntilTheShellTakesIt)
{
    shell.refuseAdds = 100000;
    CreateTray();
    const DWORD start = PlayedNow;
    EXPECT_EQ(1, shell.adds) << "creation tries once";
    EXPECT_FALSE(TrayIconShown);
    // Another timer's tick beside each poll tick: only the poll timer retries.
    const struct {
        DWORD at;  // ms after the first refusal
        int adds;
    } steps[] = {
        {900, 1}, {1000, 2}, {1900, 2}, {2000, 3}, {59000, 60}, {60000, 60}, {118900, 60}, {119000, 61}, {179000, 62},
    };
    DWORD at = 0;
    for (const auto& step : steps) {
        for (; at < step.at; at += 100) {
            PlayedNow = start + at + 100;
            Tick(7);
            Tick();
        }
        EXPECT_EQ(step.adds, shell.adds) << step.at << " ms";
    }
    EXPECT_EQ(0u, IconsOf(window));
    shell.refuseAdds = 0;
    PlayedNow = start + 239000;
    Tick();
    EXPECT_EQ(63, shell.adds);
    EXPECT_EQ(1u, IconsOf(window));
    EXPECT_TRUE(TrayIconShown);
    for (int i = 0; i < 20; ++i) {
        PlayedNow += 60000;
        Tick();
    }
    EXPECT_EQ(63, shell.adds) << "trying stops once the icon is there";
    EXPECT_EQ(1u, shell.icons.size());
}

SIZE IconSize(HICON icon)
{
    SIZE size = {0, 0};
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info))
        return size;
    BITMAP bitmap;
    if (info.hbmColor && GetObjectA(info.hbmColor, sizeof(bitmap), &bitmap))
        size = {bitmap.bmWidth, bitmap.bmHeight};
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return size;
}

// A dock, a monitor plugged in or the taskbar moved to another monitor
// changes the taskbar's scale without a WM_DPICHANGED for a hidden window.
TEST_F(TrayWindowTest, IconFollowsTheTaskbarsScaleAfterADisplayOrWorkAreaChange)
{
    CreateTray();
    ASSERT_TRUE(TrayIconShown);
    EXPECT_EQ(16, IconSize(shell.icon).cx);
    const struct {
        UINT message;
        WPARAM wParam;
        UINT dpi;
        int size;   // of the icon the shell holds afterwards
        bool sent;  // whether it was sent again
    } cases[] = {
        {WM_DISPLAYCHANGE, 32, 168, 28, true},                    // docked at 175 %
        {WM_DISPLAYCHANGE, 32, 168, 28, false},                   // the same size: nothing sent
        {WM_SETTINGCHANGE, SPI_SETWORKAREA, 144, 24, true},       // taskbar moved to 150 %
        {WM_SETTINGCHANGE, SPI_SETDESKWALLPAPER, 96, 24, false},  // not a work area
        {WM_SETTINGCHANGE, SPI_SETWORKAREA, 96, 16, true},
        {WM_DISPLAYCHANGE, 32, 120, 20, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.message << " at " << c.dpi);
        PlayedTaskbarDpi = c.dpi;
        int changes = shell.tipChanges;
        SendMessageA(window, c.message, c.wParam, 0);
        EXPECT_EQ(changes + (c.sent ? 1 : 0), shell.tipChanges);
        SIZE size = IconSize(shell.icon);
        EXPECT_EQ(c.size, size.cx);
        EXPECT_EQ(c.size, size.cy);
    }
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
    PlayedNow += 1000;
    Tick();
    EXPECT_EQ(1u, IconsOf(window));
    EXPECT_EQ(1u, shell.icons.size());
}

// The rules for programs, in the window's own work where no camera thread
// runs: the program in front is looked up at a press and never at a poll
// without one, a rule written by a registry editor applies from the next
// press, and a Send All keeps the mode and keys it began with while the
// rules and settings change during its pause.
static void ChangeEverythingDuringPause(DWORD)
{
    ProgramRules* rules = new ProgramRules();
    DWORD enter = ModeEnter;
    AddRuleValue(&rules->levels[UserRules], L"imaging.exe", 11, REG_DWORD, reinterpret_cast<const BYTE*>(&enter), 4);
    PublishProgramRules(rules);
    LockSettings();
    ActionMode = ModeSpace;
    CustomSettings.keys[1] = {0, 0, 0, 'C'};
    UnlockSettings();
}

TEST_F(TrayWindowTest, TheProgramInFrontIsLookedUpAtEachPressAndItsRuleAppliesFromTheNextPress)
{
    char rulesKey[128];
    wsprintfA(rulesKey, "%s\\%s", ProgramKeyPath, ProgramRulesSubkey);
    RegDeleteTreeA(HKEY_CURRENT_USER, rulesKey);
    CreateTray();
    for (int i = 0; i < 10; ++i)
        Tick();
    EXPECT_EQ(0, FrontLookups) << "polls without a press look at nothing";
    const std::vector<KeyEvent> space = {Down(VK_SPACE), Up(VK_SPACE)}, f5 = {Down(VK_F5), Up(VK_F5)};
    PlayedTarget = {4242, 1000, SECURITY_MANDATORY_MEDIUM_RID, "imaging.exe"};
    EXPECT_EQ(Describe(space), Describe(Press()));
    EXPECT_EQ(1, FrontLookups) << "once per press";

    // As a registry editor would: no restart, no menu.
    ASSERT_TRUE(SaveUserRule(L"Imaging", ModeKodak));
    EXPECT_TRUE(WaitUntil([&] { Tick(); return ProgramsWithOwnModeNow() == 1; }, 3000)) << "the change was not seen";
    EXPECT_EQ(Describe(f5), Describe(Press())) << "the rule for imaging.exe";
    PlayedTarget = {55, 1, SECURITY_MANDATORY_MEDIUM_RID, "other.exe"};
    EXPECT_EQ(Describe(space), Describe(Press())) << "no rule: the user's mode";
    PlayedTarget = {0, 0, 0, ""};
    EXPECT_EQ(Describe(space), Describe(Press())) << "nothing in front: the user's mode";
    EXPECT_EQ(4, FrontLookups);
    ASSERT_TRUE(RemoveUserRule(L"Imaging"));
    EXPECT_TRUE(WaitUntil([&] { Tick(); return ProgramsWithOwnModeNow() == 0; }, 3000));
    PlayedTarget = {4242, 1000, SECURITY_MANDATORY_MEDIUM_RID, "imaging.exe"};
    EXPECT_EQ(Describe(space), Describe(Press()));

    // Send All: both keys of the press, with the pause between them,
    // whatever changed during it.
    ASSERT_TRUE(SaveUserRule(L"imaging.exe", ModeCustom));
    EXPECT_TRUE(WaitUntil([&] { Tick(); return ProgramsWithOwnModeNow() == 1; }, 3000));
    CustomSettings = {SendAll, 200, {{0, 0, 0, 'A'}, {0, 0, 0, 'B'}, {}}};
    std::vector<KeyEvent> sent;
    {
        KeyRecorder recorder;
        CustomKeysPause = ChangeEverythingDuringPause;
        sim->euButtonDown = 1;
        Tick();
        sim->euButtonDown = 0;
        Tick();
        sent = recorder.Take();
    }
    EXPECT_EQ(Describe({Down('A'), Up('A'), Down('B'), Up('B')}), Describe(sent));
    const std::vector<KeyEvent> enter = {Down(VK_RETURN), Up(VK_RETURN)};
    EXPECT_EQ(Describe(enter), Describe(Press())) << "the next press takes the rules in force";
    RegDeleteTreeA(HKEY_CURRENT_USER, rulesKey);
    PublishProgramRules(NULL);
}

// A Store app's window in front is its frame host's: the app is the process
// that owns the frame's focus. Windows' frame host cannot run here, so the
// GUI thread's answer is played with a window of this process.
static HWND PlayedFocus;
static BOOL WINAPI PlayGuiThreadInfo(DWORD, GUITHREADINFO* info)
{
    info->hwndFocus = PlayedFocus;
    info->hwndActive = NULL;
    return TRUE;
}

TEST(FrontProgramTest, AStoreAppsFrameHostIsResolvedToTheAppsOwnProcess)
{
    PlayedFocus = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    ASSERT_NE(nullptr, PlayedFocus);
    LookUpGuiThreadInfo = PlayGuiThreadInfo;
    const DWORD host = GetCurrentProcessId() + 4, self = GetCurrentProcessId();
    const struct {
        const wchar_t* image;
        DWORD processId;
        DWORD resolved;
    } cases[] = {
        {L"C:\\Windows\\System32\\ApplicationFrameHost.exe", host, self},
        {L"C:\\WINDOWS\\system32\\applicationframehost.EXE", host, self},
        {L"C:\\Program Files\\Imaging\\imaging.exe", host, host},
        {L"ApplicationFrameHost.exe.bak", host, host},
        // The focus in the host itself: nothing better to name.
        {L"C:\\Windows\\System32\\ApplicationFrameHost.exe", self, self},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.resolved, ResolveFrameHost(GetCurrentThreadId(), c.processId, c.image))
            << testing::PrintToString(std::wstring(c.image));

    // The press's own lookup: a frame host of the tests' own in front, its
    // focus played as this process's window, names this program.
    FrontWindowProgram frameHost("ApplicationFrameHost.exe");
    ASSERT_TRUE(frameHost.BroughtForward()) << "the frame host never came in front";
    ForegroundTarget target = {};
    LookUpFrontProgramOfSystem(&target);
    WCHAR ownPath[MAX_PATH];
    GetModuleFileNameW(NULL, ownPath, MAX_PATH);
    EXPECT_EQ(self, target.processId);
    EXPECT_EQ(0, lstrcmpiW(ownPath, target.imagePath)) << Utf8(target.imagePath);

    DestroyWindow(PlayedFocus);
    PlayedFocus = NULL;
    EXPECT_EQ(host, ResolveFrameHost(GetCurrentThreadId(), host, L"ApplicationFrameHost.exe")) << "no focus";
    LookUpGuiThreadInfo = GetGUIThreadInfo;
}

// Windows drops the keys without a word; the tray says so until a press
// goes through, and the balloon comes back at most every five minutes of
// the played clock, with the advice the account and the install allow.
TEST_F(TrayWindowTest, ElevatedProgramInFrontGetsTheKeysAndTheTrayShowsTheBlockUntilAPressGoesThrough)
{
    RegisterEventSource();
    CreateTray();
    const HICON ready = shell.icon;
    for (int i = 0; i < 10; ++i)
        Tick();
    EXPECT_EQ(0, TargetLookups) << "polls without a press look at nothing";

    const std::vector<KeyEvent> space = {Down(VK_SPACE), Up(VK_SPACE)};
    PlayedTarget = {4242, 1000, SECURITY_MANDATORY_HIGH_RID, "imaging.exe"};
    char log[MAX_PATH];
    GetTempPathA(MAX_PATH, log);
    SetLogFolder(Wide(log).c_str());
    lstrcatA(log, "Lumo2.log");
    DeleteFileA(log);
    EXPECT_EQ(Describe(space), Describe(Press())) << "the keys are still sent";
    // The log says why they may not have arrived.
    std::string text = FileText(log);
    EXPECT_NE(std::string::npos, text.find("press: mode Space, sent Space, SendInput took 2 of 2; in front imaging.exe, "
                                           "higher level than Lumo2: keys dropped\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("blocked keys: warned (advice: start Lumo2 as administrator)")) << text;
    ASSERT_EQ(1u, shell.balloons.size());
    EXPECT_EQ(1, TargetLookups);

    const ULONGLONG minute = 60 * 1000;
    const DWORD high = SECURITY_MANDATORY_HIGH_RID;
    const TOKEN_ELEVATION_TYPE limited = TokenElevationTypeLimited, standard = TokenElevationTypeDefault;
    const char* const asAdministrator = "Start Lumo2 as administrator";
    const char* const askIt = "Ask IT to install Lumo2 for all users";
    struct {
        const char* what;
        ForegroundTarget target;
        LONG mode;
        ULONGLONG later;      // the played clock moves on by this before the press
        TOKEN_ELEVATION_TYPE account;
        bool perMachine;
        const char* blockedBy;  // the name the tip gives, or null when not blocked
        size_t balloons;        // in all, after this press
        const char* advice;     // of a balloon this press shows
        int lookups;            // in all, after this press
    } presses[] = {
        {"same process again", {4242, 1000, high, "imaging.exe"}, ModeSpace, minute, limited, true, "imaging.exe", 1, NULL, 2},
        {"still blocked, not yet five minutes", {4242, 1000, high, "imaging.exe"}, ModeSpace, 3 * minute, limited, true,
         "imaging.exe", 1, NULL, 3},
        {"five minutes after the balloon, installed per user", {4242, 1000, high, "imaging.exe"}, ModeSpace, minute,
         limited, false, "imaging.exe", 2, askIt, 4},
        {"another elevated program names itself, no balloon yet", {777, 5, high, "other.exe"}, ModeEnter, minute,
         limited, true, "other.exe", 2, NULL, 5},
        {"a process that may not be asked or named", {99, 1, IntegrityDenied, ""}, ModeCustom, 0, limited, true,
         "the program in front", 2, NULL, 6},
        {"an ordinary program clears it", {55, 1, SECURITY_MANDATORY_MEDIUM_RID, "notepad.exe"}, ModeSpace, 0, limited,
         true, NULL, 2, NULL, 7},
        {"a low-integrity program", {56, 1, SECURITY_MANDATORY_LOW_RID, "low.exe"}, ModeSpace, 0, limited, true, NULL,
         2, NULL, 8},
        {"blocked anew within five minutes: the tip only", {4242, 1000, high, "imaging.exe"}, ModeKodak, minute,
         limited, true, "imaging.exe", 2, NULL, 9},
        {"no window in front clears it", {0, 0, 0, ""}, ModeSpace, 0, limited, true, NULL, 2, NULL, 10},
        {"blocked anew after five minutes, a standard user", {4242, 2000, high, "imaging.exe"}, ModeSpace, 5 * minute,
         standard, true, "imaging.exe", 3, askIt, 11},
        {"a split-token administrator with a per-machine install", {4242, 2000, high, "imaging.exe"}, ModeSpace,
         5 * minute, limited, true, "imaging.exe", 4, asAdministrator, 12},
        {"the joystick types nothing, so nothing is blocked", {12, 1, high, "imaging.exe"}, ModeJoystick, 5 * minute,
         limited, true, NULL, 4, NULL, 12},
        {"a mode that does nothing", {12, 1, high, "imaging.exe"}, 11, 0, limited, true, NULL, 4, NULL, 12},
    };
    for (const auto& p : presses) {
        SCOPED_TRACE(p.what);
        PlayedTarget = p.target;
        ActionMode = p.mode;
        PlayedWarningNow += p.later;
        PlayedElevationType = p.account;
        PlayedPerMachine = p.perMachine;
        Press();
        EXPECT_EQ(p.balloons, shell.balloons.size());
        EXPECT_EQ(p.lookups, TargetLookups);
        if (p.advice) {
            EXPECT_NE(std::string::npos, shell.balloons.back().find(p.advice)) << shell.balloons.back();
            EXPECT_NE(std::string::npos, shell.balloons.back().find(p.target.exeName)) << shell.balloons.back();
        }
        EXPECT_EQ(p.blockedBy != NULL, shell.tip.find("keys blocked") != std::string::npos) << shell.tip;
        if (p.blockedBy) {
            EXPECT_NE(std::string::npos, shell.tip.find(std::string("keys blocked: ") + p.blockedBy)) << shell.tip;
            EXPECT_EQ(DimmedIcon(ready), shell.icon) << "not ready";
        } else if (ModeSendsKeys(p.mode)) {
            EXPECT_EQ(ready, shell.icon) << "ready again";
        }
    }
    // An entry with each balloon, naming the program, its advice told apart
    // by the ID's qualifiers (the joystick mode played here has its own).
    std::vector<std::string> blockedEntries;
    std::vector<DWORD> blockedIds;
    for (size_t i = 0; i < Entries.size(); ++i) {
        if ((EntryIds[i] & 0xFFFF) == 4) {
            blockedEntries.push_back(Entries[i]);
            blockedIds.push_back(EntryIds[i]);
        }
    }
    EXPECT_EQ(std::vector<std::string>(4, "4:2:imaging.exe"), blockedEntries);
    EXPECT_EQ((std::vector<DWORD>{EventKeysBlocked, EventKeysBlockedAskForInstall, EventKeysBlockedAskForInstall,
                                  EventKeysBlocked}),
              blockedIds);
    text = FileText(log);
    SetLogFolder(NULL);
    EXPECT_NE(std::string::npos, text.find("blocked keys: over, a press went through")) << text;
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
    // The balloon and the tip in the language in force, the log in English:
    // Korean first, so that the log holds only that pass's line when it is read.
    const struct {
        const wchar_t* value;
        WORD language;
    } languages[] = {{L"ko", LANG_KOREAN}, {L"en", LANG_ENGLISH}};
    for (size_t chosen = 1; chosen <= 2; ++chosen) {
        const WORD language = languages[chosen - 1].language;
        StoreLanguage(languages[chosen - 1].value);
        SendMessageA(window, WM_COMMAND, IDM_JOYSTICK, 0);
        const std::wstring tip = UiString(IDS_MODE_BASE + ModeJoystick, language) + L" (" +
                                 UiString(IDS_JOYSTICK_TIP + JoystickNoDriver, language) + L")";
        EXPECT_NE(std::string::npos, shell.tip.find(Utf8(tip))) << shell.tip;
        EXPECT_TRUE(Press().empty());
        EXPECT_NE(std::string::npos, FileText(log).find("press: mode JOYSTICK, sent nothing: no joystick driver"));
        SendMessageA(window, WM_COMMAND, IDM_SPACE, 0);
        ASSERT_EQ(chosen, shell.balloons.size()) << "once each time it is chosen, not per press";
        EXPECT_EQ("Lumo2|" + Utf8(UiString(IDS_JOYSTICK_BALLOON + JoystickNoDriver, language)), shell.balloons.back());
    }
    StoreLanguage(NULL);
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
        EXPECT_EQ("Lumo2|" + Utf8(UiString(JoystickBalloonText(CurrentJoystickStatus()))), text) << "not cut";
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
        // The keys' own watch saw these writes too; the signal alone counts.
        SetEvent(PlayedPolicyEvents[signal]);
        EXPECT_TRUE(PolicyApplied()) << "Group Policy's signal with no key written";
    }
    DestroyWindow(window);
    window = NULL;
    EXPECT_TRUE(!PlayedPolicyEvents[0] && !PlayedPolicyEvents[1]) << "given up with the window";
    RegisterPolicyNotification = systemRegister;
    UnregisterPolicyNotification = systemUnregister;
    CreateTray();
    EXPECT_TRUE(StartPolicyWatch()) << "userenv.dll bound from the system folder takes both";
}

// Intune, a script or `reg add` writes the keys and says nothing: the
// watch on Software\Policies sees it on the next poll, also when the
// user's hive had no such key until the policy came, and after the key
// was taken away and made again.
TEST_F(TrayWindowTest, PolicyKeysWrittenWithoutAnySignalAreReadOnTheNextPoll)
{
    PolicyNotificationFn systemRegister = RegisterPolicyNotification;
    PolicyUnnotificationFn systemUnregister = UnregisterPolicyNotification;
    RegisterPolicyNotification = PlayRegisterPolicy;
    UnregisterPolicyNotification = PlayUnregisterPolicy;
    auto removeUsersPolicyKey = [] {
        ClearPolicies();
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Policies\\Kestrova");
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Policies");
    };
    removeUsersPolicyKey();
    HKEY none;
    ASSERT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Policies", 0, KEY_READ, &none))
        << "the user's hive has no policy key to begin with";
    CreateTray();
    Tick();  // the watch starts
    ASSERT_EQ(ModeSpace, EffectiveActionMode());
    // Another program's new key beside where the policies would be: nothing
    // to read.
    HKEY other;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Lumo2 field test", &other));
    RegCloseKey(other);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Lumo2 field test");
    EXPECT_FALSE(PolicyApplied());
    const struct {
        const char* what;
        HKEY hive;
        LONG policy;  // 0 takes the value away
        bool wholeKey;
        LONG inForce;
    } changes[] = {
        {"the user's policy key comes", HKEY_CURRENT_USER, ModeKodak, false, ModeKodak},
        {"its value changes", HKEY_CURRENT_USER, ModeEnter, false, ModeEnter},
        {"the computer's policy comes", HKEY_LOCAL_MACHINE, ModeSidexis, false, ModeSidexis},
        {"the computer's value goes", HKEY_LOCAL_MACHINE, 0, false, ModeEnter},
        {"the user's Software\\Policies goes", HKEY_CURRENT_USER, 0, true, ModeSpace},
        {"and comes again", HKEY_CURRENT_USER, ModeKodak, false, ModeKodak},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.what);
        if (c.policy)
            StorePolicyDword(c.hive, PolicyActionModeName, DWORD(c.policy));
        else if (c.wholeKey)
            removeUsersPolicyKey();
        else
            RegDeleteKeyValueA(c.hive, PolicyKeyPath, PolicyActionModeName);
        Tick();
        EXPECT_EQ(c.inForce, EffectiveActionMode());
        EXPECT_FALSE(PolicyApplied()) << "one change, one refresh";
    }
    ClearPolicies();
    DestroyWindow(window);
    window = NULL;
    RegisterPolicyNotification = systemRegister;
    UnregisterPolicyNotification = systemUnregister;
}

TEST_F(TrayWindowTest, BlockedKeysWarningWaitsUntilTheIconCanShowIt)
{
    shell.refuseAdds = 1000;  // a shell that is not ready for a long while
    CreateTray();
    ASSERT_FALSE(TrayIconShown);
    PlayedTarget = {4242, 1000, SECURITY_MANDATORY_HIGH_RID, "imaging.exe"};
    EXPECT_EQ(Describe({Down(VK_SPACE), Up(VK_SPACE)}), Describe(Press())) << "the keys are still sent";
    EXPECT_TRUE(shell.balloons.empty());

    shell.refuseAdds = 0;
    PlayedNow += 1000;
    Tick();
    ASSERT_TRUE(TrayIconShown);
    EXPECT_NE(std::string::npos, shell.tip.find("keys blocked: imaging.exe")) << "the icon shows the block in force";
    Press();
    EXPECT_EQ(1u, shell.balloons.size()) << "the warning not shown before is shown now";
}

// The tray menu's texts as the tray window sees it open.
std::vector<std::wstring> OpenedMenuTexts;

std::vector<std::wstring> MenuTexts(HMENU popup)
{
    std::vector<std::wstring> texts;
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        WCHAR text[128] = L"";
        GetMenuStringW(popup, UINT(i), text, 128, MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

LRESULT CALLBACK NoteMenuOpening(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITMENUPOPUP)
        OpenedMenuTexts = MenuTexts(reinterpret_cast<HMENU>(call->wParam));
    return CallNextHookEx(NULL, code, wParam, lParam);
}

// Each opening takes the language then in force; after each the tray
// window gets the WM_NULL that Windows asks for, the second time too.
TEST_F(TrayWindowTest, MenuComesInTheLanguageInForceAndIsFollowedByANullMessage)
{
    CreateTray();
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, NoteMenuOpening, NULL, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    const struct {
        const wchar_t* value;
        WORD language;
    } openings[] = {{L"ko", LANG_KOREAN}, {L"en", LANG_ENGLISH}, {L"KO", LANG_KOREAN}};
    for (const auto& o : openings) {
        SCOPED_TRACE(o.language);
        StoreLanguage(o.value);
        OpenedMenuTexts.clear();
        // Closed as soon as it opens, as a click elsewhere would.
        PostMessageW(window, WM_CANCELMODE, 0, 0);
        ShowTrayMenu(window);
        HRSRC found = FindResourceExW(AppInstance, MAKEINTRESOURCEW(4), MAKEINTRESOURCEW(IDM_TRAY_MENU),
                                      MAKELANGID(o.language, SUBLANG_DEFAULT));
        ASSERT_NE(nullptr, found);
        HMENU menu = LoadMenuIndirectW(LockResource(LoadResource(AppInstance, found)));
        EXPECT_EQ(MenuTexts(GetSubMenu(menu, 0)), OpenedMenuTexts);
        DestroyMenu(menu);
        // A filter of WM_NULL to WM_NULL would take any message.
        bool nullPosted = false;
        MSG msg;
        while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE))
            nullPosted |= msg.message == WM_NULL;
        EXPECT_TRUE(nullPosted) << "no WM_NULL after the menu";
    }
    UnhookWindowsHookEx(hook);
    EXPECT_NE(std::string::npos, shell.tip.find(Utf8(UiString(IDS_TIP_VENDOR_CAMERA, LANG_KOREAN))))
        << "the tip follows at the menu's opening: " << shell.tip;
    // A script changes the user's Language: the tip follows without the
    // menu, once the watches are on.
    Tick();
    StoreLanguage(L"en");
    const std::string english = Utf8(UiString(IDS_TIP_VENDOR_CAMERA, LANG_ENGLISH));
    EXPECT_TRUE(WaitUntil([&] { Tick(); return shell.tip.find(english) != std::string::npos; }, 3000)) << shell.tip;
}

TEST_F(TrayWindowTest, IconAndTipFollowTheCameraTheModeAndAPolicyAndEntriesNeedTheSource)
{
    const std::string dash = Utf8(TipSeparator());
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
        {{10, 1, SECURITY_MANDATORY_HIGH_RID, ""}, true},
        {{10, 1, SECURITY_MANDATORY_SYSTEM_RID, ""}, true},
        {{10, 1, IntegrityDenied, ""}, true},
        {{10, 1, SECURITY_MANDATORY_MEDIUM_RID, ""}, false},
        {{10, 1, SECURITY_MANDATORY_MEDIUM_RID + 0x100, ""}, true},
        {{10, 1, SECURITY_MANDATORY_LOW_RID, ""}, false},
        {{10, 1, 0, ""}, false},
        {{0, 0, SECURITY_MANDATORY_HIGH_RID, ""}, false},
        {{GetCurrentProcessId(), 1, SECURITY_MANDATORY_HIGH_RID, ""}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.blocked, KeysWillBeBlocked(c.target, own))
            << c.target.processId << " at " << std::hex << c.target.integrity;

    // A process that may not be asked: another account's at this level
    // ("Run as different user") takes a posted message and gets the keys;
    // one at a higher level is refused it by Windows (played: Wine has no
    // levels), and drops them, as does one whose window has gone.
    const WindowTakesMessagesFn ofSystem = WindowTakesOurMessages;
    const WindowTakesMessagesFn refusedByWindows = [](HWND) { return false; };
    HWND live = CreateWindowExA(0, "STATIC", "front", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    HWND gone = CreateWindowExA(0, "STATIC", "front", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    DestroyWindow(gone);
    const struct {
        DWORD integrity;
        HWND window;
        WindowTakesMessagesFn takes;
        bool blocked;
    } unaskable[] = {{IntegrityDenied, live, ofSystem, false}, {IntegrityDenied, live, refusedByWindows, true},
                     {IntegrityDenied, gone, ofSystem, true}, {SECURITY_MANDATORY_HIGH_RID, live, ofSystem, true}};
    for (const auto& c : unaskable) {
        ForegroundTarget target = {10, 1, c.integrity, "", L"", c.window};
        WindowTakesOurMessages = c.takes;
        SettleUnaskableLevel(&target, own);
        EXPECT_EQ(c.blocked, KeysWillBeBlocked(target, own)) << std::hex << c.integrity << " " << c.window;
    }
    WindowTakesOurMessages = ofSystem;
    DestroyWindow(live);
}

// The scenario above shows names that fit; these do not.
TEST(BlockedKeysTest, TheBalloonNamesTheProgramAndKeepsItsAdviceWhole)
{
    const std::string longName = std::string(300, 'n') + ".exe";
    const struct {
        const char* exe;
        BlockedKeysAdvice advice;
        const char* names;  // what the text calls the program
        const char* says;
    } cases[] = {
        {"", AdviseAskForMachineInstall, "The program in front runs", "Ask IT"},
        {longName.c_str(), AdviseStartAsAdministrator, "nnnnnnnnnn... runs", "Start Lumo2 as administrator too."},
        {longName.c_str(), AdviseAskForMachineInstall, "nnnnnnnnnn... runs", "start that program normally."},
    };
    ProgramTexts texts;
    for (const auto& c : cases) {
        WCHAR text[256];
        wmemset(text, L'x', 256);
        ComposeBlockedKeysText(text, 256, c.exe, c.advice);
        std::string shown = Utf8(text);
        EXPECT_LT(wcslen(text), 256u);
        EXPECT_NE(std::string::npos, shown.find(c.names)) << shown;
        EXPECT_NE(std::string::npos, shown.find(c.says)) << shown;
        EXPECT_NE(std::string::npos, shown.find("blocks the keys")) << shown;
    }
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
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    EXPECT_STREQ(strrchr(self, '\\') + 1, target.exeName) << "the file name only";
    printf("integrity level of an ordinary process here: 0x%lX\n", target.integrity);
}

TEST(SingleInstanceTest, ExistingOrUnopenableMutexMeansAnotherCopy)
{
    // Held by a copy that runs, abandoned by one that ended, and let go by
    // one still ending (its handle open): only the first one runs.
    enum Holder { Runs, Abandoned, LetGo };
    const struct {
        Holder holder;
        DWORD error;
        bool another;
    } real[] = {{Runs, ERROR_ALREADY_EXISTS, true}, {Abandoned, ERROR_ALREADY_EXISTS, false},
                {LetGo, ERROR_ALREADY_EXISTS, false}, {Runs, ERROR_SUCCESS, false}};
    for (const auto& c : real) {
        HANDLE go = CreateEventA(NULL, TRUE, FALSE, NULL), taken = CreateEventA(NULL, TRUE, FALSE, NULL);
        Holder holder = c.holder;
        std::thread copy([holder, go, taken] {
            HANDLE mine = CreateMutexA(NULL, TRUE, "Lumo2-single-instance-test");
            if (holder == LetGo)
                ReleaseMutex(mine);
            SetEvent(taken);
            WaitForSingleObject(go, 10000);
            CloseHandle(mine);
        });
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(taken, 5000));
        HANDLE mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "Lumo2-single-instance-test");
        ASSERT_NE(nullptr, mutex);
        if (holder == Abandoned) {
            SetEvent(go);
            copy.join();  // abandoned once its thread has ended owning it
        }
        EXPECT_EQ(c.another, AnotherCopyRuns(mutex, c.error)) << holder << " " << c.error;
        if (!c.another && c.error == ERROR_ALREADY_EXISTS) {
            EXPECT_TRUE(ReleaseMutex(mutex)) << "the start that runs owns it";
        }
        SetEvent(go);
        if (copy.joinable())
            copy.join();
        CloseHandle(mutex);
        CloseHandle(go);
        CloseHandle(taken);
    }
    const struct {
        HANDLE mutex;
        DWORD error;
        bool another;
    } cases[] = {
        {NULL, ERROR_ACCESS_DENIED, true},  // held by a copy started as administrator
        {NULL, ERROR_INVALID_HANDLE, false},  // a name clash with another kind of object
        {NULL, ERROR_NOT_ENOUGH_MEMORY, false},
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
