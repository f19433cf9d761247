// TCommExchange against the keyboard simulator on a pseudo-terminal. The
// Python side (exchange_wine_test.py) maps TQ_KB_PORT to the simulator and
// TQ_KB_HELD_PORT to a port that will not open ("held"); the simulator
// answers "1" with the handshake reply, "#n" with n bytes, and unplugs the
// port on "!".
#include <gtest/gtest.h>

#include <cstdlib>

#include "kbdriver/win/MyCOM.h"

namespace tq::kb {
namespace {

// Wine's waits end late on a busy machine, by up to this much; never early
// by more than kEarlyMs.
constexpr DWORD kLateMs = 1000;
constexpr DWORD kEarlyMs = 100;

::testing::AssertionResult TookAbout(DWORD took, DWORD expected) {
    if (took + kEarlyMs >= expected && took <= expected + kLateMs) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "took " << took << " ms, expected " << expected << " ms - "
                                         << kEarlyMs << " + " << kLateMs;
}

int EnvPort(const char* name) {
    const char* value = getenv(name);
    return value ? atoi(value) : 0;
}

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = EnvPort("TQ_KB_PORT");
        ASSERT_NE(port, 0) << "run me through exchange_wine_test.py";
        exchange.SetPortNumber(port);
        exchange.SetSpeedIndex(1);
    }
    // Milliseconds that `call` took.
    template <typename F>
    DWORD Timed(F call) {
        const DWORD start = GetTickCount();
        call();
        return GetTickCount() - start;
    }
    int port = 0;
    TCommExchange exchange;
};

TEST_F(ExchangeTest, OpenReportsMissingAndHeldPorts) {
    exchange.SetPortNumber(0);
    EXPECT_EQ(exchange.Open(), -3);
    EXPECT_FALSE(exchange.IsOpen());
    exchange.SetPortNumber(EnvPort("TQ_KB_HELD_PORT"));
    EXPECT_EQ(exchange.Open(), -2);
    std::string text = "kept";
    EXPECT_FALSE(exchange.Receive(1, text));
    EXPECT_FALSE(exchange.Send("1"));
    EXPECT_EQ(text, "kept");
}

TEST_F(ExchangeTest, HandshakeRoundTripAndReopenWithoutClose) {
    ASSERT_EQ(exchange.Open(), 0);
    ASSERT_EQ(exchange.Open(), 0) << "a second Open closes the first handle";
    EXPECT_TRUE(exchange.IsOpen());
    ASSERT_TRUE(exchange.Send("1"));
    std::string reply;
    ASSERT_TRUE(exchange.Receive(12, reply));
    EXPECT_TRUE(IsHandshakeReply(reply)) << reply;
    EXPECT_TRUE(Handshake(exchange));
}

TEST_F(ExchangeTest, ShortReadFailsAfterTheTimeOutAndReopens) {
    ASSERT_EQ(exchange.Open(), 0);
    ASSERT_TRUE(exchange.Send("#5"));
    std::string text = "kept";
    const DWORD took = Timed([&] { EXPECT_FALSE(exchange.Receive(12, text)); });
    EXPECT_EQ(text, "kept") << "the 5 bytes that came are dropped";
    EXPECT_TRUE(TookAbout(took, TCommExchange::kReadIntervalMs)) << "the line fell silent after 5 bytes";
    EXPECT_TRUE(exchange.IsOpen()) << "re-opened";
    EXPECT_TRUE(Handshake(exchange)) << "and usable";
}

TEST_F(ExchangeTest, SilentLineReceiveEndsAfterTheTotalTimeOut) {
    ASSERT_EQ(exchange.Open(), 0);
    std::string text;
    const DWORD took = Timed([&] { EXPECT_FALSE(exchange.Receive(1, text)); });
    EXPECT_TRUE(TookAbout(took, TCommExchange::kReadTotalMs + 1 * TCommExchange::kReadPerByteMs));
    EXPECT_TRUE(exchange.IsOpen());
}

TEST_F(ExchangeTest, SendPurgesStaleInputAndRefusesLongText) {
    ASSERT_EQ(exchange.Open(), 0);
    ASSERT_TRUE(exchange.Send("#9"));
    Sleep(200);  // nine stale bytes wait in the input queue
    EXPECT_FALSE(exchange.Send(std::string(257, '1'))) << "longer than 256 bytes";
    ASSERT_TRUE(exchange.Send(std::string(256, 'z')));
    ASSERT_TRUE(exchange.Send("1"));
    std::string reply;
    ASSERT_TRUE(exchange.Receive(12, reply));
    EXPECT_TRUE(IsHandshakeReply(reply)) << "no stale bytes before the reply: " << reply;
}

// Wine would open the port a second time; Windows answers access denied,
// and so does the exchange, until the first one lets go.
TEST_F(ExchangeTest, PortHeldByAnotherExchangeIsRefusedAsOnWindows) {
    LineStatistics stats;
    exchange.SetStatistics(&stats);
    ASSERT_EQ(exchange.Open(), 0);
    EXPECT_EQ(stats.portOpen.load(), 1u);
    TCommExchange second;
    second.SetPortNumber(port);
    EXPECT_EQ(second.Open(), -2);
    exchange.Close();
    EXPECT_EQ(stats.portOpen.load(), 0u);
    EXPECT_EQ(second.Open(), 0) << "free again";
    EXPECT_EQ(exchange.Open(), -2);
    EXPECT_EQ(stats.lastOpenError.load(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
}

TEST_F(ExchangeTest, ShortReadsAreIdleReopensAndTheAbortEventEndsAWait) {
    LineStatistics stats;
    exchange.SetStatistics(&stats);
    win::KernelHandle abort(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    exchange.SetAbortEvent(abort.get());
    ASSERT_EQ(exchange.Open(), 0);
    std::string text;
    EXPECT_FALSE(exchange.Receive(1, text));
    EXPECT_EQ(stats.reopens.load(), 1u);
    EXPECT_EQ(stats.faultReopens.load(), 0u) << "a silent line is no fault";
    SetEvent(abort.get());
    const DWORD took = Timed([&] { EXPECT_FALSE(exchange.Receive(1, text)); });
    EXPECT_LT(took, 100u) << "the owner is stopping: no half-second wait";
    EXPECT_EQ(stats.reopens.load(), 1u) << "and no re-open";
    EXPECT_TRUE(exchange.IsOpen());
}

// Last: it unplugs the simulated keyboard.
TEST_F(ExchangeTest, ZZ_FailedReopenLeavesThePortClosed) {
    LineStatistics stats;
    exchange.SetStatistics(&stats);
    ASSERT_EQ(exchange.Open(), 0);
    ASSERT_TRUE(exchange.Send("!"));
    Sleep(200);
    std::string text;
    EXPECT_FALSE(exchange.Receive(1, text));
    EXPECT_FALSE(exchange.IsOpen());
    EXPECT_EQ(stats.portOpen.load(), 0u);
    EXPECT_LT(exchange.Open(), 0);
    EXPECT_EQ(stats.faultReopens.load(), 1u) << "the open after a failed one";
    const DWORD took = Timed([&] { EXPECT_FALSE(exchange.Receive(1, text)); });
    EXPECT_LT(took, 50u) << "a closed port fails at once";
    EXPECT_FALSE(exchange.Send("1"));
}

}  // namespace
}  // namespace tq::kb
