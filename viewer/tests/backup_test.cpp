// The backup made before every clear, generation and restore: named by the
// time, whole and openable, ten kept, refused with nothing changed where it
// cannot be made, and put back only into its own database.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/backup.h"
#include "core/test_records.h"
#include "core/file_path.h"
#include "db_fixture.h"
#include "jet_raw.h"
#include "other_writer.h"
#include "private_mount.h"
#include "raw_file.h"

namespace tq::viewer::test {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

long RowsIn(const std::string& path) {
    auto engine = OpenDbEngine(path);
    auto table = engine ? engine->OpenDynaset(RowQuery::WholeTable(-1)) : nullptr;
    long count = -1;
    return table && table->GetRecordCount(&count) ? count : -1;
}

}  // namespace

class BackupTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        SetBackupClock([this] { return now_; });
    }
    void TearDown() override {
        SetBackupClock(nullptr);
        DbReleaseAll();
#ifndef _WIN32
        if (mounted_) umount(backupDir().c_str());
#endif
        DbTest::TearDown();
    }

    // Goods with three rows, open; returns the file's path.
    std::string GoodsWithThreeRows() {
        const std::string path = OpenNew(DbGoods);
        for (const char* code : {"1", "2", "10"}) EXPECT_EQ(Save(DbGoods, {{0, code}, {2, "товар «Ёж»; \"1\""}}), 0);
        return path;
    }
    std::string backupDir() const { return PathOf("Backup"); }
    // The change a clear makes, for DbChangeWithBackup.
    static bool ClearGoods(std::string*) {
        std::array<bool, kDatabaseCount> goods{};
        goods[DbGoods] = true;
        return DbClear(goods);
    }
    std::string Backup() {
        std::string path, why;
        EXPECT_TRUE(DbBackup(DbGoods, &path, &why)) << U(why);
        return path;
    }
    void Tick() {
        if (++now_.second == 60) {
            now_.second = 0;
            ++now_.minute;
        }
    }

    // Mounts a file system of the given options on the Backup folder, in this
    // process's own mount namespace; false where the test may not (not root,
    // not Linux).
    bool MountOnBackupFolder(const char* type, unsigned long flags, const char* options) {
        fs::create_directory(backupDir());
        return MountPrivately(backupDir(), type, flags, options, &mounted_);
    }

    // A refused backup leaves the database as it was, to its modification
    // time, the rows listed, and no copy, whole or partial.
    void ExpectRefusedWithNothingChanged(const std::string& path, const char* what) {
        const Snapshot before = Take(path);
        std::string backup, why;
        EXPECT_FALSE(DbBackup(DbGoods, &backup, &why)) << what;
        EXPECT_FALSE(why.empty()) << what << ": a refusal says why";
        EXPECT_EQ(U(BackupFailedText(why)).rfind("Не удалось сохранить резервную копию БД: ", 0), 0u);
        EXPECT_TRUE(Take(path) == before) << what << ": the database file is untouched";
        EXPECT_EQ(ListCodes(DbGoods), (std::vector<std::string>{"1", "10", "2"})) << what;
        if (fs::is_directory(backupDir())) {
            EXPECT_EQ(NamesIn(backupDir()).size(), 0u) << what << ": nothing left behind";
        }
    }

    BackupTime now_{2026, 12, 8, 17, 40, 5};
    bool mounted_ = false;
};

TEST_F(BackupTest, ACopyIsMadeInAFolderOfItsOwnNamedByTheTimeAndOpensAsItIs) {
    const std::string path = GoodsWithThreeRows();
    ASSERT_FALSE(fs::exists(backupDir()));
    const std::string backup = Backup();
    EXPECT_EQ(fs::path(backup), fs::path(PathOf("Backup/db0.mdb.20261208-174005.bak")));
    EXPECT_EQ(RawRows(backup), RawRows(path)) << "the copy holds the rows as stored";
    if (!OnJet()) {
        EXPECT_EQ(ReadBytes(backup)[18], 1) << "the copy has a rollback journal, to open anywhere";
    }

    // Two in one second both stay, and sort in the order they were made.
    ASSERT_EQ(Save(DbGoods, {{0, "11"}}), 0);
    const std::string second = Backup();
    EXPECT_EQ(fs::path(second).filename(), "db0.mdb.20261208-174005_02.bak");
    const std::vector<BackupInfo> listed = ListBackups(path);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(fs::path(listed[0].path), fs::path(backup));
    EXPECT_EQ(listed[0].when, "08.12.2026 17:40:05");
    EXPECT_EQ(listed[0].rows, 3);
    EXPECT_EQ(listed[1].rows, 4);
}

TEST_F(BackupTest, TheNewestTenAreKeptAndTheOldestGoesOnlyAfterANewOneIsWhole) {
    const std::string path = GoodsWithThreeRows();
    std::vector<std::string> made;
    for (int i = 0; i < 12; ++i, Tick()) made.push_back(fs::path(Backup()).filename().string());
    const std::vector<std::string> newest(made.end() - kBackupsKept, made.end());
    EXPECT_EQ(NamesIn(backupDir()), newest) << "the two oldest were removed";
    fs::copy_file(path, PathOf("Backup/other.mdb.20200101-000000.bak"));
    std::ofstream(PathOf("Backup/db0.mdb.notes.txt")) << "the engineer's";

    // A copy that cannot be made, the file locked by another program, takes
    // none of the ten with it.
    DbReleaseAll();
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    std::string why;
    EXPECT_FALSE(DbBackup(DbGoods, nullptr, &why)) << "a database locked by another program";
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    std::vector<std::string> expected = newest;
    expected.insert(expected.begin(), "db0.mdb.notes.txt");
    expected.push_back("other.mdb.20200101-000000.bak");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NamesIn(backupDir()), expected) << "nothing removed, no partial copy, other files left alone";
}

// A change killed after its copy was made leaves a copy of what the database
// still holds; a run of them once pushed the one copy of an older state out.
TEST_F(BackupTest, RepeatedCopiesGoBeforeAnyDistinctOlderState) {
    GoodsWithThreeRows();
    std::string first, why;
    ASSERT_EQ(DbChangeWithBackup(DbGoods, "", ClearGoods, &first, &why), ChangeOutcome::Done) << U(why);
    Tick();
    for (int i = 0; i < 12; ++i, Tick()) Backup();  // the emptied database, again and again
    const std::vector<std::string> names = NamesIn(backupDir());
    EXPECT_NE(std::find(names.begin(), names.end(), fs::path(first).filename().string()), names.end())
        << "the only copy of the three records stays";
    EXPECT_EQ(RowsIn(first), 3);
    ASSERT_EQ(Save(DbGoods, {{0, "5"}}), 0);
    std::string second;
    ASSERT_EQ(DbChangeWithBackup(DbGoods, "", ClearGoods, &second, &why), ChangeOutcome::Done) << U(why);
    EXPECT_TRUE(fs::exists(first) && fs::exists(second)) << "both distinct states kept";
}

// Test records are one change: one refused half-way leaves the records
// that were there, and a single copy of them.
TEST_F(BackupTest, AGenerationRefusedHalfWayLeavesTheDatabaseAsItWas) {
    GoodsWithThreeRows();
    std::string backup, why;
    int64_t refused = 0;
    std::vector<int64_t> told;
    EXPECT_EQ(GenerateTestRecords(DbGoods, 250, [&](int64_t n) { told.push_back(n); }, &backup, &refused, &why),
              ChangeOutcome::Done) << U(why);
    EXPECT_EQ(told, (std::vector<int64_t>{100, 200, 250}));
    EXPECT_EQ(DbTableRows(DbGoods), 250);
    // The users database refuses every test record: a user needs a name.
    OpenNew(DbUsers);
    ASSERT_EQ(Save(DbUsers, {{0, "1"}, {1, "Яна"}, {3, "1111"}}), 0);
    EXPECT_EQ(GenerateTestRecords(DbUsers, 5, nullptr, &backup, &refused, &why), ChangeOutcome::Failed);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(DbTableRows(DbUsers), 1) << "the user is still there";
}

TEST_F(BackupTest, AFileWhereTheBackupFolderShouldBeRefusesTheBackup) {
    const std::string path = GoodsWithThreeRows();
    std::ofstream(backupDir()) << "a file where the folder should be";
    ExpectRefusedWithNothingChanged(path, "Backup is a file");
}

TEST_F(BackupTest, AReadOnlyOrFullBackupFolderRefusesTheBackup) {
#ifdef _WIN32
    GTEST_SKIP() << "a read-only or full folder needs a mount";
#else
    const std::string path = GoodsWithThreeRows();
    if (!MountOnBackupFolder(nullptr, MS_RDONLY, nullptr)) GTEST_SKIP() << "no read-only mount here (not root)";
    ExpectRefusedWithNothingChanged(path, "read-only Backup folder");
    umount(backupDir().c_str());
    mounted_ = false;

    // A full disk: a small file system holds the placeholder, not the copy.
    for (int n = 100; n < 400; ++n) ASSERT_EQ(Save(DbGoods, {{0, std::to_string(n)}, {2, std::string(200, 'x')}}), 0);
    ASSERT_TRUE(MountOnBackupFolder("tmpfs", 0, "size=32k"));
    const Snapshot before = Take(path);
    std::string why;
    EXPECT_FALSE(DbBackup(DbGoods, nullptr, &why)) << "a full Backup folder";
    EXPECT_TRUE(Take(path) == before);
    EXPECT_EQ(NamesIn(backupDir()).size(), 0u) << "the partial copy is removed";
#endif
}

TEST_F(BackupTest, RestorePutsTheRowsBackAfterBackingUpTheCurrentFile) {
    const std::string path = GoodsWithThreeRows();
    const auto rows = RawRows(path);
    const std::string backup = Backup();
    std::array<bool, kDatabaseCount> goods{};
    goods[DbGoods] = true;
    ASSERT_TRUE(DbClear(goods));
    ASSERT_EQ(Save(DbGoods, {{0, "77"}}), 0);
    Tick();

    std::string saved, why;
    ASSERT_TRUE(DbRestore(DbGoods, backup, &saved, &why)) << U(why);
    EXPECT_EQ(RawRows(path), rows) << "the rows of the backup, as stored";
    EXPECT_EQ(ListCodes(DbGoods), (std::vector<std::string>{"1", "10", "2"}));
    EXPECT_EQ(RowsIn(saved), 1) << "the file as it was before the restore is kept";
    EXPECT_EQ(Save(DbGoods, {{0, "5"}}), 0) << "the restored database takes saves";
    EXPECT_EQ(ListCodes(DbGoods).size(), 4u);
}

TEST_F(BackupTest, RestoreRefusesWhatIsNotABackupOfThisDatabase) {
    const std::string path = GoodsWithThreeRows();
    OpenNew(DbUsers);
    ASSERT_EQ(Save(DbUsers, {{0, "1"}, {1, "Анна"}, {3, "1234"}}), 0);
    std::string usersBackup, why;
    ASSERT_TRUE(DbBackup(DbUsers, &usersBackup, &why)) << U(why);
    const std::string renamedUsers = PathOf("Backup/db0.mdb.20261208-174006.bak");
    fs::copy_file(usersBackup, renamedUsers);
    const std::string text = PathOf("Backup/db0.mdb.20261208-174007.bak");
    std::ofstream(text) << "SQLite format 3 is what this text is not";
    const Snapshot before = Take(path);

    for (const std::string& wrong : {usersBackup, text, PathOf("db0.mdb"), PathOf("Backup/db0.mdb.bak")}) {
        std::string saved;
        EXPECT_FALSE(DbRestore(DbGoods, wrong, &saved, &why)) << wrong;
        EXPECT_FALSE(why.empty()) << wrong;
    }
    EXPECT_TRUE(Take(path) == before) << "a refused restore changes nothing";
    EXPECT_EQ(ListBackups(path).size(), 2u) << "and backs nothing up: only the two planted files are listed";
    EXPECT_EQ(ListBackups(path)[1].rows, -1) << "the text file is listed as unreadable";
    // A users copy under a goods name opens as a database of the same kind:
    // its rows go in, as what the engineer chose; the goods before it are kept.
    std::string saved;
    EXPECT_TRUE(DbRestore(DbGoods, renamedUsers, &saved, &why)) << U(why);
    EXPECT_EQ(RowsIn(saved), 3);
}

TEST_F(BackupTest, RestoringTheOldestOfTenKeepsItAndARestoreThatCannotGoAheadAddsNoCopy) {
    const std::string path = GoodsWithThreeRows();
    for (int i = 0; i < kBackupsKept; ++i, Tick()) Backup();
    const std::vector<std::string> ten = NamesIn(backupDir());
    const std::string oldest = PathOf("Backup/" + ten.front());
    std::array<bool, kDatabaseCount> goods{};
    goods[DbGoods] = true;
    ASSERT_TRUE(DbClear(goods));

    std::string saved, why;
    ASSERT_TRUE(DbRestore(DbGoods, oldest, &saved, &why)) << U(why);
    EXPECT_EQ(ListCodes(DbGoods), (std::vector<std::string>{"1", "10", "2"}));
    EXPECT_TRUE(fs::exists(oldest)) << "the copy restored is never rotated away";
    EXPECT_TRUE(fs::exists(saved)) << "nor the copy just made";
    EXPECT_EQ(NamesIn(backupDir()).size(), static_cast<size_t>(kBackupsKept));
    EXPECT_EQ(RowsIn(saved), 0);

    if (OnJet()) return;  // the lock below is SQLite's
    // Locked by another program: refused before any copy is made.
    Tick();
    const std::vector<std::string> before = NamesIn(backupDir());
    const Snapshot file = Take(path);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(DbRestore(DbGoods, oldest, &saved, &why));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(U(why).rfind("БД не открывается для записи", 0), 0u) << U(why);
    EXPECT_EQ(NamesIn(backupDir()), before) << "a refused restore adds no copy and removes none";
    EXPECT_TRUE(Take(path) == file);
}

TEST_F(BackupTest, ACopyThatSortsOldestIsNotRemovedByItsOwnRotation) {
    const std::string path = GoodsWithThreeRows();
    // The clock was a day ahead for ten copies, then put right.
    now_.day = 9;
    for (int i = 0; i < kBackupsKept; ++i, Tick()) Backup();
    now_.day = 8;
    std::string backup, why;
    ASSERT_EQ(DbChangeWithBackup(DbGoods, std::string(), ClearGoods, &backup, &why), ChangeOutcome::Done) << U(why);
    ASSERT_TRUE(fs::exists(backup)) << "the copy of the rows the clear removed";
    EXPECT_EQ(RowsIn(backup), 3);
    EXPECT_EQ(ListCodes(DbGoods).size(), 0u);
    EXPECT_EQ(NamesIn(backupDir()).size(), static_cast<size_t>(kBackupsKept));
    EXPECT_EQ(fs::path(ListBackups(path).back().path), fs::path(backup)) << "listed as the newest, which it is";

    // The next copies after the clock was put back each keep the one before:
    // those stamped later than the clock were made before it went back, and
    // go first.
    Tick();
    ASSERT_EQ(Save(DbGoods, {{0, "501"}}), 0);
    std::string second;
    ASSERT_EQ(DbChangeWithBackup(DbGoods, std::string(), ClearGoods, &second, &why), ChangeOutcome::Done) << U(why);
    EXPECT_TRUE(fs::exists(backup)) << "the copy made after the clock went back stays";
    EXPECT_TRUE(fs::exists(second));
    EXPECT_EQ(fs::path(ListBackups(path).back().path), fs::path(second));
}

TEST_F(BackupTest, CopiesKeepTheOrderTheyWereMadeInWhenTheClockGoesBackAndCatchesUp) {
    const std::string path = GoodsWithThreeRows();
    // The autumn's hour: ten copies from 02:00 to 02:45, then the clock goes
    // back to 02:05 and two more follow. The ones that go are the oldest made
    // (02:00, 02:05), not the newest made.
    std::vector<std::string> made;
    now_ = {2026, 10, 25, 2, 0, 0};
    const auto step = [&](int minute) {
        now_.minute = minute;
        ASSERT_EQ(Save(DbGoods, {{0, std::to_string(1000 + made.size())}}), 0);
        std::string backup, why;
        ASSERT_EQ(DbChangeWithBackup(DbGoods, std::string(), ClearGoods, &backup, &why), ChangeOutcome::Done) << U(why);
        made.push_back(fs::path(backup).filename().string());
    };
    for (int minute = 0; minute < 50; minute += 5) step(minute);
    step(5);
    step(10);
    std::vector<std::string> expected(made.end() - kBackupsKept, made.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NamesIn(backupDir()), expected);
    EXPECT_EQ(fs::path(ListBackups(path).back().path).filename(), made.back()) << "listed newest last";

    // Clears of a database that is empty already change nothing: their
    // copies would be the same as the last, and push distinct ones out.
    std::string emptied, why;
    ASSERT_EQ(DbChangeWithBackup(DbGoods, std::string(), ClearGoods, &emptied, &why), ChangeOutcome::Done);
    const std::vector<std::string> before = NamesIn(backupDir());
    for (int i = 0; i < 3; ++i) {
        std::string backup;
        ASSERT_EQ(DbChangeWithBackup(DbGoods, std::string(), ClearGoods, &backup, &why), ChangeOutcome::Done);
        EXPECT_EQ(fs::path(backup), fs::path(emptied)) << "the copy that already holds this state stands for it";
    }
    EXPECT_EQ(NamesIn(backupDir()), before);
}

TEST_F(BackupTest, ManyCopiesInOneSecondNeverTakeAFreedNameAgain) {
    GoodsWithThreeRows();
    std::vector<std::string> made;
    for (int i = 0; i < kBackupsKept + 3; ++i) {
        ASSERT_EQ(Save(DbGoods, {{0, std::to_string(100 + i)}}), 0);
        made.push_back(fs::path(Backup()).filename().string());
        EXPECT_EQ(fs::path(ListBackups(PathOf("db0.mdb")).back().path).filename(), made.back())
            << "the copy just made sorts newest";
    }
    EXPECT_EQ(made[kBackupsKept], "db0.mdb.20261208-174005_11.bak");
    EXPECT_EQ(NamesIn(backupDir()), std::vector<std::string>(made.end() - kBackupsKept, made.end()))
        << "the newest ten, as they were made";
}

TEST_F(BackupTest, AFailedChangeKeepsNoCopyAndACopyThatVanishesStopsTheChange) {
    const std::string path = GoodsWithThreeRows();
    const auto rows = RawRows(path);
    std::string backup, why;
    const auto refuse = [](std::string* failure) {
        *failure = "no";
        return false;
    };
    EXPECT_EQ(DbChangeWithBackup(DbGoods, std::string(), refuse, &backup, &why), ChangeOutcome::Failed);
    EXPECT_EQ(NamesIn(backupDir()).size(), 0u) << "nothing changed, so no copy either";

    // Another program removes the copy, cuts it short, or writes into it
    // (its size and row count the same) while the clear runs.
    for (const int way : {0, 1, 2}) {
        const bool truncate = way == 1;
        const auto clearAfterCopyGoes = [&](std::string*) {
            for (const std::string& name : NamesIn(backupDir())) {
                const std::string copy = PathOf("Backup/" + name);
                if (way == 0) fs::remove(copy);
                if (way == 1) std::ofstream(copy, std::ios::trunc);
                if (way == 2) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a later modification time
                    std::fstream(copy, std::ios::in | std::ios::out | std::ios::binary).seekp(200).put('x');
                }
            }
            std::array<bool, kDatabaseCount> goods{};
            goods[DbGoods] = true;
            return DbClear(goods);
        };
        EXPECT_EQ(DbChangeWithBackup(DbGoods, std::string(), clearAfterCopyGoes, &backup, &why), ChangeOutcome::Failed)
            << way;
        EXPECT_EQ(RawRows(path), rows) << "the clear is taken back: its copy is gone or changed, " << way << (truncate ? " (cut short)" : "");
        for (const std::string& name : NamesIn(backupDir())) fs::remove(PathOf("Backup/" + name));
    }
}

TEST_F(BackupTest, ARestoreFromACopyThatCannotBeReadWholeChangesNothing) {
    const std::string path = GoodsWithThreeRows();
    const std::string odd = PathOf("Backup/db0.mdb.20261208-100000.bak");
    fs::create_directory(backupDir());
    const std::string otherShape = "CREATE TABLE FieldsTable (s00 TEXT(255), s01 TEXT(255))";
    if (OnJet()) {
        ASSERT_TRUE(JetCreateWithTable(odd, otherShape));
        ASSERT_TRUE(JetAppendRow(odd, {{0, "5"}, {1, "x"}}));
    } else {
        RawExec(odd, otherShape + "; INSERT INTO FieldsTable VALUES('5','x')");
    }
    DbCloseAll();
    const auto rows = RawRows(path);
    std::string saved, why;
    EXPECT_FALSE(DbRestore(DbGoods, odd, &saved, &why));
    // SQLite cannot even open such a copy as a database of the scale; the
    // stand-in DAO opens it, and the restore finds the shape and rolls back.
    const std::string said = U(why);
    EXPECT_TRUE(said.find("копия не читается") != std::string::npos || said.find("БД не изменена") != std::string::npos)
        << said;
    EXPECT_EQ(RawRows(path), rows) << "the deletes are rolled back with the failed copy";
    EXPECT_EQ(NamesIn(backupDir()), std::vector<std::string>{fs::path(odd).filename().string()})
        << "and the copy made before it goes too";
}

TEST_F(BackupTest, RestoreCarriesEveryValueAsStored) {
    const std::string path = OpenNew(DbGoods);
    const std::string hostile = "Crème ½ 中 " + std::string(300, 'z');
    DbReleaseAll();
    if (OnJet()) {
        ASSERT_TRUE(JetAppendRow(path, {{0, "7"}, {2, "Crème ½ 中"}, {21, "€ 😀"}}));
    } else {
        RawExec(path, "INSERT INTO FieldsTable(s00,s02,s03,s04) VALUES('7','" + hostile + "',42,NULL)");
    }
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    const auto rows = RawRows(path);
    const std::string backup = Backup();
    if (!OnJet()) {
        // Another page size and a write-ahead log than the copy's: pages
        // cannot be copied over, rows can.
        DbReleaseAll();
        RawExec(path, "PRAGMA journal_mode=delete; PRAGMA page_size=1024; VACUUM; PRAGMA journal_mode=wal");
        ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    }
    std::array<bool, kDatabaseCount> goods{};
    goods[DbGoods] = true;
    ASSERT_TRUE(DbClear(goods));
    Tick();
    std::string saved, why;
    ASSERT_TRUE(DbRestore(DbGoods, backup, &saved, &why)) << U(why);
    EXPECT_EQ(RawRows(path), rows) << "text outside code page 1251, long values, numbers and NULLs alike";
    if (!OnJet()) {
        DbReleaseAll();
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT typeof(s04), typeof(s05) FROM FieldsTable", -1, &stmt, nullptr);
        ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "null") << "a NULL stays NULL";
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)), "null");
        sqlite3_finalize(stmt);
        sqlite3_close(db);
    }
}

TEST_F(BackupTest, CopiesLeftHalfWrittenByACrashGoWithTheNextBackup) {
    GoodsWithThreeRows();
    fs::create_directory(backupDir());
    const std::vector<std::string> stale = {"db0.mdb.20261201-101010.bak.part", "db0.mdb.20261201-101010.bak.part-journal"};
    const std::vector<std::string> others = {"db0.mdb.notes.part", "db1.mdb.20261201-101010.bak.part"};
    for (const std::string& name : stale) std::ofstream(PathOf("Backup/" + name)) << "cut short";
    for (const std::string& name : others) std::ofstream(PathOf("Backup/" + name)) << "not ours";
    const std::string backup = Backup();
    std::vector<std::string> expected = others;
    expected.push_back(fs::path(backup).filename().string());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NamesIn(backupDir()), expected);
}

TEST_F(BackupTest, AClearThatAReaderKeepsFromItsCommitLeavesNoCopyAndSaysWhy) {
    if (OnJet()) GTEST_SKIP() << "SQLite's locks";
    const std::string path = GoodsWithThreeRows();
    DbReleaseAll();  // back to a rollback journal, where a reader holds off a commit
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM FieldsTable", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    std::string backup, why;
    EXPECT_EQ(DbChangeWithBackup(DbGoods, std::string(), ClearGoods, &backup, &why), ChangeOutcome::Failed);
    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(reader);
    EXPECT_NE(why.find("locked"), std::string::npos) << why;
    EXPECT_EQ(ListCodes(DbGoods).size(), 3u);
    EXPECT_EQ(NamesIn(backupDir()).size(), 0u) << "a copy of a database that did not change would push a real one out";
}

#ifndef _WIN32
TEST_F(BackupTest, TheBackupIsTakenUnderTheLockOfTheClear) {
    if (OnJet() || !OtherWriter::Available()) GTEST_SKIP() << "needs the sqlite3 shell";
    const std::string path = GoodsWithThreeRows();
    OtherWriter other(path, 1000, 1000, "0.3");
    ASSERT_TRUE(other.locked());
    std::string backup, why;
    ASSERT_EQ(DbChangeWithBackup(DbGoods, std::string(), ClearGoods, &backup, &why), ChangeOutcome::Done) << U(why);
    EXPECT_TRUE(other.Finish()) << "the other program committed";
    EXPECT_EQ(RowsIn(backup), 1003) << "the rows committed while the clear waited are in its copy";
    EXPECT_EQ(ReadRawRows(path).size(), 0u);
}
#endif

TEST(BackupNames, OnlyTheDatabasesOwnStampedCopiesCount) {
    EXPECT_TRUE(IsBackupName("TQScale.mdb", "TQScale.mdb.20261208-174005.bak"));
#ifdef _WIN32
    EXPECT_TRUE(IsBackupName("TQScale.mdb", "tqscale.MDB.20261208-174005_02.BAK")) << "Windows names ignore case";
#else
    EXPECT_FALSE(IsBackupName("TQScale.mdb", "tqscale.MDB.20261208-174005_02.BAK")) << "another file here";
#endif
    for (const char* name : {"Users.mdb.20261208-174005.bak", "TQScale.mdb.20261208-174005.bak.part",
                             "TQScale.mdb.2026120-1740051.bak", "TQScale.mdb.20261208-174005_x.bak",
                             "TQScale.mdb.bak", "TQScale.mdbx20261208-174005.bak", "TQScale.mdb.20261208-174005_2.bak"})
        EXPECT_FALSE(IsBackupName("TQScale.mdb", name)) << name;
}

}  // namespace tq::viewer::test
