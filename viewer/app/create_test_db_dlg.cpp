#include "create_test_db_dlg.h"

#include <climits>

#include "common/cp1251.h"

namespace tq::viewer {

namespace {

const int kIdOk = 1;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

int32_t ParseRecordCount(const std::string& text) {
    size_t i = 0;
    size_t end = text.size();
    while (i < end && IsBlank(text[i])) ++i;
    while (end > i && IsBlank(text[end - 1])) --end;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == end) return 0;
    long long value = 0;
    for (; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return 0;
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return 0;
    return static_cast<int32_t>(value);
}

void CCreateTestDBDlg::OnInitDialog() { view_.SetCountText("0"); }

void CCreateTestDBDlg::OnCreate() {
    if (view_.Message(tq::Cp("Создать тестовую БД?"), MessageKind::Question))
        result_ = ParseRecordCount(view_.CountText());
    view_.Finish(kIdOk);
}

void CCreateTestDBDlg::OnCancel() { view_.Finish(kIdOk); }

}  // namespace tq::viewer
