// The frame: step switching, the voltage timer and the exit question.
#include <gtest/gtest.h>

#include "fakes.h"
#include "printertest/core/resource.h"
#include "printertest/core/wizard.h"

namespace tq::lmt::test {
namespace {

struct WizardRig {
    FakePrinter printer;
    tq::FakeClock clock;
    FakeWizardView view;
    CWizardDlg wizard{printer, clock, view};
    FakePageView pages[kStepCount];
    WizardRig() {
        for (int i = 0; i < kStepCount; ++i) wizard.page(i).AttachView(&pages[i]);
    }
    int VisiblePages() {
        int n = 0;
        for (const auto& [step, on] : view.shown) n += on;
        return n;
    }
};

TEST(Frame, NextAndBackMoveTheSelectionAndEnableTheButtons) {
    WizardRig rig;
    rig.wizard.ShowSelectedPage();
    EXPECT_FALSE(rig.view.enabled[IDC_BACK]);
    EXPECT_TRUE(rig.view.enabled[IDC_NEXT]);
    EXPECT_TRUE(rig.view.shown[0]);

    for (int i = 0; i < 12; ++i) rig.wizard.OnNext();
    EXPECT_EQ(rig.view.selected, kStabilityStep);
    EXPECT_TRUE(rig.view.enabled[IDC_BACK]);
    EXPECT_FALSE(rig.view.enabled[IDC_NEXT]);
    EXPECT_EQ(rig.VisiblePages(), 1);

    rig.wizard.OnBack();
    EXPECT_EQ(rig.view.selected, kTestPrintStep);
    EXPECT_TRUE(rig.view.shown[kTestPrintStep]);
    EXPECT_FALSE(rig.view.shown[kStabilityStep]);

    rig.view.selected = -1;  // nothing selected: "Далее >>" takes step 1
    rig.wizard.OnNext();
    EXPECT_EQ(rig.view.selected, 0);
}

TEST(Frame, StabilityStepLoadsTheToggleFromFlagsWithoutRequest) {
    WizardRig rig;
    rig.printer.Script("SensorFlags", {kLabelSensorFlag | kHeadOpenFlag});
    rig.view.selected = kStabilityStep;
    rig.wizard.ShowSelectedPage();
    EXPECT_TRUE(rig.pages[kStabilityStep].checked[IDC_LABEL_SENSOR]);
    EXPECT_EQ(rig.printer.Count("RequestStatus"), 0);
    rig.printer.Script("SensorFlags", {0});
    rig.wizard.ShowSelectedPage();
    EXPECT_FALSE(rig.pages[kStabilityStep].checked[IDC_LABEL_SENSOR]);
}

TEST(Frame, TimerPollsOnlyTheThreeSensorSteps) {
    WizardRig rig;
    rig.printer.Script("RulVoltage", {12});
    rig.printer.Script("PeVoltage", {34});
    rig.printer.Script("LabVoltage", {45});
    for (int step = 0; step < kStepCount; ++step) {
        rig.view.selected = step;
        rig.printer.calls.clear();
        rig.wizard.OnTimer(kVoltageTimerId);
        const bool sensor = step == kRulStep || step == kPeStep || step == kLabStep;
        EXPECT_EQ(rig.printer.calls.size(), sensor ? 2u : 0u) << step;
    }
    EXPECT_EQ(rig.pages[kRulStep].texts[IDC_FIELD], "1.2 В");
    EXPECT_EQ(rig.pages[kPeStep].texts[IDC_FIELD], "3.4 В");
    EXPECT_EQ(rig.pages[kLabStep].texts[IDC_FIELD], "4.5 В");

    rig.printer.calls.clear();
    rig.view.selected = kPeStep;
    rig.wizard.OnTimer(2);  // another timer
    EXPECT_TRUE(rig.printer.calls.empty());

    rig.printer.Script("RequestStatus", {-1});
    rig.wizard.OnTimer(kVoltageTimerId);
    rig.view.selected = kLabStep;
    rig.wizard.OnTimer(kVoltageTimerId);
    EXPECT_EQ(rig.pages[kPeStep].texts[IDC_FIELD], "Нет связи");
    EXPECT_EQ(rig.pages[kLabStep].texts[IDC_FIELD], "нет связи");
    EXPECT_EQ(rig.printer.Count("LabVoltage"), 0);  // no read without link
}

TEST(Frame, ExitAsksAndActsOnlyOnYes) {
    WizardRig rig;
    rig.view.selected = 3;
    rig.wizard.OnExit();
    EXPECT_FALSE(rig.view.ended);
    EXPECT_EQ(rig.view.selected, 3);
    ASSERT_EQ(rig.view.questions.size(), 1u);
    EXPECT_EQ(rig.view.questions[0], "Подтверждение выхода: Уверены, что хотите выйти?");
    rig.view.answer = true;
    rig.wizard.OnExit();
    EXPECT_TRUE(rig.view.ended);
}

// Esc and the close box come as IDCANCEL; on every step they ask as "Выход"
// does, and "Нет" leaves the step and its results where they were.
TEST(Frame, CancelAsksLikeExitOnEveryStep) {
    for (int step = 0; step < kStepCount; ++step) {
        WizardRig rig;
        rig.view.selected = step;
        rig.wizard.ShowSelectedPage();
        rig.pages[step].texts[IDC_RESULT] = "результат";
        rig.wizard.OnCancel();
        EXPECT_FALSE(rig.view.ended) << step;
        EXPECT_EQ(rig.view.questions, std::vector<std::string>{"Подтверждение выхода: Уверены, что хотите выйти?"})
            << step;
        EXPECT_EQ(rig.view.selected, step);
        EXPECT_TRUE(rig.view.shown[step]) << step;
        EXPECT_EQ(rig.pages[step].texts[IDC_RESULT], "результат") << step;
        rig.view.answer = true;
        rig.wizard.OnCancel();
        EXPECT_TRUE(rig.view.ended) << step;
        EXPECT_TRUE(rig.view.offers.empty()) << "no report, no number: " << step;
    }
}

}  // namespace
}  // namespace tq::lmt::test
