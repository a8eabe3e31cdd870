// Run-time binding of UExProc.dll. The vendor never said which calling
// convention its functions use, so every call goes through CallKeepingStack,
// and the decorated __stdcall export names are tried when the plain ones are
// missing.
#include "camera/uexproc.h"
#include "platform/diag_log.h"
#include "platform/dll_search.h"
#include "platform/integrity.h"
#include <stdlib.h>
#include <string.h>

#if !defined(__i386__)
#error "CallKeepingStack is written for 32-bit x86"
#endif

// ebp is preserved by every x86 convention, so it still marks this frame
// after the call whatever the callee did to esp.
asm(".section .text$CallKeepingStack,\"x\"\n"
    ".globl _CallKeepingStack\n"
    "_CallKeepingStack:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %esi\n"
    "    movl 12(%ebp), %ecx\n"  // argc
    "    movl 16(%ebp), %esi\n"  // args
    "    leal (,%ecx,4), %eax\n"
    "    subl %eax, %esp\n"
    "    andl $-16, %esp\n"
    "    jecxz 2f\n"
    "1:  movl -4(%esi,%ecx,4), %eax\n"
    "    movl %eax, -4(%esp,%ecx,4)\n"
    "    loop 1b\n"
    "2:  call *8(%ebp)\n"
    "    leal -4(%ebp), %esp\n"
    "    popl %esi\n"
    "    popl %ebp\n"
    "    ret\n"
    ".text\n");

struct ExportNames {
    const char* plain;
    const char* decorated;  // as a Microsoft compiler exports __stdcall
};

static const ExportNames IsConnectedNames = {"isConnectedEVA", "_isConnectedEVA@0"};
static const ExportNames SendCommandNames = {"sendExtensionUnitCommand", "_sendExtensionUnitCommand@16"};
static const ExportNames ReleaseNames = {"releaseEVA", "_releaseEVA@0"};

static HMODULE LibraryModule;
static void* LibraryFolderCookie;
static FARPROC IsConnectedFn;
static FARPROC SendCommandFn;
static FARPROC ReleaseFn;

static FARPROC FindExport(HMODULE module, const ExportNames& names)
{
    FARPROC fn = GetProcAddress(module, names.plain);
    if (!fn)
        fn = GetProcAddress(module, names.decorated);
    return fn;
}

bool BindExtensionUnitLibrary(const WCHAR* path)
{
    UnbindExtensionUnitLibrary();
    // The library may load others by name, in its DllMain or later; they
    // are to come from where it came from, a folder already trusted with
    // the library itself, not from the application's folder.
    WCHAR folder[MAX_PATH];
    const WCHAR* slash = wcsrchr(path, L'\\');
    if (slash && slash > path && size_t(slash - path) < MAX_PATH) {
        memcpy(folder, path, (slash - path) * sizeof(WCHAR));
        folder[slash - path] = 0;
        LibraryFolderCookie = AddLibraryFolder(folder);
    }
    HMODULE module = LoadLibraryQuietly(path);
    FARPROC isConnected = module ? FindExport(module, IsConnectedNames) : NULL;
    FARPROC sendCommand = module ? FindExport(module, SendCommandNames) : NULL;
    FARPROC release = module ? FindExport(module, ReleaseNames) : NULL;
    if (!isConnected || !sendCommand || !release) {
        if (module)
            FreeLibrary(module);
        RemoveLibraryFolder(LibraryFolderCookie);
        LibraryFolderCookie = NULL;
        return false;
    }
    LibraryModule = module;
    IsConnectedFn = isConnected;
    SendCommandFn = sendCommand;
    ReleaseFn = release;
    return true;
}

static const WCHAR LibraryName[] = L"UExProc.dll";
const size_t LibraryNameLength = sizeof(LibraryName) / sizeof(WCHAR);  // with its terminator

IntegrityFn ExtensionUnitSearchIntegrity = LookUpOwnSearchLevelOfSystem;
DriveTypeFn ExtensionUnitDriveType = GetDriveTypeW;

// The library's full path in folder, given by its first length characters.
static bool ComposeLibraryPath(const WCHAR* folder, size_t length, WCHAR (&path)[MAX_PATH])
{
    if (length == 0 || length + 1 + LibraryNameLength > MAX_PATH)
        return false;
    memcpy(path, folder, length * sizeof(WCHAR));
    if (path[length - 1] != L'\\' && path[length - 1] != L'/')
        path[length++] = L'\\';
    memcpy(path + length, LibraryName, sizeof(LibraryName));
    return true;
}

static bool IsFile(const WCHAR* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsSearchablePathFolder(const WCHAR* folder, size_t length)
{
    // A relative folder ("." or "bin") would be looked up from the current
    // folder, which is exactly what must not be searched. A network folder,
    // named (\\server\share) or mapped, would stall the one GUI thread on
    // every device change while its server cannot be reached.
    if (length < 3 || folder[1] != L':' || (folder[2] != L'\\' && folder[2] != L'/'))
        return false;
    WCHAR root[4] = {folder[0], L':', L'\\', 0};
    return ExtensionUnitDriveType(root) != DRIVE_REMOTE;
}

// Each searchable folder of the list, in its order.
static bool WalkPathList(const WCHAR* list, FolderVisitor visit, void* context)
{
    for (const WCHAR* entry = list; *entry;) {
        const WCHAR* end = wcschr(entry, L';');
        size_t size = end ? size_t(end - entry) : size_t(lstrlenW(entry));
        const WCHAR* folder = entry;
        if (size >= 2 && folder[0] == L'"' && folder[size - 1] == L'"') {
            ++folder;
            size -= 2;
        }
        if (IsSearchablePathFolder(folder, size) && visit(folder, size, context))
            return true;
        if (!end)
            break;
        entry = end + 1;
    }
    return false;
}

static bool WalkPath(FolderVisitor visit, void* context)
{
    // From the heap: a buffer for the longest PATH (32767 characters) kept
    // in the program would add as much to Lumo2.exe.
    DWORD size = GetEnvironmentVariableW(L"PATH", NULL, 0);
    if (size == 0)
        return false;
    WCHAR* list = static_cast<WCHAR*>(malloc(size * sizeof(WCHAR)));
    if (!list)
        return false;
    DWORD length = GetEnvironmentVariableW(L"PATH", list, size);
    bool found = length > 0 && length < size && WalkPathList(list, visit, context);
    free(list);
    return found;
}

static bool IsElevatedLevel(DWORD level)
{
    // A level that cannot be read counts as elevated: the safe side.
    return level == 0 || level >= SECURITY_MANDATORY_HIGH_RID;
}

// The folder of Lumo2.exe, the system folder and, at the ordinary level
// only, the folders on PATH: the order the system searched before the
// current folder was taken out of its search, without that folder. An
// elevated Lumo2 passes over its own folder unless an administrator put it
// there (under Program Files), and never looks at PATH, which holds folders
// any user may write (C:\Python27, the user's own entries): a library taken
// from there would run with administrator rights for whoever planted it.
bool WalkExtensionUnitFolders(FolderVisitor visit, void* context)
{
    DWORD level = ExtensionUnitSearchIntegrity();
    WCHAR folder[MAX_PATH];
    if (ExeFolder(folder, MAX_PATH) && MayLoadFromExeFolder(level, folder) &&
        visit(folder, size_t(lstrlenW(folder)), context))
        return true;
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH && visit(folder, length, context))
        return true;
    if (IsElevatedLevel(level))
        return false;
    return WalkPath(visit, context);
}

static bool BindFromFolder(const WCHAR* folder, size_t length, void*)
{
    WCHAR path[MAX_PATH];
    return ComposeLibraryPath(folder, length, path) && BindExtensionUnitLibrary(path);
}

// Says once per run that a copy beside Lumo2.exe was passed over and why:
// without it, a library that plainly sits beside the program and is never
// used would leave support guessing.
static void LogIgnoredCopyBesideExe()
{
    static bool logged;
    if (logged)
        return;
    WCHAR folder[MAX_PATH], path[MAX_PATH];
    DWORD level = ExtensionUnitSearchIntegrity();
    if (!ExeFolder(folder, MAX_PATH) || MayLoadFromExeFolder(level, folder) ||
        !ComposeLibraryPath(folder, lstrlenW(folder), path) || !IsFile(path))
        return;
    logged = true;
    LogLineW(L"camera: %s ignored: Lumo2 runs elevated and its folder is not under Program Files, "
             L"so the library is taken from the system folder only",
             path);
}

bool BindExtensionUnitLibrary()
{
    LogIgnoredCopyBesideExe();
    return WalkExtensionUnitFolders(BindFromFolder, NULL);
}

struct LocatedPath {
    WCHAR* path;
    DWORD size;
    bool failed;
};

static bool FindInFolder(const WCHAR* folder, size_t length, void* context)
{
    WCHAR path[MAX_PATH];
    if (!ComposeLibraryPath(folder, length, path) || !IsFile(path))
        return false;
    // The first copy decides, as in binding: one that does not fit is not
    // passed over for a later folder.
    LocatedPath* located = static_cast<LocatedPath*>(context);
    size_t pathLength = size_t(lstrlenW(path));
    if (pathLength < located->size)
        memcpy(located->path, path, (pathLength + 1) * sizeof(WCHAR));
    else
        located->failed = true;
    return true;
}

bool LocateExtensionUnitLibrary(WCHAR* path, DWORD size)
{
    LocatedPath located = {path, size, false};
    return path && WalkExtensionUnitFolders(FindInFolder, &located) && !located.failed;
}

HMODULE ExtensionUnitLibrary()
{
    return LibraryModule;
}

void UnbindExtensionUnitLibrary()
{
    if (LibraryModule)
        FreeLibrary(LibraryModule);
    LibraryModule = NULL;
    RemoveLibraryFolder(LibraryFolderCookie);
    LibraryFolderCookie = NULL;
    IsConnectedFn = SendCommandFn = ReleaseFn = NULL;
}

int ExtensionUnitIsConnected()
{
    // Looked for again on each connect while missing: the camera software may
    // be installed while Lumo2 runs, and its installation announces devices.
    if (!LibraryModule && !BindExtensionUnitLibrary())
        return 0;
    return CallKeepingStack(IsConnectedFn, 0, NULL);
}

int ExtensionUnitSendCommand(int command, int arg, void* data, int length)
{
    if (!LibraryModule)
        return 0;
    int args[4] = {command, arg, int(reinterpret_cast<INT_PTR>(data)), length};
    return CallKeepingStack(SendCommandFn, 4, args);
}

void ExtensionUnitRelease()
{
    if (LibraryModule)
        CallKeepingStack(ReleaseFn, 0, NULL);
}
