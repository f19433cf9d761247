#include "kbdriver/win/ComThread.h"

#include <optional>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tq::kb {
namespace {

constexpr UINT kRunHandOver = WM_APP + 1;
constexpr UINT kFreeReader = WM_APP + 2;
constexpr LRESULT kHandedOver = 1;
constexpr wchar_t kWindowClass[] = L"TQ850KBHandOver";

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

// The one hidden window that readers hand over to, and how many reader
// objects use it. The threads that create and destroy readers touch it:
// Start's and Stop's, one at a time, and the window's own thread when it
// frees a reader that was let go from inside a hand-over; hence the lock.
struct HandOverWindow {
    HWND window = nullptr;
    DWORD ownerThread = 0;
    int readers = 0;
    bool classRegistered = false;
};
HandOverWindow g_handOver;
SRWLOCK g_handOverLock = SRWLOCK_INIT;

class HandOverLock {
public:
    HandOverLock() { AcquireSRWLockExclusive(&g_handOverLock); }
    ~HandOverLock() { ReleaseSRWLockExclusive(&g_handOverLock); }
    HandOverLock(const HandOverLock&) = delete;
    HandOverLock& operator=(const HandOverLock&) = delete;
};

// Destroys the window on its own thread; from any other thread it gets the
// default procedure and a posted WM_CLOSE, so it goes away the next time its
// thread dispatches messages without calling into this module again.
void RetireWindow() {
    HWND window = g_handOver.window;
    g_handOver.window = nullptr;
    if (!window || !IsWindow(window)) return;
    if (g_handOver.ownerThread == GetCurrentThreadId()) {
        DestroyWindow(window);
        return;
    }
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
    PostMessageW(window, WM_CLOSE, 0, 0);
}

void ReleaseWindow() {
    HandOverLock lock;
    if (--g_handOver.readers == 0) RetireWindow();
}

// A window whose thread has ended is gone with it; the next reader makes a
// new one on its own thread.
HWND AcquireWindow(WNDPROC procedure) {
    HandOverLock lock;
    HandOverWindow& s = g_handOver;
    if (!s.window || !IsWindow(s.window)) {
        if (!s.classRegistered) {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = procedure;
            wc.hInstance = ThisModule();
            wc.lpszClassName = kWindowClass;
            s.classRegistered = RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
        }
        HWND window = CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      ThisModule(), nullptr);
        if (!window) return nullptr;
        s.window = window;
        s.ownerThread = GetCurrentThreadId();
    }
    ++s.readers;
    return s.window;
}

}  // namespace

LRESULT CALLBACK TComThread::WindowProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    auto* reader = reinterpret_cast<TComThread*>(lp);
    if (message == kFreeReader) {
        // Posted as the thread's last act: its end is a moment away.
        WaitForSingleObject(reader->Thread.get(), INFINITE);
        delete reader;
        return 0;
    }
    if (message != kRunHandOver) return DefWindowProcW(window, message, wp, lp);
    reader->HandOverThread = GetCurrentThreadId();
    try {
        (reader->*reader->PendingStep)();
    } catch (...) {
        reader->HandOverFailed = true;  // the reader ends once the send returns
    }
    reader->HandOverThread = 0;
    return kHandedOver;
}

void ShutdownHandOverWindow() {
    HandOverLock lock;
    RetireWindow();
    if (g_handOver.classRegistered) UnregisterClassW(kWindowClass, ThisModule());
    g_handOver = HandOverWindow{};
}

TComThread::TComThread() {
    Window = AcquireWindow(WindowProc);
    StopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    LoopLeft.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // A stop request ends the receive the reader waits in.
    Exchange.SetAbortEvent(StopEvent.get());
    if (StopEvent && LoopLeft)
        Thread.reset(CreateThread(nullptr, 0, ThreadMain, this, CREATE_SUSPENDED, nullptr));
}

TComThread::~TComThread() {
    if (Thread && !Running) {
        // Never started: let it start only to end at once.
        RequestStop();
        WaitForEnd();
    }
    if (Window) ReleaseWindow();
}

void TComThread::SetFrameHandler(FrameHandler handler, void* context) {
    OnFrame = handler;
    FrameContext = context;
}

void TComThread::SetEndNotice(EndNotice notice, void* context) {
    OnEnded = notice;
    EndedContext = context;
}

void TComThread::SetStatistics(std::shared_ptr<LineStatistics> stats) {
    Stats = std::move(stats);
    Exchange.SetStatistics(Stats.get());
}

int TComThread::Connect() {
    int result = Exchange.Open();
    Stats->Set(Stats->openResult, result);
    if (result != 0) return result;
    const bool answered = Handshake(Exchange);
    Stats->Set(Stats->handshake, answered ? kHandshakeAnswered : kHandshakeFailed);
    return answered ? 0 : -1;  // after a failed handshake the port stays open
}

void TComThread::Run() {
    if (Running || !Thread) return;
    Running = true;
    ResumeThread(Thread.get());
}

void TComThread::RequestStop() {
    StopRequested = true;
    if (StopEvent) SetEvent(StopEvent.get());
}

bool TComThread::WaitForEnd() {
    if (!Thread) return true;
    if (HandOverThread == GetCurrentThreadId()) return false;
    Run();
    WaitAnsweringSentMessages(Thread.get(), INFINITE);
    return true;
}

// Runs on the host's thread during a hand-over, while the reader thread waits
// in it and so leaves the exchange alone. The port is closed here, not when
// the thread ends: the host's callback that stops the driver may start it
// again at once, and Windows opens a port for one handle only.
void TComThread::FreeWhenEnded() {
    OnFrame = nullptr;
    OnEnded = nullptr;
    FreeAtEnd = true;
    Exchange.Close();
}

bool TComThread::WaitForLoopEnd(uint32_t limitMs) {
    // A thread that never ran cannot start while the library is being
    // unloaded, so it cannot be waited for either.
    if (!Running) return false;
    return WaitAnsweringSentMessages(LoopLeft.get(), limitMs);
}

bool WaitAnsweringSentMessages(HANDLE object, DWORD limitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD left = INFINITE;
        if (limitMs != INFINITE) {
            const DWORD elapsed = GetTickCount() - start;
            left = elapsed >= limitMs ? 0 : limitMs - elapsed;
        }
        const DWORD woke = MsgWaitForMultipleObjects(1, &object, FALSE, left, QS_SENDMESSAGE);
        // An abandoned mutex is taken all the same.
        if (woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED_0) return true;
        if (woke != WAIT_OBJECT_0 + 1) return false;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

DWORD WINAPI TComThread::ThreadMain(void* self) {
    auto* reader = static_cast<TComThread*>(self);
    const HANDLE loopLeft = reader->LoopLeft.get();
    try {
        reader->Execute();
    } catch (...) {
        reader->Exchange.Close();
    }
    const bool freeAtEnd = reader->FreeAtEnd;
    const HWND window = reader->Window;
    // The owner may free the reader, or unload the library, once this is set:
    // nothing after it may touch either.
    SetEvent(loopLeft);
    if (freeAtEnd) PostMessageW(window, kFreeReader, 0, reinterpret_cast<LPARAM>(reader));
    return 0;
}

void TComThread::Execute() {
    if (Exchange.IsOpen()) {
        while (!StopRequested) {
            if (!Exchange.IsOpen()) {
                // A re-open failed (the keyboard was unplugged, say): try
                // again after a pause instead of spinning on a closed port.
                WaitForSingleObject(StopEvent.get(), kReopenPauseMs);
                if (!StopRequested) Exchange.Open();
                continue;
            }
            std::optional<std::string> frame = Hunter.Next(Exchange, *Stats);
            if (!frame) {
                if (WindowGone()) break;
                continue;
            }
            FrameText = std::move(*frame);
            if (!HandOver(&TComThread::DeliverFrame)) {
                if (WindowLost) Stats->Add(Stats->framesUndelivered);
                break;
            }
        }
    }
    // Without a window the end notice cannot run on the host's thread either;
    // handOverLost tells the driver instead.
    if (OnEnded && !WindowLost) HandOver(&TComThread::DeliverEnd);
    Exchange.Close();
}

// Runs `step` on the hand-over window's thread and waits for it. False when
// the step failed or the window is gone (WindowLost).
bool TComThread::HandOver(Step step) {
    PendingStep = step;
    HandOverFailed = false;
    const LRESULT result = SendMessageW(Window, kRunHandOver, 0, reinterpret_cast<LPARAM>(this));
    if (result != kHandedOver) {
        // Only our window procedure answers kHandedOver: the window, or the
        // thread it belonged to, is gone.
        WindowLost = true;
        Stats->Set(Stats->handOverLost, 1u);
    }
    return result == kHandedOver && !HandOverFailed;
}

// Asked between steps of the hunt, at most every kWindowCheckMs, so that a
// reader whose host thread has ended stops before a key is lost to it.
bool TComThread::WindowGone() {
    const DWORD now = GetTickCount();
    if (now - WindowCheckedAt < kWindowCheckMs) return false;
    WindowCheckedAt = now;
    if (IsWindow(Window)) return false;
    WindowLost = true;
    Stats->Set(Stats->handOverLost, 1u);
    return true;
}

void TComThread::DeliverFrame() {
    if (OnFrame) OnFrame(FrameContext, FrameText);
}

void TComThread::DeliverEnd() { OnEnded(EndedContext); }

}  // namespace tq::kb
