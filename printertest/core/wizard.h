// The wizard frame: the step list, page switching, the voltage timer and the
// exit question. Hosted by WizardWindow (printertest/win/wizard_dlg.h),
// which implements WizardView and forwards to CWizardDlg.
#pragma once
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "common/clock.h"
#include "pages.h"
#include "printer_control.h"
#include "service_report.h"

namespace tq::lmt {

constexpr int kStepCount = 10;
enum Step { kLinkStep, kSramStep, kTmStep, kHeadUpStep, kRulStep, kPeStep, kFeedStep,
            kLabStep, kTestPrintStep, kStabilityStep };
constexpr unsigned kVoltageTimerId = 1;
constexpr unsigned kVoltageTimerPeriodMs = 100;

class WizardView {
public:
    virtual ~WizardView() = default;
    virtual int SelectedStep() = 0;  // -1 when nothing is selected
    virtual void SelectStep(int step) = 0;
    virtual void ShowPage(int step, bool show) = 0;
    virtual void EnableItem(int item, bool enable) = 0;
    // The program's own message box in question mode; true on "Да".
    virtual bool Ask(const std::string& message, const std::string& header) = 0;
    virtual void EndWizard() = 0;
    // A notice about the service report, in a message box of its own.
    virtual void Inform(const std::string& message) = 0;
    // Asks for the scale's number before the report is saved, offering one;
    // nothing when the engineer cancels.
    virtual std::optional<std::string> AskScaleNumber(const std::string& offered) = 0;
};

// Where the scale's number is kept from one run to the next (code page 1251).
class ScaleNumberStore {
public:
    virtual ~ScaleNumberStore() = default;
    virtual std::string Load() = 0;  // empty when none was kept
    virtual bool Save(const std::string& number) = 0;
};

class CWizardDlg {
public:
    // With a report, every finished check and every voltage left on a sensor
    // step is recorded in it; the scale's number asked at exit is offered
    // again from the store at the next run.
    CWizardDlg(PrinterControl& printer, tq::Clock& clock, WizardView& view,
               CServiceReport* report = nullptr, ScaleNumberStore* numbers = nullptr);

    CWizardPage& page(int step) { return *pages_[step]; }
    CStabilityPage& stabilityPage() { return *stability_; }

    void ShowSelectedPage();
    void OnNext();
    void OnBack();
    // "Выход", and also Esc and the close box: the question, then the
    // scale's number when there is a report to save.
    void OnExit();
    // IDCANCEL: Esc from the keyboard, or the close box. It leaves by the same
    // road as "Выход", so that no report is left without its number.
    void OnCancel() { OnExit(); }
    void OnTimer(unsigned id);
    // An error the control raised, as the frame shows it to the engineer.
    void RecordControlFault(const std::string& fault);

private:
    void LeaveShownStep();

    PrinterControl& printer_;
    WizardView& view_;
    CServiceReport* report_;
    ScaleNumberStore* numbers_;
    int shownStep_ = -1;
    // The voltage a sensor step last showed and the report does not hold yet.
    std::array<std::optional<long>, kStepCount> voltageToRecord_;
    std::array<std::unique_ptr<CWizardPage>, kStepCount> pages_;
    CStabilityPage* stability_ = nullptr;
};

}  // namespace tq::lmt
