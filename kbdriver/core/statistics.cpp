#include "kbdriver/core/statistics.h"

#include <initializer_list>

namespace tq::kb {

void LineStatistics::Reset(int32_t portNumber) {
    for (auto* counter : {&bytesRead, &framesAccepted, &keysDelivered, &idleFrames, &rejectedShape, &rejectedCrc,
                          &bytesSkipped, &reopens, &failedOpens, &lastOpenError, &lastFrameTick, &faultReopens, &portOpen,
                          &framesUndelivered, &handOverLost})
        Set(*counter, 0);
    Set(openResult, kNotStarted);
    Set(handshake, kHandshakeNotTried);
    Set(port, portNumber);
}

void LineStatistics::OpenFailed(uint32_t systemError) {
    Add(failedOpens);
    Set(lastOpenError, systemError);
}

TKBStatistics LineStatistics::Snapshot(bool connected) const {
    auto get = [](const auto& field) { return field.load(std::memory_order_relaxed); };
    TKBStatistics s = {};
    s.Size = sizeof s;
    s.BytesRead = get(bytesRead);
    s.FramesAccepted = get(framesAccepted);
    s.KeysDelivered = get(keysDelivered);
    s.IdleFrames = get(idleFrames);
    s.RejectedShape = get(rejectedShape);
    s.RejectedCrc = get(rejectedCrc);
    s.BytesSkipped = get(bytesSkipped);
    s.Reopens = get(reopens);
    s.FailedOpens = get(failedOpens);
    s.LastOpenError = get(lastOpenError);
    s.OpenResult = get(openResult);
    s.Handshake = get(handshake);
    s.LastFrameTick = get(lastFrameTick);
    s.Connected = connected ? 1 : 0;
    s.Port = get(port);
    s.FaultReopens = get(faultReopens);
    s.PortOpen = get(portOpen);
    s.FramesUndelivered = get(framesUndelivered);
    return s;
}

}  // namespace tq::kb
