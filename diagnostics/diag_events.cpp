#include "diagnostics/diag_events.h"
#include "actions/joystick.h"
#include "actions/key_output.h"
#include "actions/program_in_front.h"
#include "camera/button_source.h"
#include "camera/camera_thread.h"
#include "camera/uexproc.h"
#include "lumo2_version.h"
#include "platform/diag_log.h"
#include "platform/display_scale.h"
#include "platform/dll_search.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "settings/key_names.h"
#include "settings/policy.h"
#include "settings/ui_text.h"
#include "tray/tray_status.h"
#include <shlobj.h>

const char* ExitReason = "the tray window was closed";

void DescribeWindows(char* text, DWORD size)
{
    // GetVersionEx answers what the manifest claims; ntdll tells the truth.
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW*);
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    auto getVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    if (getVersion)
        getVersion(&version);
    DWORD revision = 0, length = sizeof(revision);
    char release[32] = "";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        RegQueryValueExA(key, "UBR", NULL, NULL, reinterpret_cast<BYTE*>(&revision), &length);
        length = sizeof(release) - 1;
        RegQueryValueExA(key, "DisplayVersion", NULL, NULL, reinterpret_cast<BYTE*>(release), &length);
        RegCloseKey(key);
    }
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    char line[160];
    wsprintfA(line, "Windows %lu.%lu.%lu.%lu%s%s%s, %s", version.dwMajorVersion, version.dwMinorVersion,
              version.dwBuildNumber, revision, release[0] ? " (" : "", release, release[0] ? ")" : "",
              wow64 ? "32-bit on 64-bit" : "32-bit");
    lstrcpynA(text, line, int(size));
}

const char* IntegrityText(DWORD integrity)
{
    if (integrity == IntegrityDenied)
        return "higher (may not be asked)";
    if (integrity >= SECURITY_MANDATORY_SYSTEM_RID)
        return "system";
    if (integrity >= SECURITY_MANDATORY_HIGH_RID)
        return "high (administrator)";
    if (integrity >= SECURITY_MANDATORY_MEDIUM_RID)
        return "medium";
    if (integrity >= SECURITY_MANDATORY_LOW_RID)
        return "low";
    return "unknown";
}

void NameProgramInFront(const ForegroundTarget& target, char* exeName, DWORD size)
{
    const char* name = target.exeName[0] ? target.exeName : target.processId ? "unknown" : "none";
    lstrcpynA(exeName, name, int(size));
}

const char* ModeName(LONG mode, char* buffer)
{
    if (const char* text = ModeText(mode))
        return text;
    wsprintfA(buffer, "%ld (does nothing)", mode);
    return buffer;
}

void LogStart(DWORD pollInterval)
{
    char windows[160];
    WCHAR folder[MAX_PATH];
    DescribeWindows(windows, sizeof(windows));
    const char* install = InstallKind(folder, MAX_PATH);
    LogLine("start: Lumo2 %s, %s, integrity %s, display scale %u %%, installed %s, poll every %lu ms",
            LUMO2_VERSION_STRING, windows, IntegrityText(LookUpOwnIntegrity()), ScreenDpi() * 100 / BaseDpi, install,
            pollInterval);
    LogModeInForce(0, "at start");
}

void LogModeInForce(LONG before, const char* cause)
{
    LONG mode = EffectiveActionMode();
    if (before != 0 && mode == before)
        return;
    char number[32];
    LogLine("mode: %s (%s)%s", ModeName(mode, number), cause,
            ActivePolicy.mode ? ", set by your administrator" : "");
}

// The log and the report name each problem as the tip does in English: one
// table of these texts per language, in the resources. Read once, whichever
// thread asks first (the window's or the report's), and never written again.
// The last row is for a status without a text of its own.
static char JoystickTexts[JoystickNoButtons + 2][64];

static BOOL CALLBACK ReadJoystickTexts(INIT_ONCE*, void*, void**)
{
    lstrcpyA(JoystickTexts[JoystickReady], "ready");
    for (int status = JoystickNoDriver; status <= JoystickNoButtons + 1; ++status) {
        WCHAR wide[64];
        if (!LoadUiTextIn(LANG_ENGLISH, IDS_JOYSTICK_TIP + status, wide, 64))
            LoadUiTextIn(LANG_ENGLISH, IDS_JOYSTICK_TIP, wide, 64);
        WideCharToMultiByte(CP_ACP, 0, wide, -1, JoystickTexts[status], 64, NULL, NULL);
    }
    return TRUE;
}

const char* JoystickStatusText(JoystickStatus status)
{
    static INIT_ONCE read = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&read, ReadJoystickTexts, NULL, NULL);
    return JoystickTexts[status >= JoystickReady && status <= JoystickNoButtons ? status : JoystickNoButtons + 1];
}

void LogJoystickStatus()
{
    static int logged = -1;
    JoystickStatus status = KnownCamera.joystick;
    if (int(status) == logged)
        return;
    logged = status;
    LogLine("joystick: %s", JoystickStatusText(status));
}

static void LogCameraRoute()
{
    // -1 before the first connect, so the start always says what it found.
    static int lastRoute = -1;
    int route = KnownCamera.route == RouteExtensionUnit ? 1 : KnownCamera.name[0] ? 2 : 0;
    if (route == lastRoute)
        return;
    if (route == 1) {
        LogLineW(L"camera: connected through the extension unit, library %s", KnownCamera.library);
    } else if (route == 2) {
        LogLine("camera: connected through the capture driver, device %s", KnownCamera.name);
    } else {
        WCHAR path[MAX_PATH];
        bool found = LocateExtensionUnitLibrary(path, MAX_PATH);
        LogLineW(L"camera: %S; extension-unit library %s", lastRoute > 0 ? "lost" : "not found",
                 found ? path : L"not found");
    }
    lastRoute = route;
}

void FollowCameraDescription(const CameraView& view)
{
    // The joystick's state comes with the follow of the mode, which the
    // camera thread answers after its connect: a connect's own copy would
    // show a joystick not opened yet as missing.
    JoystickStatus joystick = KnownCamera.joystick;
    KnownCamera = view;
    KnownCamera.joystick = joystick;
    LogCameraRoute();
    FollowCameraConnect();
}

static void AddCombo(char* text, KeyCombo combo)
{
    if (text[0])
        strcat_s(text, 100, ", ");
    FormatKeyCombo(text, combo);
}

// Key names as the settings window shows them.
static void DescribeSentKeys(const KeySendRecord& keys, char* text)
{
    text[0] = 0;
    for (UINT i = 0; i < keys.comboCount; ++i)
        AddCombo(text, keys.combos[i]);
}

// Which rule gave the press its mode, " by the user's rule \"imaging.exe\""
// and the like; "" when the default did. The rule's name may be a path: the
// log's own redaction takes the profile out of it.
static void DescribeRule(const PressDecision& decision, WCHAR* text, int size)
{
    const char* level = decision.source == ModeFromMachineRule      ? "computer policy's"
                        : decision.source == ModeFromUserPolicyRule ? "user policy's"
                        : decision.source == ModeFromUserRule       ? "user's"
                                                                    : NULL;
    text[0] = 0;
    if (!level)
        return;
    WCHAR whole[MAX_PATH + 64];
    wsprintfW(whole, L" by the %S rule \"%s\"", level, decision.ruleName);
    lstrcpynW(text, whole, size);
}

void LogPress(const PressRecord& press)
{
    LONG mode = press.mode;
    const KeySendRecord& record = press.keys;
    char number[32], sent[100], exeName[MAX_PATH], result[64];
    WCHAR rule[MAX_PATH + 64], text[LogTextMax];
    DescribeRule(press.decision, rule, MAX_PATH + 64);
    // Looked up once per press, on the camera thread before the keys, and
    // completed right after them.
    NameProgramInFront(press.target, exeName, sizeof(exeName));
    if (mode == ModeJoystick) {
        // The status after the press: a refused click or a device still out
        // of reach sent nothing, and that is what the line is for.
        JoystickStatus status = press.joystick;
        if (status == JoystickReady)
            wsprintfW(text, L"press: mode %S%s, sent joystick button 1; in front %S", ModeName(mode, number), rule,
                      exeName);
        else
            wsprintfW(text, L"press: mode %S%s, sent nothing: %S; in front %S", ModeName(mode, number), rule,
                      JoystickStatusText(status), exeName);
        LogWideLine(text);
        LogJoystickStatus();
        return;
    }
    if (!ModeSendsKeys(mode)) {
        wsprintfW(text, L"press: mode %S%s, sent nothing; in front %S", ModeName(mode, number), rule, exeName);
        LogWideLine(text);
        return;
    }
    DescribeSentKeys(record, sent);
    DWORD integrity = press.target.integrity;
    bool higher = integrity == IntegrityDenied || integrity > LookUpOwnIntegrity();
    result[0] = 0;
    if (record.batches == 0)
        lstrcpyA(result, "nothing");
    else
        wsprintfA(result, ", SendInput took %u of %u", record.sent, record.events);
    if (record.batches != 0 && record.sent == 0)
        wsprintfA(result + lstrlenA(result), ", error %lu", record.error);
    // The key names are in code page 949 (one Korean name, the rest ASCII);
    // %S takes the other texts from the system's code page.
    WCHAR keys[100];
    MultiByteToWideChar(949, 0, sent, -1, keys, 100);
    wsprintfW(text, L"press: mode %S%s, sent %s%S; in front %S%S", ModeName(mode, number), rule, keys, result,
              exeName, higher ? ", higher level than Lumo2: keys dropped" : "");
    LogWideLine(text);
}

void LogExit(int exitCode)
{
    // Once: the end of a session writes it before Windows may end the
    // process, and the end of the run would write it again.
    static bool written;
    if (!written)
        LogLine("exit %d: %s", exitCode, ExitReason);
    written = true;
}
