// Run-time binding of UExProc.dll. The vendor never said which calling
// convention its functions use, so every call goes through CallKeepingStack,
// and the decorated __stdcall export names are tried when the plain ones are
// missing.
#include "camera/uexproc.h"
#include "platform/dll_search.h"
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

// Binds UExProc.dll from folder, given by its first length characters.
static bool BindFromFolder(const char* folder, size_t length)
{
    char path[MAX_PATH];
    if (length == 0 || length + 1 + sizeof(LibraryName) > sizeof(path))
        return false;
    memcpy(path, folder, length);
    if (path[length - 1] != '\\' && path[length - 1] != '/')
        path[length++] = '\\';
    memcpy(path + length, LibraryName, sizeof(LibraryName));
    return BindExtensionUnitLibrary(path);
}

// A relative folder on PATH ("." or "bin") would be looked up from the
// current folder, which is exactly what must not be searched.
static bool IsFullPath(const char* folder, size_t length)
{
    if (length >= 3 && folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/'))
        return true;
    return length >= 2 && folder[0] == '\\' && folder[1] == '\\';
}

// Each absolute folder of the list, in its order.
static bool BindFromPathList(const char* path)
{
    for (const char* entry = path; *entry;) {
        const char* end = strchr(entry, ';');
        size_t size = end ? size_t(end - entry) : strlen(entry);
        const char* folder = entry;
        if (size >= 2 && folder[0] == '"' && folder[size - 1] == '"') {
            ++folder;
            size -= 2;
        }
        if (IsFullPath(folder, size) && BindFromFolder(folder, size))
            return true;
        if (!end)
            break;
        entry = end + 1;
    }
    return false;
}

static bool BindFromPath()
{
    // From the heap: a buffer for the longest PATH (32767 characters) kept
    // in the program would add as much to Lumo2.exe.
    DWORD size = GetEnvironmentVariableA("PATH", NULL, 0);
    if (size == 0)
        return false;
    char* path = static_cast<char*>(malloc(size));
    if (!path)
        return false;
    DWORD length = GetEnvironmentVariableA("PATH", path, size);
    bool bound = length > 0 && length < size && BindFromPathList(path);
    free(path);
    return bound;
}

bool BindExtensionUnitLibrary()
{
    // Each place by full path, in the order the system searched before the
    // current folder was taken out of its search, and without that folder.
    char folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        char* slash = strrchr(folder, '\\');
        if (slash && BindFromFolder(folder, size_t(slash - folder)))
            return true;
    }
    length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH && BindFromFolder(folder, length))
        return true;
    return BindFromPath();
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
