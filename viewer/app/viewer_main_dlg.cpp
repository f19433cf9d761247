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
    for (int db = 0; db < kDatabaseCount; ++db) m_view.AddChooserItem(ChooserLabel(db));
    m_view.SetTitle(ViewerTitle(versionText) + (folder.empty() ? "" : tq::Cp(" — ") + folder));
    m_view.SelectChooserItem(DbGoods);
    ResetView();
    for (int db = 0; db < kDatabaseCount; ++db)
        if (DbOpen(db, DatabaseFile(db)) != 0) m_view.Message(NotOpenMessage(db), MessageKind::Error);
}

int CViewerMainDlg::ChosenDatabase() {
    const int selected = m_view.ChooserSelection();
    if (IsDatabaseIndex(selected)) return selected;
    const std::string typed = m_view.ChooserText();
    for (int db = 0; db < kDatabaseCount; ++db)
        if (typed == ChooserLabel(db)) return db;
    return -1;
}

void CViewerMainDlg::ResetView() {
    m_nListCount = 0;
    m_view.SetControlText(IDC_RECORD_COUNT, "0");
    UpdateCountControls();
    DbCloseAll();
    m_view.ClearList();
    m_rows.Clear();
    m_shownColumns.clear();
    m_view.ShowControl(IDC_CREATE_TEST_DB, false);
}

void CViewerMainDlg::UpdateCountControls() {
    const bool listed = m_nListCount != 0;
    m_view.ShowControl(IDC_CLEAR_DB, listed);
    m_view.ShowControl(IDC_RECORD_COUNT, listed);
    m_view.ShowControl(IDC_RECORD_COUNT_LABEL, listed);
}

void CViewerMainDlg::FillList() {
    const int db = ChosenDatabase();
    if (db >= 0) FillList(db);
}

void CViewerMainDlg::FillList(int db) {
    ResetView();
    m_sortColumn = -1;
    // A database that did not open has no table to show, not an empty one.
    if (!DbRecordset(db)) {
        m_view.Message(NotOpenMessage(db), MessageKind::Error);
        return;
    }
    for (int i = 0; i < kFieldCount; ++i) {
        const char* caption = FieldCaptions()[db][i];
        m_view.AddColumn(i, caption, caption[0] ? kUsedColumnWidth : 0);
        if (caption[0]) m_shownColumns.push_back(i);
    }
    // A database that cannot be read now (its file gone or broken) is not
    // shown as empty without a word.
    if (!DbCountChecked(db, &m_nListCount)) m_view.Message(NotOpenMessage(db), MessageKind::Error);
    m_view.ShowControl(IDC_RECORD_COUNT, true);

    int32_t shown = 0;
    m_view.BeginListUpdate();
    DbForEachListedRow(db, [&](const PackedRow& row) {
        if (!row.HasCode()) {  // a row without a code ends the listing, shown empty
            m_rows.AppendEmpty();
            if (!m_view.AddRow(m_rows)) m_view.Message(tq::Cp("Строка списка не добавлена!"), MessageKind::Error);
            return false;
        }
        const bool filled = m_rows.Append(row);
        const bool inserted = m_view.AddRow(m_rows);
        m_view.SetControlText(IDC_RECORD_COUNT, std::to_string(++shown));
        if (!inserted) m_view.Message(tq::Cp("Строка списка не добавлена!"), MessageKind::Error);
        else if (!filled) m_view.Message(tq::Cp("Строка списка не заполнена!"), MessageKind::Error);
        return inserted && filled;
    });
    m_view.EndListUpdate();
    UpdateCountControls();
    m_view.ShowControl(IDC_CREATE_TEST_DB, true);
}

void CViewerMainDlg::OnSelectDatabase() {
    const int db = ChosenDatabase();
    if (db < 0) return;  // typed text that names no database: nothing to list
    m_view.SetControlText(IDC_DB_NAME, ChooserLabel(db));
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
        m_view.Message(BackupFailedText(why), MessageKind::Error);
        return false;
    }
    if (outcome != ChangeOutcome::Done) m_view.Message(tq::Cp("Не удалось очистить БД"), MessageKind::Error);
    FillList(db);
    return outcome == ChangeOutcome::Done;
}

void CViewerMainDlg::OnClearDatabase() {
    const int db = ChosenDatabase();
    if (db < 0) return;
    if (!m_view.Message(tq::Cp("Удалить ВСЕ записи?"), MessageKind::Warning)) return;
    std::string backup;
    if (ClearAndList(db, &backup) && !backup.empty())
        m_view.Message(tq::Cp("Все записи удалены. Резервная копия: ") + backup, MessageKind::Notice);
}

// The records are generated once the generator dialog has closed.
void CViewerMainDlg::OnCreateTestDb() {
    if (ChosenDatabase() < 0) return;
    if (const std::optional<int32_t> count = m_view.RunCreateTestDb()) GenerateTestRecords(*count);
}

bool CViewerMainDlg::SelectedCode(int db, const char* action, int32_t* code) {
    const std::string text = m_rows.Cell(m_view.SelectedRow(), 0);
    if (ReadRowCode(db, text, code)) return true;
    m_view.Message(tq::Cp("Запись с кодом «") + text + tq::Cp("» нельзя ") + tq::Cp(action) + tq::Cp(": код не число"),
                  MessageKind::Error);
    return false;
}

void CViewerMainDlg::OnRecordClick() {
    if (m_nListCount == 0) {
        m_view.Message(tq::Cp("БД пуста!"), MessageKind::Notice);
        return;
    }
    const int db = ChosenDatabase();
    int32_t code = 0;
    if (db < 0 || !SelectedCode(db, "открыть", &code)) return;
    m_view.RunEditor(db, code);
    OnSelectDatabase();
}

void CViewerMainDlg::OnNewRecord() {
    const int db = ChosenDatabase();
    if (db < 0) return;
    m_view.RunEditor(db, 0, true);
    OnSelectDatabase();
}

void CViewerMainDlg::OnRestoreBackup() {
    const int db = ChosenDatabase();
    if (db < 0) return;
    CNVRecordset* rs = DbRecordset(db);
    if (!rs) {
        m_view.Message(NotOpenMessage(db), MessageKind::Error);
        return;
    }
    std::vector<BackupInfo> backups = ListBackups(rs->FilePath());
    if (backups.empty()) {
        m_view.Message(tq::Cp("У этой БД нет резервных копий"), MessageKind::Notice);
        return;
    }
    std::reverse(backups.begin(), backups.end());  // newest first
    std::vector<std::string> lines;
    for (const BackupInfo& backup : backups)
        lines.push_back(backup.when + "   " +
                        (backup.rows < 0 ? tq::Cp("не читается") : tq::Cp("записей: ") + std::to_string(backup.rows)));
    int chosen = -1;
    if (!m_view.ChooseBackup(lines, &chosen) || chosen < 0 || chosen >= static_cast<int>(backups.size())) return;
    const BackupInfo& backup = backups[chosen];
    const std::string name = backup.path.substr(backup.path.find_last_of("\\/") + 1);
    if (!m_view.Message(tq::Cp("Восстановить БД из копии ") + name + tq::Cp(" от ") + backup.when +
                           tq::Cp("? Все записи БД будут заменены записями копии (копия нынешней БД сохраняется)."),
                       MessageKind::Warning))
        return;
    std::string saved, why;
    if (DbRestore(db, backup.path, &saved, &why))
        m_view.Message(tq::Cp("БД восстановлена из копии ") + name + tq::Cp(". Копия прежней БД: ") + saved,
                      MessageKind::Notice);
    else
        m_view.Message(tq::Cp("БД не восстановлена: ") + why, MessageKind::Error);
    FillList(db);
}

void CViewerMainDlg::OnColumnClick(int column) {
    if (column < 0 || column >= kFieldCount || m_rows.Count() == 0) return;
    const bool descending = column == m_sortColumn && !m_sortDescending;
    const int selected = m_rows.SortBy(column, descending, m_view.SelectedRow());
    m_sortColumn = column;
    m_sortDescending = descending;
    m_view.RowsSorted(column, !descending);
    if (selected >= 0) m_view.SelectRow(selected);
}

void CViewerMainDlg::OnDeleteSelected() {
    const int db = ChosenDatabase();
    const int row = m_view.SelectedRow();
    int32_t code = 0;
    if (db < 0 || m_nListCount == 0 || row < 0 || !SelectedCode(db, "удалить", &code) || code == 0) return;
    if (!m_view.Message(tq::Cp("Удалить запись?"), MessageKind::Question)) return;
    if (!DbDeleteByCode(db, code)) m_view.Message(tq::Cp("Ошибка при удалении записи!"), MessageKind::Error);
    OnSelectDatabase();
    if (m_rows.Count() > 0) m_view.SelectRow(std::min(row, m_rows.Count() - 1));
}

void CViewerMainDlg::GenerateTestRecords(int32_t count) {
    const int db = ChosenDatabase();
    if (db < 0) return;
    if (!DbRecordset(db)) {
        m_view.Message(NotOpenMessage(db), MessageKind::Error);
        return;
    }
    if (!AcceptsTestRecords(db)) {
        m_view.Message(tq::Cp("Ошибка при сохранении записи!"), MessageKind::Error);
        return;
    }
    // The clear and the records are one change after one backup: a
    // generation cut short, or refused half-way, leaves the database as it was.
    m_view.ShowControl(IDC_RECORD_COUNT, true);
    std::string why;
    int64_t refused = 0;
    const auto counter = [this](int64_t written) { m_view.SetControlText(IDC_RECORD_COUNT, std::to_string(written)); };
    const ChangeOutcome outcome = tq::viewer::GenerateTestRecords(db, count, counter, nullptr, &refused, &why);
    if (outcome == ChangeOutcome::NoBackup) m_view.Message(BackupFailedText(why), MessageKind::Error);
    else if (outcome != ChangeOutcome::Done && refused > 0)
        m_view.Message(tq::Cp("Ошибка при сохранении записи!"), MessageKind::Error);
    else if (outcome != ChangeOutcome::Done) m_view.Message(tq::Cp("Не удалось очистить БД"), MessageKind::Error);
    FillList(db);
}

void CViewerMainDlg::OnFind() {
    if (!m_view.AskFindText(&m_findText)) return;
    FindNext();
}

void CViewerMainDlg::OnFindNext() {
    if (m_findText.empty()) {
        OnFind();
        return;
    }
    FindNext();
}

void CViewerMainDlg::FindNext() {
    if (m_findText.empty()) return;
    const int row = m_rows.Find(m_findText, m_view.SelectedRow() + 1, m_shownColumns);
    if (row < 0) {
        m_view.Message(tq::Cp("Не найдено"), MessageKind::Notice);
        return;
    }
    m_view.SelectRow(row);
}

std::string CsvFileName(int db) {
    std::string name = DatabaseFile(db);
    name.erase(0, name.rfind('\\') + 1);
    return name.substr(0, name.rfind('.')) + ".csv";
}

TransferProgress CViewerMainDlg::CounterProgress() {
    m_view.ShowControl(IDC_RECORD_COUNT, true);
    return [this](long done, long) { m_view.SetControlText(IDC_RECORD_COUNT, std::to_string(done)); };
}

void CViewerMainDlg::OnExportCsv() {
    const int db = ChosenDatabase();
    std::string path;
    CsvHeader header = CsvHeader::ColumnNames;
    if (db < 0 || !m_view.AskSaveFileName(CsvFileName(db), &path, &header)) return;
    std::string message;
    const bool exported = ExportCsvFile(db, path, &message, CounterProgress(), header);
    if (exported) message += tq::Cp("\nФайл: ") + tq::Utf8ToCp1251(path);
    m_view.SetControlText(IDC_RECORD_COUNT, std::to_string(m_nListCount));
    UpdateCountControls();
    m_view.Message(message, exported ? MessageKind::Notice : MessageKind::Error);
}

void CViewerMainDlg::OnImportCsv() {
    const int db = ChosenDatabase();
    std::string path;
    if (db < 0 || !m_view.AskOpenFileName(&path)) return;
    ImportOptions options;
    options.progress = CounterProgress();
    std::string message;
    const bool imported = ImportCsvFile(db, path, options, &message);
    m_view.Message(message, imported ? MessageKind::Notice : MessageKind::Error);
    FillList(db);
}

void CViewerMainDlg::OnDestroy() { DbReleaseAll(); }

}  // namespace tq::viewer
