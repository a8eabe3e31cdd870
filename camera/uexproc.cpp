// Run-time binding of UExProc.dll. The vendor never said which calling
// convention its functions use, so every call goes through CallKeepingStack,
// and the decorated __stdcall export names are tried when the plain ones are
// missing.
#include "camera/uexproc.h"
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

bool BindExtensionUnitLibrary(const char* path)
{
    UnbindExtensionUnitLibrary();
    HMODULE module = LoadLibraryQuietly(path);
    if (!module)
        return false;
    FARPROC isConnected = FindExport(module, IsConnectedNames);
    FARPROC sendCommand = FindExport(module, SendCommandNames);
    FARPROC release = FindExport(module, ReleaseNames);
    if (!isConnected || !sendCommand || !release) {
        FreeLibrary(module);
        return false;
    }
    LibraryModule = module;
    IsConnectedFn = isConnected;
    SendCommandFn = sendCommand;
    ReleaseFn = release;
    return true;
}

static const char LibraryName[] = "UExProc.dll";

IntegrityFn ExtensionUnitSearchIntegrity = LookUpOwnIntegrityOfSystem;
DriveTypeFn ExtensionUnitDriveType = GetDriveTypeA;

// The library's full path in folder, given by its first length characters.
static bool ComposeLibraryPath(const char* folder, size_t length, char (&path)[MAX_PATH])
{
    if (length == 0 || length + 1 + sizeof(LibraryName) > sizeof(path))
        return false;
    memcpy(path, folder, length);
    if (path[length - 1] != '\\' && path[length - 1] != '/')
        path[length++] = '\\';
    memcpy(path + length, LibraryName, sizeof(LibraryName));
    return true;
}

bool IsSearchablePathFolder(const char* folder, size_t length)
{
    // A relative folder ("." or "bin") would be looked up from the current
    // folder, which is exactly what must not be searched. A network folder,
    // named (\\server\share) or mapped, would stall the one GUI thread on
    // every device change while its server cannot be reached.
    if (length < 3 || folder[1] != ':' || (folder[2] != '\\' && folder[2] != '/'))
        return false;
    char root[4] = {folder[0], ':', '\\', 0};
    return ExtensionUnitDriveType(root) != DRIVE_REMOTE;
}

// Each searchable folder of the list, in its order.
static bool WalkPathList(const char* list, FolderVisitor visit, void* context)
{
    for (const char* entry = list; *entry;) {
        const char* end = strchr(entry, ';');
        size_t size = end ? size_t(end - entry) : strlen(entry);
        const char* folder = entry;
        if (size >= 2 && folder[0] == '"' && folder[size - 1] == '"') {
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
    DWORD size = GetEnvironmentVariableA("PATH", NULL, 0);
    if (size == 0)
        return false;
    char* list = static_cast<char*>(malloc(size));
    if (!list)
        return false;
    DWORD length = GetEnvironmentVariableA("PATH", list, size);
    bool found = length > 0 && length < size && WalkPathList(list, visit, context);
    free(list);
    return found;
}

// The folder of Lumo2.exe, the system folder and, at the ordinary level
// only, the folders on PATH: the order the system searched before the
// current folder was taken out of its search, without that folder. PATH
// holds folders any user may write (C:\Python27, the user's own entries);
// a library taken from there by an elevated Lumo2 would run with
// administrator rights for whoever planted it.
bool WalkExtensionUnitFolders(FolderVisitor visit, void* context)
{
    char folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        char* slash = strrchr(folder, '\\');
        if (slash && visit(folder, size_t(slash - folder), context))
            return true;
    }
    length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH && visit(folder, length, context))
        return true;
    // A level that cannot be read counts as elevated: the safe side.
    DWORD level = ExtensionUnitSearchIntegrity();
    if (level == 0 || level >= SECURITY_MANDATORY_HIGH_RID)
        return false;
    return WalkPath(visit, context);
}

static bool BindFromFolder(const char* folder, size_t length, void*)
{
    char path[MAX_PATH];
    return ComposeLibraryPath(folder, length, path) && BindExtensionUnitLibrary(path);
}

bool BindExtensionUnitLibrary()
{
    return WalkExtensionUnitFolders(BindFromFolder, NULL);
}

struct LocatedPath {
    char* path;
    DWORD size;
    bool failed;
};

static bool FindInFolder(const char* folder, size_t length, void* context)
{
    char path[MAX_PATH];
    if (!ComposeLibraryPath(folder, length, path))
        return false;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    // The first copy decides, as in binding: one that does not fit is not
    // passed over for a later folder.
    LocatedPath* located = static_cast<LocatedPath*>(context);
    size_t pathLength = strlen(path);
    if (pathLength < located->size)
        memcpy(located->path, path, pathLength + 1);
    else
        located->failed = true;
    return true;
}

bool LocateExtensionUnitLibrary(char* path, DWORD size)
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
