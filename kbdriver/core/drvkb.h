// TDrvKB, the driver object behind the four exports: it starts and stops the
// reader, remembers the last port that connected, checks every frame that the
// reader hands over and calls the host's key callback. Portable: the reader,
// the registry and the clock are reached through DriverSystem, so the start and
// stop logic is tested natively against fakes.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/clock.h"
#include "kbdriver/core/statistics.h"

#if defined(_WIN32)
#define TQKB_WINAPI __stdcall
#else
#define TQKB_WINAPI
#endif

namespace tq::kb {

// The host's key callback: one key number 1..5, Windows API calling convention.
using TKBFunction = void(TQKB_WINAPI*)(int32_t key);

// One start's reader as the driver sees it (TComThread on Windows).
class KeyReader {
public:
    virtual ~KeyReader() = default;
    // Opens the port and runs the handshake on the calling thread: 0, -1, -2 or -3.
    virtual int Connect() = 0;
    virtual void Run() = 0;
    virtual void RequestStop() = 0;
    // Returns true when the reader's thread has ended; hand-overs sent to the
    // calling thread meanwhile are answered. Returns false at once when called
    // from inside this reader's own hand-over (the host's callback stopping
    // the driver), where waiting could never end.
    virtual bool WaitForEnd() = 0;
    // After a WaitForEnd that could not wait: the reader sends no more frames
    // or notices and frees itself once its thread has ended. Its owner lets
    // go of it without deleting it.
    virtual void FreeWhenEnded() = 0;
    // The same, for unloading, where the thread's own end cannot be awaited:
    // waits at most `limitMs` for the reader to leave its loop for good.
    virtual bool WaitForLoopEnd(uint32_t limitMs) = 0;
};

class TDrvKB;

// What the driver asks of the system.
class DriverSystem {
public:
    virtual ~DriverSystem() = default;
    // A reader for `port` whose thread is not running yet; it hands frames to
    // driver.HandleFrame and its end notice to driver.ReaderEnded, and counts
    // in driver.SharedStatistics(). Null when the system cannot make one.
    virtual std::unique_ptr<KeyReader> NewReader(TDrvKB& driver, int32_t port, int32_t speedIndex) = 0;
    // "LastComNumber"; nothing when the key or a 4-byte DWORD value is missing.
    virtual std::optional<int32_t> ReadLastPort() = 0;
    virtual bool WriteLastPort(int32_t port) = 0;
    virtual Clock& clock() = 0;
    // Takes a reader whose thread would not leave its loop while the library
    // was unloading; the system must never free it under that thread.
    virtual void AbandonReader(std::unique_ptr<KeyReader> reader) = 0;
    // The lock that lets one Start or Stop run at a time, whichever thread
    // calls. A thread may take it again while it holds it (the host's
    // callback stopping the driver from inside Stop's wait). While a thread
    // waits for it, hand-overs sent to that thread must still be answered:
    // the holder may be waiting for a reader whose end notice goes there.
    virtual void EnterControl() = 0;
    virtual void LeaveControl() = 0;
};

class TDrvKB {
public:
    static constexpr int32_t kMaxPort = 255;
    static constexpr uint32_t kRestartPauseMs = 100;
    static constexpr uint32_t kUnloadPauseMs = 500;
    static constexpr uint32_t kUnloadWaitLimitMs = 5000;

    explicit TDrvKB(DriverSystem& system) : System(system) {}
    TDrvKB(const TDrvKB&) = delete;
    TDrvKB& operator=(const TDrvKB&) = delete;
    ~TDrvKB();

    // The exports.
    int32_t Start(int32_t port);
    bool Stop();
    void SetKBFunction(TKBFunction callback) { KeyCallback = callback; }
    bool GetConnected() const { return IsConnected(); }
    // The counts of the current or last Start; any thread may ask.
    TKBStatistics GetStatistics() const { return Stats->Snapshot(IsConnected()); }
    std::shared_ptr<LineStatistics> SharedStatistics() const { return Stats; }
    // Stop for a library that is being unloaded.
    void StopForUnload();

    void SetPortNumber(int32_t port);
    int32_t GetPortNumber() const { return PortNumber; }
    int32_t StartReader();
    int32_t StopReader();
    // Connected, unless the reader has found that it can deliver nothing
    // more (the thread that owned its hand-over window has ended).
    bool IsConnected() const { return Connected && Stats->handOverLost.load() == 0; }
    int32_t LoadLastPort();
    void SaveLastPort();

    // Run on the host's thread by the reader.
    void HandleFrame(const std::string& frame);
    void ReaderEnded() { Connected = false; }

private:
    DriverSystem& System;
    // Written by Start and Stop under the control lock and by hand-overs on
    // the host's thread; GetConnected may read it from any thread.
    std::atomic<bool> Connected{false};
    int32_t PortNumber = 3;
    int32_t SavedPortNumber = 0;
    const int32_t SpeedIndex = 1;  // 4800 bit/s
    std::unique_ptr<KeyReader> Reader;  // under the control lock
    std::atomic<TKBFunction> KeyCallback{nullptr};
    // One object for the driver's life, cleared at each Start, so that a
    // snapshot never races with its replacement.
    const std::shared_ptr<LineStatistics> Stats = std::make_shared<LineStatistics>();
};

}  // namespace tq::kb
