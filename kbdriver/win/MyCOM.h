// TCommExchange: one COM port, opened for overlapped I/O, that sends short
// byte strings and receives exact counts of bytes. A short read closes and
// re-opens the port; that re-open is the exchange's only recovery.
//
// Windows opens a COM port for one handle at a time; Wine lets a second
// CreateFile of the same port succeed. So that the library never relies on
// what only Wine allows, an exchange also refuses a port that another
// exchange of this module holds, with the error Windows gives (access
// denied).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/win/handle.h"
#include "kbdriver/core/protocol.h"
#include "kbdriver/core/statistics.h"

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
    // A manual-reset event that, once set, ends a receive that is waiting
    // for the line at once (false, no re-open): the reader's stop request,
    // so that Stop does not wait for a silent line's half-second read.
    void SetAbortEvent(HANDLE event) { AbortEvent = event; }
    // Opens, re-opens (and why) and failed opens are counted there when set.
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
    // Waits for a pending read unless AbortEvent is set first; false after
    // an abort, with the read cancelled.
    bool WaitForReadUnlessAborted(OVERLAPPED& overlapped);
    // Open again after a receive or send that failed; `fault` tells a
    // failure of the device from a read that the time-outs ended short.
    void Reopen(bool fault);
    void SetPortOpen(bool open);

    win::FileHandle PortHandle;
    win::KernelHandle CompletionEvent;
    int32_t PortNumber = 0;
    int32_t SpeedIndex = 1;
    bool Opened = false;
    LineStatistics* Stats = nullptr;
    HANDLE AbortEvent = nullptr;  // not owned
    bool OpenedBefore = false;
    bool LastOpenFailed = false;
    bool ReopenForFault = false;  // set by Reopen for the Open it calls
    bool Holding = false;         // HeldPort is in this module's list of held ports
    int32_t HeldPort = 0;
};

}  // namespace tq::kb
