// The service report: every check the engineer makes, with its time, written
// to a file as it happens so that the visit can be recorded with the scale's
// number. The pages describe what they did as CheckRecords; CServiceReport
// turns them into text blocks and hands each to a ReportSink, which appends it
// and flushes it to the disk before the next check starts.
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tq::lmt {

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The time of day for the report. Waiting uses tq::Clock; this only reads.
class WallClock {
public:
    virtual ~WallClock() = default;
    virtual LocalTime Now() = 0;
};

// One finished check: its name and what it found, as "what: value" lines,
// and its outcome in a few words for the summary that closes the report.
// Texts are code page 1251.
struct CheckRecord {
    explicit CheckRecord(std::string checkName) : name(std::move(checkName)) {}
    std::string name;
    std::vector<std::pair<std::string, std::string>> facts;
    std::string outcome;

    CheckRecord& Add(const std::string& what, const std::string& value) {
        facts.emplace_back(what, value);
        return *this;
    }
    CheckRecord& Outcome(const std::string& text) {
        outcome = text;
        return *this;
    }
    // The usual last fact, "Результат", which is also the outcome.
    CheckRecord& Result(const std::string& text);
};

// Where the pages and the frame leave their records.
class CheckJournal {
public:
    virtual ~CheckJournal() = default;
    virtual void Record(const CheckRecord& record) = 0;
};

// The report's file. The first Append creates it; every Append writes its
// UTF-8 text at the end and flushes it to the disk. On failure it answers
// false with a reason (code page 1251) and the caller stops writing.
class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual bool Append(const std::string& utf8, std::string* reason) = 0;
    // Puts utf8 in the place of everything appended so far, whole or not at
    // all: on failure the file keeps what it had.
    virtual bool Rewrite(const std::string& utf8, std::string* reason) = 0;
    // Where the file is (code page 1251), known once it has been created.
    virtual std::string Path() const = 0;
};

// What the report's header names (texts in code page 1251).
struct ReportHeader {
    LocalTime started;  // when the wizard started; also in the file's name
    std::string computer;
    std::string controlVersion;
};

class CServiceReport : public CheckJournal {
public:
    // warn is told once, in the words the engineer sees, when the report
    // cannot be written; the checks go on without it.
    CServiceReport(ReportSink& sink, WallClock& clock, ReportHeader header,
                   std::function<void(const std::string&)> warn);

    void Record(const CheckRecord& record) override;

    // Writes the report once more with the scale's number in its header and
    // the summary of every check at its end. A failure is told through warn;
    // the file then keeps the checks as they were appended, and is still saved.
    bool Finish(const std::string& scaleNumber);

    // True when at least one check is in the file and nothing failed since.
    bool saved() const { return blocks_ > 0 && !off_; }
    std::string path() const { return sink_.Path(); }
    // "Отчёт сохранён: <path>", for the engineer at exit.
    std::string SavedMessage() const;

    // File name for a report begun at that time: LMT520EU-yyyymmdd-hhmmss.txt.
    static std::string FileName(const LocalTime& start);

private:
    std::string HeaderText(const std::string& scaleNumber) const;
    std::string BlockText(const CheckRecord& record, const LocalTime& at) const;
    std::string SummaryText(const LocalTime& at) const;
    void TurnOff(const std::string& reason);

    ReportSink& sink_;
    WallClock& clock_;
    ReportHeader header_;
    std::function<void(const std::string&)> warn_;
    int blocks_ = 0;
    bool off_ = false;
    // Kept to write the whole report again when it is finished.
    std::string blocksText_;
    std::vector<std::pair<std::string, std::string>> outcomes_;  // name, outcome
};

// Facts shared by several records.
std::string StatusFact(long status);  // "1 (Нет бумаги)", or the bare code without text
// A printer error as the engineer was shown it: its code and its text, the
// text's line breaks made blanks so that it stays one fact.
CheckRecord PrinterErrorRecord(const std::string& code, const std::string& text);
// An error the control raised, as the wrapper words it: "<text> (<code>)".
CheckRecord ControlFaultRecord(const std::string& fault);

// The sensors' voltages are set within one of two ranges (the paper out of the
// slot, then in it), so a voltage in either is right.
constexpr long kLowVoltageMin = 0, kLowVoltageMax = 15;    // tenths of a volt
constexpr long kHighVoltageMin = 35, kHighVoltageMax = 50;
bool VoltageInRange(long tenths);
std::string VoltageRangeText();    // "0..1,5 В или 3,5..5,0 В"
std::string VoltageVerdict(long tenths);  // "в норме" or "вне нормы"

}  // namespace tq::lmt
