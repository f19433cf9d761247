#include "viewer_main_dlg.h"

#include <array>
#include <climits>
#include <cstdio>

#include "common/cp1251.h"
#include "core/catalogue.h"
#include "core/data_access.h"
#include "core/record.h"
#include "file_version.h"
#include "resource.h"

namespace {

const int kUsedColumnWidth = 150;

const char* const kOpenFailedUtf8[kDatabaseCount] = {
    "БД ТОВАРОВ не открыта!",  "БД ПОЛЬЗОВАТЕЛЕЙ не открыта!", "БД ЭТИКЕТОК не открыта!",
    "БД ПОМОЩИ не открыта!",   "БД ПРОДАЖ не открыта!",        "БД ОТЧЕТОВ не открыта!",
    "БД РЕСУРСОВ не открыта!",
};

// Test records have an empty name, which the users database refuses; clearing
// it first would lose every user for nothing.
bool AcceptsTestRecords(int db) { return db != DbUsers; }

}  // namespace

int32_t ParseRowCode(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return 0;
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return 0;
    return static_cast<int32_t>(value);
}

void CViewerMainDlg::OnInitDialog(const std::string& versionText) {
    for (int db = 0; db < kDatabaseCount; ++db) view_.AddChooserItem(ChooserLabel(db));
    view_.SetTitle(ViewerTitle(versionText));
    view_.SelectChooserItem(DbGoods);
    ResetView();
    for (int db = 0; db < kDatabaseCount; ++db)
        if (DbOpen(db, DatabaseFile(db)) != 0) view_.Message(tq::Cp(kOpenFailedUtf8[db]), MessageKind::Error);
}

int CViewerMainDlg::ChosenDatabase() {
    const int selected = view_.ChooserSelection();
    if (IsDatabaseIndex(selected)) return selected;
    const std::string typed = view_.ChooserText();
    for (int db = 0; db < kDatabaseCount; ++db)
        if (typed == ChooserLabel(db)) return db;
    return -1;
}

void CViewerMainDlg::ResetView() {
    m_nListCount = 0;
    view_.SetControlText(IDC_RECORD_COUNT, "0");
    UpdateCountControls();
    DbCloseAll();
    view_.ClearList();
    view_.ShowControl(IDC_CREATE_TEST_DB, false);
}

void CViewerMainDlg::UpdateCountControls() {
    const bool listed = m_nListCount != 0;
    view_.ShowControl(IDC_CLEAR_DB, listed);
    view_.ShowControl(IDC_RECORD_COUNT, listed);
    view_.ShowControl(IDC_RECORD_COUNT_LABEL, listed);
}

void CViewerMainDlg::FillList() {
    const int db = ChosenDatabase();
    if (db >= 0) FillList(db);
}

void CViewerMainDlg::FillList(int db) {
    ResetView();
    for (int i = 0; i < kFieldCount; ++i) {
        const char* caption = FieldCaptions()[db][i];
        view_.AddColumn(i, caption, caption[0] ? kUsedColumnWidth : 0);
    }
    m_nListCount = DbCount(db);
    view_.ShowControl(IDC_RECORD_COUNT, true);

    bool inserted = true;
    bool filled = true;
    CNVRecord record;
    view_.BeginListUpdate();
    for (int32_t i = 0; m_nListCount > 0; ++i) {
        if (!inserted) {
            view_.Message(tq::Cp("Строка списка не добавлена!"), MessageKind::Error);
            break;
        }
        if (!filled) {
            view_.Message(tq::Cp("Строка списка не заполнена!"), MessageKind::Error);
            break;
        }
        if (i >= m_nListCount) break;
        inserted = view_.InsertRow(i);
        DbFetch(db, &record, i == 0);
        int32_t code = 0;
        record.GetFieldInt(&code, 0);
        if (code == 0) {  // a row without a code ends the listing
            if (!inserted) view_.Message(tq::Cp("Строка списка не добавлена!"), MessageKind::Error);
            break;
        }
        view_.SetControlText(IDC_RECORD_COUNT, std::to_string(i + 1));
        for (int j = 0; j < kFieldCount; ++j) {
            char text[kValueMax + 1];
            record.GetFieldText(text, j);
            if (!view_.SetCell(i, j, text)) filled = false;
        }
    }
    view_.EndListUpdate();
    UpdateCountControls();
    view_.ShowControl(IDC_CREATE_TEST_DB, true);
}

void CViewerMainDlg::OnSelectDatabase() {
    const int db = ChosenDatabase();
    if (db < 0) return;  // typed text that names no database: nothing to list
    view_.SetControlText(IDC_DB_NAME, ChooserLabel(db));
    FillList(db);
}

void CViewerMainDlg::ClearAndList(int db) {
    std::array<bool, kDatabaseCount> chosen{};
    chosen[db] = true;
    DbClear(chosen);
    FillList(db);
}

void CViewerMainDlg::OnClearDatabase() {
    const int db = ChosenDatabase();
    if (db < 0) return;
    if (!view_.Message(tq::Cp("Удалить ВСЕ записи?"), MessageKind::Question)) return;
    ClearAndList(db);
}

void CViewerMainDlg::OnCreateTestDb() {
    if (ChosenDatabase() < 0) return;
    view_.RunCreateTestDb();
}

void CViewerMainDlg::OnRecordClick() {
    if (m_nListCount == 0) {
        view_.Message(tq::Cp("БД пуста!"), MessageKind::Notice);
        return;
    }
    const int db = ChosenDatabase();
    if (db < 0) return;
    view_.RunEditor(db, ParseRowCode(view_.SelectedRowCode()));
    OnSelectDatabase();
}

void CViewerMainDlg::GenerateTestRecords(int32_t count) {
    const int db = ChosenDatabase();
    if (db < 0) return;
    if (!AcceptsTestRecords(db)) {
        view_.Message(tq::Cp("Ошибка при сохранении записи!"), MessageKind::Error);
        return;
    }
    ClearAndList(db);
    FieldBlock block;
    view_.ShowControl(IDC_RECORD_COUNT, true);
    bool saved = true;
    DbBeginBatch(db);
    for (int64_t n = 1; n <= count && saved; ++n) {
        std::snprintf(block.slot[0], sizeof block.slot[0], "xx%08u", static_cast<unsigned>(n));
        saved = DbSave(db, &block) == 0;
        view_.SetControlText(IDC_RECORD_COUNT, std::to_string(n));
    }
    if (!DbEndBatch(db)) saved = false;
    if (!saved) view_.Message(tq::Cp("Ошибка при сохранении записи!"), MessageKind::Error);
    FillList(db);
}

void CViewerMainDlg::OnDestroy() { DbReleaseAll(); }
