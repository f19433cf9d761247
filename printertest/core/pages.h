// The ten pages of the wizard. Each page holds the logic of its buttons and
// talks to its window through PageView and to the printer through the
// frame's control wrapper, which it borrows. Each is hosted by a PageWindow
// (printertest/win/wizard_dlg.h).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/clock.h"
#include "printer_control.h"
#include "service_report.h"

namespace tq::lmt {

// A page's window. Texts are code page 1251.
class PageView {
public:
    virtual ~PageView() = default;
    // Writes an item's text and draws it at once, even inside a long run.
    virtual void SetText(int item, const std::string& text) = 0;
    virtual std::string Text(int item) = 0;
    virtual void SetChecked(int item, bool on) = 0;
    virtual bool Checked(int item) = 0;
    // The program's own message box in notice mode.
    virtual void Notify(const std::string& message, const std::string& header) = 0;
    // The message for an entry that failed validation.
    virtual void WarnInvalidEntry(int item, const std::string& message) = 0;
    // True when the engineer asked to stop a long run (Esc) since the last call.
    virtual bool StopRequested() = 0;
};

// One feed: whether the printer answered and, if it did, its Status.
struct FeedOutcome {
    bool linked = false;
    long status = 0;
    long answer = 0;  // what Feed returned
};

class CWizardPage {
public:
    CWizardPage(PrinterControl& printer, tq::Clock& clock) : printer_(printer), clock_(clock) {}
    virtual ~CWizardPage() = default;
    CWizardPage(const CWizardPage&) = delete;
    CWizardPage& operator=(const CWizardPage&) = delete;

    void AttachView(PageView* view) { view_ = view; }
    // Where finished checks are recorded for the service report; none by default.
    void AttachJournal(CheckJournal* journal) { journal_ = journal; }
    // A click on one of the page's buttons.
    virtual void OnButton(int /*item*/) {}
    // Sensor pages: the voltage in tenths of a volt, or -1 without link.
    virtual void ShowVoltage(long /*tenths*/) {}

protected:
    void Show(int item, const std::string& text) {
        if (view_) view_->SetText(item, text);
    }
    PageView& view() { return *view_; }
    void Record(const CheckRecord& record) {
        if (journal_) journal_->Record(record);
    }
    // For long runs: the engineer pressed Esc, or the control failed. The Esc
    // is taken from the queue once; the rest of the run keeps seeing it.
    void BeginRun() { stopped_ = false; }
    bool Interrupted() {
        stopped_ = stopped_ || view_->StopRequested();
        return stopped_ || printer_.Faulted();
    }

    PrinterControl& printer_;
    tq::Clock& clock_;

    // Feeds one label and records it under the step's name.
    FeedOutcome FeedAndRecord(const std::string& step);
    // A printer error the engineer is shown in a message box goes to the
    // report too, with its code and the text as shown.
    void NotifyPrinterError(long code, const std::string& message, const std::string& header);
    // The print runs say while they go that Esc stops them.
    void ShowStopHint(bool running);

    // Whether the last interruption was the engineer's Esc, not the control.
    bool StoppedByEngineer() const { return stopped_; }

private:
    PageView* view_ = nullptr;
    CheckJournal* journal_ = nullptr;
    bool stopped_ = false;
};

class CLinkPage : public CWizardPage {
public:
    using CWizardPage::CWizardPage;
    void OnButton(int item) override;
    void CheckLink();

    static constexpr int kRequests = 1000;
    static constexpr int kFailuresToGiveUp = 10;
    static constexpr uint32_t kProgressPeriodMs = 100;
};

class CSramPage : public CWizardPage {
public:
    using CWizardPage::CWizardPage;
    void OnButton(int item) override;
    void CheckSram();
};

class CTmPage : public CWizardPage {
public:
    using CWizardPage::CWizardPage;
    void OnButton(int item) override;
    void CheckTm();
};

class CHeadUpPage : public CWizardPage {
public:
    using CWizardPage::CWizardPage;
    void OnButton(int item) override;
    void CheckHeadClosed();
    void CheckHeadOpen();

private:
    void CheckHead(int item, bool openExpected);
};

// The RUL and PE pages: each only shows its sensor's voltage, so the two
// steps' names are one class.
class CVoltagePage : public CWizardPage {
public:
    using CWizardPage::CWizardPage;
    void ShowVoltage(long tenths) override;
};
using CRulPage = CVoltagePage;
using CPePage = CVoltagePage;

class CFeedPage : public CWizardPage {
public:
    using CWizardPage::CWizardPage;
    void OnButton(int item) override;
    void FeedOnce();
};

class CLabPage : public CWizardPage {
public:
    using CWizardPage::CWizardPage;
    void OnButton(int item) override;
    void ShowVoltage(long tenths) override;
    void FeedOnce();
};

// The count entry of the two print pages.
class CountField {
public:
    CountField(long initial, long maximum) : value_(initial), maximum_(maximum) {}
    // Takes the entry's text as the count when it is an integer; warns when it
    // is no integer or out of range (an out-of-range integer is kept).
    void Read(PageView& view, int item);
    long value() const { return value_; }
    long maximum() const { return maximum_; }
    // Labels a run prints: the count, or 1 below 1.
    long Total() const { return value_ < 1 ? 1 : value_; }

private:
    long value_;
    long maximum_;
};

// Cools the head down while it reports overheating; shared by both print runs.
// The format has one %d for the head temperature.
void CoolDown(PrinterControl& printer, tq::Clock& clock, const std::string& format,
              const std::function<void(const std::string&)>& show,
              const std::function<bool()>& interrupted);

// The two print pages: a result line that keeps its last text, and a feed
// recorded under the page's check name.
class CPrintPage : public CWizardPage {
public:
    // A status without text keeps the last result.
    void FeedOnce();

protected:
    CPrintPage(PrinterControl& printer, tq::Clock& clock, std::string checkName);
    void SetResult(const std::string& text);
    std::string result_;

private:
    std::string checkName_;
};

class CTestPrintPage : public CPrintPage {
public:
    CTestPrintPage(PrinterControl& printer, tq::Clock& clock);
    void OnButton(int item) override;
    void TestPrint();
    const CountField& count() const { return count_; }

    static constexpr uint32_t kPauseBetweenPrintsMs = 100;

private:
    CountField count_;
};

class CStabilityPage : public CPrintPage {
public:
    CStabilityPage(PrinterControl& printer, tq::Clock& clock);
    void OnButton(int item) override;
    void RunStabilityTest();
    void ToggleLabelSensor();
    // Sets the toggle and writes the count and the toggle to the window.
    void SetLabelSensorState(bool on);
    bool labelSensorOn() const { return labelSensorOn_; }
    const CountField& count() const { return count_; }

    static constexpr uint32_t kPauseAfterPrintMs = 500;
    static constexpr int kRecoveryAttempts = 30;
    static constexpr uint32_t kRecoveryPauseMs = 1000;
    static constexpr int kErrorLimit = 15;
    // A printer that keeps answering "call again" is given up after this
    // many answers in a row or this long, whichever comes first.
    static constexpr int kMaxPrintAgainInARow = 1000;
    static constexpr uint32_t kMaxPrintAgainMs = 60000;

private:
    // What a run counts, for its summary and the service report.
    struct Tally {
        long total = 0;
        long remaining = 0;
        long printed = 0;  // labels PrintLabel reported as printed
        long lastRc = kPrintDone;
        int errors = 0;
        int errors1033 = 0;
        bool errorLimit = false;
        int recoveries = 0;
        int recovered = 0;
        int coolings = 0;
    };

    void WriteTestLabel();
    bool RecoverLink();
    void PrintSeries(Tally& tally);
    std::string EndOfRun(const Tally& tally);
    void RecordRun(const Tally& tally, long status);
    CountField count_;
    bool labelSensorOn_ = false;
};

// Feed on the two print pages: a status without text keeps the last result.
std::string FeedText(const FeedOutcome& feed, const std::string& last);

// "%d.%d В", or noLink for a negative value.
std::string VoltageText(long tenths, const std::string& noLink);

}  // namespace tq::lmt
