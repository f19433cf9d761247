// TQ850KB.dll: the exports, the one driver object DrvKB, and what the
// library does when it is loaded and unloaded. The registry and the reader
// are the Windows side of the driver's DriverSystem.
#include <windows.h>

#include <cstring>
#include <memory>

#include "common/win/handle.h"
#include "common/win/win_clock.h"
#include "kbdriver/win/ComThread.h"
#include "kbdriver/core/drvkb.h"

namespace tq::kb {
namespace {

constexpr wchar_t kRegistryKey[] = L"Software\\Norvell\\TQ850KB";
constexpr wchar_t kLastPortValue[] = L"LastComNumber";

class WinDriverSystem : public DriverSystem {
public:
    std::unique_ptr<KeyReader> NewReader(TDrvKB& driver, int32_t port, int32_t speedIndex) override {
        auto reader = std::make_unique<TComThread>();
        if (!reader->Created()) return nullptr;
        reader->SetPriority(THREAD_PRIORITY_LOWEST);
        reader->SetEndNotice([](void* d) { static_cast<TDrvKB*>(d)->ReaderEnded(); }, &driver);
        reader->SetStatistics(driver.SharedStatistics());
        reader->SetPortNumber(port);
        reader->SetSpeedIndex(speedIndex);
        reader->SetFrameHandler(
            [](void* d, const std::string& frame) { static_cast<TDrvKB*>(d)->HandleFrame(frame); }, &driver);
        return reader;
    }

    std::optional<int32_t> ReadLastPort() override {
        HKEY raw = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_ALL_ACCESS, &raw) != ERROR_SUCCESS)
            return std::nullopt;
        win::RegKey key(raw);
        DWORD type = 0, value = 0, size = sizeof value;
        if (RegQueryValueExW(key.get(), kLastPortValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof value)
            return std::nullopt;
        return static_cast<int32_t>(value);
    }

    bool WriteLastPort(int32_t port) override {
        HKEY raw = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                            nullptr) != ERROR_SUCCESS)
            return false;
        win::RegKey key(raw);
        const DWORD value = static_cast<DWORD>(port);
        return RegSetValueExW(key.get(), kLastPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                              sizeof value) == ERROR_SUCCESS;
    }

    Clock& clock() override { return Clock; }

    void AbandonReader(std::unique_ptr<KeyReader> reader) override {
        // Its thread may still use it; the process keeps it until its end.
        reader.release();
    }

    // A mutex, since a thread may take it again and its wait can answer
    // sent messages, which a critical section's cannot.
    void EnterControl() override {
        if (Control) WaitAnsweringSentMessages(Control.get(), INFINITE);
    }
    void LeaveControl() override {
        if (Control) ReleaseMutex(Control.get());
    }

private:
    win::WinClock Clock;
    win::KernelHandle Control{CreateMutexW(nullptr, FALSE, nullptr)};
};

WinDriverSystem g_system;
// The driver object from load to unload; none while the library unloads.
std::unique_ptr<TDrvKB> DrvKB;

void LibraryUnload(bool processEnding) {
    if (!DrvKB) return;
    std::unique_ptr<TDrvKB> driver = std::move(DrvKB);  // from here the exports do nothing
    if (processEnding) {
        // The system has ended the other threads already: nothing to stop or
        // wait for, and no window to destroy.
        driver.release();
        return;
    }
    // Waiting for the reader's thread itself would deadlock here: its end
    // needs the loader lock that this notification holds.
    driver->StopForUnload();
    driver.reset();
    ShutdownHandOverWindow();
}

// Asks the system whether `size` bytes at `p` can be written, instead of
// trying and faulting: committed, writable pages without a guard.
bool IsWritableMemory(void* p, size_t size) {
    constexpr DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    const uintptr_t end = reinterpret_cast<uintptr_t>(p) + size;
    if (end < reinterpret_cast<uintptr_t>(p)) return false;
    for (uintptr_t at = reinterpret_cast<uintptr_t>(p); at < end;) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) == 0) return false;
        if (info.State != MEM_COMMIT || !(info.Protect & kWritable) || (info.Protect & PAGE_GUARD)) return false;
        at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

}  // namespace
}  // namespace tq::kb

using tq::kb::DrvKB;
static_assert(sizeof(bool) == 1, "the exports return one-byte booleans");

// Nothing may cross the export boundary, not even an allocation failure.
extern "C" {

int32_t WINAPI Start(int32_t port) {
    try {
        return DrvKB ? DrvKB->Start(port) : 0;
    } catch (...) {
        return 0;
    }
}

bool WINAPI Stop() {
    try {
        return DrvKB ? DrvKB->Stop() : false;
    } catch (...) {
        return true;
    }
}

void WINAPI SetKBFunction(tq::kb::TKBFunction callback) {
    if (DrvKB) DrvKB->SetKBFunction(callback);
}

bool WINAPI GetConnected() { return DrvKB ? DrvKB->GetConnected() : false; }

// Fills the caller's structure as far as both know it: a caller built before
// the later fields passes kStatisticsFirstSize and gets those fields only.
bool WINAPI GetStatistics(tq::kb::TKBStatistics* statistics) {
    using tq::kb::kStatisticsFirstSize;
    if (!DrvKB || !statistics || !tq::kb::IsWritableMemory(statistics, kStatisticsFirstSize)) return false;
    if (statistics->Size < kStatisticsFirstSize) return false;
    const uint32_t size = statistics->Size < sizeof *statistics ? statistics->Size : sizeof *statistics;
    if (!tq::kb::IsWritableMemory(statistics, size)) return false;
    tq::kb::TKBStatistics filled = DrvKB->GetStatistics();
    filled.Size = size;
    memcpy(statistics, &filled, size);
    return true;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    try {
        if (reason == DLL_PROCESS_ATTACH)
            DrvKB = std::make_unique<tq::kb::TDrvKB>(tq::kb::g_system);
        else if (reason == DLL_PROCESS_DETACH)
            tq::kb::LibraryUnload(reserved != nullptr);
    } catch (...) {
        return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
    }
    return TRUE;
}

}  // extern "C"
