#include "kbdriver/kbmon/monitor.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <optional>

#include "common/cp1251.h"
#include "common/number.h"

namespace tq::kbmon {
namespace {

// printf into a string; the format and the result are code page 1251.
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

unsigned long U(uint32_t v) { return static_cast<unsigned long>(v); }

uint32_t FramesSeen(const kb::TKBStatistics& s) { return s.FramesAccepted + s.IdleFrames; }

// Every fault re-open is also a re-open; the rest followed short reads.
uint32_t IdleReopens(const kb::TKBStatistics& s) {
    return s.Reopens > s.FaultReopens ? s.Reopens - s.FaultReopens : 0;
}

// Whole frames and candidates that failed: what the CRC share is taken of.
uint32_t Candidates(const kb::TKBStatistics& s) { return FramesSeen(s) + s.RejectedCrc + s.RejectedShape; }

bool ParsePort(std::string text, int32_t& port) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (text.compare(0, 3, "COM") == 0) text.erase(0, 3);
    // COMn names its port with at most three digits.
    const std::optional<long long> number = text.size() <= 3 ? ParseInteger(text, 1, 255) : std::nullopt;
    if (!number) return false;
    port = static_cast<int32_t>(*number);
    return true;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
    Options options;
    bool havePort = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--raw") {
            options.raw = true;
        } else if (arg == "--seconds" && i + 1 < args.size() && ParseInteger(args[i + 1], 0, 999999)) {
            options.seconds = static_cast<uint32_t>(*ParseInteger(args[++i], 0, 999999));
        } else if (!havePort && ParsePort(arg, options.port)) {
            havePort = true;
        } else {
            options.error = Cp("Непонятный аргумент: ") + arg;
            return options;
        }
    }
    if (!havePort) options.error = Cp("Не указан порт");
    return options;
}

std::string Usage() {
    return Cp("Использование: kbmon [--raw] COMn [--seconds N]\n"
              "  COMn       порт клавиатуры, COM1..COM255\n"
              "  --raw      читать порт без драйвера и показывать каждый кадр\n"
              "  --seconds  закончить через N секунд, как по Ctrl+C");
}

std::string OpenFailure(int32_t openResult, uint32_t systemError, int32_t port) {
    switch (openResult) {
        case 0: return {};
        case -2: return Format(Cp("Порт COM%d занят другой программой").c_str(), port);
        case -3: return Format(Cp("Порт COM%d не найден").c_str(), port);
        default: return Format(Cp("Порт COM%d не открывается (ошибка Windows %lu)").c_str(), port, U(systemError));
    }
}

std::string MissingPort(int32_t port, const std::vector<int32_t>& existing) {
    std::vector<int32_t> ports = existing;
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    std::string list;
    for (int32_t other : ports)
        if (other != port) list += (list.empty() ? "COM" : ", COM") + std::to_string(other);
    return Format(Cp("Порт COM%d не найден. ").c_str(), port) +
           (list.empty() ? Cp("COM-портов в системе нет") : Cp("Есть порты: ") + list);
}

std::string Verdict(const kb::TKBStatistics& s) {
    if (s.OpenResult == kb::kNotStarted) return Cp("Драйвер не смог начать работу");
    if (s.OpenResult == -2) return Cp("Порт занят другой программой");
    if (s.OpenResult != 0) return OpenFailure(s.OpenResult, s.LastOpenError, s.Port);
    if (s.FailedOpens > 0) return Format(Cp("Порт пропал во время работы (ошибка Windows %lu) — проверьте подключение").c_str(), U(s.LastOpenError));
    // A keyboard that never answers the request fails the host's Start even
    // while its keys come through, so frames on the line do not make it fine.
    if (s.Handshake != kb::kHandshakeAnswered)
        return FramesSeen(s) == 0 ? Cp("Клавиатура не отвечает")
                                  : Cp("Клавиатура не отвечает на запрос (кадры от неё приходят)");
    const uint32_t candidates = Candidates(s);
    if (s.RejectedCrc > 0 && s.RejectedCrc * 100ull >= candidates) {
        const unsigned long percent = static_cast<unsigned long>((s.RejectedCrc * 100ull + candidates / 2) / candidates);
        return Format(Cp("Ошибки CRC: %lu%% — проверьте кабель").c_str(), percent);
    }
    return Cp("Линия в порядке");
}

std::string KeyLine(int key) { return Format(Cp("клавиша %d").c_str(), key); }

std::string LinkText(Link link) {
    switch (link) {
        case Link::Up: return Cp("связь есть");
        case Link::Silent: return Cp("линия молчит");
        case Link::PortLost: return Cp("порт недоступен");
    }
    return {};
}

std::string StatusLine(const kb::TKBStatistics& before, const kb::TKBStatistics& now, uint32_t elapsedMs,
                       uint32_t runningMs, Link link) {
    const double perSecond = elapsedMs ? (FramesSeen(now) - FramesSeen(before)) * 1000.0 / elapsedMs : 0.0;
    return Format(Cp("[%4lu с] %.1f кадр/с, CRC %lu, пропущ. %lu, переоткр. %lu/%lu, %s").c_str(),
                  U(runningMs / 1000), perSecond, U(now.RejectedCrc), U(now.BytesSkipped), U(now.FaultReopens),
                  U(IdleReopens(now)), LinkText(link).c_str());
}

std::vector<std::string> Summary(const kb::TKBStatistics& s, uint32_t runningMs) {
    return {
        Format(Cp("Итог за %lu с на COM%d:").c_str(), U(runningMs / 1000), s.Port),
        Format(Cp("  прочитано байт %lu, кадров с клавишами %lu, клавиш передано %lu, пустых кадров %lu").c_str(),
               U(s.BytesRead), U(s.FramesAccepted), U(s.KeysDelivered), U(s.IdleFrames)),
        Format(Cp("  отвергнуто: ошибка CRC %lu, длина или тип %lu; пропущено байт %lu").c_str(), U(s.RejectedCrc),
               U(s.RejectedShape), U(s.BytesSkipped)),
        Format(Cp("  переоткрытий порта после сбоя %lu, в простое %lu; неудачных открытий %lu").c_str(),
               U(s.FaultReopens), U(IdleReopens(s)), U(s.FailedOpens)),
        Cp("Вердикт: ") + Verdict(s),
    };
}

std::string CandidateLine(const kb::SeenCandidate& seen) {
    std::string hex;
    for (unsigned char c : seen.bytes) hex += Format("%02X ", c);
    hex.resize(3 * kb::kFrameSize, ' ');
    switch (seen.kind) {
        case kb::Candidate::KeyFrame: {
            const int key = kb::KeyNumber(seen.bytes.substr(2, 2));
            return hex + (key ? Format(Cp("клавиша %d").c_str(), key) : Cp("кадр без клавиши"));
        }
        case kb::Candidate::Idle: return hex + Cp("пустой кадр");
        case kb::Candidate::OtherType: return hex + Cp("кадр другого типа");
        case kb::Candidate::BadCrc: return hex + Cp("ошибка CRC");
        case kb::Candidate::Cut: return hex + Cp("обрезан");
    }
    return hex;
}

void Ticker::SetLast(const kb::TKBStatistics& s) {
    last_ = s;
    if (s.Handshake == kb::kHandshakeAnswered) {
        heard_ = true;
        heardMs_ = lastMs_;
    }
}

std::string Ticker::Status(uint32_t nowMs, const kb::TKBStatistics& now) {
    // Any candidate counts, a bad one too: the line is alive, the verdict
    // judges its quality.
    if (Candidates(now) != Candidates(last_)) {
        heard_ = true;
        heardMs_ = nowMs;
    }
    Link link = heard_ && nowMs - heardMs_ <= kLinkWindowMs ? Link::Up : Link::Silent;
    if (!now.PortOpen || now.FailedOpens != last_.FailedOpens) {
        link = Link::PortLost;
        heard_ = false;  // frames from before the loss say nothing of the port that comes back
    }
    std::string line = StatusLine(last_, now, nowMs - lastMs_, nowMs - startedMs_, link);
    last_ = now;
    lastMs_ = nowMs;
    return line;
}

bool DriverMonitor::Begin(int32_t port) {
    ticker_.Begin(clock_.NowMs());
    driver_.Start(port);
    const kb::TKBStatistics s = Read();
    ticker_.SetLast(s);
    if (s.OpenResult == kb::kNotStarted) {  // it could not even make its reader
        console_.Line(Verdict(s));
        return false;
    }
    if (s.OpenResult == -3) {
        console_.Line(MissingPort(port, ports_.Existing()));
        return false;
    }
    if (const std::string failure = OpenFailure(s.OpenResult, s.LastOpenError, port); !failure.empty()) {
        console_.Line(failure);
        return false;
    }
    console_.Line(s.Handshake == kb::kHandshakeAnswered ? Cp("Клавиатура ответила. Ctrl+C — конец.")
                                 : Cp("Клавиатура не ответила на запрос; слушаю линию. Ctrl+C — конец."));
    return true;
}

kb::TKBStatistics DriverMonitor::Read() {
    kb::TKBStatistics s = {};
    s.Size = sizeof s;
    if (!driver_.GetStatistics(s)) {
        s = {};
        s.OpenResult = kb::kNotStarted;
    } else if (s.Size < sizeof s) {
        // A driver from before PortOpen: its port is taken as open, so that
        // the link state rests on the frames alone.
        s.PortOpen = 1;
    }
    return s;
}

void DriverMonitor::Tick() {
    const uint32_t now = clock_.NowMs();
    if (ticker_.Due(now)) console_.Line(ticker_.Status(now, Read()));
}

void DriverMonitor::End() {
    driver_.Stop();
    for (const std::string& line : Summary(Read(), ticker_.RunningMs(clock_.NowMs()))) console_.Line(line);
}

bool RawMonitor::Begin(int32_t port) {
    ticker_.Begin(clock_.NowMs());
    stats_.Reset(port);
    const int32_t result = link_.Open();
    stats_.Set(stats_.openResult, result);
    if (result != 0) {
        console_.Line(result == -3 ? MissingPort(port, ports_.Existing())
                                   : OpenFailure(result, stats_.lastOpenError, port));
        return false;
    }
    const bool answered = kb::Handshake(link_);
    stats_.Set(stats_.handshake, answered ? kb::kHandshakeAnswered : kb::kHandshakeFailed);
    console_.Line(Format(Cp("COM%d открыт без драйвера; клавиатура %s. Ctrl+C — конец.").c_str(), port,
                         answered ? Cp("ответила").c_str() : Cp("не ответила на запрос").c_str()));
    ticker_.SetLast(Read());
    return true;
}

void RawMonitor::Step() {
    if (!link_.IsOpen()) {
        clock_.SleepMs(kReopenPauseMs);
        link_.Open();
        return;
    }
    const std::optional<kb::SeenCandidate> seen = hunter_.Step(link_, stats_);
    if (!seen) return;
    if (seen->kind == kb::Candidate::KeyFrame) {
        stats_.Add(stats_.framesAccepted);
        if (kb::KeyNumber(seen->bytes.substr(2, 2))) stats_.Add(stats_.keysDelivered);
    }
    console_.Line(CandidateLine(*seen));
}

// Without the driver, "connected" means the keyboard answered or sent a key frame.
kb::TKBStatistics RawMonitor::Read() const {
    const bool heard = stats_.framesAccepted > 0 || stats_.handshake == kb::kHandshakeAnswered;
    return stats_.Snapshot(heard);
}

void RawMonitor::Tick() {
    const uint32_t now = clock_.NowMs();
    if (ticker_.Due(now)) console_.Line(ticker_.Status(now, Read()));
}

void RawMonitor::End() {
    for (const std::string& line : Summary(Read(), ticker_.RunningMs(clock_.NowMs()))) console_.Line(line);
}

}  // namespace tq::kbmon
