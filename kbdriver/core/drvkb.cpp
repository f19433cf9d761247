#include "kbdriver/core/drvkb.h"

#include "kbdriver/core/protocol.h"

namespace tq::kb {
namespace {

class ControlGuard {
public:
    explicit ControlGuard(DriverSystem& system) : System(system) { System.EnterControl(); }
    ~ControlGuard() { System.LeaveControl(); }
    ControlGuard(const ControlGuard&) = delete;
    ControlGuard& operator=(const ControlGuard&) = delete;

private:
    DriverSystem& System;
};

}  // namespace

TDrvKB::~TDrvKB() {
    // The reader calls back into this object, so it must not outlive it.
    ControlGuard guard(System);
    if (Reader) StopReader();
}

// Start and Stop run one at a time: a host that calls them from two threads
// would otherwise see one thread drop the reader that the other is between
// Connect and Run with, or two readers open the same port.
int32_t TDrvKB::Start(int32_t port) {
    ControlGuard guard(System);
    SetPortNumber(port);
    return StartReader() == 0 ? PortNumber : 0;
}

bool TDrvKB::Stop() {
    ControlGuard guard(System);
    StopReader();
    return true;
}

void TDrvKB::StopForUnload() {
    if (!Reader) return;
    Reader->RequestStop();
    if (Reader->WaitForLoopEnd(kUnloadWaitLimitMs))
        Reader.reset();
    else
        System.AbandonReader(std::move(Reader));
    System.clock().SleepMs(kUnloadPauseMs);
}

void TDrvKB::SetPortNumber(int32_t port) {
    if (port <= 0)
        PortNumber = LoadLastPort();
    else
        PortNumber = port > kMaxPort ? kMaxPort : port;
}

int32_t TDrvKB::StartReader() {
    if (Reader || Connected) {
        StopReader();
        System.clock().SleepMs(kRestartPauseMs);
    }
    Connected = false;
    Stats->Reset(PortNumber);
    Reader = System.NewReader(*this, PortNumber, SpeedIndex);
    if (!Reader) return -1;
    const int32_t result = Reader->Connect();
    Connected = result == 0;
    if (result == 0) SaveLastPort();
    // Also after a failed handshake: a keyboard that does not answer it still
    // sends keys, and they reach the host.
    Reader->Run();
    return result;
}

int32_t TDrvKB::StopReader() {
    if (Reader) {
        Reader->RequestStop();
        if (Reader->WaitForEnd())
            Reader.reset();
        else
            Reader.release()->FreeWhenEnded();
        // No reader runs now that could deliver a frame, whether or not its
        // end notice found a window to run on.
        Connected = false;
    }
    return 0;
}

int32_t TDrvKB::LoadLastPort() { return System.ReadLastPort().value_or(0); }

void TDrvKB::SaveLastPort() {
    if (PortNumber == SavedPortNumber) return;
    if (System.WriteLastPort(PortNumber)) SavedPortNumber = PortNumber;
}

void TDrvKB::HandleFrame(const std::string& frame) {
    const FrameVerdict verdict = CheckFrame(frame);
    if (!verdict.accepted) return;
    Connected = true;
    Stats->Add(Stats->framesAccepted);
    Stats->Set(Stats->lastFrameTick, System.clock().NowMs());
    const TKBFunction callback = KeyCallback;
    if (verdict.key == 0 || !callback) return;
    Stats->Add(Stats->keysDelivered);
    callback(verdict.key);
}

}  // namespace tq::kb
