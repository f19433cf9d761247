// kbmon, the line monitor for the service engineer: what it makes of the
// command line, of the driver's statistics and of the candidates on the line.
// Portable: the driver, the port and the console are reached through the
// small interfaces below; kbmon.cpp is the Windows side. Every text it
// returns is code page 1251.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/clock.h"
#include "kbdriver/core/protocol.h"
#include "kbdriver/core/statistics.h"

namespace tq::kbmon {

struct Options {
    bool raw = false;       // read the port without the driver
    int32_t port = 0;       // 1..255
    uint32_t seconds = 0;   // end by itself after this long, as after Ctrl+C; 0: only Ctrl+C
    std::string error;      // why the command line is not understood; empty when it is
};
Options ParseOptions(const std::vector<std::string>& args);
std::string Usage();

// Why the port did not open, for Open's results -1 to -3; empty for 0.
std::string OpenFailure(int32_t openResult, uint32_t systemError, int32_t port);
// A port that is not there, with the ports that are: an engineer who typed
// COM7 for a keyboard on COM3 sees the right number at once.
std::string MissingPort(int32_t port, const std::vector<int32_t>& existing);
// The one-line verdict of a summary.
std::string Verdict(const kb::TKBStatistics& s);
std::string KeyLine(int key);

// The link as the line showed it lately. Not the driver's Connected: that
// stays set through silence and a pulled cable, by design.
enum class Link {
    Up,        // the port is open and frames came in the last kLinkWindowMs
    Silent,    // the port is open, no frames for kLinkWindowMs (or none yet)
    PortLost,  // the port is not open, or an open failed since the last look
};
constexpr uint32_t kLinkWindowMs = 5000;

// Once a second: what happened since `before`, `elapsedMs` ago. Re-opens
// after a fault are shown apart from those a silent line gives twice a
// second ("переоткр. N/M"). The line stays within 79 columns for an hour of a
// bad line, so that an 80-column console does not wrap it.
std::string StatusLine(const kb::TKBStatistics& before, const kb::TKBStatistics& now, uint32_t elapsedMs,
                       uint32_t runningMs, Link link);
std::vector<std::string> Summary(const kb::TKBStatistics& s, uint32_t runningMs);
// A candidate in hexadecimal with what the check made of it.
std::string CandidateLine(const kb::SeenCandidate& seen);

// The once-a-second status line, the link state it shows and the running
// time of a monitor.
class Ticker {
public:
    void Begin(uint32_t nowMs) { startedMs_ = lastMs_ = nowMs; }
    // The counts at the start; a keyboard that answered the handshake was
    // heard then.
    void SetLast(const kb::TKBStatistics& s);
    // True when a second has passed since the last status line.
    bool Due(uint32_t nowMs) const { return nowMs - lastMs_ >= 1000; }
    std::string Status(uint32_t nowMs, const kb::TKBStatistics& now);
    uint32_t RunningMs(uint32_t nowMs) const { return nowMs - startedMs_; }

private:
    kb::TKBStatistics last_ = {};
    uint32_t startedMs_ = 0;
    uint32_t lastMs_ = 0;
    bool heard_ = false;    // frames (or the handshake's answer) came at some time
    uint32_t heardMs_ = 0;  // the last look at which they had
};

// The COM ports the system has, by number, in any order.
class PortList {
public:
    virtual ~PortList() = default;
    virtual std::vector<int32_t> Existing() = 0;
};

class Console {
public:
    virtual ~Console() = default;
    virtual void Line(const std::string& text) = 0;
};

// The four exports the monitor uses, and the key callback's way back.
class KeyboardDriver {
public:
    virtual ~KeyboardDriver() = default;
    virtual int32_t Start(int32_t port) = 0;
    virtual bool Stop() = 0;
    virtual bool GetStatistics(kb::TKBStatistics& s) = 0;
};

// kbmon COMn: the driver on the port, keys as they come, a status line a
// second, a summary at the end.
class DriverMonitor {
public:
    DriverMonitor(KeyboardDriver& driver, PortList& ports, Console& console, Clock& clock)
        : driver_(driver), ports_(ports), console_(console), clock_(clock) {}
    // Starts the driver; false, after saying why, when the port did not open.
    bool Begin(int32_t port);
    void OnKey(int key) { console_.Line(KeyLine(key)); }
    // Prints the status line when a second has passed since the last one.
    void Tick();
    // Stops the driver and prints the summary.
    void End();

private:
    kb::TKBStatistics Read();

    KeyboardDriver& driver_;
    PortList& ports_;
    Console& console_;
    Clock& clock_;
    Ticker ticker_;
};

// The port as the raw monitor needs it: TCommExchange on Windows.
class MonitorLink : public kb::SerialLink {
public:
    virtual int32_t Open() = 0;
    virtual bool IsOpen() const = 0;
};

// kbmon --raw COMn: the port read here through the same hunt as the driver's,
// every candidate printed.
class RawMonitor {
public:
    static constexpr uint32_t kReopenPauseMs = 500;

    RawMonitor(MonitorLink& link, kb::LineStatistics& stats, PortList& ports, Console& console, Clock& clock)
        : link_(link), stats_(stats), ports_(ports), console_(console), clock_(clock) {}
    // Opens the port and asks the keyboard; false, after saying why, when the
    // port did not open.
    bool Begin(int32_t port);
    // One step of the hunt; after a lost port, a pause and a new open.
    void Step();
    void Tick();
    void End();

private:
    kb::TKBStatistics Read() const;

    MonitorLink& link_;
    kb::LineStatistics& stats_;
    PortList& ports_;
    Console& console_;
    Clock& clock_;
    kb::FrameHunter hunter_;
    Ticker ticker_;
};

}  // namespace tq::kbmon
