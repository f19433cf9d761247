#include <sqlite3.h>

#include <array>

#include "core/recordset.h"
#include "db_fixture.h"

namespace tq::viewer::test {

using Codes = std::vector<std::string>;

TEST_F(DbTest, OpenChecksTheFileAndKeepsTheFirstObject) {
    for (int db = 0; db < kDatabaseCount; ++db) {
        EXPECT_EQ(DbOpen(db, PathOf("missing.mdb").c_str()), FileUnreadableCode(db));
        EXPECT_EQ(DbOpen(db, ""), FileUnreadableCode(db));
        EXPECT_EQ(DbOpen(db, nullptr), FileUnreadableCode(db));
        EXPECT_EQ(DbRecordset(db), nullptr) << "no object for a file that is not there";
    }
    OpenNew(DbGoods);
    CNVRecordset* first = DbRecordset(DbGoods);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(DbOpen(DbGoods, PathOf("db0.mdb").c_str()), 0);
    EXPECT_EQ(DbRecordset(DbGoods), first) << "a second open keeps the first object";
    EXPECT_EQ(DbOpen(DbUsers, ("  " + PathOf("db0.mdb") + "  ").c_str()), 0) << "blanks around the path are trimmed for the check";
}

TEST_F(DbTest, GoodsAreListedByCodeAsText) {
    OpenNew(DbGoods);
    for (const char* code : {"9", "10", "2", "100"}) ASSERT_EQ(Save(DbGoods, {{0, code}, {2, "товар"}}), 0);
    EXPECT_EQ(ListCodes(DbGoods), (Codes{"10", "100", "2", "9"}));
    EXPECT_EQ(DbCount(DbGoods), 4);
}

TEST_F(DbTest, OtherDatabasesAreListedByTheirSortColumn) {
    OpenNew(DbUsers);
    ASSERT_EQ(Save(DbUsers, {{0, "1"}, {1, "Яков"}, {3, "11"}}), 0);
    ASSERT_EQ(Save(DbUsers, {{0, "2"}, {1, "Анна"}, {3, "22"}}), 0);
    ASSERT_EQ(Save(DbUsers, {{0, "3"}, {1, "Борис"}, {3, "33"}}), 0);
    EXPECT_EQ(ListCodes(DbUsers), (Codes{"2", "3", "1"})) << "by name";

    OpenNew(DbSells);
    for (const char* code : {"00000003", "00000001", "00000002"}) ASSERT_EQ(Save(DbSells, {{0, code}}), 0);
    EXPECT_EQ(ListCodes(DbSells), (Codes{"00000001", "00000002", "00000003"}));
}

TEST_F(DbTest, RowsWhoseCodeIsAStarAreNeverListed) {
    const std::string path = OpenNew(DbHelp);
    ASSERT_EQ(Save(DbHelp, {{0, "1"}}), 0);
    RawExec(path, "INSERT INTO FieldsTable(s00, s01) VALUES('*', 'hidden')");
    EXPECT_EQ(ListCodes(DbHelp), (Codes{"1"}));
    EXPECT_EQ(RawRows(path).size(), 2u);
}

TEST_F(DbTest, FetchWalksTheOpenListingAndWrapsAtItsEnd) {
    OpenNew(DbLabels);
    ASSERT_EQ(Save(DbLabels, {{0, "1"}, {1, "A"}}), 0);
    ASSERT_EQ(Save(DbLabels, {{0, "2"}, {1, "B"}}), 0);
    ASSERT_EQ(DbCount(DbLabels), 2);
    CNVRecord record;
    ASSERT_TRUE(DbFetch(DbLabels, &record, true));
    EXPECT_EQ(record.Value(0), "1");
    ASSERT_TRUE(DbFetch(DbLabels, &record, false));
    EXPECT_EQ(record.Value(0), "2");
    ASSERT_TRUE(DbFetch(DbLabels, &record, false)) << "past the end";
    EXPECT_EQ(record.Value(0), "") << "past the last row there is no record";
    ASSERT_TRUE(DbFetch(DbLabels, &record, false)) << "at the end, the next fetch starts again";
    EXPECT_EQ(record.Value(0), "1");
    EXPECT_FALSE(DbFetch(DbLabels, nullptr, true));
    EXPECT_FALSE(DbFetch(DbHelp, &record, true)) << "no object";
}

// The listing's walk without a record a row gives what DbFetch gives, and
// ends where a listing ends: at the first row without a code.
TEST_F(DbTest, TheListingsWalkGivesWhatFetchGivesAndEndsAtARowWithoutACode) {
    const std::string path = OpenNew(DbLabels);
    ASSERT_EQ(Save(DbLabels, {{0, "1"}, {1, "A"}, {40, std::string(300, 'W')}}), 0);
    ASSERT_EQ(Save(DbLabels, {{0, "3"}, {1, "C"}}), 0);
    RawExec(path, "INSERT INTO FieldsTable(s00, s01) VALUES('x', 'B')");
    ASSERT_EQ(DbCount(DbLabels), 3);
    std::vector<std::array<std::string, 3>> walked;
    std::vector<bool> coded;
    ASSERT_TRUE(DbForEachListedRow(DbLabels, [&](const PackedRow& row) {
        CNVRecord record;
        row.CopyTo(&record);
        walked.push_back({record.Value(0), row.Value(1), record.Value(40)});
        coded.push_back(row.HasCode());
        return row.HasCode();
    }));
    ASSERT_EQ(walked.size(), 2u) << "the walk stops where take says";
    EXPECT_EQ(walked[0][0], "1");
    EXPECT_EQ(walked[0][2], std::string(254, 'W')) << "values come cut as DbFetch gives them";
    EXPECT_EQ(walked[1][0], "x");
    EXPECT_EQ(walked[1][1], "B");
    EXPECT_EQ(coded, (std::vector<bool>{true, false})) << "a code that reads as no number is none";
    CNVRecord fetched;
    ASSERT_TRUE(DbFetch(DbLabels, &fetched, false)) << "DbFetch goes on from where the walk stopped";
    EXPECT_EQ(fetched.Value(0), "3");
    EXPECT_FALSE(DbForEachListedRow(DbHelp, [](const PackedRow&) { return true; })) << "no object";

    EXPECT_STREQ(PackedRow(std::string_view()).Value(0), "") << "the empty text is a row of empty values";
    EXPECT_FALSE(PackedRow(std::string_view()).HasCode());
}

TEST_F(DbTest, FindByCodeUsesTheDatabasesCodeText) {
    OpenNew(DbSells);
    OpenNew(DbGoods);
    ASSERT_EQ(Save(DbSells, {{0, "00000042"}, {1, "08.12.2026"}}), 0);
    ASSERT_EQ(Save(DbGoods, {{0, "42"}, {2, "Сыр"}}), 0);
    CNVRecord record;
    ASSERT_TRUE(DbFindByCode(DbSells, &record, 42));
    EXPECT_EQ(record.Value(0), "00000042");
    EXPECT_EQ(record.Value(1), "8.12.2026") << "every sales field but the code loses leading zeros";
    ASSERT_TRUE(DbFindByCode(DbGoods, &record, 42));
    EXPECT_EQ(U(record.Value(2)), "Сыр");

    record.SetFieldText("junk", 5);
    EXPECT_TRUE(DbFindByCode(DbGoods, &record, 7)) << "not found is still a successful lookup";
    int32_t code = -1;
    record.GetFieldInt(&code, 0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(record.Value(5), "") << "the record is cleared";
    EXPECT_FALSE(DbFindByCode(DbHelp, &record, 1)) << "no object";
}

TEST_F(DbTest, GoodsSaveCleansTheFieldsItShould) {
    const std::string path = OpenNew(DbGoods);
    ASSERT_EQ(Save(DbGoods, {{0, "  00042 "}, {1, "0046000"}, {2, "007 Агент"}, {4, "0.50"}, {5, "0"}}), 0);
    const auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "42");
    EXPECT_EQ(rows[0][1], "0046000") << "the barcode keeps its zeros";
    EXPECT_EQ(rows[0][2], "7 Агент") << "every other field loses leading zeros";
    EXPECT_EQ(rows[0][4], ".50");
    EXPECT_EQ(rows[0][5], "0") << "a single character stays";
    EXPECT_EQ(rows[0][40], "");
}

TEST_F(DbTest, SalesCodesKeepTheirEightDigits) {
    const std::string path = OpenNew(DbSells);
    ASSERT_EQ(Save(DbSells, {{0, "00000042"}, {23, "00.512"}}), 0);
    const auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "00000042");
    EXPECT_EQ(rows[0][23], ".512");
    EXPECT_TRUE(DbDeleteByCode(DbSells, 42));
    EXPECT_TRUE(RawRows(path).empty());
}

TEST_F(DbTest, ARecordWithoutANumericCodeIsRefusedAndNothingWritten) {
    const std::string goods = OpenNew(DbGoods);
    const std::string labels = OpenNew(DbLabels);
    for (const char* code : {"", "0", "000", "abc", "  "}) {
        EXPECT_EQ(Save(DbGoods, {{0, code}, {2, "x"}}), kGoodsNotSaved) << "code '" << code << "'";
        EXPECT_EQ(Save(DbLabels, {{0, code}, {1, "x"}}), kLabelsNotSaved) << "code '" << code << "'";
    }
    EXPECT_TRUE(RawRows(goods).empty());
    EXPECT_TRUE(RawRows(labels).empty());
}

TEST_F(DbTest, SavingAnExistingCodeReplacesTheRowANewCodeAppends) {
    const std::string path = OpenNew(DbResources);
    ASSERT_EQ(Save(DbResources, {{0, "5"}, {1, "Логотип"}, {21, "a.bmp"}, {40, "old"}}), 0);
    ASSERT_EQ(Save(DbResources, {{0, "6"}, {1, "Шрифт"}}), 0);
    ASSERT_EQ(Save(DbResources, {{0, "005"}, {1, "Картинка"}, {21, "b.bmp"}}), 0);
    const auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 2u) << "code 005 is code 5: replaced, not appended";
    EXPECT_EQ(rows[0][0], "5");
    EXPECT_EQ(rows[0][1], "Картинка");
    EXPECT_EQ(rows[0][21], "b.bmp");
    EXPECT_EQ(rows[0][40], "") << "all 41 values are replaced";
    EXPECT_EQ(rows[1][1], "Шрифт");
}

TEST_F(DbTest, UsersAreCheckedBeforeSaving) {
    const std::string path = OpenNew(DbUsers);
    EXPECT_EQ(Save(DbUsers, {{0, "1"}, {1, "   "}, {3, "123"}}), kUserNameEmpty);
    EXPECT_EQ(Save(DbUsers, {{0, "1"}, {1, "Анна"}, {3, ""}}), kUserPasswordBad);
    EXPECT_EQ(Save(DbUsers, {{0, "1"}, {1, "Анна"}, {3, "12a"}}), kUserPasswordBad);
    EXPECT_EQ(Save(DbUsers, {{0, "1"}, {1, "Анна"}, {3, " 517 "}}), kUserPasswordBad) << "the reserved password";
    EXPECT_TRUE(RawRows(path).empty());
    EXPECT_EQ(Save(DbUsers, {{0, "1"}, {1, "  Анна "}, {3, " 0012 "}}), 0);
    const auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1], "Анна");
    EXPECT_EQ(rows[0][3], "12") << "the password loses its leading zeros like every field";
    EXPECT_EQ(Save(DbUsers, {{0, ""}, {1, "Борис"}, {3, "1"}}), kUsersNotSaved);
}

TEST_F(DbTest, SaveWithoutAnOpenDatabaseReportsItsCode) {
    for (int db = 0; db < kDatabaseCount; ++db)
        EXPECT_EQ(Save(db, {{0, "1"}, {1, "name"}, {3, "1"}}), NotSavedCode(db))
            << "database " << db << ": nothing was stored, so success would be a lie";
    EXPECT_NE(Save(-1, {{0, "1"}}), 0) << "no such database";
    EXPECT_NE(Save(7, {{0, "1"}}), 0);
    EXPECT_NE(DbOpen(7, PathOf("x").c_str()), 0);
}

TEST_F(DbTest, DeleteByCodeRemovesOnlyAnExistingRow) {
    const std::string path = OpenNew(DbHelp);
    ASSERT_EQ(Save(DbHelp, {{0, "1"}}), 0);
    ASSERT_EQ(Save(DbHelp, {{0, "2"}}), 0);
    EXPECT_FALSE(DbDeleteByCode(DbHelp, 3));
    EXPECT_TRUE(DbDeleteByCode(DbHelp, 1));
    EXPECT_FALSE(DbDeleteByCode(DbHelp, 1)) << "already gone";
    EXPECT_EQ(ListCodes(DbHelp), (Codes{"2"}));
    EXPECT_FALSE(DbDeleteByCode(DbGoods, 2)) << "no object";
}

TEST_F(DbTest, ClearEmptiesOnlyTheChosenDatabases) {
    const std::string help = OpenNew(DbHelp);
    const std::string labels = OpenNew(DbLabels);
    for (int i = 1; i <= 25; ++i) {
        ASSERT_EQ(Save(DbHelp, {{0, std::to_string(i)}}), 0);
        ASSERT_EQ(Save(DbLabels, {{0, std::to_string(i)}}), 0);
    }
    std::array<bool, kDatabaseCount> chosen{};
    chosen[DbHelp] = true;
    DbClear(chosen);
    EXPECT_TRUE(RawRows(help).empty());
    EXPECT_EQ(RawRows(labels).size(), 25u);
    DbClear(chosen);  // an empty table: nothing to do
    EXPECT_EQ(DbCount(DbHelp), 0);
    chosen.fill(true);
    DbClear(chosen);  // absent objects are skipped
    EXPECT_TRUE(RawRows(labels).empty());
}

TEST_F(DbTest, AClearRightAfterTheFirstSaveEmptiesTheTable) {
    const std::string help = OpenNew(DbHelp);
    ASSERT_EQ(Save(DbHelp, {{0, "1"}}), 0);  // appended through the whole table, opened empty
    std::array<bool, kDatabaseCount> chosen{};
    chosen[DbHelp] = true;
    EXPECT_TRUE(DbClear(chosen)) << "expected the one row to be deleted";
    EXPECT_TRUE(RawRows(help).empty());
}

TEST_F(DbTest, ReleaseAllDropsTheObjects) {
    OpenNew(DbGoods);
    ASSERT_EQ(Save(DbGoods, {{0, "1"}}), 0);
    ASSERT_EQ(DbCount(DbGoods), 1);
    DbReleaseAll();
    EXPECT_EQ(DbRecordset(DbGoods), nullptr);
    EXPECT_EQ(DbCount(DbGoods), 0);
    EXPECT_EQ(DbOpen(DbGoods, PathOf("db0.mdb").c_str()), 0);
    EXPECT_EQ(DbCount(DbGoods), 1) << "the data outlived the object";
}

TEST_F(DbTest, ABatchOfSavesIsStoredWhenItEnds) {
    const std::string path = OpenNew(DbLabels);
    ASSERT_TRUE(DbBeginBatch(DbLabels));
    for (int i = 1; i <= 2500; ++i) ASSERT_EQ(Save(DbLabels, {{0, std::to_string(i)}}), 0);
    ASSERT_EQ(Save(DbLabels, {{0, "7"}, {1, "replaced"}}), 0) << "a batch still replaces an existing code";
    EXPECT_GE(RawRows(path).size(), 2000u) << "a long batch commits as it goes";
    ASSERT_TRUE(DbEndBatch(DbLabels));
    const auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 2500u);
    EXPECT_EQ(rows[6][1], "replaced");
    EXPECT_TRUE(DbEndBatch(DbLabels)) << "ending twice is harmless";
    EXPECT_FALSE(DbBeginBatch(DbHelp)) << "no object";
    EXPECT_TRUE(DbEndBatch(DbHelp));
}

TEST_F(DbTest, ABatchThatCannotLockTheFileLeavesEachSaveToItself) {
    const std::string path = OpenNew(DbReports);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(DbBeginBatch(DbReports));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(Save(DbReports, {{0, "1"}}), 0);
    EXPECT_EQ(RawRows(path).size(), 1u) << "stored at once, without a batch";
}

}  // namespace tq::viewer::test
