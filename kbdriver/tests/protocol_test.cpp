#include "kbdriver/core/protocol.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

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

// The frames that the hunt hands over for `line`, until the line is used up.
std::vector<std::string> HuntAll(const std::string& line, LineStatistics& stats) {
    FakeLink link;
    link.stream = line;
    FrameHunter hunter;
    std::vector<std::string> frames;
    while (!link.stream.empty())
        if (std::optional<std::string> frame = hunter.Next(link, stats)) frames.push_back(*frame);
    return frames;
}

std::vector<std::string> HuntAll(const std::string& line) {
    LineStatistics stats;
    return HuntAll(line, stats);
}

TEST(HuntFrame, SkipsStrayBytesOneAtATime) {
    FakeLink link;
    LineStatistics stats;
    FrameHunter hunter;
    link.stream = std::string("\x55\x00", 2) + MakeKeyFrame("3C");
    EXPECT_FALSE(hunter.Next(link, stats));
    EXPECT_FALSE(hunter.Next(link, stats));
    EXPECT_EQ(hunter.Next(link, stats), MakeKeyFrame("3C"));
    EXPECT_TRUE(link.stream.empty());
    EXPECT_EQ(link.received, 4) << "two stray bytes, the ':', then the eleven others at once";
    EXPECT_EQ(stats.bytesRead, 14u);
    EXPECT_EQ(stats.bytesSkipped, 2u);
}

TEST(HuntFrame, DropsIdleForeignAndBadFramesAndCountsThem) {
    LineStatistics stats;
    std::string badCrc = MakeKeyFrame("3D");
    badCrc[6] = 'Z';
    const std::string foreign = ":T3C00" + CrcDigits(Crc(":T3C00")) + "\r\n";
    const std::string line = MakeKeyFrame("00") + foreign + ":T3C00000000" + badCrc + MakeKeyFrame("3A") + ":K00";
    EXPECT_EQ(HuntAll(line, stats), std::vector<std::string>{MakeKeyFrame("3A")});
    EXPECT_EQ(stats.idleFrames, 1u);
    EXPECT_EQ(stats.rejectedCrc, 2u);
    EXPECT_EQ(stats.rejectedShape, 2u) << "the whole frame of another type and the cut one at the end";
    EXPECT_EQ(stats.bytesRead, 61u) << "the short rest at the end is dropped by the exchange";
    EXPECT_EQ(stats.bytesSkipped, 25u) << "two bad candidates and the ':' of the cut one";
}

TEST(HuntFrame, IdleMeansBothDigitsZero) {
    EXPECT_EQ(HuntAll(MakeKeyFrame("30") + MakeKeyFrame("03")),
              (std::vector<std::string>{MakeKeyFrame("30"), MakeKeyFrame("03")}));
}

TEST(HuntFrame, GoodLineCostsOneReceiveForTheStartAndOneForTheRest) {
    FakeLink link;
    LineStatistics stats;
    FrameHunter hunter;
    link.stream = MakeKeyFrame("3C") + MakeKeyFrame("00") + MakeKeyFrame("41");
    int frames = 0;
    while (!link.stream.empty()) frames += hunter.Next(link, stats) ? 1 : 0;
    EXPECT_EQ(frames, 2);
    EXPECT_EQ(link.received, 6);
    EXPECT_EQ(stats.bytesSkipped, 0u);
    EXPECT_EQ(stats.rejectedCrc + stats.rejectedShape, 0u);
}

// A frame behind a frame cut short, at every place of the cut: the cut
// frame's head and the good frame make a candidate that fails its CRC, and
// the hunt finds the good frame's ':' inside it. A frame cut inside its two
// closing bytes still carries its key and CRC, and gives its key too.
TEST(Resync, FrameAfterEveryCutOfAFrameIsFound) {
    const std::string cut = MakeKeyFrame("3D");
    const std::string good = MakeKeyFrame("35");
    for (size_t kept = 1; kept < kFrameSize; ++kept) {
        const std::vector<std::string> frames = HuntAll(cut.substr(0, kept) + good);
        ASSERT_FALSE(frames.empty()) << "head of " << kept;
        EXPECT_EQ(frames.back(), good) << "head of " << kept;
        EXPECT_EQ(frames.size(), kept < kFrameSize - 2 ? 1u : 2u) << "head of " << kept;
        EXPECT_EQ(CheckFrame(frames.front()).key, kept < kFrameSize - 2 ? 3 : 2) << "head of " << kept;
        EXPECT_EQ(HuntAll(cut.substr(kept) + good), std::vector<std::string>{good}) << "tail from " << kept;
    }
}

TEST(Resync, StrayColonsBeforeAFrameAreSkipped) {
    const std::string good = MakeKeyFrame("3A");
    for (size_t colons = 1; colons <= 2 * kFrameSize; ++colons) {
        LineStatistics stats;
        EXPECT_EQ(HuntAll(std::string(colons, ':') + good + good, stats), (std::vector<std::string>{good, good}))
            << colons << " colons";
        EXPECT_EQ(stats.bytesSkipped, colons);
    }
    EXPECT_EQ(HuntAll("x:y:z" + good), std::vector<std::string>{good});
}

TEST(Resync, ColonInsideAWholeFrameStartsNoNewHunt) {
    // The free bytes of a whole frame may hold ':'; the frame is used up as a
    // whole and the next frame is found where it begins.
    const std::string withColons = MakeKeyFrame("3C", ":K", ":K");
    const std::string good = MakeKeyFrame("41");
    EXPECT_EQ(HuntAll(withColons + good), (std::vector<std::string>{withColons, good}));
}

TEST(Resync, FramesFailingTheirCrcNeverGetThrough) {
    const std::string good = MakeKeyFrame("3C");
    for (size_t i = 1; i < 10; ++i) {
        std::string bad = good;
        bad[i] ^= 0x04;
        for (const std::string& frame : HuntAll(bad + good)) EXPECT_TRUE(CheckFrame(frame).accepted) << "byte " << i;
        EXPECT_EQ(HuntAll(bad + good).back(), good);
    }
}

// Random noise with frames dropped in at random places: every frame gives
// its key, in order, and nothing else does.
TEST(Resync, NoiseWithFramesInterleaved) {
    std::mt19937 random(850);
    for (int round = 0; round < 50; ++round) {
        std::string line;
        std::vector<std::string> sent;
        for (int i = 0; i < 40; ++i) {
            for (int n = random() % 40; n > 0; --n) line += static_cast<char>(random() % 4 == 0 ? ':' : random());
            const char* codes[] = {"3C", "3D", "35", "3A", "41"};
            sent.push_back(MakeKeyFrame(codes[random() % 5]));
            line += sent.back();
        }
        EXPECT_EQ(HuntAll(line), sent) << "round " << round;
    }
}

}  // namespace
}  // namespace tq::kb
