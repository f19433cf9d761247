#include "kbdriver/MyCOM.h"

#include <cwchar>
#include <iterator>

namespace tq::kb {

int32_t TCommExchange::Open() {
    Close();
    if (Stats && OpenedBefore) Stats->Add(Stats->reopens);
    OpenedBefore = true;
    // Unnamed: a named auto-reset event would be one object for every
    // exchange of the login, and one port's completion could wake another.
    CompletionEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));

    wchar_t name[32];
    swprintf(name, 32, L"\\\\.\\COM%d", static_cast<int>(PortNumber));
    HANDLE port = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (Stats) Stats->OpenFailed(error);
        return OpenFailureCode(error);
    }
    PortHandle.reset(port);
    Configure();
    Opened = true;
    return 0;
}

// The settings calls may fail on exotic devices; the port is used anyway.
void TCommExchange::Configure() {
    const HANDLE port = PortHandle.get();
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    const bool knownSpeed = SpeedIndex >= 0 && SpeedIndex < static_cast<int32_t>(std::size(BaudRates));
    dcb.BaudRate = BaudRates[knownSpeed ? SpeedIndex : 1];
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);
    SetupComm(port, kQueueSize, kQueueSize);
    COMMTIMEOUTS timeouts = {kReadIntervalMs, kReadPerByteMs, kReadTotalMs, kWritePerByteMs, kWriteTotalMs};
    SetCommTimeouts(port, &timeouts);
}

void TCommExchange::Close() {
    CompletionEvent.reset();
    PortHandle.reset();
    Opened = false;
}

// Windows ends a timed-out read with success and fewer bytes; Wine with
// failure and ERROR_TIMEOUT. The caller treats both as a short read.
bool TCommExchange::WaitForRead(OVERLAPPED& overlapped, DWORD& bytes) {
    return GetOverlappedResult(PortHandle.get(), &overlapped, &bytes, TRUE) != FALSE;
}

bool TCommExchange::Receive(uint8_t count, std::string& text) {
    if (!PortHandle) return false;
    char buffer[kBufferSize] = {};
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CompletionEvent.get();
    DWORD bytes = 0;
    bool done = ReadFile(PortHandle.get(), buffer, count, &bytes, &overlapped) != FALSE;
    if (!done && GetLastError() == ERROR_IO_PENDING) done = WaitForRead(overlapped, bytes);
    if (!done || bytes < count) {
        // Also for a read that failed outright: a device that keeps failing
        // is better re-opened than read again and again at full speed.
        Open();
        return false;
    }
    text.assign(buffer, count);
    return true;
}

bool TCommExchange::DrainInput() {
    DWORD errors = 0;
    COMSTAT status = {};
    if (!ClearCommError(PortHandle.get(), &errors, &status) || status.cbInQue == 0) return true;
    // At most one buffer a send; what is left is purged by the next send.
    char drain[kBufferSize];
    const DWORD count = status.cbInQue < kBufferSize ? status.cbInQue : kBufferSize;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CompletionEvent.get();
    DWORD bytes = 0;
    if (!ReadFile(PortHandle.get(), drain, count, &bytes, &overlapped) && GetLastError() == ERROR_IO_PENDING)
        return WaitForRead(overlapped, bytes);
    return true;
}

bool TCommExchange::Send(const std::string& text) {
    if (!PortHandle) return false;
    const HANDLE port = PortHandle.get();
    PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (!DrainInput()) return false;
    if (text.size() > kBufferSize) return false;

    OVERLAPPED overlapped = {};
    overlapped.hEvent = CompletionEvent.get();
    DWORD written = 0;
    if (WriteFile(port, text.data(), static_cast<DWORD>(text.size()), &written, &overlapped)) return true;
    if (GetLastError() != ERROR_IO_PENDING) return false;
    const DWORD limit = static_cast<DWORD>(text.size()) * 100 + 200;
    if (WaitForSingleObject(CompletionEvent.get(), limit) == WAIT_OBJECT_0) return true;
    // The write still refers to `overlapped`: end it before the record goes.
    CancelIo(port);
    GetOverlappedResult(port, &overlapped, &written, TRUE);
    Open();
    return false;
}

}  // namespace tq::kb
