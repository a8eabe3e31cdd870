// The running program under Wine: start-up, tray commands, presses, and the
// Custom Settings window, driven from outside as a user and the system would.
// Presses come through the capture driver's latch, whose clearing shows when
// a poll has taken them.
#include "actions/program_in_front.h"
#include "app/shell.h"
#include "app/tray_window.h"
#include "lifecycle/takeover.h"
#include "platform/diag_log.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "settings/policy.h"
#include "settings/program_rules.h"
#include "settings/ui_text.h"
#include "tests/support/joystick_log.h"
#include "tests/support/keyboard_hook.h"
#include "tests/support/lumo_process.h"
#include "tests/support/registry_scratch.h"
#include "tests/support/sim_camera.h"
#include "tests/support/test_support.h"
#include "tests/support/wait_until.h"
#include "windows/programs_window.h"
#include "platform/integrity.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <algorithm>
#include <map>
#include <set>
#include <thread>
#include <string>
#include <vector>

namespace {

// How the popup menu draws its text items, top to bottom: whether an item's
// text is greyed and whether the radio mark stands before it. Read from the
// pixels, since another process's menu cannot be asked under Wine: text is
// black, greyed text grey, and a separator a grey line across. Each item is
// looked at around its centre, worked out from the two separators and the
// items outside them, so that no row of a neighbour counts.
struct ItemLook {
    bool greyed;
    bool marked;
};

std::vector<ItemLook> MenuItemLooks(const WindowPicture& picture)
{
    const int border = 3, ink = 0xC0;
    const int width = picture.width - 2 * border;
    std::vector<int> darkest(picture.height, 0xFF), left(picture.height, picture.width), lines;
    for (int y = border; y < picture.height - border; ++y) {
        int dark = 0;
        for (int x = border; x < picture.width - border; ++x) {
            DWORD p = picture.At(x, y);
            int shade = (int(p & 0xFF) + int((p >> 8) & 0xFF) + int((p >> 16) & 0xFF)) / 3;
            darkest[y] = std::min(darkest[y], shade);
            if (shade < ink)
                left[y] = std::min(left[y], x);
            dark += shade < ink;
        }
        if (dark > width * 6 / 10 && (lines.empty() || y > lines.back() + 2))
            lines.push_back(y);
    }
    if (lines.size() != 2)
        return {};
    auto inkCentre = [&](int from, int to) {
        int first = -1, last = -1;
        for (int y = from; y < to; ++y)
            if (darkest[y] < ink) {
                first = first < 0 ? y : first;
                last = y;
            }
        return (first + last) / 2.0;
    };
    // The ink below the second line spans "Programs...", "Diagnostics..."
    // and "Exit"; its middle is the middle item's centre.
    double about = inkCentre(border, lines[0]), lastThree = inkCentre(lines[1] + 2, picture.height - border);
    // Items H high, separators S with their line in the middle: 9 H + S
    // between the lines, 11 H + 2 S from the first item's centre to the
    // middle of the last three.
    double between = lines[1] - lines[0];
    double itemHeight = (2 * between - (lastThree - about)) / 7;
    double firstMode = lines[0] + (between - 9 * itemHeight) / 2 + itemHeight / 2;
    std::vector<double> centres = {about};
    for (int k = 0; k < 9; ++k)
        centres.push_back(firstMode + k * itemHeight);
    for (int k = -1; k <= 1; ++k)
        centres.push_back(lastThree + k * itemHeight);

    std::vector<std::pair<int, int>> items;  // darkest shade, leftmost ink
    std::vector<int> lefts;
    for (double centre : centres) {
        std::pair<int, int> item(0xFF, picture.width);
        for (int y = int(centre - itemHeight / 4); y <= int(centre + itemHeight / 4); ++y) {
            item.first = std::min(item.first, darkest[y]);
            item.second = std::min(item.second, left[y]);
        }
        items.push_back(item);
        lefts.push_back(item.second);
    }
    // Every text starts at the same column; the mark stands left of it.
    std::sort(lefts.begin(), lefts.end());
    int textLeft = lefts[lefts.size() / 2];
    std::vector<ItemLook> looks;
    for (const auto& item : items)
        looks.push_back({item.first > 0x60, item.second < textLeft - 3});
    return looks;
}

// One letter per text item, n normal or g greyed, after a * when marked.
std::string DescribeLooks(const std::vector<ItemLook>& looks)
{
    std::string text;
    for (const ItemLook& look : looks)
        text += std::string(look.marked ? "*" : "") + (look.greyed ? "g" : "n") + " ";
    return text;
}

// The thirteen text items with the mode at markedPosition marked and, under
// a policy mode, the other modes and "Custom Settings" greyed; never
// "Programs..." or "Diagnostics...".
std::string ExpectedLooks(LONG markedPosition, LONG policyMode)
{
    std::vector<ItemLook> looks;
    for (LONG position : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14}) {
        bool locked = policyMode && position >= ModeSpace && position <= ModeCustom &&
                      (position != policyMode || position == ModeCustom);
        looks.push_back({locked, position == markedPosition});
    }
    return DescribeLooks(looks);
}

class AppTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        ClearJoystickLog();
        sim = camera.State();
        ASSERT_NE(nullptr, sim);
        camera.Add(1);
        ASSERT_TRUE(hook.Installed());
    }

    // One press of the camera button, taken by a poll and acted on; what the
    // hook saw of it.
    Events Press()
    {
        EXPECT_TRUE(camera.PressAndWaitTaken()) << "no poll took the press";
        return hook.TakeUpToNow();
    }

    HWND VisibleMenu() const
    {
        HWND menu = FindProcessWindow(lumo.ProcessId(), "#32768");
        return menu && IsWindowVisible(menu) ? menu : NULL;
    }

    // Opens the popup menu as a button-down on the icon does, waits until it
    // has painted and returns what it shows.
    WindowPicture OpenMenu(HWND* menu, LPARAM mouse = WM_RBUTTONDOWN)
    {
        PostMessageA(lumo.Tray(), WM_TRAY_CALLBACK, 0, mouse);
        EXPECT_TRUE(WaitUntil([&] { return (*menu = VisibleMenu()) != NULL; }, 5000)) << "no menu";
        if (!*menu)
            return WindowPicture();
        // Shown is not yet painted: wait until the picture holds all items.
        WindowPicture picture;
        EXPECT_TRUE(WaitUntil(
            [&] { return Drawn(*menu) && MenuItemLooks(picture = CaptureWindow(*menu)).size() == 13; }, 5000))
            << "the menu never showed its items";
        return picture;
    }

    void CloseMenu(HWND menu)
    {
        PostMessageA(lumo.Tray(), WM_CANCELMODE, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(menu); }, 5000));
    }

    SimCamera camera;
    SimState* sim = nullptr;
    KeyboardHook hook;
    LumoProcess lumo;
};

TEST_F(AppTest, FirstStartUsesSpaceAndSecondCopyExitsQuietly)
{
    ASSERT_TRUE(lumo.Start());
    // The icon comes with the camera thread's first connect.
    EXPECT_TRUE(WaitUntil([&] { return lumo.HasTrayIcon(); }, 5000));
    EXPECT_EQ(Describe(Space), Describe(Press()));
    EXPECT_EQ(0u, LumoProcess::RunSecondCopy(10000));
    EXPECT_TRUE(lumo.Running());
    EXPECT_EQ(1u, LumoTrayWindows().size());
    EXPECT_TRUE(lumo.HasTrayIcon());
    EXPECT_EQ(LONG(-12345), StoredActionMode(-12345)) << "starting writes nothing";
}

TEST_F(AppTest, StoredModeIsTakenAtStartUp)
{
    struct {
        const char* what;
        DWORD type;
        std::vector<BYTE> stored;
        Events press;
        LONG afterExit;  // what "Exit" writes back: the mode in force
    } cases[] = {
        {"Enter", REG_DWORD, {3, 0, 0, 0}, Enter, ModeEnter},
        {"Kodak", REG_DWORD, {5, 0, 0, 0}, F5, ModeKodak},
        {"custom", REG_DWORD, {10, 0, 0, 0}, {Down(VK_CONTROL), Down('Q'), Up('Q'), Up(VK_CONTROL)}, ModeCustom},
        {"0", REG_DWORD, {0, 0, 0, 0}, {}, 0},
        {"11", REG_DWORD, {11, 0, 0, 0}, {}, 11},
        {"-1", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, {}, -1},
        // A shorter value replaces the low bytes of the initial 2.
        {"one byte", REG_BINARY, {5}, F5, ModeKodak},
        {"two bytes", REG_BINARY, {3, 0}, Enter, ModeEnter},
        {"two bytes, high one set", REG_BINARY, {5, 1}, {}, 0x105},
        // A longer value cannot be read: the first start's mode.
        {"eight bytes", REG_BINARY, {5, 0, 0, 0, 0, 0, 0, 0}, Space, ModeSpace},
        {"five bytes", REG_BINARY, {3, 0, 0, 0, 0}, Space, ModeSpace},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
        CustomKeySettings custom = {Sequential, 1000, {{0, 1, 0, 'Q'}, {}, {}}};
        CustomSettings = custom;
        SaveCustomKeySettings();
        Store("key", c.type, c.stored.data(), DWORD(c.stored.size()));
        LumoProcess run;
        ASSERT_TRUE(run.Start());
        // The press is taken either way; a mode outside the menu sends nothing.
        EXPECT_EQ(Describe(c.press), Describe(Press()));
        run.Command(IDM_EXIT);
        EXPECT_EQ(0u, run.WaitForExit(5000));
        EXPECT_EQ(c.afterExit, StoredActionMode(-12345)) << "Exit writes the mode in force";
    }
}

TEST_F(AppTest, StoredJoystickModeOpensTheJoystickBeforeAnyPress)
{
    StoreDword("key", ModeJoystick);
    ASSERT_TRUE(lumo.Start());
    StandinLog log = ReadJoystickLogSettled(1);
    EXPECT_EQ(1u, log.opens);
    EXPECT_EQ(1u, log.openHandles);
    EXPECT_EQ(0u, log.count);
    EXPECT_TRUE(Press().empty()) << "the joystick mode types nothing";
    // The camera process polls on while Lumo2 clicks: the release comes
    // 100 ms after the press.
    WaitUntil([&] { return (log = ReadJoystickLog()).count == 2; }, 3000);
    ASSERT_EQ(2u, log.count);
    EXPECT_EQ(1, log.packets[0].bytes[38]);
    EXPECT_EQ(0, log.packets[1].bytes[38]);
}

TEST_F(AppTest, ModeCommandsSelectTheModeAndStoreIt)
{
    struct {
        WORD command;
        LONG mode;
        Events first, second;
    } cases[] = {
        {IDM_SPACE, ModeSpace, Space, Space},
        {IDM_ENTER, ModeEnter, Enter, Enter},
        {IDM_SCHICK, ModeSchick, {Down(VK_MENU), Down('F'), Up('F'), Up(VK_MENU)},
         {Down(VK_MENU), Down('T'), Up('T'), Up(VK_MENU)}},
        {IDM_KODAK, ModeKodak, F5, F5},
        {IDM_SIDEXIS, ModeSidexis, {Down(VK_SHIFT), Down(VK_F12), Up(VK_F12), Up(VK_SHIFT)},
         {Down(VK_SHIFT), Down(VK_CONTROL), Down('V'), Up('V'), Up(VK_CONTROL), Up(VK_SHIFT)}},
        {IDM_ALT_F_ALT_S, ModeAltFAltS, {Down(VK_MENU), Down('F'), Up('F'), Up(VK_MENU)},
         {Down(VK_MENU), Down('S'), Up('S'), Up(VK_MENU)}},
        {IDM_CDX_VIEW, ModeCdxView, {Down(VK_MENU), Down('S'), Up('S'), Up(VK_MENU)},
         {Down(VK_MENU), Down('S'), Up('S'), Up(VK_MENU)}},
    };
    ASSERT_TRUE(lumo.Start());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        lumo.Command(c.command);
        EXPECT_EQ(c.mode, StoredActionMode(-1));
        EXPECT_EQ(Describe(c.first), Describe(Press()));
        EXPECT_EQ(Describe(c.second), Describe(Press()));
    }
    EXPECT_EQ(0, hook.NotInjected());
}

TEST_F(AppTest, JoystickCommandOpensTheDeviceEachTime)
{
    ASSERT_TRUE(lumo.Start());
    StandinLog log = ReadJoystickLog();
    EXPECT_EQ(0u, log.opens) << "not opened until chosen";
    lumo.Command(IDM_JOYSTICK);
    log = ReadJoystickLogSettled(1);
    EXPECT_EQ(1u, log.opens);
    EXPECT_EQ(1u, log.openHandles);
    lumo.Command(IDM_JOYSTICK);
    // The handle count is 1 before the reopen as after it: wait for the open.
    WaitUntil([&] { return (log = ReadJoystickLog()).opens == 2 && log.openHandles == 1; }, 3000);
    EXPECT_EQ(2u, log.opens) << "chosen again, the device is opened again";
    EXPECT_EQ(1u, log.openHandles) << "and the old handle closed";
    EXPECT_EQ(ModeJoystick, StoredActionMode(-1));
    lumo.Command(IDM_SPACE);
    log = ReadJoystickLogSettled(1);
    EXPECT_EQ(0u, log.count) << "leaving the mode sends nothing";
    EXPECT_EQ(1u, log.openHandles) << "and closes nothing";
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
    EXPECT_EQ(0u, ReadJoystickLog().openHandles) << "closed at exit";
}

TEST_F(AppTest, WithoutPPJoyTheJoystickModeClicksVJoyAndGivesItBack)
{
    PPJoyOutOfReach ppjoyGone;
    ASSERT_TRUE(ppjoyGone.Done());
    VJoyRegistered vjoy;
    VJoyLog* log = OpenVJoyLog();
    ASSERT_NE(nullptr, log);
    StoreDword("key", ModeJoystick);
    ASSERT_TRUE(lumo.Start());
    const DWORD pid = lumo.ProcessId();
    auto callsAre = [&](const std::string& expected) {
        WaitUntil([&] { return DescribeVJoyCalls(pid) == expected; }, 5000);
        return DescribeVJoyCalls(pid);
    };
    EXPECT_EQ("acquire 1", callsAre("acquire 1")) << "taken at start-up";
    EXPECT_EQ(pid, log->owner);
    EXPECT_TRUE(Press().empty()) << "the joystick mode types nothing";
    EXPECT_EQ("acquire 1, down 1/1, up 1/1", callsAre("acquire 1, down 1/1, up 1/1"));
    EXPECT_GE(VJoyPressMs(), 95.0);
    EXPECT_LT(VJoyPressMs(), 1000.0);

    lumo.Command(IDM_SPACE);
    EXPECT_EQ("acquire 1, down 1/1, up 1/1, relinquish 1", DescribeVJoyCalls(pid));
    EXPECT_EQ(0u, log->owner) << "another mode gives the device back";
    EXPECT_EQ(Describe(Space), Describe(Press()));
    lumo.Command(IDM_JOYSTICK);
    EXPECT_EQ(pid, log->owner) << "chosen again, taken again";

    // Another program takes the device over: the click is refused, and once
    // it lets go a later press takes the device back, without the menu.
    const std::string before = "acquire 1, down 1/1, up 1/1, relinquish 1, acquire 1";
    log->owner = GetCurrentProcessId();
    EXPECT_TRUE(Press().empty());
    EXPECT_EQ(before + ", down 1/1", callsAre(before + ", down 1/1"));
    log->owner = 0;
    EXPECT_TRUE(WaitUntil([&] { return Press().empty() && log->owner == pid; }, 5000)) << "taken back at a press";
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
    EXPECT_EQ(before + ", down 1/1, acquire 1, down 1/1, up 1/1, relinquish 1", DescribeVJoyCalls(pid));
    EXPECT_EQ(0u, log->owner) << "given back at exit";

    // A joystick driver that hangs is watched as a camera that hangs.
    WCHAR logFile[MAX_PATH];
    ASSERT_TRUE(LogFilePath(logFile, MAX_PATH, false));
    DeleteFileW(logFile);
    ASSERT_TRUE(lumo.Start());
    log->hangButton = 1;
    camera.LatchPress();
    EXPECT_TRUE(camera.WaitTaken());
    std::string text;
    EXPECT_TRUE(WaitUntil([&] { return (text = FileText(logFile)).find("a joystick call has not returned") !=
                                       std::string::npos; }, 5000)) << text;
    log->hangButton = 0;
    EXPECT_TRUE(WaitUntil([&] { return FileText(logFile).find("camera: responding again") != std::string::npos; },
                          5000));
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
}

TEST_F(AppTest, CustomCombinationsArriveWithTheScanCodesOfTheRealKeys)
{
    CustomSettings = {SendAll, 0, {{0, 1, 0, VK_LEFT}, {0, 0, 1, VK_INSERT}, {0, 0, 0, VK_DIVIDE}}};
    SaveCustomKeySettings();
    StoreDword("key", ModeCustom);
    ASSERT_TRUE(lumo.Start());
    const Events expected = {Down(VK_CONTROL), Down(VK_LEFT), Up(VK_LEFT), Up(VK_CONTROL),
                             Down(VK_SHIFT), Down(VK_INSERT), Up(VK_INSERT), Up(VK_SHIFT),
                             Down(VK_DIVIDE), Up(VK_DIVIDE)};
    EXPECT_EQ(Describe(expected), Describe(Press()));
}

TEST_F(AppTest, ExitRemovesTheIconAndStoresTheModeButCloseDoesNot)
{
    ASSERT_TRUE(lumo.Start());
    lumo.Command(IDM_KODAK);
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    lumo.Command(40000);  // not a command of the menu
    EXPECT_EQ(LONG(-1), StoredActionMode(-1)) << "an unknown command writes nothing";
    HWND tray = lumo.Tray();
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
    EXPECT_EQ(ModeKodak, StoredActionMode(-1));
    EXPECT_FALSE(IsWindow(tray));

    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    LumoProcess closed;
    ASSERT_TRUE(closed.Start());
    PostMessageA(closed.Tray(), WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, closed.WaitForExit(5000));
    EXPECT_EQ(LONG(-1), StoredActionMode(-1)) << "WM_CLOSE ends without writing the mode";

    LumoProcess quit;
    ASSERT_TRUE(quit.Start());
    quit.Command(IDM_ENTER);
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    PostMessageA(quit.Tray(), RegisterWindowMessageA(QuitMessageName), 0, 0);
    EXPECT_EQ(0u, quit.WaitForExit(5000));
    EXPECT_EQ(LONG(-1), StoredActionMode(-1)) << "\"Lumo2Quit\" ends as WM_CLOSE does";
}

// The start that takes over is this test process, with a played level,
// account and message box.
DWORD PlayedOwnIntegrity;
DWORD PlayOwnIntegrity()
{
    return PlayedOwnIntegrity;
}

bool PlayAnotherAccount(HANDLE)
{
    return false;
}

std::vector<UINT> ShownMessages;
void RecordMessage(UINT text)
{
    ShownMessages.push_back(text);
}

// Another copy's tray window that never answers, as an older Lumo2 or a hung
// one would not answer "Lumo2Quit".
LRESULT CALLBACK DeafTrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= 0xC000)
        return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

// One start, in a thread of its own as a mutex is owned by a thread; it
// keeps what it got until both starts have decided.
void StartTakingOver(bool* runs, LONG* decided)
{
    HANDLE mutex = CreateMutexA(NULL, TRUE, "Lumo2");
    *runs = GetLastError() == ERROR_ALREADY_EXISTS && TakeOverRunningCopy(mutex, TakeOverWaitMs);
    InterlockedIncrement(decided);
    WaitUntil([&] { return *decided == 2; }, 70000);
    CloseHandle(mutex);
}

TEST_F(AppTest, OnlyAStartAtAHigherLevelTakesOverFromTheRunningCopy)
{
    // A press keeps the copy busy for the six-second Send All pause.
    CustomSettings = {SendAll, 6000, {{0, 0, 0, 'A'}, {0, 0, 0, 'B'}, {0, 0, 0, 0}}};
    SaveCustomKeySettings();
    StoreDword("key", ModeCustom);
    ASSERT_TRUE(lumo.Start());
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    lstrcpyA(TrayClassName, "Lumo");
    DWORD running = LookUpWindowIntegrity(lumo.Tray());
    ASSERT_NE(0u, running);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, lumo.ProcessId());
    EXPECT_TRUE(RunsForThisAccountOfSystem(process)) << "Wine has one account";
    CloseHandle(process);
    LookUpOwnIntegrity = PlayOwnIntegrity;
    ShowTakeOverMessage = RecordMessage;
    HANDLE mutex = CreateMutexA(NULL, TRUE, "Lumo2");
    for (DWORD own : {running, running - 0x1000}) {
        PlayedOwnIntegrity = own;
        EXPECT_FALSE(TakeOverRunningCopy(mutex, TakeOverWaitMs)) << std::hex << own;
    }
    PlayedOwnIntegrity = running + 0x1000;
    RunsForThisAccount = PlayAnotherAccount;
    EXPECT_FALSE(TakeOverRunningCopy(mutex, TakeOverWaitMs));
    EXPECT_EQ(std::vector<UINT>{IDS_OTHER_ACCOUNT}, ShownMessages);
    RunsForThisAccount = RunsForThisAccountOfSystem;
    ShownMessages.clear();
    // A mutex refused to an ordinary start is an elevated copy's, which it
    // leaves alone without a word; refused to an elevated start, it is
    // another account's.
    PlayedOwnIntegrity = SECURITY_MANDATORY_MEDIUM_RID;
    EXPECT_FALSE(TakeOverRunningCopy(NULL, TakeOverWaitMs));
    EXPECT_TRUE(ShownMessages.empty());
    PlayedOwnIntegrity = SECURITY_MANDATORY_HIGH_RID;
    EXPECT_FALSE(TakeOverRunningCopy(NULL, TakeOverWaitMs));
    EXPECT_EQ(std::vector<UINT>{IDS_OTHER_ACCOUNT}, ShownMessages);
    ShownMessages.clear();
    PlayedOwnIntegrity = running + 0x1000;

    camera.LatchPress();
    EXPECT_EQ(Describe({Down('A'), Up('A')}), Describe(hook.WaitFor(2, 5000))) << "the running copy goes on";
    // The pause holds the camera thread only: the tray answers at once.
    DWORD_PTR answer = 0;
    EXPECT_NE(0, SendMessageTimeoutA(lumo.Tray(), WM_NULL, 0, 0, SMTO_NORMAL, 100, &answer));
    DWORD start = GetTickCount();
    EXPECT_TRUE(TakeOverRunningCopy(mutex, TakeOverWaitMs));
    DWORD took = GetTickCount() - start;
    printf("takeover of a copy in a 6 s Send All pause: %lu ms\n", took);
    // Well short of the 6 s pause, with room for a loaded machine.
    EXPECT_LT(took, 4000u) << "the pause is cut short, not waited out";
    EXPECT_EQ(0u, lumo.WaitForExit(0)) << "the process has ended, not only its window";
    EXPECT_TRUE(hook.TakeUpToNow().empty()) << "the rest of the press is not sent after the end";
    EXPECT_EQ(LONG(-1), StoredActionMode(-1)) << "it ended as on WM_CLOSE";
    EXPECT_TRUE(ReleaseMutex(mutex)) << "this start owns the mutex now";
    CloseHandle(mutex);

    LumoProcess again;
    ASSERT_TRUE(again.Start());
    bool runs[2] = {false, false};
    LONG decided = 0;
    std::thread first(StartTakingOver, &runs[0], &decided), second(StartTakingOver, &runs[1], &decided);
    first.join();
    second.join();
    EXPECT_EQ(1, runs[0] + runs[1]) << "of two starts at once, one runs";
    EXPECT_TRUE(ShownMessages.empty());

    // The deaf copy holds the mutex on a thread of its own, as a copy does.
    HANDLE letGo = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::thread deafCopy([letGo] {
        HANDLE held = CreateMutexA(NULL, TRUE, "Lumo2");
        WaitForSingleObject(letGo, 30000);
        CloseHandle(held);
    });
    ASSERT_TRUE(WaitUntil([&] { return (mutex = OpenMutexA(SYNCHRONIZE, FALSE, "Lumo2")) != NULL; }, 5000));
    HWND deaf = CreateFakeTrayWindow(DeafTrayProc);
    ASSERT_NE(nullptr, deaf);
    EXPECT_FALSE(TakeOverRunningCopy(mutex, 300)) << "a copy that stays is not joined by a second";
    EXPECT_EQ(std::vector<UINT>{IDS_OLD_COPY_STAYS}, ShownMessages) << "and the user is told";
    DestroyWindow(deaf);
    UnregisterClassA("Lumo", GetModuleHandleA(NULL));
    // Gone without a word meanwhile, as when another start took over first:
    // the start that takes the mutex it left runs, and nobody is told.
    ShownMessages.clear();
    SetEvent(letGo);
    deafCopy.join();
    EXPECT_TRUE(TakeOverRunningCopy(mutex, 300)) << "the copy is gone and its mutex left";
    EXPECT_TRUE(ShownMessages.empty());
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    CloseHandle(letGo);
    LookUpOwnIntegrity = LookUpOwnIntegrityOfSystem;
}

// Another user switched in, a Remote Desktop connection dropped, then the
// user back; then sign-out, shutdown, or the Restart Manager closing Lumo2
// for an upgrade.
TEST_F(AppTest, DisconnectedSessionAndSessionEndGiveTheDevicesBack)
{
    PPJoyOutOfReach ppjoyGone;
    ASSERT_TRUE(ppjoyGone.Done());
    VJoyRegistered vjoy;
    StoreDword("key", ModeJoystick);
    sim->euConnectedResult = 1;
    WCHAR log[MAX_PATH];
    ASSERT_TRUE(LogFilePath(log, MAX_PATH, false));
    DeleteFileW(log);
    ASSERT_TRUE(lumo.Start());
    const DWORD pid = lumo.ProcessId();
    ASSERT_TRUE(WaitUntil([&] { return DescribeVJoyCalls(pid) == "acquire 1" && sim->euButtonReads > 0; }, 5000));
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    LONG releases = sim->euReleaseCalls;
    DWORD_PTR answer = 0;

    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    SendMessageTimeoutA(lumo.Tray(), WM_WTSSESSION_CHANGE, WTS_REMOTE_DISCONNECT, session + 1, SMTO_NORMAL, 5000,
                        &answer);
    EXPECT_TRUE(camera.WaitForNextButtonRead()) << "another session's disconnect changes nothing";
    for (WPARAM disconnect : {WTS_CONSOLE_DISCONNECT, WTS_REMOTE_DISCONNECT}) {
        DWORD sent = GetTickCount();
        SendMessageTimeoutA(lumo.Tray(), WM_WTSSESSION_CHANGE, disconnect, session, SMTO_NORMAL, 5000, &answer);
        EXPECT_TRUE(WaitUntil([&] { return sim->euReleaseCalls == releases + 1; }, 200)) << "given back at once";
        printf("session disconnected: camera given back after %lu ms\n", GetTickCount() - sent);
    }
    EXPECT_FALSE(WaitUntil([&] { return sim->euReleaseCalls > releases + 1; }, 300))
        << "the second disconnect finds nothing more to give back";
    EXPECT_EQ("acquire 1, relinquish 1", DescribeVJoyCalls(pid));
    EXPECT_FALSE(camera.WaitForNextButtonRead(500)) << "no polls in a disconnected session";
    SendMessageTimeoutA(lumo.Tray(), WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT, session, SMTO_NORMAL, 5000, &answer);
    EXPECT_TRUE(camera.WaitForNextButtonRead()) << "polled again";
    EXPECT_TRUE(WaitUntil([&] { return DescribeVJoyCalls(pid) == "acquire 1, relinquish 1, acquire 1"; }, 3000))
        << DescribeVJoyCalls(pid);
    releases = sim->euReleaseCalls;
    std::string text = FileText(log);
    EXPECT_EQ(text.find("session: disconnected"), text.rfind("session: disconnected")) << "once:\n" << text;
    EXPECT_NE(std::string::npos, text.find("session: connected again")) << text;

    SendMessageTimeoutA(lumo.Tray(), WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_NORMAL, 5000, &answer);
    EXPECT_EQ(DWORD_PTR(TRUE), answer);
    SendMessageTimeoutA(lumo.Tray(), WM_ENDSESSION, FALSE, ENDSESSION_CLOSEAPP, SMTO_NORMAL, 5000, &answer);
    EXPECT_EQ(releases, sim->euReleaseCalls) << "the session goes on";
    SendMessageTimeoutA(lumo.Tray(), WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP, SMTO_NORMAL, 5000, &answer);
    // Given back and logged before the handler returns, after which Windows
    // may end it.
    const std::string ended = FileText(log);
    EXPECT_EQ(releases + 1, sim->euReleaseCalls);
    EXPECT_EQ("acquire 1, relinquish 1, acquire 1, relinquish 1", DescribeVJoyCalls(pid));
    EXPECT_EQ(0u, lumo.WaitForExit(1000));
    EXPECT_EQ(releases + 1, sim->euReleaseCalls) << "once";
    EXPECT_EQ(LONG(-1), StoredActionMode(-1)) << "\"key\" is not written";
    EXPECT_NE(std::string::npos, ended.find("exit 0: closed by Windows for an update")) << ended;
    text = FileText(log);
    EXPECT_EQ(text.find("exit "), text.rfind("exit ")) << "once:\n" << text;
}

std::string Lower(std::string text)
{
    CharLowerBuffA(&text[0], DWORD(text.size()));
    return text;
}

// Every process running now, by id, with its file's name.
std::map<DWORD, std::string> RunningProcesses()
{
    std::map<DWORD, std::string> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        found[entry.th32ProcessID] = entry.szExeFile;
    CloseHandle(snapshot);
    return found;
}

// The names of the files at the top of the temporary folder.
std::set<std::string> TemporaryFiles()
{
    std::set<std::string> found;
    char pattern[MAX_PATH];
    GetTempPathA(MAX_PATH - 2, pattern);
    lstrcatA(pattern, "*");
    WIN32_FIND_DATAA file;
    HANDLE search = FindFirstFileA(pattern, &file);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &file))
        if (!(file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            found.insert(file.cFileName);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return found;
}

// Windows Installer's Restart Manager closing Lumo2 for an upgrade (the
// installer's mutex held here as Windows Installer holds it), a sign-out
// and a shutdown. Lumo2 only ends: after an installation the Restart
// Manager starts it again from its registration, which Wine does not do,
// so nothing may come back here. No copy of it, no process of its making.
TEST_F(AppTest, TheEndOfTheSessionEndsLumo2AndStartsNothing)
{
    const struct {
        const char* ending;
        DWORD flags;
        bool installer;
        const char* logged;
    } cases[] = {
        {"upgrade", ENDSESSION_CLOSEAPP, true, "exit 0: closed by Windows for an update"},
        {"sign-out", ENDSESSION_LOGOFF, false, "exit 0: the Windows session ended"},
        {"shutdown", 0, false, "exit 0: the Windows session ended"},
    };
    WCHAR log[MAX_PATH];
    ASSERT_TRUE(LogFilePath(log, MAX_PATH, false));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ending);
        DeleteFileW(log);
        HANDLE installer = c.installer ? CreateMutexW(NULL, TRUE, L"Global\\_MSIExecute") : NULL;
        ASSERT_TRUE(!c.installer || installer);
        LumoProcess closed;
        ASSERT_TRUE(closed.StartFrom(BinFolder() + "\\Lumo2.exe"));
        const std::set<std::string> filesBefore = TemporaryFiles();
        const std::map<DWORD, std::string> processesBefore = RunningProcesses();
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(closed.Tray(), WM_QUERYENDSESSION, 0, c.flags, SMTO_NORMAL, 5000, &answer);
        EXPECT_EQ(DWORD_PTR(TRUE), answer);
        SendMessageTimeoutA(closed.Tray(), WM_ENDSESSION, TRUE, c.flags, SMTO_NORMAL, 5000, &answer);
        EXPECT_EQ(0u, closed.WaitForExit(5000));
        std::string left;
        EXPECT_FALSE(WaitUntil([&] {
            left.clear();
            for (const auto& process : RunningProcesses())
                if (!processesBefore.count(process.first))
                    left += " process " + process.second;
            for (const std::string& file : TemporaryFiles())
                if (!filesBefore.count(file))
                    left += " file " + file;
            if (!LumoTrayWindows().empty())
                left += " a Lumo2";
            return !left.empty();
        }, 1500)) << "started or left:" << left;
        const std::string text = FileText(log);
        EXPECT_NE(std::string::npos, text.find(c.logged)) << text;
        if (installer) {
            ReleaseMutex(installer);
            CloseHandle(installer);
        }
    }
}

TEST(TakeOverTest, OnlyAReadableLowerLevelIsTakenOver)
{
    const struct {
        DWORD own, running;
        bool takesOver;
    } cases[] = {
        {0x3000, 0x2000, true},  {0x4000, 0x3000, true},   {0x3000, 0x3000, false},
        {0x2000, 0x3000, false}, {0x3000, IntegrityDenied, false}, {0x3000, 0, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.takesOver, RunsHigherThan(c.own, c.running)) << std::hex << c.own << " " << c.running;
    const struct {
        DWORD level;
        bool elevated;
    } levels[] = {{0, false}, {0x1000, false}, {0x2000, false}, {0x2100, false},
                  {0x3000, true}, {0x4000, true}, {IntegrityDenied, false}};
    for (const auto& l : levels)
        EXPECT_EQ(l.elevated, IsElevatedLevel(l.level)) << std::hex << l.level;
}

TEST_F(AppTest, TrayButtonDownOpensThePopupMenu)
{
    ASSERT_TRUE(lumo.Start());
    struct {
        LPARAM mouse;
        bool opens;
    } cases[] = {{WM_MOUSEMOVE, false}, {WM_LBUTTONUP, false}, {WM_LBUTTONDBLCLK, false},
                 {WM_MBUTTONDOWN, false}, {WM_RBUTTONDOWN, true}, {WM_LBUTTONDOWN, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mouse);
        if (!c.opens) {
            // Handled by the time the call returns; a menu would still be
            // open in it.
            DWORD_PTR result;
            SendMessageTimeoutA(lumo.Tray(), WM_TRAY_CALLBACK, 0, c.mouse, SMTO_NORMAL, 3000, &result);
            EXPECT_EQ(nullptr, VisibleMenu());
            continue;
        }
        HWND menu = NULL;
        WindowPicture picture = OpenMenu(&menu, c.mouse);
        ASSERT_NE(nullptr, menu);
        SaveScreenshot(picture, "tray-menu");
        CloseMenu(menu);
    }
    // The tray window is responsive again once the menu has closed.
    lumo.Command(IDM_ENTER);
    EXPECT_EQ(ModeEnter, StoredActionMode(-1));
}

// The texts of a window, children in order after its caption.
std::vector<std::wstring> WindowTexts(HWND window)
{
    std::vector<std::wstring> texts;
    WCHAR text[256];
    GetWindowTextW(window, text, 256);
    texts.push_back(text);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        // A picture's "text" is the resource it shows.
        char className[16] = "";
        GetClassNameA(child, className, sizeof(className));
        if (lstrcmpiA(className, "static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            continue;
        GetWindowTextW(child, text, 256);
        texts.push_back(text);
    }
    return texts;
}

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// What Lumo2.exe's resources of one language hold: the About box's texts
// (made from its template here) and the tray menu's.
std::vector<std::wstring> AboutTexts(HMODULE module, WORD language)
{
    HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(IDD_ABOUTBOX),
                                  MAKELANGID(language, SUBLANG_DEFAULT));
    if (!found)
        return {};
    HWND box = CreateDialogIndirectParamW(module, static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found))),
                                          NULL, NoDialogProc, 0);
    std::vector<std::wstring> texts = WindowTexts(box);
    DestroyWindow(box);
    return texts;
}

// One start of Lumo2 with the Language values given: the About box and the
// Custom Settings window it shows, read back, are those of the language
// expected. (The tray menu's texts are read in the tray window's own
// process, TrayWindowTest: Wine's menus belong to their process.)
struct LanguageStart {
    const char* what;
    const wchar_t *machinePolicy, *userPolicy, *user;
    WORD shown;
};

void ExpectStartShows(const LanguageStart& s, HMODULE module)
{
    SCOPED_TRACE(s.what);
    ClearPolicies();
    StoreLanguage(s.user);
    if (s.machinePolicy)
        StorePolicyText(HKEY_LOCAL_MACHINE, LanguageValueName, s.machinePolicy);
    if (s.userPolicy)
        StorePolicyText(HKEY_CURRENT_USER, LanguageValueName, s.userPolicy);
    LumoProcess lumo;
    ASSERT_TRUE(lumo.Start());

    PostMessageW(lumo.Tray(), WM_COMMAND, IDM_ABOUT, 0);
    HWND about = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (about = FindProcessWindow(lumo.ProcessId(), "#32770")) != NULL; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return Drawn(about); }, 5000));
    std::vector<std::wstring> expected = AboutTexts(module, s.shown);
    ASSERT_EQ(5u, expected.size());
    EXPECT_EQ(expected, WindowTexts(about));
    EXPECT_NE(AboutTexts(module, s.shown == LANG_KOREAN ? LANG_ENGLISH : LANG_KOREAN), expected);
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }, 5000));

    lumo.Command(IDM_CUSTOM_SETTINGS);
    HWND settings = lumo.Settings();
    ASSERT_NE(nullptr, settings);
    std::vector<std::wstring> shown = WindowTexts(settings);
    const UINT ids[] = {IDS_SETTINGS_CAPTION, IDS_SEQUENTIAL, IDS_SEND_ALL, IDS_INITIAL_TIME, 0, IDS_KEY1, 0,
                        IDS_CLEAR, IDS_KEY2, 0, IDS_CLEAR, IDS_KEY3, 0, IDS_CLEAR, IDS_SAVE, IDS_CANCEL};
    ASSERT_EQ(sizeof(ids) / sizeof(ids[0]), shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        if (ids[i]) {
            EXPECT_EQ(Utf8(UiString(ids[i], s.shown)), Utf8(shown[i])) << "text " << i;
        }
    }
}

// The policies, the user's own Language value and the display language
// decide, in that order.
TEST_F(AppTest, TextsComeInTheLanguageThePoliciesAndTheUserDecide)
{
    ProgramTexts texts;
    const LanguageStart starts[] = {
        {"the user's value", NULL, NULL, L"ko", LANG_KOREAN},
        {"the user policy over the user's value", NULL, L"Ko", L"en", LANG_KOREAN},
        {"the computer policy over the user policy", L"en", L"ko", L"ko", LANG_ENGLISH},
        {"a value that names no language of Lumo2's", NULL, L"ko-KR", L"fr", LANG_ENGLISH},
    };
    for (const auto& s : starts)
        ExpectStartShows(s, texts.Module());
}

// With a Korean display language: ctest runs this with LC_ALL=ko_KR.UTF-8,
// which gives Wine's processes UI language 0x412 and code page 949; a
// process cannot pass it on to one it starts.
TEST_F(AppTest, TextsComeInKoreanForAKoreanDisplayUnlessAValueSaysOtherwise)
{
    if (!getenv("LUMO2_KOREAN_DISPLAY"))
        GTEST_SKIP() << "run by the test KoreanDisplay, with LC_ALL=ko_KR.UTF-8";
    ASSERT_EQ(LANG_KOREAN, PRIMARYLANGID(GetUserDefaultUILanguage()));
    ProgramTexts texts;
    const LanguageStart starts[] = {
        {"the display language", NULL, NULL, NULL, LANG_KOREAN},
        {"the user's English", NULL, NULL, L"EN", LANG_ENGLISH},
    };
    for (const auto& s : starts)
        ExpectStartShows(s, texts.Module());
}

void StoreProgramRule(HKEY root, const char* keyPath, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    char path[160];
    wsprintfA(path, "%s\\%s", keyPath, ProgramRulesSubkey);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL));
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

// Two programs brought in front in turn, the camera button pressed in each:
// the user's rule for one, IT's for the other (hiding the user's own), the
// user's mode elsewhere; a rule taken away applies from the next press; the
// window lists the rules with who set them.
TEST_F(AppTest, EachProgramInFrontGetsTheModeItsRuleGives)
{
    ASSERT_TRUE(SaveUserRule(L"front_a", ModeKodak));
    ASSERT_TRUE(SaveUserRule(L"FRONT_B.exe", ModeSchick));
    StoreProgramRule(HKEY_LOCAL_MACHINE, PolicyKeyPath, L"front_b.exe", REG_SZ, L"3", 4);
    WCHAR log[MAX_PATH];
    ASSERT_TRUE(LogFilePath(log, MAX_PATH, false));
    DeleteFileW(log);
    ASSERT_TRUE(lumo.Start());
    ASSERT_TRUE(WaitUntil([&] { return FileText(log).find("rules: 2 programs have a mode of their own") !=
                                       std::string::npos; }, 5000))
        << "the rules are read at the first tick";
    FrontWindowProgram a("front_a.exe"), b("front_b.exe");
    ASSERT_TRUE(a.BroughtForward());
    EXPECT_EQ(Describe(F5), Describe(Press())) << "the user's rule for front_a";
    ASSERT_TRUE(b.BroughtForward());
    EXPECT_EQ(Describe(Enter), Describe(Press())) << "IT's rule for front_b beats the user's";
    ASSERT_TRUE(a.BroughtForward());
    EXPECT_EQ(Describe(F5), Describe(Press()));
    std::string text = FileText(log);
    EXPECT_NE(std::string::npos, text.find("press: mode Kodak(F5) by the user's rule \"front_a\", sent F5, SendInput "
                                           "took 2 of 2; in front front_a.exe")) << text;
    EXPECT_NE(std::string::npos, text.find("press: mode Enter by the computer policy's rule \"front_b.exe\", sent "
                                           "Enter, SendInput took 2 of 2; in front front_b.exe")) << text;

    // The window: IT's rule, the user's, and the user's that IT's hides.
    lumo.Command(IDM_PROGRAMS);
    HWND window = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindProcessWindow(lumo.ProcessId(), "Lumo2Programs")) != NULL &&
                                       IsWindowVisible(window); }, 5000));
    EXPECT_EQ("Modes for programs", WindowText(window));
    HWND list = GetDlgItem(window, IDC_PROGRAMS_LIST);
    EXPECT_EQ(3, SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    EXPECT_TRUE(WaitUntil([&] { return Drawn(window); }, 5000));
    EXPECT_TRUE(SaveScreenshot(window, "programs-window"));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, 5000)) << "the close box hides it";
    lumo.Command(IDM_PROGRAMS);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window); }, 5000)) << "the same window again";
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, 5000)) << "Esc hides it";

    // Taken away by another program: no restart, from the next press.
    ASSERT_TRUE(RemoveUserRule(L"front_a"));
    ASSERT_TRUE(WaitUntil([&] { return FileText(log).find("rules: 1 programs have a mode of their own") !=
                                       std::string::npos; }, 5000));
    lumo.Command(IDM_PROGRAMS);
    EXPECT_EQ(2, SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    ASSERT_TRUE(a.BroughtForward());
    EXPECT_EQ(Describe(Space), Describe(Press())) << "no rule: the user's mode";
    ASSERT_TRUE(b.BroughtForward());
    EXPECT_EQ(Describe(Enter), Describe(Press()));
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
}

// Presses back and forth between two programs whose rules give alternating
// modes: each alternates on its own, and presses under the user's mode share
// one alternation that theirs leave alone. front_b's rule is its path as
// "Copy as path" gives it, with forward slashes.
TEST_F(AppTest, EachProgramWithARuleAlternatesOnItsOwn)
{
    StoreDword("key", ModeAltFAltS);
    ASSERT_TRUE(SaveUserRule(L"front_a", ModeSchick));
    WCHAR path[MAX_PATH];
    GetModuleFileNameW(NULL, path, MAX_PATH);
    lstrcpyW(wcsrchr(path, L'\\') + 1, L"front_b.exe");
    std::wstring written = L"\"" + std::wstring(path) + L"\"";
    std::replace(written.begin(), written.end(), L'\\', L'/');
    ASSERT_TRUE(SaveUserRule(written.c_str(), ModeSidexis));
    WCHAR log[MAX_PATH];
    ASSERT_TRUE(LogFilePath(log, MAX_PATH, false));
    DeleteFileW(log);
    auto rulesRead = [&](const char* count) {
        return WaitUntil([&] { return FileText(log).find(std::string("rules: ") + count) != std::string::npos; }, 5000);
    };
    ASSERT_TRUE(lumo.Start());
    ASSERT_TRUE(rulesRead("2 programs"));
    FrontWindowProgram a("front_a.exe"), b("front_b.exe");
    // From the seventh press on, front_a has no rule and takes the user's mode.
    const struct {
        const FrontWindowProgram* front;
        const Events* sent;
    } presses[] = {{&a, &AltF}, {&b, &ShiftF12}, {&a, &AltT}, {&b, &CtrlShiftV}, {&b, &ShiftF12},
                   {&a, &AltF}, {&a, &AltF},     {&b, &CtrlShiftV}, {&a, &AltS}};
    for (size_t i = 0; i < sizeof(presses) / sizeof(presses[0]); ++i) {
        if (i == 6) {
            ASSERT_TRUE(RemoveUserRule(L"front_a") && rulesRead("1 programs"));
        }
        ASSERT_TRUE(presses[i].front->BroughtForward());
        EXPECT_EQ(Describe(*presses[i].sent), Describe(Press())) << "press " << i;
    }
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
}

TEST_F(AppTest, PolicyModeRulesWhileSetAndTheUsersOwnChoiceComesBack)
{
    StoreDword("key", ModeEnter);
    StorePolicyDword(HKEY_LOCAL_MACHINE, PolicyActionModeName, ModeKodak);
    StorePolicyDword(HKEY_CURRENT_USER, PolicyActionModeName, ModeSpace);
    ASSERT_TRUE(lumo.Start());
    EXPECT_EQ(Describe(F5), Describe(Press())) << "the computer's policy wins";

    HWND menu = NULL;
    WindowPicture picture = OpenMenu(&menu);
    ASSERT_NE(nullptr, menu);
    SaveScreenshot(picture, "tray-menu-policy");
    EXPECT_EQ(ExpectedLooks(ModeKodak, ModeKodak), DescribeLooks(MenuItemLooks(picture)));
    CloseMenu(menu);

    for (WORD command : {IDM_SPACE, IDM_SIDEXIS, IDM_JOYSTICK, IDM_CUSTOM_SETTINGS})
        lumo.Command(command);
    EXPECT_FALSE(IsWindowVisible(lumo.Settings())) << "\"Custom Settings\" is locked too";
    EXPECT_EQ(0u, ReadJoystickLog().opens) << "JOYSTICK is not the policy's mode";
    EXPECT_EQ(Describe(F5), Describe(Press())) << "mode commands change nothing";
    EXPECT_EQ(ModeEnter, StoredActionMode(-1)) << "the user's \"key\" is left as it was";

    // Written as a script or Intune writes it, with no announcement and no
    // signal from Group Policy: in force within a second all the same.
    WCHAR log[MAX_PATH];
    ASSERT_TRUE(LogFilePath(log, MAX_PATH, false));
    size_t logged = FileText(log).size();
    auto logsSoon = [&](const char* line) {
        bool soon = WaitUntil([&] { return FileText(log).find(line, logged) != std::string::npos; }, 1000);
        logged = FileText(log).size();
        return soon;
    };
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, PolicyKeyPath, PolicyActionModeName);
    EXPECT_TRUE(logsSoon("mode: Space (by a policy), set by your administrator"));
    EXPECT_EQ(Describe(Space), Describe(Press())) << "the user's policy, now that the computer has none";
    ClearPolicies();
    EXPECT_TRUE(logsSoon("mode: Enter (by a policy)"));
    EXPECT_EQ(Describe(Enter), Describe(Press())) << "the user's own mode is back";
    picture = OpenMenu(&menu);
    EXPECT_EQ(ExpectedLooks(ModeEnter, 0), DescribeLooks(MenuItemLooks(picture)));
    CloseMenu(menu);
    lumo.Command(IDM_KODAK);
    EXPECT_EQ(ModeKodak, StoredActionMode(-1)) << "the menu is the user's again";

    // A policy that appears is read when the menu opens: its combinations,
    // not the user's stored ones, are sent.
    CustomKeySettings own = {Sequential, 1000, {{0, 1, 0, 'Q'}, {}, {}}};
    CustomSettings = own;
    SaveCustomKeySettings();
    StorePolicyDword(HKEY_CURRENT_USER, PolicyActionModeName, ModeCustom);
    StorePolicyText(HKEY_CURRENT_USER, PolicyKeyNames[0], L"SHIFT + F7");
    picture = OpenMenu(&menu);
    EXPECT_EQ(ExpectedLooks(ModeCustom, ModeCustom), DescribeLooks(MenuItemLooks(picture)));
    CloseMenu(menu);
    EXPECT_EQ(Describe({Down(VK_SHIFT), Down(VK_F7), Up(VK_F7), Up(VK_SHIFT)}), Describe(Press()));
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
    EXPECT_EQ(ModeKodak, StoredActionMode(-1)) << "Exit stores the user's mode, not the policy's";
    EXPECT_EQ(1, ReadStored("key1_control").bytes.at(0));
    EXPECT_EQ(BYTE('Q'), ReadStored("key1_k").bytes.at(0)) << "the user's combination is kept";
}

TEST_F(AppTest, AboutBoxKeepsPollingAndWritesTheModeBack)
{
    StoreDword("key", ModeKodak);
    ASSERT_TRUE(lumo.Start());
    StoreDword("key", 11);  // only the mode in force may come back
    PostMessageA(lumo.Tray(), WM_COMMAND, IDM_ABOUT, 0);
    HWND about = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (about = FindProcessWindow(lumo.ProcessId(), "#32770", "About Lumo2")) != NULL; },
                          5000));
    EXPECT_EQ(Describe(F5), Describe(Press())) << "presses act while the box is open";
    EXPECT_TRUE(WaitUntil([&] { return Drawn(about); }, 3000));
    EXPECT_TRUE(SaveScreenshot(about, "about-box"));
    EXPECT_EQ(11, StoredActionMode(-1)) << "nothing written while the box is open";
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }, 5000));
    EXPECT_TRUE(WaitUntil([] { return StoredActionMode(-1) == ModeKodak; }, 5000))
        << "\"key\" holds " << StoredActionMode(-1);
}

TEST_F(AppTest, DeviceChangeReconnectsToTheCaptureDriver)
{
    camera.RemoveAll();
    ASSERT_TRUE(lumo.Start());
    camera.LatchPress();  // latched while no camera is reachable

    camera.Add(1);
    AnnounceDeviceChange();
    EXPECT_TRUE(camera.WaitTaken()) << "the latch was taken";
    EXPECT_TRUE(camera.WaitForNextPoll());
    EXPECT_EQ(Describe(Space), Describe(hook.TakeUpToNow())) << "one latch, one press";

    // A storm of device changes leaves one working connection.
    for (int i = 0; i < 40; ++i)
        PostMessageA(lumo.Tray(), WM_DEVICECHANGE, i % 3 == 0 ? 0x8000 : 0x0007, 0);
    EXPECT_EQ(Describe(Space), Describe(Press()));
    EXPECT_EQ(Describe(Space), Describe(Press()));

    // Unplugged: the next device change leaves nothing to poll.
    camera.RemoveAll();
    AnnounceDeviceChange();
    camera.LatchPress();
    lumo.Command(IDM_ENTER);  // handled after the reconnect
    EXPECT_TRUE(hook.TakeUpToNow().empty());
    camera.Add(2);
    AnnounceDeviceChange();
    EXPECT_TRUE(camera.WaitTaken()) << "plugged back in";
    EXPECT_TRUE(camera.WaitForNextPoll());
    EXPECT_EQ(Describe(Enter), Describe(hook.TakeUpToNow()));
}

// A camera that stops answering, as USB stacks do on unplugging or waking:
// the tray answers throughout, the hang is said once, device changes wait
// for the call under way, the camera is taken again when it answers, and
// Exit ends the program even while a call never returns.
TEST_F(AppTest, AHangingCameraNeverHoldsTheTrayOrItsExit)
{
    WCHAR log[MAX_PATH];
    ASSERT_TRUE(LogFilePath(log, MAX_PATH, false));
    DeleteFileW(log);
    ASSERT_TRUE(lumo.Start());
    EXPECT_EQ(Describe(Space), Describe(Press()));
    camera.Hang();
    ASSERT_TRUE(camera.WaitHanging(1));
    DWORD hungAt = GetTickCount();
    DWORD_PTR answer = 0;
    for (int i = 0; i < 5; ++i) {
        EXPECT_NE(0, SendMessageTimeoutA(lumo.Tray(), WM_NULL, 0, 0, SMTO_NORMAL, 100, &answer)) << i;
        PostMessageA(lumo.Tray(), WM_DEVICECHANGE, 0x0007, 0);
    }
    HWND menu = NULL;
    OpenMenu(&menu);
    EXPECT_NE(nullptr, menu) << "the menu opens while the camera hangs";
    if (menu)
        CloseMenu(menu);
    lumo.Command(IDM_ENTER);
    std::string text;
    EXPECT_TRUE(WaitUntil([&] { return (text = FileText(log)).find("camera: not responding") != std::string::npos; },
                          5000));
    printf("camera hung: said after %lu ms\n", GetTickCount() - hungAt);
    EXPECT_GE(GetTickCount() - hungAt, 2000u) << "not before its 2 s";
    EXPECT_EQ(1, camera.HangingCalls()) << "no second call while one hangs";

    LONG hung = camera.HungCalls();
    camera.Unhang();
    EXPECT_TRUE(WaitUntil([&] { return (text = FileText(log)).find("camera: responding again") != std::string::npos; },
                          5000));
    EXPECT_EQ(Describe(Enter), Describe(Press())) << "the mode chosen during the hang";
    EXPECT_EQ(hung, camera.HungCalls());
    EXPECT_EQ(text.find("camera: not responding"), text.rfind("camera: not responding")) << "once:\n" << text;

    // Half a second into the call, before the 2 s that make it a hang.
    camera.Hang();
    ASSERT_TRUE(camera.WaitHanging(1));
    hungAt = GetTickCount();
    WaitUntil([&] { return GetTickCount() - hungAt >= 500; }, 1000);
    DWORD exitAt = GetTickCount();
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(2000)) << "ended without the stuck call";
    printf("exit during a hung call: %lu ms\n", GetTickCount() - exitAt);
    EXPECT_FALSE(lumo.HasTrayIcon());
    EXPECT_NE(std::string::npos, FileText(log).find("exit 0: Exit chosen from the menu"));
    camera.Unhang();
}

// Lumo2's camera process, the one process started from Lumo2.exe whose
// parent it is; 0 when there is none.
static DWORD CameraProcessOf(DWORD lumo)
{
    DWORD found = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {sizeof(entry)};
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ParentProcessID == lumo && lstrcmpiA(entry.szExeFile, "Lumo2.exe") == 0)
            found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

// Whether the process's token has the Administrators group enabled, and its
// integrity level.
static void ReadAdministratorsAndLevel(DWORD processId, bool* administrators, DWORD* level)
{
    *administrators = true;
    *level = 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId), token = NULL;
    if (!process || !OpenProcessToken(process, TOKEN_QUERY, &token)) {
        ADD_FAILURE() << "no token of process " << processId;
        return;
    }
    static BYTE buffer[8192];
    DWORD size = 0;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(admins);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, admins, &sidSize);
    if (GetTokenInformation(token, TokenGroups, buffer, sizeof(buffer), &size)) {
        auto groups = reinterpret_cast<TOKEN_GROUPS*>(buffer);
        *administrators = false;
        for (DWORD i = 0; i < groups->GroupCount; ++i)
            if (EqualSid(groups->Groups[i].Sid, admins) && (groups->Groups[i].Attributes & SE_GROUP_ENABLED))
                *administrators = true;
    }
    *level = TokenIntegrity(token);
    CloseHandle(token);
    CloseHandle(process);
}

// The camera in a process of its own: a crash and a call that never returns
// each end it and the next one takes presses within seconds, one sooner than
// the next; a press latched during the hang is typed once, a button held
// across a restart is not typed again; it runs without the Administrators
// group while Lumo2 runs elevated (as Wine runs everything); and it ends
// with Lumo2, even when Lumo2 is ended with TerminateProcess.
TEST_F(AppTest, TheCameraProcessComesBackAfterACrashOrAHangAndEndsWithLumo2)
{
    WCHAR log[MAX_PATH];
    ASSERT_TRUE(LogFilePath(log, MAX_PATH, false));
    DeleteFileW(log);
    ASSERT_TRUE(lumo.Start());
    EXPECT_EQ(Describe(Space), Describe(Press()));
    DWORD child = CameraProcessOf(lumo.ProcessId());
    ASSERT_NE(0u, child) << "no camera process";
    bool administrators = true;
    DWORD level = 0;
    ReadAdministratorsAndLevel(lumo.ProcessId(), &administrators, &level);
    ASSERT_TRUE(administrators) << "Lumo2 itself runs elevated here";
    ReadAdministratorsAndLevel(child, &administrators, &level);
    EXPECT_FALSE(administrators) << "the camera process has the Administrators group";
    // Wine takes the token's groups but gives every process the level 0x3000.
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        EXPECT_EQ(DWORD(SECURITY_MANDATORY_MEDIUM_RID), level);

    std::string text;
    auto logSays = [&](const char* what, size_t count) {
        return WaitUntil([&] {
            text = FileText(log);
            size_t n = 0;
            for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
                ++n;
            return n >= count;
        }, 8000);
    };
    sim->crashCalls = 1;
    DWORD crashedAt = GetTickCount();
    EXPECT_TRUE(logSays("camera process: ended by itself", 1)) << text;
    EXPECT_EQ(Describe(Space), Describe(Press())) << "a press after the crash";
    printf("camera process crash: next press typed after %lu ms\n", GetTickCount() - crashedAt);
    DWORD second = CameraProcessOf(lumo.ProcessId());
    EXPECT_NE(0u, second);
    EXPECT_NE(child, second);

    // A call that never returns, with a press latched meanwhile: the next
    // process takes it, once.
    camera.Hang(SimHangForever, 1);
    ASSERT_TRUE(camera.WaitHanging(1));
    camera.LatchPress();
    EXPECT_TRUE(camera.WaitTaken(8000)) << "the latched press was lost";
    EXPECT_TRUE(camera.WaitForNextPoll());
    EXPECT_EQ(Describe(Space), Describe(hook.TakeUpToNow())) << "typed once";
    EXPECT_TRUE(logSays("camera process: ended after a call that did not return", 1)) << text;
    EXPECT_TRUE(logSays("camera: responding again", 1)) << text;
    // Restarts in a row wait longer each time.
    EXPECT_NE(std::string::npos, text.find("next starts in 1000 ms"));
    EXPECT_NE(std::string::npos, text.find("next starts in 2000 ms")) << text;

    // The extension unit's button held down across a restart.
    sim->euConnectedResult = 1;
    AnnounceDeviceChange();
    // Looked for as a start at the user's level looks: beside Lumo2.exe
    // first, though Lumo2 runs elevated outside Program Files.
    EXPECT_TRUE(logSays("connected through the extension unit", 1)) << text;
    EXPECT_NE(std::string::npos, text.find("extension unit, library " + BinFolder() + "\\UExProc.dll")) << text;
    sim->euButtonDown = 1;
    EXPECT_EQ(Describe(Space), Describe(hook.WaitFor(2, 5000)));
    camera.Hang(SimHangForever, 1);
    ASSERT_TRUE(camera.WaitHanging(1));
    EXPECT_TRUE(logSays("camera: responding again", 3)) << text;
    EXPECT_TRUE(camera.WaitForNextButtonRead());
    EXPECT_TRUE(camera.WaitForNextButtonRead());
    EXPECT_EQ(Describe(Events()), Describe(hook.TakeUpToNow())) << "a held button typed again after the restart";
    sim->euButtonDown = 0;
    EXPECT_TRUE(camera.WaitForNextButtonRead());
    sim->euButtonDown = 1;
    EXPECT_EQ(Describe(Space), Describe(hook.WaitFor(2, 5000))) << "the next press";
    sim->euButtonDown = 0;

    // Ended from outside, Lumo2 takes its camera process with it.
    DWORD last = CameraProcessOf(lumo.ProcessId());
    HANDLE cameraProcess = OpenProcess(SYNCHRONIZE, FALSE, last);
    ASSERT_NE(nullptr, cameraProcess);
    HANDLE lumoProcess = OpenProcess(PROCESS_TERMINATE, FALSE, lumo.ProcessId());
    ASSERT_TRUE(TerminateProcess(lumoProcess, 9));
    CloseHandle(lumoProcess);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(cameraProcess, 2000)) << "the camera process outlived Lumo2";
    CloseHandle(cameraProcess);
    lumo.WaitForExit(2000);

    // Where no camera process may run, the camera runs inside Lumo2 as it
    // did before there was one.
    sim->euConnectedResult = 0;
    StorePolicyDword(HKEY_LOCAL_MACHINE, PolicyCameraProcessName, 0);
    LumoProcess inside;
    ASSERT_TRUE(inside.Start());
    EXPECT_EQ(Describe(Space), Describe(Press()));
    EXPECT_EQ(0u, CameraProcessOf(inside.ProcessId()));
    EXPECT_TRUE(logSays("camera process: a policy keeps the camera inside Lumo2", 1)) << text;
    inside.Command(IDM_EXIT);
    inside.WaitForExit(3000);
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, PolicyKeyPath, PolicyCameraProcessName);

    // An upgrade moved the exe away: the next camera process cannot be
    // started, and the camera runs inside Lumo2 from then on.
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "Lumo2Moved", exe = folder + "\\Lumo2.exe",
                      moved = folder + "\\Lumo2.old";
    CreateDirectoryA(folder.c_str(), NULL);
    DeleteFileA(moved.c_str());
    ASSERT_TRUE(CopyFileA((BinFolder() + "\\Lumo2.exe").c_str(), exe.c_str(), FALSE));
    LumoProcess movedAway;
    ASSERT_TRUE(movedAway.StartFrom(exe));
    EXPECT_EQ(Describe(Space), Describe(Press()));
    ASSERT_TRUE(MoveFileA(exe.c_str(), moved.c_str()));
    sim->crashCalls = 1;
    EXPECT_TRUE(logSays("camera process: none; the camera runs inside Lumo2", 1)) << text;
    EXPECT_EQ(Describe(Space), Describe(Press())) << "the camera inside Lumo2 once the exe has gone";
    movedAway.Command(IDM_EXIT);
    EXPECT_EQ(0u, movedAway.WaitForExit(3000));
    DeleteFileA(moved.c_str());
    RemoveDirectoryA(folder.c_str());
}

// Points the user's local application-data folder at one named in Hangul
// under the profile, as a user whose name is written in Hangul has it; the
// test bed's code page (1252) cannot spell it, so a path that went through
// an ANSI call would lead nowhere.
class HangulLocalAppData {
public:
    static constexpr const WCHAR* Below = L"\uB85C\uCEEC \uB370\uC774\uD130";
    HangulLocalAppData()
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath, 0, NULL, 0, KEY_READ | KEY_WRITE, NULL, &key_, NULL);
        DWORD size = sizeof(saved_);
        had_ = RegQueryValueExW(key_, L"Local AppData", NULL, &type_, reinterpret_cast<BYTE*>(saved_), &size) ==
               ERROR_SUCCESS;
        savedSize_ = size;
        // A profile has its folder; the shell gives none that is missing.
        WCHAR profile[MAX_PATH] = L"";
        SHGetFolderPathW(NULL, CSIDL_PROFILE, NULL, SHGFP_TYPE_CURRENT, profile);
        CreateDirectoryW((std::wstring(profile) + L"\\" + Below).c_str(), NULL);
        const std::wstring folder = std::wstring(L"%USERPROFILE%\\") + Below;
        RegSetValueExW(key_, L"Local AppData", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       DWORD((folder.size() + 1) * sizeof(WCHAR)));
    }
    ~HangulLocalAppData()
    {
        if (had_)
            RegSetValueExW(key_, L"Local AppData", 0, type_, reinterpret_cast<const BYTE*>(saved_), savedSize_);
        else
            RegDeleteValueW(key_, L"Local AppData");
        RegCloseKey(key_);
    }
    // The folder as the shell now gives it.
    static std::wstring Folder()
    {
        WCHAR folder[MAX_PATH] = L"";
        SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, folder);
        return folder;
    }

private:
    static constexpr const WCHAR* KeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    HKEY key_ = NULL;
    bool had_ = false;
    DWORD type_ = 0, savedSize_ = 0;
    WCHAR saved_[MAX_PATH] = L"";
};

TEST_F(AppTest, LogAndReportSayWhatHappenedWithoutAnyName)
{
    HangulLocalAppData hangul;
    ASSERT_NE(std::wstring::npos, HangulLocalAppData::Folder().find(HangulLocalAppData::Below));
    WCHAR log[MAX_PATH];
    ASSERT_TRUE(LogFilePath(log, MAX_PATH, false));
    DeleteFileW(log);
    StoreDword("key", ModeKodak);
    // The program in front is this test, under a title no log may hold.
    const char title[] = "Patient Quentin Example 4711";
    HWND front = CreateWindowExA(0, "STATIC", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, NULL, NULL,
                                 NULL, NULL);
    SetForegroundWindow(front);
    ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == front; }, 5000));
    // Started as Windows restarts it after a crash.
    ASSERT_TRUE(lumo.StartFrom(BinFolder() + "\\Lumo2.exe", NULL, "/restarted"));
    EXPECT_EQ(Describe(F5), Describe(Press()));
    camera.RemoveAll();
    AnnounceDeviceChange();
    std::string text;
    EXPECT_TRUE(WaitUntil([&] { return (text = FileText(log)).find("camera: lost") != std::string::npos; }, 5000));
    for (std::string line : {std::string("start: Lumo2 1."), std::string(", poll every 100 ms"),
                             std::string("mode: Kodak(F5) (at start)"),
                             std::string("start: restarted by Windows after a crash, a hang or an installation"),
                             "camera: connected through the capture driver, device " + std::string(SimCameraName),
                             std::string("press: mode Kodak(F5), sent F5, SendInput took 2 of 2; in front "
                                         "app_tests.exe")})
        EXPECT_NE(std::string::npos, text.find(line)) << line << " in\n" << text;
    EXPECT_EQ(std::string::npos, text.find(title));

    // While this copy runs: it is left alone and the report has it all,
    // written to a file named in Hangul.
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring report = std::wstring(temp) + L"\uBCF4\uACE0\uC11C report.txt";
    DeleteFileW(report.c_str());
    EXPECT_EQ(0u, LumoProcess::RunSecondCopy(30000, L"/report \"" + report + L"\""));
    EXPECT_TRUE(lumo.Running());
    EXPECT_EQ(1u, LumoTrayWindows().size());
    text = FileText(report);
    const std::string logLine = "[Log %USERPROFILE%\\" + Utf8(HangulLocalAppData::Below) + "\\Kestrova\\Lumo2\\Logs\\Lumo2.log";
    for (const std::string& part :
         {std::string("Written by: the signed-in desktop user, session 1\r\n"), std::string("[Program]"),
          std::string("Signature: signed by \"Kestrova (test)\""), std::string("[Settings as stored]"),
          std::string("key = 5"), std::string("Language: English (0x09), by the Windows display language"),
          std::string("[Policies as read]"),
          std::string("Mode: Kodak(F5), the user's choice"), std::string("[Camera]"), std::string("UExProc.dll: "),
          std::string("[Joystick]"), std::string("PPJoy device: "), std::string("[Integrity levels]"),
          std::string("Program in front: app_tests.exe"), logLine, std::string("press: mode Kodak(F5)")})
        EXPECT_NE(std::string::npos, text.find(part)) << part << " in\n" << text;
    EXPECT_EQ(std::string::npos, text.find(title));
    char user[256], computer[256], profile[MAX_PATH];
    DWORD size = sizeof(user);
    ASSERT_TRUE(GetUserNameA(user, &size));
    size = sizeof(computer);
    ASSERT_TRUE(GetComputerNameA(computer, &size));
    ASSERT_EQ(S_OK, SHGetFolderPathA(NULL, CSIDL_PROFILE, NULL, SHGFP_TYPE_CURRENT, profile));
    for (const char* name : {static_cast<const char*>(user), static_cast<const char*>(computer),
                             static_cast<const char*>(profile)})
        EXPECT_EQ(std::string::npos, Lower(text).find(Lower(name))) << name;
    DestroyWindow(front);
    DeleteFileW(report.c_str());
    DeleteFileW(log);

    camera.Add(1);
    AnnounceDeviceChange();
    EXPECT_EQ(Describe(F5), Describe(Press())) << "the running copy still works";
}

// The top-level windows of Explorer processes other than the desktop's.
std::vector<HWND> ExplorerWindows()
{
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM found) -> BOOL WINAPI {
            char className[64] = "";
            GetClassNameA(window, className, sizeof(className));
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
            char image[MAX_PATH] = "";
            DWORD size = MAX_PATH;
            if (process) {
                QueryFullProcessImageNameA(process, 0, image, &size);
                CloseHandle(process);
            }
            const char* name = strrchr(image, '\\');
            if (IsWindowVisible(window) && name && lstrcmpiA(name + 1, "explorer.exe") == 0 &&
                window != GetDesktopWindow() && window != GetShellWindow() && strcmp(className, "Shell_TrayWnd") != 0)
                reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<std::wstring> ReportsIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\Lumo2-report-*.txt").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// "Diagnostics..." in a profile whose folders are named in Hangul: the report
// lands beside the log and is shown in its folder; where it cannot be
// written, a message says so and the log has it.
TEST_F(AppTest, DiagnosticsWritesTheReportBesideTheLogOrSaysWhyNot)
{
    HangulLocalAppData hangul;
    const std::wstring lumoData = HangulLocalAppData::Folder() + L"\\Kestrova\\Lumo2";
    const std::wstring reports = lumoData + L"\\Reports", log = lumoData + L"\\Logs\\Lumo2.log";
    for (const std::wstring& name : ReportsIn(reports))
        DeleteFileW((reports + L"\\" + name).c_str());
    RemoveDirectoryW(reports.c_str());
    DeleteFileW(reports.c_str());
    ASSERT_TRUE(lumo.Start());
    const std::vector<HWND> explorersBefore = ExplorerWindows();

    lumo.Command(IDM_DIAGNOSTICS);
    // Written on a thread of its own: the tray has answered before it is.
    std::vector<std::wstring> written;
    EXPECT_TRUE(WaitUntil([&] { return !(written = ReportsIn(reports)).empty(); }, 10000));
    ASSERT_EQ(1u, written.size()) << "the Reports folder was made and holds the report";
    const std::string text = FileText(reports + L"\\" + written[0]);
    for (const char* part : {"by the running copy", "Written by: the signed-in desktop user", "Running copy: mode Space",
                             "start: Lumo2 1."})
        EXPECT_NE(std::string::npos, text.find(part)) << part << " in\n" << text;
    std::vector<HWND> shown;
    EXPECT_TRUE(WaitUntil(
        [&] {
            shown.clear();
            for (HWND window : ExplorerWindows())
                if (std::find(explorersBefore.begin(), explorersBefore.end(), window) == explorersBefore.end())
                    shown.push_back(window);
            return !shown.empty();
        },
        10000))
        << "the folder was shown";
    for (HWND window : shown)
        PostMessageA(window, WM_CLOSE, 0, 0);
    DeleteFileW((reports + L"\\" + written[0]).c_str());
    RemoveDirectoryW(reports.c_str());

    // A file where the folder should be: nothing can be written there.
    HANDLE blocker = CreateFileW(reports.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, blocker);
    CloseHandle(blocker);
    const size_t logged = FileText(log).size();
    PostMessageA(lumo.Tray(), WM_COMMAND, IDM_DIAGNOSTICS, 0);
    HWND box = NULL;
    EXPECT_TRUE(WaitUntil([&] { return (box = FindProcessWindow(lumo.ProcessId(), "#32770")) != NULL; }, 10000))
        << "a message says the report was not written";
    if (box) {
        EXPECT_EQ("Lumo2", WindowText(box));
        WCHAR said[1024] = L"";
        GetDlgItemTextW(box, 0xFFFF, said, 1024);
        EXPECT_NE(std::wstring::npos, std::wstring(said).find(reports)) << Utf8(said);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));
    }
    const std::string lines = FileText(log).substr(logged);
    EXPECT_NE(std::string::npos, lines.find("report: not written to %USERPROFILE%\\")) << lines;
    EXPECT_TRUE(ReportsIn(reports).empty());
    DeleteFileW(reports.c_str());
    EXPECT_EQ(Describe(Space), Describe(Press())) << "the running copy still works";
}

}  // namespace
