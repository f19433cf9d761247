// The data core on Access files, through the DAO engine: what the layer
// relies on, seen from the data-access operations. Under Wine it runs on the
// stand-in DAO server of the test prefix; on a Windows PC, on real DAO.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/backup.h"
#include "core/csv_transfer.h"
#include "core/file_report.h"
#include "core/recordset.h"
#include "db_fixture.h"
#include "jet_raw.h"
#include "raw_file.h"

namespace tq::viewer::test {

namespace {

class DaoEngineTest : public DbTest {
protected:
    // An empty Jet database opened as db.
    std::string OpenJet(int db) {
        const std::string path = PathOf("jet" + std::to_string(db) + ".mdb");
        EXPECT_TRUE(CreateJetDatabase(path)) << "CreateJetDatabase " << path;
        EXPECT_EQ(DbOpen(db, path.c_str()), 0);
        return path;
    }
    std::string Find(int db, uint32_t code, int column) {
        CNVRecord record;
        EXPECT_TRUE(DbFindByCode(db, &record, static_cast<int32_t>(code)));
        return U(record.Value(column));
    }
};

TEST_F(DaoEngineTest, AJetFileIsCreatedWithItsSignature) {
    const std::string path = PathOf("new.mdb");
    ASSERT_TRUE(CreateJetDatabase(path));
    char head[20] = {};
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_TRUE(f);
    EXPECT_EQ(std::fread(head, 1, sizeof head, f), sizeof head);
    std::fclose(f);
    EXPECT_EQ(std::string(head + 4, 15), "Standard Jet DB");
    EXPECT_FALSE(CreateJetDatabase(path)) << "an existing file is never overwritten";
}

TEST_F(DaoEngineTest, ListsSavesFindsAndDeletesAsTheLayerExpects) {
    OpenJet(DbGoods);
    for (const char* code : {"2", "10", "1", "9"}) ASSERT_EQ(Save(DbGoods, {{0, code}, {2, std::string("товар ") + code}}), 0);
    EXPECT_EQ(ListCodes(DbGoods), (std::vector<std::string>{"1", "10", "2", "9"})) << "codes sort as text";
    EXPECT_EQ(Find(DbGoods, 10, 2), "товар 10");
    EXPECT_EQ(Find(DbGoods, 77, 0), "") << "not found: an empty record";

    ASSERT_EQ(Save(DbGoods, {{0, "10"}, {2, "заменён"}}), 0);
    EXPECT_EQ(ListCodes(DbGoods).size(), 4u) << "a saved code replaces its row";
    EXPECT_EQ(Find(DbGoods, 10, 2), "заменён");

    EXPECT_TRUE(DbDeleteByCode(DbGoods, 2));
    EXPECT_FALSE(DbDeleteByCode(DbGoods, 2)) << "deleted already";
    EXPECT_EQ(ListCodes(DbGoods), (std::vector<std::string>{"1", "10", "9"}));

    OpenJet(DbUsers);
    ASSERT_EQ(Save(DbUsers, {{0, "1"}, {1, "Яна"}, {3, "1111"}}), 0);
    ASSERT_EQ(Save(DbUsers, {{0, "2"}, {1, "Анна"}, {3, "2222"}}), 0);
    EXPECT_EQ(ListCodes(DbUsers), (std::vector<std::string>{"2", "1"})) << "users by name";
}

TEST_F(DaoEngineTest, ValuesThatJetReadsSpeciallyGoInAsParameters) {
    OpenJet(DbLabels);
    const std::string name = "O'Brien | \"60x60\" * ? # [a]";
    std::string cyrillic254;
    for (int i = 0; i < 254; ++i) cyrillic254 += "ж";
    ASSERT_EQ(Save(DbLabels, {{0, "5"}, {1, name}, {21, cyrillic254}}), 0);
    CNVRecord record;
    ASSERT_TRUE(DbRecordset(DbLabels)->FindByField(&record, 1, tq::Utf8ToCp1251(name).c_str()));
    EXPECT_EQ(record.Value(0), "5") << "found by a value with a quote and a bar";
    EXPECT_EQ(U(record.Value(1)), name);
    EXPECT_EQ(record.Value(21).size(), 254u);
    EXPECT_EQ(Save(DbLabels, {{0, "5"}, {1, "Ёлка"}, {21, ""}}), 0) << "an empty value is stored as Null";
    EXPECT_EQ(Find(DbLabels, 5, 1), "Ёлка");
    EXPECT_EQ(Find(DbLabels, 5, 21), "");
}

TEST_F(DaoEngineTest, ClearAndBatchesWork) {
    OpenJet(DbSells);
    ASSERT_TRUE(DbBeginBatch(DbSells));
    FieldBlock block;
    for (unsigned n = 1; n <= 2500; ++n) {
        std::snprintf(block.slot[0], sizeof block.slot[0], "xx%08u", n);
        ASSERT_EQ(DbSave(DbSells, &block), 0) << n << ": " << DbRecordset(DbSells)->LastEngineError();
    }
    ASSERT_TRUE(DbEndBatch(DbSells));
    EXPECT_EQ(DbCount(DbSells), 2500);
    EXPECT_EQ(Find(DbSells, 1234, 0), "00001234");
    std::array<bool, kDatabaseCount> sells{};
    sells[DbSells] = true;
    EXPECT_TRUE(DbClear(sells));
    EXPECT_EQ(DbCount(DbSells), 0);
}

TEST_F(DaoEngineTest, AReadOnlyFileListsAndRefusesWrites) {
    const std::string path = OpenJet(DbHelp);
    ASSERT_EQ(Save(DbHelp, {{0, "1"}, {1, "keep"}}), 0);
    DbReleaseAll();
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(DbOpen(DbHelp, path.c_str()), 0);
    EXPECT_EQ(DbCount(DbHelp), 1);
    EXPECT_EQ(Save(DbHelp, {{0, "2"}}), kHelpNotSaved);
    EXPECT_EQ(Save(DbHelp, {{0, "1"}, {1, "changed"}}), kHelpNotSaved);
    DbReleaseAll();
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_EQ(DbOpen(DbHelp, path.c_str()), 0);
    EXPECT_EQ(Find(DbHelp, 1, 1), "keep");
}

}  // namespace

namespace {

// Faults the stand-in server injects (its scenario file); DAO raises the same
// errors on a PC.
class DaoFaultTest : public DaoEngineTest {
protected:
    void Inject(const std::string& scenario) {
        const std::string file = PathOf("scenario.txt");
        FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fputs(scenario.c_str(), f);
        std::fclose(f);
        SetEnvironmentVariableA("DAOSIM_SCENARIO", file.c_str());
    }
    void TearDown() override {
        DbReleaseAll();
        SetEnvironmentVariableA("DAOSIM_SCENARIO", nullptr);
        DaoEngineTest::TearDown();
    }
};

TEST_F(DaoFaultTest, EachFailureIsARefusalWithItsJetNumber) {
    const std::string path = OpenJet(DbGoods);
    ASSERT_EQ(Save(DbGoods, {{0, "1"}, {2, "keep"}}), 0);
    DbReleaseAll();

    Inject("open-fails 3045\n");
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0) << "the file itself is there";
    int32_t count = -1;
    EXPECT_FALSE(DbCountChecked(DbGoods, &count)) << "a file in use is no empty database";
    EXPECT_NE(DbRecordset(DbGoods)->LastEngineError().find("3045"), std::string::npos)
        << DbRecordset(DbGoods)->LastEngineError();
    DbReleaseAll();

    Inject("update-locked\n");
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    EXPECT_EQ(Save(DbGoods, {{0, "1"}, {2, "changed"}}), kGoodsNotSaved) << "a locked record is not saved";
    EXPECT_EQ(ListCodes(DbGoods), std::vector<std::string>{"1"}) << "nor appended a second time";
    EXPECT_EQ(Find(DbGoods, 1, 2), "keep");
    DbReleaseAll();

    Inject("");
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    for (const char* code : {"2", "3", "4"}) ASSERT_EQ(Save(DbGoods, {{0, code}}), 0);
    DbReleaseAll();
    Inject("vanish-after 2\n");
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    EXPECT_FALSE(DbCountChecked(DbGoods, &count)) << "a listing cut short is a failure, not two rows";
}

TEST_F(DaoFaultTest, JetsLockLimitIsRaisedSoAnImportStaysWhole) {
    // MaxLocksPerFile as low as a registry may set it: an import of 500
    // rows in one transaction needs more page locks than that.
    Inject("max-locks 20\n");
    const std::string path = OpenJet(DbGoods);
    std::string csv = "s00;s02\r\n";
    for (int n = 1; n <= 500; ++n) csv += std::to_string(n) + ";row\r\n";
    ImportOptions options;
    std::string message;
    EXPECT_TRUE(ImportCsv(DbGoods, csv, options, &message)) << U(message);
    EXPECT_EQ(DbTableRows(DbGoods), 500);
    std::array<bool, kDatabaseCount> goods{};
    goods[DbGoods] = true;
    std::string backup, why;
    const auto clear = [&](std::string*) { return DbClear(goods); };
    EXPECT_EQ(DbChangeWithBackup(DbGoods, std::string(), clear, &backup, &why), ChangeOutcome::Done) << U(why);
    EXPECT_EQ(DbTableRows(DbGoods), 0);
}

TEST_F(DaoFaultTest, AGroupOfABatchLostAtItsCommitIsReportedAtTheEnd) {
    Inject("commit-fails 2\n");
    OpenJet(DbGoods);
    ASSERT_TRUE(DbBeginBatch(DbGoods));
    for (int n = 1; n <= 2500; ++n) ASSERT_EQ(Save(DbGoods, {{0, std::to_string(n)}}), 0) << n;
    EXPECT_FALSE(DbEndBatch(DbGoods)) << "the second thousand was lost at its commit";
    EXPECT_EQ(DbTableRows(DbGoods), 1500);
}

TEST_F(DaoFaultTest, ARowTooLargeForJetIsRefusedNamingItsRecord) {
    OpenJet(DbGoods);
    std::vector<std::pair<int, std::string>> fields{{0, "5"}};
    std::string cyrillic;
    for (int i = 0; i < 60; ++i) cyrillic += "ж";
    for (int column = 1; column < kFieldCount; ++column) fields.push_back({column, cyrillic});
    EXPECT_EQ(Save(DbGoods, fields), kGoodsNotSaved);
    const std::string why = DbRecordset(DbGoods)->LastEngineError();
    EXPECT_NE(U(why).find("запись с кодом 5 слишком велика для файла Access"), std::string::npos) << U(why);
    EXPECT_EQ(DbTableRows(DbGoods), 0);
    fields.resize(30);  // 29 values of 60 Cyrillic letters: 3,480 bytes
    EXPECT_EQ(Save(DbGoods, fields), 0) << DbRecordset(DbGoods)->LastEngineError();

    std::string csv = "s00";
    for (int column = 1; column < kFieldCount; ++column) csv += ";s" + std::string(column < 10 ? "0" : "") + std::to_string(column);
    csv += "\r\n6";
    for (int column = 1; column < kFieldCount; ++column) csv += ";" + cyrillic;
    std::string message;
    EXPECT_FALSE(ImportCsv(DbGoods, csv + "\r\n", ImportOptions(), &message));
    EXPECT_NE(U(message).find("строка 2: запись не сохранена"), std::string::npos) << U(message);
    EXPECT_NE(U(message).find("запись с кодом 6 слишком велика"), std::string::npos) << U(message);
}

TEST_F(DaoEngineTest, ARowAnotherProgramDeletesMidReadDoesNotEndTheListing) {
    const std::string path = OpenJet(DbGoods);
    ASSERT_TRUE(DbBeginBatch(DbGoods));
    for (int n = 1; n <= 2500; ++n) ASSERT_EQ(Save(DbGoods, {{0, std::to_string(n)}}), 0);
    ASSERT_TRUE(DbEndBatch(DbGoods));
    DbReleaseAll();
    // The whole table reads its rows at its first move; before it, another
    // program deletes one of the first thousand, and this engine sees it.
    auto reader = OpenDbEngine(path);
    ASSERT_TRUE(reader);
    auto table = reader->OpenDynaset(RowQuery::WholeTable(-1));
    ASSERT_TRUE(table);
    {
        auto other = OpenDbEngine(path);
        auto row = other ? other->OpenDynaset(RowQuery::Where(0, "5", -1)) : nullptr;
        ASSERT_TRUE(row && row->DeleteCurrent());
    }
    ASSERT_TRUE(reader->OpenDynaset(RowQuery::Where(0, "1", -1)));
    long rows = 0;
    for (bool more = table->MoveFirst(); more && !table->IsEOF(); more = table->MoveNext()) ++rows;
    EXPECT_EQ(rows, 2499) << "the rows after the deleted one are listed too";
}

TEST_F(DaoEngineTest, AFolderWhereJetCannotMakeItsLockFileIsReadExclusively) {
    namespace fs = std::filesystem;
    const std::string path = OpenJet(DbGoods);
    for (const char* code : {"1", "2", "3"}) ASSERT_EQ(Save(DbGoods, {{0, code}}), 0);
    const std::string lockFile = PathOf("jet0.ldb");
    EXPECT_TRUE(fs::exists(lockFile)) << "a shared open keeps its lock file beside the database";
    DbReleaseAll();
    EXPECT_FALSE(fs::exists(lockFile)) << "the last user to close removes it";

    // As on a CD or a folder without write rights: the lock file cannot be made.
    fs::create_directory(lockFile);
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    EXPECT_EQ(ListCodes(DbGoods), (std::vector<std::string>{"1", "2", "3"})) << "every row listed";
    EXPECT_EQ(Save(DbGoods, {{0, "4"}}), kGoodsNotSaved) << "and writes refused with the layer's code";
    EXPECT_NE(U(DbRecordset(DbGoods)->LastEngineError()).find("Jet не может создать файл блокировки"), std::string::npos)
        << "and why: " << U(DbRecordset(DbGoods)->LastEngineError());
    DbReleaseAll();
    fs::remove(lockFile);
}

// Jet gives no consistent copy of a file that another program writes: a
// backup, and a change made safe with one, hold the file exclusively, and
// while another program has it open they are refused and change nothing.
TEST_F(DaoEngineTest, ABackupAndASafeChangeHaveTheFileToThemselves) {
    const std::string path = OpenJet(DbGoods);
    for (const char* code : {"1", "2", "3"}) ASSERT_EQ(Save(DbGoods, {{0, code}}), 0);
    std::array<bool, kDatabaseCount> goods{};
    goods[DbGoods] = true;
    const auto clear = [&](std::string*) { return DbClear(goods); };
    std::string backup, why;
    {
        auto scaleProgram = OpenDbEngine(path);
        ASSERT_TRUE(scaleProgram);
        EXPECT_FALSE(DbBackup(DbGoods, &backup, &why));
        EXPECT_NE(U(why).find("файл открыт другой программой"), std::string::npos) << U(why);
        EXPECT_EQ(DbChangeWithBackup(DbGoods, "", clear, &backup, &why), ChangeOutcome::NotWritable) << U(why);
        EXPECT_EQ(ListCodes(DbGoods), (std::vector<std::string>{"1", "2", "3"})) << "still open, nothing cleared";
        EXPECT_TRUE(ListBackups(path).empty()) << "no copy made";
        EXPECT_EQ(Save(DbGoods, {{0, "4"}}), 0) << "saves go on beside the other program";
    }
    bool keptOut = false;
    const auto clearAlone = [&](std::string* w) {
        keptOut = !OpenDbEngine(path);
        return clear(w);
    };
    ASSERT_EQ(DbChangeWithBackup(DbGoods, "", clearAlone, &backup, &why), ChangeOutcome::Done) << U(why);
    EXPECT_TRUE(keptOut) << "no other program opens the file during the change";
    EXPECT_EQ(ListCodes(DbGoods), std::vector<std::string>{});
    EXPECT_EQ(ListBackups(path).size(), 1u);
    EXPECT_TRUE(OpenDbEngine(path)) << "after the change others open it again";
    EXPECT_EQ(Save(DbGoods, {{0, "5"}}), 0) << "and the viewer writes in it shared";
}

TEST_F(DaoFaultTest, AnErrorGivenAsTheControlsHresultKeepsItsJetNumberAndText) {
    const std::string path = OpenJet(DbGoods);
    DbReleaseAll();
    Inject("hresult-errors\nopen-fails 3045\n");
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    int32_t count = -1;
    EXPECT_FALSE(DbCountChecked(DbGoods, &count));
    const std::string why = DbRecordset(DbGoods)->LastEngineError();
    EXPECT_NE(U(why).find("ошибка DAO 3045: Could not use"), std::string::npos) << U(why);
}

TEST_F(DaoEngineTest, FieldsAreReadAndWrittenByNameWhateverTheirOrderAndSize) {
    // A file another program made: its fields in reverse order, the name
    // field only 10 characters wide.
    const std::string path = PathOf("other.mdb");
    std::string create = "CREATE TABLE FieldsTable (";
    for (int column = kFieldCount - 1; column >= 0; --column) {
        char field[32];
        std::snprintf(field, sizeof field, "%ss%02d TEXT(%d)", column == kFieldCount - 1 ? "" : ", ", column,
                      column == 2 ? 10 : 255);
        create += field;
    }
    ASSERT_TRUE(JetCreateWithTable(path, create + ")"));
    ASSERT_TRUE(JetAppendRow(path, {{0, "1"}, {1, "4600000000017"}, {2, "Колбаса"}}));
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    EXPECT_EQ(Find(DbGoods, 1, 1), "4600000000017");
    EXPECT_EQ(Find(DbGoods, 1, 2), "Колбаса");
    ASSERT_EQ(Save(DbGoods, {{0, "2"}, {1, "0460000000048"}, {2, "Икра"}, {40, "последнее"}}), 0);
    std::string why;
    auto reader = OpenDbEngine(path, &why);
    std::vector<RowValues> rows;
    ASSERT_TRUE(reader && reader->ReadRowsAsStored(RowQuery::WholeTable(-1), &rows)) << why;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][2], "Икра") << "the rows as stored are read by name too";
    EXPECT_EQ(rows[1][40], "последнее");

    EXPECT_EQ(Save(DbGoods, {{0, "3"}, {2, "Сыр российский"}}), kGoodsNotSaved);
    why = DbRecordset(DbGoods)->LastEngineError();
    EXPECT_NE(U(why).find("значение s02 записи с кодом 3 длиной 14 символов, а поле вмещает 10"), std::string::npos)
        << U(why);
    DbReleaseAll();

    // A field the file marks Required: the empty text, written as Null, is
    // refused before Jet refuses it, naming the field and the record.
    const std::string required = PathOf("required.mdb");
    std::string columns = "CREATE TABLE FieldsTable (s00 TEXT(255)";
    for (int column = 1; column < kFieldCount; ++column)
        columns += ", " + ColumnName(column) + " TEXT(255)" + (column == 5 ? " NOT NULL" : "");
    ASSERT_TRUE(JetCreateWithTable(required, columns + ")"));
    ASSERT_EQ(DbOpen(DbGoods, required.c_str()), 0);
    EXPECT_EQ(Save(DbGoods, {{0, "4"}, {5, "1"}}), 0);
    EXPECT_EQ(Save(DbGoods, {{0, "5"}, {2, "без группы"}}), kGoodsNotSaved);
    why = DbRecordset(DbGoods)->LastEngineError();
    EXPECT_NE(U(why).find("поле s05 этого файла не может быть пустым (Required), а в записи с кодом 5"),
              std::string::npos)
        << U(why);
}

TEST_F(DaoEngineTest, AFileWhoseTableLacksAFieldIsNoDatabaseOfTheScale) {
    const std::string path = PathOf("short.mdb");
    ASSERT_TRUE(JetCreateWithTable(path, "CREATE TABLE FieldsTable (s00 TEXT(255), s01 TEXT(255))"));
    std::string why;
    EXPECT_FALSE(OpenDbEngine(path, &why));
    EXPECT_NE(U(why).find("нет поля s02"), std::string::npos) << U(why);
}

TEST_F(DaoEngineTest, InspectReadsTheTableDefsAndLeavesTheFileAsItWas) {
    const std::string made = PathOf("made.mdb");
    ASSERT_TRUE(CreateJetDatabase(made));
    const Snapshot before = Take(made);
    Inspection seen;
    std::string why;
    ASSERT_TRUE(InspectDatabase(made, &seen, &why)) << why;
    using Facts = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(seen.facts, (Facts{{tq::Cp("вид"), "Access (Jet)"}, {tq::Cp("открыт"), tq::Cp("совместно, только чтение")},
                                 {tq::Cp("версия"), "4.0"}, {tq::Cp("порядок сортировки"), "1049 Cyrillic"}}));
    ASSERT_TRUE(seen.hasTable);
    ASSERT_EQ(seen.fields.size(), 41u);
    for (int i = 0; i < kFieldCount; ++i) {
        EXPECT_EQ(seen.fields[i].name, ColumnName(i));
        EXPECT_EQ(seen.fields[i].type, "10 Text") << i;
        EXPECT_EQ(seen.fields[i].size, "255") << i;
    }
    ASSERT_EQ(seen.indexes.size(), 1u);
    EXPECT_EQ(seen.indexes[0].name, "PrimaryKey");
    EXPECT_TRUE(seen.indexes[0].primary && seen.indexes[0].unique && seen.indexes[0].required == 1);
    EXPECT_EQ(seen.indexes[0].fields, std::vector<std::string>{"s00"});
    EXPECT_TRUE(seen.otherTables.empty()) << "Jet's own tables are not the scale's: " << seen.otherTables.front();
    EXPECT_TRUE(Take(made) == before) << "read only: the file unchanged, its time included";
    EXPECT_FALSE(std::filesystem::exists(PathOf("made.ldb"))) << "the lock file went with the look";

    // Another program's table: a required field, other sizes, a key of its own name.
    const std::string other = PathOf("other.mdb");
    ASSERT_TRUE(JetCreateWithTable(
        other, "CREATE TABLE FieldsTable (s00 TEXT(20) NOT NULL, s01 TEXT(50) CONSTRAINT Code PRIMARY KEY)"));
    ASSERT_TRUE(InspectDatabase(other, &seen, &why)) << why;
    ASSERT_EQ(seen.fields.size(), 2u);
    EXPECT_TRUE(seen.fields[0].required);
    EXPECT_EQ(seen.fields[0].size, "20");
    EXPECT_EQ(seen.fields[1].size, "50");
    ASSERT_EQ(seen.indexes.size(), 1u);
    EXPECT_EQ(seen.indexes[0].name, "Code");
    EXPECT_EQ(seen.indexes[0].fields, std::vector<std::string>{"s01"});

    const std::string noTable = PathOf("goods.mdb");
    ASSERT_TRUE(JetCreateWithTable(noTable, "CREATE TABLE Goods (code TEXT(10))"));
    ASSERT_TRUE(InspectDatabase(noTable, &seen, &why)) << why;
    EXPECT_FALSE(seen.hasTable);
    EXPECT_EQ(seen.otherTables, std::vector<std::string>{"Goods"});
    EXPECT_FALSE(InspectDatabase(PathOf("missing.mdb"), &seen, &why));
    EXPECT_EQ(U(why), "файла нет");
}

TEST_F(DaoFaultTest, AnEngineThatAsksForItsLicenceIsCreatedWithIt) {
    Inject("not-licensed\n");
    OpenJet(DbHelp);
    EXPECT_EQ(Save(DbHelp, {{0, "1"}, {1, "licensed"}}), 0) << DbRecordset(DbHelp)->LastEngineError();
    EXPECT_EQ(Find(DbHelp, 1, 1), "licensed");
}

}  // namespace

}  // namespace tq::viewer::test
