#include "tests/installer/setup_runner.h"
#include "lumo2_version.h"
#include "settings/action_mode.h"
#include "tests/support/wait_until.h"
#include <algorithm>
#include <sddl.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>
#include <tlhelp32.h>

const char UninstallKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumo2";
const char RunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char StartupApprovedKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

std::string BuildFolder()
{
    std::string bin = BinFolder();
    return bin.substr(0, bin.rfind('\\'));
}

std::string SetupPath()
{
    return BuildFolder() + "\\Lumo2-" LUMO2_VERSION_STRING "-setup.exe";
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

bool SamePath(const std::string& a, const std::string& b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = {0};
    SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::string DefaultInstallFolder()
{
    return ShellFolder(CSIDL_LOCAL_APPDATA) + "\\Programs\\Lumo2";
}

std::string StartMenuShortcut()
{
    return ShellFolder(CSIDL_PROGRAMS) + "\\Lumo2.lnk";
}

std::string ShortcutTarget(const std::string& shortcut)
{
    std::string target;
    CoInitialize(NULL);
    IShellLinkA* link = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = NULL;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            WCHAR wide[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, shortcut.c_str(), -1, wide, MAX_PATH);
            char path[MAX_PATH] = {0};
            if (SUCCEEDED(file->Load(wide, STGM_READ)) &&
                SUCCEEDED(link->GetPath(path, MAX_PATH, NULL, SLGP_RAWPATH)))
                target = path;
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return target;
}

bool FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

static std::vector<BYTE> ReadWholeFile(const std::string& path)
{
    std::vector<BYTE> bytes;
    if (FILE* file = fopen(path.c_str(), "rb")) {
        BYTE buffer[65536];
        size_t got;
        while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + got);
        fclose(file);
    }
    return bytes;
}

bool SameContents(const std::string& a, const std::string& b)
{
    std::vector<BYTE> first = ReadWholeFile(a);
    return !first.empty() && first == ReadWholeFile(b);
}

DWORD FileSizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return data.nFileSizeLow;
}

HANDLE StartProcess(const std::string& commandLine, const char* currentFolder, DWORD* processId)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, currentFolder, &startup, &info))
        return NULL;
    CloseHandle(info.hThread);
    if (processId)
        *processId = info.dwProcessId;
    return info.hProcess;
}

DWORD RunAndWait(const std::string& commandLine, DWORD timeoutMs, DWORD* elapsedMs)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HANDLE process = StartProcess(commandLine);
    if (!process)
        return DWORD(-1);
    // The setup program sends messages to windows, some of them this test's.
    DWORD began = GetTickCount();
    while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT && GetTickCount() - began < timeoutMs) {
        MsgWaitForMultipleObjects(1, &process, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    QueryPerformanceCounter(&end);
    if (elapsedMs)
        *elapsedMs = DWORD((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    if (code == STILL_ACTIVE)
        TerminateProcess(process, 1);
    CloseHandle(process);
    return code;
}

std::string WindowProgram(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return "";
    char path[MAX_PATH] = {0};
    DWORD size = MAX_PATH;
    QueryFullProcessImageNameA(process, 0, path, &size);
    CloseHandle(process);
    return path;
}

std::vector<DWORD> LumoProcesses()
{
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        const char* name = strrchr(entry.szExeFile, '\\');
        if (lstrcmpiA(name ? name + 1 : entry.szExeFile, "Lumo2.exe") == 0)
            ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ids;
}

bool EndRunningLumo(DWORD timeoutMs)
{
    for (HWND tray : LumoTrayWindows())
        PostMessageA(tray, WM_CLOSE, 0, 0);
    // The process outlives its window for a moment; one still ending would
    // pass for a Lumo2 that the next setup run started.
    return WaitUntil([] { return LumoTrayWindows().empty() && LumoProcesses().empty(); }, timeoutMs);
}

RegValue ReadValue(HKEY root, const char* path, const char* name)
{
    RegValue value = {false, REG_NONE, "", 0};
    BYTE data[2048] = {0};
    DWORD size = sizeof(data) - 1;
    if (RegGetValueA(root, path, name, RRF_RT_ANY | RRF_NOEXPAND, &value.type, data, &size) != ERROR_SUCCESS)
        return value;
    value.present = true;
    if (value.type == REG_DWORD && size == 4)
        memcpy(&value.number, data, 4);
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ)
        value.text.assign(reinterpret_cast<char*>(data), strnlen(reinterpret_cast<char*>(data), size));
    return value;
}

bool KeyExists(HKEY root, const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::vector<std::string> ValueNames(HKEY root, const char* path)
{
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name);
        if (RegEnumValueA(key, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

bool StoreSettings()
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return false;
    DWORD mode = ModeKodak, time = 750;
    bool stored =
        RegSetValueExA(key, "key", 0, REG_DWORD, reinterpret_cast<BYTE*>(&mode), sizeof(mode)) == ERROR_SUCCESS &&
        RegSetValueExA(key, "time", 0, REG_DWORD, reinterpret_cast<BYTE*>(&time), sizeof(time)) == ERROR_SUCCESS &&
        RegSetValueExA(key, "key1_k", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\x51\0\0\0"), 4) ==
            ERROR_SUCCESS;
    RegCloseKey(key);
    return stored;
}

std::string DescribeSettings()
{
    std::string text;
    for (const std::string& name : ValueNames(HKEY_CURRENT_USER, ProgramKeyPath)) {
        BYTE data[256];
        DWORD size = sizeof(data), type = 0;
        RegGetValueA(HKEY_CURRENT_USER, ProgramKeyPath, name.c_str(), RRF_RT_ANY, &type, data, &size);
        char head[300];
        wsprintfA(head, "%s(%lu):", name.c_str(), type);
        text += head;
        for (DWORD i = 0; i < size; ++i) {
            char hex[4];
            wsprintfA(hex, "%02x", data[i]);
            text += hex;
        }
        text += " ";
    }
    return text;
}

bool MarkStartAtLogonDisabled()
{
    // 03 and a time stamp: turned off by the user.
    const BYTE disabled[12] = {3, 0, 0, 0, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0xD7, 0x01};
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, StartupApprovedKeyPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return false;
    bool marked = RegSetValueExA(key, "Lumo2", 0, REG_BINARY, disabled, sizeof(disabled)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return marked;
}

bool BecomeTheShell()
{
    typedef BOOL(WINAPI * SetShellWindowFn)(HWND);
    SetShellWindowFn setShellWindow =
        reinterpret_cast<SetShellWindowFn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetShellWindow")));
    HWND shell = CreateWindowA("STATIC", "shell", 0, 0, 0, 0, 0, NULL, NULL, GetModuleHandleA(NULL), NULL);
    return setShellWindow && shell && setShellWindow(shell) && GetShellWindow() == shell;
}

std::string OwnSid()
{
    std::string sid;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return sid;
    BYTE buffer[256];
    DWORD size = 0;
    char* text = NULL;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

void RemoveInstallation(const std::vector<std::string>& folders)
{
    EndRunningLumo(10000);
    // Under Wine a folder can stay in use for a moment after the setup
    // program that worked in it has ended, so it is tried until it is gone.
    for (const std::string& folder : folders) {
        WaitUntil(
            [&] {
                for (const std::string& name : FolderEntries(folder))
                    DeleteFileA((folder + "\\" + name).c_str());
                return RemoveDirectoryA(folder.c_str()) || !FolderExists(folder);
            },
            10000);
    }
    DeleteFileA(StartMenuShortcut().c_str());
    RegDeleteKeyValueA(HKEY_CURRENT_USER, RunKeyPath, "Lumo2");
    RegDeleteKeyValueA(HKEY_CURRENT_USER, StartupApprovedKeyPath, "Lumo2");
    RegDeleteTreeA(HKEY_CURRENT_USER, UninstallKeyPath);
}
