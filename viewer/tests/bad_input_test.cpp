// Files and values that are not what the scale's programs write: each must
// give the documented false or result code, never a crash, and never lose
// the rows that were there.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "core/recordset.h"
#include "db_fixture.h"
#include "raw_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tq::viewer::test {

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST_F(DbTest, FilesThatAreNoDatabaseFailQuietly) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string jet(2048, '\0');
    jet.replace(4, 16, std::string("Standard Jet DB\0", 16));
    const Case cases[] = {
        {"empty.mdb", ""},
        {"text.mdb", "just some text, not a database\n"},
        {"jet.mdb", jet},
        {"short.mdb", "SQLite format"},
    };
    for (const Case& c : cases) {
        const std::string path = PathOf(c.name);
        WriteFile(path, c.bytes);
        EXPECT_EQ(DbOpen(DbGoods, path.c_str()), 0) << c.name << ": the file is readable";
        EXPECT_EQ(DbCount(DbGoods), 0) << c.name;
        EXPECT_EQ(Save(DbGoods, {{0, "1"}}), kGoodsNotSaved) << c.name;
        EXPECT_FALSE(DbDeleteByCode(DbGoods, 1)) << c.name;
        EXPECT_EQ(ReadBytes(path), c.bytes) << c.name << " must be left as it was";
        DbReleaseAll();
    }
}

TEST_F(DbTest, ATruncatedDatabaseFailsWithoutACrash) {
    const std::string whole = OpenNew(DbGoods);
    for (int i = 1; i <= 300; ++i) ASSERT_EQ(Save(DbGoods, {{0, std::to_string(i)}, {2, std::string(200, 'x')}}), 0);
    DbReleaseAll();
    const std::string bytes = ReadBytes(whole);
    ASSERT_GT(bytes.size(), 8192u);
    const std::string cut = PathOf("cut.mdb");
    WriteFile(cut, bytes.substr(0, bytes.size() / 3));
    ASSERT_EQ(DbOpen(DbGoods, cut.c_str()), 0);
    const std::vector<std::string> listed = ListCodes(DbGoods);
    const std::string before = ReadBytes(cut);
    EXPECT_NE(Save(DbGoods, {{0, "1"}}), 0) << "a save into a damaged file is reported as failed";
    EXPECT_EQ(ListCodes(DbGoods), listed) << "the rows that could be read are still there";
    DbReleaseAll();
    EXPECT_TRUE(ReadBytes(cut) == before) << "the failed save left the file as it was";
}

TEST_F(DbTest, TablesOfTheWrongShapeFail) {
    const std::string noTable = PathOf("notable.mdb");
    RawExec(noTable, "CREATE TABLE Other(a TEXT); INSERT INTO Other VALUES('keep')");
    const std::string fewColumns = PathOf("few.mdb");
    RawExec(fewColumns, "CREATE TABLE FieldsTable(s00 TEXT, s01 TEXT); INSERT INTO FieldsTable VALUES('1','keep')");
    for (const std::string& path : {noTable, fewColumns}) {
        ASSERT_EQ(DbOpen(DbLabels, path.c_str()), 0);
        EXPECT_EQ(DbCount(DbLabels), 0) << path;
        EXPECT_EQ(Save(DbLabels, {{0, "2"}, {1, "x"}}), kLabelsNotSaved) << path;
        std::array<bool, kDatabaseCount> chosen{};
        chosen[DbLabels] = true;
        DbClear(chosen);
        DbReleaseAll();
    }
    EXPECT_EQ(RawRows(fewColumns).size(), 1u) << "the row that was there stays";
}

TEST_F(DbTest, ColumnsOfOtherTypesReadAsText) {
    const std::string path = OpenNew(DbGoods);
    RawExec(path,
            "INSERT INTO FieldsTable(s00, s01, s02, s03, s04) VALUES(5, 2.5, x'41420043', NULL, 'Сыр');"
            "INSERT INTO FieldsTable(s00) VALUES(6)");
    ASSERT_EQ(DbCount(DbGoods), 2);
    CNVRecord record;
    ASSERT_TRUE(DbFetch(DbGoods, &record, true));
    EXPECT_EQ(record.Value(0), "5");
    EXPECT_EQ(record.Value(1), "2.5");
    EXPECT_EQ(record.Value(2), "AB") << "a blob ends at its first NUL";
    EXPECT_EQ(record.Value(3), "");
    EXPECT_EQ(U(record.Value(4)), "Сыр");
    int32_t code = 0;
    ASSERT_TRUE(record.GetFieldInt(&code, 0));
    EXPECT_EQ(code, 5);
    EXPECT_TRUE(DbDeleteByCode(DbGoods, 6)) << "an integer code is found by its text";
}

TEST_F(DbTest, LongValuesAreCutTo254Characters) {
    const std::string path = OpenNew(DbHelp);
    const std::string longName(300, 'n');
    RawExec(path, "INSERT INTO FieldsTable(s00, s01) VALUES('1', '" + longName + "')");
    CNVRecord record;
    ASSERT_TRUE(DbFindByCode(DbHelp, &record, 1));
    EXPECT_EQ(record.Value(1).size(), 254u);
    std::string cyrillic;
    for (int i = 0; i < 300; ++i) cyrillic += "ж";
    ASSERT_EQ(Save(DbHelp, {{0, "2"}, {1, std::string(400, 'm')}, {21, cyrillic}}), 0);
    const auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][1], std::string(254, 'm'));
    EXPECT_EQ(tq::Utf8ToCp1251(rows[1][21]).size(), 254u) << "254 characters of code page 1251, whatever UTF-8 takes";
}

TEST_F(DbTest, ABlockWithoutTerminatorsIsSafe) {
    const std::string path = OpenNew(DbResources);
    FieldBlock block;
    for (auto& slot : block.slot) std::memset(slot, '7', sizeof slot);
    block.slot[0][0] = block.slot[0][1] = 'x';
    EXPECT_EQ(DbSave(DbResources, &block), kResourcesNotSaved) << "254 digits are no code the lookup can find";
    EXPECT_TRUE(RawRows(path).empty());
    std::strcpy(block.slot[0], "xx7");
    if (OnJet()) {
        // 40 values of 254 characters are more than a Jet row holds.
        EXPECT_EQ(DbSave(DbResources, &block), kResourcesNotSaved);
        EXPECT_NE(DbRecordset(DbResources)->LastEngineError().find(tq::Cp("слишком велика")), std::string::npos);
        EXPECT_TRUE(RawRows(path).empty());
        for (int i = 11; i < kFieldCount; ++i) block.slot[i][0] = '\0';
    }
    EXPECT_EQ(DbSave(DbResources, &block), 0);
    const auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1].size(), 254u);
    EXPECT_EQ(DbSave(DbResources, nullptr), kResourcesNotSaved);
}

TEST_F(DbTest, AReadOnlyFileListsButRefusesWrites) {
    const std::string path = OpenNew(DbGoods);
    ASSERT_EQ(Save(DbGoods, {{0, "1"}, {2, "keep"}}), 0);
    DbReleaseAll();
#ifdef _WIN32
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
#else
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    chmod(dir_.c_str(), 0555);
#endif
    if (FILE* f = std::fopen(path.c_str(), "r+b")) {
        std::fclose(f);
        GTEST_SKIP() << "this user may write to read-only files (root)";
    }
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    EXPECT_EQ(DbCount(DbGoods), 1);
    EXPECT_EQ(Save(DbGoods, {{0, "2"}}), kGoodsNotSaved);
    EXPECT_EQ(Save(DbGoods, {{0, "1"}, {2, "changed"}}), kGoodsNotSaved);
    EXPECT_FALSE(DbDeleteByCode(DbGoods, 1));
    DbReleaseAll();
#ifdef _WIN32
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
    const auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][2], "keep");
}

TEST_F(DbTest, AFileLockedForWritingByAnotherConnectionRefusesWrites) {
    const std::string path = OpenNew(DbSells);
    ASSERT_EQ(Save(DbSells, {{0, "00000001"}, {1, "keep"}}), 0);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(Save(DbSells, {{0, "00000002"}}), kSellsNotSaved);
    EXPECT_FALSE(DbDeleteByCode(DbSells, 1));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(Save(DbSells, {{0, "00000002"}}), 0) << "writes work again once the lock is gone";
    const auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], "keep");
}

}  // namespace tq::viewer::test
