#include "platform/diag_log.h"
#include <lmcons.h>
#include <shlobj.h>
#include <stdarg.h>
#include <string.h>

static WCHAR LogFolderOverride[MAX_PATH];

static WCHAR UpperCase(WCHAR c)
{
    return WCHAR(reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(ULONG_PTR(c)))));
}

static bool EndsPathPart(WCHAR c)
{
    WCHAR lower = c | 0x20;
    bool partOfName = (c >= L'0' && c <= L'9') || (lower >= L'a' && lower <= L'z') || c >= 0x80 || c == L'.' ||
                      c == L'_' || c == L'-' || c == L'$' || c == L'~';
    return !partOfName;
}

// Puts marker in place of text[start, end), keeping the text within
// capacity characters; false when not even the marker fits, the text then
// being cut at start.
static bool Splice(WCHAR* text, int capacity, int* length, int start, int end, const WCHAR* marker, int markerLength)
{
    int tail = *length - end;
    int room = capacity - 1 - (start + markerLength);
    if (room < 0) {
        text[start] = 0;
        return false;
    }
    if (tail > room)
        tail = room;
    memmove(text + start + markerLength, text + end, tail * sizeof(WCHAR));
    memcpy(text + start, marker, markerLength * sizeof(WCHAR));
    *length = start + markerLength + tail;
    text[*length] = 0;
    return true;
}

// Puts marker in place of each whole occurrence of what, in any case;
// where it is a name rather than a path, only as a path part of its own,
// or as the hidden share that bears it ("name$").
static void ReplaceWhole(WCHAR* text, int capacity, const WCHAR* what, const WCHAR* marker, bool name)
{
    const int whatLength = lstrlenW(what), markerLength = lstrlenW(marker);
    int length = lstrlenW(text);
    for (int at = 0; at + whatLength <= length;) {
        int i = 0;
        while (i < whatLength && UpperCase(text[at + i]) == UpperCase(what[i]))
            ++i;
        WCHAR next = text[at + whatLength];
        bool whole = i == whatLength &&
                     (EndsPathPart(next) || (name && next == L'$' && EndsPathPart(text[at + whatLength + 1]))) &&
                     (!name || (at > 0 && (text[at - 1] == L'\\' || text[at - 1] == L'/')));
        if (!whole) {
            ++at;
            continue;
        }
        if (!Splice(text, capacity, &length, at, at + whatLength, marker, markerLength))
            return;
        at += markerLength;
    }
}

void ReplaceProfileFolder(WCHAR* text, int capacity, const WCHAR* folder)
{
    if (lstrlenW(folder) >= 3)
        ReplaceWhole(text, capacity, folder, L"%USERPROFILE%", false);
}

void ReplaceUserName(WCHAR* text, int capacity, const WCHAR* name)
{
    if (name[0])
        ReplaceWhole(text, capacity, name, L"<user>", true);
}

// Where a path part ends in a line of text: a part may hold blanks ("dr
// park"), so only what no folder name ends with in a log line stops it.
static bool EndsNamePart(WCHAR c)
{
    return c == 0 || c == L'\\' || c == L'/' || c == L'"' || c == L'\'' || c == L',' || c == L';' || c == L')' ||
           c == L'\r' || c == L'\n' || c == L'\t';
}

// Puts marker in place of the path part after each lead (in any case),
// within capacity characters; a part that is only "?" or "." (the
// prefixes of long and device paths) is no name.
static void ReplacePartAfter(WCHAR* text, int capacity, const WCHAR* lead, const WCHAR* marker)
{
    const int leadLength = lstrlenW(lead), markerLength = lstrlenW(marker);
    int length = lstrlenW(text);
    for (int at = 0; at + leadLength <= length; ++at) {
        int i = 0;
        while (i < leadLength && UpperCase(text[at + i]) == UpperCase(lead[i]))
            ++i;
        if (i < leadLength || (at > 0 && (text[at - 1] == L'\\' || text[at - 1] == L'/')))
            continue;
        int start = at + leadLength, end = start;
        while (!EndsNamePart(text[end]))
            ++end;
        bool prefix = end == start + 1 && (text[start] == L'?' || text[start] == L'.');
        if (end == start || prefix || (end - start == markerLength && memcmp(text + start, marker, markerLength * sizeof(WCHAR)) == 0))
            continue;
        if (!Splice(text, capacity, &length, start, end, marker, markerLength))
            return;
        at = start + markerLength - 1;
    }
}

void RedactNamesInPaths(WCHAR* text, int capacity)
{
    // A name typed into a rule may use forward slashes; a long path names
    // its server after \\?\UNC.
    const struct {
        const WCHAR* lead;
        const WCHAR* marker;
    } parts[] = {{L"\\Users\\", L"<user>"}, {L"/Users/", L"<user>"}, {L"\\Users$\\", L"<user>"}, {L"\\\\?\\UNC\\", L"<server>"},
                 {L"\\\\", L"<server>"}, {L"//", L"<server>"}};
    for (const auto& part : parts)
        ReplacePartAfter(text, capacity, part.lead, part.marker);
}

static WCHAR ProfileForms[3][MAX_PATH];
// The account's name, which folders redirected to a server carry
// (\\server\users$\name\Documents) and home shares are named after.
static WCHAR AccountName[UNLEN + 1];

static BOOL CALLBACK LookUpProfileForms(INIT_ONCE*, void*, void**)
{
    DWORD size = UNLEN + 1;
    if (!GetUserNameW(AccountName, &size))
        AccountName[0] = 0;
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_PROFILE, NULL, SHGFP_TYPE_CURRENT, ProfileForms[0]))) {
        ProfileForms[0][0] = 0;
        return TRUE;
    }
    DWORD length = GetShortPathNameW(ProfileForms[0], ProfileForms[1], MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        ProfileForms[1][0] = 0;
    char ansi[MAX_PATH];
    if (WideCharToMultiByte(CP_ACP, 0, ProfileForms[0], -1, ansi, MAX_PATH, NULL, NULL) > 0)
        MultiByteToWideChar(CP_ACP, 0, ansi, -1, ProfileForms[2], MAX_PATH);
    return TRUE;
}

void RedactProfileFolder(WCHAR* text, int capacity)
{
    // Every spelling of a full path holds a backslash. Most lines hold none,
    // and the start's lines do not, so the folder is not looked up for
    // them: the lookup is the dearest part of a line.
    if (!wcschr(text, L'\\') && !wcschr(text, L'/'))
        return;
    // Found once: the profile folder does not move while Lumo2 runs. Asked
    // in UTF-16, as it is, in its short form, and as the system's code page
    // spells it, which is how a path that came through an ANSI call (vJoy's
    // folder from its uninstall entry) carries it when the user's name has a
    // letter outside that code page.
    // Once for the run, and once only even when the report's thread and
    // the window thread ask at the same time.
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, LookUpProfileForms, NULL, NULL);
    for (const WCHAR* form : ProfileForms)
        if (form[0])
            ReplaceProfileFolder(text, capacity, form);
    ReplaceUserName(text, capacity, AccountName);
    // A rule of IT's or a program browsed to may lie in another user's
    // profile or on a server: neither name belongs in the log.
    RedactNamesInPaths(text, capacity);
}


void SetLogFolder(const WCHAR* folder)
{
    lstrcpynW(LogFolderOverride, folder ? folder : L"", MAX_PATH);
}

static WCHAR LocalAppData[MAX_PATH];

static BOOL CALLBACK LookUpLocalAppData(INIT_ONCE*, void*, void**)
{
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, LocalAppData)))
        LocalAppData[0] = 0;
    return TRUE;
}

bool ProgramDataFolder(const WCHAR* below, WCHAR* folder, DWORD size)
{
    // The user's folder is asked for once: every event writes a line, and
    // the start writes several. Asked in UTF-16: a user name outside the
    // system's code page would come back as question marks otherwise.
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, LookUpLocalAppData, NULL, NULL);
    const WCHAR* base = LocalAppData;
    if (!base[0] || DWORD(lstrlenW(base) + 16 + lstrlenW(below)) >= size)
        return false;
    wsprintfW(folder, L"%s\\Kestrova\\Lumo2\\%s", base, below);
    return true;
}

bool LogFilePath(WCHAR* path, DWORD size, bool previous)
{
    WCHAR folder[MAX_PATH];
    if (LogFolderOverride[0])
        lstrcpynW(folder, LogFolderOverride, MAX_PATH);
    else if (!ProgramDataFolder(L"Logs", folder, MAX_PATH))
        return false;
    if (DWORD(lstrlenW(folder)) + 16 >= size)
        return false;
    wsprintfW(path, L"%s\\%s", folder, previous ? L"Lumo2.1.log" : L"Lumo2.log");
    return true;
}

DWORD CreateFolderPath(const WCHAR* path)
{
    // Each folder from the drive down; those there already refuse quietly.
    WCHAR folder[MAX_PATH];
    lstrcpynW(folder, path, MAX_PATH);
    for (WCHAR* at = folder + 3; *at; ++at) {
        if (*at != L'\\')
            continue;
        *at = 0;
        CreateDirectoryW(folder, NULL);
        *at = L'\\';
    }
    if (CreateDirectoryW(folder, NULL))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_SUCCESS;
    return error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error;
}

// The folder of the file, made when missing.
static void CreateFolderOf(const WCHAR* file)
{
    WCHAR folder[MAX_PATH];
    lstrcpynW(folder, file, MAX_PATH);
    if (WCHAR* slash = wcsrchr(folder, L'\\')) {
        *slash = 0;
        CreateFolderPath(folder);
    }
}

// Opened for each line and closed after it: another copy, the report or
// support may read or move the file at any time, and no handle stays open.
static HANDLE OpenLogFile(const WCHAR* path)
{
    return CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

static void AppendLocked(const char* bytes, DWORD length);

// Lines come from the window thread and, now and then, from the camera's
// (a vendor library passed over while binding it): one line at a time, so
// that a rotation never moves the file under another line's write.
static SRWLOCK LogLock = SRWLOCK_INIT;

static void AppendToLog(const char* bytes, DWORD length)
{
    AcquireSRWLockExclusive(&LogLock);
    AppendLocked(bytes, length);
    ReleaseSRWLockExclusive(&LogLock);
}

static void AppendLocked(const char* bytes, DWORD length)
{
    WCHAR path[MAX_PATH];
    if (!LogFilePath(path, MAX_PATH, false))
        return;
    HANDLE file = OpenLogFile(path);
    if (file == INVALID_HANDLE_VALUE) {
        CreateFolderOf(path);
        file = OpenLogFile(path);
        if (file == INVALID_HANDLE_VALUE)
            return;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (size != INVALID_FILE_SIZE && size > 0 && (high != 0 || size + length > LogRotateSize)) {
        CloseHandle(file);
        WCHAR previous[MAX_PATH];
        LogFilePath(previous, MAX_PATH, true);
        MoveFileExW(path, previous, MOVEFILE_REPLACE_EXISTING);
        file = OpenLogFile(path);
        if (file == INVALID_HANDLE_VALUE)
            return;
    }
    DWORD written;
    WriteFile(file, bytes, length, &written, NULL);
    CloseHandle(file);
}

void LogWideLine(const WCHAR* text)
{
    WCHAR line[LogTextMax + 32];
    SYSTEMTIME now;
    GetLocalTime(&now);
    int at = wsprintfW(line, L"%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay, now.wHour,
                       now.wMinute, now.wSecond, now.wMilliseconds);
    // One event, one line, whatever the text holds.
    for (int i = 0; text[i] && at < LogTextMax + 24; ++i)
        line[at++] = (text[i] == L'\r' || text[i] == L'\n') ? L' ' : text[i];
    line[at] = 0;
    RedactProfileFolder(line, LogTextMax + 24);
    at = lstrlenW(line);
    line[at++] = L'\r';
    line[at++] = L'\n';
    char bytes[(LogTextMax + 32) * 3];
    int length = WideCharToMultiByte(CP_UTF8, 0, line, at, bytes, sizeof(bytes), NULL, NULL);
    if (length > 0)
        AppendToLog(bytes, DWORD(length));
}

void LogLine(const char* format, ...)
{
    // wvsprintfA writes at most 1024 characters and its terminator.
    char text[LogTextMax + 1];
    va_list args;
    va_start(args, format);
    wvsprintfA(text, format, args);
    va_end(args);
    WCHAR wide[LogTextMax + 1];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, LogTextMax + 1) > 0)
        LogWideLine(wide);
}

void LogLineW(const WCHAR* format, ...)
{
    // wvsprintfW writes at most 1024 characters and its terminator.
    WCHAR text[LogTextMax + 1];
    va_list args;
    va_start(args, format);
    wvsprintfW(text, format, args);
    va_end(args);
    LogWideLine(text);
}
