// Loading libraries by full path, with the current folder kept out of every
// search: a DLL planted beside a document or a shortcut must never run inside
// Lumo2.
#pragma once
#include <windows.h>

// Leaves the current folder out of the search for every DLL the process
// loads from now on: one planted there by a document or a shortcut must
// never run inside Lumo2. False where the system cannot do that.
bool TakeCurrentFolderOutOfDllSearch();

// The two system calls that do it, found at run time; tests play a
// Windows 7 without KB2533623, which has only the second.
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD flags);
typedef BOOL(WINAPI* SetDllDirectoryFn)(const char* folder);
typedef SetDefaultDllDirectoriesFn (*FindSetDefaultDllDirectoriesFn)();
extern FindSetDefaultDllDirectoriesFn FindSetDefaultDllDirectories;
extern SetDllDirectoryFn SetDllDirectoryOfSystem;

// Loads the library at path without the system's error box. With a full
// path, its own dependencies come from beside it and the system's folders,
// never from the current folder. Null when it cannot be loaded.
HMODULE LoadLibraryQuietly(const char* path);

// Loads the named library from the system folder by its full path, for the
// libraries that are bound at run time rather than imported. Null when it
// cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);
