// The clock of the Windows programs: sleeping keeps the windows drawn and
// answers sent messages, but takes no input and runs no timer.
#pragma once
#include <windows.h>

#include "../clock.h"
#include "dialog.h"

namespace tq::win {

class WinClock : public Clock {
public:
    uint32_t NowMs() override { return GetTickCount(); }
    void SleepMs(uint32_t ms) override {
        const DWORD start = GetTickCount();
        for (;;) {
            PumpPaintMessages();
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= ms) return;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_PAINT | QS_SENDMESSAGE);
        }
    }
};

}  // namespace tq::win
