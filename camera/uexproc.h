// The camera vendor's extension-unit library, UExProc.dll, bound at run time:
// a PC without it must still start Lumo2 and reach the camera through its
// capture driver, which a load-time import would never allow.
#pragma once
#include <windows.h>

const int ButtonStateCommand = 13;

// Greater than 0 when the camera is reachable through its extension unit.
// Binds the library first if it is not bound yet; a missing library or
// function reads as no camera there (0).
int ExtensionUnitIsConnected();
// Command 13 with argument 0 reports the capture button: nonzero while down.
// 0 while the library is not bound.
int ExtensionUnitSendCommand(int command, int arg, void* data, int length);
// Lets go of what the library holds; nothing while it is not bound.
void ExtensionUnitRelease();

// Binds the three functions from the library at path (a bare name uses the
// system's search). False, with nothing held, when any of them is missing.
// While it is bound, the folder it came from is searched for the libraries
// it loads by name.
bool BindExtensionUnitLibrary(const WCHAR* path);
// Binds UExProc.dll from the first of the folders it may come from that
// holds a usable copy: the folder of Lumo2.exe (while Lumo2 runs elevated,
// only when that folder lies under Program Files), the system folder and,
// only while Lumo2 runs below the High level, the local absolute folders on
// PATH, in that order, each by full path; never from the current folder.
// A copy beside Lumo2.exe passed over for its folder is logged, once.
bool BindExtensionUnitLibrary();
// The full path of the first UExProc.dll in that same search, found without
// loading it; false when there is none or it does not fit in size
// characters.
bool LocateExtensionUnitLibrary(WCHAR* path, DWORD size);

// Calls visit with each folder of that search (not \-terminated, length
// characters), in order, until it answers true; whether one did.
typedef bool (*FolderVisitor)(const WCHAR* folder, size_t length, void* context);
bool WalkExtensionUnitFolders(FolderVisitor visit, void* context);

// Whether a PATH entry (its first length characters) may be searched: an
// absolute folder on a drive that is not a network drive.
bool IsSearchablePathFolder(const WCHAR* folder, size_t length);

// This process's level (elevation counted) and a drive's type as the search
// sees them; tests play an ordinary Lumo2 (Wine runs everything elevated)
// and a mapped network drive.
typedef DWORD (*IntegrityFn)();
typedef UINT(WINAPI* DriveTypeFn)(const WCHAR* root);
extern IntegrityFn ExtensionUnitSearchIntegrity;
extern DriveTypeFn ExtensionUnitDriveType;
// The bound library, or null.
HMODULE ExtensionUnitLibrary();
// Frees the library; for tests that switch between builds of it.
void UnbindExtensionUnitLibrary();

// Calls fn with argc 32-bit arguments and puts the stack pointer back
// afterwards, so a callee that pops its own arguments (__stdcall) and one that
// leaves them to the caller (__cdecl) both leave the stack as it was.
extern "C" int CallKeepingStack(FARPROC fn, int argc, const int* args);
