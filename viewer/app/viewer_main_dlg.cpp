#include "viewer_main_dlg.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "common/cp1251.h"
#include "core/backup.h"
#include "core/catalogue.h"
#include "core/data_access.h"
#include "core/record.h"
#include "core/recordset.h"
#include "core/test_records.h"
#include "file_version.h"
#include "resource.h"

namespace tq::viewer {

namespace {

const int kUsedColumnWidth = 150;

// Test records have an empty name, which the users database refuses; clearing
// it first would lose every user for nothing.
bool AcceptsTestRecords(int db) { return db != DbUsers; }

}  // namespace

bool ReadRowCode(int db, const std::string& text, int32_t* code) {
    *code = 0;
    if (text.empty()) return true;  // no row selected: the editor opens empty
    uint32_t value = 0;
    if (!IsLookupCode(db, text, &value)) return false;
    *code = static_cast<int32_t>(value);  // the lookup formats it back unsigned
    return true;
}

void CViewerMainDlg::OnInitDialog(const std::string& versionText, const std::string& folder) {
    for (int db = 0; db < kDatabaseCount; ++db) view_.AddChooserItem(ChooserLabel(db));
    view_.SetTitle(ViewerTitle(versionText) + (folder.empty() ? "" : tq::Cp(" — ") + folder));
    view_.SelectChooserItem(DbGoods);
    ResetView();
    for (int db = 0; db < kDatabaseCount; ++db)
        if (DbOpen(db, DatabaseFile(db)) != 0) view_.Message(NotOpenMessage(db), MessageKind::Error);
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
    rows_.Clear();
    shownColumns_.clear();
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
    sortColumn_ = -1;
    // A database that did not open has no table to show, not an empty one.
    if (!DbRecordset(db)) {
        view_.Message(NotOpenMessage(db), MessageKind::Error);
        return;
    }
    for (int i = 0; i < kFieldCount; ++i) {
        const char* caption = FieldCaptions()[db][i];
        view_.AddColumn(i, caption, caption[0] ? kUsedColumnWidth : 0);
        if (caption[0]) shownColumns_.push_back(i);
    }
    // A database that cannot be read now (its file gone or broken) is not
    // shown as empty without a word.
    if (!DbCountChecked(db, &m_nListCount)) view_.Message(NotOpenMessage(db), MessageKind::Error);
    view_.ShowControl(IDC_RECORD_COUNT, true);

    int32_t shown = 0;
    view_.BeginListUpdate();
    DbForEachListedRow(db, [&](const PackedRow& row) {
        if (!row.HasCode()) {  // a row without a code ends the listing, shown empty
            rows_.AppendEmpty();
            if (!view_.AddRow(rows_)) view_.Message(tq::Cp("Строка списка не добавлена!"), MessageKind::Error);
            return false;
        }
        const bool filled = rows_.Append(row);
        const bool inserted = view_.AddRow(rows_);
        view_.SetControlText(IDC_RECORD_COUNT, std::to_string(++shown));
        if (!inserted) view_.Message(tq::Cp("Строка списка не добавлена!"), MessageKind::Error);
        else if (!filled) view_.Message(tq::Cp("Строка списка не заполнена!"), MessageKind::Error);
        return inserted && filled;
    });
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

// The clear is made under the database's write lock after a backup taken
// under the same lock, so that rows another program commits meanwhile are
// either in the copy or not cleared. A database that did not open has
// nothing to lose: the clear passes it by, as it always did.
bool CViewerMainDlg::ClearAndList(int db, std::string* backupPath) {
    std::array<bool, kDatabaseCount> chosen{};
    chosen[db] = true;
    std::string why;
    const ChangeOutcome outcome = DbRecordset(db)
                                      ? DbChangeWithBackup(db, std::string(), [&](std::string*) { return DbClear(chosen); },
                                                           backupPath, &why)
                                      : (DbClear(chosen) ? ChangeOutcome::Done : ChangeOutcome::Failed);
    if (outcome == ChangeOutcome::NoBackup) {  // nothing changed: the list stands as it is
        view_.Message(BackupFailedText(why), MessageKind::Error);
        return false;
    }
    if (outcome != ChangeOutcome::Done) view_.Message(tq::Cp("Не удалось очистить БД"), MessageKind::Error);
    FillList(db);
    return outcome == ChangeOutcome::Done;
}

void CViewerMainDlg::OnClearDatabase() {
    const int db = ChosenDatabase();
    if (db < 0) return;
    if (!view_.Message(tq::Cp("Удалить ВСЕ записи?"), MessageKind::Warning)) return;
    std::string backup;
    if (ClearAndList(db, &backup) && !backup.empty())
        view_.Message(tq::Cp("Все записи удалены. Резервная копия: ") + backup, MessageKind::Notice);
}

// The records are generated once the generator dialog has closed.
void CViewerMainDlg::OnCreateTestDb() {
    if (ChosenDatabase() < 0) return;
    if (const std::optional<int32_t> count = view_.RunCreateTestDb()) GenerateTestRecords(*count);
}

bool CViewerMainDlg::SelectedCode(int db, const char* action, int32_t* code) {
    const std::string text = rows_.Cell(view_.SelectedRow(), 0);
    if (ReadRowCode(db, text, code)) return true;
    view_.Message(tq::Cp("Запись с кодом «") + text + tq::Cp("» нельзя ") + tq::Cp(action) + tq::Cp(": код не число"),
                  MessageKind::Error);
    return false;
}

void CViewerMainDlg::OnRecordClick() {
    if (m_nListCount == 0) {
        view_.Message(tq::Cp("БД пуста!"), MessageKind::Notice);
        return;
    }
    const int db = ChosenDatabase();
    int32_t code = 0;
    if (db < 0 || !SelectedCode(db, "открыть", &code)) return;
    view_.RunEditor(db, code);
    OnSelectDatabase();
}

void CViewerMainDlg::OnNewRecord() {
    const int db = ChosenDatabase();
    if (db < 0) return;
    view_.RunEditor(db, 0, true);
    OnSelectDatabase();
}

void CViewerMainDlg::OnRestoreBackup() {
    const int db = ChosenDatabase();
    if (db < 0) return;
    CNVRecordset* rs = DbRecordset(db);
    if (!rs) {
        view_.Message(NotOpenMessage(db), MessageKind::Error);
        return;
    }
    std::vector<BackupInfo> backups = ListBackups(rs->FilePath());
    if (backups.empty()) {
        view_.Message(tq::Cp("У этой БД нет резервных копий"), MessageKind::Notice);
        return;
    }
    std::reverse(backups.begin(), backups.end());  // newest first
    std::vector<std::string> lines;
    for (const BackupInfo& backup : backups)
        lines.push_back(backup.when + "   " +
                        (backup.rows < 0 ? tq::Cp("не читается") : tq::Cp("записей: ") + std::to_string(backup.rows)));
    int chosen = -1;
    if (!view_.ChooseBackup(lines, &chosen) || chosen < 0 || chosen >= static_cast<int>(backups.size())) return;
    const BackupInfo& backup = backups[chosen];
    const std::string name = backup.path.substr(backup.path.find_last_of("\\/") + 1);
    if (!view_.Message(tq::Cp("Восстановить БД из копии ") + name + tq::Cp(" от ") + backup.when +
                           tq::Cp("? Все записи БД будут заменены записями копии (копия нынешней БД сохраняется)."),
                       MessageKind::Warning))
        return;
    std::string saved, why;
    if (DbRestore(db, backup.path, &saved, &why))
        view_.Message(tq::Cp("БД восстановлена из копии ") + name + tq::Cp(". Копия прежней БД: ") + saved,
                      MessageKind::Notice);
    else
        view_.Message(tq::Cp("БД не восстановлена: ") + why, MessageKind::Error);
    FillList(db);
}

void CViewerMainDlg::OnColumnClick(int column) {
    if (column < 0 || column >= kFieldCount || rows_.Count() == 0) return;
    const bool descending = column == sortColumn_ && !sortDescending_;
    const int selected = rows_.SortBy(column, descending, view_.SelectedRow());
    sortColumn_ = column;
    sortDescending_ = descending;
    view_.RowsSorted(column, !descending);
    if (selected >= 0) view_.SelectRow(selected);
}

void CViewerMainDlg::OnDeleteSelected() {
    const int db = ChosenDatabase();
    const int row = view_.SelectedRow();
    int32_t code = 0;
    if (db < 0 || m_nListCount == 0 || row < 0 || !SelectedCode(db, "удалить", &code) || code == 0) return;
    if (!view_.Message(tq::Cp("Удалить запись?"), MessageKind::Question)) return;
    if (!DbDeleteByCode(db, code)) view_.Message(tq::Cp("Ошибка при удалении записи!"), MessageKind::Error);
    OnSelectDatabase();
    if (rows_.Count() > 0) view_.SelectRow(std::min(row, rows_.Count() - 1));
}

void CViewerMainDlg::GenerateTestRecords(int32_t count) {
    const int db = ChosenDatabase();
    if (db < 0) return;
    if (!DbRecordset(db)) {
        view_.Message(NotOpenMessage(db), MessageKind::Error);
        return;
    }
    if (!AcceptsTestRecords(db)) {
        view_.Message(tq::Cp("Ошибка при сохранении записи!"), MessageKind::Error);
        return;
    }
    // The clear and the records are one change after one backup: a
    // generation cut short, or refused half-way, leaves the database as it was.
    view_.ShowControl(IDC_RECORD_COUNT, true);
    std::string why;
    int64_t refused = 0;
    const auto counter = [this](int64_t written) { view_.SetControlText(IDC_RECORD_COUNT, std::to_string(written)); };
    const ChangeOutcome outcome = tq::viewer::GenerateTestRecords(db, count, counter, nullptr, &refused, &why);
    if (outcome == ChangeOutcome::NoBackup) view_.Message(BackupFailedText(why), MessageKind::Error);
    else if (outcome != ChangeOutcome::Done && refused > 0)
        view_.Message(tq::Cp("Ошибка при сохранении записи!"), MessageKind::Error);
    else if (outcome != ChangeOutcome::Done) view_.Message(tq::Cp("Не удалось очистить БД"), MessageKind::Error);
    FillList(db);
}

void CViewerMainDlg::OnFind() {
    if (!view_.AskFindText(&findText_)) return;
    FindNext();
}

void CViewerMainDlg::OnFindNext() {
    if (findText_.empty()) {
        OnFind();
        return;
    }
    FindNext();
}

void CViewerMainDlg::FindNext() {
    if (findText_.empty()) return;
    const int row = rows_.Find(findText_, view_.SelectedRow() + 1, shownColumns_);
    if (row < 0) {
        view_.Message(tq::Cp("Не найдено"), MessageKind::Notice);
        return;
    }
    view_.SelectRow(row);
}

std::string CsvFileName(int db) {
    std::string name = DatabaseFile(db);
    name.erase(0, name.rfind('\\') + 1);
    return name.substr(0, name.rfind('.')) + ".csv";
}

TransferProgress CViewerMainDlg::CounterProgress() {
    view_.ShowControl(IDC_RECORD_COUNT, true);
    return [this](long done, long) { view_.SetControlText(IDC_RECORD_COUNT, std::to_string(done)); };
}

void CViewerMainDlg::OnExportCsv() {
    const int db = ChosenDatabase();
    std::string path;
    CsvHeader header = CsvHeader::ColumnNames;
    if (db < 0 || !view_.AskSaveFileName(CsvFileName(db), &path, &header)) return;
    std::string message;
    const bool exported = ExportCsvFile(db, path, &message, CounterProgress(), header);
    if (exported) message += tq::Cp("\nФайл: ") + tq::Utf8ToCp1251(path);
    view_.SetControlText(IDC_RECORD_COUNT, std::to_string(m_nListCount));
    UpdateCountControls();
    view_.Message(message, exported ? MessageKind::Notice : MessageKind::Error);
}

void CViewerMainDlg::OnImportCsv() {
    const int db = ChosenDatabase();
    std::string path;
    if (db < 0 || !view_.AskOpenFileName(&path)) return;
    ImportOptions options;
    options.progress = CounterProgress();
    std::string message;
    const bool imported = ImportCsvFile(db, path, options, &message);
    view_.Message(message, imported ? MessageKind::Notice : MessageKind::Error);
    FillList(db);
}

void CViewerMainDlg::OnDestroy() { DbReleaseAll(); }

}  // namespace tq::viewer
