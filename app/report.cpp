// The report is collected in UTF-16, so that texts in the system code page,
// the Korean key name and the UTF-8 log meet in one form, and the profile
// folder is found in any case, before it is written as UTF-8.
#include "app/report.h"
#include "actions/joystick.h"
#include "actions/vjoy.h"
#include "app/diag_events.h"
#include "app/elevation.h"
#include "camera/button_source.h"
#include "camera/device_lookup.h"
#include "camera/uexproc.h"
#include "lumo2_version.h"
#include "platform/diag_log.h"
#include "platform/display_scale.h"
#include "platform/dll_search.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "settings/key_names.h"
#include "settings/policy.h"
#include <shlobj.h>
#include <softpub.h>
#include <stdarg.h>
#include <string.h>
#include <wincrypt.h>
#include <wintrust.h>

// 200 log lines of at most about 1,050 characters, and the rest.
const int ReportCapacity = 320 * 1024;
const int LogTailLines = 200;
static WCHAR* Report;
static int ReportLength;
// Set while the running copy writes it from its menu: what that copy holds
// is then reported too.
static bool InRunningCopy;

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
static LONG VerifyTrust(WCHAR* file)
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

static void AddProgram()
{
    char windows[160], folder[MAX_PATH], exe[MAX_PATH] = "";
    SYSTEMTIME now;
    GetLocalTime(&now);
    Add("Lumo2 support report, written %04u-%02u-%02u %02u:%02u:%02u local time%s\r\n", now.wYear, now.wMonth,
        now.wDay, now.wHour, now.wMinute, now.wSecond, InRunningCopy ? " by the running copy" : "");
    DescribeWindows(windows, sizeof(windows));
    const char* install = InstallKind(folder, sizeof(folder));
    Add("\r\n[Program]\r\nVersion: %s\r\n%s\r\nInstalled: %s, folder %s\r\nDisplay scale: %u %%\r\n",
        LUMO2_VERSION_STRING, windows, install, folder, ScreenDpi() * 100 / BaseDpi);
    GetModuleFileNameA(NULL, exe, sizeof(exe));
    WCHAR wideExe[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, exe, -1, wideExe, MAX_PATH);
    LONG trust = VerifyTrust(wideExe);
    char signer[256];
    if (trust == LONG(TRUST_E_NOSIGNATURE))
        Add("Signature: Lumo2.exe is not signed\r\n");
    else if (!ReadSigner(wideExe, signer, sizeof(signer)))
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
    if (InRunningCopy)
        Add("Running copy: mode %s%s\r\n", ModeName(EffectiveActionMode(), number),
            ActivePolicy.mode ? ", set by your administrator" : "");
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
    char path[MAX_PATH], wanted[260];
    Add("\r\n[Camera]\r\nExtension-unit library UExProc.dll: %s\r\n",
        LocateExtensionUnitLibrary(path, sizeof(path)) ? path : "not found");
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
        if (ExtensionUnitActive)
            Add("Running copy: extension unit\r\n");
        else if (ConnectedCameraName()[0])
            Add("Running copy: capture driver, %s\r\n", ConnectedCameraName());
        else
            Add("Running copy: no camera\r\n");
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
        Add("Running copy: joystick %s\r\n", EffectiveActionMode() == ModeJoystick
                                                     ? JoystickStatusText(CurrentJoystickStatus())
                                                     : "not in use");
}

static void AddIntegrity()
{
    char exe[MAX_PATH];
    ForegroundTarget target;
    LookUpForegroundTarget(&target);
    NameProgramInFront(target, exe, sizeof(exe));
    Add("\r\n[Integrity levels]\r\nLumo2: %s\r\nProgram in front: %s, %s\r\n", IntegrityText(LookUpOwnIntegrity()),
        exe, IntegrityText(target.integrity));
}

// Appends the file's bytes to buffer; how many.
static DWORD ReadWholeFile(const char* path, char* buffer, DWORD size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
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
    char current[MAX_PATH], previous[MAX_PATH];
    if (!LogFilePath(current, sizeof(current), false) || !LogFilePath(previous, sizeof(previous), true))
        return;
    Add("\r\n[Log %s, the last %d lines]\r\n", current, LogTailLines);
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

bool WriteSupportReport(const char* file)
{
    Report = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, ReportCapacity * sizeof(WCHAR)));
    if (!Report)
        return false;
    ReportLength = 0;
    Report[0] = 0;
    AddProgram();
    AddSettings();
    AddCamera();
    AddJoystick();
    AddIntegrity();
    AddLogTail();
    RedactProfileFolder(Report, ReportCapacity);
    int length = WideCharToMultiByte(CP_UTF8, 0, Report, -1, NULL, 0, NULL, NULL);
    char* bytes = length > 0 ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 3)) : NULL;
    bool written = false;
    if (bytes) {
        // The mark tells Notepad of older Windows that the text is UTF-8.
        memcpy(bytes, "\xEF\xBB\xBF", 3);
        WideCharToMultiByte(CP_UTF8, 0, Report, -1, bytes + 3, length, NULL, NULL);
        HANDLE out = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (out != INVALID_HANDLE_VALUE) {
            DWORD done = 0;
            written = WriteFile(out, bytes, DWORD(length - 1 + 3), &done, NULL) && done == DWORD(length - 1 + 3);
            CloseHandle(out);
        }
        HeapFree(GetProcessHeap(), 0, bytes);
    }
    HeapFree(GetProcessHeap(), 0, Report);
    Report = NULL;
    return written;
}

bool IsReportCommand(const char* commandLine, char* file, DWORD size)
{
    file[0] = 0;
    while (*commandLine == ' ' || *commandLine == '\t')
        ++commandLine;
    char word[8];
    lstrcpynA(word, commandLine, sizeof(word));
    if (lstrcmpiA(word, "/report") != 0 || (commandLine[7] != 0 && commandLine[7] != ' ' && commandLine[7] != '\t'))
        return false;
    const char* at = commandLine + 7;
    while (*at == ' ' || *at == '\t')
        ++at;
    bool quoted = *at == '"';
    if (quoted)
        ++at;
    DWORD length = 0;
    while (at[length] && (quoted ? at[length] != '"' : true))
        ++length;
    while (!quoted && length > 0 && (at[length - 1] == ' ' || at[length - 1] == '\t'))
        --length;
    if (length >= size)
        length = size - 1;
    memcpy(file, at, length);
    file[length] = 0;
    return true;
}

// Lumo2-report-<yyyymmdd>-<hhmmss>.txt on the user's desktop, shown
// selected in its folder.
static int ReportOnDesktop()
{
    char desktop[MAX_PATH], file[MAX_PATH + 40], arguments[MAX_PATH + 60], explorer[MAX_PATH + 16];
    if (FAILED(SHGetFolderPathA(NULL, CSIDL_DESKTOPDIRECTORY, NULL, SHGFP_TYPE_CURRENT, desktop)))
        return 1;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wsprintfA(file, "%s\\Lumo2-report-%04u%02u%02u-%02u%02u%02u.txt", desktop, now.wYear, now.wMonth, now.wDay,
              now.wHour, now.wMinute, now.wSecond);
    if (lstrlenA(file) >= MAX_PATH || !WriteSupportReport(file))
        return 1;
    wsprintfA(arguments, "/select,\"%s\"", file);
    UINT length = GetWindowsDirectoryA(explorer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    lstrcatA(explorer, "\\explorer.exe");
    ShellExecuteA(NULL, "open", explorer, arguments, NULL, SW_SHOWNORMAL);
    return 0;
}

int RunReportCommand(const char* file)
{
    if (!file[0])
        return ReportOnDesktop();
    return WriteSupportReport(file) ? 0 : 1;
}

void MakeReportOnDesktop()
{
    InRunningCopy = true;
    ReportOnDesktop();
    InRunningCopy = false;
}
