// Loading libraries by full path, with the current folder kept out of every
// search: a DLL planted beside a document or a shortcut must never run inside
// Lumo2. Paths are wide throughout: a folder named outside the system's code
// page would otherwise be lost on the way.
#pragma once
#include <windows.h>

// Whether a process at level (a mandatory level RID; 0 when unknown) may
// take libraries from the folder of its executable: always below High; at
// High and above only from under Program Files, which only administrators
// can write. Anywhere else whoever can write the folder would have their
// library run with administrator rights.
bool MayLoadFromExeFolder(DWORD level, const WCHAR* exeFolder);
// Whether folder is the Program Files folder or lies under it.
bool IsUnderProgramFiles(const WCHAR* folder);
// The folder of Lumo2.exe, without a trailing backslash; false when it
// does not fit in size characters.
bool ExeFolder(WCHAR* folder, DWORD size);

// Leaves the current folder out of the search for every DLL the process
// loads from now on: one planted there by a document or a shortcut must
// never run inside Lumo2. Without exeFolderTrusted the folder of Lumo2.exe
// is left out too, for libraries the vendor's library loads by name. False
// where the system cannot do that.
bool TakeCurrentFolderOutOfDllSearch(bool exeFolderTrusted);

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
HMODULE LoadLibraryQuietly(const WCHAR* path);
// The same for a path in the system's code page.
HMODULE LoadLibraryQuietly(const char* path);

// Loads the named library from the system folder by its full path, for the
// libraries that are bound at run time rather than imported. Null when it
// cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

// Adds folder to the folders searched for libraries loaded by name, until
// the cookie is given back; null where the system cannot (before Windows 8
// without KB2533623) or the folder is refused.
void* AddLibraryFolder(const WCHAR* folder);
void RemoveLibraryFolder(void* cookie);

// How this Lumo2.exe was installed: "per user", "per machine" or "run from
// elsewhere"; folder takes the exe's folder (size characters).
const char* InstallKind(WCHAR* folder, DWORD size);
