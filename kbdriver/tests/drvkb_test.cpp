#include "kbdriver/core/drvkb.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "kbdriver/core/protocol.h"

namespace tq::kb {
namespace {

std::vector<int> g_keys;  // what the host's callback received
void TQKB_WINAPI RecordKey(int32_t key) { g_keys.push_back(key); }

struct ReaderLog {
    int created = 0, connected = 0, ran = 0, stopRequests = 0, waits = 0, destroyed = 0, freedLater = 0;
    std::vector<int32_t> ports;
};

struct FakeReader : KeyReader {
    ReaderLog& log;
    int connectResult;
    bool loopEnds = true;
    bool canWait = true;
    FakeReader(ReaderLog& l, int result, bool ends, bool wait)
        : log(l), connectResult(result), loopEnds(ends), canWait(wait) {}
    ~FakeReader() override { ++log.destroyed; }
    int Connect() override { ++log.connected; return connectResult; }
    void Run() override { ++log.ran; }
    void RequestStop() override { ++log.stopRequests; }
    bool WaitForEnd() override { ++log.waits; return canWait; }
    void FreeWhenEnded() override {
        ++log.freedLater;
        delete this;  // what the real reader does once its thread has ended
    }
    bool WaitForLoopEnd(uint32_t) override { ++log.waits; return loopEnds; }
};

struct FakeSystem : DriverSystem {
    ReaderLog log;
    int connectResult = 0;
    bool canMakeReader = true;
    bool loopEnds = true;
    bool canWait = true;
    std::optional<int32_t> registry;
    bool registryWritable = true;
    int registryWrites = 0;
    FakeClock fakeClock;

    std::unique_ptr<KeyReader> NewReader(TDrvKB&, int32_t port, int32_t speedIndex) override {
        EXPECT_EQ(speedIndex, 1);
        if (!canMakeReader) return nullptr;
        ++log.created;
        log.ports.push_back(port);
        return std::make_unique<FakeReader>(log, connectResult, loopEnds, canWait);
    }
    std::optional<int32_t> ReadLastPort() override { return registry; }
    bool WriteLastPort(int32_t port) override {
        if (!registryWritable) return false;
        ++registryWrites;
        registry = port;
        return true;
    }
    Clock& clock() override { return fakeClock; }
    std::vector<std::unique_ptr<KeyReader>> abandoned;
    void AbandonReader(std::unique_ptr<KeyReader> reader) override { abandoned.push_back(std::move(reader)); }
    std::recursive_mutex control;
    void EnterControl() override { control.lock(); }
    void LeaveControl() override { control.unlock(); }
};

class DrvKBTest : public ::testing::Test {
protected:
    void SetUp() override { g_keys.clear(); }
    FakeSystem sys;
};

TEST_F(DrvKBTest, PortArgumentIsClampedOrTakenFromTheRegistry) {
    TDrvKB drv(sys);
    EXPECT_EQ(drv.Start(300), 255);
    EXPECT_EQ(drv.Start(7), 7);
    sys.registry = 12;
    EXPECT_EQ(drv.Start(-5), 12);
    EXPECT_EQ(drv.Start(0), 12);
    sys.registry = 900;  // taken as it is, without a range check
    EXPECT_EQ(drv.Start(0), 900);
    EXPECT_EQ(sys.log.ports, (std::vector<int32_t>{255, 7, 12, 12, 900}));
}

TEST_F(DrvKBTest, NoRegistryValueMeansPortZeroAndAFailedStart) {
    TDrvKB drv(sys);
    sys.connectResult = -3;  // what opening "COM0" gives
    EXPECT_EQ(drv.Start(0), 0);
    EXPECT_EQ(sys.log.ports, (std::vector<int32_t>{0}));
    EXPECT_FALSE(drv.GetConnected());
    EXPECT_EQ(sys.log.ran, 1) << "the reader runs and ends by itself";
    EXPECT_EQ(sys.registryWrites, 0);
}

TEST_F(DrvKBTest, ConnectingStartRemembersThePortOnce) {
    TDrvKB drv(sys);
    EXPECT_EQ(drv.Start(4), 4);
    EXPECT_TRUE(drv.GetConnected());
    EXPECT_EQ(sys.registry, 4);
    EXPECT_EQ(drv.Start(0), 4);
    EXPECT_EQ(sys.log.ports.back(), 4);
    EXPECT_EQ(sys.registryWrites, 1);
}

TEST_F(DrvKBTest, FirstConnectAfterLoadWritesEvenAPortFromTheRegistry) {
    sys.registry = 6;
    TDrvKB drv(sys);
    EXPECT_EQ(drv.Start(0), 6);
    EXPECT_EQ(sys.registryWrites, 1);
}

TEST_F(DrvKBTest, FailedRegistryWriteIsRetriedAtTheNextConnect) {
    TDrvKB drv(sys);
    sys.registryWritable = false;
    EXPECT_EQ(drv.Start(5), 5) << "a registry failure does not fail the start";
    sys.registryWritable = true;
    drv.Start(5);
    EXPECT_EQ(sys.registryWrites, 1);
    EXPECT_EQ(sys.registry, 5);
}

TEST_F(DrvKBTest, FailedHandshakeStillRunsTheReaderAndKeysStillCount) {
    TDrvKB drv(sys);
    drv.SetKBFunction(RecordKey);
    sys.connectResult = -1;
    EXPECT_EQ(drv.Start(4), 0);
    EXPECT_FALSE(drv.GetConnected());
    EXPECT_EQ(sys.log.ran, 1);
    EXPECT_EQ(sys.registryWrites, 0);
    drv.HandleFrame(MakeKeyFrame("3D"));
    EXPECT_TRUE(drv.GetConnected());
    EXPECT_EQ(g_keys, std::vector<int>{2});
}

TEST_F(DrvKBTest, SecondStartStopsTheOldReaderAndPauses) {
    TDrvKB drv(sys);
    drv.Start(4);
    EXPECT_EQ(sys.fakeClock.TotalSleptMs(), 0u);
    sys.connectResult = -2;
    EXPECT_EQ(drv.Start(4), 0);
    EXPECT_EQ(sys.log.stopRequests, 1);
    EXPECT_EQ(sys.log.waits, 1);
    EXPECT_EQ(sys.log.destroyed, 1);
    EXPECT_EQ(sys.log.created, 2);
    EXPECT_EQ(sys.fakeClock.TotalSleptMs(), 100u);
    EXPECT_FALSE(drv.GetConnected());
}

TEST_F(DrvKBTest, StopIsHarmlessAndClearsTheReader) {
    TDrvKB drv(sys);
    EXPECT_TRUE(drv.Stop());
    drv.Start(4);
    EXPECT_TRUE(drv.Stop());
    EXPECT_TRUE(drv.Stop());
    EXPECT_EQ(sys.log.destroyed, 1);
    EXPECT_EQ(sys.log.waits, 1);
    // The fake reader sends no end notice, as a reader whose window is gone
    // cannot: the stop alone must clear Connected.
    EXPECT_FALSE(drv.GetConnected());
}

TEST_F(DrvKBTest, ReaderThatLostItsWindowIsNotConnected) {
    TDrvKB drv(sys);
    ASSERT_EQ(drv.Start(4), 4);
    ASSERT_TRUE(drv.GetConnected());
    drv.SharedStatistics()->Set(drv.SharedStatistics()->handOverLost, 1u);  // as the reader marks it
    EXPECT_FALSE(drv.GetConnected());
    EXPECT_EQ(drv.GetStatistics().Connected, 0u) << "the statistics say what GetConnected says";
    drv.HandleFrame(MakeKeyFrame("3C"));  // cannot arrive any more, and would not help
    EXPECT_FALSE(drv.GetConnected());
    ASSERT_EQ(drv.Start(4), 4);
    EXPECT_TRUE(drv.GetConnected()) << "a new start has a reader that can deliver";
}

TEST_F(DrvKBTest, StopFromInsideTheCallbackLetsTheReaderFreeItself) {
    TDrvKB drv(sys);
    sys.canWait = false;  // as inside the reader's own hand-over
    drv.Start(4);
    EXPECT_TRUE(drv.Stop());
    EXPECT_FALSE(drv.GetConnected());
    EXPECT_EQ(sys.log.freedLater, 1);
    EXPECT_EQ(sys.log.destroyed, 1);
    EXPECT_TRUE(drv.Stop()) << "the reader is no longer the driver's";
    EXPECT_EQ(sys.log.stopRequests, 1);
}

TEST_F(DrvKBTest, FramesSetConnectedAndCallOnlyForKnownKeys) {
    TDrvKB drv(sys);
    drv.HandleFrame(MakeKeyFrame("3C"));  // no callback yet: dropped
    EXPECT_TRUE(drv.GetConnected());
    drv.ReaderEnded();
    drv.SetKBFunction(RecordKey);
    drv.HandleFrame(MakeKeyFrame("3B"));
    EXPECT_TRUE(drv.GetConnected());
    std::string bad = MakeKeyFrame("41");
    bad[9] = bad[9] == '0' ? '1' : '0';
    drv.HandleFrame(bad);
    for (const char* code : {"3C", "3D", "35", "3A", "41", "41"}) drv.HandleFrame(MakeKeyFrame(code));
    EXPECT_EQ(g_keys, (std::vector<int>{1, 2, 3, 4, 5, 5})) << "repeats are not suppressed";
    drv.SetKBFunction(nullptr);
    drv.HandleFrame(MakeKeyFrame("3C"));
    EXPECT_EQ(g_keys.size(), 6u);
}

TEST_F(DrvKBTest, RejectedFrameLeavesConnectedAlone) {
    TDrvKB drv(sys);
    drv.HandleFrame(MakeKeyFrame("00"));
    drv.HandleFrame(":K3C00zzzz\r\n");
    EXPECT_FALSE(drv.GetConnected());
}

TEST_F(DrvKBTest, NoReaderMeansAFailedStart) {
    TDrvKB drv(sys);
    sys.canMakeReader = false;
    EXPECT_EQ(drv.Start(4), 0);
    EXPECT_FALSE(drv.GetConnected());
    EXPECT_TRUE(drv.Stop());
}

TEST_F(DrvKBTest, DestroyingTheDriverStopsItsReader) {
    sys.connectResult = -1;  // even with Connected false
    {
        TDrvKB drv(sys);
        drv.Start(4);
    }
    EXPECT_EQ(sys.log.stopRequests, 1);
    EXPECT_EQ(sys.log.destroyed, 1);
}

TEST_F(DrvKBTest, UnloadWaitsBoundedAndLeaksAReaderThatWillNotEnd) {
    {
        TDrvKB drv(sys);
        drv.Start(4);
        drv.StopForUnload();
        EXPECT_EQ(sys.log.destroyed, 1);
        EXPECT_EQ(sys.fakeClock.TotalSleptMs(), 500u);
    }
    sys.loopEnds = false;
    {
        TDrvKB drv(sys);
        drv.Start(4);
        drv.StopForUnload();
    }
    EXPECT_EQ(sys.log.destroyed, 1) << "a reader still inside its loop is never freed under it";
    EXPECT_EQ(sys.abandoned.size(), 1u);
}

TEST_F(DrvKBTest, StatisticsCountAcceptedFramesAndDeliveredKeysPerStart) {
    TDrvKB drv(sys);
    drv.Start(4);
    drv.HandleFrame(MakeKeyFrame("3C"));  // no callback: accepted, not delivered
    drv.SetKBFunction(RecordKey);
    sys.fakeClock.Advance(250);
    drv.HandleFrame(MakeKeyFrame("3B"));  // not in the key table
    drv.HandleFrame(MakeKeyFrame("3D"));
    drv.HandleFrame(":K3C00zzzz\r\n");
    drv.SharedStatistics()->Add(drv.SharedStatistics()->rejectedCrc, 3);  // as the reader counts
    TKBStatistics s = drv.GetStatistics();
    EXPECT_EQ(s.Size, sizeof(TKBStatistics));
    EXPECT_EQ(s.FramesAccepted, 3u);
    EXPECT_EQ(s.KeysDelivered, 1u);
    EXPECT_EQ(s.LastFrameTick, 250u);
    EXPECT_EQ(s.RejectedCrc, 3u);
    EXPECT_EQ(s.Connected, 1u);
    EXPECT_EQ(s.Port, 4);

    drv.Stop();
    EXPECT_EQ(drv.GetStatistics().FramesAccepted, 3u) << "a stop keeps the counts for a summary";
    sys.connectResult = -2;
    drv.Start(9);
    s = drv.GetStatistics();
    EXPECT_EQ(s.FramesAccepted + s.KeysDelivered + s.RejectedCrc, 0u) << "a new start counts anew";
    EXPECT_EQ(s.Port, 9);
    EXPECT_EQ(s.OpenResult, kNotStarted) << "the fake reader records no open";
}

// A host that calls Start and Stop from two threads at once. Each reader
// checks that it is the only one alive and that it is not used after the
// driver let go of it; without the control lock one thread deletes the
// reader that the other is between Connect and Run with.
struct RacingSystem : DriverSystem {
    std::atomic<int> alive{0}, mostAlive{0}, made{0}, misused{0};
    FakeClock fakeClock;
    std::recursive_mutex control;

    struct Reader : KeyReader {
        RacingSystem& sys;
        bool stopped = false;
        explicit Reader(RacingSystem& s) : sys(s) {
            const int now = ++sys.alive;
            int most = sys.mostAlive;
            while (now > most && !sys.mostAlive.compare_exchange_weak(most, now)) {}
        }
        ~Reader() override { --sys.alive; }
        int Connect() override {
            std::this_thread::yield();  // the port open and the handshake take a while
            return 0;
        }
        void Run() override {
            if (stopped) ++sys.misused;
        }
        void RequestStop() override { stopped = true; }
        bool WaitForEnd() override { return true; }
        void FreeWhenEnded() override { delete this; }
        bool WaitForLoopEnd(uint32_t) override { return true; }
    };

    std::unique_ptr<KeyReader> NewReader(TDrvKB&, int32_t, int32_t) override {
        ++made;
        return std::make_unique<Reader>(*this);
    }
    std::optional<int32_t> ReadLastPort() override { return 41; }
    bool WriteLastPort(int32_t) override { return true; }
    Clock& clock() override { return fakeClock; }
    void AbandonReader(std::unique_ptr<KeyReader>) override { ++misused; }
    void EnterControl() override { control.lock(); }
    void LeaveControl() override { control.unlock(); }
};

TEST(DrvKBThreadsTest, StartAndStopFromTwoThreadsRunOneAtATime) {
    RacingSystem sys;
    {
        TDrvKB drv(sys);
        std::atomic<int> failedStarts{0};
        auto host = [&] {
            for (int i = 0; i < 1000; ++i) {
                if (drv.Start(41) != 41) ++failedStarts;
                drv.Stop();
            }
        };
        std::thread a(host), b(host);
        a.join();
        b.join();
        EXPECT_EQ(failedStarts, 0);
        EXPECT_FALSE(drv.GetConnected());
    }
    EXPECT_EQ(sys.made, 2000);
    EXPECT_EQ(sys.mostAlive, 1) << "two readers, and so two handles to one port, at once";
    EXPECT_EQ(sys.alive, 0) << "a reader was leaked";
    EXPECT_EQ(sys.misused, 0) << "a reader was run after its stop";
}

}  // namespace
}  // namespace tq::kb
