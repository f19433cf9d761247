#include "kbdriver/protocol.h"

#include <gtest/gtest.h>

#include <deque>

#include "kbdriver/tests/fake_link.h"

namespace tq::kb {
namespace {

TEST(Crc, MatchesKermitCheckValueAndFrameExample) {
    EXPECT_EQ(Crc("123456789"), 0x2189);
    EXPECT_EQ(Crc(":K3C00"), 0x6F1C);
    EXPECT_EQ(CrcDigits(0x6F1C), "6F1C");
    EXPECT_EQ(CrcDigits(0x00AB), "00AB");
    EXPECT_EQ(MakeKeyFrame("3C"), ":K3C006F1C\r\n");
}

TEST(KeyTable, MapsFiveCodesAndNothingElse) {
    EXPECT_EQ(KeyNumber("3C"), 1);
    EXPECT_EQ(KeyNumber("3D"), 2);
    EXPECT_EQ(KeyNumber("35"), 3);
    EXPECT_EQ(KeyNumber("3A"), 4);
    EXPECT_EQ(KeyNumber("41"), 5);
    EXPECT_EQ(KeyNumber("00"), 0);
    EXPECT_EQ(KeyNumber("3B"), 0);
    EXPECT_EQ(KeyNumber("3c"), 0);
    EXPECT_EQ(KeyNumber("3C0"), 0);
}

TEST(CheckFrame, AcceptsGoodFramesWhateverTheirFreeBytes) {
    EXPECT_EQ(CheckFrame(MakeKeyFrame("3C")).key, 1);
    EXPECT_EQ(CheckFrame(MakeKeyFrame("41", "Zq", std::string_view("\xff\x00", 2))).key, 5);
    FrameVerdict unknown = CheckFrame(MakeKeyFrame("3B"));
    EXPECT_TRUE(unknown.accepted);
    EXPECT_EQ(unknown.key, 0);
}

TEST(CheckFrame, RejectsMalformedFrames) {
    const std::string good = MakeKeyFrame("3C");
    EXPECT_FALSE(CheckFrame(MakeKeyFrame("00")).accepted) << "idle code";
    EXPECT_FALSE(CheckFrame(good.substr(0, 11)).accepted) << "short";
    EXPECT_FALSE(CheckFrame(good + "x").accepted) << "long";
    std::string lower = good;  // CRC digits 6F1C
    for (size_t i = 6; i < 10; ++i) lower[i] = static_cast<char>(tolower(lower[i]));
    EXPECT_FALSE(CheckFrame(lower).accepted) << "lower-case CRC digits";
    std::string wrongType = good;
    wrongType[1] = 'X';
    EXPECT_FALSE(CheckFrame(wrongType).accepted);
    std::string wrongStart = good;
    wrongStart[0] = ';';
    EXPECT_FALSE(CheckFrame(wrongStart).accepted);
    for (size_t i = 2; i < 10; ++i) {
        std::string flipped = good;
        flipped[i] ^= 0x01;
        EXPECT_FALSE(CheckFrame(flipped).accepted) << "byte " << i;
    }
}

TEST(OpenFailureCode, MapsMissingAndHeldPorts) {
    EXPECT_EQ(OpenFailureCode(2), -3);
    EXPECT_EQ(OpenFailureCode(5), -2);
    EXPECT_EQ(OpenFailureCode(3), -1);   // path not found
    EXPECT_EQ(OpenFailureCode(32), -1);  // sharing violation
}

TEST(Handshake, ChecksOnlyBytesTwoToFour) {
    EXPECT_TRUE(IsHandshakeReply("xA31xxxxxxxx"));
    EXPECT_TRUE(IsHandshakeReply(":A31\x01\x02......"));
    EXPECT_FALSE(IsHandshakeReply("A31xxxxxxxxx"));
    EXPECT_FALSE(IsHandshakeReply(":a31xxxxxxxx"));
    EXPECT_FALSE(IsHandshakeReply(":A3"));
}

TEST(Handshake, TriesThreeTimesWithoutPause) {
    FakeLink silent;
    EXPECT_FALSE(Handshake(silent));
    EXPECT_EQ(silent.sent, (std::vector<std::string>{"1", "1", "1"}));

    FakeLink late;
    late.replies = {"xxxxxxxxxxxx", "", ":A31000000\r\n"};
    EXPECT_TRUE(Handshake(late));
    EXPECT_EQ(late.sent.size(), 3u);

    FakeLink deaf;
    deaf.sendWorks = false;
    deaf.replies = {":A31000000\r\n"};
    EXPECT_FALSE(Handshake(deaf)) << "a reply without a request does not count";
    EXPECT_EQ(deaf.received, 0) << "a failed send skips the receive";
}

TEST(HuntFrame, SkipsStrayBytesOneAtATime) {
    FakeLink link;
    link.stream = std::string("\x55\x00", 2) + MakeKeyFrame("3C");
    EXPECT_FALSE(HuntFrame(link));
    EXPECT_FALSE(HuntFrame(link));
    EXPECT_EQ(HuntFrame(link), MakeKeyFrame("3C"));
    EXPECT_TRUE(link.stream.empty());
}

TEST(HuntFrame, DropsIdleAndForeignFramesButPassesUncheckedOnes) {
    FakeLink link;
    std::string badCrc = MakeKeyFrame("3D");
    badCrc[6] = 'Z';
    link.stream = MakeKeyFrame("00") + ":T3C00000000" + badCrc + ":K00";
    EXPECT_FALSE(HuntFrame(link)) << "idle";
    EXPECT_FALSE(HuntFrame(link)) << "foreign type";
    EXPECT_EQ(HuntFrame(link), badCrc) << "the CRC is the host thread's business";
    EXPECT_FALSE(HuntFrame(link)) << "short rest";
    EXPECT_TRUE(link.stream.empty()) << "the short read dropped what came";
}

TEST(HuntFrame, IdleMeansBothDigitsZero) {
    FakeLink link;
    link.stream = MakeKeyFrame("30") + MakeKeyFrame("03");
    EXPECT_EQ(HuntFrame(link), MakeKeyFrame("30"));
    EXPECT_EQ(HuntFrame(link), MakeKeyFrame("03"));
}

}  // namespace
}  // namespace tq::kb
