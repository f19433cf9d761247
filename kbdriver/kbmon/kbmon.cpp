// kbmon.exe, the keyboard line monitor: the Windows side. It loads
// TQ850KB.dll from its own folder (or, with --raw, opens the port itself),
// writes to the console, and ends on Ctrl+C with a summary.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "common/cp1251.h"
#include "common/number.h"
#include "common/win/handle.h"
#include "common/win/module_path.h"
#include "common/win/win_clock.h"
#include "kbdriver/win/MyCOM.h"
#include "kbdriver/kbmon/monitor.h"

namespace tq::kbmon {
namespace {

struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { FreeLibrary(h); }
};
using Module = win::Owned<ModuleTraits>;

// Set by Ctrl+C or Ctrl+Break; the main thread stops at its next look.
HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    SetEvent(g_stop);
    return TRUE;
}

bool StopRequested() { return WaitForSingleObject(g_stop, 0) == WAIT_OBJECT_0; }

// A console gets wide characters; a file or a pipe gets code page 1251 bytes.
// A line that cannot be written (a full disk, a pipe whose reader has gone)
// is remembered, and the monitor ends: an engineer who saves its output must
// not be left with a summary that never reached the file.
class StdConsole : public Console {
public:
    void Line(const std::string& text) override {
        if (error_) return;
        const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode = 0, written = 0, size = 0;
        BOOL ok = FALSE;
        if (GetConsoleMode(out, &mode)) {
            const std::wstring wide = Cp1251ToWide(text + "\r\n");
            size = static_cast<DWORD>(wide.size());
            ok = WriteConsoleW(out, wide.data(), size, &written, nullptr);
        } else {
            const std::string bytes = text + "\r\n";
            size = static_cast<DWORD>(bytes.size());
            ok = WriteFile(out, bytes.data(), size, &written, nullptr);
        }
        if (!ok)
            error_ = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        else if (written < size)
            error_ = ERROR_DISK_FULL;  // a file write that stops short has run out of room
    }
    // The Windows error of the first line that could not be written; 0 if none.
    DWORD Error() const { return error_; }

private:
    DWORD error_ = 0;
};

// Where a failed output is told: standard error, in code page 1251.
void SayOutputFailed(DWORD error) {
    const std::string text = Cp("kbmon: не удалось записать вывод (ошибка Windows ") + std::to_string(error) + ")\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::wstring OwnFolder() {
    const std::wstring folder = tq::win::ModuleFolder();
    return folder.empty() ? folder : folder + L"\\";
}

class DllDriver : public KeyboardDriver {
public:
    using KeyFn = void(WINAPI*)(int32_t);

    // 0, or the Windows error of a library that did not load; ERROR_PROC_NOT_FOUND
    // for one without all five exports.
    DWORD Load(const std::wstring& path) {
        module_.reset(LoadLibraryW(path.c_str()));
        if (!module_) return GetLastError();
        start_ = Export<decltype(start_)>("Start");
        stop_ = Export<decltype(stop_)>("Stop");
        setKey_ = Export<decltype(setKey_)>("SetKBFunction");
        statistics_ = Export<decltype(statistics_)>("GetStatistics");
        return start_ && stop_ && setKey_ && statistics_ ? 0 : ERROR_PROC_NOT_FOUND;
    }
    void SetKeyFunction(KeyFn key) { setKey_(key); }
    int32_t Start(int32_t port) override { return start_(port); }
    bool Stop() override { return stop_(); }
    bool GetStatistics(kb::TKBStatistics& s) override { return statistics_(&s); }

private:
    template <typename F>
    F Export(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_.get(), name)));
    }

    Module module_;
    int32_t(WINAPI* start_)(int32_t) = nullptr;
    bool(WINAPI* stop_)() = nullptr;
    void(WINAPI* setKey_)(KeyFn) = nullptr;
    bool(WINAPI* statistics_)(kb::TKBStatistics*) = nullptr;
};

// "COM7" -> 7; 0 for any other name.
int32_t ComNumber(const wchar_t* name) {
    if (_wcsnicmp(name, L"COM", 3) != 0) return 0;
    return static_cast<int32_t>(ParseInteger(Narrow(name + 3), 1, 255).value_or(0));
}

// The DOS device names say which COM ports exist; a port whose driver names
// it only in the registry's device map (some USB adapters) is taken from
// there too. Neither opens a port, so a port that another program holds is
// not disturbed by the look.
class WindowsPorts : public PortList {
public:
    std::vector<int32_t> Existing() override {
        std::vector<int32_t> ports;
        std::vector<wchar_t> names(16384);
        for (;;) {
            const DWORD got = QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()));
            if (got) {
                for (const wchar_t* p = names.data(); p < names.data() + got && *p; p += wcslen(p) + 1)
                    if (const int32_t n = ComNumber(p)) ports.push_back(n);
                break;
            }
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || names.size() >= (1u << 20)) break;
            names.resize(names.size() * 4);
        }
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
            for (DWORD i = 0;; ++i) {
                wchar_t name[256], value[64] = {};
                DWORD nameSize = 256, valueSize = sizeof value - sizeof(wchar_t), type = 0;
                const LONG rc = RegEnumValueW(key, i, name, &nameSize, nullptr, &type,
                                              reinterpret_cast<BYTE*>(value), &valueSize);
                if (rc == ERROR_NO_MORE_ITEMS) break;
                if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
                if (const int32_t n = ComNumber(value)) ports.push_back(n);
            }
            RegCloseKey(key);
        }
        return ports;
    }
};

DriverMonitor* g_monitor = nullptr;
void WINAPI OnKey(int32_t key) {
    if (g_monitor) g_monitor->OnKey(key);
}

// Waits up to `ms` for a stop request while dispatching messages, so that the
// driver's keys reach this thread. False when a stop was requested.
bool PumpFor(DWORD ms) {
    if (MsgWaitForMultipleObjects(1, &g_stop, FALSE, ms, QS_ALLINPUT) == WAIT_OBJECT_0) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return !StopRequested();
}

bool DeadlinePassed(DWORD started, const Options& options) {
    return options.seconds != 0 && GetTickCount() - started >= options.seconds * 1000;
}

int RunWithDriver(const Options& options, StdConsole& console) {
    DllDriver driver;
    if (const DWORD error = driver.Load(OwnFolder() + L"TQ850KB.dll")) {
        console.Line(Cp("Не удалось загрузить TQ850KB.dll из папки программы (ошибка Windows ") +
                     std::to_string(error) + ")");
        return 1;
    }
    const DWORD started = GetTickCount();
    win::WinClock clock;
    WindowsPorts ports;
    DriverMonitor monitor(driver, ports, console, clock);
    g_monitor = &monitor;
    driver.SetKeyFunction(OnKey);
    console.Line(Cp("kbmon: TQ850KB.dll на COM") + std::to_string(options.port));
    const bool watching = monitor.Begin(options.port);
    while (watching && PumpFor(100) && !DeadlinePassed(started, options) && !console.Error()) monitor.Tick();
    monitor.End();
    driver.SetKeyFunction(nullptr);
    g_monitor = nullptr;
    return watching ? 0 : 2;
}

class ExchangeLink : public MonitorLink {
public:
    explicit ExchangeLink(kb::TCommExchange& exchange) : exchange_(exchange) {}
    bool Receive(uint8_t count, std::string& text) override { return exchange_.Receive(count, text); }
    bool Send(const std::string& text) override { return exchange_.Send(text); }
    int32_t Open() override { return exchange_.Open(); }
    bool IsOpen() const override { return exchange_.IsOpen(); }

private:
    kb::TCommExchange& exchange_;
};

int RunRaw(const Options& options, StdConsole& console) {
    const DWORD started = GetTickCount();
    kb::LineStatistics stats;
    kb::TCommExchange exchange;
    exchange.SetPortNumber(options.port);
    exchange.SetSpeedIndex(1);
    exchange.SetStatistics(&stats);
    ExchangeLink link(exchange);
    win::WinClock clock;
    WindowsPorts ports;
    RawMonitor monitor(link, stats, ports, console, clock);
    const bool opened = monitor.Begin(options.port);
    while (opened && !StopRequested() && !DeadlinePassed(started, options) && !console.Error()) {
        monitor.Step();
        monitor.Tick();
    }
    monitor.End();
    return opened ? 0 : 2;
}

int Main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; argv && i < argc; ++i) args.push_back(WideToCp1251(argv[i]));
    LocalFree(argv);

    StdConsole console;
    const Options options = ParseOptions(args);
    if (!options.error.empty()) {
        console.Line(options.error);
        console.Line(Usage());
        return 1;
    }
    win::KernelHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_stop = stop.get();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    const int result = options.raw ? RunRaw(options, console) : RunWithDriver(options, console);
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    if (console.Error()) {
        SayOutputFailed(console.Error());
        return 3;
    }
    return result;
}

}  // namespace
}  // namespace tq::kbmon

int main() { return tq::kbmon::Main(); }
