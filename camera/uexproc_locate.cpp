// Temporary until the search's own locate lands.
#include "camera/uexproc.h"
#include <stdlib.h>
#include <string.h>

static bool RunsElevated()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
                    elevation.TokenIsElevated;
    CloseHandle(token);
    return elevated;
}

static bool LibraryInFolder(const char* folder, size_t length, char* path, DWORD size)
{
    if (length == 0 || length + 13 >= size || length + 13 >= MAX_PATH)
        return false;
    char candidate[MAX_PATH];
    memcpy(candidate, folder, length);
    lstrcpyA(candidate + length, "\\UExProc.dll");
    DWORD attributes = GetFileAttributesA(candidate);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    lstrcpynA(path, candidate, int(size));
    return true;
}

// Absolute folders on a local drive only: a network folder on PATH is no
// place to take a camera library from.
static bool IsLocalFullPath(const char* folder, size_t length)
{
    if (length < 3 || folder[1] != ':' || folder[2] != '\\')
        return false;
    char root[4] = {folder[0], ':', '\\', 0};
    return GetDriveTypeA(root) != DRIVE_REMOTE;
}

static bool LibraryOnPath(char* path, DWORD size)
{
    DWORD length = GetEnvironmentVariableA("PATH", NULL, 0);
    char* list = length ? static_cast<char*>(malloc(length)) : NULL;
    if (!list)
        return false;
    bool found = false;
    if (GetEnvironmentVariableA("PATH", list, length) < length) {
        for (char* entry = list; *entry && !found;) {
            char* end = strchr(entry, ';');
            size_t count = end ? size_t(end - entry) : strlen(entry);
            char* folder = entry;
            if (count >= 2 && folder[0] == '"' && folder[count - 1] == '"') {
                ++folder;
                count -= 2;
            }
            found = IsLocalFullPath(folder, count) && LibraryInFolder(folder, count, path, size);
            if (!end)
                break;
            entry = end + 1;
        }
    }
    free(list);
    return found;
}

bool LocateExtensionUnitLibrary(char* path, DWORD size)
{
    char folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        char* slash = strrchr(folder, '\\');
        if (slash && LibraryInFolder(folder, size_t(slash - folder), path, size))
            return true;
    }
    length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH && LibraryInFolder(folder, length, path, size))
        return true;
    return !RunsElevated() && LibraryOnPath(path, size);
}
