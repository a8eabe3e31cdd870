// The shell's plain pieces: the command table, the menu resource and its
// mark, the time parsing and the key capture, without a running program.
#include "app/shell.h"
#include "app/tray_window.h"
#include "lifecycle/restart.h"
#include "lifecycle/session_watch.h"
#include "platform/display_scale.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "settings/ui_text.h"
#include "tests/support/registry_scratch.h"
#include "tests/support/test_support.h"
#include "tray/tray_status.h"
#include "windows/settings_window.h"
#include <gtest/gtest.h>
#include <imm.h>
#include <limits.h>
#include <string>
#include <vector>

namespace {

TEST(ShellTest, CommandsMapToModesByTableNotByNumber)
{
    const struct {
        WORD command;
        LONG mode;
    } cases[] = {
        {IDM_SPACE, 2},   {IDM_ENTER, 3},        {IDM_SCHICK, 4},   {IDM_KODAK, 5},
        {IDM_SIDEXIS, 6}, {IDM_ALT_F_ALT_S, 7},  {IDM_CDX_VIEW, 8}, {IDM_JOYSTICK, 9},
        {IDM_ABOUT, 0},   {IDM_CUSTOM_SETTINGS, 0}, {IDM_EXIT, 0},  {32779, 0},
        {32782, 0},       {0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.mode, ModeForCommand(c.command)) << c.command;
}

class MenuResourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExA("Lumo2.exe", NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module) << "Lumo2.exe beside the test";
        menu = LoadMenuA(module, MAKEINTRESOURCEA(IDM_TRAY_MENU));
        ASSERT_NE(nullptr, menu);
        popup = GetSubMenu(menu, 0);
        ASSERT_NE(nullptr, popup);
    }
    void TearDown() override
    {
        if (menu)
            DestroyMenu(menu);
        if (module)
            FreeLibrary(module);
    }

    HMODULE module = NULL;
    HMENU menu = NULL;
    HMENU popup = NULL;
};

TEST_F(MenuResourceTest, PopupHoldsTheItemsAtTheirPositions)
{
    const struct {
        const char* text;
        UINT id;
    } items[] = {
        {"About", IDM_ABOUT},   {"", 0},
        {"Space", IDM_SPACE},   {"Enter", IDM_ENTER},
        {"Schick(Alt+F, Alt+T)", IDM_SCHICK}, {"Kodak(F5)", IDM_KODAK},
        {"SIDEXIS", IDM_SIDEXIS}, {"Alt+F, Alt+S", IDM_ALT_F_ALT_S},
        {"CDX View", IDM_CDX_VIEW}, {"JOYSTICK", IDM_JOYSTICK},
        {"Custom Settings", IDM_CUSTOM_SETTINGS}, {"", 0},
        {"Programs...", IDM_PROGRAMS}, {"Diagnostics...", IDM_DIAGNOSTICS}, {"Exit", IDM_EXIT},
    };
    ASSERT_EQ(15, GetMenuItemCount(popup));
    for (int position = 0; position < 15; ++position) {
        char text[64] = {0};
        GetMenuStringA(popup, position, text, sizeof(text), MF_BYPOSITION);
        EXPECT_STREQ(items[position].text, text) << position;
        UINT state = GetMenuState(popup, position, MF_BYPOSITION);
        if (items[position].id == 0) {
            EXPECT_TRUE(state & MF_SEPARATOR) << position;
        } else {
            EXPECT_EQ(items[position].id, GetMenuItemID(popup, position));
            EXPECT_EQ(0u, state & (MF_CHECKED | MF_GRAYED | MF_DISABLED)) << position;
        }
    }
    // Every mode command sits at the position equal to its mode.
    for (int position = 2; position <= 9; ++position)
        EXPECT_EQ(position, ModeForCommand(WORD(GetMenuItemID(popup, position))));
}

TEST_F(MenuResourceTest, MarkGoesOnTheItemAtTheModesPositionOnly)
{
    for (LONG mode : {2L, 7L, 9L, 10L, 0L, 1L, 11L, -1L}) {
        SCOPED_TRACE(mode);
        HMENU fresh = LoadMenuA(module, MAKEINTRESOURCEA(IDM_TRAY_MENU));
        HMENU items = GetSubMenu(fresh, 0);
        ActionMode = mode;
        MarkActionMode(items);
        for (int position = 0; position < 13; ++position) {
            bool marked = (GetMenuState(items, position, MF_BYPOSITION) & MF_CHECKED) != 0;
            bool inMenu = mode >= ModeSpace && mode <= ModeCustom;
            EXPECT_EQ(inMenu && position == mode, marked) << "position " << position;
        }
        DestroyMenu(fresh);
    }
    ActionMode = ModeSpace;
}

TEST_F(MenuResourceTest, StringTableNamesTheTrayClass)
{
    char name[100] = {0};
    EXPECT_EQ(4, LoadStringA(module, IDS_TRAY_CLASS, name, sizeof(name)));
    EXPECT_STREQ("Lumo", name);
}

// The settings font where GULIM is installed and where it is not, played
// through the seam; the test bed's real font list is checked by the scale
// tests, with and without the replacement.
TEST(SettingsFontTest, GulimWhereInstalledElseTheMessageFontAtTheSameHeight)
{
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof(metrics);
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    const struct {
        bool installed;
        UINT dpi;
        const char* face;
        BYTE charSet;
        LONG height;
        bool showsPaths;  // in English, as the tests run
    } cases[] = {
        {true, 96, "GULIM", HANGUL_CHARSET, 12, false},
        {true, 144, "GULIM", HANGUL_CHARSET, 18, false},
        {false, 96, metrics.lfMessageFont.lfFaceName, metrics.lfMessageFont.lfCharSet, 12, false},
        {false, 240, metrics.lfMessageFont.lfFaceName, metrics.lfMessageFont.lfCharSet, 30, false},
        {true, 96, metrics.lfMessageFont.lfFaceName, metrics.lfMessageFont.lfCharSet, 12, true},
    };
    ASSERT_NE(LANG_KOREAN, UiLanguageInForce().language);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.installed ? "installed at " : "missing at ") << c.dpi);
        FaceInstalled = c.installed ? [](const char*) { return true; } : [](const char*) { return false; };
        HFONT font = CreateSettingsFont(c.dpi, c.showsPaths);
        LOGFONTA made = {};
        ASSERT_TRUE(GetObjectA(font, sizeof(made), &made));
        EXPECT_STREQ(c.face, made.lfFaceName);
        EXPECT_EQ(c.charSet, made.lfCharSet);
        EXPECT_EQ(c.height, made.lfHeight);
        DeleteObject(font);
    }
    FaceInstalled = FaceInstalledOnSystem;
}

// The tray icon at each scale's small-icon size is the image drawn for that
// size, not another one shrunk, and each size is loaded once.
// An icon's colour pixels, top row first, 4 bytes each (blue, green, red, alpha).
std::vector<BYTE> IconPixels(HICON icon, int size)
{
    std::vector<BYTE> pixels(size * size * 4);
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info))
        return std::vector<BYTE>();
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = size;
    header.biHeight = -size;  // top-down
    header.biPlanes = 1;
    header.biBitCount = 32;
    HDC screen = GetDC(NULL);
    if (GetDIBits(screen, info.hbmColor, 0, size, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
                  DIB_RGB_COLORS) != size)
        pixels.clear();
    ReleaseDC(NULL, screen);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return pixels;
}

TEST_F(MenuResourceTest, TrayIconIsTheImageDrawnForEachSmallIconSize)
{
    const struct {
        UINT dpi;
        int size;
        int imageId;  // as lumo2.rc numbers the images
    } cases[] = {{96, 16, 1}, {120, 20, 2}, {144, 24, 3}, {168, 28, 4}, {192, 32, 5}, {240, 40, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        HICON icon = SmallIconForDpi(module, IDI_TRAY, c.dpi);
        ASSERT_NE(nullptr, icon);
        EXPECT_EQ(icon, SmallIconForDpi(module, IDI_TRAY, c.dpi)) << "loaded once";
        std::vector<BYTE> shown = IconPixels(icon, c.size);
        ASSERT_FALSE(shown.empty());
        // The resource's rows run bottom-up after its 40-byte header.
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(c.imageId), MAKEINTRESOURCEA(3) /* RT_ICON */);
        ASSERT_NE(nullptr, found);
        const BYTE* image = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
        size_t row = c.size * 4;
        for (int y = 0; y < c.size; ++y)
            ASSERT_EQ(0, memcmp(&shown[y * row], image + 40 + (c.size - 1 - y) * row, row)) << "row " << y;

        // Not ready: the same picture in grey at half its opacity.
        std::vector<BYTE> dimmed = IconPixels(DimmedIcon(icon), c.size);
        ASSERT_EQ(shown.size(), dimmed.size());
        bool coloured = false;
        for (size_t i = 0; i < shown.size(); i += 4) {
            coloured = coloured || shown[i] != shown[i + 1] || shown[i + 1] != shown[i + 2];
            ASSERT_TRUE(dimmed[i] == dimmed[i + 1] && dimmed[i + 1] == dimmed[i + 2]) << "grey at " << i / 4;
            ASSERT_EQ(shown[i + 3] / 2, dimmed[i + 3]) << "half as opaque at " << i / 4;
        }
        EXPECT_TRUE(coloured) << "the picture has colour, so grey shows";
        EXPECT_EQ(DimmedIcon(icon), DimmedIcon(icon)) << "made once";
    }
}

class TrayTipTest : public RegistryTest {
protected:
    ProgramTexts texts;
};

TEST_F(TrayTipTest, TheCameraNameGivesWayBeforeTheMode)
{
    const std::wstring dash = TipSeparator();
    const std::wstring head = L"Lumo2" + dash + L"JOYSTICK, set by your administrator (vJoy device 1 in use)" + dash;
    WCHAR tip[128];
    ComposeTrayTip(tip, L"JOYSTICK", true, L"vJoy device 1 in use", std::wstring(200, L'N').c_str());
    EXPECT_EQ(head + std::wstring(124 - head.size(), L'N') + L"...", tip);

    // Keys blocked: the camera's place names the program, whose name gives
    // way before the mode and before what happened.
    const std::wstring policyMode = L"Schick(Alt+F, Alt+T), set by your administrator";
    const struct {
        std::wstring exe;
        bool cut;
    } blocked[] = {{L"imaging.exe", false}, {L"", false}, {std::wstring(200, L'I') + L".exe", true},
                   {std::wstring(127, L'I'), true}};
    for (const auto& b : blocked) {
        ComposeTrayTip(tip, L"Schick(Alt+F, Alt+T)", true, NULL, L"Camera X", b.exe.c_str());
        const std::wstring shown = tip;
        EXPECT_LE(shown.size(), 127u);
        EXPECT_EQ(0u, shown.find(L"Lumo2" + dash + policyMode + dash + L"keys blocked: "));
        EXPECT_EQ(shown.size() - 22, shown.find(L" runs as administrator"));
        EXPECT_EQ(std::wstring::npos, shown.find(L"Camera X"));
        EXPECT_EQ(b.cut, shown.find(L"... runs") != std::wstring::npos);
        if (b.cut) {
            EXPECT_EQ(127u, shown.size()) << "the name fills what room there is";
        } else {
            EXPECT_NE(std::wstring::npos, shown.find(b.exe.empty() ? L"the program in front" : b.exe));
        }
    }
}

// In Korean the tip's own words come from the Korean table, and a long
// Korean camera name is cut between characters: never inside a syllable
// written as jamo, never between the halves of a surrogate pair.
TEST_F(TrayTipTest, AKoreanTipIsCutBetweenWholeCharacters)
{
    StoreLanguage(L"ko");
    const std::wstring syllable = L"\x1100\x1161\x11A8", pair = L"\xD83D\xDCF7";
    const struct {
        std::wstring camera;
        int offset;  // shifts where the cut falls
    } names[] = {{L"\xAC00", 0}, {syllable, 0}, {syllable, 1}, {syllable, 2}, {pair, 0}, {pair, 1}};
    const std::wstring policy = UiString(IDS_TIP_SET_BY_POLICY);
    ASSERT_NE(policy, UiString(IDS_TIP_SET_BY_POLICY, LANG_ENGLISH)) << "the Korean text, not the English one";
    for (const auto& n : names) {
        std::wstring camera = std::wstring(n.offset, L'x');
        while (camera.size() < 200)
            camera += n.camera;
        WCHAR tip[128];
        ComposeTrayTip(tip, L"\xC870\xC774\xC2A4\xD2F1", true, NULL, camera.c_str());
        const std::wstring shown = tip;
        SCOPED_TRACE(testing::Message() << "offset " << n.offset << ", " << Utf8(shown));
        EXPECT_LE(shown.size(), 127u);
        EXPECT_GE(shown.size(), 124u) << "no more than one character given back";
        EXPECT_NE(std::wstring::npos, shown.find(policy));
        ASSERT_EQ(shown.size() - 3, shown.rfind(L"..."));
        std::wstring kept = shown.substr(0, shown.size() - 3);
        size_t start = kept.find(n.camera.substr(0, 1), kept.find(policy) + policy.size());
        std::wstring cameraKept = kept.substr(start);
        EXPECT_EQ(0u, cameraKept.size() % n.camera.size()) << "a whole number of characters";
    }
}

// How many programs have their own mode follows the mode, in the language in
// force, and is left out whole before the mode would be cut.
TEST_F(TrayTipTest, TheProgramsCountFollowsTheModeAndGivesWayBeforeIt)
{
    const std::wstring dash = TipSeparator();
    const struct {
        UINT count;
        WORD language;
        std::wstring mode;
        std::wstring shown;  // what stands between the mode and the camera
    } cases[] = {
        {0, LANG_ENGLISH, L"Space", L""},
        {1, LANG_ENGLISH, L"Space", L", 1 program its own"},
        {2, LANG_ENGLISH, L"Space", L", 2 programs their own"},
        {768, LANG_ENGLISH, L"Kodak(F5)", L", 768 programs their own"},
        {2, LANG_KOREAN, L"Space", L", \xD504\xB85C\xADF8\xB7A8 2\xAC1C \xBCC4\xB3C4 \xBAA8\xB4DC"},
        // No room for the count beside a mode this long: left out whole.
        {2, LANG_ENGLISH, std::wstring(100, L'M'), L""},
    };
    for (const auto& c : cases) {
        WCHAR own[64], tip[128];
        ComposeOwnModesText(own, 64, c.count, c.language);
        EXPECT_EQ(c.count == 0, own[0] == 0);
        ComposeTrayTip(tip, c.mode.c_str(), false, NULL, L"USB 2820 Video", NULL, c.language, own);
        const std::wstring text = tip;
        EXPECT_LE(text.size(), 127u);
        EXPECT_EQ(0u, text.find(L"Lumo2" + dash + c.mode + c.shown + dash)) << Utf8(text);
    }
}

TEST(TimeTextTest, DigitsBecomeTheTimeAndOverlongNumbersSaturate)
{
    const struct {
        const char* text;
        LONG time;
    } cases[] = {
        {"0250", 250},        {"", 0},
        {"abc", 0},           {"12abc", 12},
        {"  42", 42},         {"1000", 1000},
        {"2147483647", INT_MAX}, {"2147483648", INT_MAX},
        {"99999999999999999999999999999999", INT_MAX},
        {"-5", -5},           {"-2147483648", INT_MIN},
        {"-99999999999", INT_MIN}, {"+7", 7},
        {"0000000000000000000000000000000000000000000012", 12},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.time, ParseTimeText(c.text)) << '"' << c.text << '"';
}

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CustomSettings = CustomKeySettings();
        KeyField1 = CreateWindowExA(0, "edit", "", WS_POPUP | ES_READONLY, 0, 0, 100, 20, NULL, NULL,
                                    GetModuleHandleA(NULL), NULL);
        ASSERT_NE(nullptr, KeyField1);
    }
    void TearDown() override
    {
        DestroyWindow(KeyField1);
        KeyField1 = NULL;
        HoldModifiers({});
    }

    // What GetKeyState reports for the message being handled.
    void HoldModifiers(std::initializer_list<BYTE> held)
    {
        BYTE state[256] = {0};
        for (BYTE vk : held)
            state[vk] = 0x80;
        SetKeyboardState(state);
    }

    std::string FieldText()
    {
        char text[256] = {0};
        GetWindowTextA(KeyField1, text, sizeof(text));
        return text;
    }
};

TEST_F(CaptureTest, KeyDownWithHeldModifiersBecomesTheCombination)
{
    const struct {
        std::initializer_list<BYTE> held;
        DWORD key;
        const char* text;
        KeyCombo combo;
    } cases[] = {
        {{VK_CONTROL}, 'S', "CTRL + S", {0, 1, 0, 'S'}},
        {{VK_SHIFT, VK_MENU}, VK_F5, "ALT + SHIFT + F5", {1, 0, 1, VK_F5}},
        {{}, VK_ESCAPE, "ESC", {0, 0, 0, VK_ESCAPE}},
        {{}, VK_RETURN, "Enter", {0, 0, 0, VK_RETURN}},
        {{VK_CONTROL}, 0x6C, "CTRL + ", {0, 1, 0, 0x6C}},
        {{}, VK_CLEAR, "", {0, 0, 0, VK_CLEAR}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SetWindowTextA(KeyField1, "");
        CustomSettings.keys[0] = KeyCombo();
        HoldModifiers(c.held);
        CaptureKeyCombo(KeyField1, c.key);
        EXPECT_EQ(c.text, FieldText());
        EXPECT_EQ(0, memcmp(&c.combo, &CustomSettings.keys[0], sizeof(KeyCombo)));
    }
}

TEST_F(CaptureTest, ModifiersAloneAndSecondKeysChangeNothing)
{
    HoldModifiers({VK_CONTROL});
    for (DWORD modifier : {DWORD(VK_SHIFT), DWORD(VK_CONTROL), DWORD(VK_MENU), DWORD(VK_HANJA)}) {
        CaptureKeyCombo(KeyField1, modifier);
        EXPECT_EQ("", FieldText());
        EXPECT_EQ(0u, CustomSettings.keys[0].k);
    }
    CaptureKeyCombo(KeyField1, 'S');
    HoldModifiers({VK_MENU});
    CaptureKeyCombo(KeyField1, 'X');
    EXPECT_EQ("CTRL + S", FieldText());
    EXPECT_EQ(DWORD('S'), CustomSettings.keys[0].k);
    EXPECT_EQ(0, CustomSettings.keys[0].alt);
}

// What a Korean IME would say a VK_PROCESSKEY was.
UINT ImeKey;
UINT PlayedImeKey(HWND)
{
    return ImeKey;
}

TEST_F(CaptureTest, AKeyTheImeTookIsCapturedAsTheKeyItWasOrNotAtAll)
{
    ImeVirtualKeyFn system = LookUpImeVirtualKey;
    LookUpImeVirtualKey = PlayedImeKey;
    HoldModifiers({VK_CONTROL});
    const struct {
        UINT imeKey;
        const char* text;
        DWORD stored;
    } cases[] = {{'A', "CTRL + A", 'A'}, {0, "", 0}, {VK_PROCESSKEY, "", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.imeKey);
        SetWindowTextA(KeyField1, "");
        CustomSettings.keys[0] = KeyCombo();
        ImeKey = c.imeKey;
        CaptureKeyCombo(KeyField1, VK_PROCESSKEY);
        EXPECT_EQ(c.text, FieldText());
        EXPECT_EQ(c.stored, CustomSettings.keys[0].k);
        EXPECT_EQ(c.stored != 0, CustomSettings.keys[0].control != 0);
    }
    LookUpImeVirtualKey = system;
}

TEST(SettingsWindowImeTest, KeyFieldsHaveNoInputContextButTheTimeFieldKeepsIt)
{
    WNDCLASSW settingsClass = {};
    settingsClass.lpfnWndProc = SettingsWindowProc;
    settingsClass.hInstance = GetModuleHandleA(NULL);
    settingsClass.lpszClassName = L"CustomUnderTest";
    ASSERT_NE(0, RegisterClassW(&settingsClass));
    AppInstance = GetModuleHandleA(NULL);
    HWND window = CreateWindowExW(0, L"CustomUnderTest", L"", WS_CAPTION, 0, 0, 300, 250, NULL, NULL,
                                  AppInstance, NULL);
    ASSERT_NE(nullptr, window);
    HIMC timeContext = ImmGetContext(TimeField);
    EXPECT_NE(nullptr, timeContext) << "an edit field has a context unless it is taken away";
    ImmReleaseContext(TimeField, timeContext);
    for (HWND field : {KeyField1, KeyField2, KeyField3}) {
        ASSERT_NE(nullptr, field);
        HIMC context = ImmGetContext(field);
        EXPECT_EQ(nullptr, context);
        if (context)
            ImmReleaseContext(field, context);
    }
    DestroyWindow(window);
    UnregisterClassW(L"CustomUnderTest", AppInstance);
}

TEST_F(CaptureTest, AKeyWithoutANameLeavesTheFieldReadyToCaptureAgain)
{
    HoldModifiers({});
    CaptureKeyCombo(KeyField1, VK_CLEAR);
    EXPECT_EQ(DWORD(VK_CLEAR), CustomSettings.keys[0].k);
    CaptureKeyCombo(KeyField1, 'A');
    EXPECT_EQ("A", FieldText());
    EXPECT_EQ(DWORD('A'), CustomSettings.keys[0].k);
}

}  // namespace

namespace {

TEST(StartSwitchTest, OnlyTheProgramsOwnSwitchesChangeAStart)
{
    const struct {
        const WCHAR* commandLine;
        StartKind kind;
    } cases[] = {
        {L"Lumo2.exe", NormalStart},
        {L"\"C:\\Program Files\\Lumo2\\Lumo2.exe\"  ", NormalStart},
        {L"\"C:\\Program Files\\Lumo2\\Lumo2.exe\" /restarted", RestartedByWindows},
        {L"Lumo2.exe /RESTARTED ", RestartedByWindows},
        {L"Lumo2.exe /restartedx", NormalStart},
        {L"Lumo2.exe /something", NormalStart},
        // As copies of earlier versions started themselves: no switch now.
        {L"\"C:\\t\\Lumo2-relaunch-8.exe\" /relaunch 8 \"C:\\Program Files\\Lumo2\\Lumo2.exe\"", NormalStart},
        {L"x /relaunch", NormalStart},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.kind, ReadStartSwitch(c.commandLine)) << c.commandLine;
}

std::vector<std::pair<std::wstring, DWORD>> RestartCalls;
HRESULT WINAPI RecordRegister(const WCHAR* commandLine, DWORD flags)
{
    RestartCalls.push_back({commandLine ? commandLine : L"(null)", flags});
    return S_OK;
}

// Wine's RegisterApplicationRestart stores nothing, so the call is recorded.
TEST(RestartTest, WindowsRestartsLumo2AfterACrashOrAnInstallationButNotAfterAReboot)
{
    const RegisterRestartFn systemRegister = RegisterRestart;
    RegisterRestart = RecordRegister;
    RestartCalls.clear();
    RegisterForRestart();
    ASSERT_EQ(1u, RestartCalls.size());
    EXPECT_EQ(std::wstring(L"/restarted"), RestartCalls[0].first);
    EXPECT_EQ(DWORD(RESTART_NO_REBOOT), RestartCalls[0].second) << "restarted after a crash, a hang and an update";
    EXPECT_EQ(RestartedByWindows, ReadStartSwitch((L"Lumo2.exe " + RestartCalls[0].first).c_str()))
        << "the copy restarted knows it";
    RegisterRestart = systemRegister;
}

int SessionWatchCalls, SessionWatchRefusals;
BOOL WINAPI PlayRegisterSession(HWND, DWORD)
{
    return ++SessionWatchCalls > SessionWatchRefusals;
}
BOOL WINAPI PlayUnregisterSession(HWND)
{
    return TRUE;
}

// Refused as at a logon before the session's services are up: asked again
// every few seconds, for a while; Wine never refuses.
TEST(SessionWatchTest, ARefusedWatchIsAskedForAgainForAWhile)
{
    const SessionNotificationFn systemRegister = RegisterSessionNotification;
    const SessionUnnotificationFn systemUnregister = UnregisterSessionNotification;
    RegisterSessionNotification = PlayRegisterSession;
    UnregisterSessionNotification = PlayUnregisterSession;
    const struct {
        int refusals, calls;
        bool watched;
    } cases[] = {{0, 1, true}, {2, 3, true}, {1000, SessionWatchTries, false}};
    for (const auto& c : cases) {
        SessionWatchCalls = 0;
        SessionWatchRefusals = c.refusals;
        bool watched = StartSessionWatch(NULL, 100);
        EXPECT_FALSE(RetrySessionWatch(NULL, 100 + SessionWatchRetryMs - 1)) << "not before its time";
        for (DWORD now = 100; now < 100 + 100 * SessionWatchRetryMs; now += SessionWatchRetryMs)
            watched |= RetrySessionWatch(NULL, now);
        EXPECT_EQ(c.calls, SessionWatchCalls) << c.refusals;
        EXPECT_EQ(c.watched, watched) << c.refusals;
        StopSessionWatch(NULL);
    }
    RegisterSessionNotification = systemRegister;
    UnregisterSessionNotification = systemUnregister;
}

}  // namespace
