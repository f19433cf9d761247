#include "wizard.h"

#include "common/cp1251.h"
#include "resource.h"
#include "status_text.h"

namespace tq::lmt {

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

CWizardDlg::CWizardDlg(PrinterControl& printer, tq::Clock& clock, WizardView& view,
                       CServiceReport* report, ScaleNumberStore* numbers)
    : printer_(printer), view_(view), report_(report), numbers_(numbers) {
    pages_[kLinkStep] = std::make_unique<CLinkPage>(printer, clock);
    pages_[kSramStep] = std::make_unique<CSramPage>(printer, clock);
    pages_[kTmStep] = std::make_unique<CTmPage>(printer, clock);
    pages_[kHeadUpStep] = std::make_unique<CHeadUpPage>(printer, clock);
    pages_[kRulStep] = std::make_unique<CRulPage>(printer, clock);
    pages_[kPeStep] = std::make_unique<CPePage>(printer, clock);
    pages_[kFeedStep] = std::make_unique<CFeedPage>(printer, clock);
    pages_[kLabStep] = std::make_unique<CLabPage>(printer, clock);
    pages_[kTestPrintStep] = std::make_unique<CTestPrintPage>(printer, clock);
    auto stability = std::make_unique<CStabilityPage>(printer, clock);
    stability_ = stability.get();
    pages_[kStabilityStep] = std::move(stability);
    for (auto& page : pages_) page->AttachJournal(report_);
}

// The voltage a sensor step showed when the engineer left it goes to the report.
void CWizardDlg::LeaveShownStep() {
    if (shownStep_ < 0) return;
    auto& tenths = voltageToRecord_[shownStep_];
    if (report_ && tenths) {
        const bool lab = shownStep_ == kLabStep;
        const char* name = shownStep_ == kRulStep ? "Датчик RUL" : lab ? "Датчик LAB" : "Датчик PE";
        const std::string shown = VoltageText(*tenths, lab ? tq::Cp("нет связи") : NoLinkText());
        CheckRecord record{tq::Cp(name)};
        record.Add(tq::Cp("Напряжение при уходе с шага"), shown);
        // Without link there is no voltage to judge.
        if (*tenths < 0) {
            record.Outcome(shown);
        } else {
            const std::string verdict = VoltageVerdict(*tenths);
            record.Add(tq::Cp("Допустимо"), VoltageRangeText()).Add(tq::Cp("Оценка"), verdict);
            record.Outcome(shown + ", " + verdict);
        }
        report_->Record(record);
    }
    tenths.reset();
    shownStep_ = -1;
}

void CWizardDlg::ShowSelectedPage() {
    const int selected = view_.SelectedStep();
    if (selected != shownStep_) LeaveShownStep();
    shownStep_ = selected;
    for (int step = 0; step < kStepCount; ++step) {
        view_.ShowPage(step, step == selected);
        // No RequestStatus first: without link the toggle shows the last flags
        // the control holds.
        if (step == selected && step == kStabilityStep)
            stability_->SetLabelSensorState((printer_.SensorFlags() & kLabelSensorFlag) != 0);
    }
    view_.EnableItem(IDC_BACK, selected != 0);
    view_.EnableItem(IDC_NEXT, selected != kStepCount - 1);
}

void CWizardDlg::OnNext() {
    const int k = view_.SelectedStep();
    if (k + 1 < kStepCount) view_.SelectStep(k + 1);
    ShowSelectedPage();
}

void CWizardDlg::OnBack() {
    const int k = view_.SelectedStep();
    if (k - 1 >= 0) view_.SelectStep(k - 1);
    ShowSelectedPage();
}

void CWizardDlg::OnExit() {
    if (!view_.Ask(tq::Cp("Уверены, что хотите выйти?"), tq::Cp("Подтверждение выхода"))) return;
    const int shown = shownStep_;
    LeaveShownStep();
    if (report_ && report_->saved()) {
        const std::string kept = numbers_ ? numbers_->Load() : std::string();
        const auto typed = view_.AskScaleNumber(kept);
        if (!typed) {
            // Back to the wizard: the step is still on the screen.
            shownStep_ = shown;
            return;
        }
        const std::string number = Trimmed(*typed);
        // Remembering is a convenience; a registry that refuses costs only that.
        if (numbers_ && !number.empty() && number != kept) numbers_->Save(number);
        report_->Finish(number);
        view_.Inform(report_->SavedMessage());
    }
    view_.EndWizard();
}

void CWizardDlg::RecordControlFault(const std::string& fault) {
    if (report_ && !fault.empty()) report_->Record(ControlFaultRecord(fault));
}

void CWizardDlg::OnTimer(unsigned id) {
    if (id != kVoltageTimerId) return;
    const int k = view_.SelectedStep();
    if (k != kRulStep && k != kPeStep && k != kLabStep) return;
    long tenths = -1;
    if (printer_.RequestStatus() == 0) {
        if (k == kRulStep) tenths = printer_.RulVoltage();
        if (k == kPeStep) tenths = printer_.PeVoltage();
        if (k == kLabStep) tenths = printer_.LabVoltage();
    }
    pages_[k]->ShowVoltage(tenths);
    voltageToRecord_[k] = tenths;
}

}  // namespace tq::lmt
