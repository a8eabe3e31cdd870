// The tray icon's status: computed from the mode in force, the policy, the
// camera routes and the joystick, and shown only when it changed.
#include "tray/tray_status.h"
#include "actions/joystick.h"
#include "actions/program_in_front.h"
#include "camera/button_source.h"
#include "platform/display_scale.h"
#include "platform/event_log.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/policy.h"
#include "settings/ui_text.h"

// The complete structure, up to and including the balloon icon.
static_assert(sizeof(NOTIFYICONDATAW) == 956, "NOTIFYICONDATAW as of Vista");

static BOOL NotifyShell(DWORD message, NOTIFYICONDATAW* data)
{
    return Shell_NotifyIconW(message, data);
}

TrayNotifyFn TrayNotify = NotifyShell;
CameraView KnownCamera;
bool CameraNotResponding;
bool TrayIconShown = false;

static DWORD SystemTicks()
{
    return GetTickCount();
}

TrayClockFn TrayClock = SystemTicks;
TrayDpiFn TrayIconDpi = TaskbarDpi;

bool TrayIconRetryDue(DWORD missingForMs, DWORD sinceLastTryMs)
{
    const DWORD quickPhaseMs = 60000;
    return sinceLastTryMs >= (missingForMs < quickPhaseMs ? 1000u : 60000u);
}

static HWND StatusWindow;
static HINSTANCE StatusInstance;
static TrayStatus ShownStatus;
static int ShownIconSize;
static bool JoystickProblemReported;
static bool CameraReported;
static char ReportedCamera[sizeof(KnownCamera.name)];

const WCHAR* TipSeparator()
{
    return L" \x2013 ";
}

// Whether a character may begin a cut: not the second half of a surrogate
// pair, a combining mark, or the vowel or final consonant of a Hangul
// syllable written as jamo.
static bool StartsCharacter(WCHAR c)
{
    return !(c >= 0xDC00 && c <= 0xDFFF) && !(c >= 0x0300 && c <= 0x036F) && !(c >= 0x1160 && c <= 0x11FF) &&
           !(c >= 0xD7B0 && c <= 0xD7FF);
}

void AppendWhole(WCHAR* tip, int capacity, const WCHAR* text)
{
    int used = lstrlenW(tip);
    int fits = 0;
    for (int i = 0; text[i]; ++i) {
        if (used + i > capacity - 1)
            break;
        if (StartsCharacter(text[i]))
            fits = i;
        if (!text[i + 1] && used + i + 1 <= capacity - 1)
            fits = i + 1;
    }
    lstrcpynW(tip + used, text, fits + 1);
}

// A text of the table in a language, in a buffer of its own.
struct UiText {
    WCHAR text[256];
    UiText(UINT id, WORD language) { LoadUiTextFor(language, id, text, 256); }
};

// The name gives way, marked as cut, so that what happened stays whole.
static void AppendBlockedKeys(WCHAR* tip, int capacity, const WCHAR* exeName, WORD language)
{
    UiText head(IDS_TIP_KEYS_BLOCKED, language), tail(IDS_TIP_RUNS_AS_ADMIN, language),
        inFront(IDS_TIP_PROGRAM_IN_FRONT, language);
    if (!*exeName)
        exeName = inFront.text;
    AppendWhole(tip, capacity, head.text);
    int room = capacity - lstrlenW(tail.text);
    if (lstrlenW(tip) + lstrlenW(exeName) <= room - 1) {
        AppendWhole(tip, room, exeName);
    } else {
        AppendWhole(tip, room - 3, exeName);
        AppendWhole(tip, room, L"...");
    }
    AppendWhole(tip, capacity, tail.text);
}

void ComposeOwnModesText(WCHAR* text, int size, UINT count, WORD language)
{
    text[0] = 0;
    WCHAR format[64];
    if (count == 0 || size < 4 || !LoadUiTextFor(language, count == 1 ? IDS_TIP_PROGRAM_OWN : IDS_TIP_PROGRAMS_OWN, format, 64))
        return;
    WCHAR counted[80];
    wsprintfW(counted, format, count);
    lstrcpyW(text, L", ");
    lstrcpynW(text + 2, counted, size - 2);
}

void ComposeTrayTip(WCHAR* tip, const WCHAR* modeText, bool setByPolicy, const WCHAR* joystickProblem,
                    const WCHAR* camera, const WCHAR* blockedExe, WORD language, const WCHAR* ownModes)
{
    if (!language)
        language = UiLanguageInForce().language;
    const int capacity = sizeof(ShownStatus.tip) / sizeof(WCHAR);
    const WCHAR* separator = TipSeparator();
    lstrcpyW(tip, L"Lumo2");
    AppendWhole(tip, capacity, separator);
    AppendWhole(tip, capacity, modeText);
    if (setByPolicy)
        AppendWhole(tip, capacity, UiText(IDS_TIP_SET_BY_POLICY, language).text);
    if (joystickProblem && *joystickProblem) {
        AppendWhole(tip, capacity, L" (");
        AppendWhole(tip, capacity, joystickProblem);
        AppendWhole(tip, capacity, L")");
    }
    // Whole or not at all, and never at the cost of the mode: room stays
    // for the separator and at least a cut camera name after it.
    if (ownModes && *ownModes &&
        lstrlenW(tip) + lstrlenW(ownModes) + lstrlenW(separator) + 4 <= capacity - 1)
        AppendWhole(tip, capacity, ownModes);
    AppendWhole(tip, capacity, separator);
    if (blockedExe) {
        AppendBlockedKeys(tip, capacity, blockedExe, language);
        return;
    }
    int used = lstrlenW(tip);
    if (used + lstrlenW(camera) <= capacity - 1) {
        AppendWhole(tip, capacity, camera);
        return;
    }
    // The device name is what gives way, with a mark that it was cut.
    AppendWhole(tip, capacity - 3, camera);
    AppendWhole(tip, capacity, L"...");
}

// The joystick's problem as the tip names it in a language, or 0 when
// there is none.
static int JoystickProblem(WORD language, JoystickStatus status, WCHAR* text, int size)
{
    text[0] = 0;
    if (status == JoystickReady)
        return 0;
    int length = LoadUiTextFor(language, IDS_JOYSTICK_TIP + status, text, size);
    return length ? length : LoadUiTextFor(language, IDS_JOYSTICK_TIP, text, size);
}

// The camera as the Event Log names it; "" when none is found.
static const char* CameraText()
{
    if (KnownCamera.name[0])
        return KnownCamera.name;
    return KnownCamera.route == RouteExtensionUnit ? "camera found by its vendor library" : "";
}

void DescribeTrayStatus(TrayStatus* status)
{
    LONG mode = EffectiveActionMode();
    // Read once: the registry is asked for each reading.
    WORD language = UiLanguageInForce().language;
    WCHAR problem[64] = L"", camera[sizeof(KnownCamera.name)] = L"", modeText[64] = L"";
    if (mode == ModeJoystick)
        JoystickProblem(language, KnownCamera.joystick, problem, 64);
    UINT cameraText = CameraNotResponding ? IDS_TIP_CAMERA_NOT_RESPONDING
                      : KnownCamera.name[0] ? 0
                      : KnownCamera.route == RouteExtensionUnit ? IDS_TIP_VENDOR_CAMERA : IDS_TIP_NO_CAMERA;
    // The device's name as its driver gives it, in the system's code page.
    if (cameraText)
        LoadUiTextFor(language, cameraText, camera, sizeof(KnownCamera.name));
    else
        MultiByteToWideChar(CP_ACP, 0, KnownCamera.name, -1, camera, sizeof(KnownCamera.name));
    bool found = cameraText != IDS_TIP_NO_CAMERA && !CameraNotResponding;
    if (!LoadUiTextFor(language, mode >= ModeSpace && mode <= ModeCustom ? IDS_MODE_BASE + mode : IDS_TIP_NO_MODE,
                       modeText, 64))
        LoadUiTextFor(language, IDS_TIP_NO_MODE, modeText, 64);
    // A lost camera, or one that does not answer, matters more than keys
    // dropped by the last press.
    WCHAR blocked[sizeof(PressBlock.exeName)];
    bool showBlocked = found && PressBlock.blocked;
    if (showBlocked)
        MultiByteToWideChar(CP_ACP, 0, PressBlock.exeName, -1, blocked, sizeof(PressBlock.exeName));
    WCHAR ownModes[64];
    ComposeOwnModesText(ownModes, 64, ProgramsWithOwnModeNow(), language);
    ComposeTrayTip(status->tip, modeText, ActivePolicy.mode != 0, problem, camera, showBlocked ? blocked : NULL,
                   language, ownModes);
    status->ready = found && !problem[0] && !showBlocked;
}

static struct {
    HICON source, dimmed;
} DimmedIcons[8];

HICON DimmedIcon(HICON icon)
{
    for (const auto& entry : DimmedIcons)
        if (entry.source == icon && entry.dimmed)
            return entry.dimmed;
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info))
        return NULL;
    HICON dimmed = NULL;
    BITMAP colour;
    if (info.hbmColor && GetObjectA(info.hbmColor, sizeof(colour), &colour)) {
        BITMAPINFO header = {};
        header.bmiHeader.biSize = sizeof(header.bmiHeader);
        header.bmiHeader.biWidth = colour.bmWidth;
        header.bmiHeader.biHeight = -colour.bmHeight;
        header.bmiHeader.biPlanes = 1;
        header.bmiHeader.biBitCount = 32;
        header.bmiHeader.biCompression = BI_RGB;
        HDC screen = GetDC(NULL);
        void* bits = NULL;
        HBITMAP grey = CreateDIBSection(screen, &header, DIB_RGB_COLORS, &bits, NULL, 0);
        if (grey && GetDIBits(screen, info.hbmColor, 0, colour.bmHeight, bits, &header, DIB_RGB_COLORS)) {
            BYTE* pixel = static_cast<BYTE*>(bits);
            int count = colour.bmWidth * colour.bmHeight;
            bool hasAlpha = false;
            for (int i = 0; i < count; ++i)
                hasAlpha = hasAlpha || pixel[i * 4 + 3];
            // Grey keeps the picture's light and dark, so it stays Lumo2's;
            // half its opacity (or a lighter grey without an alpha channel)
            // makes it read as switched off next to the coloured one.
            for (int i = 0; i < count; ++i, pixel += 4) {
                int light = (pixel[2] * 30 + pixel[1] * 59 + pixel[0] * 11) / 100;
                if (!hasAlpha)
                    light = 96 + light * 5 / 8;
                pixel[0] = pixel[1] = pixel[2] = BYTE(light);
                pixel[3] = BYTE(pixel[3] / 2);
            }
            ICONINFO made = {TRUE, 0, 0, info.hbmMask, grey};
            dimmed = CreateIconIndirect(&made);
        }
        if (grey)
            DeleteObject(grey);
        ReleaseDC(NULL, screen);
    }
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    if (!dimmed)
        return NULL;
    for (auto& entry : DimmedIcons) {
        if (!entry.dimmed) {
            entry.source = icon;
            entry.dimmed = dimmed;
            return dimmed;
        }
    }
    // Full: shown once more and kept by nobody would leak, so not shown.
    DestroyIcon(dimmed);
    return NULL;
}

void FreeDimmedIcons()
{
    for (auto& entry : DimmedIcons) {
        if (entry.dimmed)
            DestroyIcon(entry.dimmed);
        entry.source = entry.dimmed = NULL;
    }
}

static HICON IconForStatus(const TrayStatus& status, UINT dpi)
{
    HICON icon = SmallIconForDpi(StatusInstance, IDI_TRAY, dpi);
    if (status.ready)
        return icon;
    HICON dimmed = DimmedIcon(icon);
    return dimmed ? dimmed : icon;
}

void FillTrayStatus(NOTIFYICONDATAW* data, HWND window, HINSTANCE instance)
{
    StatusWindow = window;
    StatusInstance = instance;
    DescribeTrayStatus(&ShownStatus);
    data->uFlags |= NIF_ICON | NIF_TIP;
    UINT dpi = TrayIconDpi(window);
    ShownIconSize = SmallIconSizeForDpi(dpi);
    data->hIcon = IconForStatus(ShownStatus, dpi);
    lstrcpynW(data->szTip, ShownStatus.tip, sizeof(data->szTip) / sizeof(WCHAR));
}

// The status in force, in the icon and the tip the shell holds.
static void ShowStatusNow()
{
    NOTIFYICONDATAW data;
    ZeroMemory(&data, sizeof(data));
    data.cbSize = sizeof(data);
    data.hWnd = StatusWindow;
    FillTrayStatus(&data, StatusWindow, StatusInstance);
    TrayNotify(NIM_MODIFY, &data);
}

void UpdateTrayStatus()
{
    bool joystickProblem = EffectiveActionMode() == ModeJoystick && KnownCamera.joystick != JoystickReady;
    if (joystickProblem && !JoystickProblemReported) {
        // The Event Log is for IT: English whatever the user reads.
        WCHAR problem[64];
        char english[64];
        JoystickProblem(LANG_ENGLISH, KnownCamera.joystick, problem, 64);
        WideCharToMultiByte(CP_ACP, 0, problem, -1, english, sizeof(english), NULL, NULL);
        ReportProgramEvent(EventNoJoystick, english);
    }
    JoystickProblemReported = joystickProblem;

    if (!TrayIconShown || !StatusWindow || !IsWindow(StatusWindow))
        return;  // the icon, once added, shows the status then in force
    TrayStatus now;
    DescribeTrayStatus(&now);
    if (now.ready == ShownStatus.ready && lstrcmpW(now.tip, ShownStatus.tip) == 0)
        return;
    ShowStatusNow();
}

void FollowTaskbarScale()
{
    if (!TrayIconShown || !StatusWindow || !IsWindow(StatusWindow))
        return;
    if (SmallIconSizeForDpi(TrayIconDpi(StatusWindow)) != ShownIconSize)
        ShowStatusNow();
}

void FollowCameraConnect()
{
    const char* camera = CameraText();
    if (!CameraReported || lstrcmpA(camera, ReportedCamera) != 0) {
        if (camera[0])
            ReportProgramEvent(EventCameraConnected, camera);
        else
            ReportProgramEvent(EventCameraNotFound);
        lstrcpynA(ReportedCamera, camera, sizeof(ReportedCamera));
        CameraReported = true;
    }
    UpdateTrayStatus();
}

static UINT OwnModeCount;

UINT ProgramsWithOwnModeNow()
{
    return OwnModeCount;
}

void NoteProgramsWithOwnMode(UINT count)
{
    OwnModeCount = count;
}

void ComposeBlockedKeysText(WCHAR* text, int size, const char* exeName, BlockedKeysAdvice advice)
{
    // Long enough for any program's usual name, short enough that the
    // advice after it always fits.
    WCHAR name[48] = L"", whole[600], format[256], advise[256];
    MultiByteToWideChar(CP_ACP, 0, exeName, -1, whole, 600);
    if (!whole[0])
        LoadUiText(IDS_BALLOON_PROGRAM_IN_FRONT, whole, 48);
    AppendWhole(name, 41, whole);
    if (lstrlenW(name) < lstrlenW(whole))
        lstrcatW(name, L"...");
    LoadUiText(IDS_BLOCKED_KEYS_BALLOON, format, 256);
    LoadUiText(advice == AdviseStartAsAdministrator ? IDS_ADVICE_START_AS_ADMIN : IDS_ADVICE_ASK_IT, advise, 256);
    wsprintfW(whole, format, name, advise);
    lstrcpynW(text, whole, size);
}

UINT JoystickBalloonText(JoystickStatus status)
{
    return status == JoystickReady ? 0 : IDS_JOYSTICK_BALLOON + status;
}
