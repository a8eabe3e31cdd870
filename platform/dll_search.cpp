#include "platform/dll_search.h"
#include <string.h>

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD flags);

// Present on Windows 8 and later, and on Windows 7 with KB2533623, which also
// brought the LOAD_LIBRARY_SEARCH flags; bound by name for the older headers.
static SetDefaultDllDirectoriesFn FindSetDefaultDllDirectories()
{
    FARPROC fn = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    return reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(fn));
}

bool TakeCurrentFolderOutOfDllSearch()
{
    // SetDllDirectory("") would be the older way, but Wine still searches the
    // current folder with it.
    SetDefaultDllDirectoriesFn setDefault = FindSetDefaultDllDirectories();
    return setDefault && setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
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
