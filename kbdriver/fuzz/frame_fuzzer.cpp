// Feeds arbitrary line bytes through the reader's hunt and the host thread's
// checks. Nothing may crash, no key may come from a frame that an independent
// check of its form and CRC rejects, and the hunt must find exactly the frames
// that a reader seeing the whole line at once would find. The same bytes are
// also used as noise with key frames dropped into it: every frame that no
// whole frame of the noise overlaps must give its key, in order.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "kbdriver/core/drvkb.h"
#include "kbdriver/core/protocol.h"
#include "kbdriver/tests/fake_link.h"

namespace {

// CRC-16/KERMIT the long way: reflect each byte, shift most significant bit
// first through 0x1021, reflect the result.
uint16_t ReferenceCrc(const std::string& bytes) {
    auto reflect = [](uint32_t v, int bits) {
        uint32_t r = 0;
        for (int i = 0; i < bits; ++i) r |= ((v >> i) & 1u) << (bits - 1 - i);
        return r;
    };
    uint16_t crc = 0;
    for (unsigned char c : bytes) {
        crc ^= static_cast<uint16_t>(reflect(c, 8) << 8);
        for (int i = 0; i < 8; ++i) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return static_cast<uint16_t>(reflect(crc, 16));
}

bool RightCrcDigits(const std::string& f) {
    char digits[5];
    snprintf(digits, sizeof digits, "%04X", ReferenceCrc(f.substr(0, 6)));
    return f.compare(6, 4, digits) == 0;
}

bool ReallyValid(const std::string& f) {
    if (f.size() != 12 || f[0] != ':' || f[1] != 'K' || (f[2] == '0' && f[3] == '0')) return false;
    return RightCrcDigits(f);
}

// The model: a reader that sees the whole line. A whole frame is twelve bytes
// from a ':' with the right CRC digits; it is taken as a whole and the search
// goes on behind its CRC digits (the two closing bytes are free and may begin
// the next frame); any other ':' is passed over. Returns where each whole
// frame begins, with the frame.
std::vector<std::pair<size_t, std::string>> ModelWholeFrames(const std::string& line) {
    std::vector<std::pair<size_t, std::string>> found;
    size_t i = 0;
    while (i + 12 <= line.size()) {
        const std::string candidate = line.substr(i, 12);
        if (candidate[0] != ':' || !RightCrcDigits(candidate)) {
            ++i;
            continue;
        }
        found.emplace_back(i, candidate);
        i += 10;
    }
    return found;
}

// Those of them that the host gets: type K, code not "00".
std::vector<std::string> KeyFramesOf(const std::vector<std::pair<size_t, std::string>>& whole) {
    std::vector<std::string> frames;
    for (const auto& [at, frame] : whole)
        if (ReallyValid(frame)) frames.push_back(frame);
    return frames;
}

int ExpectedKey(const std::string& f) {
    const std::string code = f.substr(2, 2);
    if (code == "3C") return 1;
    if (code == "3D") return 2;
    if (code == "35") return 3;
    if (code == "3A") return 4;
    if (code == "41") return 5;
    return 0;
}

int g_lastKey = 0;
void TQKB_WINAPI OnKey(int32_t key) { g_lastKey = key; }

struct NoSystem : tq::kb::DriverSystem {
    tq::FakeClock fakeClock;
    std::unique_ptr<tq::kb::KeyReader> NewReader(tq::kb::TDrvKB&, int32_t, int32_t) override { return nullptr; }
    std::optional<int32_t> ReadLastPort() override { return std::nullopt; }
    bool WriteLastPort(int32_t) override { return false; }
    tq::Clock& clock() override { return fakeClock; }
    void AbandonReader(std::unique_ptr<tq::kb::KeyReader>) override {}
    void EnterControl() override {}  // one thread
    void LeaveControl() override {}
};

void Check(bool ok) {
    if (!ok) abort();
}

void CheckHandled(tq::kb::TDrvKB& driver, const std::string& frame) {
    g_lastKey = 0;
    driver.ReaderEnded();
    driver.HandleFrame(frame);
    const bool valid = ReallyValid(frame);
    Check(driver.GetConnected() == valid);
    Check(g_lastKey == (valid ? ExpectedKey(frame) : 0));
}

// Hunts the whole line; returns the frames handed over.
std::vector<std::string> Hunt(tq::kb::TDrvKB& driver, const std::string& line) {
    tq::kb::FakeLink link;
    link.stream = line;
    tq::kb::FrameHunter hunter;
    tq::kb::LineStatistics stats;
    std::vector<std::string> frames;
    while (!link.stream.empty()) {
        std::optional<std::string> frame = hunter.Next(link, stats);
        if (!frame) continue;
        Check(ReallyValid(*frame));
        CheckHandled(driver, *frame);
        frames.push_back(*frame);
    }
    return frames;
}

void CheckHunt(tq::kb::TDrvKB& driver, const std::string& line) {
    Check(Hunt(driver, line) == KeyFramesOf(ModelWholeFrames(line)));
}

// The first byte gives a number of frames, the next two bytes of each their
// code and the gap of noise before it; the rest is the noise.
void CheckFramesInNoise(tq::kb::TDrvKB& driver, const std::string& bytes) {
    static const char* const kCodes[] = {"3C", "3D", "35", "3A", "41", "3B", "30", "03"};
    if (bytes.empty()) return;
    const size_t count = static_cast<uint8_t>(bytes[0]) % 16;
    if (bytes.size() < 1 + 2 * count) return;
    std::string noise = bytes.substr(1 + 2 * count);
    std::string line;
    std::vector<std::pair<size_t, std::string>> sent;
    size_t used = 0;
    for (size_t k = 0; k < count; ++k) {
        const size_t gap = std::min<size_t>(static_cast<uint8_t>(bytes[2 + 2 * k]) % 32, noise.size() - used);
        line += noise.substr(used, gap);
        used += gap;
        sent.emplace_back(line.size(), tq::kb::MakeKeyFrame(kCodes[static_cast<uint8_t>(bytes[1 + 2 * k]) % 8]));
        line += sent.back().second;
    }
    line += noise.substr(used);
    CheckHunt(driver, line);
    // Unless the noise itself holds a whole frame, which may cover a frame
    // sent, the frames found are exactly those sent.
    const auto whole = ModelWholeFrames(line);
    for (const auto& [at, frame] : whole) {
        bool wasSent = false;
        for (const auto& s : sent) wasSent = wasSent || s.first == at;
        if (!wasSent) return;
    }
    std::vector<std::string> sentKeyFrames;
    for (const auto& s : sent)
        if (ReallyValid(s.second)) sentKeyFrames.push_back(s.second);
    Check(KeyFramesOf(whole) == sentKeyFrames);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    NoSystem system;
    tq::kb::TDrvKB driver(system);
    driver.SetKBFunction(OnKey);

    CheckHandled(driver, bytes);
    if (size >= 12) CheckHandled(driver, bytes.substr(0, 12));

    CheckHunt(driver, bytes);
    CheckFramesInNoise(driver, bytes);
    return 0;
}
