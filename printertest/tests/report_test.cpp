// The service report: what each check leaves in it, in which order, and a
// report that cannot be written.
#include <gtest/gtest.h>

#include "fakes.h"
#include "printertest/core/resource.h"
#include "printertest/core/service_report.h"
#include "printertest/core/wizard.h"

namespace tq::lmt::test {
namespace {

// Keeps what is appended; fails every append from a given one on.
class FakeSink : public ReportSink {
public:
    bool Append(const std::string& utf8, std::string* reason) override {
        if (appends++ >= failFrom) {
            *reason = tq::Cp("диск переполнен");
            return false;
        }
        file += utf8;
        return true;
    }
    bool Rewrite(const std::string& utf8, std::string* reason) override {
        ++rewrites;
        if (failRewrite) {
            *reason = tq::Cp("файл занят");
            return false;
        }
        file = utf8;
        return true;
    }
    std::string Path() const override { return tq::Cp("C:\\Весы\\Reports\\LMT520EU-20261208-143005.txt"); }

    // The file's lines after the byte-order mark, as UTF-8.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::string text = file.substr(file.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0);
        for (size_t at = 0; at < text.size();) {
            const size_t end = text.find("\r\n", at);
            lines.push_back(text.substr(at, end - at));
            at = end == std::string::npos ? text.size() : end + 2;
        }
        return lines;
    }
    // The lines from the block whose title line ends with name (after the time).
    std::vector<std::string> Block(const std::string& name, int which = 0) const {
        const auto lines = Lines();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].size() < name.size() + 10 || lines[i].substr(10) != name || which-- > 0) continue;
            std::vector<std::string> block;
            for (size_t j = i + 1; j < lines.size() && !lines[j].empty(); ++j) block.push_back(lines[j]);
            return block;
        }
        return {};
    }
    // The check names in the order they were written.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        bool header = true;
        for (const auto& line : Lines()) {
            if (line.empty()) header = false;
            else if (!header && line[0] != ' ') names.push_back(line.substr(10));
        }
        return names;
    }

    std::string file;
    int appends = 0;
    int failFrom = 1000;
    int rewrites = 0;
    bool failRewrite = false;
};

class FakeWallClock : public WallClock {
public:
    LocalTime Now() override {
        LocalTime t = now;
        now.second += 1;
        return t;
    }
    LocalTime now{2026, 12, 8, 14, 30, 5};
};

struct ReportRig {
    FakePrinter printer;
    tq::FakeClock clock;
    FakeWallClock wallClock;
    FakeSink sink;
    std::vector<std::string> warnings;
    CServiceReport report{sink, wallClock, {{2026, 12, 8, 14, 30, 0}, "SCALE-07", "1.0.0.1"},
                          [this](const std::string& m) { warnings.push_back(tq::Cp1251ToUtf8(m)); }};
    FakeWizardView view;
    FakeScaleNumberStore numbers;
    CWizardDlg wizard{printer, clock, view, &report, &numbers};
    FakePageView pages[kStepCount];
    ReportRig() {
        view.answer = true;
        for (int i = 0; i < kStepCount; ++i) wizard.page(i).AttachView(&pages[i]);
        wizard.ShowSelectedPage();
    }
    void Select(int step) {
        view.selected = step;
        wizard.ShowSelectedPage();
    }
    void Press(int step, int item, const std::string& count = "") {
        if (!count.empty()) pages[step].texts[IDC_COUNT] = count;
        wizard.page(step).OnButton(item);
    }
};

using Lines = std::vector<std::string>;

// The value of one fact of a block.
std::string Fact(const Lines& block, const std::string& what) {
    const std::string start = "    " + what + ": ";
    for (const auto& line : block)
        if (line.rfind(start, 0) == 0) return line.substr(start.size());
    return "<no " + what + ">";
}

TEST(ServiceReport, HeaderWithByteOrderMarkComesWithTheFirstCheck) {
    ReportRig rig;
    EXPECT_TRUE(rig.sink.file.empty()) << "a wizard without checks writes nothing";
    rig.Press(kSramStep, IDC_START);
    rig.Press(kTmStep, IDC_START);
    EXPECT_EQ(rig.sink.appends, 2) << "one append per check";
    EXPECT_EQ(rig.sink.file.rfind("\xEF\xBB\xBF", 0), 0u);
    const Lines expected = {
        "Отчёт о проверке принтера весов (LMT520EU)",
        "Номер весов: не указан",
        "Дата: 08.12.2026 14:30:00",
        "Компьютер: SCALE-07",
        "Версия элемента управления принтера: 1.0.0.1",
        "",
        "14:30:05  Проверка SRAM",
        "    Результат: Ошибок нет",
        "",
        "14:30:06  Датчик TM",
        "    Температура головки: 0 C",
        "    Результат: Ошибка! Температура 0 С",
        "",
    };
    EXPECT_EQ(rig.sink.Lines(), expected);
    EXPECT_EQ(CServiceReport::FileName({2026, 1, 2, 3, 4, 5}), "LMT520EU-20260102-030405.txt");
}

TEST(ServiceReport, ChecksOfTheFirstStepsRecordWhatTheyFound) {
    ReportRig rig;
    rig.printer.Script("RequestStatus", {0, 0, -1, 0});
    rig.printer.Script("VersionMajor", {3});
    rig.printer.Script("VersionMinor", {14});
    rig.Press(kLinkStep, IDC_START);
    EXPECT_EQ(rig.sink.Block("Проверка связи"),
              (Lines{"    Запросов: 1000", "    Ответов: 999", "    Версия принтера: 3.14",
                     "    Результат: Нет связи"}));

    rig.printer.Script("RequestStatus", {-1});
    rig.Press(kLinkStep, IDC_START);
    EXPECT_EQ(rig.sink.Block("Проверка связи", 1),
              (Lines{"    Запросов: 10", "    Ответов: 0", "    Версия принтера: не получена",
                     "    Результат: Нет связи"}));

    rig.Press(kTmStep, IDC_START);
    EXPECT_EQ(rig.sink.Block("Датчик TM"), Lines{"    Результат: Нет связи"});

    rig.printer.Script("RequestStatus", {0});
    rig.printer.Script("SensorFlags", {kHeadOpenFlag});
    rig.Press(kHeadUpStep, IDC_START);
    rig.Press(kHeadUpStep, IDC_START2);
    EXPECT_EQ(rig.sink.Block("Датчик HEADUP, проверка 1 (головка закрыта)"),
              Lines{"    Результат: ОШИБКА! Головка принтера открыта."});
    EXPECT_EQ(rig.sink.Block("Датчик HEADUP, проверка 2 (головка открыта)"),
              Lines{"    Результат: Ошибок нет (головка принтера открыта)"});

    rig.printer.Script("Status", {1});
    rig.Press(kSramStep, IDC_START);
    EXPECT_EQ(rig.sink.Block("Проверка SRAM"),
              Lines{"    Результат: Ошибка! Адрес: 0xe030008, прочитали 0x0, ожидали 0x0"});
}

TEST(ServiceReport, FeedsAndTestPrintsRecordTheirStatus) {
    ReportRig rig;
    rig.printer.Script("Status", {2});
    rig.Press(kFeedStep, IDC_START);
    rig.printer.Script("Status", {7});
    rig.Press(kLabStep, IDC_START);
    rig.printer.Script("Feed", {-1});
    rig.Press(kStabilityStep, IDC_FEED);
    EXPECT_EQ(rig.sink.Block("Промотка, шаг \"Тестовая промотка\""),
              Lines{"    Статус: 2 (Этикетка не спозиционирована)"});
    EXPECT_EQ(rig.sink.Block("Промотка, шаг \"Датчик LAB\""), Lines{"    Статус: 7"});
    EXPECT_EQ(rig.sink.Block("Промотка, шаг \"Проверка стабильности\""), Lines{"    Статус: Нет связи"});

    rig.printer.Script("Status", {0});
    rig.printer.Script("PrintLabel", {0, 0, -1});
    rig.Press(kTestPrintStep, IDC_START, "5");
    EXPECT_EQ(rig.sink.Block("Тестовая печать"),
              (Lines{"    Задано этикеток: 5", "    Напечатано: 2", "    Статус в конце: Нет связи",
                     "    Результат: Нет связи"}));

    rig.printer.Script("PrintLabel", {0});
    rig.printer.Script("Status", {0, 0, 9});
    rig.Press(kTestPrintStep, IDC_START, "0");
    EXPECT_EQ(rig.sink.Block("Тестовая печать", 1),
              (Lines{"    Задано этикеток: 1", "    Напечатано: 1",
                     "    Статус в конце: 9 (Печать прервана / неполная печать)",
                     "    Результат: Печать прервана / неполная печать"}));

    rig.printer.Script("Status", {0});
    rig.pages[kTestPrintStep].stopAfterPolls = rig.pages[kTestPrintStep].polls;
    rig.Press(kTestPrintStep, IDC_START, "9");
    EXPECT_EQ(rig.sink.Block("Тестовая печать", 2),
              (Lines{"    Задано этикеток: 9", "    Напечатано: 1", "    Статус в конце: 0 (Ошибок нет)",
                     "    Завершение: остановлена клавишей Esc",
                     "    Результат: Напечатано 1 из 9, остановлено"}));
}

TEST(ServiceReport, StabilityRunsRecordTheirCountsAndHowTheyEnded) {
    ReportRig rig;
    // Three labels: a lost link that comes back, an overheated head, a -1033.
    rig.printer.Script("PrintLabel", {0, -1, -1033});
    rig.printer.Script("RequestStatus", {-1, 0});
    rig.printer.Script("Status", {5, 0});
    rig.printer.Script("HeadTemperature", {70, 55});
    rig.Press(kStabilityStep, IDC_START, "3");
    EXPECT_EQ(rig.sink.Block("Проверка стабильности"),
              (Lines{"    Задано этикеток: 3", "    Напечатано: 1",
                     "    Ошибок: 2 (из них с кодом -1033: 1)",
                     "    Восстановлений связи: 1 (связь вернулась: 1)",
                     "    Пауз на охлаждение головки: 1", "    Завершение: все этикетки серии пройдены",
                     "    Статус в конце: 0 (Ошибок нет)"}));

    int runs = 1;
    auto run = [&](const std::string& count) {
        rig.Press(kStabilityStep, IDC_START, count);
        return rig.sink.Block("Проверка стабильности", runs++);
    };
    rig.printer.Script("PrintLabel", {-5});
    const Lines limit = run("100");
    EXPECT_EQ(Fact(limit, "Ошибок"), "16 (из них с кодом -1033: 0)");
    EXPECT_EQ(Fact(limit, "Завершение"), "предел ошибок (более 15)");

    rig.printer.Script("PrintLabel", {0});
    rig.pages[kStabilityStep].stopAfterPolls = rig.pages[kStabilityStep].polls + 3;
    const Lines stopped = run("99999");
    EXPECT_EQ(Fact(stopped, "Напечатано"), "3");
    EXPECT_EQ(Fact(stopped, "Завершение"), "остановлена клавишей Esc");

    rig.printer.Script("Status", {4});
    const Lines status = run("2");
    EXPECT_EQ(Fact(status, "Завершение"), "остановлена по статусу принтера");
    EXPECT_EQ(Fact(status, "Статус в конце"), "4 (Не снята отпечатанная этикетка)");
}

TEST(ServiceReport, ReportingMakesNoPrinterCall) {
    FakePrinter plain;
    tq::FakeClock clock;
    FakePageView view;
    CStabilityPage page(plain, clock);
    page.AttachView(&view);
    view.texts[IDC_COUNT] = "4";
    plain.Script("PrintLabel", {0, 4, -1, 0, -1033});
    plain.Script("RequestStatus", {-1, 0});
    page.RunStabilityTest();

    ReportRig rig;
    rig.printer.Script("PrintLabel", {0, 4, -1, 0, -1033});
    rig.printer.Script("RequestStatus", {-1, 0});
    rig.printer.calls.clear();
    rig.Press(kStabilityStep, IDC_START, "4");
    EXPECT_EQ(rig.printer.calls, plain.calls);
    EXPECT_EQ(rig.pages[kStabilityStep].texts[IDC_RESULT], view.texts[IDC_RESULT]);
}

TEST(ServiceReport, VoltageIsRecordedWhenTheStepIsLeft) {
    ReportRig rig;
    rig.printer.Script("RulVoltage", {12, 47});
    rig.Select(kRulStep);
    rig.wizard.OnTimer(kVoltageTimerId);
    rig.wizard.OnTimer(kVoltageTimerId);
    EXPECT_TRUE(rig.sink.file.empty()) << "nothing while the step is shown";
    rig.Select(kPeStep);  // left without a tick: nothing to record
    rig.Select(kFeedStep);
    rig.Select(kLabStep);
    rig.printer.Script("RequestStatus", {-1});
    rig.wizard.OnTimer(kVoltageTimerId);
    rig.wizard.OnExit();
    EXPECT_EQ(rig.sink.Names(), (Lines{"Датчик RUL", "Датчик LAB", "Итог"}));
    EXPECT_EQ(rig.sink.Block("Датчик RUL"),
              (Lines{"    Напряжение при уходе с шага: 4.7 В", "    Допустимо: 0..1,5 В или 3,5..5,0 В",
                     "    Оценка: в норме"}));
    EXPECT_EQ(rig.sink.Block("Датчик LAB"), Lines{"    Напряжение при уходе с шага: нет связи"})
        << "no verdict without a voltage";
    EXPECT_EQ(rig.view.notices, Lines{"Отчёт сохранён: C:\\Весы\\Reports\\LMT520EU-20261208-143005.txt"});
    EXPECT_TRUE(rig.view.ended);

    ReportRig closed;
    closed.Select(kPeStep);
    closed.wizard.OnTimer(kVoltageTimerId);
    closed.wizard.OnCancel();
    EXPECT_EQ(closed.sink.Names(), (Lines{"Датчик PE", "Итог"})) << "the close box leaves the step too";
    EXPECT_TRUE(closed.view.ended);
}

TEST(ServiceReport, ExitWithoutChecksSaysNothing) {
    ReportRig rig;
    rig.Select(kRulStep);  // shown, never ticked
    rig.wizard.OnExit();
    EXPECT_TRUE(rig.view.ended);
    EXPECT_TRUE(rig.view.notices.empty());
    EXPECT_TRUE(rig.view.offers.empty()) << "no number asked for a report that is not there";
    EXPECT_EQ(rig.sink.appends, 0);
}

TEST(ServiceReport, UnwritableReportWarnsOnceAndTheChecksGoOn) {
    ReportRig rig;
    rig.sink.failFrom = 1;
    rig.Press(kSramStep, IDC_START);
    EXPECT_TRUE(rig.warnings.empty());
    rig.Press(kTmStep, IDC_START);
    rig.printer.Script("Status", {1});
    rig.Press(kFeedStep, IDC_START);
    rig.Press(kSramStep, IDC_START);
    EXPECT_EQ(rig.warnings, Lines{"Отчёт не сохраняется: диск переполнен"});
    EXPECT_EQ(rig.sink.appends, 2) << "no writes after the failure";
    EXPECT_EQ(rig.pages[kFeedStep].texts[IDC_FIELD], "Нет бумаги");
    EXPECT_EQ(rig.pages[kTmStep].texts[IDC_FIELD], "Ошибка! Температура 0 С") << "the checks still run";
    EXPECT_FALSE(rig.report.saved());
    rig.wizard.OnExit();
    EXPECT_TRUE(rig.view.notices.empty()) << "a report cut short is not announced as saved";
    EXPECT_TRUE(rig.view.offers.empty());
    EXPECT_EQ(rig.sink.rewrites, 0);
    EXPECT_TRUE(rig.view.ended);

    ReportRig never;
    never.sink.failFrom = 0;
    never.Press(kLinkStep, IDC_START);
    EXPECT_EQ(never.warnings.size(), 1u);
    EXPECT_EQ(never.pages[kLinkStep].texts[IDC_RESULT], "Ошибок нет");
}

TEST(ServiceReport, ExitAsksForTheScaleNumberAndEndsWithASummary) {
    ReportRig rig;
    rig.numbers.kept = "0815";
    rig.view.number = "  4711 ";
    rig.Press(kSramStep, IDC_START);
    rig.printer.Script("Status", {2});
    rig.Press(kFeedStep, IDC_START);
    rig.printer.Script("Status", {0});
    rig.printer.Script("PeVoltage", {16});
    rig.Select(kPeStep);
    rig.wizard.OnTimer(kVoltageTimerId);
    rig.Press(kStabilityStep, IDC_START, "2");
    rig.wizard.OnExit();

    EXPECT_EQ(rig.view.offers, Lines{"0815"}) << "the number kept from the last run is offered";
    EXPECT_EQ(rig.numbers.kept, "4711") << "kept without the blanks around it";
    const Lines lines = rig.sink.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Номер весов: 4711");
    EXPECT_EQ(rig.sink.Block("Датчик PE"),
              (Lines{"    Напряжение при уходе с шага: 1.6 В", "    Допустимо: 0..1,5 В или 3,5..5,0 В",
                     "    Оценка: вне нормы"}));
    EXPECT_EQ(rig.sink.Names(), (Lines{"Проверка SRAM", "Промотка, шаг \"Тестовая промотка\"",
                                       "Проверка стабильности", "Датчик PE", "Итог"}))
        << "the checks as appended, the summary last";
    EXPECT_EQ(rig.sink.Block("Итог"),
              (Lines{"    Проверка SRAM: Ошибок нет",
                     "    Промотка, шаг \"Тестовая промотка\": 2 (Этикетка не спозиционирована)",
                     "    Проверка стабильности: напечатано 2 из 2, ошибок 0, все этикетки серии пройдены",
                     "    Датчик PE: 1.6 В, вне нормы"}));
    EXPECT_EQ(lines.back(), "") << "the file ends with its line end";
    EXPECT_EQ(rig.sink.file.rfind("\xEF\xBB\xBF", 0), 0u) << "the rewritten file keeps its byte-order mark";
    EXPECT_EQ(rig.view.notices, Lines{"Отчёт сохранён: C:\\Весы\\Reports\\LMT520EU-20261208-143005.txt"});
    EXPECT_TRUE(rig.view.ended);

    // The same number again is not written again; no number is "не указан"
    // and does not wipe the kept one.
    ReportRig same;
    same.numbers.kept = "17";
    same.Press(kSramStep, IDC_START);
    same.wizard.OnExit();
    EXPECT_EQ(same.numbers.saves, 0);
    ReportRig blank;
    blank.numbers.kept = "17";
    blank.view.number = " ";
    blank.Press(kSramStep, IDC_START);
    blank.wizard.OnExit();
    EXPECT_EQ(blank.sink.Lines()[1], "Номер весов: не указан");
    EXPECT_EQ(blank.numbers.kept, "17");
}

TEST(ServiceReport, CancelledNumberReturnsToTheWizard) {
    ReportRig rig;
    rig.Press(kSramStep, IDC_START);
    rig.printer.Script("RulVoltage", {3});
    rig.Select(kRulStep);
    rig.wizard.OnTimer(kVoltageTimerId);
    rig.view.number.reset();
    rig.wizard.OnExit();
    EXPECT_FALSE(rig.view.ended);
    EXPECT_TRUE(rig.view.notices.empty());
    EXPECT_EQ(rig.sink.rewrites, 0);
    EXPECT_EQ(rig.numbers.saves, 0);

    // Still on the RUL step: a voltage shown after the way back is recorded too.
    rig.printer.Script("RulVoltage", {40});
    rig.wizard.OnTimer(kVoltageTimerId);
    rig.view.number = "9";
    rig.wizard.OnCancel();
    EXPECT_TRUE(rig.view.ended);
    EXPECT_EQ(rig.sink.Names(), (Lines{"Проверка SRAM", "Датчик RUL", "Датчик RUL", "Итог"}));
    EXPECT_EQ(Fact(rig.sink.Block("Датчик RUL", 1), "Напряжение при уходе с шага"), "4.0 В");
}

TEST(ServiceReport, VoltageIsJudgedAgainstBothRanges) {
    for (long tenths : {0L, 15L, 35L, 50L}) EXPECT_TRUE(VoltageInRange(tenths)) << tenths;
    for (long tenths : {-1L, 16L, 34L, 51L}) EXPECT_FALSE(VoltageInRange(tenths)) << tenths;
    EXPECT_EQ(tq::Cp1251ToUtf8(VoltageVerdict(35)), "в норме");
    EXPECT_EQ(tq::Cp1251ToUtf8(VoltageVerdict(34)), "вне нормы");
}

TEST(ServiceReport, PrinterErrorsShownToTheEngineerAreRecorded) {
    ReportRig rig;
    rig.printer.Script("Status", {1});
    rig.Press(kLabStep, IDC_START);
    rig.printer.Script("Feed", {-1});
    rig.Press(kLabStep, IDC_START);
    rig.printer.Script("Status", {4});
    rig.Press(kStabilityStep, IDC_START, "1");
    rig.wizard.RecordControlFault(tq::Cp("Сбой порта (id 57, 0x80020009)"));
    rig.wizard.RecordControlFault(tq::Cp("без кода"));

    ASSERT_EQ(rig.pages[kLabStep].notices.size(), 2u);
    ASSERT_EQ(rig.pages[kStabilityStep].notices.size(), 1u);
    EXPECT_EQ(rig.sink.Block("Ошибка принтера", 0), (Lines{"    Код: 1", "    Текст: Нет бумаги"}));
    EXPECT_EQ(rig.sink.Block("Ошибка принтера", 1), (Lines{"    Код: -1", "    Текст: Нет связи"}));
    EXPECT_EQ(rig.sink.Block("Ошибка принтера", 2),
              (Lines{"    Код: 4",
                     "    Текст: Не снята отпечатанная этикетка Выключите датчик этикетки Повторите тест!!!"}))
        << "the box's three lines make one fact";
    EXPECT_EQ(rig.sink.Block("Ошибка принтера", 3),
              (Lines{"    Код: id 57, 0x80020009", "    Текст: Сбой порта"}));
    EXPECT_EQ(rig.sink.Block("Ошибка принтера", 4), (Lines{"    Код: не известен", "    Текст: без кода"}));

    rig.printer.Script("Status", {0});
    rig.printer.Script("Feed", {0});
    rig.Press(kLabStep, IDC_START);
    EXPECT_EQ(rig.sink.Block("Ошибка принтера", 5), Lines{}) << "a good feed shows and records no error";
}

TEST(ServiceReport, ReportThatCannotBeRewrittenKeepsItsChecks) {
    ReportRig rig;
    rig.Press(kSramStep, IDC_START);
    const std::string before = rig.sink.file;
    rig.sink.failRewrite = true;
    rig.wizard.OnExit();
    EXPECT_EQ(rig.sink.file, before);
    EXPECT_EQ(rig.warnings, Lines{"Номер весов и итог не записаны в отчёт: файл занят"});
    EXPECT_EQ(rig.view.notices, Lines{"Отчёт сохранён: C:\\Весы\\Reports\\LMT520EU-20261208-143005.txt"})
        << "the checks are in the file all the same";
    EXPECT_TRUE(rig.view.ended);
}

}  // namespace
}  // namespace tq::lmt::test
