#include "app_fixture.h"

#include <sqlite3.h>

#include <filesystem>

#include "core/engine.h"
#include "resource.h"
#include "tests/raw_file.h"

namespace tq::viewer::test {

namespace fs = std::filesystem;

void ScaleFolderTest::SetUp() {
    dir_ = folder_.Path();
    oldDir_ = fs::current_path().string();
    fs::current_path(dir_);
}

// Before the folder goes: open databases and the current directory would
// keep it.
void ScaleFolderTest::TearDown() {
    DbReleaseAll();
    fs::current_path(oldDir_);
}

std::string ScaleFolderTest::FilePath(int db) const {
    std::string name = DatabaseFile(db);  // Internal\Name.mdb
    return (fs::path(dir_) / "Internal" / name.substr(name.find('\\') + 1)).string();
}

void ScaleFolderTest::CreateDatabases(const std::vector<int>& which) {
    fs::create_directories(fs::path(dir_) / "Internal");
    for (int db : which) ASSERT_TRUE(CreateSqliteDatabase(FilePath(db))) << FilePath(db);
}

void ScaleFolderTest::OpenAll() {
    for (int db = 0; db < kDatabaseCount; ++db) ASSERT_EQ(DbOpen(db, DatabaseFile(db)), 0) << db;
}

void ScaleFolderTest::InsertRaw(int db, const std::vector<std::string>& values) {
    std::string sql = "INSERT INTO FieldsTable VALUES(";
    for (int i = 0; i < kFieldCount; ++i) sql += i ? ",?" : "?";
    sql += ")";
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(FilePath(db).c_str(), &handle), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(handle, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(handle);
    for (int i = 0; i < kFieldCount; ++i) {
        const std::string value = i < static_cast<int>(values.size()) ? values[i] : "";
        sqlite3_bind_text(stmt, i + 1, value.c_str(), -1, SQLITE_TRANSIENT);
    }
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
    sqlite3_finalize(stmt);
    sqlite3_close(handle);
}

std::vector<std::vector<std::string>> ScaleFolderTest::Rows(int db) { return ReadRawRows(FilePath(db)); }

void FakeMainView::SetControlText(int id, const std::string& text) {
    texts[id] = tq::Cp1251ToUtf8(text);
    if (id == IDC_RECORD_COUNT) counterHistory.push_back(texts[id]);
}

void FakeMainView::ClearList() {
    rows.clear();
    columns.clear();
    selectedRow = -1;
}

void FakeMainView::AddColumn(int index, const std::string& caption, int width) {
    EXPECT_EQ(index, static_cast<int>(columns.size()));
    columns.emplace_back(tq::Cp1251ToUtf8(caption), width);
}

bool FakeMainView::AddRow(const ListedRows& listed) {
    EXPECT_TRUE(listUpdating);
    const int index = listed.Count() - 1;
    if (index == failInsertAt) return false;
    std::vector<std::string> cells;
    for (size_t column = 0; column < columns.size(); ++column)
        cells.push_back(tq::Cp1251ToUtf8(listed.Cell(index, static_cast<int>(column))));
    rows.push_back(cells);
    selectedRow = index;
    return true;
}

void FakeMainView::BeginListUpdate() {
    EXPECT_FALSE(listUpdating);
    listUpdating = true;
}

void FakeMainView::EndListUpdate() {
    EXPECT_TRUE(listUpdating);
    listUpdating = false;
}

bool FakeMainView::AskFindText(std::string* text) {
    findOffered.push_back(tq::Cp1251ToUtf8(*text));
    if (findTexts.empty()) return false;
    *text = tq::Utf8ToCp1251(findTexts.front());
    findTexts.pop_front();
    return true;
}

bool FakeMainView::AskSaveFileName(const std::string& fileName, std::string* path, CsvHeader* header) {
    fileNamesOffered.push_back(tq::Cp1251ToUtf8(fileName));
    *header = exportHeader;
    return AskOpenFileName(path);
}

bool FakeMainView::AskOpenFileName(std::string* path) {
    if (filePaths.empty()) return false;
    *path = filePaths.front();
    filePaths.pop_front();
    return true;
}

bool FakeMainView::Message(const std::string& text, MessageKind kind) {
    shown.push_back({tq::Cp1251ToUtf8(text), kind});
    return kind == MessageKind::Question || kind == MessageKind::Warning ? answers.Next() : false;
}

void FakeMainView::RunEditor(int db, int32_t code, bool newRecord) {
    if (newRecord) newRecordRuns.push_back(db);
    else editorRuns.emplace_back(db, code);
}

bool FakeEditView::Message(const std::string& text, MessageKind kind) {
    shown.push_back({tq::Cp1251ToUtf8(text), kind});
    return kind == MessageKind::Question || kind == MessageKind::Warning ? answers.Next() : false;
}

}  // namespace tq::viewer::test
