#include "platform/dll_search.h"
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

bool TakeCurrentFolderOutOfDllSearch()
{
    SetDefaultDllDirectoriesFn setDefault = FindSetDefaultDllDirectories();
    if (setDefault)
        return setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) != FALSE;
    // Windows 7 without KB2533623: an empty DLL folder takes the current
    // folder out of the standard search there (Wine ignores it).
    return SetDllDirectoryOfSystem("") != FALSE;
}

HMODULE LoadLibraryQuietly(const char* path)
{
    // A library whose own dependencies are missing must not put up the
    // system's error box; it simply counts as absent.
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    // With a full path, the library's own dependencies are looked for beside
    // it. The altered search path of older systems would still try the
    // current folder for them, so it is only the fallback.
    DWORD flags = 0;
    if (strchr(path, '\\'))
        flags = FindSetDefaultDllDirectories() ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                                               : LOAD_WITH_ALTERED_SEARCH_PATH;
    HMODULE module = LoadLibraryExA(path, NULL, flags);
    SetThreadErrorMode(oldMode, NULL);
    return module;
}

HMODULE LoadSystemLibrary(const char* name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + lstrlenA(name) + 2 > MAX_PATH)
        return NULL;
    wsprintfA(path + length, "\\%s", name);
    return LoadLibraryQuietly(path);
}
