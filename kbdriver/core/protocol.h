// The keyboard's wire protocol: the CRC that guards a key frame, the key table,
// the handshake, and the hunt for frames in the byte stream. Portable: the serial port
// is reached through SerialLink, so the same code runs against a real port, a
// test double and the fuzzer.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kbdriver/core/statistics.h"

namespace tq::kb {

constexpr size_t kFrameSize = 12;
constexpr char kFrameStart = ':';
constexpr char kKeyFrameType = 'K';

// A byte-string link to the keyboard; TCommExchange is the real one.
class SerialLink {
public:
    virtual ~SerialLink() = default;
    // Reads exactly `count` bytes into `text`; false (text untouched) otherwise.
    virtual bool Receive(uint8_t count, std::string& text) = 0;
    virtual bool Send(const std::string& text) = 0;
};

// CRC-16/KERMIT, one byte at a time.
uint16_t CrcStep(uint16_t crc, uint8_t byte);
uint16_t Crc(std::string_view bytes);
// The four upper-case hexadecimal digits that a frame carries for `crc`.
std::string CrcDigits(uint16_t crc);

// The key number 1..5 of a two-character key code, or 0 for any other code.
int KeyNumber(std::string_view code);

// What the host's thread makes of a frame handed over by the reader.
struct FrameVerdict {
    bool accepted = false;  // a well-formed key frame with the right CRC and a code other than "00"
    int key = 0;            // 1..5, or 0 when the code is not in the key table
};
FrameVerdict CheckFrame(std::string_view frame);

// Builds a 12-byte key frame for `code` (two characters) with the right CRC;
// used by tests, the fuzzer and the benchmarks.
std::string MakeKeyFrame(std::string_view code, std::string_view extra = "00",
                         std::string_view tail = "\r\n");

// Open's result for the system error of a device that did not open: -3 no
// such device, -2 access denied (another program holds the port), -1 else.
int32_t OpenFailureCode(uint32_t systemError);

// The keyboard's answer to "1": bytes 2 to 4 read "A31", the rest is free.
bool IsHandshakeReply(const std::string& reply);
// Up to three attempts of request and reply, with no pause between them.
bool Handshake(SerialLink& link);

// What a 12-byte candidate that begins with ':' turns out to be. A candidate
// is a whole frame when bytes 7 to 10 are the CRC digits of bytes 1 to 6.
// Cut: the line went quiet before twelve bytes came.
enum class Candidate { KeyFrame, Idle, OtherType, BadCrc, Cut };
Candidate ClassifyCandidate(std::string_view candidate);

// A candidate as the hunt saw it (a cut one holds only what the hunt had
// before the receive that failed).
struct SeenCandidate {
    std::string bytes;
    Candidate kind;
};

// The reader's hunt for key frames: 1-byte receives look for ':', one receive
// takes the rest of the 12 bytes. A candidate that is no whole frame is not
// thrown away: the hunt goes on from the next ':' inside it, so that a frame
// right behind a cut frame or a stray ':' is still found. A whole frame is
// used up but for a ':' in its two closing bytes; idle frames and frames of
// other types give nothing.
class FrameHunter {
public:
    // One step of the hunt: the 12 bytes of a whole key frame that is not
    // idle, or nothing. Every failed receive ends the step and drops what the
    // hunt held, since the exchange has dropped the bytes that came with it.
    std::optional<std::string> Next(SerialLink& link, LineStatistics& stats);
    // The same step for a line monitor: every candidate, whatever it is, or
    // nothing when the step only skipped a byte or heard nothing.
    std::optional<SeenCandidate> Step(SerialLink& link, LineStatistics& stats);

private:
    // Keeps the candidate's bytes from its first ':' at or after `from`.
    void HoldFrom(const std::string& candidate, size_t from);

    std::string held_;  // bytes already read from a ':' on, fewer than 12
};

}  // namespace tq::kb
