// The tray icon's status: computed from the mode in force, the policy, the
// camera routes and the joystick, and shown only when it changed.
#include "app/tray_status.h"
#include "app/elevation.h"
#include "app/program_rules_watch.h"
#include "actions/joystick.h"
#include "camera/button_source.h"
#include "platform/display_scale.h"
#include "platform/event_log.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/policy.h"
#include "settings/ui_text.h"

// The complete ANSI structure, up to and including the balloon icon.
static_assert(sizeof(NOTIFYICONDATAA) == 508, "NOTIFYICONDATAA as of Vista");

static BOOL NotifyShell(DWORD message, NOTIFYICONDATAA* data)
{
    return Shell_NotifyIconA(message, data);
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

const char* TipSeparator()
{
    static char separator[8];
    if (separator[0])
        return separator;
    // The tip is ANSI: the dash exists only in some code pages, and a best
    // fit or a default character would put a stray "?" or "-" between words.
    char dash[4];
    BOOL usedDefault = TRUE;
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"\x2013", 1, dash, sizeof(dash) - 1,
                                     NULL, &usedDefault);
    if (length > 0 && !usedDefault) {
        dash[length] = 0;
        wsprintfA(separator, " %s ", dash);
    } else {
        lstrcpyA(separator, " - ");
    }
    return separator;
}

// Appends as much of text as fits before the tip's end, whole characters
// only (a double-byte name must not lose half a character).
static void AppendWhole(char* tip, int capacity, const char* text)
{
    int used = lstrlenA(tip);
    const char* end = text;
    while (*end) {
        const char* next = CharNextA(end);
        if (used + (next - text) > capacity - 1)
            break;
        end = next;
    }
    lstrcpynA(tip + used, text, int(end - text) + 1);
}

// The name gives way, marked as cut, so that what happened stays whole.
static void AppendBlockedKeys(char* tip, int capacity, const char* exeName)
{
    const char head[] = "keys blocked: ";
    const char tail[] = " runs as administrator";
    if (!*exeName)
        exeName = "the program in front";
    AppendWhole(tip, capacity, head);
    int room = capacity - int(sizeof(tail) - 1);
    if (lstrlenA(tip) + lstrlenA(exeName) <= room - 1) {
        AppendWhole(tip, room, exeName);
    } else {
        AppendWhole(tip, room - 3, exeName);
        AppendWhole(tip, room, "...");
    }
    AppendWhole(tip, capacity, tail);
}

void ComposeOwnModesText(char* text, int size, UINT count)
{
    text[0] = 0;
    if (count == 0 || size < 4)
        return;
    WCHAR format[64], wide[80];
    if (!LoadUiText(count == 1 ? IDS_TIP_PROGRAM_OWN : IDS_TIP_PROGRAMS_OWN, format, 64))
        return;
    wsprintfW(wide, format, count);
    // The tip is ANSI: a text the code page cannot spell is left out rather
    // than shown as question marks.
    BOOL usedDefault = FALSE;
    lstrcpyA(text, ", ");
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, text + 2, size - 2, NULL, &usedDefault);
    if (length <= 0 || usedDefault)
        text[0] = 0;
}

void ComposeTrayTip(char* tip, const char* modeText, bool setByPolicy, const char* joystickProblem,
                    const char* camera, const char* blockedExe, const char* ownModes)
{
    const int capacity = sizeof(ShownStatus.tip);
    const char* separator = TipSeparator();
    lstrcpyA(tip, "Lumo2");
    AppendWhole(tip, capacity, separator);
    AppendWhole(tip, capacity, modeText);
    if (setByPolicy)
        AppendWhole(tip, capacity, ", set by your administrator");
    if (joystickProblem && *joystickProblem) {
        AppendWhole(tip, capacity, " (");
        AppendWhole(tip, capacity, joystickProblem);
        AppendWhole(tip, capacity, ")");
    }
    // Whole or not at all, and never at the cost of the mode: room stays
    // for the separator and at least a cut camera name after it.
    if (ownModes && *ownModes &&
        lstrlenA(tip) + lstrlenA(ownModes) + lstrlenA(separator) + 4 <= capacity - 1)
        AppendWhole(tip, capacity, ownModes);
    AppendWhole(tip, capacity, separator);
    if (blockedExe) {
        AppendBlockedKeys(tip, capacity, blockedExe);
        return;
    }
    int used = lstrlenA(tip);
    if (used + lstrlenA(camera) <= capacity - 1) {
        AppendWhole(tip, capacity, camera);
        return;
    }
    // The device name is what gives way, with a mark that it was cut.
    AppendWhole(tip, capacity - 3, camera);
    AppendWhole(tip, capacity, "...");
}

static const char* JoystickProblem(JoystickStatus status)
{
    switch (status) {
    case JoystickReady:
        return NULL;
    case JoystickNoDriver:
        return "no joystick driver";
    case JoystickVJoyDisabled:
        return "vJoy is disabled";
    case JoystickDeviceMissing:
        return "no vJoy device 1";
    case JoystickDeviceBusy:
        return "vJoy device 1 in use";
    case JoystickNoButtons:
        return "vJoy device 1 has no buttons";
    }
    return "joystick not usable";
}

// The camera as the tip and the Event Log name it; "" when none is found.
static const char* CameraText()
{
    if (KnownCamera.name[0])
        return KnownCamera.name;
    return KnownCamera.route == RouteExtensionUnit ? "camera found by its vendor library" : "";
}

void DescribeTrayStatus(TrayStatus* status)
{
    LONG mode = EffectiveActionMode();
    const char* problem = mode == ModeJoystick ? JoystickProblem(KnownCamera.joystick) : NULL;
    const char* camera = CameraNotResponding ? "camera not responding" : CameraText();
    const char* modeText = ModeText(mode);
    // A lost camera, or one that does not answer, matters more than keys
    // dropped by the last press.
    const char* blocked = camera[0] && !CameraNotResponding && PressBlock.blocked ? PressBlock.exeName : NULL;
    char ownModes[64];
    ComposeOwnModesText(ownModes, sizeof(ownModes), ProgramsWithOwnModeNow());
    ComposeTrayTip(status->tip, modeText ? modeText : "no mode", ActivePolicy.mode != 0, problem,
                   camera[0] ? camera : "no camera found", blocked, ownModes);
    status->ready = camera[0] && !problem && !blocked && !CameraNotResponding;
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

void FillTrayStatus(NOTIFYICONDATAA* data, HWND window, HINSTANCE instance)
{
    StatusWindow = window;
    StatusInstance = instance;
    DescribeTrayStatus(&ShownStatus);
    data->uFlags |= NIF_ICON | NIF_TIP;
    UINT dpi = TrayIconDpi(window);
    ShownIconSize = SmallIconSizeForDpi(dpi);
    data->hIcon = IconForStatus(ShownStatus, dpi);
    lstrcpynA(data->szTip, ShownStatus.tip, sizeof(data->szTip));
}

// The status in force, in the icon and the tip the shell holds.
static void ShowStatusNow()
{
    NOTIFYICONDATAA data;
    ZeroMemory(&data, sizeof(data));
    data.cbSize = sizeof(data);
    data.hWnd = StatusWindow;
    FillTrayStatus(&data, StatusWindow, StatusInstance);
    TrayNotify(NIM_MODIFY, &data);
}

void UpdateTrayStatus()
{
    bool joystickProblem = EffectiveActionMode() == ModeJoystick && KnownCamera.joystick != JoystickReady;
    if (joystickProblem && !JoystickProblemReported)
        ReportProgramEvent(EventNoJoystick, JoystickProblem(KnownCamera.joystick));
    JoystickProblemReported = joystickProblem;

    if (!TrayIconShown || !StatusWindow || !IsWindow(StatusWindow))
        return;  // the icon, once added, shows the status then in force
    TrayStatus now;
    DescribeTrayStatus(&now);
    if (now.ready == ShownStatus.ready && lstrcmpA(now.tip, ShownStatus.tip) == 0)
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
