// The Custom Settings window, built in code, and the capture of key
// combinations from the key fields.
#include "windows/settings_window.h"
#include "platform/display_scale.h"
#include "platform/window_paint.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "settings/key_names.h"
#include "settings/ui_text.h"
#include <commctrl.h>
#include <imm.h>
#include <limits.h>
#include <string.h>

HWND SequentialRadio, SendAllRadio, TimeLabel, TimeField;
HWND KeyField1, KeyField2, KeyField3;
static HWND ClearButton1, ClearButton2, ClearButton3, SaveButton, CancelButton;
static HWND KeyLabel1, KeyLabel2, KeyLabel3;
static HFONT SettingsFont;
// The time label's text, 0 while it has none: a stored send mode other
// than the two leaves it as it was.
static UINT TimeLabelText;
// The DPI the controls were last laid out for: the window's monitor's, as
// WM_DPICHANGED last said.
static UINT LayoutDpi;

const char SettingsClassName[] = "Custom";
static const WCHAR SettingsClassNameW[] = L"Custom";

LONG ParseTimeText(const char* text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > INT_MAX + 1LL)
            value = INT_MAX + 1LL;  // stays above either limit from here on
    }
    if (negative)
        return value > INT_MAX ? INT_MIN : static_cast<LONG>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<LONG>(value);
}

// A control's text comes from the table by its ID (0: none). Where the
// text of the language in force is wider than the control, the control
// grows, up to room pixels (at 96 DPI), short of the next control.
struct ChildControl {
    HWND* handle;
    const WCHAR* className;
    UINT textId;
    DWORD style;
    int x, y, width, height;
    int id;
    int room;
};

static const DWORD ChildStyle = WS_CHILD | WS_VISIBLE;
static const DWORD RadioStyle = ChildStyle | BS_AUTORADIOBUTTON;
static const DWORD KeyFieldStyle = ChildStyle | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL;

static const ChildControl Controls[] = {
    {&SequentialRadio, L"button", IDS_SEQUENTIAL, RadioStyle, 5, 10, 90, 20, IDC_SEQUENTIAL, 140},
    {&SendAllRadio, L"button", IDS_SEND_ALL, RadioStyle, 150, 10, 90, 20, IDC_SEND_ALL, 140},
    {&TimeLabel, L"static", 0, ChildStyle, 5, 35, 120, 20, -1, 140},
    {&TimeField, L"edit", 0, ChildStyle | WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL | ES_RIGHT,
     150, 35, 120, 20, 0, 120},
    {&KeyLabel1, L"static", IDS_KEY1, ChildStyle, 5, 68, 35, 20, -1, 43},
    {&KeyField1, L"edit", 0, KeyFieldStyle, 50, 65, 165, 20, 0, 165},
    {&ClearButton1, L"button", IDS_CLEAR, ChildStyle, 225, 65, 60, 20, IDC_CLEAR_KEY1, 65},
    {&KeyLabel2, L"static", IDS_KEY2, ChildStyle, 5, 107, 35, 20, -1, 43},
    {&KeyField2, L"edit", 0, KeyFieldStyle, 50, 105, 165, 20, 0, 165},
    {&ClearButton2, L"button", IDS_CLEAR, ChildStyle, 225, 105, 60, 20, IDC_CLEAR_KEY2, 65},
    {&KeyLabel3, L"static", IDS_KEY3, ChildStyle, 5, 149, 35, 20, -1, 43},
    {&KeyField3, L"edit", 0, KeyFieldStyle, 50, 145, 165, 20, 0, 165},
    {&ClearButton3, L"button", IDS_CLEAR, ChildStyle, 225, 148, 60, 20, IDC_CLEAR_KEY3, 65},
    {&SaveButton, L"button", IDS_SAVE, ChildStyle, 25, 180, 80, 30, IDC_SAVE, 100},
    {&CancelButton, L"button", IDS_CANCEL, ChildStyle, 185, 180, 80, 30, IDC_CANCEL, 105},
};

void SetUiText(HWND window, UINT textId, WORD language)
{
    WCHAR text[256];
    if (language)
        LoadUiTextFor(language, textId, text, 256);
    else
        LoadUiText(textId, text, 256);
    SetWindowTextW(window, text);
}

// The window's outer size at 96 DPI; the controls' figures above and the
// font's height are at 96 DPI too.
static const int SettingsWidth = 300;
static const int SettingsHeight = 250;
static const int SettingsFontHeight = 12;
static const DWORD SettingsStyle = WS_CAPTION;

static int CALLBACK NoteFace(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FaceInstalledOnSystem(const char* face)
{
    LOGFONTA query = {};
    query.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(query.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    HDC screen = GetDC(NULL);
    EnumFontFamiliesExA(screen, &query, NoteFace, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(NULL, screen);
    return found;
}

FaceInstalledFn FaceInstalled = FaceInstalledOnSystem;

HFONT CreateSettingsFont(UINT dpi, bool showsPaths)
{
    int height = ScaleToDpi(SettingsFontHeight, dpi);
    bool korean = UiLanguageInForce().language == LANG_KOREAN;
    // Where GULIM is missing (a Windows that is not Korean) the font mapper
    // would pick a face of its own; the message font is the one the user
    // reads in every dialog.
    // Korean on such a Windows takes Malgun Gothic, which every Windows
    // since 8 has, whatever its language.
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof(metrics);
    // Paths in English take the face of the other English windows: GULIM
    // draws their backslash as the won sign.
    bool gulim = !(showsPaths && !korean) && FaceInstalled("GULIM");
    if (!gulim && korean && FaceInstalled("Malgun Gothic"))
        return CreateFontA(height, 0, 0, 0, FW_DONTCARE, 0, 0, 0, HANGUL_CHARSET, OUT_STROKE_PRECIS,
                           CLIP_STROKE_PRECIS, DRAFT_QUALITY, VARIABLE_PITCH | FF_SWISS, "Malgun Gothic");
    if (!gulim && SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        metrics.lfMessageFont.lfHeight = height;
        return CreateFontIndirectA(&metrics.lfMessageFont);
    }
    return CreateFontA(height, 0, 0, 0, FW_DONTCARE, 0, 0, 0, HANGUL_CHARSET, OUT_STROKE_PRECIS,
                       CLIP_STROKE_PRECIS, DRAFT_QUALITY, VARIABLE_PITCH | FF_ROMAN, "GULIM");
}

int TextWidth(HWND control, HFONT font)
{
    WCHAR text[256];
    int length = GetWindowTextW(control, text, 256);
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent = {0, 0};
    GetTextExtentPoint32W(dc, text, length, &extent);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return extent.cx;
}

// The width a control needs for its text in the font: a radio button's
// circle and the gap after it, a push button's edges.
static int WidthForText(const ChildControl& c, HFONT font, UINT dpi)
{
    int text = TextWidth(*c.handle, font);
    if (c.style & BS_AUTORADIOBUTTON && lstrcmpW(c.className, L"button") == 0)
        return text + ScaleToDpi(13 + 4 + 2, dpi);
    if (lstrcmpW(c.className, L"button") == 0)
        return text + ScaleToDpi(3 * 2 + 4, dpi);
    return text + 1;
}

// Every control's rectangle and the font at the DPI, each wide enough for
// its text where its room allows; the font replaced is deleted once no
// control uses it.
static void LayOutControls(UINT dpi, BOOL redraw)
{
    LayoutDpi = dpi;
    HFONT font = CreateSettingsFont(dpi);
    for (const ChildControl& c : Controls) {
        int width = ScaleToDpi(c.width, dpi);
        if (lstrcmpW(c.className, L"edit") != 0) {
            int needed = WidthForText(c, font, dpi);
            if (needed > width)
                width = needed < ScaleToDpi(c.room, dpi) ? needed : ScaleToDpi(c.room, dpi);
        }
        SetWindowPos(*c.handle, NULL, ScaleToDpi(c.x, dpi), ScaleToDpi(c.y, dpi), width, ScaleToDpi(c.height, dpi),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageA(*c.handle, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
    }
    if (SettingsFont)
        DeleteObject(SettingsFont);
    SettingsFont = font;
}

// The texts of the language in force, read at every opening so that a
// change of language shows without a restart, and the controls laid out
// for them.
static void ApplySettingsTexts(HWND window, BOOL redraw)
{
    // Read once for all the texts: each reading asks the registry.
    WORD language = UiLanguageInForce().language;
    SetUiText(window, IDS_SETTINGS_CAPTION, language);
    for (const ChildControl& c : Controls)
        if (c.textId)
            SetUiText(*c.handle, c.textId, language);
    if (TimeLabelText)
        SetUiText(TimeLabel, TimeLabelText, language);
    WCHAR hint[128];
    LoadUiTextFor(language, IDS_KEY_HINT, hint, 128);
    HWND fields[] = {KeyField1, KeyField2, KeyField3};
    for (HWND field : fields)
        SendMessageW(field, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(hint));
    LayOutControls(LayoutDpi ? LayoutDpi : WindowDpi(window), redraw);
}

static void CreateControls(HWND window)
{
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    LayoutDpi = 0;
    for (const ChildControl& c : Controls) {
        *c.handle = CreateWindowExW(0, c.className, NULL, c.style, 0, 0, 0, 0, window,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, NULL);
    }
    ApplySettingsTexts(window, FALSE);
    DetachInputMethod();
}

// The window has moved to a monitor of another scale: the size Windows
// suggests for it there, and every control and the font at that scale.
static void OnDpiChanged(HWND window, UINT dpi, const RECT* suggested)
{
    // Only Windows sends this; a stray one without a scale or a rectangle
    // changes nothing.
    if (dpi == 0 || !suggested)
        return;
    SetWindowPos(window, NULL, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayOutControls(dpi, TRUE);
}

SIZE SettingsWindowSize(UINT dpi)
{
    // 300 x 250 is the whole window at 96 DPI.
    return WindowSizeForDpi(SettingsStyle, SettingsWidth, SettingsHeight, dpi);
}

bool RegisterSettingsClass(HINSTANCE instance)
{
    WNDCLASSEXW settingsClass = {};
    settingsClass.cbSize = sizeof(settingsClass);
    settingsClass.style = CS_HREDRAW | CS_VREDRAW;
    settingsClass.lpfnWndProc = SettingsWindowProc;
    settingsClass.hInstance = instance;
    settingsClass.hIcon = LoadIconW(NULL, MAKEINTRESOURCEW(32512) /* IDI_APPLICATION */);
    settingsClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    settingsClass.hCursor = LoadCursorW(NULL, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
    settingsClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    settingsClass.lpszClassName = SettingsClassNameW;
    return RegisterClassExW(&settingsClass) != 0;
}

HWND CreateSettingsWindow(HINSTANCE instance)
{
    UINT dpi = ScreenDpi();
    RECT rect = CentredOnScreen(SettingsWindowSize(dpi));
    // The caption comes with the texts, as the window is filled.
    HWND window = CreateWindowExW(0, SettingsClassNameW, L"", SettingsStyle, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, NULL, NULL, instance, NULL);
    // Its monitor's scale differs from the screen's when the user changed
    // the scale since logging on; the controls already follow the monitor.
    if (window && WindowDpi(window) != dpi) {
        rect = CentredOnScreen(SettingsWindowSize(WindowDpi(window)));
        SetWindowPos(window, NULL, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return window;
}

static UINT ImeVirtualKeyOfSystem(HWND field)
{
    return ImmGetVirtualKey(field);
}

ImeVirtualKeyFn LookUpImeVirtualKey = ImeVirtualKeyOfSystem;

void DetachInputMethod()
{
    // A Korean IME in Hangul mode turns letters into VK_PROCESSKEY; with no
    // input context the fields get the keys themselves.
    HWND fields[] = {KeyField1, KeyField2, KeyField3};
    for (HWND field : fields)
        ImmAssociateContextEx(field, NULL, 0);
}

static KeyCombo* ComboOfField(HWND field)
{
    if (field == KeyField1)
        return &CustomSettings.keys[0];
    if (field == KeyField2)
        return &CustomSettings.keys[1];
    if (field == KeyField3)
        return &CustomSettings.keys[2];
    return NULL;
}

static void ClearKey(HWND field)
{
    SetWindowTextA(field, "");
    KeyCombo* combo = ComboOfField(field);
    LockSettings();
    *combo = KeyCombo();
    UnlockSettings();
}

// Save: the time from its field, then the record to the registry.
static void SaveSettings(HWND window)
{
    char text[100];
    memset(text, 0, sizeof(text));
    GetWindowTextA(TimeField, text, sizeof(text));
    LONG time = ParseTimeText(text);
    LockSettings();
    CustomSettings.time = time;
    UnlockSettings();
    bool saved = SaveCustomKeySettings();
    if (CustomSettingsSaved)
        CustomSettingsSaved(saved);
    if (!saved) {
        // Closing would look like success, and the combinations would be gone
        // at the next start; the window keeps the user's values for another
        // try or "Cancel".
        ShowUiMessage(window, IDS_SAVE_FAILED, MB_OK | MB_ICONWARNING);
        return;
    }
    ShowWindow(window, SW_HIDE);
}

SettingsSavedFn CustomSettingsSaved;

static void SelectSendMode(LONG mode)
{
    TimeLabelText = mode == Sequential ? IDS_INITIAL_TIME : IDS_INTERVAL_TIME;
    SetUiText(TimeLabel, TimeLabelText);
    // The other text may be wider in this language.
    LayOutControls(LayoutDpi, TRUE);
    LockSettings();
    CustomSettings.mode = mode;
    UnlockSettings();
}

static LRESULT OnSettingsCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDC_CLEAR_KEY1: ClearKey(KeyField1); return 0;
    case IDC_CLEAR_KEY2: ClearKey(KeyField2); return 0;
    case IDC_CLEAR_KEY3: ClearKey(KeyField3); return 0;
    case IDC_SAVE: SaveSettings(window); return 0;
    case IDC_CANCEL: ShowWindow(window, SW_HIDE); return 0;
    case IDC_SEQUENTIAL: SelectSendMode(Sequential); return 0;
    case IDC_SEND_ALL: SelectSendMode(SendAll); return 0;
    }
    return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
}

LRESULT CALLBACK SettingsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateControls(window);
        return 0;
    case WM_PAINT:
        PaintNothing(window);
        return 0;
    case WM_COMMAND:
        return OnSettingsCommand(window, wParam, lParam);
    case WM_DPICHANGED:
        OnDpiChanged(window, HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_CLOSE:
    case WM_DESTROY:
        // The window lives as long as the program; closing only hides it.
        ShowWindow(window, SW_HIDE);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void ShowCustomKeySettings()
{
    LoadCustomKeySettings();
    HWND window = GetParent(SequentialRadio);
    if (CustomSettings.mode == Sequential) {
        CheckRadioButton(window, IDC_SEQUENTIAL, IDC_SEND_ALL, IDC_SEQUENTIAL);
        TimeLabelText = IDS_INITIAL_TIME;
    } else if (CustomSettings.mode == SendAll) {
        CheckRadioButton(window, IDC_SEQUENTIAL, IDC_SEND_ALL, IDC_SEND_ALL);
        TimeLabelText = IDS_INTERVAL_TIME;
    }
    ApplySettingsTexts(window, TRUE);
    char number[1024];
    wsprintfA(number, "%d", CustomSettings.time);
    SetWindowTextA(TimeField, number);

    HWND fields[3] = {KeyField1, KeyField2, KeyField3};
    for (int i = 0; i < 3; ++i) {
        char text[100];
        memset(text, 0, sizeof(text));
        FormatKeyCombo(text, CustomSettings.keys[i]);
        SetWindowTextA(fields[i], text);
    }
}

void CaptureKeyCombo(HWND field, DWORD key)
{
    // A key the IME still took is captured as the key it was; stored as
    // VK_PROCESSKEY it would send nothing.
    if (key == VK_PROCESSKEY) {
        key = LookUpImeVirtualKey(field);
        if (key == 0 || key == VK_PROCESSKEY)
            return;
    }
    char text[256];
    memset(text, 0, sizeof(text));
    GetWindowTextA(field, text, sizeof(text));
    // A field showing a combination keeps it until "Clear"; this also makes
    // the repeats of a held key do nothing.
    if (text[0] != '\0')
        return;

    char combo[256];
    memset(combo, 0, sizeof(combo));
    KeyCombo captured = KeyCombo();
    if (GetKeyState(VK_MENU) & 0xFF00) {
        strcat_s(combo, sizeof(combo), "ALT + ");
        captured.alt = 1;
    }
    if (GetKeyState(VK_CONTROL) & 0xFF00) {
        strcat_s(combo, sizeof(combo), "CTRL + ");
        captured.control = 1;
    }
    if (GetKeyState(VK_SHIFT) & 0xFF00) {
        strcat_s(combo, sizeof(combo), "SHIFT + ");
        captured.shift = 1;
    }
    // A modifier alone is not a combination; wait for the key it modifies.
    if (key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_HANJA)
        return;
    strcat_s(combo, sizeof(combo), KeyName(key));
    captured.k = key;
    SetWindowTextA(field, combo);
    if (KeyCombo* target = ComboOfField(field)) {
        LockSettings();
        *target = captured;
        UnlockSettings();
    }
}

HWND SettingsWindowHandle;

void OpenSettingsWindow(HINSTANCE instance)
{
    // Made on its first opening, not at start-up: the window, its fifteen
    // controls (which pull in the common controls library) and its font
    // (chosen after a walk of the installed faces) cost a start close to a
    // third of its CPU time, for a window that most runs never open.
    if (!SettingsWindowHandle) {
        SettingsWindowHandle = CreateSettingsWindow(instance);
        if (!SettingsWindowHandle) {
            ShowUiMessage(NULL, IDS_CREATE_ERROR, MB_OK | MB_ICONERROR);
            return;
        }
    }
    ShowCustomKeySettings();
    ShowWindow(SettingsWindowHandle, SW_SHOW);
}
