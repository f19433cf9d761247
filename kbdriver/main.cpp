// TQ850KB.dll: the four exports, the one driver object DrvKB, and what the
// library does when it is loaded and unloaded. The registry and the reader
// are the Windows side of the driver's DriverSystem.
#include <windows.h>

#include <memory>

#include "common/win/handle.h"
#include "common/win/win_clock.h"
#include "kbdriver/ComThread.h"
#include "kbdriver/drvkb.h"

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

private:
    win::WinClock Clock;
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
