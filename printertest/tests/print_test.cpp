// Steps 9 and 10: the count entry, test print, stability run and label sensor.
#include <gtest/gtest.h>

#include <algorithm>

#include "fakes.h"
#include "printertest/core/resource.h"

namespace tq::lmt::test {
namespace {

TEST(CountEntry, ValidationKeepsOrTakesTheValue) {
    FakePageView view;
    CountField count(10, 999);
    view.texts[IDC_COUNT] = " 25 ";
    count.Read(view, IDC_COUNT);
    EXPECT_EQ(count.value(), 25);
    EXPECT_TRUE(view.warnings.empty());

    view.texts[IDC_COUNT] = "12a";
    count.Read(view, IDC_COUNT);
    EXPECT_EQ(count.value(), 25);  // no integer: unchanged
    view.texts[IDC_COUNT] = "";
    count.Read(view, IDC_COUNT);
    EXPECT_EQ(count.value(), 25);

    view.texts[IDC_COUNT] = "1500";
    count.Read(view, IDC_COUNT);
    EXPECT_EQ(count.value(), 1500);  // out of range: taken all the same
    ASSERT_EQ(view.warnings.size(), 3u);
    EXPECT_EQ(view.warnings[0].second, "Введите целое число.");
    EXPECT_EQ(view.warnings[2].second, "Введите целое число от 0 до 999.");

    view.texts[IDC_COUNT] = "-4";
    count.Read(view, IDC_COUNT);
    EXPECT_EQ(count.Total(), 1);
}

TEST(TestPrint, PrintsTheCountWithPausesBetween) {
    PageRig<CTestPrintPage> rig("3");
    rig.page.OnButton(IDC_START);
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 3);
    EXPECT_EQ(rig.clock.TotalSleptMs(), 200u);
    EXPECT_EQ(rig.view.history.front().second, "Идет тестовая печать. Напечатано 0. Подождите...");
    EXPECT_EQ(rig.view.Shown(IDC_RESULT, "Идет тестовая печать. Напечатано 3. Подождите..."), 1);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Ошибок нет");
    EXPECT_EQ(rig.printer.Count("LoadLabel"), 0);  // prints the layout the control holds
}

TEST(TestPrint, CountZeroPrintsOneAndLinkLossEndsTheRun) {
    PageRig<CTestPrintPage> rig("0");
    rig.page.TestPrint();
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 1);

    rig.view.texts[IDC_COUNT] = "5";
    rig.printer.Script("PrintLabel", {0, -1});
    rig.page.TestPrint();
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 3);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Нет связи");
}

TEST(TestPrint, OverheatCoolsThenGoesOn) {
    PageRig<CTestPrintPage> rig("2");
    // After the first label: overheated, then cool after two cycles.
    rig.printer.Script("Status", {5, 0});
    rig.printer.Script("HeadTemperature", {75, 70, 64, 58});
    rig.page.TestPrint();
    EXPECT_EQ(rig.view.Shown(IDC_RESULT, "Перегрев печатной головки (75 C). Идет охлаждение..."), 1);
    EXPECT_EQ(rig.view.Shown(IDC_RESULT, "Перегрев печатной головки (64 C). Идет охлаждение..."), 1);
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 2);
    EXPECT_EQ(rig.clock.TotalSleptMs(), 2000u + 100u);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Ошибок нет");
}

TEST(TestPrint, CoolingGivesUpAfterSixtyCycles) {
    PageRig<CTestPrintPage> rig("1");
    rig.printer.Script("Status", {6});
    rig.printer.Script("HeadTemperature", {90});
    rig.page.TestPrint();
    EXPECT_EQ(rig.clock.TotalSleptMs(), 60000u);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Перегрев печатной головки во время печати");
}

TEST(TestPrint, EscDuringCoolingEndsTheRun) {
    PageRig<CTestPrintPage> rig("5");
    rig.printer.Script("Status", {5});
    rig.printer.Script("HeadTemperature", {90});
    rig.view.stopAfterPolls = 2;
    rig.page.TestPrint();
    EXPECT_EQ(rig.clock.TotalSleptMs(), 3000u);
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 1);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано 1 из 5, остановлено");
}

// While a run goes the page says how to stop it, and says nothing once it ends,
// however it ends.
TEST(PrintPages, EscHintOnlyWhileARunGoes) {
    PageRig<CTestPrintPage> print("3");
    print.page.TestPrint();
    EXPECT_EQ(print.view.Shown(IDC_STOP_HINT, "Esc — остановить"), 1);
    EXPECT_EQ(print.view.texts[IDC_STOP_HINT], "");
    EXPECT_EQ(print.view.texts[IDC_RESULT], "Ошибок нет") << "a run to its end is not stopped";

    PageRig<CStabilityPage> stability("2");
    stability.printer.Script("Status", {4});
    stability.page.RunStabilityTest();
    EXPECT_EQ(stability.view.Shown(IDC_STOP_HINT, "Esc — остановить"), 1);
    ASSERT_EQ(stability.view.notices.size(), 1u);
    EXPECT_EQ(stability.view.texts[IDC_STOP_HINT], "") << "gone before the box opens";
    EXPECT_EQ(stability.view.texts[IDC_RESULT], "Напечатано этикеток: 1 из 2\r\nОшибок: 0");

    PageRig<CTestPrintPage> lost("3");
    lost.printer.Script("PrintLabel", {-1});
    lost.page.TestPrint();
    EXPECT_EQ(lost.view.texts[IDC_STOP_HINT], "");
    EXPECT_EQ(lost.view.texts[IDC_RESULT], "Нет связи");
}

TEST(TestPrint, StatusWithoutTextKeepsLastProgress) {
    PageRig<CTestPrintPage> rig("4");
    rig.printer.Script("Status", {0, 0, 0, 7});
    rig.page.TestPrint();
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 2);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Идет тестовая печать. Напечатано 1. Подождите...");
}

TEST(PrintPages, FeedKeepsResultForStatusWithoutText) {
    PageRig<CStabilityPage> rig("1");
    rig.printer.Script("Status", {3, 8});
    rig.page.OnButton(IDC_FEED);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Поднят рычаг прижима");
    rig.page.FeedOnce();
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Поднят рычаг прижима");
    rig.printer.Script("Feed", {-1});
    rig.page.FeedOnce();
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Нет связи");
}

TEST(Stability, WritesTheTestLabelInOrderAndSummarises) {
    PageRig<CStabilityPage> rig("3");
    rig.page.OnButton(IDC_START);
    const std::vector<std::string> head(rig.printer.calls.begin(), rig.printer.calls.begin() + 8);
    const std::vector<std::string> expected = {
        "LoadLabel C:\\TQ-850\\Shared\\Labels\\60X60.lpr", "LabelBarcode 123456789012",
        "LabelValue10 1200.000000", "LabelValue8 10.000000", "LabelValue9 120.000000",
        "LabelInteger20 5", "LabelName Икра черная.", "PrepareLabel"};
    EXPECT_EQ(head, expected);
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 3);
    EXPECT_EQ(rig.clock.TotalSleptMs(), 1500u);
    EXPECT_EQ(rig.view.Shown(IDC_RESULT, "Идет тестовая печать. Напечатано 2. Подождите..."), 1);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 3 из 3\r\nОшибок: 0");
    EXPECT_TRUE(rig.view.notices.empty());
}

TEST(Stability, CountZeroPrintsOneOfOne) {
    PageRig<CStabilityPage> rig("0");
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 1 из 1\r\nОшибок: 0");
}

TEST(Stability, CallAgainIsRetriedAtOnceWithoutCounting) {
    PageRig<CStabilityPage> rig("2");
    rig.printer.Script("PrintLabel", {4, 4, 0, 4, 0});
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 5);
    EXPECT_EQ(rig.clock.TotalSleptMs(), 1000u);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 2 из 2\r\nОшибок: 0");
}

TEST(Stability, EndlessCallAgainIsBounded) {
    PageRig<CStabilityPage> rig("5");
    rig.printer.Script("PrintLabel", {4});
    rig.printer.Script("Status", {4});
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.printer.Count("PrintLabel"), CStabilityPage::kMaxPrintAgainInARow);
    ASSERT_EQ(rig.view.notices.size(), 1u);
    EXPECT_EQ(rig.view.notices[0].first, "Внимание!");
    EXPECT_EQ(rig.view.notices[0].second,
              "Не снята отпечатанная этикетка\r\nВыключите датчик этикетки\r\nПовторите тест!!!");
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 0 из 5\r\nОшибок: 0");
}

TEST(Stability, SixteenErrorsEndTheRunButOwnErrorsDoNot) {
    PageRig<CStabilityPage> rig("100");
    rig.printer.Script("PrintLabel", {-7});
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 16);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 0 из 100\r\nОшибок: 16");

    rig.printer.calls.clear();
    rig.printer.Script("PrintLabel", {-1033});
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 100);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 0 из 100\r\nОшибок: 100");
}

TEST(Stability, PositiveCodesCountNeitherWay) {
    PageRig<CStabilityPage> rig("3");
    rig.printer.Script("PrintLabel", {0, 2, 0});
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 2 из 3\r\nОшибок: 0");
}

TEST(Stability, LinkLossIsRecoveredAndTheRunGoesOn) {
    PageRig<CStabilityPage> rig("3");
    rig.printer.Script("PrintLabel", {0, -1, 0});
    rig.printer.Script("RequestStatus", {-1, -1, 0});
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.printer.Count("RequestStatus"), 3);
    EXPECT_EQ(rig.view.Shown(IDC_RESULT, "Восстановление связи с принтером\r\nпосле ошибки\r\nПодождите..."), 3);
    EXPECT_EQ(rig.clock.TotalSleptMs(), 1500u + 3000u);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 2 из 3\r\nОшибок: 1");
}

TEST(Stability, RecoveryGivesUpAfterThirtyAttempts) {
    PageRig<CStabilityPage> rig("2");
    rig.printer.Script("PrintLabel", {-1, 0});
    rig.printer.Script("RequestStatus", {-1});
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.printer.Count("RequestStatus"), 30);
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 2);  // and the run goes on
}

TEST(Stability, OverheatingCoolsOrEndsTheRun) {
    PageRig<CStabilityPage> rig("2");
    rig.printer.Script("Status", {5, 0});
    rig.printer.Script("HeadTemperature", {66, 61, 60});
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.view.Shown(IDC_RESULT, "Перегрев печатной головки (66 C)\r\nИдет охлаждение..."), 1);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 2 из 2\r\nОшибок: 0");

    rig.printer.Script("Status", {6});
    rig.printer.Script("HeadTemperature", {80});
    rig.page.RunStabilityTest();
    ASSERT_EQ(rig.view.notices.size(), 1u);
    EXPECT_EQ(rig.view.notices[0].second, "Перегрев печатной головки во время печати");
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 1 из 2\r\nОшибок: 0");
}

TEST(Stability, StatusWithoutTextRepeatsTheLastProgress) {
    PageRig<CStabilityPage> rig("5");
    rig.printer.Script("Status", {0, 0, 7});
    rig.page.RunStabilityTest();
    ASSERT_EQ(rig.view.notices.size(), 1u);
    EXPECT_EQ(rig.view.notices[0].second, "Идет тестовая печать. Напечатано 1. Подождите...");
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 2 из 5\r\nОшибок: 0");
}

TEST(Stability, EngineerStopsALongRun) {
    PageRig<CStabilityPage> rig("99999");
    rig.view.stopAfterPolls = 3;
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 3);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 3 из 99999, остановлено\r\nОшибок: 0");
    EXPECT_EQ(rig.view.texts[IDC_STOP_HINT], "");
}

TEST(Stability, EscDuringLinkRecoveryEndsTheRun) {
    PageRig<CStabilityPage> rig("50");
    rig.printer.Script("PrintLabel", {-1});
    rig.printer.Script("RequestStatus", {-1});
    rig.view.stopAfterPolls = 1;  // taken inside the recovery
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.printer.Count("RequestStatus"), 1);
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 1);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Напечатано этикеток: 0 из 50, остановлено\r\nОшибок: 1");
}

TEST(Stability, ControlFaultEndsTheRun) {
    PageRig<CStabilityPage> rig("50");
    rig.printer.Script("PrintLabel", {0, -1});
    rig.printer.Script("RequestStatus", {-1});
    rig.printer.onRequestStatus = [&] { rig.printer.faulted = true; };
    rig.page.RunStabilityTest();
    EXPECT_EQ(rig.printer.Count("RequestStatus"), 1);
    EXPECT_EQ(rig.printer.Count("PrintLabel"), 2);
}

TEST(LabelSensor, ToggleSendsStateAndShowingReloadsIt) {
    PageRig<CStabilityPage> rig("10");
    rig.view.checked[IDC_LABEL_SENSOR] = true;
    rig.page.OnButton(IDC_LABEL_SENSOR);
    EXPECT_EQ(rig.printer.calls.back(), "EnableLabelSensor 1");
    EXPECT_TRUE(rig.page.labelSensorOn());

    rig.view.texts[IDC_COUNT] = "77";
    rig.page.SetLabelSensorState(false);
    EXPECT_FALSE(rig.view.checked[IDC_LABEL_SENSOR]);
    EXPECT_EQ(rig.view.texts[IDC_COUNT], "10");  // the count held, written back
    EXPECT_EQ(rig.printer.calls.size(), 1u);
}

}  // namespace
}  // namespace tq::lmt::test
