#include "kbdriver/core/protocol.h"

#include <utility>

namespace tq::kb {

uint16_t CrcStep(uint16_t crc, uint8_t byte) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
    return crc;
}

uint16_t Crc(std::string_view bytes) {
    uint16_t crc = 0;
    for (char c : bytes) crc = CrcStep(crc, static_cast<uint8_t>(c));
    return crc;
}

std::string CrcDigits(uint16_t crc) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string digits(4, '0');
    for (int i = 3; i >= 0; --i, crc >>= 4) digits[i] = kHex[crc & 0xF];
    return digits;
}

int KeyNumber(std::string_view code) {
    static const struct { const char* code; int key; } kKeys[] = {
        {"3C", 1}, {"3D", 2}, {"35", 3}, {"3A", 4}, {"41", 5},
    };
    for (const auto& k : kKeys)
        if (code == k.code) return k.key;
    return 0;
}

FrameVerdict CheckFrame(std::string_view frame) {
    FrameVerdict verdict;
    if (frame.size() != kFrameSize || frame.substr(0, 2) != ":K" || frame.substr(2, 2) == "00")
        return verdict;
    // Lower-case digits fail here on purpose: the keyboard sends upper case.
    if (frame.substr(6, 4) != CrcDigits(Crc(frame.substr(0, 6)))) return verdict;
    verdict.accepted = true;
    verdict.key = KeyNumber(frame.substr(2, 2));
    return verdict;
}

std::string MakeKeyFrame(std::string_view code, std::string_view extra, std::string_view tail) {
    std::string frame = ":K";
    frame.append(code).append(extra);
    frame += CrcDigits(Crc(frame));
    frame.append(tail);
    return frame;
}

int32_t OpenFailureCode(uint32_t systemError) {
    switch (systemError) {
        case 2: return -3;  // ERROR_FILE_NOT_FOUND
        case 5: return -2;  // ERROR_ACCESS_DENIED
        default: return -1;
    }
}

bool IsHandshakeReply(const std::string& reply) {
    return reply.size() >= 4 && reply.compare(1, 3, "A31") == 0;
}

bool Handshake(SerialLink& link) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::string reply;
        if (!link.Send("1")) continue;
        if (!link.Receive(kFrameSize, reply)) continue;
        if (IsHandshakeReply(reply)) return true;
    }
    return false;
}

Candidate ClassifyCandidate(std::string_view candidate) {
    if (candidate.substr(6, 4) != CrcDigits(Crc(candidate.substr(0, 6)))) return Candidate::BadCrc;
    if (candidate.substr(2, 2) == "00") return Candidate::Idle;
    if (candidate[1] != kKeyFrameType) return Candidate::OtherType;
    return Candidate::KeyFrame;
}

std::optional<std::string> FrameHunter::Next(SerialLink& link, LineStatistics& stats) {
    std::optional<SeenCandidate> seen = Step(link, stats);
    if (!seen || seen->kind != Candidate::KeyFrame) return std::nullopt;
    return std::move(seen->bytes);
}

std::optional<SeenCandidate> FrameHunter::Step(SerialLink& link, LineStatistics& stats) {
    if (held_.empty()) {
        std::string start;
        if (!link.Receive(1, start)) return std::nullopt;
        stats.Add(stats.bytesRead);
        if (start[0] != kFrameStart) {
            stats.Add(stats.bytesSkipped);
            return std::nullopt;
        }
        held_ = start;
    }
    std::string rest;
    if (!link.Receive(static_cast<uint8_t>(kFrameSize - held_.size()), rest)) {
        stats.Add(stats.rejectedShape);
        stats.Add(stats.bytesSkipped, static_cast<uint32_t>(held_.size()));
        return SeenCandidate{std::exchange(held_, {}), Candidate::Cut};
    }
    stats.Add(stats.bytesRead, static_cast<uint32_t>(rest.size()));
    std::string candidate = std::exchange(held_, {}) + rest;
    const Candidate kind = ClassifyCandidate(candidate);
    if (kind == Candidate::BadCrc) {
        stats.Add(stats.rejectedCrc);
        const size_t next = candidate.find(kFrameStart, 1);
        stats.Add(stats.bytesSkipped, static_cast<uint32_t>(next == std::string::npos ? kFrameSize : next));
        HoldFrom(candidate, 1);
    } else {
        // The two closing bytes are checked by nothing: a ':' there may begin
        // a frame that follows one cut short right after its CRC digits.
        HoldFrom(candidate, kFrameSize - 2);
        if (kind == Candidate::Idle) stats.Add(stats.idleFrames);
        if (kind == Candidate::OtherType) stats.Add(stats.rejectedShape);
    }
    return SeenCandidate{std::move(candidate), kind};
}

void FrameHunter::HoldFrom(const std::string& candidate, size_t from) {
    const size_t next = candidate.find(kFrameStart, from);
    if (next != std::string::npos) held_ = candidate.substr(next);
}

}  // namespace tq::kb
