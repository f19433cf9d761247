// TComThread: the reader of one start of the driver. Connect opens the port
// and runs the handshake on the caller's thread; then a worker thread hunts
// the line for key frames and hands each one, synchronously, to the thread
// that owns the hand-over window (the host's thread), where the driver checks
// it and calls the host back.
//
// A reader ends in one of four ways, all begun by RequestStop:
// - WaitForEnd: the owner waits for the thread's end, answering hand-overs
//   meanwhile, then deletes the reader (Stop, a second Start);
// - FreeWhenEnded: from inside a hand-over, where waiting would deadlock, the
//   owner closes the port (so that a new start can open it at once) and lets
//   go; the thread's last act posts the reader to the hand-over window, which
//   deletes it;
// - WaitForLoopEnd: while the library is being unloaded the thread's own end
//   cannot be waited for (it needs the loader lock), so the owner waits, with
//   a limit, for the thread to leave this module's code;
// - abandon: when that wait runs out, the object is leaked to the thread,
//   which may still use it, until the process ends.
//
// A reader also ends by itself when its hand-over window is gone (the thread
// that started the driver has ended, and the system destroyed its windows
// with it): nothing it reads can reach the host any more. It then marks its
// statistics (handOverLost), so that the driver stops saying it is
// connected, and counts the frame it could not hand over.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/win/handle.h"
#include "kbdriver/win/MyCOM.h"
#include "kbdriver/core/drvkb.h"
#include "kbdriver/core/protocol.h"
#include "kbdriver/core/statistics.h"

namespace tq::kb {

class TComThread : public KeyReader {
public:
    using FrameHandler = void (*)(void* context, const std::string& frame);
    using EndNotice = void (*)(void* context);
    // While a re-open of a lost port fails, the reader tries again this often.
    static constexpr DWORD kReopenPauseMs = 500;
    // How often the hunt looks whether its hand-over window still exists.
    static constexpr DWORD kWindowCheckMs = 250;

    // The calling thread becomes the owner of the hand-over window if there
    // is none. Check Created() before use.
    TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;
    // The owner must have waited for the thread's end (WaitForEnd or
    // WaitForLoopEnd) if the thread ran.
    ~TComThread() override;

    bool Created() const { return Thread.valid() && Window != nullptr; }
    void SetPortNumber(int32_t port) { Exchange.SetPortNumber(port); }
    void SetSpeedIndex(int32_t index) { Exchange.SetSpeedIndex(index); }
    void SetFrameHandler(FrameHandler handler, void* context);
    void SetEndNotice(EndNotice notice, void* context);
    // Where the reader and its exchange count; shared, since a reader that
    // frees itself may outlive its driver.
    void SetStatistics(std::shared_ptr<LineStatistics> stats);
    void SetPriority(int priority) { SetThreadPriority(Thread.get(), priority); }

    int Connect() override;
    void Run() override;
    void RequestStop() override;
    bool WaitForEnd() override;
    void FreeWhenEnded() override;
    bool WaitForLoopEnd(uint32_t limitMs) override;

private:
    using Step = void (TComThread::*)();
    static DWORD WINAPI ThreadMain(void* self);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wp, LPARAM lp);
    void Execute();
    bool HandOver(Step step);
    void DeliverFrame();
    void DeliverEnd();
    bool WindowGone();

    // Who touches what. "Owner" is the thread that created the reader and
    // calls its public functions (the host's); "reader" is the worker
    // thread. A hand-over runs on the window's thread while the reader
    // waits in SendMessage, so what one side writes before the send and the
    // other reads during it needs no lock: the send publishes it. What the
    // owner sets before Run, ResumeThread publishes.
    TCommExchange Exchange;  // owner in Connect, before Run; then the reader only
    FrameHunter Hunter;      // the reader only
    // Set by the owner before Run; its counters are atomic.
    std::shared_ptr<LineStatistics> Stats = std::make_shared<LineStatistics>();
    std::string FrameText;  // the reader before a hand-over; the window's thread during it
    FrameHandler OnFrame = nullptr;  // the owner before Run, or during a hand-over (FreeWhenEnded)
    void* FrameContext = nullptr;    // the owner before Run
    EndNotice OnEnded = nullptr;     // as OnFrame
    void* EndedContext = nullptr;    // the owner before Run
    std::atomic<bool> StopRequested{false};  // the owner; the reader reads it at the top of its loop

    win::KernelHandle StopEvent;  // wakes the pause between failed re-opens and ends a waiting receive
    win::KernelHandle LoopLeft;   // set as the thread's last act in this module
    win::KernelHandle Thread;     // the owner, in the constructor
    HWND Window = nullptr;        // the owner, in the constructor
    bool Running = false;         // the owner only
    Step PendingStep = nullptr;   // the reader before the send; the window's thread during it
    bool HandOverFailed = false;  // the window's thread during a hand-over; the reader after the send returns
    bool WindowLost = false;      // the reader only
    DWORD WindowCheckedAt = 0;    // the reader only
    DWORD HandOverThread = 0;     // the window's thread during a hand-over, read back on that thread
    bool FreeAtEnd = false;       // during a hand-over (FreeWhenEnded); the reader after its loop
};

// Destroys the hand-over window, or makes it inert when another thread owns
// it, so that nothing calls into a library that is being unloaded.
void ShutdownHandOverWindow();

// Waits for `object` (also taking it, for a mutex) while answering the
// messages that other threads send to this one, so that a hand-over to this
// thread completes during the wait. False after `limitMs` or a failed wait.
bool WaitAnsweringSentMessages(HANDLE object, DWORD limitMs);

}  // namespace tq::kb
