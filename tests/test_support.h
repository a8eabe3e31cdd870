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
