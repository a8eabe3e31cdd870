// Prints what the running Lumo2.exe costs, each figure beside a floor program
// that does the least the same job needs:
// - press-to-first-key latency beside latency_floor.exe, which polls the same
//   simulated latch at the same period and sends one key, over the same
//   presses: at the default 100 ms, and at a PollInterval of 20 ms;
// - how fast the tray window answers while a vendor call hangs;
// - start-up time, working set, idle CPU and file size beside
//   minimal_tray.exe, a tray program that initialises COM and walks the video
//   input devices once, as any camera utility must; idle CPU also beside the
//   latency floor, at 100 ms and at 20 ms.
//
//   app_bench [presses] [idle seconds]      defaults: 200 presses, 60 s
//   app_bench startup [starts]              start-up and working set only
#include "platform/diag_log.h"
#include "settings/action_mode.h"
#include "settings/policy.h"
#include "settings/program_rules.h"
#include "standins/sim_state/sim_state.h"
#include "tests/support/lumo_process.h"
#include <algorithm>
#include <map>
#include <psapi.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

typedef HRESULT (*RegisterCameraFn)(int, const char*, DWORD);
typedef void (*UnregisterAllFn)();

// The faster poll a user may choose with PollInterval, measured beside a
// floor that polls as fast.
static const int FastPollMs = 20;

// Lumo2's PollInterval; 0 removes it, for the default 100 ms.
static void SetPollInterval(DWORD ms)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return;
    if (ms)
        RegSetValueExA(key, "PollInterval", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ms), sizeof(ms));
    else
        RegDeleteValueA(key, "PollInterval");
    RegCloseKey(key);
}

static LONGLONG Frequency()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

static double CounterToMs(LONGLONG counter)
{
    return counter * 1000.0 / Frequency();
}

static LONGLONG MsToCounter(double ms)
{
    return static_cast<LONGLONG>(ms * Frequency() / 1000.0);
}

static LONGLONG Counter()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

static double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p * (values.size() - 1) + 0.5);
    return values[index];
}

static double Mean(const std::vector<double>& values)
{
    double sum = 0;
    for (double value : values)
        sum += value;
    return values.empty() ? 0 : sum / values.size();
}

static std::string Beside(const char* name)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    *(strrchr(path, '\\') + 1) = '\0';
    return std::string(path) + name;
}

struct Program {
    const char* name;
    const char* exe;
    const char* windowClass;
    PROCESS_INFORMATION info;
    const char* arguments;  // or null
};

static bool Launch(Program& program)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    std::string path = Beside(program.exe);
    std::string commandLine = "\"" + path + "\"";
    if (program.arguments)
        commandLine += std::string(" ") + program.arguments;
    return CreateProcessA(path.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                          &program.info) != FALSE;
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
    program.info = PROCESS_INFORMATION();
}

// ---- Press-to-first-key latency -------------------------------------------

// The counter reading of the first key event after a press; the hook
// swallows every event so that the keys land nowhere.
static LONGLONG FirstKeyCounter;

static LRESULT CALLBACK FirstKeyHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code != HC_ACTION)
        return CallNextHookEx(NULL, code, wParam, lParam);
    if (!FirstKeyCounter)
        FirstKeyCounter = Counter();
    return 1;
}

// Runs this thread's messages (the hook is called through them) until the
// counter reaches the deadline; the last one or two milliseconds are spun,
// since a wait may end a millisecond late.
static void PumpUntil(LONGLONG deadline)
{
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        double left = CounterToMs(deadline - Counter());
        if (left <= 0)
            return;
        if (left > 2)
            MsgWaitForMultipleObjects(0, NULL, FALSE, static_cast<DWORD>(left - 1.5), QS_ALLINPUT);
    }
}

static void PumpUntilKey(LONGLONG deadline)
{
    while (!FirstKeyCounter && Counter() < deadline) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (!FirstKeyCounter)
            MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
    }
}

// The moments within the poll period at which the presses land: evenly
// spread in steps of period/presses, in a fixed shuffled order. A program
// whose timer ticks at that period then sees the same spread of waits for its
// next tick whatever the phase of its timer, so two programs' latencies
// differ only by what they do between tick and key, to within one step.
// The plan comes in two halves, each evenly spread in steps twice as long:
// each program runs twice, once per half, so that the phase of its timer,
// new with each run, and any drift in the machine's load even out.
static std::vector<double> PressPlan(int presses, int half, double periodMs)
{
    std::vector<double> offsets;
    for (int i = half; i < presses; i += 2)
        offsets.push_back((i + 0.5) * periodMs / presses);
    unsigned seed = 12345 + half;
    for (size_t i = offsets.size(); i > 1; --i) {
        seed = seed * 1103515245u + 12345u;
        std::swap(offsets[i - 1], offsets[(seed >> 8) % i]);
    }
    return offsets;
}

// Latches each press of the plan into the simulated camera and times the
// first key that follows it. Presses are three poll periods apart, each at
// its planned moment within the period.
static void TimePresses(SimState* sim, const std::vector<double>& plan, double periodMs,
                        std::vector<double>* latencies, int* missed)
{
    LONGLONG base = Counter() + MsToCounter(500);
    long long slot = 0;
    for (double offset : plan) {
        LONGLONG pressAt;
        do {
            slot += 3;
            pressAt = base + MsToCounter(slot * periodMs + offset);
        } while (pressAt < Counter() + MsToCounter(5));
        PumpUntil(pressAt);
        FirstKeyCounter = 0;
        LONGLONG pressed = Counter();
        sim->registers[LatchRegister] |= LatchBit;
        PumpUntilKey(pressed + MsToCounter(2000));
        if (!FirstKeyCounter) {
            ++*missed;
            sim->registers[LatchRegister] &= static_cast<BYTE>(~LatchBit);
            continue;
        }
        latencies->push_back(CounterToMs(FirstKeyCounter - pressed));
        // The rest of the program's keys arrive before the next press.
        PumpUntil(Counter() + MsToCounter(20));
    }
}

static bool WaitForWindow(Program& program)
{
    for (int i = 0; i < 1000; ++i) {
        if (FindProcessWindow(program.info.dwProcessId, program.windowClass))
            return true;
        if (WaitForSingleObject(program.info.hProcess, 10) == WAIT_OBJECT_0)
            return false;
    }
    return false;
}

struct LatencyFigures {
    std::vector<double> ms;
    int missed;
};

static bool MeasureLatency(SimState* sim, Program program, const std::vector<double>& plan, double periodMs,
                           LatencyFigures* figures)
{
    sim->registers[LatchRegister] = 0;
    if (!Launch(program))
        return false;
    bool started = WaitForWindow(program);
    if (started) {
        HHOOK hook = SetWindowsHookExA(WH_KEYBOARD_LL, FirstKeyHook, GetModuleHandleA(NULL), 0);
        TimePresses(sim, plan, periodMs, &figures->ms, &figures->missed);
        if (hook)
            UnhookWindowsHookEx(hook);
    }
    Stop(program);
    return started;
}

// goals, when given, are the most the median and the 99th percentile may
// be; without them the goal is the floor's own plus 1 ms.
static void PrintLatency(int presses, int periodMs, const LatencyFigures& lumo, const LatencyFigures& floor,
                         const double* goals)
{
    printf("  press to first key, the same %d presses for each, spread evenly over the\n"
           "  %d ms poll period, in two runs of each program (capture-driver route, mode Space):\n",
           presses, periodMs);
    printf("  %-24s %12s %14s %10s %8s%s\n", "", "Lumo2.exe", "latency floor", "Lumo2-floor", "ratio",
           goals ? "   goal" : "");
    const struct {
        const char* name;
        double p;
        int goal;  // index into goals, or -1
    } rows[] = {{"median", 0.5, 0}, {"99th percentile", 0.99, 1}, {"min", 0.0, -1}, {"max", 1.0, -1}};
    for (const auto& row : rows) {
        double a = Percentile(lumo.ms, row.p), b = Percentile(floor.ms, row.p);
        printf("  %-24s %9.2f ms %11.2f ms %7.2f ms %8.3f", row.name, a, b, a - b, b > 0 ? a / b : 0);
        if (goals && row.goal >= 0) {
            bool met = !lumo.ms.empty() && a <= goals[row.goal];
            printf("   at most %.0f ms: %s", goals[row.goal], met ? "met" : "MISSED");
        }
        printf("\n");
    }
    printf("  %-24s %12d %14d\n", "presses without a key", lumo.missed, floor.missed);
    if (!goals) {
        printf("  (goal: Lumo2 at most 1 ms above the floor at the median and the 99th percentile;\n"
               "   the spread of presses resolves %.2f ms)\n",
               double(periodMs) / presses);
        return;
    }
    printf("  (goal: Lumo2 at most %.0f ms at the median and %.0f ms at the 99th percentile, the floor\n"
           "   of a %d ms poll plus 1 ms; the spread of presses resolves %.2f ms)\n",
           goals[0], goals[1], periodMs, double(periodMs) / presses);
    // Half a period's wait at the median leaves the goal 1 ms for the key's
    // way from the poll to the hook, which a busy machine may exceed.
    if (Percentile(floor.ms, 0.5) > goals[0] || Percentile(floor.ms, 0.99) > goals[1])
        printf("  (the floor itself misses it in this run: its keys took %.2f ms at the least)\n",
               Percentile(floor.ms, 0));
}

// Lumo2 at PollInterval periodMs (100: the default, no value) beside the
// floor polling at the same period; how many of Lumo2's presses were timed
// or went without a key.
// aboveFloor, when given, takes Lumo2's median and 99th percentile less the
// floor's of the same run.
static int MeasureLatencyAt(SimState* sim, int presses, int periodMs, const double* goals,
                            double* aboveFloor = NULL)
{
    char period[16];
    snprintf(period, sizeof(period), "%d", periodMs);
    SetPollInterval(periodMs == 100 ? 0 : periodMs);
    LatencyFigures lumo = {}, floor = {};
    const Program lumoProgram = {"Lumo2.exe", "Lumo2.exe", "Lumo", {}, NULL};
    const Program floorProgram = {"latency floor", "latency_floor.exe", "LatencyFloor", {}, period};
    // Lumo2, floor, floor, Lumo2: a steady change in load weighs on both alike.
    const struct {
        const Program* program;
        LatencyFigures* figures;
        int half;
    } runs[] = {{&lumoProgram, &lumo, 0}, {&floorProgram, &floor, 0}, {&floorProgram, &floor, 1},
                {&lumoProgram, &lumo, 1}};
    for (const auto& run : runs)
        if (!MeasureLatency(sim, *run.program, PressPlan(presses, run.half, periodMs), periodMs, run.figures))
            printf("  (%s did not start)\n", run.program->exe);
    SetPollInterval(0);
    PrintLatency(presses, periodMs, lumo, floor, goals);
    for (int i = 0; aboveFloor && i < 2; ++i)
        aboveFloor[i] = Percentile(lumo.ms, i ? 0.99 : 0.5) - Percentile(floor.ms, i ? 0.99 : 0.5);
    return int(lumo.ms.size()) + lumo.missed;
}

// ---- The tray while a vendor call hangs ------------------------------------

static bool WaitFor(const volatile LONG* value, LONG atLeast, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (*value < atLeast) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(5);
    }
    return true;
}

// Lumo2 on the extension-unit route with its vendor call blocked until
// released: the round trip of a WM_NULL sent to the tray window, tried every
// 60 ms so that the tries span the 2 s after which the camera is said not to
// respond (the icon, the tip, the log and the Event Log change then), and
// the time Lumo2 then takes to end while the call still hangs.
static void MeasureTrayDuringHang(SimState* sim)
{
    const int tries = 50;
    const DWORD timeoutMs = 1000;
    printf("  the tray window while a vendor call hangs (extension-unit route, 100 ms poll):\n");
    sim->euConnectedResult = 1;
    Program lumo = {"Lumo2.exe", "Lumo2.exe", "Lumo", {}, NULL};
    if (!Launch(lumo) || !WaitForWindow(lumo)) {
        printf("  (Lumo2.exe did not start)\n");
        if (lumo.info.hProcess)
            Stop(lumo);
        sim->euConnectedResult = 0;
        return;
    }
    HWND tray = FindProcessWindow(lumo.info.dwProcessId, lumo.windowClass);
    // Polling the button, then stuck in the next call.
    bool polling = WaitFor(&sim->euButtonReads, sim->euButtonReads + 2, 5000);
    StartSimHang(sim, SimHangForever);
    bool hanging = WaitFor(&sim->callsHanging, 1, 5000);
    std::vector<double> answers;
    int unanswered = 0;
    LONGLONG hungAt = Counter();
    for (int i = 0; i < tries; ++i) {
        PumpUntil(hungAt + MsToCounter(i * 60.0));
        DWORD_PTR result = 0;
        LONGLONG sent = Counter();
        if (SendMessageTimeoutA(tray, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result)) {
            answers.push_back(CounterToMs(Counter() - sent));
        } else {
            answers.push_back(timeoutMs);  // at least
            ++unanswered;
        }
    }
    LONG stillHanging = sim->callsHanging;
    LONGLONG closing = Counter();
    HWND window = FindProcessWindow(lumo.info.dwProcessId, lumo.windowClass);
    if (window)
        PostMessageA(window, WM_CLOSE, 0, 0);
    bool ended = WaitForSingleObject(lumo.info.hProcess, 5000) == WAIT_OBJECT_0;
    double endMs = CounterToMs(Counter() - closing);
    Stop(lumo);
    EndSimHang(sim);
    sim->euConnectedResult = 0;

    if (!polling || !hanging) {
        printf("  (the camera was %s)\n", !polling ? "never polled" : "never stuck in a call");
        return;
    }
    printf("  %-34s %10.2f ms\n", "WM_NULL answered, median", Percentile(answers, 0.5));
    printf("  %-34s %10.2f ms\n", "  max", Percentile(answers, 1.0));
    printf("  %-34s %10d of %d (each given %lu ms)\n", "  not answered", unanswered, tries, timeoutMs);
    printf("  %-34s %10ld over %.1f s of tries\n", "calls still blocked", stillHanging,
           CounterToMs(closing - hungAt) / 1000);
    if (ended)
        printf("  %-34s %10.0f ms\n", "closed while the call hangs, in", endMs);
    else
        printf("  %-34s %13s\n", "closed while the call hangs, in", "over 5 s");
    printf("  (goal: median within 100 ms: %s; the max %s)\n", Percentile(answers, 0.5) <= 100 ? "met" : "MISSED",
           Percentile(answers, 1.0) <= 100 ? "within it too" : "beyond it");
}

// ---- Press-to-first-key latency with rules for programs -------------------

// Writes count rules named program000.exe... into one level's key, the last
// one for the bench itself (in front) when matchSelf; returns false when the
// key cannot be written.
static bool WriteRules(HKEY root, const char* keyPath, int count, bool matchSelf)
{
    char path[160];
    wsprintfA(path, "%s\\%s", keyPath, ProgramRulesSubkey);
    RegDeleteTreeA(root, path);
    HKEY key;
    if (RegCreateKeyExA(root, path, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return false;
    for (int i = 0; i < count; ++i) {
        WCHAR name[MAX_PATH];
        DWORD mode = ModeEnter;
        if (matchSelf && i == count - 1) {
            // By its full path, the longest comparison, and mode Space as the
            // floor sends.
            GetModuleFileNameW(NULL, name, MAX_PATH);
            mode = ModeSpace;
        } else {
            wsprintfW(name, L"C:\\Program Files\\Imaging %03d\\program%03d.exe", i, i);
        }
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), sizeof(mode));
    }
    RegCloseKey(key);
    return true;
}

static void RemoveRules()
{
    char path[160];
    wsprintfA(path, "%s\\%s", PolicyKeyPath, ProgramRulesSubkey);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, path);
    RegDeleteTreeA(HKEY_CURRENT_USER, path);
    wsprintfA(path, "%s\\%s", ProgramKeyPath, ProgramRulesSubkey);
    RegDeleteTreeA(HKEY_CURRENT_USER, path);
}

// The same presses with 256 rules at each of the three levels, the program
// in front (a window of the bench's own) matched by the user's last rule:
// every rule is looked through before the keys go.
static void MeasureLatencyWithRules(SimState* sim, int presses)
{
    bool written = WriteRules(HKEY_LOCAL_MACHINE, PolicyKeyPath, RulesPerKeyMax, false) &&
                   WriteRules(HKEY_CURRENT_USER, PolicyKeyPath, RulesPerKeyMax, false) &&
                   WriteRules(HKEY_CURRENT_USER, ProgramKeyPath, RulesPerKeyMax, true);
    HWND front = CreateWindowExA(0, "STATIC", "front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, NULL, NULL,
                                 NULL, NULL);
    SetForegroundWindow(front);
    WCHAR log[MAX_PATH];
    bool logged = LogFilePath(log, MAX_PATH, false);
    if (logged)
        DeleteFileW(log);
    if (written && GetForegroundWindow() == front) {
        printf("\n  with 3 x 256 rules for programs, the one for the program in front the last read:\n");
        int pressed = MeasureLatencyAt(sim, presses, 100, NULL);
        // The log says which rule gave each press its mode.
        int byRule = 0;
        if (logged) {
            HANDLE file = CreateFileW(log, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                                      NULL);
            std::string text;
            char buffer[65536];
            DWORD read = 0;
            while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof(buffer), &read, NULL) && read)
                text.append(buffer, read);
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
            for (size_t at = text.find("by the user's rule"); at != std::string::npos;
                 at = text.find("by the user's rule", at + 1))
                ++byRule;
        }
        printf("  presses whose mode a rule gave (from Lumo2's log): %d of %d\n", byRule, pressed);
    } else {
        printf("\n  (rules for programs: %s)\n", written ? "the bench's window could not come in front"
                                                          : "the rules could not be written");
    }
    DestroyWindow(front);
    RemoveRules();
}

// ---- Start-up, memory, idle CPU, size ---------------------------------------

static bool IconShown(HWND window)
{
    NOTIFYICONDATAA data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

// Starts the program and returns when it both shows its icon and waits for
// input with nothing left to do (start-up over, camera walked or connected).
static bool StartUp(Program& program, double* iconMs, double* readyMs)
{
    LONGLONG start = Counter();
    if (!Launch(program))
        return false;
    *iconMs = *readyMs = 0;
    for (int i = 0; i < 20000 && (!*iconMs || !*readyMs); ++i) {
        if (!*iconMs) {
            HWND window = FindProcessWindow(program.info.dwProcessId, program.windowClass);
            if (window && IconShown(window))
                *iconMs = CounterToMs(Counter() - start);
        }
        if (!*readyMs && WaitForInputIdle(program.info.hProcess, 0) == 0)
            *readyMs = CounterToMs(Counter() - start);
        Sleep(1);
    }
    return *iconMs && *readyMs;
}

// Wine reports no CPU times for other processes, so they are read from the
// host's /proc (through Wine's Z: drive): user plus system time of a host
// process, in 10 ms ticks; and, for idle CPU, where ticks are too coarse
// (a poll at 20 ms costs a few ticks a minute), each thread's run time in
// nanoseconds from its schedstat.
struct HostProcess {
    std::string dir;  // Z:\proc\<pid>
    double cpuMs;
    unsigned long long started;  // in clock ticks since boot
    std::map<std::string, unsigned long long> threadNs;  // by thread id; empty when not kept
};

static void ReadThreadRunTimes(const std::string& dir, std::map<std::string, unsigned long long>* threadNs)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((dir + "\\task\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (entry.cFileName[0] < '0' || entry.cFileName[0] > '9')
            continue;
        FILE* file = fopen((dir + "\\task\\" + entry.cFileName + "\\schedstat").c_str(), "rb");
        if (!file)
            continue;
        unsigned long long ns = 0;
        if (fscanf(file, "%llu", &ns) == 1)
            (*threadNs)[entry.cFileName] = ns;
        fclose(file);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

static bool ReadHostProcess(const std::string& dir, HostProcess* process)
{
    FILE* file = fopen((dir + "\\stat").c_str(), "rb");
    if (!file)
        return false;
    char stat[1024] = {0};
    fread(stat, 1, sizeof(stat) - 1, file);
    fclose(file);
    // Fields 14, 15 and 22, counted after the parenthesised name.
    const char* fields = strrchr(stat, ')');
    unsigned long long user = 0, system = 0, started = 0;
    if (!fields || sscanf(fields + 2,
                          "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %*d %*d %*d %*d %*d %*d %llu",
                          &user, &system, &started) != 3)
        return false;
    process->dir = dir;
    process->cpuMs = (user + system) * 10.0;
    process->started = started;
    process->threadNs.clear();
    ReadThreadRunTimes(dir, &process->threadNs);
    return true;
}

// The newest host process whose command line is the program's full path.
// The host's /proc also lists the Wine processes of other prefixes, which
// may run programs of the same name from other folders.
static bool FindHostProcess(const char* exe, HostProcess* found, bool cameraProcess = false)
{
    std::string path = Beside(exe);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA("Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool any = false;
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
        // Lumo2's camera process runs the same exe with "/camera" as the
        // next argument, after the NUL.
        const char* next = command.size() + 1 < length ? cmdline + command.size() + 1 : "";
        if (lstrcmpiA(command.c_str(), path.c_str()) != 0 || (lstrcmpiA(next, "/camera") == 0) != cameraProcess)
            continue;
        HostProcess process;
        if (ReadHostProcess(dir, &process) && (!any || process.started > found->started)) {
            *found = process;
            any = true;
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return any;
}

// Whether an idle figure had to be taken in ticks.
static bool IdleInTicks;

// CPU time that the process found at the start has used since; -1 if it
// cannot be read. A thread that ended meanwhile takes its time since the
// start with it; an idle program starts and ends none.
static double CpuMsSince(const HostProcess& start)
{
    HostProcess now;
    if (start.dir.empty() || !ReadHostProcess(start.dir, &now) || now.started != start.started)
        return -1;
    if (start.threadNs.empty() || now.threadNs.empty()) {
        IdleInTicks = true;
        return now.cpuMs - start.cpuMs;
    }
    unsigned long long ns = 0;
    for (const auto& thread : now.threadNs) {
        auto before = start.threadNs.find(thread.first);
        ns += thread.second - (before != start.threadNs.end() ? before->second : 0);
    }
    return ns / 1e6;
}

static LONGLONG FileSize(const char* exe)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(Beside(exe).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (LONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

struct Costs {
    std::vector<double> iconMs, readyMs, startCpuMs, cameraCpuMs;

    SIZE_T workingSet, peakWorkingSet;
    double cpuMs;
};

static void PrintRow(const char* name, double a, double b, const char* unit, const char* format)
{
    char left[32], right[32], ratio[32] = "-";
    snprintf(left, sizeof(left), format, a);
    snprintf(right, sizeof(right), format, b);
    if (b > 0)
        snprintf(ratio, sizeof(ratio), "%.2f", a / b);
    printf("  %-34s %10s %-2s %10s %-2s %8s\n", name, left, unit, right, unit, ratio);
}

// Lumo2 at PollInterval 20 and the latency floor at 20 ms, idling side by
// side: the CPU time each used over the idle seconds, or -1.
static void MeasureFastIdle(int idleSeconds, double* lumoCpuMs, double* floorCpuMs)
{
    *lumoCpuMs = *floorCpuMs = -1;
    char period[16];
    snprintf(period, sizeof(period), "%d", FastPollMs);
    SetPollInterval(FastPollMs);
    Program lumo = {"Lumo2.exe", "Lumo2.exe", "Lumo", {}, NULL};
    Program floor = {"latency floor", "latency_floor.exe", "LatencyFloor", {}, period};
    double iconMs, readyMs;
    bool running = StartUp(lumo, &iconMs, &readyMs);
    running = Launch(floor) && WaitForWindow(floor) && running;
    Sleep(1000);
    HostProcess lumoStart, floorStart, cameraStart;
    if (running && FindHostProcess(lumo.exe, &lumoStart) && FindHostProcess(floor.exe, &floorStart)) {
        // Lumo2's camera process polls: its time counts as Lumo2's.
        bool camera = FindHostProcess(lumo.exe, &cameraStart, true);
        Sleep(idleSeconds * 1000);
        *lumoCpuMs = CpuMsSince(lumoStart) + (camera ? CpuMsSince(cameraStart) : 0);
        *floorCpuMs = CpuMsSince(floorStart);
    }
    if (lumo.info.hProcess)
        Stop(lumo);
    if (floor.info.hProcess)
        Stop(floor);
    SetPollInterval(0);
}

static SIZE_T PrivateBytes(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    if (!process ||
        !GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)))
        return 0;
    return memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;  // Wine: the latter
}

// The private memory of the camera process Lumo2 started, 0 when none runs.
static SIZE_T CameraProcessPrivateBytes(DWORD lumo)
{
    SIZE_T bytes = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID != lumo)
            continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID);
        bytes = PrivateBytes(process);
        if (process)
            CloseHandle(process);
    }
    CloseHandle(snapshot);
    return bytes;
}

// The private memory of Lumo2 and its camera process, idle after a start,
// less that of Lumo2 with the camera inside (the policy CameraProcess 0).
static void MeasureCameraProcessMemory()
{
    SIZE_T bytes[2] = {};
    for (int inside = 0; inside < 2; ++inside) {
        DWORD zero = 0;
        if (inside)
            RegSetKeyValueA(HKEY_LOCAL_MACHINE, PolicyKeyPath, PolicyCameraProcessName, REG_DWORD, &zero, sizeof(zero));
        Program lumo = {"Lumo2.exe", "Lumo2.exe", "Lumo", {}, NULL};
        double iconMs, readyMs;
        if (StartUp(lumo, &iconMs, &readyMs)) {
            Sleep(1000);
            bytes[inside] = PrivateBytes(lumo.info.hProcess) + CameraProcessPrivateBytes(lumo.info.dwProcessId);
        }
        Stop(lumo);
    }
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, PolicyKeyPath, PolicyCameraProcessName);
    double added = (double(bytes[0]) - double(bytes[1])) / 1024;
    printf("  camera process: adds %.0f KB private memory (goal at most 4096 KB: %s): Lumo2 and its camera\n"
           "  process %.0f KB, Lumo2 with the camera inside %.0f KB\n",
           added, bytes[0] && bytes[1] && added <= 4096 ? "met" : "MISSED", bytes[0] / 1024.0, bytes[1] / 1024.0);
}

static void MeasureCosts(Program (&programs)[2], int idleSeconds, int starts, bool fastIdle)
{
    Costs costs[2] = {};
    // One program at a time, taking turns at going first, so that neither
    // is timed while the other starts or ends.
    for (int run = 0; run < starts; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            int i = (run + turn) % 2;
            double iconMs, readyMs;
            if (StartUp(programs[i], &iconMs, &readyMs)) {
                costs[i].iconMs.push_back(iconMs);
                costs[i].readyMs.push_back(readyMs);
                // All the new process's CPU time so far went into starting.
                HostProcess host;
                if (FindHostProcess(programs[i].exe, &host))
                    costs[i].startCpuMs.push_back(host.cpuMs);
                if (i == 0 && FindHostProcess(programs[i].exe, &host, true))
                    costs[i].cameraCpuMs.push_back(host.cpuMs);
            }
            Stop(programs[i]);
        }
    }
    // Both then run side by side for the working set and idle CPU.
    for (Program& program : programs) {
        double iconMs, readyMs;
        StartUp(program, &iconMs, &readyMs);
    }
    // The latency floor idles beside them: a poller of the latch, as Lumo2 is.
    Program poller = {"latency floor", "latency_floor.exe", "LatencyFloor", {}, NULL};
    bool pollerRuns = Launch(poller) && WaitForWindow(poller);
    Sleep(1000);
    // Lumo2's camera process polls: its idle time counts as Lumo2's.
    HostProcess pollerStart, cpuStart[2], cameraIdleStart;
    if (pollerRuns)
        FindHostProcess(poller.exe, &pollerStart);
    for (int i = 0; i < 2; ++i) {
        PROCESS_MEMORY_COUNTERS memory = {};
        memory.cb = sizeof(memory);
        GetProcessMemoryInfo(programs[i].info.hProcess, &memory, sizeof(memory));
        costs[i].workingSet = memory.WorkingSetSize;
        costs[i].peakWorkingSet = memory.PeakWorkingSetSize;
        FindHostProcess(programs[i].exe, &cpuStart[i]);
        if (i == 0 && !FindHostProcess(programs[i].exe, &cameraIdleStart, true))
            cameraIdleStart.dir.clear();
    }
    Sleep(idleSeconds * 1000);
    for (int i = 0; i < 2; ++i) {
        costs[i].cpuMs = CpuMsSince(cpuStart[i]);
        if (i == 0 && !cameraIdleStart.dir.empty())
            costs[i].cpuMs += CpuMsSince(cameraIdleStart);
        Stop(programs[i]);
    }
    double pollerCpuMs = CpuMsSince(pollerStart);
    if (poller.info.hProcess)
        Stop(poller);
    double fastCpuMs = -1, fastFloorCpuMs = -1;
    if (fastIdle)
        MeasureFastIdle(idleSeconds, &fastCpuMs, &fastFloorCpuMs);

    printf("  %-34s %13s %13s %8s\n", "", programs[0].name, programs[1].name, "ratio");
    PrintRow("start-up to tray icon, median", Percentile(costs[0].iconMs, 0.5), Percentile(costs[1].iconMs, 0.5),
             "ms", "%.1f");
    PrintRow("  fastest", Percentile(costs[0].iconMs, 0), Percentile(costs[1].iconMs, 0), "ms", "%.1f");
    PrintRow("start-up to waiting for input (*)", Percentile(costs[0].readyMs, 0.5),
             Percentile(costs[1].readyMs, 0.5), "ms", "%.1f");
    PrintRow("  fastest", Percentile(costs[0].readyMs, 0), Percentile(costs[1].readyMs, 0), "ms", "%.1f");
    PrintRow("CPU time to waiting for input (***)", Mean(costs[0].startCpuMs), Mean(costs[1].startCpuMs), "ms",
             "%.1f");
    PrintRow("working set after start-up", costs[0].workingSet / 1024.0, costs[1].workingSet / 1024.0, "KB", "%.0f");
    PrintRow("peak working set", costs[0].peakWorkingSet / 1024.0, costs[1].peakWorkingSet / 1024.0, "KB", "%.0f");
    char idle[64];
    snprintf(idle, sizeof(idle), "CPU time over %d s idle (**)", idleSeconds);
    PrintRow(idle, costs[0].cpuMs, costs[1].cpuMs, "ms", "%.2f");
    PrintRow("  beside the latency floor instead", costs[0].cpuMs, pollerCpuMs, "ms", "%.2f");
    if (fastIdle)
        PrintRow("  both polling every 20 ms (****)", fastCpuMs, fastFloorCpuMs, "ms", "%.2f");
    PrintRow("file size", FileSize(programs[0].exe) / 1024.0, FileSize(programs[1].exe) / 1024.0, "KB", "%.1f");
    printf("  (*) the camera connected (Lumo2) or the devices walked (floor); %d starts each,\n"
           "      taking turns; the fastest start is the least disturbed by other work\n"
           "  (**) from the host's /proc: %s\n"
           "  (***) from the host's /proc, in 10 ms ticks, mean of the starts: other work on\n"
           "        the machine delays a start but adds little to its CPU time\n",
           starts,
           IdleInTicks ? "in 10 ms ticks (the threads' run times were not kept)"
                       : "the sum of the threads' run times (schedstat)");
    if (fastIdle)
        printf("  (****) Lumo2 at PollInterval %d beside the latency floor at %d ms, idling\n"
               "         together after the others; goal: a ratio of at most 1.10\n",
               FastPollMs, FastPollMs);
    double floorReady = Percentile(costs[1].readyMs, 0.5), floorCpu = Mean(costs[1].startCpuMs);
    printf("\n  ratios to the floor: start-up %.2f (goal 1.10), CPU per start %.2f (goal 1.15),"
           " working set %.2f (goal 1.10)\n",
           floorReady > 0 ? Percentile(costs[0].readyMs, 0.5) / floorReady : 0,
           floorCpu > 0 ? Mean(costs[0].startCpuMs) / floorCpu : 0,
           costs[1].workingSet ? double(costs[0].workingSet) / costs[1].workingSet : 0);
    double bothCpu = Mean(costs[0].startCpuMs) + Mean(costs[0].cameraCpuMs);
    printf("  camera process: CPU per start %.1f ms; both processes %.1f ms, ratio to the floor %.2f (goal 2.0)\n",
           Mean(costs[0].cameraCpuMs), bothCpu, floorCpu > 0 ? bothCpu / floorCpu : 0);
    MeasureCameraProcessMemory();
    if (fastIdle)
        printf("  ratio to the floor polling every %d ms: idle CPU %.2f (goal 1.10)\n", FastPollMs,
               fastFloorCpuMs > 0 ? fastCpuMs / fastFloorCpuMs : 0);
}

int main(int argc, char** argv)
{
    // "startup" times the starts alone, for quicker turns while tuning them.
    bool startUpOnly = argc > 1 && strcmp(argv[1], "startup") == 0;
    int presses = argc > 1 ? atoi(argv[1]) : 200;
    int idleSeconds = argc > 2 && !startUpOnly ? atoi(argv[2]) : 60;
    // Thirty starts each: with fifteen, one run's ratios moved by 0.05 from
    // run to run on a quiet machine, as much as the goals leave.
    int starts = startUpOnly && argc > 2 ? atoi(argv[2]) : 30;

    HMODULE standin = LoadSimCameraLibrary();
    SimState* sim = OpenSimState();
    if (!standin || !sim) {
        printf("stand-in camera missing\n");
        return 1;
    }
    auto unregisterAll = reinterpret_cast<UnregisterAllFn>(
        reinterpret_cast<void*>(GetProcAddress(standin, "SimUnregisterAllCameras")));
    auto add = reinterpret_cast<RegisterCameraFn>(
        reinterpret_cast<void*>(GetProcAddress(standin, "SimRegisterCamera")));
    // A camera on the capture-driver route, as in a clinic; mode Space.
    unregisterAll();
    add(0, SimCameraName, 0);
    sim->euConnectedResult = 0;
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);

    printf("Lumo2.exe under Wine, each figure beside its floor:\n\n");
    if (!startUpOnly) {
        // Each run's own floor taken off, so that runs at other moments
        // compare: [process, inside][100 ms, 20 ms][median, 99th].
        double above[2][2][2] = {};
        MeasureLatencyAt(sim, presses, 100, NULL, above[0][0]);
        MeasureLatencyWithRules(sim, presses);
        printf("\n  At PollInterval %d, beside a floor that polls every %d ms:\n", FastPollMs, FastPollMs);
        const double fastGoals[] = {FastPollMs / 2.0 + 1, FastPollMs + 1.0};
        MeasureLatencyAt(sim, presses, FastPollMs, fastGoals, above[0][1]);
        // The camera inside Lumo2 again, as before it had a process of its own.
        printf("\n  With the camera inside Lumo2 (policy CameraProcess 0), at 100 ms and at %d ms:\n", FastPollMs);
        DWORD inside = 0;
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, PolicyKeyPath, PolicyCameraProcessName, REG_DWORD, &inside, sizeof(inside));
        MeasureLatencyAt(sim, presses, 100, NULL, above[1][0]);
        MeasureLatencyAt(sim, presses, FastPollMs, fastGoals, above[1][1]);
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, PolicyKeyPath, PolicyCameraProcessName);
        printf("\n  the camera process beside the camera inside Lumo2, each less its run's floor:\n");
        const int periods[] = {100, FastPollMs};
        for (int p = 0; p < 2; ++p) {
            double median = above[0][p][0] - above[1][p][0], high = above[0][p][1] - above[1][p][1];
            printf("  at %3d ms: median %+.2f ms, 99th percentile %+.2f ms (goal: at most +1 ms: %s)\n", periods[p],
                   median, high, median <= 1 && high <= 1 ? "met" : "MISSED");
        }
        printf("\n");
        MeasureTrayDuringHang(sim);
    }

    printf("\n");
    Program programs[2] = {{"Lumo2.exe", "Lumo2.exe", "Lumo", {}, NULL},
                           {"minimal tray", "minimal_tray.exe", "MinimalTray", {}, NULL}};
    MeasureCosts(programs, startUpOnly ? 1 : idleSeconds, starts, !startUpOnly);
    unregisterAll();
    return 0;
}
