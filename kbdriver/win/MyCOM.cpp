#include "kbdriver/win/MyCOM.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <utility>
#include <vector>

namespace tq::kb {
namespace {

// The ports that exchanges of this module hold open. Exchanges live on
// several threads (a reader's, the host's during Connect), hence the lock.
SRWLOCK g_heldLock = SRWLOCK_INIT;
std::vector<int32_t>& HeldPorts() {
    static std::vector<int32_t>* held = new std::vector<int32_t>;  // outlives static destructors
    return *held;
}

bool TakePort(int32_t port) {
    AcquireSRWLockExclusive(&g_heldLock);
    std::vector<int32_t>& held = HeldPorts();
    const bool free = std::find(held.begin(), held.end(), port) == held.end();
    if (free) held.push_back(port);
    ReleaseSRWLockExclusive(&g_heldLock);
    return free;
}

void GivePortBack(int32_t port) {
    AcquireSRWLockExclusive(&g_heldLock);
    std::vector<int32_t>& held = HeldPorts();
    const auto at = std::find(held.begin(), held.end(), port);
    if (at != held.end()) held.erase(at);
    ReleaseSRWLockExclusive(&g_heldLock);
}

}  // namespace

int32_t TCommExchange::Open() {
    Close();
    const bool fault = std::exchange(ReopenForFault, false) || LastOpenFailed;
    if (Stats && OpenedBefore) {
        Stats->Add(Stats->reopens);
        if (fault) Stats->Add(Stats->faultReopens);
    }
    OpenedBefore = true;
    LastOpenFailed = true;  // until the port is open
    // Unnamed: a named auto-reset event would be one object for every
    // exchange of the login, and one port's completion could wake another.
    CompletionEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));

    wchar_t name[32];
    swprintf(name, 32, L"\\\\.\\COM%d", static_cast<int>(PortNumber));
    Holding = TakePort(PortNumber);
    HeldPort = PortNumber;
    HANDLE port = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_ACCESS_DENIED;  // what Windows answers for a port that is open already
    if (Holding) {
        port = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                           nullptr);
        if (port == INVALID_HANDLE_VALUE) error = GetLastError();
    }
    if (port == INVALID_HANDLE_VALUE) {
        if (Holding) GivePortBack(HeldPort);
        Holding = false;
        if (Stats) Stats->OpenFailed(error);
        return OpenFailureCode(error);
    }
    PortHandle.reset(port);
    Configure();
    Opened = true;
    LastOpenFailed = false;
    SetPortOpen(true);
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
    if (Holding) GivePortBack(HeldPort);
    Holding = false;
    if (Opened) SetPortOpen(false);
    Opened = false;
}

void TCommExchange::SetPortOpen(bool open) {
    if (Stats) Stats->Set(Stats->portOpen, open ? 1u : 0u);
}

void TCommExchange::Reopen(bool fault) {
    ReopenForFault = fault;
    Open();
}

// Windows ends a timed-out read with success and fewer bytes; Wine with
// failure and ERROR_TIMEOUT. The caller treats both as a short read.
bool TCommExchange::WaitForRead(OVERLAPPED& overlapped, DWORD& bytes) {
    return GetOverlappedResult(PortHandle.get(), &overlapped, &bytes, TRUE) != FALSE;
}

// The completion event is auto-reset, so the wait below may use up its
// signal; GetOverlappedResult then finds the read complete and does not wait
// on the event again.
bool TCommExchange::WaitForReadUnlessAborted(OVERLAPPED& overlapped) {
    if (!AbortEvent || !overlapped.hEvent) return true;
    const HANDLE events[2] = {overlapped.hEvent, AbortEvent};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return true;
    // The read belongs to this thread, and `overlapped` must outlive it.
    CancelIo(PortHandle.get());
    DWORD ignored = 0;
    GetOverlappedResult(PortHandle.get(), &overlapped, &ignored, TRUE);
    return false;
}

bool TCommExchange::Receive(uint8_t count, std::string& text) {
    if (!PortHandle) return false;
    char buffer[kBufferSize] = {};
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CompletionEvent.get();
    DWORD bytes = 0;
    bool done = ReadFile(PortHandle.get(), buffer, count, &bytes, &overlapped) != FALSE;
    if (!done && GetLastError() == ERROR_IO_PENDING) {
        if (!WaitForReadUnlessAborted(overlapped)) return false;  // the owner is stopping
        done = WaitForRead(overlapped, bytes);
    }
    // Wine's way of ending a read short; anything else that failed is the device's fault.
    const bool shortRead = done || GetLastError() == ERROR_TIMEOUT;
    if (!done || bytes < count) {
        // Also for a read that failed outright: a device that keeps failing
        // is better re-opened than read again and again at full speed.
        Reopen(!shortRead);
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
    Reopen(true);
    return false;
}

}  // namespace tq::kb
