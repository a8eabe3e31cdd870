// The report is collected in UTF-16, so that texts in the system code page,
// the Korean key name and the UTF-8 log meet in one form, and the profile
// folder is found in any case, before it is written as UTF-8.
#include "diagnostics/report.h"
#include "actions/joystick.h"
#include "actions/program_in_front.h"
#include "actions/vjoy.h"
#include "camera/button_source.h"
#include "camera/camera_host.h"
#include "camera/camera_thread.h"
#include "camera/device_lookup.h"
#include "camera/uexproc.h"
#include "diagnostics/diag_events.h"
#include "lumo2_version.h"
#include "platform/diag_log.h"
#include "platform/display_scale.h"
#include "platform/dll_search.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "settings/key_names.h"
#include "settings/policy.h"
#include "settings/program_rules.h"
#include "settings/ui_text.h"
#include "tray/tray_status.h"
#include <shlobj.h>
#include <softpub.h>
#include <stdarg.h>
#include <string.h>
#include <wincrypt.h>
#include <wintrust.h>

// 200 log lines of at most about 1,050 characters, three levels of 256
// rules whose names may be full paths, and the rest.
const int ReportCapacity = 576 * 1024;
const int LogTailLines = 200;
static WCHAR* Report;
static int ReportLength;
// Set while the running copy writes it from its menu: what that copy holds
// is then reported too.
// The running copy's own facts for a report from the menu. The window
// thread writes them, and InRunningCopy, before it starts the report's
// thread and touches none of them again until that thread has posted its
// answer; the report's thread only reads them.
static bool InRunningCopy;
static struct {
    CameraView camera;
    LONG mode;
    bool setByPolicy;
    DWORD pollInterval;
    bool cameraNotResponding;
} RunningCopy;
// The window thread's: a report under way is not started again.
static bool ReportUnderWay;

static void AddWide(const WCHAR* text, int length)
{
    if (length < 0)
        length = lstrlenW(text);
    if (length > ReportCapacity - 1 - ReportLength)
        length = ReportCapacity - 1 - ReportLength;
    memcpy(Report + ReportLength, text, length * sizeof(WCHAR));
    ReportLength += length;
    Report[ReportLength] = 0;
}

static void AddInCodePage(UINT codePage, const char* text)
{
    WCHAR wide[LogTextMax + 1];
    if (MultiByteToWideChar(codePage, 0, text, -1, wide, LogTextMax + 1) > 0)
        AddWide(wide, -1);
}

static void Add(const char* format, ...)
{
    char text[LogTextMax + 1];
    va_list args;
    va_start(args, format);
    wvsprintfA(text, format, args);
    va_end(args);
    AddInCodePage(CP_ACP, text);
}

// For lines that carry a path: the system's code page may not spell it.
static void AddW(const WCHAR* format, ...)
{
    WCHAR text[LogTextMax + 1];
    va_list args;
    va_start(args, format);
    wvsprintfW(text, format, args);
    va_end(args);
    AddWide(text, -1);
}

template <typename Fn>
static Fn Bind(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : NULL;
}

// The signer's name from the file's embedded signature, or false.
static bool ReadSigner(const WCHAR* file, char* signer, DWORD size)
{
    HMODULE crypt = LoadSystemLibrary("crypt32.dll");
    auto query = Bind<decltype(&CryptQueryObject)>(crypt, "CryptQueryObject");
    auto getParam = Bind<decltype(&CryptMsgGetParam)>(crypt, "CryptMsgGetParam");
    auto findCert = Bind<decltype(&CertFindCertificateInStore)>(crypt, "CertFindCertificateInStore");
    auto getName = Bind<decltype(&CertGetNameStringA)>(crypt, "CertGetNameStringA");
    auto freeCert = Bind<decltype(&CertFreeCertificateContext)>(crypt, "CertFreeCertificateContext");
    auto closeStore = Bind<decltype(&CertCloseStore)>(crypt, "CertCloseStore");
    auto closeMsg = Bind<decltype(&CryptMsgClose)>(crypt, "CryptMsgClose");
    bool found = false;
    HCERTSTORE store = NULL;
    HCRYPTMSG message = NULL;
    DWORD encoding, content, format, infoSize = 0;
    if (query && getParam && findCert && getName && freeCert && closeStore && closeMsg &&
        query(CERT_QUERY_OBJECT_FILE, file, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
              CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &content, &format, &store, &message, NULL) &&
        getParam(message, CMSG_SIGNER_INFO_PARAM, 0, NULL, &infoSize)) {
        auto* info = static_cast<CMSG_SIGNER_INFO*>(HeapAlloc(GetProcessHeap(), 0, infoSize));
        if (info && getParam(message, CMSG_SIGNER_INFO_PARAM, 0, info, &infoSize)) {
            CERT_INFO wanted = {};
            wanted.Issuer = info->Issuer;
            wanted.SerialNumber = info->SerialNumber;
            PCCERT_CONTEXT cert = findCert(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                           CERT_FIND_SUBJECT_CERT, &wanted, NULL);
            if (cert) {
                found = getName(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, NULL, signer, size) > 1;
                freeCert(cert);
            }
        }
        if (info)
            HeapFree(GetProcessHeap(), 0, info);
    }
    if (store)
        closeStore(store, 0);
    if (message)
        closeMsg(message);
    if (crypt)
        FreeLibrary(crypt);
    return found;
}

// WinVerifyTrust's answer for the file, offline: no revocation check and no
// download, so a clinic PC without internet answers at once.
static LONG VerifyTrust(const WCHAR* file)
{
    HMODULE wintrust = LoadSystemLibrary("wintrust.dll");
    auto verify = Bind<decltype(&WinVerifyTrust)>(wintrust, "WinVerifyTrust");
    if (!verify) {
        if (wintrust)
            FreeLibrary(wintrust);
        return -1;
    }
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = file;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG result = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    FreeLibrary(wintrust);
    return result;
}

// The language the user sees and what decided it; the report itself stays
// English.
static void AddLanguage()
{
    static const char* const sources[] = {"computer policy", "user policy", "user's Language value",
                                          "Windows display language", "default"};
    LanguageChoice choice = UiLanguageInForce();
    char name[64] = "";
    GetLocaleInfoA(MAKELCID(MAKELANGID(choice.language, SUBLANG_DEFAULT), SORT_DEFAULT), LOCALE_SENGLANGUAGE, name,
                   sizeof(name));
    Add("Language: %s (0x%02X), by the %s\r\n", name, choice.language, sources[choice.source]);
}

static ReportWriter LookUpReportWriter();

static void AddProgram()
{
    char windows[160];
    WCHAR folder[MAX_PATH], exe[MAX_PATH] = L"";
    SYSTEMTIME now;
    GetLocalTime(&now);
    Add("Lumo2 support report, written %04u-%02u-%02u %02u:%02u:%02u local time%s\r\n", now.wYear, now.wMonth,
        now.wDay, now.wHour, now.wMinute, now.wSecond, InRunningCopy ? " by the running copy" : "");
    DWORD sessionId = 0;
    char session[16] = "unknown";
    if (ProcessIdToSessionId(GetCurrentProcessId(), &sessionId))
        wsprintfA(session, "%lu", sessionId);
    Add("Written by: %s, session %s\r\n", ReportWriterText(LookUpReportWriter()), session);
    DescribeWindows(windows, sizeof(windows));
    const char* install = InstallKind(folder, MAX_PATH);
    AddW(L"\r\n[Program]\r\nVersion: %S\r\n%S\r\nInstalled: %S, folder %s\r\nDisplay scale: %u %%\r\n",
         LUMO2_VERSION_STRING, windows, install, folder, ScreenDpi() * 100 / BaseDpi);
    AddLanguage();
    DWORD length = GetModuleFileNameW(NULL, exe, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        exe[0] = 0;
    LONG trust = VerifyTrust(exe);
    char signer[256];
    if (trust == LONG(TRUST_E_NOSIGNATURE))
        Add("Signature: Lumo2.exe is not signed\r\n");
    else if (!ReadSigner(exe, signer, sizeof(signer)))
        Add("Signature: unreadable (0x%08lX)\r\n", trust);
    else if (trust == 0)
        Add("Signature: signed by \"%s\", trusted\r\n", signer);
    else
        Add("Signature: signed by \"%s\", not trusted here (0x%08lX)\r\n", signer, trust);
}

static void AddValues(HKEY root, const char* rootName, const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        Add("%s\\%s: none\r\n", rootName, path);
        return;
    }
    Add("%s\\%s:\r\n", rootName, path);
    for (DWORD i = 0; i < 64; ++i) {
        char name[256] = "";
        BYTE data[520];
        DWORD nameSize = sizeof(name), dataSize = sizeof(data) - 2, type = 0;
        LONG result = RegEnumValueA(key, i, name, &nameSize, NULL, &type, data, &dataSize);
        // A hand-made name too long for the buffer leaves it undefined.
        name[sizeof(name) - 1] = 0;
        if (result == ERROR_MORE_DATA) {
            Add("  %s: type %lu, too long to show\r\n", name, type);
            continue;
        }
        if (result != ERROR_SUCCESS)
            break;
        data[dataSize] = data[dataSize + 1] = 0;
        if (type == REG_DWORD && dataSize == 4) {
            Add("  %s = %ld\r\n", name, *reinterpret_cast<LONG*>(data));
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            Add("  %s = \"%s\"\r\n", name, reinterpret_cast<char*>(data));
        } else {
            char hex[3 * 16 + 1] = "";
            for (DWORD b = 0; b < dataSize && b < 16; ++b)
                wsprintfA(hex + 3 * b, " %02X", data[b]);
            Add("  %s: type %lu, %lu bytes:%s\r\n", name, type, dataSize, hex);
        }
    }
    RegCloseKey(key);
}

static void AddCombos(const CustomKeySettings& settings)
{
    Add("%s, %ld ms:", settings.mode == Sequential ? "Sequential" : settings.mode == SendAll ? "Send All" : "no send mode",
        settings.time);
    for (const KeyCombo& combo : settings.keys) {
        char text[100] = "";
        FormatKeyCombo(text, combo);
        Add(" [");
        AddInCodePage(949, text);
        Add("]");
    }
    Add("\r\n");
}

// Read here rather than through the settings code, which would overwrite
// the running copy's settings in memory, unsaved changes included.
static void ReadStoredSettings(LONG* mode, CustomKeySettings* custom)
{
    *mode = ModeSpace;
    *custom = CustomKeySettings();
    custom->time = PolicyDefaultInterval;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    if (!ReadRegistryField(key, "key", mode, sizeof(*mode)))
        *mode = ModeSpace;
    ReadRegistryField(key, "mode", &custom->mode, sizeof(custom->mode));
    ReadRegistryField(key, "time", &custom->time, sizeof(custom->time));
    for (int i = 0; i < 3; ++i) {
        char name[16];
        KeyCombo& combo = custom->keys[i];
        wsprintfA(name, "key%d_alt", i + 1);
        ReadRegistryField(key, name, &combo.alt, 1);
        wsprintfA(name, "key%d_control", i + 1);
        ReadRegistryField(key, name, &combo.control, 1);
        wsprintfA(name, "key%d_shift", i + 1);
        ReadRegistryField(key, name, &combo.shift, 1);
        wsprintfA(name, "key%d_k", i + 1);
        ReadRegistryField(key, name, &combo.k, 4);
    }
    RegCloseKey(key);
}

static void AddSettings()
{
    Add("\r\n[Settings as stored]\r\n");
    AddValues(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", ProgramKeyPath);
    Add("\r\n[Policies as read]\r\n");
    AddValues(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", PolicyKeyPath);
    AddValues(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", PolicyKeyPath);
    LONG stored;
    CustomKeySettings custom;
    ReadStoredSettings(&stored, &custom);
    PolicySettings policy = ReadPolicy();
    LONG mode = policy.mode ? policy.mode : stored;
    char number[32];
    Add("\r\n[In force]\r\nMode: %s, %s\r\n", ModeName(mode, number),
        policy.mode ? "set by your administrator" : "the user's choice");
    if (mode == ModeCustom) {
        Add("Custom settings%s: ", policy.mode == ModeCustom ? " of the policy" : "");
        AddCombos(policy.mode == ModeCustom ? policy.custom : custom);
    }
    const char* ignored;
    DWORD interval = PollIntervalInForce(policy, &ignored);
    Add("Poll interval: %lu ms%s%s%s\r\n", interval, ignored ? " (the " : "", ignored ? ignored : "",
        ignored ? "'s PollInterval is ignored)" : "");
    if (InRunningCopy)
        Add("Running copy: mode %s%s\r\n", ModeName(RunningCopy.mode, number),
            RunningCopy.setByPolicy ? ", set by your administrator" : "");
}

// The rules for programs of each level as Lumo2 reads them, and the values
// it leaves out; the registry's own listing of the keys is above.
static void AddProgramRules()
{
    Add("\r\n[Modes for programs]\r\n");
    ProgramRules* rules = ReadProgramRules();
    const char* const keys[RuleLevelCount] = {"HKEY_LOCAL_MACHINE\\Software\\Policies\\Kestrova\\Lumo2\\Programs",
                                              "HKEY_CURRENT_USER\\Software\\Policies\\Kestrova\\Lumo2\\Programs",
                                              "HKEY_CURRENT_USER\\Software\\Kestrova\\Programs"};
    for (int level = 0; level < RuleLevelCount; ++level) {
        const RuleList& list = rules->levels[level];
        Add("Rules of the %s (%s): %s%u read, %u ignored\r\n", RuleLevelText(RuleLevel(level)), keys[level],
            list.keyFound ? "" : "no key, ", list.count, list.ignoredCount);
        char number[32];
        for (UINT i = 0; i < list.count; ++i)
            AddW(L"  %s = %S\r\n", list.rules[i].name, ModeName(list.rules[i].mode, number));
        for (UINT i = 0; i < list.ignoredCount && i < UINT(IgnoredRulesNamed); ++i)
            AddW(L"  ignored: \"%s\": %S\r\n", list.ignored[i].name, RuleFaultText(list.ignored[i].fault));
        if (list.ignoredCount > UINT(IgnoredRulesNamed))
            Add("  ignored: %u more\r\n", list.ignoredCount - IgnoredRulesNamed);
    }
    delete rules;
}

// Which listed device the capture route would take, by the same names in
// the same order, without binding any.
static int MatchingDevice(const VideoInputDevices& list, const char* wanted)
{
    for (int pass = -1; pass < 16; ++pass) {
        const char* name = pass < 0 ? wanted : KnownCameraNames[pass];
        size_t length = strlen(name);
        for (int i = 0; i < list.count; ++i)
            if (list.named[i] && strncmp(name, list.names[i], length) == 0)
                return i;
    }
    return -1;
}

static void AddCamera()
{
    char wanted[260];
    WCHAR path[MAX_PATH];
    AddW(L"\r\n[Camera]\r\nExtension-unit library UExProc.dll: %s\r\n",
         LocateExtensionUnitLibrary(path, MAX_PATH) ? path : L"not found");
    bool named = ReadTwainSourceName(wanted, NULL) == 1;
    if (!named)
        lstrcpyA(wanted, DefaultCameraName);
    Add("Capture driver's TWAIN name: %s%s\r\n", wanted, named ? "" : " (default)");
    HRESULT com = CoInitialize(NULL);
    VideoDevice device;
    auto* list = static_cast<VideoInputDevices*>(HeapAlloc(GetProcessHeap(), 0, sizeof(VideoInputDevices)));
    if (list && ListVideoInputDevices(&device, list)) {
        int match = MatchingDevice(*list, wanted);
        Add("Video input devices: %d\r\n", list->count);
        for (int i = 0; i < list->count; ++i)
            Add("  %d. %s%s\r\n", i + 1, list->named[i] ? list->names[i] : "(no name)",
                i == match ? "  <- the camera" : "");
        if (match < 0)
            Add("None is the camera.\r\n");
        ReleaseVideoInputDevices(list);
    } else if (device.lastResult == S_FALSE) {
        // The system's answer for an empty category.
        Add("Video input devices: none\r\n");
    } else {
        Add("Video input devices: could not be listed (0x%08lX)\r\n", device.lastResult);
    }
    if (list)
        HeapFree(GetProcessHeap(), 0, list);
    if (SUCCEEDED(com))
        CoUninitialize();
    if (InRunningCopy) {
        // As the camera thread last described it: the report never asks
        // the camera itself.
        if (RunningCopy.camera.route == RouteExtensionUnit)
            Add("Running copy: extension unit\r\n");
        else if (RunningCopy.camera.name[0])
            Add("Running copy: capture driver, %s\r\n", RunningCopy.camera.name);
        else
            Add("Running copy: no camera\r\n");
        if (CameraInOwnProcess())
            Add("Running copy: camera process at %s\r\n", CameraProcessLevel());
        else
            Add("Running copy: camera inside Lumo2\r\n");
        Add("Running copy: polled every %lu ms%s\r\n", RunningCopy.pollInterval,
            RunningCopy.cameraNotResponding ? ", camera not responding" : "");
    }
}

static const char* VJoyStatusText(int status)
{
    switch (status) {
    case VJoyOwned: return "held by this Lumo2";
    case VJoyFree: return "free";
    case VJoyBusy: return "busy: another program holds it";
    case VJoyMissing: return "missing";
    }
    return "unknown";
}

static void AddJoystick()
{
    char target[MAX_PATH], path[MAX_PATH];
    // The device's name is asked of the object manager; the device itself is
    // not opened.
    Add("\r\n[Joystick]\r\nPPJoy device: %s\r\n",
        QueryDosDeviceA("PPJoyIOCTL1", target, sizeof(target)) ? "present" : "not present");
    if (!FindVJoyLibrary(path, sizeof(path))) {
        Add("vJoy: not installed\r\n");
    } else {
        Add("vJoy library: %s\r\n", path);
        HMODULE library = LoadLibraryQuietly(path);
        typedef int(__cdecl * GetVJDStatusFn)(UINT id);
        auto status = Bind<GetVJDStatusFn>(library, "GetVJDStatus");
        if (status)
            Add("vJoy device 1: %s\r\n", VJoyStatusText(status(VJoyDevice)));
        else
            Add("vJoy device 1: library not loadable\r\n");
        if (library)
            FreeLibrary(library);
    }
    if (InRunningCopy)
        Add("Running copy: joystick %s\r\n", RunningCopy.mode == ModeJoystick
                                                     ? JoystickStatusText(RunningCopy.camera.joystick)
                                                     : "not in use");
}

static void AddIntegrity()
{
    char exe[MAX_PATH];
    ForegroundTarget target;
    LookUpForegroundTargetOfSystem(&target);
    NameProgramInFront(target, exe, sizeof(exe));
    Add("\r\n[Integrity levels]\r\nLumo2: %s\r\nProgram in front: %s, %s\r\n", IntegrityText(LookUpOwnIntegrity()),
        exe, IntegrityText(target.integrity));
}

// Appends the file's bytes to buffer; how many.
static DWORD ReadWholeFile(const WCHAR* path, char* buffer, DWORD size)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD read = 0;
    if (!ReadFile(file, buffer, size, &read, NULL))
        read = 0;
    CloseHandle(file);
    return read;
}

static void AddLogTail()
{
    WCHAR current[MAX_PATH], previous[MAX_PATH];
    if (!LogFilePath(current, MAX_PATH, false) || !LogFilePath(previous, MAX_PATH, true))
        return;
    AddW(L"\r\n[Log %s, the last %d lines]\r\n", current, LogTailLines);
    // Both files, the older first, so the tail reaches back past a rotation.
    const DWORD size = 2 * LogRotateSize + 2 * LogTextMax * 3;
    char* bytes = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (!bytes)
        return;
    DWORD length = ReadWholeFile(previous, bytes, size / 2);
    length += ReadWholeFile(current, bytes + length, size - length);
    DWORD start = length, lines = 0;
    while (start > 0 && lines <= LogTailLines)
        if (bytes[--start] == '\n' && start + 1 < length)
            ++lines;
    if (lines > LogTailLines)
        ++start;
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, bytes + start, int(length - start), NULL, 0);
    auto* wide = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, (wideLength + 1) * sizeof(WCHAR)));
    if (wide && wideLength > 0) {
        MultiByteToWideChar(CP_UTF8, 0, bytes + start, int(length - start), wide, wideLength);
        AddWide(wide, wideLength);
    }
    if (wide)
        HeapFree(GetProcessHeap(), 0, wide);
    HeapFree(GetProcessHeap(), 0, bytes);
}

// The report's name while it is being written: file with ".partial".
static void PartialReportName(const WCHAR* file, WCHAR (&partial)[MAX_PATH + 8])
{
    lstrcpynW(partial, file, MAX_PATH);
    lstrcatW(partial, L".partial");
}

DWORD WriteSupportReport(const WCHAR* file)
{
    Report = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, ReportCapacity * sizeof(WCHAR)));
    if (!Report)
        return ERROR_NOT_ENOUGH_MEMORY;
    ReportLength = 0;
    Report[0] = 0;
    AddProgram();
    AddSettings();
    AddProgramRules();
    AddCamera();
    AddJoystick();
    AddIntegrity();
    AddLogTail();
    RedactProfileFolder(Report, ReportCapacity);
    int length = WideCharToMultiByte(CP_UTF8, 0, Report, -1, NULL, 0, NULL, NULL);
    char* bytes = length > 0 ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 3)) : NULL;
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    if (bytes) {
        // The mark tells Notepad of older Windows that the text is UTF-8.
        memcpy(bytes, "\xEF\xBB\xBF", 3);
        WideCharToMultiByte(CP_UTF8, 0, Report, -1, bytes + 3, length, NULL, NULL);
        // Written under another name and given its own once whole: half a
        // report would look like a whole one with nothing to say. Deletable
        // while open, so that an exit can take away one cut off.
        WCHAR partial[MAX_PATH + 8];
        PartialReportName(file, partial);
        HANDLE out = CreateFileW(partial, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, NULL);
        if (out == INVALID_HANDLE_VALUE) {
            error = GetLastError();
        } else {
            DWORD done = 0, size = DWORD(length - 1 + 3);
            error = !WriteFile(out, bytes, size, &done, NULL) ? GetLastError()
                    : done != size                           ? ERROR_DISK_FULL
                                                             : ERROR_SUCCESS;
            CloseHandle(out);
            if (error == ERROR_SUCCESS && !MoveFileExW(partial, file, MOVEFILE_REPLACE_EXISTING))
                error = GetLastError();
            if (error != ERROR_SUCCESS)
                DeleteFileW(partial);
        }
        HeapFree(GetProcessHeap(), 0, bytes);
    }
    HeapFree(GetProcessHeap(), 0, Report);
    Report = NULL;
    return error;
}

// The command line after the program's own name, which is quoted or ends
// at the first blank, as the C runtime reads it.
static const WCHAR* SkipProgramName(const WCHAR* commandLine)
{
    const WCHAR* at = commandLine;
    if (*at == L'"') {
        ++at;
        while (*at && *at != L'"')
            ++at;
        if (*at)
            ++at;
    } else {
        while (*at && *at != L' ' && *at != L'\t')
            ++at;
    }
    return at;
}

bool IsReportCommand(const WCHAR* commandLine, WCHAR* file, DWORD size)
{
    file[0] = 0;
    const WCHAR* at = SkipProgramName(commandLine);
    while (*at == L' ' || *at == L'\t')
        ++at;
    WCHAR word[8];
    lstrcpynW(word, at, 8);
    if (lstrcmpiW(word, L"/report") != 0 || (at[7] != 0 && at[7] != L' ' && at[7] != L'\t'))
        return false;
    at += 7;
    while (*at == L' ' || *at == L'\t')
        ++at;
    bool quoted = *at == L'"';
    if (quoted)
        ++at;
    DWORD length = 0;
    while (at[length] && (quoted ? at[length] != L'"' : true))
        ++length;
    while (!quoted && length > 0 && (at[length - 1] == L' ' || at[length - 1] == L'\t'))
        --length;
    if (length >= size)
        length = size - 1;
    memcpy(file, at, length * sizeof(WCHAR));
    file[length] = 0;
    return true;
}

ReportWriter ClassifyReportWriter(PSID own, PSID desktopUser, bool shellFound)
{
    if (own && IsWellKnownSid(own, WinLocalSystemSid))
        return WriterSystem;
    if (!shellFound)
        return WriterUnknown;
    // A shell found whose owner could not be read runs for someone else:
    // an account may always look at its own processes.
    return own && desktopUser && EqualSid(own, desktopUser) ? WriterDesktopUser : WriterOtherAccount;
}

const char* ReportWriterText(ReportWriter writer)
{
    switch (writer) {
    case WriterDesktopUser: return "the signed-in desktop user";
    case WriterOtherAccount: return "another account than the signed-in desktop user";
    case WriterSystem: return "the system account";
    case WriterUnknown: break;
    }
    return "an account not compared (no desktop shell runs)";
}

// The user SID of the process's token, copied into sid; false when the
// process or its token may not be asked.
static bool ReadProcessUser(HANDLE process, DWORD (&sid)[SECURITY_MAX_SID_SIZE / 4])
{
    HANDLE token;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return false;
    DWORD buffer[(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE) / 4 + 1];
    DWORD size = 0;
    bool read = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
                CopySid(sizeof(sid), sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    CloseHandle(token);
    return read;
}

// Whoever runs the desktop's shell (Explorer) is the user signed in at it;
// a user name is never asked for, only the two accounts compared.
static ReportWriter LookUpReportWriter()
{
    DWORD own[SECURITY_MAX_SID_SIZE / 4], desktop[SECURITY_MAX_SID_SIZE / 4];
    bool ownRead = ReadProcessUser(GetCurrentProcess(), own);
    DWORD shellId = 0;
    // The desktop's window, or else the taskbar's (Wine's desktop has only
    // the taskbar).
    HWND shell = GetShellWindow();
    if (!shell)
        shell = FindWindowA("Shell_TrayWnd", NULL);
    bool shellFound = shell && GetWindowThreadProcessId(shell, &shellId) && shellId;
    bool desktopRead = false;
    if (shellFound) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellId);
        if (process) {
            desktopRead = ReadProcessUser(process, desktop);
            CloseHandle(process);
        }
    }
    return ClassifyReportWriter(ownRead ? own : NULL, desktopRead ? desktop : NULL, shellFound);
}

// Lumo2-report-<yyyymmdd>-<hhmmss>.txt in the user's Reports folder, beside
// the log: not synced and not a protected folder, so the write is not
// refused or sent elsewhere, and support knows where to look. file takes
// its path (MAX_PATH characters), also when it cannot be written.
static bool ChooseReportFile(WCHAR* file)
{
    WCHAR folder[MAX_PATH];
    file[0] = 0;
    if (!ProgramDataFolder(L"Reports", folder, MAX_PATH - 40))
        return false;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wsprintfW(file, L"%s\\Lumo2-report-%04u%02u%02u-%02u%02u%02u.txt", folder, now.wYear, now.wMonth, now.wDay,
              now.wHour, now.wMinute, now.wSecond);
    return true;
}

static DWORD WriteReportAs(const WCHAR* file)
{
    if (!file[0])
        return ERROR_PATH_NOT_FOUND;
    WCHAR folder[MAX_PATH];
    lstrcpynW(folder, file, MAX_PATH);
    *wcsrchr(folder, L'\\') = 0;
    DWORD error = CreateFolderPath(folder);
    if (error == ERROR_SUCCESS)
        error = WriteSupportReport(file);
    return error;
}

static DWORD WriteReportInReportsFolder(WCHAR* file)
{
    ChooseReportFile(file);
    return WriteReportAs(file);
}

// Explorer, showing the report selected in its folder.
static void ShowReportInFolder(const WCHAR* file)
{
    WCHAR explorer[MAX_PATH + 16], arguments[MAX_PATH + 16];
    UINT length = GetWindowsDirectoryW(explorer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    lstrcatW(explorer, L"\\explorer.exe");
    wsprintfW(arguments, L"/select,\"%s\"", file);
    ShellExecuteW(NULL, L"open", explorer, arguments, NULL, SW_SHOWNORMAL);
}

int RunReportCommand(const WCHAR* file)
{
    if (file[0])
        return WriteSupportReport(file) == ERROR_SUCCESS ? 0 : 1;
    WCHAR written[MAX_PATH];
    if (DWORD error = WriteReportInReportsFolder(written)) {
        LogLineW(L"report: not written to %s: error %lu", written, error);
        return 1;
    }
    ShowReportInFolder(written);
    return 0;
}

// Made by the window thread, which sets owner and file before the report's
// thread starts; that thread then sets error and hands the record back in
// its message.
struct ReportAnswer {
    HWND owner;
    DWORD error;
    WCHAR file[MAX_PATH];
};
// The window thread's: the thread writing the report from the menu and the
// file it writes, while one is under way.
static HANDLE ReportThread;
static WCHAR ReportFileUnderWay[MAX_PATH];
// How long an exit waits for a report under way before it removes it.
const DWORD ReportExitWaitMs = 500;

// The report asks the video input devices and the joystick drivers for
// their state, which a hanging driver could make wait: the window thread
// never does.
static DWORD WINAPI WriteReportFromMenu(void* record)
{
    ReportAnswer* answer = static_cast<ReportAnswer*>(record);
    answer->error = WriteReportAs(answer->file);
    if (!PostMessageW(answer->owner, WM_REPORT_WRITTEN, 1, reinterpret_cast<LPARAM>(answer)))
        delete answer;
    return 0;
}

void MakeReportFromMenu(HWND owner, DWORD pollInterval)
{
    if (ReportUnderWay)
        return;
    ReportUnderWay = true;
    RunningCopy.camera = KnownCamera;
    RunningCopy.mode = EffectiveActionMode();
    RunningCopy.setByPolicy = ActivePolicy.mode != 0;
    RunningCopy.pollInterval = pollInterval;
    RunningCopy.cameraNotResponding = CameraNotResponding;
    InRunningCopy = true;
    ReportAnswer* answer = new ReportAnswer;
    answer->owner = owner;
    ChooseReportFile(answer->file);
    lstrcpyW(ReportFileUnderWay, answer->file);
    ReportThread = CreateThread(NULL, 0, WriteReportFromMenu, answer, 0, NULL);
    if (ReportThread)
        return;
    // Without a thread of its own it is written here, as it was before.
    answer->error = WriteReportAs(answer->file);
    FollowReportWritten(owner, 1, reinterpret_cast<LPARAM>(answer));
}

void EndReportUnderWay()
{
    if (!ReportThread)
        return;
    if (WaitForSingleObject(ReportThread, ReportExitWaitMs) != WAIT_OBJECT_0) {
        // Still being written: deleted now, it goes when the writing
        // thread's handle closes with the process, and is never given its
        // name.
        WCHAR partial[MAX_PATH + 8];
        PartialReportName(ReportFileUnderWay, partial);
        DeleteFileW(partial);
        LogLine("report: unfinished at exit; removed");
    }
    // Once: the end of a session comes here before the end of the run.
    CloseHandle(ReportThread);
    ReportThread = NULL;
}

void FollowReportWritten(HWND owner, WPARAM owned, LPARAM lParam)
{
    ReportAnswer* answer = reinterpret_cast<ReportAnswer*>(lParam);
    DWORD error = answer->error;
    WCHAR file[MAX_PATH];
    lstrcpynW(file, answer->file, MAX_PATH);
    if (owned)
        delete answer;
    if (ReportThread)
        CloseHandle(ReportThread);
    ReportThread = NULL;
    InRunningCopy = false;
    ReportUnderWay = false;
    if (error == ERROR_SUCCESS) {
        ShowReportInFolder(file);
        return;
    }
    LogLineW(L"report: not written to %s: error %lu", file, error);
    // The user asked for it and waits for it: a report that does not come
    // says so, with the system's reason.
    // The system's reason in the language the user reads Lumo2 in, where
    // Windows has it.
    WCHAR reason[512] = L"", format[256], folder[128];
    LANGID language = MAKELANGID(UiLanguageInForce().language, SUBLANG_DEFAULT);
    if (!FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, language, reason,
                        512, NULL) &&
        !FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, reason, 512,
                        NULL)) {
        LoadUiText(IDS_ERROR_NUMBER, format, 256);
        wsprintfW(reason, format, error);
    }
    LoadUiText(IDS_REPORT_FAILED, format, 256);
    LoadUiText(IDS_REPORTS_FOLDER, folder, 128);
    WCHAR text[MAX_PATH + 900];
    wsprintfW(text, format, file[0] ? file : folder, reason);
    MessageBoxW(owner, text, L"Lumo2", MB_OK | MB_ICONWARNING);
}
