// A test host for TQ850KB.dll that behaves like the scale's application: it
// loads the library by name, registers a key callback, starts the driver and
// dispatches messages on the same thread. It runs the commands given on its
// command line in turn and prints one line for each event, flushed at once,
// so that a test can follow it through its output file:
//
//   load | ordinals | callback | nocallback | start:N | connected | stop |
//   pump:MS | keys:COUNT:MS | idle:MS | unload | cpu | stopfrom:other |
//   stoponkey (the callback calls Stop at the next key) |
//   restartonkey:N (the callback calls Stop, then Start(N), at the next key) |
//   startthread:N (Start(N) on a thread that ends right after it) |
//   hammer:N:COUNT (two threads, each COUNT times Start(N) then Stop) |
//   handles (how many handles the process holds) |
//   stats | statsbad (GetStatistics, found by name only for these two)
//
//   key 1 main 1733650000123456789     key number, thread, Unix time in ns
#include <windows.h>

#include <cstdint>

#include "kbdriver/core/statistics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using StartFn = int32_t(WINAPI*)(int32_t);
using StopFn = bool(WINAPI*)();
using KeyFn = void(WINAPI*)(int32_t);
using SetKBFunctionFn = void(WINAPI*)(KeyFn);
using GetConnectedFn = bool(WINAPI*)();
using GetStatisticsFn = bool(WINAPI*)(tq::kb::TKBStatistics*);

struct Library {
    HMODULE module = nullptr;
    StartFn Start = nullptr;
    StopFn Stop = nullptr;
    SetKBFunctionFn SetKBFunction = nullptr;
    GetConnectedFn GetConnected = nullptr;
};

Library g_lib;
DWORD g_mainThread = 0;
int g_keys = 0;
bool g_stopOnKey = false;
int g_restartOnKey = 0;  // the port to start again on from the callback; 0: none

// One whole line a write, so that a reader of the output file never sees half.
void Say(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0) n = 0;
    if (n > static_cast<int>(sizeof line) - 2) n = sizeof line - 2;
    line[n++] = '\n';
    fwrite(line, 1, n, stdout);
    fflush(stdout);
}

long long UnixTimeNs() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const unsigned long long ticks = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<long long>(ticks - 116444736000000000ULL) * 100;
}

void WINAPI OnKey(int32_t key) {
    ++g_keys;
    Say("key %d %s %lld", static_cast<int>(key), GetCurrentThreadId() == g_mainThread ? "main" : "other",
        UnixTimeNs());
    if (g_stopOnKey) {
        g_stopOnKey = false;
        Say("stop in callback = %d", g_lib.Stop() ? 1 : 0);
    }
    if (g_restartOnKey) {
        const int port = g_restartOnKey;
        g_restartOnKey = 0;
        const bool stopped = g_lib.Stop();
        const int32_t started = g_lib.Start(port);
        Say("restart in callback: stop = %d, start = %d", stopped ? 1 : 0, static_cast<int>(started));
    }
}

// The handles the process holds, counted by asking after each handle value:
// Wine's GetProcessHandleCount answers 0 whatever the process holds.
long HandleCount() {
    const uintptr_t kLastHandle = 0x10000;  // far beyond what a small host opens
    long count = 0;
    DWORD flags = 0;
    for (uintptr_t value = 4; value < kLastHandle; value += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    return count;
}

// Two threads that each start and stop the driver `count` times, as a
// careless host might from two of its own threads. Neither dispatches
// messages outside the library's calls.
void Hammer(int port, int count) {
    std::atomic<int> failed{0};
    auto loop = [&] {
        for (int i = 0; i < count; ++i) {
            if (g_lib.Start(port) != port) ++failed;
            g_lib.Stop();
        }
    };
    const DWORD t0 = GetTickCount();
    std::thread a(loop), b(loop);
    a.join();
    b.join();
    Say("hammer %d cycles in %lu ms, failed starts %d", 2 * count, GetTickCount() - t0, failed.load());
}

// Dispatches messages until `done` says so or `ms` have passed.
template <typename Done>
void Pump(DWORD ms, Done done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

template <typename F>
F Export(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(g_lib.module, name)));
}

bool Load() {
    g_lib.module = LoadLibraryW(L"TQ850KB.dll");
    if (!g_lib.module) return false;
    g_lib.Start = Export<StartFn>("Start");
    g_lib.Stop = Export<StopFn>("Stop");
    g_lib.SetKBFunction = Export<SetKBFunctionFn>("SetKBFunction");
    g_lib.GetConnected = Export<GetConnectedFn>("GetConnected");
    return g_lib.Start && g_lib.Stop && g_lib.SetKBFunction && g_lib.GetConnected;
}

bool OrdinalsMatch() {
    auto byOrdinal = [](WORD n) { return reinterpret_cast<void*>(GetProcAddress(g_lib.module, MAKEINTRESOURCEA(n))); };
    return byOrdinal(1) == reinterpret_cast<void*>(g_lib.GetConnected) &&
           byOrdinal(2) == reinterpret_cast<void*>(g_lib.Stop) &&
           byOrdinal(3) == reinterpret_cast<void*>(g_lib.Start) &&
           byOrdinal(4) == reinterpret_cast<void*>(g_lib.SetKBFunction) &&
           byOrdinal(5) == reinterpret_cast<void*>(GetProcAddress(g_lib.module, "GetStatistics")) &&
           byOrdinal(5) != nullptr && byOrdinal(6) == nullptr;
}

void SayStatistics() {
    const auto get = Export<GetStatisticsFn>("GetStatistics");
    tq::kb::TKBStatistics s = {};
    s.Size = sizeof s;
    if (!get || !get(&s)) {
        Say("stats failed");
        return;
    }
    const long age = s.FramesAccepted ? static_cast<long>(GetTickCount() - s.LastFrameTick) : -1;
    Say("stats size=%lu read=%lu accepted=%lu keys=%lu idle=%lu shape=%lu crc=%lu skipped=%lu reopens=%lu "
        "failedopens=%lu lasterror=%lu open=%ld handshake=%ld age=%ld connected=%lu port=%ld faultreopens=%lu "
        "portopen=%lu undelivered=%lu",
        static_cast<unsigned long>(s.Size), static_cast<unsigned long>(s.BytesRead),
        static_cast<unsigned long>(s.FramesAccepted), static_cast<unsigned long>(s.KeysDelivered),
        static_cast<unsigned long>(s.IdleFrames), static_cast<unsigned long>(s.RejectedShape),
        static_cast<unsigned long>(s.RejectedCrc), static_cast<unsigned long>(s.BytesSkipped),
        static_cast<unsigned long>(s.Reopens), static_cast<unsigned long>(s.FailedOpens),
        static_cast<unsigned long>(s.LastOpenError), static_cast<long>(s.OpenResult),
        static_cast<long>(s.Handshake), age, static_cast<unsigned long>(s.Connected), static_cast<long>(s.Port),
        static_cast<unsigned long>(s.FaultReopens), static_cast<unsigned long>(s.PortOpen),
        static_cast<unsigned long>(s.FramesUndelivered));
}

// GetStatistics with what a careless host might pass: each must give false
// without a crash, and a structure larger than the driver's is filled.
void SayBadStatistics() {
    const auto get = Export<GetStatisticsFn>("GetStatistics");
    if (!get) {
        Say("statsbad: no GetStatistics");
        return;
    }
    tq::kb::TKBStatistics small = {};
    small.Size = tq::kb::kStatisticsFirstSize - 1;
    // What a caller built before the later fields passes: the fields it knows.
    tq::kb::TKBStatistics first = {};
    first.Size = tq::kb::kStatisticsFirstSize;
    first.FaultReopens = 0xA5A5A5A5;
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    auto* readOnly = static_cast<tq::kb::TKBStatistics*>(page);
    readOnly->Size = sizeof *readOnly;
    DWORD old = 0;
    VirtualProtect(page, 4096, PAGE_READONLY, &old);
    // A structure that runs past the end of its page into unmapped memory.
    void* pages = VirtualAlloc(nullptr, 8192, MEM_RESERVE, PAGE_NOACCESS);
    VirtualAlloc(pages, 4096, MEM_COMMIT, PAGE_READWRITE);
    auto* straddling = reinterpret_cast<tq::kb::TKBStatistics*>(static_cast<char*>(pages) + 4096 - 8);
    straddling->Size = sizeof *straddling;
    struct Grown {
        tq::kb::TKBStatistics known;
        uint32_t later;
    } grown = {};
    grown.known.Size = sizeof grown;
    grown.later = 0xA5A5A5A5;
    const bool grownOk = get(&grown.known);
    const bool firstOk = get(&first);
    Say("statsbad null=%d small=%d readonly=%d straddling=%d grown=%d grownsize=%lu later=%s first=%d firstsize=%lu "
        "firstlater=%s",
        get(nullptr) ? 1 : 0, get(&small) ? 1 : 0, get(readOnly) ? 1 : 0, get(straddling) ? 1 : 0, grownOk ? 1 : 0,
        static_cast<unsigned long>(grown.known.Size), grown.later == 0xA5A5A5A5 ? "untouched" : "written",
        firstOk ? 1 : 0, static_cast<unsigned long>(first.Size),
        first.FaultReopens == 0xA5A5A5A5 ? "untouched" : "written");
    VirtualFree(page, 0, MEM_RELEASE);
    VirtualFree(pages, 0, MEM_RELEASE);
}

double CpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME t) {
        return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

bool Run(const std::string& command) {
    const std::string name = command.substr(0, command.find(':'));
    const char* arg = command.find(':') == std::string::npos ? "" : command.c_str() + command.find(':') + 1;
    const DWORD t0 = GetTickCount();
    const bool needsLibrary =
        name != "load" && name != "pump" && name != "idle" && name != "cpu" && name != "handles";
    if (needsLibrary && !g_lib.module) {
        Say("%s: not loaded", name.c_str());
        return false;
    }
    if (name == "load") {
        Say(Load() ? "load ok" : "load failed %lu", GetLastError());
    } else if (name == "ordinals") {
        Say(OrdinalsMatch() ? "ordinals ok" : "ordinals wrong");
    } else if (name == "callback") {
        g_lib.SetKBFunction(OnKey);
        Say("callback set");
    } else if (name == "nocallback") {
        g_lib.SetKBFunction(nullptr);
        Say("callback cleared");
    } else if (name == "start") {
        const int32_t result = g_lib.Start(atoi(arg));
        Say("start %s = %d in %lu ms", arg, static_cast<int>(result), GetTickCount() - t0);
    } else if (name == "connected") {
        Say("connected = %d", g_lib.GetConnected() ? 1 : 0);
    } else if (name == "stop") {
        const bool result = g_lib.Stop();
        Say("stop = %d in %lu ms", result ? 1 : 0, GetTickCount() - t0);
    } else if (name == "stopfrom") {
        // Stop on another thread while this one keeps dispatching.
        bool done = false, result = false;
        std::thread other([&] { result = g_lib.Stop(); done = true; });
        Pump(10000, [&] { return done; });
        other.join();
        Say("stop from other thread = %d in %lu ms", result ? 1 : 0, GetTickCount() - t0);
    } else if (name == "stoponkey") {
        g_stopOnKey = true;
        Say("stop on key");
    } else if (name == "restartonkey") {
        g_restartOnKey = atoi(arg);
        Say("restart on key");
    } else if (name == "startthread") {
        // The thread ends, and with it the windows it owned.
        int32_t result = 0;
        std::thread other([&] { result = g_lib.Start(atoi(arg)); });
        other.join();
        Say("start %s on an ended thread = %d", arg, static_cast<int>(result));
    } else if (name == "hammer") {
        const char* colon = strchr(arg, ':');
        Hammer(atoi(arg), colon ? atoi(colon + 1) : 100);
    } else if (name == "handles") {
        Say("handles %ld", HandleCount());
    } else if (name == "pump") {
        Pump(atoi(arg), [] { return false; });
        Say("pumped %s", arg);
    } else if (name == "keys") {
        const int want = atoi(arg);
        const char* colon = strchr(arg, ':');
        Pump(colon ? atoi(colon + 1) : 5000, [&] { return g_keys >= want; });
        Say("keys %d", g_keys);
    } else if (name == "idle") {
        Sleep(atoi(arg));
        Say("idled %s", arg);
    } else if (name == "unload") {
        FreeLibrary(g_lib.module);
        g_lib = Library{};
        Say("unload in %lu ms", GetTickCount() - t0);
    } else if (name == "stats") {
        SayStatistics();
    } else if (name == "statsbad") {
        SayBadStatistics();
    } else if (name == "cpu") {
        Say("cpu %.1f ms", CpuMs());
    } else {
        Say("unknown command %s", command.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    g_mainThread = GetCurrentThreadId();
    for (int i = 1; i < argc; ++i)
        if (!Run(argv[i])) return 2;
    Say("done");
    return 0;
}
