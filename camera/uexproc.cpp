// Run-time binding of UExProc.dll. The vendor never said which calling
// convention its functions use, so every call goes through CallKeepingStack,
// and the decorated __stdcall export names are tried when the plain ones are
// missing.
#include "camera/uexproc.h"
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
    // A library whose own dependencies are missing must not put up the
    // system's error box; it simply counts as absent.
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    // With a full path, the library's own dependencies are looked for beside it.
    HMODULE module = LoadLibraryExA(path, NULL, strchr(path, '\\') ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
    SetThreadErrorMode(oldMode, NULL);
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

bool BindExtensionUnitLibrary()
{
    char path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        char* slash = strrchr(path, '\\');
        if (slash) {
            lstrcpyA(slash + 1, "UExProc.dll");
            if (BindExtensionUnitLibrary(path))
                return true;
        }
    }
    return BindExtensionUnitLibrary("UExProc.dll");
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
