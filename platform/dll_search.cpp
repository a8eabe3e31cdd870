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

bool IsUnderProgramFiles(const WCHAR* folder)
{
    // For a 32-bit program both Program Files folders are the 32-bit one, on
    // a 64-bit Windows as on a 32-bit one. Asked of the system, not of the
    // environment, which the user sets.
    WCHAR programFiles[MAX_PATH], longForm[MAX_PATH];
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_PROGRAM_FILES, NULL, SHGFP_TYPE_CURRENT, programFiles)))
        return false;
    // A short spelling (C:\PROGRA~1) names the same folder.
    DWORD length = GetLongPathNameW(folder, longForm, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        folder = longForm;
    int base = lstrlenW(programFiles);
    while (base > 0 && programFiles[base - 1] == L'\\')
        programFiles[--base] = 0;
    if (base < 3 || lstrlenW(folder) < base)
        return false;
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, folder, base, programFiles, base) == CSTR_EQUAL &&
           (folder[base] == 0 || folder[base] == L'\\');
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
