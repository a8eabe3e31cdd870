// The program's windows at the display scale the test bed is set to.
// scripts/test.sh runs these at 100 % with the rest, then again with
// LogPixels at other scales and once without the Korean font, each after a
// restart of the prefix's Wine server; LUMO2_LOGPIXELS and LUMO2_GULIM say
// what it set, so a switch that did not take fails instead of passing at
// 100 % again.
#include "app/tray_window.h"
#include "lumo2_version.h"
#include "platform/display_scale.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "settings/policy.h"
#include "settings/program_rules.h"
#include "settings/ui_text.h"
#include "tests/support/lumo_process.h"
#include "tests/support/registry_scratch.h"
#include "tests/support/sim_camera.h"
#include "tests/support/test_support.h"
#include "tests/support/wait_until.h"
#include "windows/about_box.h"
#include "windows/programs_window.h"
#include "windows/settings_window.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

UINT ExpectedDpi()
{
    return EnvNumber("LUMO2_LOGPIXELS", BaseDpi);
}

bool GulimExpected()
{
    const char* gulim = getenv("LUMO2_GULIM");
    return !(gulim && strcmp(gulim, "absent") == 0);
}

// "custom-settings-150" ("custom-settings-ko-150" in Korean), and
// "-fallback-font" where GULIM is missing.
std::string PictureName(const char* window, UINT dpi, bool korean = false)
{
    return std::string(window) + (korean ? "-ko" : "") + "-" + std::to_string(MulDiv(100, dpi, BaseDpi)) +
           (GulimExpected() ? "" : "-fallback-font");
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

RECT RectInParent(HWND child)
{
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(NULL, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The client area is the 96-DPI one grown by the scale, within 5 %, and
// every control lies inside it (the settings window's by default), without
// touching another where the controls stand apart (a combo box's window
// holds its list).
void ExpectLaidOutFor(HWND window, UINT dpi, DWORD style = WS_CAPTION, SIZE base = SettingsWindowSize(BaseDpi),
                      size_t controls = 15, bool apart = true)
{
    RECT frame = WindowFrameForDpi(style, BaseDpi);
    double baseWidth = base.cx - (frame.right - frame.left), baseHeight = base.cy - (frame.bottom - frame.top);
    double factor = double(dpi) / BaseDpi;
    RECT client;
    GetClientRect(window, &client);
    EXPECT_NEAR(factor, client.right / baseWidth, 0.05 * factor) << "client width " << client.right;
    EXPECT_NEAR(factor, client.bottom / baseHeight, 0.05 * factor) << "client height " << client.bottom;
    std::vector<HWND> children = Children(window);
    EXPECT_EQ(controls, children.size());
    for (size_t i = 0; i < children.size(); ++i) {
        RECT rect = RectInParent(children[i]), inside;
        IntersectRect(&inside, &rect, &client);
        EXPECT_TRUE(EqualRect(&inside, &rect)) << "control " << i << " reaches out of the client area";
        for (size_t j = i + 1; apart && j < children.size(); ++j) {
            RECT other = RectInParent(children[j]), overlap;
            EXPECT_FALSE(IntersectRect(&overlap, &rect, &other)) << "controls " << i << " and " << j << " overlap";
        }
    }
}

// Every static and button text of a window of this process fits its
// control, measured in the control's own font; a radio button's text also
// leaves room for its circle.
void ExpectTextsFit(HWND window, UINT dpi)
{
    for (HWND control : Children(window)) {
        char className[16] = {0};
        GetClassNameA(control, className, sizeof(className));
        WCHAR wide[256] = L"";
        GetWindowTextW(control, wide, 256);
        std::wstring text = wide;
        std::string named = Utf8(text);
        bool picture = lstrcmpiA(className, "static") == 0 &&
                       (GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP;
        // An edit's or a combo box's text is what the user typed or chose.
        if (lstrcmpiA(className, "edit") == 0 || lstrcmpiA(className, "combobox") == 0 || picture || text.empty())
            continue;
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
        HDC dc = GetDC(control);
        HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
        RECT room;
        GetClientRect(control, &room);
        SIZE extent;
        GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
        // A static text wraps at its width: its lines must fit its height.
        if (lstrcmpiA(className, "static") == 0) {
            RECT lines = {0, 0, room.right, 0};
            DrawTextW(dc, text.c_str(), -1, &lines, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            extent = {lines.right, lines.bottom};
        }
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
        bool isButton = lstrcmpiA(className, "button") == 0;
        if (isButton && (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON))
            room.right -= ScaleToDpi(13 + 4, dpi);  // the circle and the gap after it
        else if (isButton)
            room.right -= 2 * ScaleToDpi(3, dpi);  // the edges of a push button
        EXPECT_TRUE(font != NULL) << named << " has no font of its own";
        EXPECT_LE(extent.cx, room.right) << '"' << named << "\" is cut";
        EXPECT_LE(extent.cy, room.bottom) << '"' << named << "\" is cut";
    }
}

LOGFONTA FontOf(HWND control)
{
    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
    return font;
}

// DPI_AWARENESS_PER_MONITOR_AWARE, which V2 reports too; the calls exist
// from Windows 10 1607 on, so the headers for older targets lack them.
const int PerMonitorAware = 2;

int WindowDpiAwareness(HWND window)
{
    typedef HANDLE(WINAPI * ContextFn)(HWND);
    typedef int(WINAPI * AwarenessFn)(HANDLE);
    HMODULE user32 = GetModuleHandleA("user32.dll");
    auto context = reinterpret_cast<ContextFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetWindowDpiAwarenessContext")));
    auto awareness = reinterpret_cast<AwarenessFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    return context && awareness ? awareness(context(window)) : -1;
}

// The tip the taskbar shows over an icon: a tooltip of the shell's process.
HWND ShownTip(HWND taskbar)
{
    DWORD shell = 0, owner = 0;
    GetWindowThreadProcessId(taskbar, &shell);
    HWND w = NULL;
    while ((w = FindWindowExA(NULL, w, "tooltips_class32", NULL)) != NULL)
        if (GetWindowThreadProcessId(w, &owner) && owner == shell && IsWindowVisible(w))
            return w;
    return NULL;
}

class ScaleTest : public RegistryTest {};

TEST_F(ScaleTest, TestBedRunsAtTheScaleItWasSetTo)
{
    EXPECT_EQ(ExpectedDpi(), ScreenDpi());
    EXPECT_EQ(GulimExpected(), FaceInstalledOnSystem("GULIM")) << "the test bed's font replacement";
    EXPECT_FALSE(FaceInstalledOnSystem("No Such Face Lumo2"));
    EXPECT_TRUE(FaceInstalledOnSystem("Malgun Gothic")) << "as on every Windows since 8";
}

TEST_F(ScaleTest, RunningProgramLaysOutItsSettingsWindowForTheScale)
{
    // What the README's pictures show too, in English and in Korean.
    for (bool korean : {false, true}) {
        SCOPED_TRACE(korean ? "Korean" : "English");
        CustomSettings = {SendAll, 250, {{1, 0, 1, VK_F5}, {0, 1, 0, 'S'}, {0, 0, 0, 0}}};
        SaveCustomKeySettings();
        StoreLanguage(korean ? L"ko" : NULL);
        LumoProcess lumo;
        ASSERT_TRUE(lumo.Start());
        lumo.Command(IDM_CUSTOM_SETTINGS);
        HWND window = lumo.Settings();
        ASSERT_NE(nullptr, window);
        ASSERT_TRUE(WaitUntil([&] { return Drawn(window); }, 10000));
        ExpectLaidOutFor(window, ExpectedDpi());
        RECT rect;
        GetWindowRect(window, &rect);
        EXPECT_GE(rect.left, 0);
        EXPECT_LE(rect.right, GetSystemMetrics(SM_CXSCREEN)) << "the window fits the screen";
        EXPECT_LE(rect.bottom, GetSystemMetrics(SM_CYSCREEN));
        EXPECT_EQ(PerMonitorAware, WindowDpiAwareness(window)) << "the manifest's DPI awareness reached the process";
        EXPECT_TRUE(SaveScreenshot(window, PictureName("custom-settings", ExpectedDpi(), korean).c_str()));

        PostMessageA(lumo.Tray(), WM_COMMAND, IDM_ABOUT, 0);
        HWND about = NULL;
        ASSERT_TRUE(WaitUntil([&] { return (about = FindProcessWindow(lumo.ProcessId(), "#32770")) != NULL; }, 5000));
        EXPECT_TRUE(WaitUntil([&] { return Drawn(about); }, 10000));
        EXPECT_TRUE(SaveScreenshot(about, PictureName("about-box", ExpectedDpi(), korean).c_str()));
        PostMessageA(about, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }, 5000));
    }
}

// The "Modes for programs" window laid out for the scale, in the font of the
// settings window; the README's pictures at 100 and 150 % come from here.
TEST_F(ScaleTest, RunningProgramLaysOutItsProgramsWindowForTheScale)
{
    ASSERT_TRUE(SaveUserRule(L"imaging.exe", ModeKodak));
    ASSERT_TRUE(SaveUserRule(L"C:\\Program Files\\Viewer\\viewer.exe", ModeSidexis));
    LumoProcess lumo;
    ASSERT_TRUE(lumo.Start());
    lumo.Command(IDM_PROGRAMS);
    HWND window = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindProcessWindow(lumo.ProcessId(), "Lumo2Programs")) != NULL &&
                                       IsWindowVisible(window); }, 5000));
    ASSERT_TRUE(WaitUntil([&] { return Drawn(window); }, 10000));
    const UINT dpi = ExpectedDpi();
    ExpectLaidOutFor(window, dpi, WS_CAPTION | WS_SYSMENU, ProgramsWindowSize(BaseDpi), 10, false);
    // Opened before the first tick, the window fills its list once the
    // rules are read.
    HWND list = GetDlgItem(window, IDC_PROGRAMS_LIST);
    EXPECT_TRUE(WaitUntil([&] { return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 2; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return Drawn(window); }, 10000));
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_LE(rect.right, GetSystemMetrics(SM_CXSCREEN)) << "the window fits the screen";
    EXPECT_LE(rect.bottom, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_TRUE(SaveScreenshot(window, PictureName("programs-window", dpi).c_str()));
}

// The programs window of each language made in this process, so that each
// control's font can be measured: every label and button fits, and the note
// above the list in its lines, also when it names the administrator's mode.
TEST_F(ScaleTest, ProgramsWindowTextsFitInEachLanguage)
{
    ProgramTexts texts;
    // IT's rule, the user's that it hides, and the user's own.
    ProgramRules* rules = new ProgramRules();
    auto add = [&](RuleLevel level, const wchar_t* name, DWORD mode) {
        AddRuleValue(&rules->levels[level], name, DWORD(wcslen(name)), REG_DWORD, reinterpret_cast<const BYTE*>(&mode),
                     sizeof(mode));
    };
    add(MachinePolicyRules, L"imaging.exe", ModeKodak);
    add(UserRules, L"Imaging", ModeEnter);
    add(UserRules, L"viewer.exe", ModeSpace);
    PublishProgramRules(rules);
    HWND window = CreateProgramsWindow(GetModuleHandleA(NULL));
    ASSERT_NE(nullptr, window);
    HWND list = GetDlgItem(window, IDC_PROGRAMS_LIST);
    // One window for the run: a language chosen since it was made shows at
    // its next opening.
    for (const wchar_t* value : {L"en", L"ko"}) {
        SCOPED_TRACE(Utf8(value));
        const WORD language = value[0] == L'k' ? LANG_KOREAN : LANG_ENGLISH;
        StoreLanguage(value);
        for (LONG policyMode : {0L, LONG(ModeSchick)}) {
            ActivePolicy.mode = policyMode;
            ShowWindow(window, SW_HIDE);
            ShowProgramsWindow();
            WCHAR title[64];
            GetWindowTextW(window, title, 64);
            EXPECT_EQ(UiString(IDS_PROGRAMS_TITLE, language), title);
            ExpectTextsFit(window, ExpectedDpi());
            // The Korean window kept to be looked at (the README's come from
            // the running program).
            if (language == LANG_KOREAN && WaitUntil([&] { return Drawn(window); }, 5000))
                SaveScreenshot(window, (PictureName("programs-window", ExpectedDpi(), true) +
                                        (policyMode ? "-policy" : "")).c_str());
            // Each rule's mode as the menu names it, and who set it.
            const UINT lines[3][2] = {
                {IDS_MODE_BASE + ModeKodak, IDS_PROGRAMS_SET_BY_IT},
                {IDS_MODE_BASE + ModeEnter, IDS_PROGRAMS_OVERRIDDEN},
                {IDS_MODE_BASE + ModeSpace, policyMode ? UINT(IDS_PROGRAMS_OVERRIDDEN) : UINT(IDS_PROGRAMS_SET_BY_USER)}};
            ASSERT_EQ(3, SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
            for (int line = 0; line < 3; ++line) {
                for (int column : {1, 2}) {
                    WCHAR text[64] = L"";
                    LVITEMW item = {};
                    item.iSubItem = column;
                    item.pszText = text;
                    item.cchTextMax = 64;
                    SendMessageW(list, LVM_GETITEMTEXTW, line, reinterpret_cast<LPARAM>(&item));
                    EXPECT_EQ(UiString(lines[line][column - 1], language), text) << line << ", " << column;
                }
            }
        }
    }
    // The rules read again (the menu opened, a key changed) keep the line
    // the user chose.
    LVITEMW chosen = {};
    chosen.stateMask = chosen.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&chosen));
    ShowProgramRulesInWindow();
    EXPECT_EQ(2, SendMessageW(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
    ActivePolicy.mode = 0;
    PublishProgramRules(NULL);
    DestroyWindow(window);
    ProgramsWindowHandle = NULL;
}

// The program's own window code in this process, so that each control's
// font can be asked for and measured.
class SettingsWindowInProcessTest : public ScaleTest {
protected:
    void SetUp() override
    {
        ScaleTest::SetUp();
        StoreLanguage(Language());
        RegisterSettingsClass(GetModuleHandleA(NULL));
        window = CreateSettingsWindow(GetModuleHandleA(NULL));
        ASSERT_NE(nullptr, window);
    }
    virtual const wchar_t* Language() const { return L"en"; }
    void TearDown() override
    {
        // The window only hides itself on WM_DESTROY; it goes with its class.
        DestroyWindow(window);
        UnregisterClassA(SettingsClassName, GetModuleHandleA(NULL));
        ScaleTest::TearDown();
    }

    // Laid out, lettered in the expected font at the DPI, and every text
    // fits, the time label with either of its texts.
    void ExpectFitFor(UINT dpi)
    {
        ExpectLaidOutFor(window, dpi);
        LOGFONTA font = FontOf(TimeField);
        EXPECT_EQ(MulDiv(12, dpi, BaseDpi), font.lfHeight);
        NONCLIENTMETRICSA metrics = {};
        metrics.cbSize = sizeof(metrics);
        SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
        const char* fallback = Language()[0] == L'k' ? "Malgun Gothic" : metrics.lfMessageFont.lfFaceName;
        EXPECT_STREQ(GulimExpected() ? "GULIM" : fallback, font.lfFaceName);
        // Either text of the time label, as the radio buttons set it.
        for (WORD button : {IDC_SEND_ALL, IDC_SEQUENTIAL}) {
            SendMessageW(window, WM_COMMAND, button, 0);
            ExpectTextsFit(window, dpi);
        }
    }
    void ExpectFitAsCreatedAndMoved();

    ProgramTexts texts;
    HWND window = NULL;
};

class KoreanSettingsWindowInProcessTest : public SettingsWindowInProcessTest {
protected:
    const wchar_t* Language() const override { return L"ko"; }
};

TEST_F(SettingsWindowInProcessTest, TextsFitInTheirOwnFontAndFollowAMoveToAnotherScale)
{
    ExpectFitAsCreatedAndMoved();
}

TEST_F(KoreanSettingsWindowInProcessTest, KoreanTextsFitInTheirOwnFontAndFollowAMoveToAnotherScale)
{
    ASSERT_EQ(LANG_KOREAN, UiLanguageInForce().language);
    WCHAR caption[64];
    GetWindowTextW(window, caption, 64);
    EXPECT_EQ(UiString(IDS_SETTINGS_CAPTION, LANG_KOREAN), caption);
    ExpectFitAsCreatedAndMoved();
}

void SettingsWindowInProcessTest::ExpectFitAsCreatedAndMoved()
{
    UINT dpi = ExpectedDpi();
    ASSERT_EQ(dpi, WindowDpi(window));
    {
        SCOPED_TRACE("as created");
        ExpectFitFor(dpi);
    }
    // Wine has one scale for every monitor, so the move is played: the
    // message Windows sends with the rectangle it suggests, whose client
    // area is the old one grown by the change of scale.
    // Another monitor at twice the scale, or at 100 % where twice would
    // not fit the test bed's screen, and back.
    const UINT targets[] = {dpi * 2 <= 288 ? dpi * 2 : BaseDpi, dpi};
    UINT from = dpi;
    for (UINT target : targets) {
        SCOPED_TRACE(testing::Message() << "moved to " << target << " DPI");
        // Wine draws the frame of its one real scale whatever the message
        // says, so the rectangle keeps the frame the window has.
        RECT client, suggested;
        GetClientRect(window, &client);
        GetWindowRect(window, &suggested);
        suggested.right += MulDiv(client.right, target, from) - client.right;
        suggested.bottom += MulDiv(client.bottom, target, from) - client.bottom;
        SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(target, target), reinterpret_cast<LPARAM>(&suggested));
        RECT now;
        GetWindowRect(window, &now);
        EXPECT_TRUE(EqualRect(&suggested, &now)) << "the suggested rectangle is taken";
        ExpectFitFor(target);
        from = target;
    }
}

// The About box from Lumo2.exe's own template of each language, made in
// this process with the program's own dialog procedure.
TEST_F(ScaleTest, AboutBoxShowsItsWholeTextsInEachLanguage)
{
    ProgramTexts texts;
    const struct {
        const wchar_t* value;
        WORD language;
        const wchar_t* version;
    } languages[] = {{L"en", LANG_ENGLISH, L"Lumo2, Version "}, {L"ko", LANG_KOREAN, L"Lumo2 \xBC84\xC804 "}};
    for (const auto& l : languages) {
        SCOPED_TRACE(l.language);
        StoreLanguage(l.value);
        HRSRC found = FindResourceExW(texts.Module(), MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(IDD_ABOUTBOX),
                                      MAKELANGID(l.language, SUBLANG_DEFAULT));
        ASSERT_NE(nullptr, found);
        HWND about = CreateDialogIndirectParamW(
            texts.Module(), static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(texts.Module(), found))), NULL,
            AboutDialogProc, 0);
        ASSERT_NE(nullptr, about);
        std::vector<std::wstring> shown;
        for (HWND control : Children(about)) {
            WCHAR text[128];
            GetWindowTextW(control, text, 128);
            shown.push_back(text);
        }
        std::wstring version = std::wstring(l.version) + Wide(LUMO2_VERSION_STRING);
        EXPECT_NE(shown.end(), std::find(shown.begin(), shown.end(), version));
        ExpectTextsFit(about, ExpectedDpi());
        DestroyWindow(about);
    }
}

// The icon as the taskbar shows it, ready and then not ready once the camera
// has gone, and its tip: checked, and kept as pictures for the README.
TEST_F(ScaleTest, TrayIconIsDimmedInTheTaskbarWhenTheCameraGoes)
{
    SimCamera camera;
    camera.Add(1);
    LumoProcess lumo;
    ASSERT_TRUE(lumo.Start());
    HWND taskbar = FindWindowA("Shell_TrayWnd", NULL);
    ASSERT_NE(nullptr, taskbar) << "the test bed's desktop has a taskbar";
    WindowPicture ready, dimmed;
    // The icon comes with the camera thread's first connect.
    EXPECT_TRUE(WaitUntil([&] { return lumo.HasTrayIcon(); }, 20000));
    // Painted once the icon is in: then nothing changes until the camera
    // goes.
    EXPECT_TRUE(WaitForSteadyPicture(taskbar, &ready, 20000)) << "the taskbar never showed";
    camera.RemoveAll();
    AnnounceDeviceChange();
    ASSERT_TRUE(WaitUntil([&] { return (dimmed = CaptureWindow(taskbar)).pixels != ready.pixels; }, 20000))
        << "the icon never changed";
    // Drawn in full: a picture caught while the taskbar paints would differ
    // in more than the icon.
    WaitForSteadyPicture(taskbar, &dimmed, 5000);
    // Where the pictures differ is the icon, drawn at the taskbar's size.
    RECT icon = {ready.width, ready.height, 0, 0};
    for (int y = 0; y < ready.height; ++y)
        for (int x = 0; x < ready.width; ++x)
            if (ready.At(x, y) != dimmed.At(x, y))
                icon = {std::min(icon.left, LONG(x)), std::min(icon.top, LONG(y)),
                        std::max(icon.right, LONG(x + 1)), std::max(icon.bottom, LONG(y + 1))};
    const LONG size = SmallIconSizeForDpi(ExpectedDpi()), width = icon.right - icon.left;
    EXPECT_TRUE(width <= size && width > size / 2 && icon.bottom - icon.top <= size) << width;

    // For the README, which takes the icons from where the two differ: the
    // taskbar both ways, and the tip that the pointer over the icon brings up.
    EXPECT_TRUE(SaveScreenshot(ready, PictureName("taskbar-ready", ExpectedDpi()).c_str()));
    EXPECT_TRUE(SaveScreenshot(dimmed, PictureName("taskbar-not-ready", ExpectedDpi()).c_str()));
    RECT bar;
    GetWindowRect(taskbar, &bar);
    SetCursorPos(bar.left + (icon.left + icon.right) / 2, bar.top + (icon.top + icon.bottom) / 2);
    HWND tip = NULL;
    WindowPicture text;
    auto inked = [&] {
        return std::any_of(text.pixels.begin(), text.pixels.end(), [](DWORD p) { return (p & 0xC0C0C0) == 0; });
    };
    EXPECT_TRUE(WaitUntil([&] { return (tip = ShownTip(taskbar)) && (text = CaptureWindow(tip), inked()); }, 5000))
        << "no tip";
    EXPECT_TRUE(SaveScreenshot(text, PictureName("tray-tip", ExpectedDpi()).c_str()));
    SetCursorPos(0, 0);
}

// The tray menu in both languages, for the README. Last: the menu takes the
// foreground, and the taskbar of Wine's desktop is drawn again only some
// time after it has gone.
TEST_F(ScaleTest, TrayMenuInEachLanguage)
{
    for (bool korean : {false, true}) {
        SCOPED_TRACE(korean ? "Korean" : "English");
        StoreLanguage(korean ? L"ko" : NULL);
        LumoProcess lumo;
        ASSERT_TRUE(lumo.Start());
        PostMessageA(lumo.Tray(), WM_TRAY_CALLBACK, 0, WM_RBUTTONDOWN);
        HWND menu = NULL;
        ASSERT_TRUE(WaitUntil(
            [&] { return (menu = FindProcessWindow(lumo.ProcessId(), "#32768")) != NULL && IsWindowVisible(menu); }, 5000));
        WindowPicture shown;
        EXPECT_TRUE(WaitForSteadyPicture(menu, &shown, 10000)) << "the menu never showed its items";
        EXPECT_TRUE(SaveScreenshot(shown, PictureName("tray-menu", ExpectedDpi(), korean).c_str()));
        PostMessageA(lumo.Tray(), WM_CANCELMODE, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(menu); }, 5000));
    }
}

}  // namespace
