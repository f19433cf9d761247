// Waiting goes through a clock so that the logic that waits can be tested
// without waiting. The Windows clock (win/win_clock.h) sleeps while keeping its
// windows painted; FakeClock advances at once.
#pragma once
#include <cstdint>

namespace tq {

class Clock {
public:
    virtual ~Clock() = default;
    // A millisecond tick count that wraps like GetTickCount.
    virtual uint32_t NowMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
};

class FakeClock : public Clock {
public:
    uint32_t NowMs() override { return now_; }
    void SleepMs(uint32_t ms) override {
        now_ += ms;
        slept_ += ms;
    }
    void Advance(uint32_t ms) { now_ += ms; }
    uint64_t TotalSleptMs() const { return slept_; }

private:
    uint32_t now_ = 0;
    uint64_t slept_ = 0;
};

}  // namespace tq
