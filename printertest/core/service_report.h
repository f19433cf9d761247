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

// One finished check: its name and what it found, as "what: value" lines.
// Texts are code page 1251.
struct CheckRecord {
    explicit CheckRecord(std::string checkName) : name(std::move(checkName)) {}
    std::string name;
    std::vector<std::pair<std::string, std::string>> facts;

    CheckRecord& Add(const std::string& what, const std::string& value) {
        facts.emplace_back(what, value);
        return *this;
    }
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

    // True when at least one check is in the file and nothing failed since.
    bool saved() const { return blocks_ > 0 && !off_; }
    std::string path() const { return sink_.Path(); }
    // "Отчёт сохранён: <path>", for the engineer at exit.
    std::string SavedMessage() const;

    // File name for a report begun at that time: LMT520EU-yyyymmdd-hhmmss.txt.
    static std::string FileName(const LocalTime& start);

private:
    std::string HeaderText() const;
    std::string BlockText(const CheckRecord& record, const LocalTime& at) const;

    ReportSink& sink_;
    WallClock& clock_;
    ReportHeader header_;
    std::function<void(const std::string&)> warn_;
    int blocks_ = 0;
    bool off_ = false;
};

// Facts shared by several records.
std::string StatusFact(long status);  // "1 (Нет бумаги)", or the bare code without text

}  // namespace tq::lmt
