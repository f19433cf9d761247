#include "service_report.h"

#include "common/cp1251.h"
#include "status_text.h"

namespace tq::lmt {

using tq::Cp;

namespace {

// Windows programs read CRLF files best; Notepad on older systems needs it.
const char kNewLine[] = "\r\n";
const char kByteOrderMark[] = "\xEF\xBB\xBF";

std::string DateText(const LocalTime& t) {
    return Format("%02d.%02d.%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute, t.second);
}

std::string TimeText(const LocalTime& t) {
    return Format("%02d:%02d:%02d", t.hour, t.minute, t.second);
}

}  // namespace

CheckRecord& CheckRecord::Result(const std::string& text) {
    outcome = text;
    return Add(Cp("Результат"), text);
}

CheckRecord PrinterErrorRecord(const std::string& code, const std::string& text) {
    std::string flat;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        flat += text[i] == '\n' || text[i] == '\r' ? ' ' : text[i];
    }
    return CheckRecord{Cp("Ошибка принтера")}
        .Add(Cp("Код"), code)
        .Add(Cp("Текст"), flat)
        .Outcome(Cp("код ") + code + ", " + flat);
}

CheckRecord ControlFaultRecord(const std::string& fault) {
    const size_t open = fault.rfind(" (");
    if (open == std::string::npos || fault.empty() || fault.back() != ')')
        return PrinterErrorRecord(Cp("не известен"), fault);
    return PrinterErrorRecord(fault.substr(open + 2, fault.size() - open - 3), fault.substr(0, open));
}

bool VoltageInRange(long tenths) {
    return (tenths >= kLowVoltageMin && tenths <= kLowVoltageMax) ||
           (tenths >= kHighVoltageMin && tenths <= kHighVoltageMax);
}

std::string VoltageRangeText() { return Cp("0..1,5 В или 3,5..5,0 В"); }

std::string VoltageVerdict(long tenths) { return VoltageInRange(tenths) ? Cp("в норме") : Cp("вне нормы"); }

std::string StatusFact(long status) {
    const auto text = StatusText(status);
    return text ? Format("%ld (%s)", status, text->c_str()) : Format("%ld", status);
}

CServiceReport::CServiceReport(ReportSink& sink, WallClock& clock, ReportHeader header,
                               std::function<void(const std::string&)> warn)
    : sink_(sink), clock_(clock), header_(std::move(header)), warn_(std::move(warn)) {}

std::string CServiceReport::FileName(const LocalTime& t) {
    return Format("LMT520EU-%04d%02d%02d-%02d%02d%02d.txt", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
}

std::string CServiceReport::SavedMessage() const { return Cp("Отчёт сохранён: ") + path(); }

// Until the engineer gives the number at exit, the file on the disk says that
// none was given, which is the truth for a wizard that never got that far.
std::string CServiceReport::HeaderText(const std::string& scaleNumber) const {
    std::string text = Cp("Отчёт о проверке принтера весов (LMT520EU)") + kNewLine;
    text += Cp("Номер весов: ") + (scaleNumber.empty() ? Cp("не указан") : scaleNumber) + kNewLine;
    text += Cp("Дата: ") + DateText(header_.started) + kNewLine;
    text += Cp("Компьютер: ") + header_.computer + kNewLine;
    text += Cp("Версия элемента управления принтера: ") + header_.controlVersion + kNewLine;
    return text + kNewLine;
}

std::string CServiceReport::BlockText(const CheckRecord& record, const LocalTime& at) const {
    std::string text = TimeText(at) + "  " + record.name + kNewLine;
    for (const auto& [what, value] : record.facts) text += "    " + what + ": " + value + kNewLine;
    return text + kNewLine;
}

std::string CServiceReport::SummaryText(const LocalTime& at) const {
    std::string text = TimeText(at) + "  " + Cp("Итог") + kNewLine;
    for (const auto& [name, outcome] : outcomes_) text += "    " + name + ": " + outcome + kNewLine;
    return text + kNewLine;
}

void CServiceReport::TurnOff(const std::string& reason) {
    off_ = true;
    if (warn_) warn_(Cp("Отчёт не сохраняется: ") + reason);
}

bool CServiceReport::Finish(const std::string& scaleNumber) {
    if (!saved()) return false;
    const std::string text = HeaderText(scaleNumber) + blocksText_ + SummaryText(clock_.Now());
    std::string reason;
    if (!sink_.Rewrite(kByteOrderMark + tq::Cp1251ToUtf8(text), &reason)) {
        // The checks are still on the disk as they were appended.
        if (warn_) warn_(Cp("Номер весов и итог не записаны в отчёт: ") + reason);
        return false;
    }
    return true;
}

void CServiceReport::Record(const CheckRecord& record) {
    if (off_) return;
    const std::string block = BlockText(record, clock_.Now());
    // The file is made with its first check: a visit without checks leaves none.
    std::string utf8 = tq::Cp1251ToUtf8(blocks_ == 0 ? HeaderText("") + block : block);
    if (blocks_ == 0) utf8 = kByteOrderMark + utf8;
    std::string reason;
    if (!sink_.Append(utf8, &reason)) {
        TurnOff(reason);
        return;
    }
    ++blocks_;
    blocksText_ += block;
    outcomes_.emplace_back(record.name, record.outcome);
}

}  // namespace tq::lmt
