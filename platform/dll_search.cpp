#include "platform/dll_search.h"
#include <shlobj.h>
#include <string.h>

// Present on Windows 8 and later, and on Windows 7 with KB2533623, which also
// brought the LOAD_LIBRARY_SEARCH flags; bound by name for the older headers.
static SetDefaultDllDirectoriesFn FindSetDefaultDllDirectoriesOfSystem()
{
    FARPROC fn = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    return reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(fn));
}

FindSetDefaultDllDirectoriesFn FindSetDefaultDllDirectories = FindSetDefaultDllDirectoriesOfSystem;
SetDllDirectoryFn SetDllDirectoryOfSystem = SetDllDirectoryA;

// The folders a library loaded by name, or the dependencies of one loaded by
// full path, come from: the default set, or without the application's
// folder where that folder is not to be trusted.
static DWORD SearchFolders = LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

// Whether folder is base or lies under it; base loses a trailing backslash.
static bool IsUnder(const WCHAR* folder, WCHAR* base)
{
    int length = lstrlenW(base);
    while (length > 0 && base[length - 1] == L'\\')
        base[--length] = 0;
    if (length < 3 || lstrlenW(folder) < length)
        return false;
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, folder, length, base, length) == CSTR_EQUAL &&
           (folder[length] == 0 || folder[length] == L'\\');
}

// The 64-bit Program Files folder of a 64-bit Windows, which a 32-bit
// program is never told of as a special folder: from the machine's own
// key, which only administrators can write. False on a 32-bit Windows.
static bool NativeProgramFiles(WCHAR* folder, DWORD size)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, bytes = (size - 1) * sizeof(WCHAR);
    LONG read = RegQueryValueExW(key, L"ProgramW6432Dir", NULL, &type, reinterpret_cast<BYTE*>(folder), &bytes);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    folder[bytes / sizeof(WCHAR)] = 0;
    return true;
}

bool IsUnderProgramFiles(const WCHAR* folder)
{
    // A 32-bit program is told of the 32-bit Program Files folder alone;
    // a per-machine install may as well be in the 64-bit one. Both are
    // asked of the system, not of the environment, which the user sets.
    WCHAR longForm[MAX_PATH], programFiles[MAX_PATH];
    // A short spelling (C:\PROGRA~1) names the same folder.
    DWORD length = GetLongPathNameW(folder, longForm, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        folder = longForm;
    if (SUCCEEDED(SHGetFolderPathW(NULL, CSIDL_PROGRAM_FILES, NULL, SHGFP_TYPE_CURRENT, programFiles)) &&
        IsUnder(folder, programFiles))
        return true;
    return NativeProgramFiles(programFiles, MAX_PATH) && IsUnder(folder, programFiles);
}

bool MayLoadFromExeFolder(DWORD level, const WCHAR* exeFolder)
{
    // A level that cannot be read counts as elevated: the safe side.
    if (level != 0 && level < SECURITY_MANDATORY_HIGH_RID)
        return true;
    return IsUnderProgramFiles(exeFolder);
}

bool ExeFolder(WCHAR* folder, DWORD size)
{
    DWORD length = GetModuleFileNameW(NULL, folder, size);
    if (length == 0 || length >= size)
        return false;
    WCHAR* slash = wcsrchr(folder, L'\\');
    if (!slash)
        return false;
    *slash = 0;
    return true;
}

bool TakeCurrentFolderOutOfDllSearch(bool exeFolderTrusted)
{
    SetDefaultDllDirectoriesFn setDefault = FindSetDefaultDllDirectories();
    if (setDefault) {
        if (!exeFolderTrusted)
            SearchFolders = LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS;
        return setDefault(SearchFolders) != FALSE;
    }
    // Windows 7 without KB2533623: an empty DLL folder takes the current
    // folder out of the standard search there (Wine ignores it). The
    // application's folder stays in it: that system cannot leave it out.
    return SetDllDirectoryOfSystem("") != FALSE;
}

HMODULE LoadLibraryQuietly(const WCHAR* path)
{
    // A library whose own dependencies are missing must not put up the
    // system's error box; it simply counts as absent.
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    // With a full path, the library's own dependencies are looked for beside
    // it. The altered search path of older systems would still try the
    // current folder for them, so it is only the fallback.
    DWORD flags = 0;
    if (wcschr(path, L'\\'))
        flags = FindSetDefaultDllDirectories() ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | SearchFolders
                                               : LOAD_WITH_ALTERED_SEARCH_PATH;
    HMODULE module = LoadLibraryExW(path, NULL, flags);
    SetThreadErrorMode(oldMode, NULL);
    return module;
}

HMODULE LoadLibraryQuietly(const char* path)
{
    WCHAR wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) <= 0)
        return NULL;
    return LoadLibraryQuietly(wide);
}

HMODULE LoadSystemLibrary(const char* name)
{
    WCHAR path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + lstrlenA(name) + 2 > MAX_PATH)
        return NULL;
    wsprintfW(path + length, L"\\%S", name);
    return LoadLibraryQuietly(path);
}

// Bound by name as SetDefaultDllDirectories is: the same update brought them.
typedef void*(WINAPI* AddDllDirectoryFn)(const WCHAR* folder);
typedef BOOL(WINAPI* RemoveDllDirectoryFn)(void* cookie);

static FARPROC Kernel32Function(const char* name)
{
    return GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}

void* AddLibraryFolder(const WCHAR* folder)
{
    auto add = reinterpret_cast<AddDllDirectoryFn>(reinterpret_cast<void*>(Kernel32Function("AddDllDirectory")));
    return add ? add(folder) : NULL;
}

void RemoveLibraryFolder(void* cookie)
{
    auto remove =
        reinterpret_cast<RemoveDllDirectoryFn>(reinterpret_cast<void*>(Kernel32Function("RemoveDllDirectory")));
    if (cookie && remove)
        remove(cookie);
}

// Whether path lies in the special folder's subfolder below.
static bool InFolder(const WCHAR* path, int csidl, const WCHAR* below)
{
    WCHAR folder[MAX_PATH + 32];
    if (FAILED(SHGetFolderPathW(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, folder)))
        return false;
    lstrcatW(folder, below);
    int length = lstrlenW(folder);
    if (lstrlenW(path) < length)
        return false;
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, path, length, folder, length) == CSTR_EQUAL &&
           (path[length] == 0 || path[length] == L'\\');
}

const char* InstallKind(WCHAR* folder, DWORD size)
{
    if (!ExeFolder(folder, size)) {
        folder[0] = 0;
        return "run from elsewhere";
    }
    if (InFolder(folder, CSIDL_LOCAL_APPDATA, L"\\Programs"))
        return "per user";
    if (IsUnderProgramFiles(folder))
        return "per machine";
    return "run from elsewhere";
}
