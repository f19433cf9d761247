// TComThread: the reader of one start of the driver. Connect opens the port
// and runs the handshake on the caller's thread; then a worker thread hunts
// the line for key frames and hands each one, synchronously, to the thread
// that owns the hand-over window (the host's thread), where the driver checks
// it and calls the host back.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/win/handle.h"
#include "kbdriver/MyCOM.h"
#include "kbdriver/drvkb.h"
#include "kbdriver/protocol.h"
#include "kbdriver/statistics.h"

namespace tq::kb {

class TComThread : public KeyReader {
public:
    using FrameHandler = void (*)(void* context, const std::string& frame);
    using EndNotice = void (*)(void* context);
    // While a re-open of a lost port fails, the reader tries again this often.
    static constexpr DWORD kReopenPauseMs = 500;

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
    bool WaitAnsweringSentMessages(HANDLE object, DWORD limitMs);

    TCommExchange Exchange;
    FrameHunter Hunter;
    std::shared_ptr<LineStatistics> Stats = std::make_shared<LineStatistics>();
    std::string FrameText;
    FrameHandler OnFrame = nullptr;
    void* FrameContext = nullptr;
    EndNotice OnEnded = nullptr;
    void* EndedContext = nullptr;
    std::atomic<bool> StopRequested{false};

    win::KernelHandle StopEvent;  // wakes the pause between failed re-opens
    win::KernelHandle LoopLeft;   // set as the thread's last act in this module
    win::KernelHandle Thread;
    HWND Window = nullptr;
    bool Running = false;
    Step PendingStep = nullptr;
    bool HandOverFailed = false;
    DWORD HandOverThread = 0;  // the thread running a hand-over of this reader, if any
    bool FreeAtEnd = false;
};

// Destroys the hand-over window, or makes it inert when another thread owns
// it, so that nothing calls into a library that is being unloaded.
void ShutdownHandOverWindow();

}  // namespace tq::kb
