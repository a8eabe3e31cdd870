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
bool BindExtensionUnitLibrary(const char* path);
// Binds UExProc.dll from the folder of Lumo2.exe, the system folder or a
// folder on PATH, in that order, each by full path; never from the current
// folder.
bool BindExtensionUnitLibrary();
// Where the system search above would find UExProc.dll, found without loading
// it (PATH is left out when running elevated); false when it is nowhere.
bool LocateExtensionUnitLibrary(char* path, DWORD size);
// The bound library, or null.
HMODULE ExtensionUnitLibrary();
// Frees the library; for tests that switch between builds of it.
void UnbindExtensionUnitLibrary();

// Calls fn with argc 32-bit arguments and puts the stack pointer back
// afterwards, so a callee that pops its own arguments (__stdcall) and one that
// leaves them to the caller (__cdecl) both leave the stack as it was.
extern "C" int CallKeepingStack(FARPROC fn, int argc, const int* args);
