// The main dialog's behaviour: choose one of the seven databases, list it,
// clear it, open the record editor on a clicked row and generate test
// records. All texts are code page 1251. Hosted by ViewerMainWindow
// (win/viewer_main_window.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/csv_transfer.h"
#include "core/data_access.h"
#include "listed_rows.h"
#include "message_kind.h"

namespace tq::viewer {

// What the main dialog's window offers the logic. Control ids are those of
// resource.h.
class MainView {
public:
    virtual ~MainView() = default;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void AddChooserItem(const std::string& label) = 0;
    virtual void SelectChooserItem(int index) = 0;
    // The chooser's selected item, or -1 when typed text left none selected.
    virtual int ChooserSelection() = 0;
    virtual std::string ChooserText() = 0;
    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual void ShowControl(int id, bool show) = 0;

    // The record list: removes every row and every column.
    virtual void ClearList() = 0;
    virtual void AddColumn(int index, const std::string& caption, int width) = 0;
    // The list grows by the last of the kept rows, which it shows selected
    // and reads from `rows` whenever it draws; false when it refused the row.
    virtual bool AddRow(const ListedRows& rows) = 0;
    // Around the rows of one listing: the window may hold back its drawing
    // between the two, but keeps the list drawn as it grows.
    virtual void BeginListUpdate() = 0;
    virtual void EndListUpdate() = 0;
    // The first selected row, or -1 when none is selected.
    virtual int SelectedRow() = 0;
    // Selects the row and scrolls it into view.
    virtual void SelectRow(int row) = 0;
    // The rows changed places: the list draws them again, and the column's
    // header shows the order (ascending or not).
    virtual void RowsSorted(int column, bool ascending) = 0;
    // Asks for the text to find, offering the last one; false when cancelled.
    virtual bool AskFindText(std::string* text) = 0;

    // Asks where to save the export, offering fileName in the scale's folder
    // and how the header names the columns (*header, in and out); false when
    // cancelled. The path comes as UTF-8: the engineer may pick a name with
    // characters that code page 1251 lacks, and the file must keep it.
    virtual bool AskSaveFileName(const std::string& fileName, std::string* path, CsvHeader* header) = 0;
    // Asks for a file to open, its path as above; false when cancelled.
    virtual bool AskOpenFileName(std::string* path) = 0;

    // Returns true when the user answered Yes.
    virtual bool Message(const std::string& text, MessageKind kind) = 0;
    // Runs the record editor modally on one record; with newRecord, on an
    // empty one whose code is typed in.
    virtual void RunEditor(int db, int32_t code, bool newRecord = false) = 0;
    // Runs the test database dialog modally: the number of records asked
    // for, none when not confirmed.
    virtual std::optional<int32_t> RunCreateTestDb() = 0;
    // Offers the lines (one a backup) to choose one from; false when cancelled.
    virtual bool ChooseBackup(const std::vector<std::string>& lines, int* chosen) = 0;
};

class CViewerMainDlg {
public:
    // The dialog's databases are the ones the Db* operations work on while it lives.
    explicit CViewerMainDlg(MainView& view, size_t listedByteLimit = ListedRows::kDefaultByteLimit)
        : m_view(view), m_rows(listedByteLimit) {}

    // Fills the chooser, sets the title (with the folder in use, when given)
    // and opens the seven databases, reporting each one that fails.
    void OnInitDialog(const std::string& versionText, const std::string& folder = std::string());
    void OnSelectDatabase();
    void OnClearDatabase();
    void OnCreateTestDb();
    void OnRecordClick();
    // The list's "Новая запись...": the editor on an empty record.
    void OnNewRecord();
    // The list's "Восстановить из резервной копии...": the database's copies,
    // newest first, with their dates and records; the one chosen is put back
    // after a confirmation that names it, as tqdb restore puts it back.
    void OnRestoreBackup();
    // A click on a column's header sorts the listing by it; a second click
    // reverses the order. "Выбрать" lists in the database's own order again.
    void OnColumnClick(int column);
    // Del in the list: the selected record, asked and deleted as the
    // editor's "Удалить" does.
    void OnDeleteSelected();
    void GenerateTestRecords(int32_t count);
    // Ctrl+F and the list's "Найти..." ask for a text and select the next row
    // that holds it; F3 finds the next one with the same text.
    void OnFind();
    void OnFindNext();
    // The list's "Экспорт в CSV..." and "Импорт из CSV..." on the chosen
    // database; the record counter shows the progress.
    void OnExportCsv();
    void OnImportCsv();
    // The step an import takes before its first write, in place of the
    // backup of the file (DbBackup) that it takes otherwise.
    void OnDestroy();

    void ResetView();
    void UpdateCountControls();
    void FillList();

    int32_t ListCount() const { return m_nListCount; }
    const ListedRows& Rows() const { return m_rows; }
    // The database the chooser names, or -1: its selected item, else the item
    // whose label the typed text matches exactly.
    int ChosenDatabase();

private:
    void FillList(int db);
    // False (after saying so) when the database cannot be backed up; then
    // nothing may change it.
    // False (after saying so) when rows remain after the clear.
    bool ClearAndList(int db, std::string* backupPath = nullptr);
    // The code of the selected row, or false after saying why there is none.
    bool SelectedCode(int db, const char* action, int32_t* code);

    void FindNext();
    TransferProgress CounterProgress();

    MainView& m_view;
    ScaleDatabases m_databases;
    int32_t m_nListCount = 0;
    ListedRows m_rows;
    std::vector<int> m_shownColumns;  // of the listed database, ascending
    std::string m_findText;
    int m_sortColumn = -1;  // -1: the database's own order
    bool m_sortDescending = false;
};

// The file name the export offers: the database's own, with ".csv".
std::string CsvFileName(int db);

// The code the editor is opened with for a list row's first column: 0 for no
// row; false for a text that the lookup would not find again as it stands
// ("12abc", "-1", "0012"), which would open or delete another record.
bool ReadRowCode(int db, const std::string& text, int32_t* code);

}  // namespace tq::viewer
