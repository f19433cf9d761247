// Steps 1 to 8: link, SRAM, TM, head-up, voltages and feeds.
#include <gtest/gtest.h>

#include "fakes.h"
#include "printertest/core/resource.h"

namespace tq::lmt::test {
namespace {

TEST(LinkCheck, AllAnsweredShowsVersionAndNoErrors) {
    PageRig<CLinkPage> rig;
    rig.printer.Script("VersionMajor", {2});
    rig.printer.Script("VersionMinor", {15});
    rig.page.OnButton(IDC_START);
    EXPECT_EQ(rig.printer.Count("RequestStatus"), 1000);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Ошибок нет");
    EXPECT_EQ(rig.view.texts[IDC_VERSION], "2.15");
    // Over at once: no progress text.
    EXPECT_EQ(rig.view.history.size(), 5u);
}

TEST(LinkCheck, FailedFirstRequestLeavesVersionEmpty) {
    PageRig<CLinkPage> rig;
    rig.printer.Script("RequestStatus", {-1, 0});
    rig.page.CheckLink();
    EXPECT_EQ(rig.printer.Count("VersionMajor"), 0);
    EXPECT_EQ(rig.view.texts[IDC_VERSION], "");
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Нет связи");
}

TEST(LinkCheck, OneLaterFailureKeepsFirstVersion) {
    PageRig<CLinkPage> rig;
    std::vector<long> answers(500, 0);
    answers.push_back(-1);
    answers.push_back(0);
    rig.printer.Script("RequestStatus", answers);
    rig.printer.Script("VersionMajor", {1});
    rig.printer.Script("VersionMinor", {7});
    rig.page.CheckLink();
    EXPECT_EQ(rig.printer.Count("RequestStatus"), 1000);
    EXPECT_EQ(rig.view.texts[IDC_VERSION], "1.7");
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Нет связи");
}

TEST(LinkCheck, NoLinkGivesUpAfterTenRequests) {
    PageRig<CLinkPage> rig;
    rig.printer.Script("RequestStatus", {-1});
    rig.page.CheckLink();
    EXPECT_EQ(rig.printer.Count("RequestStatus"), 10);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Нет связи");
}

TEST(LinkCheck, ProgressAboutEveryHundredMilliseconds) {
    PageRig<CLinkPage> rig;
    rig.printer.onRequestStatus = [&] { rig.clock.Advance(1); };
    rig.page.CheckLink();
    int progress = 0;
    for (const auto& entry : rig.view.history)
        progress += entry.second.rfind("Идет проверка... Запросов ", 0) == 0;
    EXPECT_EQ(progress, 9);  // 1000 ms of requests, one text per 101 ms
    EXPECT_EQ(rig.view.Shown(IDC_RESULT, "Идет проверка... Запросов 101"), 1);
    EXPECT_EQ(rig.view.texts[IDC_RESULT], "Ошибок нет");
}

TEST(SramCheck, PassFailAndNoLink) {
    PageRig<CSramPage> rig;
    rig.page.OnButton(IDC_START);
    EXPECT_EQ(rig.view.history.front().second, "Подождите, идет проверка..");
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "Ошибок нет");

    rig.printer.Script("Status", {3});
    rig.printer.Script("VersionMinor", {0x01});
    rig.printer.Script("VersionMajor", {0x0a});
    rig.printer.Script("SensorFlags", {0x0b0c});
    rig.printer.Script("PeVoltage", {0x5a});
    rig.printer.Script("LabVoltage", {0xa5});
    rig.page.CheckSram();
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "Ошибка! Адрес: 0x10a0b0c, прочитали 0x5a, ожидали 0xa5");

    rig.printer.Script("VersionMinor", {0xff});  // the top byte must not overflow
    rig.page.CheckSram();
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "Ошибка! Адрес: 0xff0a0b0c, прочитали 0x5a, ожидали 0xa5");

    rig.printer.Script("TestSram", {-1});
    rig.page.CheckSram();
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "Нет связи");
}

TEST(TmCheck, LimitsAreFiveToSixtyFive) {
    PageRig<CTmPage> rig;
    const std::pair<long, const char*> cases[] = {
        {5, "Ошибок нет (5 C)"},        {65, "Ошибок нет (65 C)"},
        {4, "Ошибка! Температура 4 С"}, {66, "Ошибка! Температура 66 С"},
        {-3, "Ошибка! Температура -3 С"},
    };
    for (const auto& [t, text] : cases) {
        rig.printer.Script("HeadTemperature", {t});
        rig.page.OnButton(IDC_START);
        EXPECT_EQ(rig.view.texts[IDC_FIELD], text) << t;
    }
    rig.printer.Script("RequestStatus", {-1});
    rig.page.CheckTm();
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "Нет связи");
}

TEST(HeadUpCheck, BothChecksJudgeTheHeadFlagIndependently) {
    PageRig<CHeadUpPage> rig;
    rig.printer.Script("SensorFlags", {kLabelSensorFlag});  // head closed
    rig.page.OnButton(IDC_START);
    rig.page.OnButton(IDC_START2);
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "Ошибок нет (головка принтера закрыта)");
    EXPECT_EQ(rig.view.texts[IDC_FIELD2], "ОШИБКА! Головка принтера закрыта.");

    rig.printer.Script("SensorFlags", {kHeadOpenFlag});
    rig.page.CheckHeadOpen();
    EXPECT_EQ(rig.view.texts[IDC_FIELD2], "Ошибок нет (головка принтера открыта)");
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "Ошибок нет (головка принтера закрыта)");
    rig.page.CheckHeadClosed();
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "ОШИБКА! Головка принтера открыта.");

    rig.printer.Script("RequestStatus", {-1});
    rig.page.CheckHeadClosed();
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "Нет связи");
}

TEST(Voltage, TenthsOfAVoltAndNoLink) {
    PageRig<CRulPage> rul;
    PageRig<CPePage> pe;
    PageRig<CLabPage> lab;
    const std::pair<long, const char*> cases[] = {{0, "0.0 В"}, {5, "0.5 В"}, {50, "5.0 В"}, {123, "12.3 В"}};
    for (const auto& [v, text] : cases) {
        rul.page.ShowVoltage(v);
        EXPECT_EQ(rul.view.texts[IDC_FIELD], text);
        lab.page.ShowVoltage(v);
        EXPECT_EQ(lab.view.texts[IDC_FIELD], text);
    }
    rul.page.ShowVoltage(-1);
    pe.page.ShowVoltage(-1);
    lab.page.ShowVoltage(-1);
    EXPECT_EQ(rul.view.texts[IDC_FIELD], "Нет связи");
    EXPECT_EQ(pe.view.texts[IDC_FIELD], "Нет связи");
    EXPECT_EQ(lab.view.texts[IDC_FIELD], "нет связи");
}

TEST(Feed, FeedPageWritesStatusText) {
    PageRig<CFeedPage> rig;
    rig.page.OnButton(IDC_START);
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "Ошибок нет");
    rig.printer.Script("Status", {2});
    rig.page.FeedOnce();
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "Этикетка не спозиционирована");
    rig.printer.Script("Status", {7});
    rig.page.FeedOnce();
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "");
    rig.printer.Script("Feed", {-1});
    rig.page.FeedOnce();
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "Нет связи");
}

TEST(Feed, LabPageTellsOnlyProblemsInAMessageBox) {
    PageRig<CLabPage> rig;
    rig.page.ShowVoltage(31);
    rig.page.OnButton(IDC_START);
    rig.printer.Script("Status", {8});
    rig.page.FeedOnce();
    EXPECT_TRUE(rig.view.notices.empty());
    rig.printer.Script("Status", {1});
    rig.page.FeedOnce();
    rig.printer.Script("Feed", {-1});
    rig.page.FeedOnce();
    ASSERT_EQ(rig.view.notices.size(), 2u);
    EXPECT_EQ(rig.view.notices[0], std::make_pair(std::string("ОШИБКА!"), std::string("Нет бумаги")));
    EXPECT_EQ(rig.view.notices[1], std::make_pair(std::string("ОШИБКА!"), std::string("Нет связи")));
    EXPECT_EQ(rig.view.texts[IDC_FIELD], "3.1 В");  // the feed leaves the voltage alone
}

}  // namespace
}  // namespace tq::lmt::test
