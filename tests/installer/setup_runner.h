// Runs the setup program and its uninstaller under test, and looks at what a
// per-user installation leaves on the PC: files, shortcut, registry values,
// and the running Lumo2 with its tray icon.
#pragma once
// BinFolder and LumoTrayWindows come with these two.
#include "tests/support/lumo_process.h"
#include "tests/support/test_support.h"
#include <windows.h>
#include <string>
#include <vector>

extern const char UninstallKeyPath[];
extern const char RunKeyPath[];
// Where Task Manager keeps a Run value's "disabled" mark.
extern const char StartupApprovedKeyPath[];

// The build tree, one level above bin, and the setup program in it.
std::string BuildFolder();
std::string SetupPath();
std::string Quoted(const std::string& path);
// Paths compared as Windows does, ignoring case.
bool SamePath(const std::string& a, const std::string& b);
// A shell folder by its CSIDL, as this (32-bit) process sees it.
std::string ShellFolder(int csidl);
std::string DefaultInstallFolder();
std::string StartMenuShortcut();
// The file a shortcut starts, or "" when it cannot be read.
std::string ShortcutTarget(const std::string& shortcut);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Names of the entries in a folder, sorted; empty when it does not exist.
std::vector<std::string> FolderEntries(const std::string& folder);
bool SameContents(const std::string& a, const std::string& b);
DWORD FileSizeOf(const std::string& path);

// Starts commandLine in folder (or the current one) and waits for it to end,
// pumping this thread's messages meanwhile; its exit code, or STILL_ACTIVE
// when it was still running at the timeout (it is then ended).
DWORD RunAndWait(const std::string& commandLine, DWORD timeoutMs, DWORD* elapsedMs = NULL);
// Starts commandLine without waiting; the process handle (caller closes).
HANDLE StartProcess(const std::string& commandLine, const char* currentFolder = NULL,
                    DWORD* processId = NULL);

// The executable of the process owning window, or "".
std::string WindowProgram(HWND window);
// Asks every running Lumo2 to end and waits; whether none is left.
bool EndRunningLumo(DWORD timeoutMs);
// The ids of the Lumo2.exe processes, whether or not they have a window yet.
std::vector<DWORD> LumoProcesses();

struct RegValue {
    bool present;
    DWORD type;
    std::string text;  // REG_SZ without its terminating null
    DWORD number;      // REG_DWORD
};
RegValue ReadValue(HKEY root, const char* path, const char* name);
bool KeyExists(HKEY root, const char* path);
std::vector<std::string> ValueNames(HKEY root, const char* path);

// Writes some settings of the user's own, as Lumo2 would; whether it could.
bool StoreSettings();
// The program's settings as name, type and bytes, for comparing before and
// after.
std::string DescribeSettings();

// Marks Lumo2's start at logon as turned off, as Task Manager does; whether
// it could.
bool MarkStartAtLogonDisabled();
// Makes a window of the test the desktop's shell, as Explorer is; Wine has
// none of its own. Whether GetShellWindow now finds it.
bool BecomeTheShell();
// The string SID of the account the test runs as.
std::string OwnSid();

// Takes away everything an installation may have left, from any folder the
// tests use, so that each test starts from a PC without Lumo2.
void RemoveInstallation(const std::vector<std::string>& folders);
