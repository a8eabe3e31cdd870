#include "platform/diag_log.h"
#include <shlobj.h>
#include <stdarg.h>
#include <string.h>

static char LogFolderOverride[MAX_PATH];

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

void ReplaceProfileFolder(WCHAR* text, int capacity, const WCHAR* folder)
{
    static const WCHAR marker[] = L"%USERPROFILE%";
    const int markerLength = 13;
    int folderLength = lstrlenW(folder);
    if (folderLength < 3)
        return;
    int length = lstrlenW(text);
    for (int at = 0; at + folderLength <= length;) {
        int i = 0;
        while (i < folderLength && UpperCase(text[at + i]) == UpperCase(folder[i]))
            ++i;
        if (i < folderLength || !EndsPathPart(text[at + folderLength])) {
            ++at;
            continue;
        }
        int tail = length - at - folderLength;
        int room = capacity - 1 - (at + markerLength);
        if (room < 0) {
            text[at] = 0;
            return;
        }
        if (tail > room)
            tail = room;
        memmove(text + at + markerLength, text + at + folderLength, tail * sizeof(WCHAR));
        memcpy(text + at, marker, markerLength * sizeof(WCHAR));
        length = at + markerLength + tail;
        text[length] = 0;
        at += markerLength;
    }
}

void RedactProfileFolder(WCHAR* text, int capacity)
{
    // Every spelling of a full path holds a backslash. Most lines hold none,
    // and the start's lines do not, so the folder is not looked up for
    // them: the lookup is the dearest part of a line.
    if (!wcschr(text, L'\\'))
        return;
    // Found once: the profile folder does not move while Lumo2 runs. Asked
    // in UTF-16, as it is, in its short form, and as the system's code page
    // spells it, which is how the program's own ANSI paths carry it when
    // the user's name has a letter outside that code page.
    static WCHAR forms[3][MAX_PATH];
    static bool known;
    if (!known && SUCCEEDED(SHGetFolderPathW(NULL, CSIDL_PROFILE, NULL, SHGFP_TYPE_CURRENT, forms[0]))) {
        known = true;
        DWORD length = GetShortPathNameW(forms[0], forms[1], MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            forms[1][0] = 0;
        char ansi[MAX_PATH];
        if (WideCharToMultiByte(CP_ACP, 0, forms[0], -1, ansi, MAX_PATH, NULL, NULL) > 0)
            MultiByteToWideChar(CP_ACP, 0, ansi, -1, forms[2], MAX_PATH);
    }
    for (const WCHAR* form : forms)
        if (form[0])
            ReplaceProfileFolder(text, capacity, form);
}


void SetLogFolder(const char* folder)
{
    lstrcpynA(LogFolderOverride, folder ? folder : "", sizeof(LogFolderOverride));
}

bool LogFilePath(char* path, DWORD size, bool previous)
{
    // The user's folder is asked for once: every event writes a line, and
    // the start writes several.
    static char userFolder[MAX_PATH];
    char folder[MAX_PATH];
    if (LogFolderOverride[0]) {
        lstrcpynA(folder, LogFolderOverride, sizeof(folder));
    } else {
        char base[MAX_PATH];
        if (!userFolder[0] && SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, base)) &&
            lstrlenA(base) + 25 < MAX_PATH)
            wsprintfA(userFolder, "%s\\Kestrova\\Lumo2\\Logs", base);
        if (!userFolder[0])
            return false;
        lstrcpyA(folder, userFolder);
    }
    if (DWORD(lstrlenA(folder)) + 16 >= size)
        return false;
    wsprintfA(path, "%s\\%s", folder, previous ? "Lumo2.1.log" : "Lumo2.log");
    return true;
}

// Each folder of the path from the drive down; those there already refuse
// quietly.
static void CreateFoldersOf(const char* file)
{
    char folder[MAX_PATH];
    lstrcpynA(folder, file, sizeof(folder));
    for (char* at = folder + 3; *at; ++at) {
        if (*at != '\\')
            continue;
        *at = 0;
        CreateDirectoryA(folder, NULL);
        *at = '\\';
    }
}

// Opened for each line and closed after it: another copy, the report or
// support may read or move the file at any time, and no handle stays open.
static HANDLE OpenLogFile(const char* path)
{
    return CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

static void AppendToLog(const char* bytes, DWORD length)
{
    char path[MAX_PATH];
    if (!LogFilePath(path, sizeof(path), false))
        return;
    HANDLE file = OpenLogFile(path);
    if (file == INVALID_HANDLE_VALUE) {
        CreateFoldersOf(path);
        file = OpenLogFile(path);
        if (file == INVALID_HANDLE_VALUE)
            return;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (size != INVALID_FILE_SIZE && size > 0 && (high != 0 || size + length > LogRotateSize)) {
        CloseHandle(file);
        char previous[MAX_PATH];
        LogFilePath(previous, sizeof(previous), true);
        MoveFileExA(path, previous, MOVEFILE_REPLACE_EXISTING);
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
