// A scale folder for the dialog tests: a temporary folder made the current
// directory (the dialogs name their files and backups from it, as the
// viewer does), with "Internal" and the seven database files, and fake views
// that record what the dialogs show.
#pragma once
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/cp1251.h"
#include "core/catalogue.h"
#include "core/data_access.h"
#include "create_test_db_dlg.h"
#include "edit_record_dlg.h"
#include "tests/temp_folder.h"
#include "viewer_main_dlg.h"

namespace tq::viewer::test {

class ScaleFolderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the seven empty files under Internal (or only some of them).
    void CreateDatabases(const std::vector<int>& which = {0, 1, 2, 3, 4, 5, 6});
    void OpenAll();
    // Appends a row to the file as it stands, bypassing every check: UTF-8
    // values of s00, s01, ... in order.
    void InsertRaw(int db, const std::vector<std::string>& values);
    // The file's rows as stored (UTF-8), in rowid order.
    std::vector<std::vector<std::string>> Rows(int db);
    std::string FilePath(int db) const;

    TempFolder folder_{"tqviewer-test-"};
    std::string dir_;
    std::string oldDir_;
    ScaleDatabases databases_;  // the test's own open databases; a dialog's come in front
};

struct Shown {
    std::string text;  // UTF-8
    MessageKind kind;
};

// Answers questions from a queue of Yes (true) and No (false); Yes when empty.
class Answers {
public:
    void Queue(std::initializer_list<bool> answers) { answers_.insert(answers_.end(), answers); }
    bool Next() {
        if (answers_.empty()) return true;
        const bool answer = answers_.front();
        answers_.pop_front();
        return answer;
    }

private:
    std::deque<bool> answers_;
};

class FakeMainView : public MainView {
public:
    void SetTitle(const std::string& title) override { this->title = tq::Cp1251ToUtf8(title); }
    void AddChooserItem(const std::string& label) override { items.push_back(tq::Cp1251ToUtf8(label)); }
    void SelectChooserItem(int index) override { selection = index; }
    int ChooserSelection() override { return selection; }
    std::string ChooserText() override { return tq::Utf8ToCp1251(typed); }
    void SetControlText(int id, const std::string& text) override;
    void ShowControl(int id, bool show) override { visible[id] = show; }
    void ClearList() override;
    void AddColumn(int index, const std::string& caption, int width) override;
    bool AddRow(const ListedRows& listed) override;
    void BeginListUpdate() override;
    void EndListUpdate() override;
    int SelectedRow() override { return selectedRow; }
    void SelectRow(int row) override { selectedRow = row; }
    void RowsSorted(int column, bool ascending) override { sorted.emplace_back(column, ascending); }
    bool ChooseBackup(const std::vector<std::string>& lines, int* chosen) override {
        offeredBackups = lines;
        *chosen = backupChoice;
        return backupChoice >= 0;
    }
    bool AskFindText(std::string* text) override;
    bool AskSaveFileName(const std::string& fileName, std::string* path, CsvHeader* header) override;
    bool AskOpenFileName(std::string* path) override;
    bool Message(const std::string& text, MessageKind kind) override;
    void RunEditor(int db, int32_t code, bool newRecord) override;
    std::optional<int32_t> RunCreateTestDb() override {
        ++createTestDbRuns;
        return createTestDbAnswer;
    }

    std::string Text(int id) { return texts[id]; }
    bool Visible(int id) { return visible[id]; }

    std::string title;
    std::vector<std::string> items;
    int selection = -1;
    std::string typed;  // UTF-8
    std::map<int, std::string> texts;
    std::map<int, bool> visible;
    std::vector<std::string> counterHistory;
    std::vector<std::pair<std::string, int>> columns;  // UTF-8 caption, width
    std::vector<std::vector<std::string>> rows;        // UTF-8 cells, as the list drew them
    int selectedRow = -1;
    std::vector<std::pair<int, bool>> sorted;  // each RowsSorted: column, ascending
    bool listUpdating = false;
    int failInsertAt = -1;
    // Texts typed into the find box (UTF-8), in turn; cancelled when none is left.
    std::deque<std::string> findTexts;
    std::vector<std::string> findOffered;  // UTF-8
    // Paths chosen in the file dialogs (UTF-8), in turn; cancelled when none is left.
    std::deque<std::string> filePaths;
    std::vector<std::string> fileNamesOffered;  // UTF-8
    std::vector<Shown> shown;
    Answers answers;
    std::vector<std::pair<int, int32_t>> editorRuns;
    std::vector<std::string> offeredBackups;  // code page 1251, as offered
    int backupChoice = -1;                    // -1: cancelled
    CsvHeader exportHeader = CsvHeader::ColumnNames;  // as chosen in the save dialog
    std::vector<int> newRecordRuns;  // the databases of the new-record editors run
    int createTestDbRuns = 0;
    std::optional<int32_t> createTestDbAnswer;  // what the generator dialog returns
};

class FakeEditView : public EditView {
public:
    void SetCaption(int field, const std::string& text) override { captions[field] = tq::Cp1251ToUtf8(text); }
    void SetFieldText(int field, const std::string& text) override { values[field] = tq::Cp1251ToUtf8(text); }
    std::string FieldText(int field) override { return tq::Utf8ToCp1251(values[field]); }
    void EnableField(int field, bool enable) override { enabled[field] = enable; }
    bool Message(const std::string& text, MessageKind kind) override;
    void Finish(int result) override { finished.push_back(result); }

    std::string captions[kFieldCount];
    std::string values[kFieldCount];  // UTF-8
    bool enabled[kFieldCount] = {};
    std::vector<Shown> shown;
    Answers answers;
    std::vector<int> finished;
};

}  // namespace tq::viewer::test
