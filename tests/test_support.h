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

// The whole of a file, read while the program may still be writing it; ""
// when it cannot be opened.
inline std::string FileText(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
