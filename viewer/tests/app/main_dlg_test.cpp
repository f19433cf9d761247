#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "file_version.h"
#include "resource.h"

namespace tq::viewer::test {

namespace {

using Strings = std::vector<std::string>;

class MainDlgTest : public ScaleFolderTest {
protected:
    void Start() {
        dlg.OnInitDialog("1.0.0.8");
        view.shown.clear();
    }
    void List(int db) {
        view.selection = db;
        dlg.OnSelectDatabase();
    }
    Strings Codes() {
        Strings codes;
        for (const auto& row : view.rows) codes.push_back(row[0]);
        return codes;
    }
    Strings StoredCodes(int db) {
        Strings codes;
        for (const auto& row : Rows(db)) codes.push_back(row[0]);
        return codes;
    }
    // The files in the Backup folder beside the databases, sorted.
    Strings BackupNames() {
        Strings names;
        for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(dir_) / "Internal" / "Backup"))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    Strings ShownTexts() {
        Strings texts;
        for (const auto& s : view.shown) texts.push_back(s.text);
        return texts;
    }
    bool CountControlsShown() {
        return view.Visible(IDC_CLEAR_DB) && view.Visible(IDC_RECORD_COUNT) && view.Visible(IDC_RECORD_COUNT_LABEL);
    }
    bool CountControlsHidden() {
        return !view.Visible(IDC_CLEAR_DB) && !view.Visible(IDC_RECORD_COUNT) &&
               !view.Visible(IDC_RECORD_COUNT_LABEL);
    }

    FakeMainView view;
    CViewerMainDlg dlg{view};
};

TEST_F(MainDlgTest, StartWithoutInternalReportsTheSevenDatabasesInOrder) {
    dlg.OnInitDialog("1.0.0.8");
    EXPECT_EQ(ShownTexts(), (Strings{"БД ТОВАРОВ не открыта!", "БД ПОЛЬЗОВАТЕЛЕЙ не открыта!",
                                     "БД ЭТИКЕТОК не открыта!", "БД ПОМОЩИ не открыта!", "БД ПРОДАЖ не открыта!",
                                     "БД ОТЧЕТОВ не открыта!", "БД РЕСУРСОВ не открыта!"}));
    for (const auto& s : view.shown) EXPECT_EQ(s.kind, MessageKind::Error);
    EXPECT_EQ(view.title, "TQScaleDBViewer v.1.0.0.8.");
    EXPECT_EQ(view.items, (Strings{"Товары", "Пользователи", "Этикетки", "Помощь", "Продажи", "Отчеты", "Ресурсы"}));
    EXPECT_EQ(view.selection, 0);
    EXPECT_TRUE(view.columns.empty());
    EXPECT_TRUE(CountControlsHidden());
    EXPECT_FALSE(view.Visible(IDC_CREATE_TEST_DB));
    EXPECT_EQ(view.Text(IDC_RECORD_COUNT), "0");
}

TEST_F(MainDlgTest, OnlyTheMissingDatabaseIsReportedAndTheOthersWork) {
    CreateDatabases({0, 1, 2, 3, 5, 6});
    InsertRaw(DbLabels, {"1", "Весовая"});
    dlg.OnInitDialog("1.0.0.8");
    EXPECT_EQ(ShownTexts(), (Strings{"БД ПРОДАЖ не открыта!"}));

    view.shown.clear();
    List(DbSells);  // absent: said so, no table shown as if it were empty
    EXPECT_EQ(ShownTexts(), (Strings{"БД ПРОДАЖ не открыта!"}));
    EXPECT_TRUE(view.columns.empty());
    EXPECT_TRUE(view.rows.empty());
    EXPECT_TRUE(CountControlsHidden());
    EXPECT_FALSE(view.Visible(IDC_CREATE_TEST_DB)) << "nothing to fill";

    List(DbLabels);
    EXPECT_EQ(Codes(), Strings{"1"});
}

TEST(FileVersionTest, TitleCarriesTheFourVersionParts) {
    EXPECT_EQ(ViewerTitle(FormatFileVersion(0x00010000, 0x00000008)), "TQScaleDBViewer v.1.0.0.8.");
    EXPECT_EQ(FormatFileVersion(0xFFFF0002, 0x0003FFFF), "65535.2.3.65535");
    EXPECT_EQ(ViewerTitle(""), "TQScaleDBViewer v..");
}

TEST_F(MainDlgTest, LabelsListShowsOnlyItsFourColumns) {
    CreateDatabases();
    InsertRaw(DbLabels, {"2", "Весовая", "да", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
                         "", "label.lpr", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
                         "скрытое"});
    Start();
    List(DbLabels);
    ASSERT_EQ(view.columns.size(), 41u);
    std::vector<std::pair<int, std::string>> shownColumns;
    for (int i = 0; i < 41; ++i) {
        if (view.columns[i].second == 150) shownColumns.emplace_back(i, view.columns[i].first);
        else EXPECT_EQ(view.columns[i], std::make_pair(std::string(), 0)) << i;
    }
    EXPECT_EQ(shownColumns, (std::vector<std::pair<int, std::string>>{
                                {0, "Код"}, {1, "Название(*)"}, {2, "Двумерный ШК"}, {21, "Файл проекта"}}));
    ASSERT_EQ(view.rows.size(), 1u);
    EXPECT_EQ(view.rows[0][21], "label.lpr");
    EXPECT_EQ(view.rows[0][40], "скрытое") << "zero-width columns still hold their values";
    EXPECT_EQ(view.Text(IDC_DB_NAME), "Этикетки");
}

TEST_F(MainDlgTest, ThreeRecordsListWithTheirCounterAndControls) {
    CreateDatabases();
    for (const char* code : {"3", "1", "2"}) InsertRaw(DbHelp, {code, std::string("Справка ") + code});
    Start();
    List(DbHelp);
    EXPECT_EQ(Codes(), (Strings{"1", "2", "3"}));
    EXPECT_EQ(view.rows[1][1], "Справка 2");
    EXPECT_EQ(view.Text(IDC_RECORD_COUNT), "3");
    EXPECT_EQ(view.counterHistory.back(), "3");
    EXPECT_EQ(dlg.ListCount(), 3);
    EXPECT_TRUE(CountControlsShown());
    EXPECT_TRUE(view.Visible(IDC_CREATE_TEST_DB));
    EXPECT_TRUE(view.shown.empty());
}

TEST_F(MainDlgTest, EmptyDatabaseHidesTheCounterAndOffersTheGenerator) {
    CreateDatabases();
    Start();
    List(DbGoods);
    EXPECT_TRUE(view.rows.empty());
    EXPECT_TRUE(CountControlsHidden());
    EXPECT_TRUE(view.Visible(IDC_CREATE_TEST_DB));
    EXPECT_EQ(view.Text(IDC_RECORD_COUNT), "0");
}

TEST_F(MainDlgTest, BadRowsEndOrShortenTheListing) {
    CreateDatabases();
    const std::string longName(300, 'W');
    InsertRaw(DbGoods, {"1", "", longName});
    InsertRaw(DbGoods, {"2"});
    InsertRaw(DbGoods, {"abc", "", "без кода"});  // sorts after the digits
    InsertRaw(DbGoods, {"*", "", "never listed"});
    Start();
    List(DbGoods);
    ASSERT_EQ(view.rows.size(), 3u) << "the row without a code stays, empty";
    EXPECT_EQ(view.rows[0][2], std::string(254, 'W'));
    EXPECT_EQ(view.rows[2], Strings(41));
    EXPECT_EQ(view.Text(IDC_RECORD_COUNT), "2");
    EXPECT_EQ(dlg.ListCount(), 3);
    EXPECT_TRUE(view.shown.empty());
}

TEST_F(MainDlgTest, RowsThatTheListRefusesAreReportedOnce) {
    CreateDatabases();
    for (const char* code : {"1", "2", "3"}) InsertRaw(DbResources, {code, "png"});
    Start();
    view.failInsertAt = 1;
    List(DbResources);
    EXPECT_EQ(ShownTexts(), Strings{"Строка списка не добавлена!"});
    EXPECT_EQ(view.Text(IDC_RECORD_COUNT), "2") << "the refused row is counted, then the fill ends";

    // A row is its values ("1", "png") and 41 ends: 45 bytes. A dialog that
    // may keep one row and a bit cannot keep the second.
    view.shown.clear();
    view.failInsertAt = -1;
    CViewerMainDlg keepsOneRow(view, 45 + 44);
    keepsOneRow.OnInitDialog("1.0.0.8");  // each dialog opens the databases of its own
    view.selection = DbResources;
    keepsOneRow.OnSelectDatabase();
    EXPECT_EQ(ShownTexts(), Strings{"Строка списка не заполнена!"});
    EXPECT_EQ(view.rows.size(), 2u);
    EXPECT_EQ(view.rows[1], Strings(41)) << "the row that did not fit is listed empty";

    view.shown.clear();
    CViewerMainDlg keepsTwoRows(view, 90 + 44);  // the last row: the check after the loop reports it
    keepsTwoRows.OnInitDialog("1.0.0.8");
    view.selection = DbResources;
    keepsTwoRows.OnSelectDatabase();
    EXPECT_EQ(ShownTexts(), Strings{"Строка списка не заполнена!"});
    EXPECT_FALSE(view.listUpdating) << "the list draws again after a fill that ended early";
}

TEST_F(MainDlgTest, ClearingAsksAndActsOnlyOnYes) {
    CreateDatabases();
    InsertRaw(DbReports, {"1", "01.01.2026"});
    InsertRaw(DbLabels, {"1", "Весовая"});
    Start();
    List(DbReports);

    view.answers.Queue({false});
    dlg.OnClearDatabase();
    EXPECT_EQ(ShownTexts(), Strings{"Удалить ВСЕ записи?"});
    EXPECT_EQ(view.shown[0].kind, MessageKind::Warning) << "No is the default";
    EXPECT_EQ(Rows(DbReports).size(), 1u);
    EXPECT_EQ(view.rows.size(), 1u);

    view.answers.Queue({true});
    dlg.OnClearDatabase();
    ASSERT_EQ(view.shown.size(), 3u);
    const std::string& result = view.shown[2].text;
    const std::string copy = BackupNames().at(0);
    EXPECT_EQ(result.rfind("Все записи удалены. Резервная копия: Internal", 0), 0u) << result;
    EXPECT_EQ(result.substr(result.size() - std::min(result.size(), copy.size())), copy) << "the result names the copy";
    EXPECT_TRUE(Rows(DbReports).empty());
    EXPECT_TRUE(view.rows.empty());
    EXPECT_TRUE(CountControlsHidden());
    EXPECT_EQ(Rows(DbLabels).size(), 1u) << "only the chosen database is cleared";
    EXPECT_EQ(view.Text(IDC_DB_NAME), "Отчеты");
}

TEST_F(MainDlgTest, ClearingAndGeneratingBackUpFirstAndDoNothingWithoutABackup) {
    CreateDatabases();
    InsertRaw(DbGoods, {"1", "4600000000017", "Колбаса"});
    InsertRaw(DbGoods, {"2", "4600000000024", "Сыр"});
    Start();
    List(DbGoods);
    const std::filesystem::path backups = std::filesystem::path(dir_) / "Internal" / "Backup";
    { std::ofstream(backups) << "a file where the folder should be"; }

    dlg.OnClearDatabase();
    dlg.GenerateTestRecords(3);
    ASSERT_EQ(view.shown.size(), 3u);
    for (const size_t i : {1u, 2u}) {
        EXPECT_EQ(view.shown[i].text.rfind("Не удалось сохранить резервную копию БД: ", 0), 0u) << view.shown[i].text;
        EXPECT_EQ(view.shown[i].kind, MessageKind::Error);
    }
    EXPECT_EQ(StoredCodes(DbGoods), (Strings{"1", "2"})) << "neither the clear nor the generator touched a row";
    EXPECT_EQ(Codes(), (Strings{"1", "2"}));

    std::filesystem::remove(backups);
    view.shown.clear();
    dlg.OnClearDatabase();
    EXPECT_EQ(ShownTexts().at(0), "Удалить ВСЕ записи?");
    EXPECT_TRUE(Rows(DbGoods).empty());
    dlg.GenerateTestRecords(2);
    const Strings names = BackupNames();
    ASSERT_EQ(names.size(), 2u) << "one backup for the clear, one for the generator";
    EXPECT_EQ(names[0].rfind("TQScale.mdb.", 0), 0u) << names[0];
    EXPECT_EQ(StoredCodes(DbGoods), (Strings{"1", "2"})) << "the generator's records";
}

TEST_F(MainDlgTest, ClickOnEmptyListSaysSoAndOpensNothing) {
    CreateDatabases();
    Start();
    dlg.OnRecordClick();  // nothing listed yet
    List(DbGoods);
    dlg.OnRecordClick();  // an empty database
    EXPECT_EQ(ShownTexts(), (Strings{"БД пуста!", "БД пуста!"}));
    EXPECT_EQ(view.shown[0].kind, MessageKind::Notice);
    EXPECT_TRUE(view.editorRuns.empty());
}

TEST_F(MainDlgTest, ClickOpensTheEditorOnTheRowCodeAndListsAgain) {
    CreateDatabases();
    InsertRaw(DbSells, {"00000012", "08.12.2026"});
    InsertRaw(DbSells, {"00000013", "08.12.2026"});
    Start();
    List(DbSells);
    view.selectedRow = 0;
    dlg.OnRecordClick();
    view.selectedRow = -1;  // a click on the empty area
    dlg.OnRecordClick();
    EXPECT_EQ(view.editorRuns, (std::vector<std::pair<int, int32_t>>{{DbSells, 12}, {DbSells, 0}}));
    EXPECT_EQ(view.Text(IDC_DB_NAME), "Продажи");
    EXPECT_EQ(view.rows.size(), 2u);
}

TEST(ReadRowCodeTest, OnlyACodeTheLookupFindsAgainOpensTheEditor) {
    int32_t code = -7;
    EXPECT_TRUE(ReadRowCode(DbGoods, "", &code)) << "no row selected";
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(ReadRowCode(DbSells, "00000017", &code));
    EXPECT_EQ(code, 17);
    EXPECT_TRUE(ReadRowCode(DbGoods, "4294967295", &code));
    EXPECT_EQ(static_cast<uint32_t>(code), 4294967295u);
    for (const char* text : {"12abc", "-5", "+8", " 17", "00000017", "1e3", "4294967296", "0"})
        EXPECT_FALSE(ReadRowCode(DbGoods, text, &code)) << text;
    EXPECT_FALSE(ReadRowCode(DbSells, "17", &code)) << "the sales lookup would look for 00000017";
}

TEST_F(MainDlgTest, ARowWhoseCodeIsNotANumberIsNeitherOpenedNorDeleted) {
    CreateDatabases();
    InsertRaw(DbGoods, {"12", "keep 12"});
    InsertRaw(DbGoods, {"12abc", "keep 12abc"});
    InsertRaw(DbGoods, {"4294967295", "largest"});
    Start();
    List(DbGoods);
    ASSERT_EQ(Codes(), (Strings{"12", "12abc", "4294967295"}));
    view.selectedRow = 1;
    dlg.OnRecordClick();
    EXPECT_TRUE(view.editorRuns.empty()) << "record 12 must not open for the row 12abc";
    EXPECT_EQ(ShownTexts(), Strings{"Запись с кодом «12abc» нельзя открыть: код не число"});
    EXPECT_EQ(view.shown[0].kind, MessageKind::Error);
    view.selectedRow = 2;
    dlg.OnRecordClick();
    ASSERT_EQ(view.editorRuns.size(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(view.editorRuns[0].second), 4294967295u);
    EXPECT_EQ(StoredCodes(DbGoods), (Strings{"12", "12abc", "4294967295"}));
}

TEST_F(MainDlgTest, AHeaderClickSortsAndASecondReversesKeepingTheSelectedRecord) {
    CreateDatabases();
    for (const char* code : {"3", "10", "2"}) InsertRaw(DbGoods, {code, "", std::string("товар ") + code});
    Start();
    List(DbGoods);
    const auto ListedCodes = [&] {
        Strings codes;
        for (int row = 0; row < dlg.Rows().Count(); ++row) codes.push_back(dlg.Rows().Cell(row, 0));
        return codes;
    };
    ASSERT_EQ(ListedCodes(), (Strings{"10", "2", "3"})) << "the database's own order: codes as text";
    view.selectedRow = 0;
    dlg.OnColumnClick(0);
    EXPECT_EQ(ListedCodes(), (Strings{"2", "3", "10"})) << "codes as numbers";
    EXPECT_EQ(view.selectedRow, 2) << "10 stays selected";
    dlg.OnColumnClick(0);
    EXPECT_EQ(ListedCodes(), (Strings{"10", "3", "2"}));
    dlg.OnColumnClick(2);
    EXPECT_EQ(view.sorted, (std::vector<std::pair<int, bool>>{{0, true}, {0, false}, {2, true}}));
    dlg.OnSelectDatabase();
    EXPECT_EQ(ListedCodes(), (Strings{"10", "2", "3"})) << "Выбрать lists in the database's order again";
    dlg.OnColumnClick(0);
    EXPECT_EQ(view.sorted.back(), std::make_pair(0, true)) << "and the next click sorts ascending";
}

TEST_F(MainDlgTest, RestoreOffersTheCopiesNewestFirstAndPutsTheChosenOneBackAfterAsking) {
    CreateDatabases();
    InsertRaw(DbGoods, {"1", "", "Колбаса"});
    InsertRaw(DbGoods, {"2", "", "Сыр"});
    Start();
    List(DbGoods);
    dlg.OnRestoreBackup();
    EXPECT_EQ(ShownTexts(), Strings{"У этой БД нет резервных копий"});
    view.answers.Queue({true, true});
    dlg.OnClearDatabase();  // the copy of the two records
    InsertRaw(DbGoods, {"3", "", "Хлеб"});
    dlg.OnClearDatabase();  // the copy of the one
    ASSERT_EQ(BackupNames().size(), 2u);

    view.shown.clear();
    dlg.OnRestoreBackup();  // cancelled: nothing asked, nothing changed
    ASSERT_EQ(view.offeredBackups.size(), 2u);
    EXPECT_NE(tq::Cp1251ToUtf8(view.offeredBackups[0]).find("записей: 1"), std::string::npos) << "newest first";
    EXPECT_NE(tq::Cp1251ToUtf8(view.offeredBackups[1]).find("записей: 2"), std::string::npos);
    EXPECT_TRUE(view.shown.empty());

    view.backupChoice = 1;
    view.answers.Queue({false});
    dlg.OnRestoreBackup();
    ASSERT_EQ(view.shown.size(), 1u);
    EXPECT_EQ(view.shown[0].kind, MessageKind::Warning);
    EXPECT_NE(view.shown[0].text.find(BackupNames()[0]), std::string::npos) << "the question names the copy";
    EXPECT_TRUE(StoredCodes(DbGoods).empty()) << "No restores nothing";

    view.shown.clear();
    view.answers.Queue({true});
    dlg.OnRestoreBackup();
    EXPECT_EQ(StoredCodes(DbGoods), (Strings{"1", "2"}));
    EXPECT_EQ(Codes(), (Strings{"1", "2"})) << "listed again";
    ASSERT_EQ(view.shown.size(), 2u);
    EXPECT_EQ(view.shown[1].text.rfind("БД восстановлена из копии " + BackupNames()[0] + ". Копия прежней БД: ", 0), 0u)
        << view.shown[1].text;
    EXPECT_EQ(BackupNames().size(), 3u) << "the emptied database was copied before the restore";
}

// Del in the list deletes the selected record as the editor's "Удалить"
// does: asked, refused for a code that names another record, reported.
TEST_F(MainDlgTest, DelAsksAndDeletesTheSelectedRecordAndKeepsTheListsPlace) {
    CreateDatabases();
    for (const char* code : {"1", "2", "12abc", "3"}) InsertRaw(DbGoods, {code, std::string("товар ") + code});
    Start();
    List(DbGoods);
    ASSERT_EQ(Codes(), (Strings{"1", "12abc", "2", "3"}));
    view.selectedRow = 2;
    view.answers.Queue({false});
    dlg.OnDeleteSelected();
    EXPECT_EQ(ShownTexts(), Strings{"Удалить запись?"});
    EXPECT_EQ(StoredCodes(DbGoods).size(), 4u) << "No deletes nothing";

    view.shown.clear();
    view.answers.Queue({true});
    dlg.OnDeleteSelected();
    EXPECT_EQ(StoredCodes(DbGoods), (Strings{"1", "12abc", "3"}));
    EXPECT_EQ(Codes(), (Strings{"1", "12abc", "3"})) << "listed again";
    EXPECT_EQ(view.selectedRow, 2) << "the row after the deleted one is selected";

    view.shown.clear();
    view.selectedRow = 1;
    dlg.OnDeleteSelected();
    EXPECT_EQ(ShownTexts(), Strings{"Запись с кодом «12abc» нельзя удалить: код не число"});
    view.shown.clear();
    view.selectedRow = -1;
    dlg.OnDeleteSelected();
    EXPECT_TRUE(view.shown.empty()) << "nothing selected, nothing asked";
    EXPECT_EQ(StoredCodes(DbGoods).size(), 3u);
}

TEST_F(MainDlgTest, AClearThatLeavesRowsSaysSoAndTheGeneratorWritesNothing) {
    CreateDatabases();
    InsertRaw(DbHelp, {"1", "keep"});
    InsertRaw(DbHelp, {"7", "keep"});
    Start();
    List(DbHelp);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(FilePath(DbHelp).c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    dlg.OnClearDatabase();
    dlg.GenerateTestRecords(3);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(ShownTexts(), (Strings{"Удалить ВСЕ записи?", "Не удалось очистить БД", "Не удалось очистить БД"}));
    EXPECT_EQ(Codes(), (Strings{"1", "7"})) << "the list shows the rows that remain";
    EXPECT_EQ(StoredCodes(DbHelp), (Strings{"1", "7"}));
    EXPECT_EQ(Rows(DbHelp)[0][1], "keep") << "no test record over a real one";
}

TEST_F(MainDlgTest, ADatabaseFileThatIsGoneIsReportedWhenListed) {
    CreateDatabases();
    InsertRaw(DbUsers, {"1", "Ольга", "", "4444"});
    Start();
    List(DbUsers);
    ASSERT_EQ(Codes(), Strings{"1"});
    std::error_code error;
    if (!std::filesystem::remove(FilePath(DbUsers), error))
        GTEST_SKIP() << "an open database cannot be removed here";
    List(DbUsers);
    EXPECT_EQ(ShownTexts(), Strings{"БД ПОЛЬЗОВАТЕЛЕЙ не открыта!"});
    EXPECT_TRUE(view.rows.empty()) << "the old rows are not shown";
    EXPECT_TRUE(CountControlsHidden());
}

TEST_F(MainDlgTest, TypedChooserTextNamesADatabaseOnlyWhenItMatchesAnItem) {
    CreateDatabases();
    InsertRaw(DbHelp, {"1", "Справка"});
    Start();
    view.selection = -1;
    view.typed = "Помощь";
    dlg.OnSelectDatabase();
    EXPECT_EQ(Codes(), Strings{"1"});
    EXPECT_EQ(view.Text(IDC_DB_NAME), "Помощь");

    view.typed = "Склад";  // no such database: every command leaves things as they are
    dlg.OnSelectDatabase();
    dlg.OnClearDatabase();
    dlg.OnCreateTestDb();
    dlg.GenerateTestRecords(5);
    view.selectedRow = 0;
    dlg.OnRecordClick();
    EXPECT_TRUE(view.shown.empty());
    EXPECT_TRUE(view.editorRuns.empty());
    EXPECT_EQ(view.createTestDbRuns, 0);
    EXPECT_EQ(Codes(), Strings{"1"});
    EXPECT_EQ(StoredCodes(DbHelp), Strings{"1"});
    EXPECT_EQ(view.Text(IDC_DB_NAME), "Помощь");
}

TEST_F(MainDlgTest, GeneratorFillsTheChosenDatabaseWithNumberedRecords) {
    CreateDatabases();
    InsertRaw(DbLabels, {"7", "Старая"});
    Start();
    view.selection = DbLabels;
    dlg.OnCreateTestDb();
    EXPECT_EQ(view.createTestDbRuns, 1);
    EXPECT_EQ(StoredCodes(DbLabels), Strings{"7"}) << "the generator dialog closed without a count";
    view.counterHistory.clear();
    dlg.GenerateTestRecords(3);
    EXPECT_EQ(StoredCodes(DbLabels), (Strings{"1", "2", "3"}));
    for (const auto& row : Rows(DbLabels))
        for (int i = 1; i < 41; ++i) EXPECT_EQ(row[i], "");
    EXPECT_EQ(Codes(), (Strings{"1", "2", "3"}));
    EXPECT_EQ(view.Text(IDC_RECORD_COUNT), "3");
    // Counted as it went (each hundred, and the last), then the final listing.
    EXPECT_EQ(view.counterHistory, (Strings{"3", "0", "1", "2", "3"}));
    EXPECT_TRUE(view.shown.empty());

    view.selection = DbSells;
    dlg.GenerateTestRecords(3);
    EXPECT_EQ(StoredCodes(DbSells), (Strings{"00000001", "00000002", "00000003"}));

    view.createTestDbAnswer = 2;  // the dialog's count, once it has closed
    dlg.OnCreateTestDb();
    EXPECT_EQ(StoredCodes(DbSells), (Strings{"00000001", "00000002"}));
}

TEST_F(MainDlgTest, GeneratorWithZeroOrLessOnlyEmptiesTheDatabase) {
    CreateDatabases();
    InsertRaw(DbGoods, {"5"});
    InsertRaw(DbHelp, {"6"});
    Start();
    view.selection = DbGoods;
    dlg.GenerateTestRecords(0);
    view.selection = DbHelp;
    dlg.GenerateTestRecords(-4);
    EXPECT_TRUE(Rows(DbGoods).empty());
    EXPECT_TRUE(Rows(DbHelp).empty());
    EXPECT_TRUE(view.shown.empty());
}

TEST_F(MainDlgTest, GeneratorWorksOnTheChooserEvenWhenAnotherDatabaseIsListed) {
    CreateDatabases();
    InsertRaw(DbGoods, {"5"});
    Start();
    List(DbGoods);
    view.selection = DbResources;
    dlg.GenerateTestRecords(2);
    EXPECT_EQ(StoredCodes(DbGoods), Strings{"5"});
    EXPECT_EQ(StoredCodes(DbResources), (Strings{"1", "2"}));
    EXPECT_EQ(view.Text(IDC_DB_NAME), "Товары") << "the label keeps the database last chosen with Выбрать";
}

TEST_F(MainDlgTest, GeneratorLeavesTheUsersAloneSinceTheyCannotBeWritten) {
    CreateDatabases();
    InsertRaw(DbUsers, {"1", "Иванов", "1", "1234"});
    Start();
    view.selection = DbUsers;
    dlg.GenerateTestRecords(3);
    EXPECT_EQ(ShownTexts(), Strings{"Ошибка при сохранении записи!"});
    EXPECT_EQ(view.shown[0].kind, MessageKind::Error);
    EXPECT_EQ(StoredCodes(DbUsers), Strings{"1"});
}

TEST_F(MainDlgTest, GeneratorRefusesADatabaseThatDidNotOpen) {
    CreateDatabases({0, 1, 2, 3, 4, 5});  // no resources file
    dlg.OnInitDialog("1.0.0.8");
    view.shown.clear();
    view.selection = DbResources;
    dlg.GenerateTestRecords(5);
    EXPECT_EQ(ShownTexts(), Strings{"БД РЕСУРСОВ не открыта!"}) << "nothing written into a database that did not open";
}

TEST_F(MainDlgTest, DestroyReleasesTheDatabases) {
    CreateDatabases();
    Start();
    EXPECT_NE(DbRecordset(DbGoods), nullptr);
    dlg.OnDestroy();
    for (int db = 0; db < kDatabaseCount; ++db) EXPECT_EQ(DbRecordset(db), nullptr);
}

}  // namespace

TEST_F(MainDlgTest, FindSelectsTheNextRowHoldingTheTextInAShownColumn) {
    CreateDatabases();
    // Labels show s00, s01, s02 and s21; s40 is kept but never shown.
    InsertRaw(DbLabels, {"1", "Икра черная.", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
                         "", "икра.lpr"});
    InsertRaw(DbLabels, {"2", "Сыр"});
    InsertRaw(DbLabels, {"3", "ИКРА КРАСНАЯ"});
    std::vector<std::string> hidden(41);
    hidden[0] = "4";
    hidden[40] = "скрытое";
    InsertRaw(DbLabels, hidden);
    Start();
    List(DbLabels);
    ASSERT_EQ(view.selectedRow, 3) << "the listing ends on its last row";
    const Strings listed = Codes();
    auto rowOf = [&](const std::string& code) {
        return static_cast<int>(std::find(listed.begin(), listed.end(), code) - listed.begin());
    };
    const int first = std::min(rowOf("1"), rowOf("3")), second = std::max(rowOf("1"), rowOf("3"));
    ASSERT_LT(second, 3) << "the row holding the code 4 comes last";

    view.findTexts = {"икра"};
    dlg.OnFind();
    EXPECT_EQ(view.selectedRow, first) << "the search goes on from the top after the last row";
    dlg.OnFindNext();
    EXPECT_EQ(view.selectedRow, second) << "the next one; case and Cyrillic case alike are ignored";
    dlg.OnFindNext();
    EXPECT_EQ(view.selectedRow, first);
    EXPECT_EQ(view.findOffered, Strings{""});

    view.findTexts = {"скрытое"};
    dlg.OnFind();
    EXPECT_EQ(ShownTexts(), Strings{"Не найдено"}) << "a column that is not shown is not searched";
    EXPECT_EQ(view.shown[0].kind, MessageKind::Notice);
    EXPECT_EQ(view.selectedRow, first) << "the selection stays where it was";
    EXPECT_EQ(view.findOffered.back(), "икра") << "the box offers the last text";

    view.shown.clear();
    view.findTexts = {"4"};
    dlg.OnFind();
    EXPECT_EQ(view.selectedRow, rowOf("4")) << "a row is found by its code";
    dlg.OnFind();  // cancelled: nothing changes
    dlg.OnFindNext();
    EXPECT_EQ(view.selectedRow, rowOf("4")) << "the only row with that code is found again";
    EXPECT_TRUE(view.shown.empty());
}

TEST_F(MainDlgTest, FindNextBeforeAnyTextAsksForOneAndNothingListedIsNotFound) {
    CreateDatabases();
    Start();
    view.findTexts = {"икра"};
    dlg.OnFindNext();
    EXPECT_EQ(view.findOffered, Strings{""});
    EXPECT_EQ(ShownTexts(), Strings{"Не найдено"});
    EXPECT_EQ(view.selectedRow, -1);
}

TEST_F(MainDlgTest, ExportOffersTheDatabasesNameAndImportListsTheDatabaseAgain) {
    CreateDatabases();
    InsertRaw(DbLabels, {"1", "Весовой"});
    InsertRaw(DbLabels, {"2", "Штучный; \"58x40\""});
    Start();
    List(DbLabels);
    view.filePaths = {"labels.csv"};
    dlg.OnExportCsv();
    EXPECT_EQ(view.fileNamesOffered, Strings{"Labels.csv"});
    ASSERT_EQ(ShownTexts(), Strings{"Экспортировано записей: 2\nФайл: labels.csv"}) << "the result names the file";
    EXPECT_EQ(view.shown[0].kind, MessageKind::Notice);
    EXPECT_EQ(view.Text(IDC_RECORD_COUNT), "2") << "the counter shows the listing again";

    std::ofstream("more.csv") << "s01;s00\r\nВесовой новый;1\r\nКоробка;3\r\n";
    view.shown.clear();
    view.filePaths = {"more.csv"};
    dlg.OnImportCsv();
    EXPECT_EQ(ShownTexts(), Strings{"Импортировано записей: 2"});
    const Strings names = BackupNames();
    ASSERT_EQ(names.size(), 1u) << "the import, and not the export, backs the database up first";
    EXPECT_EQ(names[0].rfind("Labels.mdb.", 0), 0u) << names[0];
    ASSERT_EQ(view.rows.size(), 3u) << "the list shows the database as it now is";
    EXPECT_EQ(view.rows[0][1], "Весовой новый");
    EXPECT_EQ(view.Text(IDC_RECORD_COUNT), "3");
}

TEST_F(MainDlgTest, AnImportWithoutItsBackupOrItsFileChangesNothing) {
    CreateDatabases();
    InsertRaw(DbGoods, {"1", "", "Колбаса"});
    Start();
    List(DbGoods);
    std::ofstream("goods.csv") << "s00;s02\r\n2;Сыр\r\n";
    std::ofstream("Internal/Backup") << "a file where the folder should be";
    view.filePaths = {"goods.csv"};
    dlg.OnImportCsv();
    ASSERT_EQ(ShownTexts().size(), 1u);
    EXPECT_EQ(ShownTexts()[0].rfind("Не удалось сохранить резервную копию БД: ", 0), 0u) << ShownTexts()[0];
    EXPECT_EQ(view.shown[0].kind, MessageKind::Error);
    EXPECT_EQ(StoredCodes(DbGoods), Strings{"1"});
    view.shown.clear();
    dlg.OnImportCsv();  // the open dialog cancelled
    dlg.OnExportCsv();  // the save dialog cancelled
    EXPECT_TRUE(view.shown.empty()) << "a cancelled dialog says nothing";
    view.filePaths = {"missing.csv"};
    dlg.OnImportCsv();
    EXPECT_EQ(ShownTexts(), Strings{"Не удалось прочитать файл missing.csv"});
}

// A file exported with the list's captions, edited in a spreadsheet and
// imported back needs no renaming; a header naming a column twice is refused.
TEST_F(MainDlgTest, AnExportWithCaptionsImportsBackAsItIs) {
    CreateDatabases();
    InsertRaw(DbGoods, {"7", "4600000000017", "Икра", "", "99.90"});
    Start();
    List(DbGoods);
    view.filePaths = {"goods.csv"};
    view.exportHeader = CsvHeader::Captions;
    dlg.OnExportCsv();
    std::ifstream exported("goods.csv", std::ios::binary);
    std::string head;
    std::getline(exported, head);
    exported.close();
    EXPECT_EQ(head.rfind("\xEF\xBB\xBFКод(*);ШК;Наименование;Тип;Цена;", 0), 0u) << head;
    EXPECT_NE(head.find(";s09;"), std::string::npos) << "a column without a caption keeps its name";

    std::ofstream("edited.csv") << "Наименование;Код;Цена\r\nИкра красная;7;120.00\r\nСыр;8;10\r\n";
    view.shown.clear();
    view.filePaths = {"edited.csv"};
    dlg.OnImportCsv();
    EXPECT_EQ(ShownTexts(), Strings{"Импортировано записей: 2"});
    ASSERT_EQ(Rows(DbGoods).size(), 2u);
    EXPECT_EQ(Rows(DbGoods)[0][2], "Икра красная");
    EXPECT_EQ(Rows(DbGoods)[0][1], "4600000000017") << "a column the file does not name keeps its value";

    std::ofstream("twice.csv") << "Код;s00;Цена\r\n9;9;1\r\n";
    view.shown.clear();
    view.filePaths = {"twice.csv"};
    dlg.OnImportCsv();
    ASSERT_EQ(view.shown.size(), 1u);
    EXPECT_NE(view.shown[0].text.find("столбец s00 указан дважды"), std::string::npos) << view.shown[0].text;
    EXPECT_EQ(Rows(DbGoods).size(), 2u);
    for (const char* file : {"goods.csv", "edited.csv", "twice.csv"}) std::remove(file);
}

TEST_F(MainDlgTest, ExportKeepsThePickedNameAndNeverGoesOverADatabase) {
    CreateDatabases();
    InsertRaw(DbLabels, {"1", "Весовой"});
    Start();
    List(DbLabels);
    const std::string name = "Этикетки 日本.csv";
    view.filePaths = {name};
    dlg.OnExportCsv();
    // The message box speaks code page 1251: letters beyond it show as "?",
    // while the file keeps its name.
    ASSERT_EQ(ShownTexts(), Strings{"Экспортировано записей: 1\nФайл: Этикетки ??.csv"});
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(name)));
    view.shown.clear();
    view.filePaths = {name};
    dlg.OnImportCsv();
    EXPECT_EQ(ShownTexts(), Strings{"Импортировано записей: 1"});

    view.shown.clear();
    const auto rows = Rows(DbLabels);
    view.filePaths = {"Internal\\Labels.mdb"};  // "All files", and Yes to the overwrite prompt
    dlg.OnExportCsv();
    EXPECT_EQ(ShownTexts(), Strings{"Экспорт отменён: файл Internal\\Labels.mdb — база данных (SQLite), её нельзя "
                                    "заменить файлом CSV. Выберите другой файл."});
    EXPECT_EQ(view.shown[0].kind, MessageKind::Error);
    EXPECT_EQ(Rows(DbLabels), rows);
}

}  // namespace tq::viewer::test
