// What the data core promises about the files it is given: reading leaves a
// file as it was and reads it wherever it lies, a save rewrites only what was
// changed, every stored code can be found again, a failed clear says so, and
// nothing is written into a file that is no longer at its path.
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/file_path.h"
#include "core/recordset.h"
#include "db_fixture.h"
#include "raw_file.h"

#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#endif

namespace tq::viewer::test {

namespace fs = std::filesystem;

namespace {

// Every column of every row with its type, as quote() shows it: 'text',
// NULL, 7, X'4142'. Compares what is stored to the byte.
std::vector<std::string> Dump(const std::string& path) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        std::string sql = "SELECT ";
        for (int i = 0; i < kFieldCount; ++i) sql += (i ? ",quote(s" : "quote(s") + std::string(i < 10 ? "0" : "") + std::to_string(i) + ")";
        sql += " FROM FieldsTable ORDER BY rowid";
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                std::string row;
                for (int i = 0; i < kFieldCount; ++i)
                    row += std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i))) + "|";
                rows.push_back(row);
            }
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return rows;
}

bool Exists(const std::string& path) { return fs::exists(path); }


char JournalModeByte(const std::string& path) {
    const std::string bytes = ReadBytes(path);
    return bytes.size() > 18 ? bytes[18] : 0;
}

}  // namespace

class DataSafetyTest : public DbTest {
protected:
    // Five goods as the sample folder has them, written through the core.
    std::string GoodsWithFiveRows() {
        const std::string path = OpenNew(DbGoods);
        for (const char* code : {"1", "2", "3", "10", "11"}) EXPECT_EQ(Save(DbGoods, {{0, code}, {2, "товар"}}), 0);
        DbReleaseAll();
        return path;
    }

    // Makes the folder refuse every new file: a read-only bind mount of it
    // in this process's own mount namespace where the test may make one
    // (root on Linux); else write-protected file and folder, with folders
    // standing where SQLite would put its journal, log and shared memory,
    // which refuses them to root as well.
    void MakeFolderReadOnly(const std::vector<std::string>& databases) {
#ifndef _WIN32
        if (unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            mount(dir_.c_str(), dir_.c_str(), nullptr, MS_BIND, nullptr) == 0) {
            if (mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0) {
                mounted_ = true;
                RecordProperty("read_only_folder", "bind mount");
                return;
            }
            umount(dir_.c_str());
        }
#endif
        RecordProperty("read_only_folder", "write-protected file, journal refused");
        for (const std::string& database : databases) {
            for (const char* suffix : {"-journal", "-wal", "-shm"})
                if (!Exists(database + suffix)) fs::create_directory(database + suffix);
            fs::permissions(database, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                            fs::perm_options::remove);
        }
    }

    void TearDown() override {
        DbReleaseAll();
#ifndef _WIN32
        if (mounted_) umount(dir_.c_str());
#endif
        DbTest::TearDown();
    }

    bool mounted_ = false;
};

TEST_F(DataSafetyTest, ListingCountingAndFindingLeaveTheFileAsItWas) {
    const std::string path = GoodsWithFiveRows();
    EXPECT_EQ(JournalModeByte(path), 1) << "a file we wrote is left with a rollback journal";
    EXPECT_FALSE(Exists(path + "-wal") || Exists(path + "-shm")) << "no log or shared memory left behind";
    const Snapshot before = Take(path);

    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    EXPECT_EQ(ListCodes(DbGoods), (std::vector<std::string>{"1", "10", "11", "2", "3"}));
    CNVRecord record;
    EXPECT_TRUE(DbFindByCode(DbGoods, &record, 10));
    EXPECT_EQ(record.Value(0), "10");
    EXPECT_TRUE(DbFindByCode(DbGoods, &record, 99));
    DbReleaseAll();

    EXPECT_TRUE(Take(path) == before) << "bytes and modification time unchanged after reading";
    EXPECT_FALSE(Exists(path + "-wal") || Exists(path + "-shm") || Exists(path + "-journal"));
}

TEST_F(DataSafetyTest, AReadOnlyFolderListsEveryRowAndRefusesWrites) {
    const std::string path = GoodsWithFiveRows();
    // A file another program left in write-ahead-log mode, its log checkpointed.
    const std::string walPath = PathOf("wal.mdb");
    ASSERT_TRUE(CreateSqliteDatabase(walPath));
    RawExec(walPath, "PRAGMA journal_mode=WAL; INSERT INTO FieldsTable(s00,s01) VALUES('1','x'),('2','y')");
    ASSERT_EQ(JournalModeByte(walPath), 2);
    ASSERT_FALSE(Exists(walPath + "-wal"));
    const std::vector<std::string> rows = Dump(path);
    const Snapshot before = Take(path);
    MakeFolderReadOnly({path, walPath});

    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    int32_t count = -1;
    EXPECT_TRUE(DbCountChecked(DbGoods, &count));
    EXPECT_EQ(count, 5) << "every row of a database we wrote to, listed in a read-only folder";
    EXPECT_EQ(ListCodes(DbGoods).size(), 5u);
    EXPECT_EQ(Save(DbGoods, {{0, "12"}}), kGoodsNotSaved);
    EXPECT_EQ(Save(DbGoods, {{0, "1"}, {2, "changed"}}), kGoodsNotSaved);
    EXPECT_FALSE(DbDeleteByCode(DbGoods, 1));
    std::array<bool, kDatabaseCount> goods{};
    goods[DbGoods] = true;
    EXPECT_FALSE(DbClear(goods)) << "a clear that cannot delete says so";

    ASSERT_EQ(DbOpen(DbHelp, walPath.c_str()), 0);
    EXPECT_TRUE(DbCountChecked(DbHelp, &count));
    EXPECT_EQ(count, 2) << "a write-ahead-log file without its log reads in a read-only folder";
    DbReleaseAll();

    EXPECT_EQ(Dump(path), rows);
    EXPECT_TRUE(Take(path) == before);
}

TEST_F(DataSafetyTest, AFileThatCannotBeReadIsAFailureNotAnEmptyDatabase) {
    const std::string view = PathOf("view.mdb");
    RawExec(view, "CREATE TABLE Rows(" + std::string("s00 TEXT,s01 TEXT,s02 TEXT,s03 TEXT,s04 TEXT,s05 TEXT,s06 TEXT,"
                  "s07 TEXT,s08 TEXT,s09 TEXT,s10 TEXT,s11 TEXT,s12 TEXT,s13 TEXT,s14 TEXT,s15 TEXT,s16 TEXT,s17 TEXT,"
                  "s18 TEXT,s19 TEXT,s20 TEXT,s21 TEXT,s22 TEXT,s23 TEXT,s24 TEXT,s25 TEXT,s26 TEXT,s27 TEXT,s28 TEXT,"
                  "s29 TEXT,s30 TEXT,s31 TEXT,s32 TEXT,s33 TEXT,s34 TEXT,s35 TEXT,s36 TEXT,s37 TEXT,s38 TEXT,s39 TEXT,"
                  "s40 TEXT); INSERT INTO Rows(s00) VALUES('1'); CREATE VIEW FieldsTable AS SELECT * FROM Rows"));
    const std::string text = PathOf("text.mdb");
    std::ofstream(text) << "not a database";
    for (const std::string& path : {view, text}) {
        ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0) << path << ": the file is there";
        int32_t count = -1;
        EXPECT_FALSE(DbCountChecked(DbGoods, &count)) << path;
        EXPECT_EQ(count, 0);
        CNVRecord record;
        EXPECT_FALSE(DbFindByCode(DbGoods, &record, 1)) << path << ": a lookup that could not run is no 'not found'";
        DbReleaseAll();
    }
    EXPECT_STREQ(sqlite3_libversion(), SQLITE_VERSION) << "the SQLite that is linked is the one compiled against";
}

TEST_F(DataSafetyTest, ASaveRewritesOnlyTheColumnsThatChanged) {
    const std::string path = OpenNew(DbGoods);
    const std::string longText(300, 'L');
    RawExec(path, "INSERT INTO FieldsTable(s00,s01,s02,s03,s04,s05,s06,s07) VALUES"
                  "('7','4600000000017','Чай 龙井','naïve',NULL,7,2.5,'" + longText + "')");
    const std::vector<std::string> before = Dump(path);

    // The editor's round trip: the record as read, one column changed.
    CNVRecord record;
    ASSERT_TRUE(DbFindByCode(DbGoods, &record, 7));
    FieldBlock block;
    SetBlockSlot(block, 0, ("xx" + record.Value(0)).c_str());
    for (int i = 1; i < kFieldCount; ++i) SetBlockSlot(block, i, record.Value(i).c_str());
    SetBlockSlot(block, 11, "15");
    ASSERT_EQ(DbSave(DbGoods, &block), 0);
    DbReleaseAll();

    std::string expected = before[0];
    const std::string column11 = "NULL|";
    size_t at = 0;
    for (int i = 0; i < 11; ++i) at = expected.find('|', at) + 1;
    expected.replace(at, column11.size(), "'15'|");
    ASSERT_EQ(Dump(path).size(), 1u);
    EXPECT_EQ(Dump(path)[0], expected) << "only s11 changed; Chinese, accents, NULL, numbers and 300 bytes stay";

    // A column the engineer did change is saved as shown, '?' and all.
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    ASSERT_TRUE(DbFindByCode(DbGoods, &record, 7));
    EXPECT_EQ(U(record.Value(2)), "Чай ??");
    SetBlockSlot(block, 2, (record.Value(2) + "!").c_str());
    ASSERT_EQ(DbSave(DbGoods, &block), 0);
    EXPECT_EQ(RawRows(path)[0][2], "Чай ??" "!");
    EXPECT_EQ(RawRows(path)[0][3], "naïve");
}

TEST_F(DataSafetyTest, ACodeTheLookupCannotFindAgainIsRefused) {
    const std::string goods = OpenNew(DbGoods);
    const std::string sells = OpenNew(DbSells);
    for (const char* code : {"-1", "+5", "1e3", "4294967297", "12abc", "0x10", "1 2", "4294967296"})
        EXPECT_EQ(Save(DbGoods, {{0, code}}), kGoodsNotSaved) << code;
    EXPECT_EQ(Save(DbSells, {{0, "42"}}), kSellsNotSaved) << "a sales code is found as eight digits only";
    EXPECT_TRUE(RawRows(goods).empty()) << "nothing stored for a refused code";

    for (const char* code : {"2147483648", "4294967295", " 0042 "}) EXPECT_EQ(Save(DbGoods, {{0, code}}), 0) << code;
    EXPECT_EQ(Save(DbSells, {{0, "00000042"}}), 0);
    EXPECT_EQ(Save(DbSells, {{0, "123456789"}}), 0);
    CNVRecord record;
    for (uint32_t code : {2147483648u, 4294967295u, 42u}) {
        ASSERT_TRUE(DbFindByCode(DbGoods, &record, static_cast<int32_t>(code)));
        EXPECT_EQ(record.Value(0), std::to_string(code)) << "found again";
        EXPECT_TRUE(DbDeleteByCode(DbGoods, static_cast<int32_t>(code))) << code;
    }
    ASSERT_TRUE(DbFindByCode(DbSells, &record, 123456789));
    EXPECT_EQ(record.Value(0), "123456789");

    // Rows that some other program stored with such codes stay listed and untouched.
    RawExec(goods, "INSERT INTO FieldsTable(s00,s02) VALUES('12abc','keep'),('-1','keep')");
    EXPECT_EQ(ListCodes(DbGoods), (std::vector<std::string>{"-1", "12abc"}));
    EXPECT_EQ(RawRows(goods).size(), 2u);

    uint32_t code = 0;
    EXPECT_TRUE(IsLookupCode(DbSells, "00000012", &code));
    EXPECT_EQ(code, 12u);
    EXPECT_FALSE(IsLookupCode(DbGoods, "00000012", nullptr)) << "would be looked up as 12";
    EXPECT_FALSE(IsLookupCode(DbGoods, "0", nullptr));
    EXPECT_FALSE(IsLookupCode(DbGoods, "", nullptr));
}

TEST_F(DataSafetyTest, AClearThatCannotDeleteReportsIt) {
    const std::string path = OpenNew(DbLabels);
    ASSERT_EQ(Save(DbLabels, {{0, "1"}, {1, "keep"}}), 0);
    ASSERT_EQ(Save(DbLabels, {{0, "*"}, {1, "hidden"}}), kLabelsNotSaved) << "'*' is no code";
    RawExec(path, "INSERT INTO FieldsTable(s00,s01) VALUES('*','not listed, but a row')");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::array<bool, kDatabaseCount> labels{};
    labels[DbLabels] = true;
    EXPECT_FALSE(DbClear(labels)) << "another program holds a write transaction";
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(RawRows(path).size(), 2u);
    EXPECT_TRUE(DbClear(labels));
    EXPECT_TRUE(RawRows(path).empty()) << "the unlisted '*' row is cleared too";
}

TEST_F(DataSafetyTest, AFileRemovedOrReplacedIsNeverWrittenTo) {
    const std::string path = OpenNew(DbGoods);
    ASSERT_EQ(Save(DbGoods, {{0, "1"}, {2, "old"}}), 0);
    ASSERT_EQ(ListCodes(DbGoods).size(), 1u);
    const std::string aside = PathOf("aside.mdb");
    if (std::rename(path.c_str(), aside.c_str()) != 0)
        GTEST_SKIP() << "the open file cannot be moved here, so it cannot be replaced under the engine either";
    for (const char* suffix : {"-wal", "-shm"}) std::rename((path + suffix).c_str(), (aside + suffix).c_str());

    // Gone: listing is a failure and a save creates nothing.
    int32_t count = -1;
    EXPECT_FALSE(DbCountChecked(DbGoods, &count));
    EXPECT_EQ(Save(DbGoods, {{0, "1"}, {2, "lost?"}}), kGoodsNotSaved);
    EXPECT_FALSE(Exists(path));

    // Replaced: the new file is read and written, the old one never again.
    ASSERT_TRUE(CreateSqliteDatabase(path));
    RawExec(path, "INSERT INTO FieldsTable(s00,s02) VALUES('1','new'),('2','new')");
    EXPECT_EQ(ListCodes(DbGoods), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(Save(DbGoods, {{0, "1"}, {2, "edited"}}), 0);
    DbReleaseAll();
    EXPECT_EQ(RawRows(path).size(), 2u) << "the row replaced, not appended beside the new file's own";
    EXPECT_EQ(RawRows(path)[0][2], "edited");
    EXPECT_EQ(RawRows(aside).size(), 1u);
    EXPECT_EQ(RawRows(aside)[0][2], "old");
}

TEST_F(DataSafetyTest, AFileReplacedDuringABatchGetsNoneOfIt) {
    const std::string path = OpenNew(DbHelp);
    ASSERT_TRUE(DbBeginBatch(DbHelp));
    ASSERT_EQ(Save(DbHelp, {{0, "1"}}), 0);
    const std::string aside = PathOf("aside.mdb");
    if (std::rename(path.c_str(), aside.c_str()) != 0) GTEST_SKIP() << "the open file cannot be moved here";
    for (const char* suffix : {"-wal", "-shm"}) std::rename((path + suffix).c_str(), (aside + suffix).c_str());
    ASSERT_TRUE(CreateSqliteDatabase(path));
    EXPECT_FALSE(DbEndBatch(DbHelp)) << "the batch's commit notices the file is gone";
    DbReleaseAll();
    EXPECT_TRUE(RawRows(aside).empty());
    EXPECT_TRUE(RawRows(path).empty());
}

}  // namespace tq::viewer::test
