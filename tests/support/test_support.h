// Small helpers every test program shares: the folder it runs from, and the
// counts that long runs (scripts/soak.sh) set in the environment.
#pragma once
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <string>

// The folder of this test program, without a trailing backslash: bin of the
// build tree, where Lumo2.exe and the stand-ins are built beside it.
inline std::string BinFolder()
{
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(NULL, path, MAX_PATH);
    if (char* slash = strrchr(path, '\\'))
        *slash = '\0';
    return path;
}

// The number in the environment variable, or def when it is not set.
inline unsigned EnvNumber(const char* name, unsigned def)
{
    const char* text = getenv(name);
    return text && *text ? static_cast<unsigned>(strtoul(text, NULL, 10)) : def;
}

// Text in the system's code page as UTF-16.
inline std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(size_t(MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], int(wide.size()))));
    if (!wide.empty())
        wide.pop_back();
    return wide;
}

// UTF-16 as UTF-8, which is how the log and the report spell it.
inline std::string Utf8(const std::wstring& text)
{
    std::string bytes(text.size() * 3 + 1, '\0');
    bytes.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], int(bytes.size()), NULL, NULL)));
    if (!bytes.empty())
        bytes.pop_back();
    return bytes;
}

// The whole of a file, read while the program may still be writing it; ""
// when it cannot be opened.
inline std::string FileText(const std::wstring& path)
{
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    text.resize(GetFileSize(file, NULL));
    DWORD read = 0;
    ReadFile(file, &text[0], DWORD(text.size()), &read, NULL);
    CloseHandle(file);
    text.resize(read);
    return text;
}

inline std::string FileText(const std::string& path)
{
    return FileText(Wide(path));
}
