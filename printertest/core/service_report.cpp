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

std::string CServiceReport::HeaderText() const {
    std::string text = Cp("Отчёт о проверке принтера весов (LMT520EU)") + kNewLine;
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

void CServiceReport::Record(const CheckRecord& record) {
    if (off_) return;
    std::string text = BlockText(record, clock_.Now());
    // The file is made with its first check: a visit without checks leaves none.
    if (blocks_ == 0) text = HeaderText() + text;
    std::string utf8 = tq::Cp1251ToUtf8(text);
    if (blocks_ == 0) utf8 = kByteOrderMark + utf8;
    std::string reason;
    if (!sink_.Append(utf8, &reason)) {
        off_ = true;
        if (warn_) warn_(Cp("Отчёт не сохраняется: ") + reason);
        return;
    }
    ++blocks_;
}

}  // namespace tq::lmt
