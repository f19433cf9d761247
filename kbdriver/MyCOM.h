// TCommExchange: one COM port, opened for overlapped I/O, that sends short
// byte strings and receives exact counts of bytes. A short read closes and
// re-opens the port; that re-open is the exchange's only recovery.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/win/handle.h"
#include "kbdriver/protocol.h"
#include "kbdriver/statistics.h"

namespace tq::kb {

class TCommExchange : public SerialLink {
public:
    static constexpr DWORD BaudRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
    static constexpr DWORD kQueueSize = 1024;
    static constexpr size_t kBufferSize = 256;
    // The port's time-outs. A read ends kReadIntervalMs after its last byte,
    // or kReadTotalMs + count * kReadPerByteMs after it began, whichever
    // comes first; a write ends kWriteTotalMs + count * kWritePerByteMs after
    // it began.
    static constexpr DWORD kReadIntervalMs = 500;
    static constexpr DWORD kReadPerByteMs = 1;
    static constexpr DWORD kReadTotalMs = 500;
    static constexpr DWORD kWritePerByteMs = 1;
    static constexpr DWORD kWriteTotalMs = 100;

    TCommExchange() = default;
    TCommExchange(const TCommExchange&) = delete;
    TCommExchange& operator=(const TCommExchange&) = delete;
    ~TCommExchange() override { Close(); }

    void SetPortNumber(int32_t port) { PortNumber = port; }
    void SetSpeedIndex(int32_t index) { SpeedIndex = index; }
    // Opens, re-opens and failed opens are counted there when set.
    void SetStatistics(LineStatistics* stats) { Stats = stats; }
    // 0 open; -3 no such device; -2 access denied; -1 any other failure.
    int32_t Open();
    void Close();
    bool IsOpen() const { return Opened; }

    bool Receive(uint8_t count, std::string& text) override;
    bool Send(const std::string& text) override;

private:
    void Configure();
    // Reads and drops what the purge left in the input queue.
    bool DrainInput();
    bool WaitForRead(OVERLAPPED& overlapped, DWORD& bytes);

    win::FileHandle PortHandle;
    win::KernelHandle CompletionEvent;
    int32_t PortNumber = 0;
    int32_t SpeedIndex = 1;
    bool Opened = false;
    LineStatistics* Stats = nullptr;
    bool OpenedBefore = false;
};

}  // namespace tq::kb
