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
};

class CWizardDlg {
public:
    // With a report, every finished check and every voltage left on a sensor
    // step is recorded in it.
    CWizardDlg(PrinterControl& printer, tq::Clock& clock, WizardView& view,
               CServiceReport* report = nullptr);

    CWizardPage& page(int step) { return *pages_[step]; }
    CStabilityPage& stabilityPage() { return *stability_; }

    void ShowSelectedPage();
    void OnNext();
    void OnBack();
    void OnExit();
    // The close box or Esc: the wizard ends at once, without the question.
    void OnCancel();
    void OnTimer(unsigned id);

private:
    void LeaveShownStep();

    PrinterControl& printer_;
    WizardView& view_;
    CServiceReport* report_;
    int shownStep_ = -1;
    // The voltage a sensor step last showed and the report does not hold yet.
    std::array<std::optional<long>, kStepCount> voltageToRecord_;
    std::array<std::unique_ptr<CWizardPage>, kStepCount> pages_;
    CStabilityPage* stability_ = nullptr;
};

}  // namespace tq::lmt
