#include "create_test_db_dlg.h"

#include <cstdint>

#include "common/cp1251.h"
#include "common/number.h"

namespace tq::viewer {

namespace {

const int kIdOk = 1;

}  // namespace

int32_t ParseRecordCount(const std::string& text) {
    return static_cast<int32_t>(tq::ParseInteger(tq::WithoutBlanks(text), INT32_MIN, INT32_MAX).value_or(0));
}

void CCreateTestDBDlg::OnInitDialog() { view_.SetCountText("0"); }

void CCreateTestDBDlg::OnCreate() {
    if (view_.Message(tq::Cp("Создать тестовую БД?"), MessageKind::Question))
        result_ = ParseRecordCount(view_.CountText());
    view_.Finish(kIdOk);
}

void CCreateTestDBDlg::OnCancel() { view_.Finish(kIdOk); }

}  // namespace tq::viewer
