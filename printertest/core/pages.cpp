#include "pages.h"

#include <climits>
#include <optional>
#include <utility>

#include "common/cp1251.h"
#include "common/number.h"
#include "resource.h"
#include "status_text.h"

namespace tq::lmt {

using tq::Cp;

std::string VoltageText(long tenths, const std::string& noLink) {
    if (tenths < 0) return noLink;
    return Format(Cp("%ld.%ld В"), tenths / 10, tenths % 10);
}

// ---------------------------------------------------------------- link

void CLinkPage::OnButton(int item) {
    if (item == IDC_START) CheckLink();
}

void CLinkPage::CheckLink() {
    uint32_t shownAt = clock_.NowMs();
    Show(IDC_RESULT, "");
    Show(IDC_VERSION, "");
    std::string version;
    int failures = 0;
    int requests = 0;
    for (int request = 1; request <= kRequests; ++request) {
        requests = request;
        if (printer_.RequestStatus() != 0) {
            ++failures;
        } else if (request == 1) {
            const long major = printer_.VersionMajor();
            const long minor = printer_.VersionMinor();
            version = Format("%ld.%ld", major, minor);
            Show(IDC_VERSION, version);
        }
        if (failures >= kFailuresToGiveUp) break;
        const uint32_t now = clock_.NowMs();
        if (now - shownAt > kProgressPeriodMs) {
            Show(IDC_RESULT, Format(Cp("Идет проверка... Запросов %d"), request));
            shownAt = now;
        }
    }
    const std::string result = failures > 0 ? NoLinkText() : Cp("Ошибок нет");
    Show(IDC_RESULT, result);
    Show(IDC_VERSION, version);
    Record(CheckRecord{Cp("Проверка связи")}
               .Add(Cp("Запросов"), Format("%d", requests))
               .Add(Cp("Ответов"), Format("%d", requests - failures))
               .Add(Cp("Версия принтера"), version.empty() ? Cp("не получена") : version)
               .Result(result));
}

// ---------------------------------------------------------------- SRAM

void CSramPage::OnButton(int item) {
    if (item == IDC_START) CheckSram();
}

void CSramPage::CheckSram() {
    Show(IDC_FIELD, Cp("Подождите, идет проверка.."));
    std::string result;
    if (printer_.TestSram() != 0) {
        result = NoLinkText();
    } else if (printer_.Status() == 0) {
        result = Cp("Ошибок нет");
    } else {
        // The failed address comes back spread over three reads.
        const auto top = static_cast<uint32_t>(printer_.VersionMinor());
        const auto next = static_cast<uint32_t>(printer_.VersionMajor());
        const auto low = static_cast<uint32_t>(printer_.SensorFlags());
        const uint32_t address = (top << 24) + (next << 16) + low;
        const auto read = static_cast<uint32_t>(printer_.PeVoltage());
        const auto expected = static_cast<uint32_t>(printer_.LabVoltage());
        result = Format(Cp("Ошибка! Адрес: 0x%x, прочитали 0x%x, ожидали 0x%x"),
                        address, read, expected);
    }
    Show(IDC_FIELD, result);
    Record(CheckRecord{Cp("Проверка SRAM")}.Result(result));
}

// ---------------------------------------------------------------- TM

void CTmPage::OnButton(int item) {
    if (item == IDC_START) CheckTm();
}

void CTmPage::CheckTm() {
    Show(IDC_FIELD, "");
    CheckRecord record{Cp("Датчик TM")};
    std::string result;
    if (printer_.RequestStatus() != 0) {
        result = NoLinkText();
    } else {
        const long t = printer_.HeadTemperature();
        record.Add(Cp("Температура головки"), Format(Cp("%ld C"), t));
        // The first text has a Latin C, the second a Cyrillic С.
        result = (t >= 5 && t <= 65) ? Format(Cp("Ошибок нет (%ld C)"), t)
                                     : Format(Cp("Ошибка! Температура %ld С"), t);
    }
    Show(IDC_FIELD, result);
    Record(record.Result(result));
}

// ---------------------------------------------------------------- HEADUP

void CHeadUpPage::OnButton(int item) {
    if (item == IDC_START) CheckHeadClosed();
    if (item == IDC_START2) CheckHeadOpen();
}

void CHeadUpPage::CheckHeadClosed() { CheckHead(IDC_FIELD, false); }
void CHeadUpPage::CheckHeadOpen() { CheckHead(IDC_FIELD2, true); }

void CHeadUpPage::CheckHead(int item, bool openExpected) {
    Show(item, "");
    std::string result;
    if (printer_.RequestStatus() != 0) {
        result = NoLinkText();
    } else {
        const bool open = (printer_.SensorFlags() & kHeadOpenFlag) != 0;
        if (open == openExpected)
            result = open ? Cp("Ошибок нет (головка принтера открыта)")
                          : Cp("Ошибок нет (головка принтера закрыта)");
        else
            result = open ? Cp("ОШИБКА! Головка принтера открыта.")
                          : Cp("ОШИБКА! Головка принтера закрыта.");
    }
    Show(item, result);
    const std::string name = openExpected ? Cp("Датчик HEADUP, проверка 2 (головка открыта)")
                                          : Cp("Датчик HEADUP, проверка 1 (головка закрыта)");
    Record(CheckRecord{name}.Result(result));
}

// ---------------------------------------------------------------- sensors

void CVoltagePage::ShowVoltage(long tenths) { Show(IDC_FIELD, VoltageText(tenths, NoLinkText())); }

void CLabPage::ShowVoltage(long tenths) { Show(IDC_FIELD, VoltageText(tenths, Cp("нет связи"))); }

void CFeedPage::OnButton(int item) {
    if (item == IDC_START) FeedOnce();
}

FeedOutcome CWizardPage::FeedAndRecord(const std::string& step) {
    FeedOutcome feed;
    feed.answer = printer_.Feed();
    feed.linked = feed.answer == 0;
    if (feed.linked) feed.status = printer_.Status();
    const std::string status = feed.linked ? StatusFact(feed.status) : NoLinkText();
    Record(CheckRecord{Cp("Промотка, шаг \"") + step + "\""}.Add(Cp("Статус"), status).Outcome(status));
    return feed;
}

void CWizardPage::NotifyPrinterError(long code, const std::string& message, const std::string& header) {
    // Recorded before the box opens: a wizard closed meanwhile still has it.
    Record(PrinterErrorRecord(Format("%ld", code), message));
    view().Notify(message, header);
}

void CWizardPage::ShowStopHint(bool running) { Show(IDC_STOP_HINT, running ? Cp("Esc — остановить") : ""); }

void CFeedPage::FeedOnce() {
    Show(IDC_FIELD, "");
    const FeedOutcome feed = FeedAndRecord(Cp("Тестовая промотка"));
    Show(IDC_FIELD, feed.linked ? StatusText(feed.status).value_or("") : NoLinkText());
}

void CLabPage::OnButton(int item) {
    if (item == IDC_START) FeedOnce();
}

void CLabPage::FeedOnce() {
    // A good feed shows nothing here; the next timer tick shows the voltage.
    const FeedOutcome feed = FeedAndRecord(Cp("Датчик LAB"));
    std::string message;
    if (!feed.linked)
        message = NoLinkText();
    else if (feed.status != 0)
        message = StatusText(feed.status).value_or("");
    if (!message.empty())
        NotifyPrinterError(feed.linked ? feed.status : feed.answer, message, Cp("ОШИБКА!"));
}

// ---------------------------------------------------------------- print pages

namespace {

// An integer with optional blanks around it and an optional sign.
bool ParseLong(const std::string& text, long* value) {
    const std::optional<long long> parsed = ParseInteger(WithoutBlanks(text), LONG_MIN, LONG_MAX);
    if (!parsed) return false;
    *value = static_cast<long>(*parsed);
    return true;
}

}  // namespace

void CountField::Read(PageView& view, int item) {
    long typed = 0;
    if (!ParseLong(view.Text(item), &typed)) {
        view.WarnInvalidEntry(item, Cp("Введите целое число."));
        return;
    }
    value_ = typed;
    if (typed < 0 || typed > maximum_)
        view.WarnInvalidEntry(item, Format(Cp("Введите целое число от 0 до %ld."), maximum_));
}

void CoolDown(PrinterControl& printer, tq::Clock& clock, const std::string& format,
              const std::function<void(const std::string&)>& show,
              const std::function<bool()>& interrupted) {
    constexpr int kMaxCycles = 60;
    constexpr uint32_t kCyclePauseMs = 1000;
    constexpr long kCoolEnoughC = 60;
    int cycles = 0;
    do {
        show(Format(format, static_cast<int>(printer.HeadTemperature())));
        clock.SleepMs(kCyclePauseMs);
        if (printer.RequestStatus() != 0) break;
        if (++cycles >= kMaxCycles || interrupted()) break;
    } while (printer.HeadTemperature() > kCoolEnoughC);
}

static bool Overheated(long status) { return status == 5 || status == 6; }

std::string FeedText(const FeedOutcome& feed, const std::string& last) {
    if (!feed.linked) return NoLinkText();
    return StatusText(feed.status).value_or(last);
}

CPrintPage::CPrintPage(PrinterControl& printer, tq::Clock& clock, std::string checkName)
    : CWizardPage(printer, clock), checkName_(std::move(checkName)) {}

void CPrintPage::SetResult(const std::string& text) {
    result_ = text;
    Show(IDC_RESULT, result_);
}

void CPrintPage::FeedOnce() { SetResult(FeedText(FeedAndRecord(checkName_), result_)); }

CTestPrintPage::CTestPrintPage(PrinterControl& printer, tq::Clock& clock)
    : CPrintPage(printer, clock, Cp("Тестовая печать")), count_(1, 999) {}

void CTestPrintPage::OnButton(int item) {
    if (item == IDC_START) TestPrint();
    if (item == IDC_FEED) FeedOnce();
}

void CTestPrintPage::TestPrint() {
    count_.Read(view(), IDC_COUNT);
    const long total = count_.Total();
    SetResult(Cp("Идет тестовая печать. Напечатано 0. Подождите..."));
    BeginRun();
    ShowStopHint(true);
    long printed = 0;
    bool linked = true;
    for (long remaining = total;; --remaining) {
        if (printer_.PrintLabel() != kPrintDone) {
            linked = false;
            break;
        }
        ++printed;
        if (Overheated(printer_.Status()))
            CoolDown(printer_, clock_, Cp("Перегрев печатной головки (%d C). Идет охлаждение..."),
                     [this](const std::string& text) { SetResult(text); },
                     [this] { return Interrupted(); });
        if (printer_.Status() != 0) break;
        SetResult(Format(Cp("Идет тестовая печать. Напечатано %ld. Подождите..."),
                         total - remaining + 1));
        if (remaining == 1 || Interrupted()) break;
        clock_.SleepMs(kPauseBetweenPrintsMs);
    }
    ShowStopHint(false);
    CheckRecord record{Cp("Тестовая печать")};
    record.Add(Cp("Задано этикеток"), Format("%ld", total)).Add(Cp("Напечатано"), Format("%ld", printed));
    if (linked) {
        const long status = printer_.Status();
        SetResult(StatusText(status).value_or(result_));
        record.Add(Cp("Статус в конце"), StatusFact(status));
    } else {
        SetResult(NoLinkText());
        record.Add(Cp("Статус в конце"), NoLinkText());
    }
    // The status of the last label says nothing of the labels not printed.
    if (StoppedByEngineer()) {
        SetResult(Format(Cp("Напечатано %ld из %ld, остановлено"), printed, total));
        record.Add(Cp("Завершение"), Cp("остановлена клавишей Esc"));
    }
    Record(record.Result(result_));
}

CStabilityPage::CStabilityPage(PrinterControl& printer, tq::Clock& clock)
    : CPrintPage(printer, clock, Cp("Проверка стабильности")), count_(10, 99999) {}

void CStabilityPage::OnButton(int item) {
    if (item == IDC_START) RunStabilityTest();
    if (item == IDC_FEED) FeedOnce();
    if (item == IDC_LABEL_SENSOR) ToggleLabelSensor();
}

void CStabilityPage::SetLabelSensorState(bool on) {
    labelSensorOn_ = on;
    Show(IDC_COUNT, Format("%ld", count_.value()));
    view().SetChecked(IDC_LABEL_SENSOR, on);
}

void CStabilityPage::ToggleLabelSensor() {
    count_.Read(view(), IDC_COUNT);
    labelSensorOn_ = view().Checked(IDC_LABEL_SENSOR);
    printer_.EnableLabelSensor(labelSensorOn_);
}

void CStabilityPage::WriteTestLabel() {
    printer_.LoadLabel("C:\\TQ-850\\Shared\\Labels\\60X60.lpr");
    printer_.SetLabelBarcode("123456789012");
    printer_.SetLabelValue10(1200.0);
    printer_.SetLabelValue8(10.0);
    printer_.SetLabelValue9(120.0);
    printer_.SetLabelInteger20(5);
    printer_.SetLabelName(Cp("Икра черная."));
    printer_.PrepareLabel();
}

bool CStabilityPage::RecoverLink() {
    for (int attempt = 0; attempt < kRecoveryAttempts; ++attempt) {
        SetResult(Cp("Восстановление связи с принтером\r\nпосле ошибки\r\nПодождите..."));
        clock_.SleepMs(kRecoveryPauseMs);
        if (printer_.RequestStatus() == 0) return true;
        if (Interrupted()) return false;
    }
    return false;
}

void CStabilityPage::RunStabilityTest() {
    count_.Read(view(), IDC_COUNT);
    Tally tally;
    tally.total = count_.Total();
    SetResult(Cp("Идет тестовая печать. Подождите..."));
    WriteTestLabel();

    BeginRun();
    ShowStopHint(true);
    PrintSeries(tally);
    ShowStopHint(false);

    const long status = printer_.Status();
    if (status != 0) {
        std::string message;
        if (status == 4)
            message = Cp("Не снята отпечатанная этикетка\r\nВыключите датчик этикетки\r\nПовторите тест!!!");
        else
            message = StatusText(status).value_or(result_);
        NotifyPrinterError(status, message, Cp("Внимание!"));
    }
    const bool stopped = StoppedByEngineer() && tally.remaining != 0 && !tally.errorLimit;
    SetResult(Format(Cp("Напечатано этикеток: %ld из %ld%s\r\nОшибок: %d"), tally.printed, tally.total,
                     stopped ? Cp(", остановлено").c_str() : "", tally.errors));
    RecordRun(tally, status);
}

void CStabilityPage::PrintSeries(Tally& tally) {
    long& remaining = tally.remaining;
    long& rc = tally.lastRc;
    remaining = tally.total;
    while (remaining != 0) {
        if (Interrupted()) break;
        rc = printer_.PrintLabel();
        // "Call again" is retried at once and not counted, but not forever.
        const uint32_t againSince = clock_.NowMs();
        int againInARow = 0;
        while (rc == kPrintAgain && ++againInARow < kMaxPrintAgainInARow &&
               clock_.NowMs() - againSince < kMaxPrintAgainMs && !Interrupted())
            rc = printer_.PrintLabel();
        if (rc == kPrintAgain) break;

        clock_.SleepMs(kPauseAfterPrintMs);
        --remaining;
        if (rc < 0) {
            ++tally.errors;
            if (rc == kPrintOwnError) ++tally.errors1033;
            tally.errorLimit = tally.errors - tally.errors1033 > kErrorLimit;
            if (tally.errorLimit) break;
        }
        if (rc == kPrintLinkLost) {
            ++tally.recoveries;
            if (RecoverLink()) ++tally.recovered;
        }
        if (rc == kPrintDone) {
            ++tally.printed;
            if (Overheated(printer_.Status())) {
                ++tally.coolings;
                CoolDown(printer_, clock_,
                         Cp("Перегрев печатной головки (%d C)\r\nИдет охлаждение..."),
                         [this](const std::string& text) { SetResult(text); },
                         [this] { return Interrupted(); });
            }
            if (printer_.Status() != 0) break;
        }
        SetResult(Format(Cp("Идет тестовая печать. Напечатано %ld. Подождите..."), tally.printed));
    }
}

std::string CStabilityPage::EndOfRun(const Tally& tally) {
    if (tally.errorLimit) return Format(Cp("предел ошибок (более %d)"), kErrorLimit);
    if (tally.remaining == 0) return Cp("все этикетки серии пройдены");
    if (StoppedByEngineer()) return Cp("остановлена клавишей Esc");
    if (printer_.Faulted()) return Cp("ошибка элемента управления принтера");
    if (tally.lastRc == kPrintAgain) return Cp("принтер не перестаёт отвечать кодом 4");
    return Cp("остановлена по статусу принтера");
}

void CStabilityPage::RecordRun(const Tally& tally, long status) {
    const std::string end = EndOfRun(tally);
    Record(CheckRecord{Cp("Проверка стабильности")}
               .Add(Cp("Задано этикеток"), Format("%ld", tally.total))
               .Add(Cp("Напечатано"), Format("%ld", tally.printed))
               .Add(Cp("Ошибок"), Format(Cp("%d (из них с кодом -1033: %d)"), tally.errors, tally.errors1033))
               .Add(Cp("Восстановлений связи"),
                    Format(Cp("%d (связь вернулась: %d)"), tally.recoveries, tally.recovered))
               .Add(Cp("Пауз на охлаждение головки"), Format("%d", tally.coolings))
               .Add(Cp("Завершение"), end)
               .Add(Cp("Статус в конце"), StatusFact(status))
               .Outcome(Format(Cp("напечатано %ld из %ld, ошибок %d, %s"), tally.printed, tally.total,
                               tally.errors, end.c_str())));
}

}  // namespace tq::lmt
