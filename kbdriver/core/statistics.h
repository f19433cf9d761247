// What the driver knows about its line: counted per Start, handed out by the
// GetStatistics export so that an engineer can tell the keyboard, the cable
// and the port apart.
#pragma once
#include <atomic>
#include <cstdint>

namespace tq::kb {

// The structure that GetStatistics fills. Its first field is its size, so
// that later versions can add fields at the end: the caller sets Size to the
// size it knows, at least kStatisticsFirstSize (the fields up to Port, which
// the first callers were built with), and the driver fills as much as both
// know and sets Size to the number of bytes it filled. Every field is 32 bits.
struct TKBStatistics {
    uint32_t Size;
    uint32_t BytesRead;         // every byte taken off the line
    uint32_t FramesAccepted;    // key frames with a good CRC, whatever their code
    uint32_t KeysDelivered;     // calls of the host's callback
    uint32_t IdleFrames;        // whole frames with the code "00"
    uint32_t RejectedShape;     // candidates cut short, or whole frames of another type
    uint32_t RejectedCrc;       // 12-byte candidates whose CRC digits did not match
    uint32_t BytesSkipped;      // bytes that belonged to no whole frame
    uint32_t Reopens;           // opens of the port after the first one, FaultReopens included
    uint32_t FailedOpens;       // opens that failed, the first one included
    uint32_t LastOpenError;     // the Windows error of the last failed open; 0 if none failed
    int32_t OpenResult;         // the first open: 0, -1, -2 or -3; kNotStarted before a Start
    int32_t Handshake;          // kHandshake* below
    uint32_t LastFrameTick;     // the tick count (GetTickCount) of the last accepted frame
    uint32_t Connected;         // 1 or 0, what GetConnected reports
    int32_t Port;               // the COM port number of the current or last Start
    // Added later; a caller that knows only the fields above never sees them.
    uint32_t FaultReopens;      // re-opens after a failed open, a failed read or a failed write; the
                                // rest of Reopens follow short reads, which a silent line gives twice a second
    uint32_t PortOpen;          // 1 while the reader holds the port open
    uint32_t FramesUndelivered; // key frames the reader could not hand over: the host's thread was gone
};

constexpr uint32_t kStatisticsFirstSize = 16 * sizeof(uint32_t);
static_assert(sizeof(TKBStatistics) == kStatisticsFirstSize + 3 * sizeof(uint32_t), "32-bit fields, no padding");

constexpr int32_t kNotStarted = 1;
constexpr int32_t kHandshakeNotTried = -1;  // the port did not open
constexpr int32_t kHandshakeFailed = 0;     // three requests, no answer
constexpr int32_t kHandshakeAnswered = 1;

// The live counts behind TKBStatistics. The reader thread and the host's
// thread count, any thread may take a snapshot; plain relaxed atomics are
// enough because no count has to agree exactly with another.
class LineStatistics {
public:
    void Reset(int32_t port);
    void Add(std::atomic<uint32_t>& counter, uint32_t n = 1) { counter.fetch_add(n, std::memory_order_relaxed); }
    void Set(std::atomic<uint32_t>& field, uint32_t v) { field.store(v, std::memory_order_relaxed); }
    void Set(std::atomic<int32_t>& field, int32_t v) { field.store(v, std::memory_order_relaxed); }
    void OpenFailed(uint32_t systemError);
    // Connected is the driver's, so the caller supplies it.
    TKBStatistics Snapshot(bool connected) const;

    std::atomic<uint32_t> bytesRead{0};
    std::atomic<uint32_t> framesAccepted{0};
    std::atomic<uint32_t> keysDelivered{0};
    std::atomic<uint32_t> idleFrames{0};
    std::atomic<uint32_t> rejectedShape{0};
    std::atomic<uint32_t> rejectedCrc{0};
    std::atomic<uint32_t> bytesSkipped{0};
    std::atomic<uint32_t> reopens{0};
    std::atomic<uint32_t> faultReopens{0};
    std::atomic<uint32_t> portOpen{0};
    std::atomic<uint32_t> framesUndelivered{0};
    // Set by a reader whose hand-over window is gone: it can deliver nothing
    // more, so the driver must not say it is connected. Not in the snapshot.
    std::atomic<uint32_t> handOverLost{0};
    std::atomic<uint32_t> failedOpens{0};
    std::atomic<uint32_t> lastOpenError{0};
    std::atomic<int32_t> openResult{kNotStarted};
    std::atomic<int32_t> handshake{kHandshakeNotTried};
    std::atomic<uint32_t> lastFrameTick{0};
    std::atomic<int32_t> port{0};
};

}  // namespace tq::kb
