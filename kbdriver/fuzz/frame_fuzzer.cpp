// Feeds arbitrary line bytes through the reader's hunt and the host thread's
// checks. Nothing may crash, and no key may come from a frame that an
// independent check of its form and CRC rejects.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kbdriver/drvkb.h"
#include "kbdriver/protocol.h"
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

bool ReallyValid(const std::string& f) {
    if (f.size() != 12 || f[0] != ':' || f[1] != 'K' || (f[2] == '0' && f[3] == '0')) return false;
    char digits[5];
    snprintf(digits, sizeof digits, "%04X", ReferenceCrc(f.substr(0, 6)));
    return f.compare(6, 4, digits) == 0;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    NoSystem system;
    tq::kb::TDrvKB driver(system);
    driver.SetKBFunction(OnKey);

    CheckHandled(driver, bytes);
    if (size >= 12) CheckHandled(driver, bytes.substr(0, 12));

    tq::kb::FakeLink link;
    link.stream = bytes;
    while (!link.stream.empty()) {
        std::optional<std::string> frame = tq::kb::HuntFrame(link);
        if (!frame) continue;
        Check(frame->size() == 12 && (*frame)[0] == ':' && (*frame)[1] == 'K');
        Check(!((*frame)[2] == '0' && (*frame)[3] == '0'));
        CheckHandled(driver, *frame);
    }
    return 0;
}
