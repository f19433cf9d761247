#include "kbdriver/kbmon/monitor.h"

#include <gtest/gtest.h>

#include "common/cp1251.h"
#include "kbdriver/tests/fake_link.h"

namespace tq::kbmon {
namespace {

struct Lines : Console {
    std::vector<std::string> lines;  // as UTF-8, to compare with the sources' literals
    void Line(const std::string& text) override { lines.push_back(Cp1251ToUtf8(text)); }
};

std::string U8(const std::string& cp1251) { return Cp1251ToUtf8(cp1251); }

kb::TKBStatistics Running() {
    kb::TKBStatistics s = {};
    s.Size = sizeof s;
    s.OpenResult = 0;
    s.Handshake = kb::kHandshakeAnswered;
    s.Port = 5;
    s.PortOpen = 1;
    return s;
}

TEST(ParseOptions, TakesAPortWithOrWithoutComAndTheRawSwitch) {
    Options o = ParseOptions({"COM5"});
    EXPECT_TRUE(o.error.empty());
    EXPECT_EQ(o.port, 5);
    EXPECT_FALSE(o.raw);
    o = ParseOptions({"--raw", "com12", "--seconds", "3"});
    EXPECT_TRUE(o.raw);
    EXPECT_EQ(o.port, 12);
    EXPECT_EQ(o.seconds, 3u);
    EXPECT_EQ(ParseOptions({"255"}).port, 255);
}

TEST(ParseOptions, RefusesWhatIsNoPort) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"COM0"}, {"COM256"}, {"COM"}, {"COM5x"}, {"COM-1"}, {"COM5", "COM6"}, {"--seconds", "x", "COM5"},
             {"COM99999999999"}, {"--fast", "COM5"}}) {
        EXPECT_FALSE(ParseOptions(args).error.empty()) << (args.empty() ? "(none)" : args[0]);
    }
    EXPECT_EQ(U8(ParseOptions({}).error), "Не указан порт");
}

TEST(Verdict, NamesTheFaultOfTheLine) {
    kb::TKBStatistics s = Running();
    s.FramesAccepted = 40;
    EXPECT_EQ(U8(Verdict(s)), "Линия в порядке");

    s.RejectedCrc = 6;  // of 46 candidates: 13%
    EXPECT_EQ(U8(Verdict(s)), "Ошибки CRC: 13% — проверьте кабель");
    s.RejectedCrc = 1;
    s.FramesAccepted = 200;  // under 1%: a plug pulled once, not a bad cable
    EXPECT_EQ(U8(Verdict(s)), "Линия в порядке");

    s = Running();
    s.Handshake = kb::kHandshakeFailed;
    EXPECT_EQ(U8(Verdict(s)), "Клавиатура не отвечает");
    s.IdleFrames = 3;
    s.FramesAccepted = 40;
    EXPECT_EQ(U8(Verdict(s)), "Клавиатура не отвечает на запрос (кадры от неё приходят)")
        << "its keys come, but the host's Start fails on it";
    s.RejectedCrc = 20;
    EXPECT_EQ(U8(Verdict(s)), "Клавиатура не отвечает на запрос (кадры от неё приходят)") << "the graver fault first";

    s = Running();
    s.OpenResult = -2;
    s.LastOpenError = 5;
    EXPECT_EQ(U8(Verdict(s)), "Порт занят другой программой");
    s.OpenResult = -3;
    EXPECT_EQ(U8(Verdict(s)), "Порт COM5 не найден");
    s.OpenResult = -1;
    s.LastOpenError = 31;
    EXPECT_EQ(U8(Verdict(s)), "Порт COM5 не открывается (ошибка Windows 31)");

    s = Running();
    s.FramesAccepted = 10;
    s.FailedOpens = 4;
    s.LastOpenError = 2;
    EXPECT_EQ(U8(Verdict(s)), "Порт пропал во время работы (ошибка Windows 2) — проверьте подключение");
}

TEST(Lines, StatusAndCandidatesReadAsTheEngineerExpects) {
    kb::TKBStatistics before = Running(), now = Running();
    now.FramesAccepted = 30;
    now.IdleFrames = 10;
    now.RejectedCrc = 2;
    now.BytesSkipped = 17;
    now.Reopens = 5;
    now.FaultReopens = 1;
    now.Connected = 1;
    EXPECT_EQ(U8(StatusLine(before, now, 2000, 12345, Link::Up)),
              "[  12 с] 20.0 кадр/с, CRC 2, пропущ. 17, переоткр. 1/4, связь есть");

    EXPECT_EQ(U8(CandidateLine({kb::MakeKeyFrame("3C"), kb::Candidate::KeyFrame})),
              "3A 4B 33 43 30 30 36 46 31 43 0D 0A клавиша 1");
    EXPECT_EQ(U8(CandidateLine({kb::MakeKeyFrame("3B"), kb::Candidate::KeyFrame})).substr(36), "кадр без клавиши");
    EXPECT_EQ(U8(CandidateLine({":K3", kb::Candidate::Cut})),
              "3A 4B 33                            обрезан");
}

// An hour of a bad line at full speed: every figure is shown, and an
// 80-column console does not wrap the line, whatever the link state.
TEST(Lines, StatusOfAnHourOfABadLineFits79Columns) {
    kb::TKBStatistics before = Running(), now = Running();
    before.FramesAccepted = 100000;
    now.FramesAccepted = before.FramesAccepted + 40;
    now.RejectedCrc = 999;
    now.BytesSkipped = 9999;
    now.FaultReopens = 99;
    now.Reopens = 99 + 7200;  // two idle re-opens a second
    for (Link link : {Link::Up, Link::Silent, Link::PortLost}) {
        const std::string line = U8(StatusLine(before, now, 1000, 3600 * 1000, link));
        EXPECT_LE(Utf8ToWide(line).size(), 79u) << line;
        for (const char* figure : {"3600", "40.0", "999", "9999", "99/7200"})
            EXPECT_NE(line.find(figure), std::string::npos) << figure << " in " << line;
    }
}

TEST(MissingPort, NamesThePortsThatExist) {
    EXPECT_EQ(U8(MissingPort(7, {3, 1, 3})), "Порт COM7 не найден. Есть порты: COM1, COM3");
    EXPECT_EQ(U8(MissingPort(7, {})), "Порт COM7 не найден. COM-портов в системе нет");
    // A port the system names but that did not open is not offered back.
    EXPECT_EQ(U8(MissingPort(7, {7})), "Порт COM7 не найден. COM-портов в системе нет");
}

struct FakePorts : PortList {
    std::vector<int32_t> ports;
    int looks = 0;
    std::vector<int32_t> Existing() override {
        ++looks;
        return ports;
    }
};

struct FakeDriver : KeyboardDriver {
    kb::TKBStatistics stats = Running();
    int stops = 0;
    int32_t Start(int32_t port) override { return stats.Handshake == kb::kHandshakeAnswered ? port : 0; }
    bool Stop() override {
        ++stops;
        stats.Connected = 0;
        return true;
    }
    bool GetStatistics(kb::TKBStatistics& s) override {
        if (s.Size < sizeof s) return false;
        s = stats;
        return true;
    }
};

class DriverMonitorTest : public ::testing::Test {
protected:
    FakeDriver driver;
    FakePorts ports;
    Lines out;
    FakeClock clock;
    DriverMonitor monitor{driver, ports, out, clock};
};

TEST_F(DriverMonitorTest, ShowsKeysAStatusEachSecondAndASummary) {
    ASSERT_TRUE(monitor.Begin(5));
    monitor.OnKey(3);
    clock.Advance(999);
    monitor.Tick();
    EXPECT_EQ(out.lines.size(), 2u) << "no status before a second has passed";
    driver.stats.FramesAccepted = 4;
    clock.Advance(1);
    monitor.Tick();
    clock.Advance(500);
    monitor.Tick();
    monitor.End();
    EXPECT_EQ(driver.stops, 1);
    ASSERT_EQ(out.lines.size(), 3u + 5u);
    EXPECT_EQ(out.lines[1], "клавиша 3");
    EXPECT_EQ(out.lines[2].substr(0, 26), "[   1 с] 4.0 кадр/с,");
    EXPECT_EQ(out.lines[3], "Итог за 1 с на COM5:");
    EXPECT_EQ(out.lines.back(), "Вердикт: Линия в порядке");
}

// The link state of the status lines: from what the line did in the last
// seconds, while the driver's Connected stays set all along.
TEST_F(DriverMonitorTest, LinkStateFollowsTheLineNotConnected) {
    driver.stats.Connected = 1;
    ASSERT_TRUE(monitor.Begin(5));
    auto status = [&](uint32_t reopens) {
        driver.stats.Reopens += reopens;
        clock.Advance(1000);
        monitor.Tick();
        const std::string& line = out.lines.back();
        return line.substr(line.rfind(", ") + 2);
    };
    EXPECT_EQ(status(2), "связь есть") << "the keyboard answered the handshake a second ago";
    for (int i = 0; i < 4; ++i) status(2);
    EXPECT_EQ(status(2), "линия молчит") << "six seconds without a frame";
    EXPECT_NE(out.lines.back().find("переоткр. 0/12,"), std::string::npos)
        << out.lines.back();
    driver.stats.IdleFrames = 1;
    EXPECT_EQ(status(0), "связь есть");

    // The cable pulled: the re-open after a short read fails, and each retry
    // fails again.
    driver.stats.FailedOpens = 1;
    driver.stats.Reopens += 1;
    driver.stats.PortOpen = 0;
    EXPECT_EQ(status(0), "порт недоступен");
    driver.stats.FailedOpens = 3;
    driver.stats.FaultReopens = 2;
    EXPECT_EQ(status(2), "порт недоступен");
    EXPECT_NE(out.lines.back().find("переоткр. 2/13,"), std::string::npos)
        << out.lines.back();
    // Plugged in again between two looks: open now, but it failed meanwhile.
    driver.stats.FailedOpens = 4;
    driver.stats.FaultReopens = 4;
    driver.stats.Reopens += 2;
    driver.stats.PortOpen = 1;
    EXPECT_EQ(status(0), "порт недоступен");
    EXPECT_EQ(status(0), "линия молчит");
    EXPECT_EQ(driver.stats.Connected, 1u) << "all along";
    monitor.End();
    EXPECT_EQ(out.lines[out.lines.size() - 2], "  переоткрытий порта после сбоя 4, в простое 13; неудачных открытий 4");
}

TEST_F(DriverMonitorTest, HeldPortEndsAfterSayingSo) {
    driver.stats.OpenResult = -2;
    driver.stats.LastOpenError = 5;
    driver.stats.Handshake = kb::kHandshakeNotTried;
    EXPECT_FALSE(monitor.Begin(5));
    EXPECT_EQ(out.lines.at(0), "Порт COM5 занят другой программой");
    monitor.End();
    EXPECT_EQ(out.lines.back(), "Вердикт: Порт занят другой программой");
    EXPECT_EQ(ports.looks, 0) << "a held port exists; no list";
}

TEST_F(DriverMonitorTest, MissingPortListsThoseThatExist) {
    driver.stats.OpenResult = -3;
    driver.stats.LastOpenError = 2;
    driver.stats.Handshake = kb::kHandshakeNotTried;
    ports.ports = {4, 1};
    EXPECT_FALSE(monitor.Begin(5));
    EXPECT_EQ(out.lines.at(0), "Порт COM5 не найден. Есть порты: COM1, COM4");
    monitor.End();
    EXPECT_EQ(out.lines.back(), "Вердикт: Порт COM5 не найден");
}

TEST_F(DriverMonitorTest, DriverThatCannotStartItsReaderIsNotWatched) {
    driver.stats.OpenResult = kb::kNotStarted;  // as when its hidden window cannot be made
    EXPECT_FALSE(monitor.Begin(5));
    EXPECT_EQ(out.lines.at(0), "Драйвер не смог начать работу");
}

TEST_F(DriverMonitorTest, SilentKeyboardIsWatchedAnyway) {
    driver.stats.Handshake = kb::kHandshakeFailed;
    EXPECT_TRUE(monitor.Begin(5));
    EXPECT_EQ(out.lines.at(0), "Клавиатура не ответила на запрос; слушаю линию. Ctrl+C — конец.");
    monitor.End();
    EXPECT_EQ(out.lines.back(), "Вердикт: Клавиатура не отвечает");
}

struct FakeMonitorLink : MonitorLink {
    kb::FakeLink line;
    int opens = 0;
    int32_t openResult = 0;
    bool open = false;
    bool Receive(uint8_t count, std::string& text) override { return line.Receive(count, text); }
    bool Send(const std::string& text) override { return line.Send(text); }
    int32_t Open() override {
        ++opens;
        open = openResult == 0;
        return openResult;
    }
    bool IsOpen() const override { return open; }
};

class RawMonitorTest : public ::testing::Test {
protected:
    FakeMonitorLink link;
    kb::LineStatistics stats;
    FakePorts ports;
    Lines out;
    FakeClock clock;
    RawMonitor monitor{link, stats, ports, out, clock};
};

TEST_F(RawMonitorTest, PrintsEveryCandidateWithItsCheck) {
    link.line.replies = {":A31000000\r\n"};
    ASSERT_TRUE(monitor.Begin(7));
    EXPECT_EQ(out.lines.at(0), "COM7 открыт без драйвера; клавиатура ответила. Ctrl+C — конец.");
    std::string bad = kb::MakeKeyFrame("3D");
    bad[7] = 'X';
    link.line.stream = kb::MakeKeyFrame("00") + "?" + bad + kb::MakeKeyFrame("41") + ":K3";
    while (!link.line.stream.empty()) monitor.Step();
    monitor.End();
    std::vector<std::string> results;
    for (size_t i = 1; i < out.lines.size() && out.lines[i].size() > 36 && out.lines[i][2] == ' '; ++i)
        results.push_back(out.lines[i].substr(36));
    EXPECT_EQ(results, (std::vector<std::string>{"пустой кадр", "ошибка CRC", "клавиша 5", "обрезан"}));
    EXPECT_EQ(out.lines.back(), "Вердикт: Ошибки CRC: 25% — проверьте кабель");
}

TEST_F(RawMonitorTest, HeldPort) {
    link.openResult = -2;
    EXPECT_FALSE(monitor.Begin(3));
    EXPECT_EQ(out.lines.at(0), "Порт COM3 занят другой программой");
}

TEST_F(RawMonitorTest, MissingPortSaysThereAreNone) {
    link.openResult = -3;
    EXPECT_FALSE(monitor.Begin(3));
    EXPECT_EQ(out.lines.at(0), "Порт COM3 не найден. COM-портов в системе нет");
}

// Without the driver, kbmon asks the keyboard itself: one that keeps silent
// gets the same verdict, its keys notwithstanding.
TEST_F(RawMonitorTest, KeyboardThatDoesNotAnswerIsSaidSoThoughItsKeysCome) {
    ASSERT_TRUE(monitor.Begin(7));
    EXPECT_EQ(out.lines.at(0), "COM7 открыт без драйвера; клавиатура не ответила на запрос. Ctrl+C — конец.");
    link.line.stream = kb::MakeKeyFrame("3C") + kb::MakeKeyFrame("3D");
    while (!link.line.stream.empty()) monitor.Step();
    monitor.End();
    EXPECT_EQ(out.lines.back(), "Вердикт: Клавиатура не отвечает на запрос (кадры от неё приходят)");
}

TEST_F(RawMonitorTest, LostPortIsOpenedAgainAfterAPause) {
    ASSERT_TRUE(monitor.Begin(3));
    link.open = false;  // a re-open after a short read failed
    const int opens = link.opens;
    monitor.Step();
    EXPECT_EQ(link.opens, opens + 1) << "tries again";
    EXPECT_EQ(clock.TotalSleptMs(), RawMonitor::kReopenPauseMs) << "after a pause, not at full speed";
}

}  // namespace
}  // namespace tq::kbmon
