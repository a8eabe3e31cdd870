// Prints what the running Lumo2.exe costs, beside a minimal tray program
// that only has a hidden window, a 100 ms timer and an icon: press-to-key
// latency, start-up time to the tray icon, working set, idle CPU, file size.
//
//   app_bench [presses] [idle seconds]      defaults: 200 presses, 60 s
#include "app/action_mode.h"
#include "res/resource.h"
#include "standins/sim_state/sim_state.h"
#include "tests/app/lumo_process.h"
#include "tests/keyboard_hook.h"
#include <algorithm>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

typedef HRESULT (*RegisterCameraFn)(int, const char*, DWORD);
typedef void (*UnregisterAllFn)();

static double CounterToMs(LONGLONG counter)
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    return counter * 1000.0 / frequency.QuadPart;
}

static LONGLONG Counter()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

static double Percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p * (values.size() - 1) + 0.5);
    return values[index];
}

static void MeasureLatency(int presses)
{
    HMODULE standin = LoadLibraryA("lumo2_sim_camera.dll");
    SimState* sim = OpenSimState();
    if (!standin || !sim) {
        printf("  (stand-in camera missing)\n");
        return;
    }
    auto unregisterAll = reinterpret_cast<UnregisterAllFn>(
        reinterpret_cast<void*>(GetProcAddress(standin, "SimUnregisterAllCameras")));
    auto add = reinterpret_cast<RegisterCameraFn>(
        reinterpret_cast<void*>(GetProcAddress(standin, "SimRegisterCamera")));
    unregisterAll();
    add(0, "USB 2820 Video", 0);
    sim->euConnectedResult = 0;
    sim->registers[0x0C] = 0;
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);  // mode Space

    LumoProcess lumo;
    if (!lumo.Start()) {
        printf("  (Lumo2.exe did not start)\n");
        return;
    }
    KeyboardHook hook;
    PumpMessagesFor(500);
    std::vector<double> latencies;
    srand(12345);
    for (int i = 0; i < presses; ++i) {
        PumpMessagesFor(rand() % 100);  // presses land anywhere in the poll period
        LONGLONG pressed = Counter();
        sim->registers[0x0C] |= 0x20;
        std::vector<KeyEvent> events = hook.WaitFor(2, 2000);
        if (events.size() < 2) {
            printf("  press %d: no keystroke within 2 s\n", i);
            continue;
        }
        (void)events;
        latencies.push_back(CounterToMs(hook.LastEventCounter() - pressed));
    }
    printf("  press to last keystroke (capture-driver route, mode Space, %zu presses):\n",
           latencies.size());
    if (!latencies.empty())
        printf("    median %.1f ms, 99th percentile %.1f ms, min %.1f ms, max %.1f ms"
               " (poll period 100 ms: expect about 50 ms median)\n",
               Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 0.0),
               Percentile(latencies, 1.0));
    lumo.Command(IDM_EXIT);
    lumo.WaitForExit(5000);
    unregisterAll();
}

struct Program {
    const char* name;
    const char* exe;
    const char* windowClass;
    PROCESS_INFORMATION info;
    std::vector<double> startMs;
    SIZE_T workingSet;
    double cpuMs;
};

static std::string Beside(const char* name)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    *(strrchr(path, '\\') + 1) = '\0';
    return std::string(path) + name;
}

static bool IconShown(HWND window)
{
    NOTIFYICONDATAA data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

// Starts the program and returns when its icon is in the notification area.
static bool StartToIcon(Program& program, double* ms)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    LONGLONG start = Counter();
    if (!CreateProcessA(Beside(program.exe).c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &program.info))
        return false;
    for (int i = 0; i < 20000; ++i) {
        HWND window = FindProcessWindow(program.info.dwProcessId, program.windowClass);
        if (window && IconShown(window)) {
            *ms = CounterToMs(Counter() - start);
            return true;
        }
        Sleep(1);
    }
    return false;
}

static void Stop(Program& program)
{
    HWND window = FindProcessWindow(program.info.dwProcessId, program.windowClass);
    if (window)
        PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(program.info.hProcess, 5000) != WAIT_OBJECT_0)
        TerminateProcess(program.info.hProcess, 1);
    CloseHandle(program.info.hProcess);
    CloseHandle(program.info.hThread);
}

// Wine reports no CPU times for other processes, so they are read from the
// host's /proc (through Wine's Z: drive): user plus system time of the host
// process whose command line ends in the program's name, in 10 ms ticks.
static double ProcessCpuMs(const char* exe)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA("Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE)
        return -1;
    double result = -1;
    do {
        if (entry.cFileName[0] < '0' || entry.cFileName[0] > '9')
            continue;
        std::string dir = std::string("Z:\\proc\\") + entry.cFileName;
        char cmdline[1024] = {0};
        FILE* file = fopen((dir + "\\cmdline").c_str(), "rb");
        if (!file)
            continue;
        size_t length = fread(cmdline, 1, sizeof(cmdline) - 1, file);
        fclose(file);
        std::string command(cmdline, strnlen(cmdline, length));
        if (command.size() < strlen(exe) || command.compare(command.size() - strlen(exe), strlen(exe), exe) != 0)
            continue;
        file = fopen((dir + "\\stat").c_str(), "rb");
        if (!file)
            continue;
        char stat[1024] = {0};
        fread(stat, 1, sizeof(stat) - 1, file);
        fclose(file);
        // Fields 14 and 15, counted after the parenthesised name.
        const char* fields = strrchr(stat, ')');
        unsigned long long user = 0, system = 0;
        if (fields && sscanf(fields + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                             &system) == 2)
            result = (user + system) * 10.0;
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return result;
}

static LONGLONG FileSize(const char* exe)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(Beside(exe).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (LONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int main(int argc, char** argv)
{
    int presses = argc > 1 ? atoi(argv[1]) : 200;
    int idleSeconds = argc > 2 ? atoi(argv[2]) : 60;

    printf("Lumo2.exe under Wine:\n");
    MeasureLatency(presses);

    // Start-up with a camera on the capture-driver route, as in a clinic.
    HMODULE standin = LoadLibraryA("lumo2_sim_camera.dll");
    if (standin)
        reinterpret_cast<RegisterCameraFn>(reinterpret_cast<void*>(GetProcAddress(standin, "SimRegisterCamera")))(
            0, "USB 2820 Video", 0);

    Program programs[2] = {{"Lumo2.exe", "Lumo2.exe", "Lumo", {}, {}, 0, 0},
                           {"minimal tray", "minimal_tray.exe", "MinimalTray", {}, {}, 0, 0}};
    const int starts = 5;
    for (int run = 0; run < starts; ++run) {
        for (Program& program : programs) {
            double ms = 0;
            if (StartToIcon(program, &ms))
                program.startMs.push_back(ms);
            if (run < starts - 1)
                Stop(program);
        }
    }
    // Both keep running side by side for the working set and idle CPU.
    Sleep(1000);
    double cpuStart[2];
    for (int i = 0; i < 2; ++i) {
        PROCESS_MEMORY_COUNTERS memory = {};
        memory.cb = sizeof(memory);
        GetProcessMemoryInfo(programs[i].info.hProcess, &memory, sizeof(memory));
        programs[i].workingSet = memory.WorkingSetSize;
        cpuStart[i] = ProcessCpuMs(programs[i].exe);
    }
    Sleep(idleSeconds * 1000);
    for (int i = 0; i < 2; ++i) {
        programs[i].cpuMs = ProcessCpuMs(programs[i].exe) - cpuStart[i];
        Stop(programs[i]);
    }

    printf("\n  %-30s %14s %14s %8s\n", "", programs[0].name, programs[1].name, "ratio");
    double start0 = programs[0].startMs.empty() ? 0 : Percentile(programs[0].startMs, 0.5);
    double start1 = programs[1].startMs.empty() ? 0 : Percentile(programs[1].startMs, 0.5);
    printf("  %-30s %11.1f ms %11.1f ms %8.2f\n", "start-up to tray icon (median)", start0, start1,
           start1 > 0 ? start0 / start1 : 0);
    printf("  %-30s %11.0f KB %11.0f KB %8.2f\n", "working set after start-up",
           programs[0].workingSet / 1024.0, programs[1].workingSet / 1024.0,
           programs[1].workingSet ? double(programs[0].workingSet) / programs[1].workingSet : 0);
    char idle[64];
    snprintf(idle, sizeof(idle), "CPU time over %d s idle (*)", idleSeconds);
    printf("  %-30s %11.1f ms %11.1f ms %8.2f\n", idle, programs[0].cpuMs, programs[1].cpuMs,
           programs[1].cpuMs > 0 ? programs[0].cpuMs / programs[1].cpuMs : 0);
    LONGLONG size0 = FileSize(programs[0].exe), size1 = FileSize(programs[1].exe);
    printf("  %-30s %11.1f KB %11.1f KB %8.2f\n", "file size", size0 / 1024.0, size1 / 1024.0,
           size1 > 0 ? double(size0) / size1 : 0);
    printf("  (*) from the host's /proc, in 10 ms ticks\n");
    if (standin)
        reinterpret_cast<UnregisterAllFn>(reinterpret_cast<void*>(GetProcAddress(standin, "SimUnregisterAllCameras")))();
    return 0;
}
