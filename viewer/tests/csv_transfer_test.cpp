#include <algorithm>
#include <filesystem>
#include <fstream>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "core/backup.h"
#include "core/csv_transfer.h"
#include "core/file_path.h"
#include "db_fixture.h"
#include "jet_raw.h"
#include "other_writer.h"
#include "private_mount.h"
#include "raw_file.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tq::viewer::test {

namespace fs = std::filesystem;

namespace {

const char kBom[] = "\xEF\xBB\xBF";

std::string Header() {
    std::string header;
    for (int i = 0; i < kFieldCount; ++i) header += (i ? ";s" : "s") + std::string(i < 10 ? "0" : "") + std::to_string(i);
    return header;
}

}  // namespace

class CsvTransferTest : public DbTest {
protected:
    void TearDown() override {
        DbReleaseAll();
#ifndef _WIN32
        if (mounted_) umount(PathOf("out").c_str());
#endif
        DbTest::TearDown();
    }
    // Imports UTF-8 text (the test's literals) into db; returns the message as UTF-8.
    bool Import(int db, const std::string& bytes, bool replace = false, std::string* message = nullptr) {
        ImportOptions options;
        options.replace = replace;
        options.backUp = false;
        std::string said;
        const bool done = ImportCsv(db, bytes, options, &said);
        if (message) *message = U(said);
        return done;
    }
    std::string Export(int db) {
        std::string bytes, message;
        EXPECT_TRUE(ExportCsv(db, &bytes, &message)) << U(message);
        return bytes;
    }
    // Opens db on a fresh empty file of the same kind.
    std::string ReopenOnEmptyCopy(int db, const std::string& name) {
        DbReleaseAll();
        const std::string path = PathOf(name);
        EXPECT_TRUE(OnJet() ? CreateJetDatabase(path) : CreateSqliteDatabase(path));
        EXPECT_EQ(DbOpen(db, path.c_str()), 0);
        return path;
    }
    bool mounted_ = false;

    static std::vector<std::vector<std::string>> Sorted(std::vector<std::vector<std::string>> rows) {
        std::sort(rows.begin(), rows.end());
        return rows;
    }
};

TEST_F(CsvTransferTest, RoundTripKeepsHostileValuesByteForByte) {
    const std::string source = OpenNew(DbGoods);
    ASSERT_EQ(Save(DbGoods, {{0, "10"}, {1, "0460000000048"}, {2, "Икра \"Царская\"; черная"}, {4, "12000.00"}}), 0);
    ASSERT_EQ(Save(DbGoods, {{0, "2"}, {2, "две\r\nстроки"}, {21, "одна\nLF"}, {40, "конец,запятая"}}), 0);
    ASSERT_EQ(Save(DbGoods, {{0, "3"}, {2, std::string(254, 'x')}, {3, " пробелы "}, {31, "\"\""}}), 0);
    DbReleaseAll();
    RawExec(source, "INSERT INTO FieldsTable(s00,s02) VALUES('*','служебная;запись')");
    ASSERT_EQ(DbOpen(DbGoods, source.c_str()), 0);
    const std::string bytes = Export(DbGoods);
    EXPECT_EQ(bytes.compare(0, 3, kBom), 0) << "a byte-order mark first";
    EXPECT_EQ(bytes.compare(3, Header().size() + 2, Header() + "\r\n"), 0) << "the header row s00..s40";
    EXPECT_NE(bytes.find("\r\n*;;\"служебная;запись\";"), std::string::npos) << "the '*' row is exported, first by code";
    EXPECT_NE(bytes.find("\"две\r\nстроки\""), std::string::npos);
    EXPECT_LT(bytes.find("\r\n10;"), bytes.find("\r\n2;")) << "listing order: codes as text";

    const std::string copy = ReopenOnEmptyCopy(DbGoods, "copy.mdb");
    std::string message;
    ASSERT_TRUE(Import(DbGoods, bytes, false, &message)) << message;
    EXPECT_EQ(message, "Импортировано записей: 4");
    EXPECT_EQ(Sorted(RawRows(copy)), Sorted(RawRows(source)));
    EXPECT_EQ(Export(DbGoods), bytes) << "the copy exports as the original did";
    ASSERT_TRUE(Import(DbGoods, bytes, false, &message)) << "a second import replaces rows by code: " << message;
    EXPECT_EQ(RawRows(copy).size(), 4u) << "and the '*' rows by the file's";
}

TEST_F(CsvTransferTest, ColumnsAreMatchedByNameInAnyOrder) {
    const std::string path = OpenNew(DbLabels);
    std::string message;
    ASSERT_TRUE(Import(DbLabels, "S21,s00,s01\n\"a,b.lpr\",007,Весовой\n\n", false, &message)) << message;
    ASSERT_EQ(RawRows(path).size(), 1u) << "the blank line is no record";
    const auto row = RawRows(path)[0];
    EXPECT_EQ(row[0], "7") << "the editor's zero stripping";
    EXPECT_EQ(row[1], "Весовой");
    EXPECT_EQ(row[21], "a,b.lpr");
    EXPECT_EQ(row[2], "") << "missing columns are empty";
    ASSERT_TRUE(Import(DbLabels, tq::Cp("s00;s01\r\n8;Штучный\r\n"))) << "a code page 1251 file";
    EXPECT_EQ(ListCodes(DbLabels), (std::vector<std::string>{"7", "8"})) << "listed by name";
}

TEST_F(CsvTransferTest, BadFilesWriteNothingAndSayWhere) {
    const std::string path = OpenNew(DbGoods);
    ASSERT_EQ(Save(DbGoods, {{0, "1"}, {2, "Старая"}}), 0);
    DbCloseAll();
    const auto before = RawRows(path);
    struct Case {
        const char* name;
        std::string bytes;
        const char* expected;
    };
    const Case cases[] = {
        {"empty", "", "Файл пуст"},
        {"not text", std::string("s00;s02\r\n5;a\0b\r\n", 14), "строка 2: это не текстовый файл"},
        {"no header", "5;Новая\r\n", "строка 1: нет строки заголовка"},
        {"unknown column", "s00;s02;цена;s41\r\n5;a;1;2\r\n", "строка 1: неизвестные столбцы: «цена», «s41»"},
        {"broken quote", "s00;s02\r\n5;a\r\n6;\"b\r\n", "строка 3: кавычка не закрыта"},
        {"too many fields", "s00;s02\r\n5;a\r\n6;b;c\r\n", "строка 3: полей 3, а в заголовке 2"},
        {"too long", "s00;s02\r\n5;" + std::string(255, 'x') + "\r\n", "строка 2: значение s02 длиннее 254 символов (255)"},
        {"bad code", "s00;s02\r\n5;a\r\n12abc;b\r\n", "строка 3: код «12abc» не подходит"},
        {"no code column", "s01;s02\r\n5;a\r\n", "строка 1: нет столбца s00"},
        {"mixed encodings", "s00;s02\r\n5;Колбаса\r\n" + tq::Cp("6;Сыр") + "\r\n",
         "строка 3: в файле смешаны кодировки UTF-8 и Windows-1251"},
        {"a code repeated as the save cleans it", "s00;s02\r\n5;a\r\n05;b\r\n 5 ;c\r\n",
         "строки 2 и 3: код «5» повторяется\nстроки 2 и 4: код «5» повторяется"},
        {"two '*' rows", "s00;s02\r\n*;a\r\n7;b\r\n*;c\r\n", "строки 2 и 4: код «*» повторяется"},
        {"a value beyond the header's empty end", "s00;s02;\r\n5;a;\r\n6;b;c\r\n", "строка 3: полей 3, а в заголовке 2"},
    };
    for (const Case& c : cases) {
        std::string message;
        EXPECT_FALSE(Import(DbGoods, c.bytes, false, &message)) << c.name;
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.name << ": expected «" << c.expected << "» in «" << message << "»";
        EXPECT_EQ(RawRows(path), before) << c.name << ": nothing written";
    }
}

TEST_F(CsvTransferTest, WhatSpreadsheetsSaveIsRead) {
    const std::string path = OpenNew(DbGoods);
    std::string message;
    // "Unicode text": UTF-16 with its mark, tabs between the fields.
    std::string unicode = "\xFF\xFE";
    for (char16_t unit : std::u16string(u"s00\ts02\ts04\r\n5\tКолбаса «Докторская»; 1 кг\t199.90\r\n"))
        unicode += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    ASSERT_TRUE(Import(DbGoods, unicode, false, &message)) << message;
    // A first line that names the separator; a header whose cells went on past the table.
    ASSERT_TRUE(Import(DbGoods, "sep=,\r\ns00,s02,,\r\n6,\"Сыр; твёрдый\",,\r\n7,Молоко\r\n", false, &message)) << message;
    EXPECT_EQ(message, "Импортировано записей: 2");
    const auto rows = Sorted(RawRows(path));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][2], "Колбаса «Докторская»; 1 кг");
    EXPECT_EQ(rows[0][4], "199.90");
    EXPECT_EQ(rows[1][2], "Сыр; твёрдый");
    EXPECT_EQ(rows[2][2], "Молоко");
}

TEST_F(CsvTransferTest, SalesCodesRepeatWithTheirEightDigits) {
    const std::string path = OpenNew(DbSells);
    std::string message;
    EXPECT_FALSE(Import(DbSells, "s00;s01\r\n00000005;a\r\n00000050;b\r\n00000005;c\r\n", false, &message));
    EXPECT_NE(message.find("строки 2 и 4: код «00000005» повторяется"), std::string::npos) << message;
    EXPECT_EQ(message.find("00000050"), std::string::npos) << message;
    EXPECT_TRUE(RawRows(path).empty());
}

TEST_F(CsvTransferTest, ARefusedRowTakesBackTheWholeImportReplaceIncluded) {
    const std::string path = OpenNew(DbUsers);
    ASSERT_EQ(Save(DbUsers, {{0, "1"}, {1, "Администратор"}, {3, "1234"}}), 0);
    const auto before = RawRows(path);
    std::string message;
    EXPECT_FALSE(Import(DbUsers, "s00;s01;s03\r\n2;Анна;2222\r\n3;Олег;517\r\n4;  ;1\r\n", true, &message));
    EXPECT_NE(message.find("строка 3: пароль"), std::string::npos) << message;
    EXPECT_NE(message.find("строка 4: пустое имя"), std::string::npos) << "every refused row is named: " << message;
    EXPECT_EQ(RawRows(path), before) << "the clear and the good row are rolled back";
    EXPECT_EQ(ListCodes(DbUsers), (std::vector<std::string>{"1"})) << "the data core lists the old row again";
    ASSERT_TRUE(Import(DbUsers, "s00;s01;s03\r\n2;Анна;02222\r\n", true, &message)) << message;
    EXPECT_EQ(ListCodes(DbUsers), (std::vector<std::string>{"2"})) << "--replace cleared the old rows";
    EXPECT_EQ(RawRows(path)[0][3], "2222") << "a password loses its leading zeros as in the editor";
    std::string many = "s00;s01;s03\r\n";
    for (int n = 1; n <= 25; ++n) many += std::to_string(n) + ";;1\r\n";
    EXPECT_FALSE(Import(DbUsers, many, false, &message));
    EXPECT_NE(message.find("строка 21: пустое имя"), std::string::npos) << message;
    EXPECT_EQ(message.find("строка 22:"), std::string::npos) << "only the first 20 are named: " << message;
    EXPECT_NE(message.find("… и ещё ошибок: 5"), std::string::npos) << message;
}

TEST_F(CsvTransferTest, AFailedBackupLeavesTheDatabaseUntouched) {
    namespace fs = std::filesystem;
    const std::string path = OpenNew(DbGoods);
    ASSERT_EQ(Save(DbGoods, {{0, "1"}}), 0);
    const auto before = RawRows(path);
    std::ofstream(PathOf("Backup")) << "a file where the folder should be";
    ImportOptions options;
    options.replace = true;
    std::string message, backup;
    EXPECT_FALSE(ImportCsv(DbGoods, "s00\r\n2\r\n", options, &message, &backup));
    EXPECT_EQ(U(message).rfind("Не удалось сохранить резервную копию БД: ", 0), 0u) << U(message);
    EXPECT_TRUE(backup.empty());
    EXPECT_EQ(RawRows(path), before);
    fs::remove(PathOf("Backup"));
    EXPECT_FALSE(ImportCsv(DbGoods, "s00\r\n1;2\r\n", options, &message));
    EXPECT_FALSE(fs::exists(PathOf("Backup"))) << "a file that cannot be read needs no backup";

    // A row refused at its save takes the import back, and its copy, of a
    // database that did not change, with it: failed imports must not push
    // the real copies out of the ten kept.
    EXPECT_FALSE(ImportCsv(DbGoods, "s00;s01\r\n1;ok\r\n0;bad\r\n", ImportOptions(), &message, &backup));
    EXPECT_NE(U(message).find("БД не изменена"), std::string::npos) << U(message);
    EXPECT_TRUE(fs::is_empty(PathOf("Backup"))) << "no copy left of the import that failed";
    EXPECT_EQ(RawRows(path), before);
}

TEST_F(CsvTransferTest, APartialStarRowKeepsTheStarRowsOtherColumnsAsStored) {
    const std::string path = OpenNew(DbGoods);
    const std::string longValue(300, 'Z');
    DbReleaseAll();
    if (OnJet()) {
        ASSERT_TRUE(JetAppendRow(path, {{0, "*"}, {1, "star"}, {3, "Crème ½ 中 😀"}}));
    } else {
        RawExec(path, "INSERT INTO FieldsTable(s00,s01,s02,s03,s04) VALUES('*','star','" + longValue +
                          "','Crème ½ 中 😀',NULL)");
    }
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    auto expected = RawRows(path);
    std::string message;
    ASSERT_TRUE(Import(DbGoods, "s00;s01\r\n*;new\r\n", false, &message)) << message;
    expected[0][1] = "new";
    EXPECT_EQ(RawRows(path), expected) << "long text, text 1251 lacks and NULLs of the '*' row as they were";
}

TEST_F(CsvTransferTest, LongTransfersReportProgressAndFilesAreWrittenWhole) {
    OpenNew(DbHelp);
    std::string csv = "s00;s01\r\n";
    for (int n = 1; n <= 2500; ++n) csv += std::to_string(n) + ";help\r\n";
    ImportOptions options;
    long calls = 0, last = 0;
    options.progress = [&](long done, long total) {
        ++calls;
        last = done;
        EXPECT_EQ(total, 2500);
    };
    std::string message;
    ASSERT_TRUE(ImportCsv(DbHelp, csv, options, &message)) << U(message);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(last, 2000);
    const std::string file = PathOf("help.csv");
    ASSERT_TRUE(ExportCsvFile(DbHelp, file, &message));
    EXPECT_EQ(U(message), "Экспортировано записей: 2500");
    std::string written;
    ASSERT_TRUE(ReadWholeFileUtf8(file, &written));
    EXPECT_EQ(written, Export(DbHelp));
    EXPECT_FALSE(ExportCsvFile(DbHelp, PathOf("no-such-folder/help.csv"), &message));
    EXPECT_EQ(U(message).rfind("Не удалось записать файл", 0), 0u);
}

TEST_F(CsvTransferTest, ExportCarriesEveryValueAsStored) {
    const std::string path = OpenNew(DbGoods);
    const std::string long300 = std::string(300, 'y');
    DbReleaseAll();
    if (OnJet()) {
        ASSERT_TRUE(JetAppendRow(path, {{0, "7"}, {2, "Crème ½ 中"}, {21, "€ 😀"}}));
    } else {
        RawExec(path, "INSERT INTO FieldsTable(s00,s02,s21,s03) VALUES('7','Crème ½ 中','" + long300 + "',42)");
    }
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    const std::string bytes = Export(DbGoods);
    EXPECT_NE(bytes.find("\r\n7;;Crème ½ 中;"), std::string::npos) << "text code page 1251 lacks, as stored";
    if (OnJet()) {
        EXPECT_NE(bytes.find(";€ 😀;"), std::string::npos);
    } else {
        EXPECT_NE(bytes.find(";42;"), std::string::npos);
        EXPECT_NE(bytes.find(";" + long300 + ";"), std::string::npos) << "a long value whole, not cut at 254";
    }
    if (OnJet()) return;
    // A value no text file can carry is named, and nothing is exported.
    DbReleaseAll();
    RawExec(path, "INSERT INTO FieldsTable(s00,s02) VALUES('8',X'41FF00')");
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    std::string out, message;
    EXPECT_FALSE(ExportCsv(DbGoods, &out, &message));
    EXPECT_NE(U(message).find("8"), std::string::npos) << U(message);
}

TEST_F(CsvTransferTest, APartialImportKeepsTheColumnsItDoesNotName) {
    const std::string path = OpenNew(DbGoods);
    ASSERT_EQ(Save(DbGoods, {{0, "3"}, {1, "0460000000048"}, {2, "Икра"}, {3, "1"}, {4, "100.00"}, {5, "7"}, {11, "30"},
                             {13, "2"}}), 0);
    DbReleaseAll();
    if (!OnJet()) RawExec(path, "UPDATE FieldsTable SET s21='Crème 中', s22='0042' WHERE s00='3'");
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    auto expected = RawRows(path);
    std::string message;
    ASSERT_TRUE(Import(DbGoods, "s00;s01;s02;s04\r\n3;0460000000048;Икра;120.50\r\n9;;Новый;5.00\r\n", false, &message))
        << message;
    const auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 2u);
    expected[0][4] = "120.50";
    EXPECT_EQ(rows[0], expected[0]) << "Тип, Группа, Срок годности, Этикетка and what the engine alone stored are kept";
    EXPECT_EQ(rows[1][2], "Новый");
    EXPECT_EQ(rows[1][3], "") << "a new record gets the columns the file lacks empty";
}

#ifndef _WIN32
TEST_F(CsvTransferTest, ADiskThatFillsUpStopsTheImportAndNothingIsCommittedAfterIt) {
    if (OnJet()) GTEST_SKIP();
    // A small file system of its own for the database, in this process's
    // own mount namespace; skipped where the test may not mount.
    const std::string small = PathOf("small");
    fs::create_directory(small);
    bool mounted = false;
    struct Unmount {
        std::string dir;
        bool* mounted;
        ~Unmount() {
            DbReleaseAll();
            if (*mounted) umount(dir.c_str());
        }
    } unmount{small, &mounted};
    if (!MountPrivately(small, "tmpfs", 0, "size=1m", &mounted)) GTEST_SKIP() << "no mount here (not root)";
    const std::string path = small + "/goods.mdb";
    ASSERT_TRUE(CreateSqliteDatabase(path));
    ASSERT_EQ(DbOpen(DbGoods, path.c_str()), 0);
    DbBeginBatch(DbGoods);
    for (int n = 1; n <= 300; ++n) ASSERT_EQ(Save(DbGoods, {{0, std::to_string(n)}, {2, "товар"}}), 0);
    ASSERT_TRUE(DbEndBatch(DbGoods));
    std::string csv = "s00;s02;s03;s04\r\n";
    for (int n = 1000; n < 21000; ++n) csv += std::to_string(n) + ";" + std::string(200, 'x') + ";" + std::string(200, 'y') + ";1\r\n";
    std::string message;
    EXPECT_FALSE(Import(DbGoods, csv, false, &message));
    EXPECT_NE(message.find("БД не изменена"), std::string::npos) << message;
    EXPECT_NE(message.find("импорт остановлен"), std::string::npos) << "one line, not one per row after it: " << message;
    EXPECT_EQ(DbTableRows(DbGoods), 300) << "no row committed on its own after the transaction was lost";
}

TEST_F(CsvTransferTest, TheImportsBackupIsTakenUnderItsWriteLock) {
    if (OnJet() || !OtherWriter::Available()) GTEST_SKIP() << "needs the sqlite3 shell";
    const std::string path = OpenNew(DbGoods);
    for (const char* code : {"1", "2", "3"}) ASSERT_EQ(Save(DbGoods, {{0, code}}), 0);
    OtherWriter other(path, 1000, 1000, "0.3");
    ASSERT_TRUE(other.locked());
    std::string backup;
    ImportOptions options;
    options.replace = true;
    std::string message;
    EXPECT_TRUE(ImportCsv(DbGoods, "s00\r\n7\r\n", options, &message, &backup)) << U(message);
    EXPECT_TRUE(other.Finish()) << "the other program committed";
    auto copy = OpenDbEngine(backup);
    long rows = -1;
    auto table = copy ? copy->OpenDynaset(RowQuery::WholeTable(-1)) : nullptr;
    ASSERT_TRUE(table && table->GetRecordCount(&rows));
    EXPECT_EQ(rows, 1003) << "the rows another program committed meanwhile are in the copy";
    EXPECT_EQ(ListCodes(DbGoods), std::vector<std::string>{"7"});
}
#endif

TEST_F(CsvTransferTest, AFailedExportLeavesTheFileThatWasThereAndNothingBesideIt) {
    namespace fs = std::filesystem;
    OpenNew(DbGoods);
    for (int n = 1; n <= 300; ++n) ASSERT_EQ(Save(DbGoods, {{0, std::to_string(n)}, {2, std::string(200, 'x')}}), 0);
    const std::string folder = PathOf("out");
    fs::create_directory(folder);
    std::string message;
    fs::create_directory(PathOf("out/goods.csv"));
    EXPECT_FALSE(ExportCsvFile(DbGoods, PathOf("out/goods.csv"), &message)) << "a folder in the file's place";
    EXPECT_EQ(U(message).rfind("Экспорт отменён: ", 0), 0u) << U(message);
    EXPECT_TRUE(fs::is_directory(PathOf("out/goods.csv")));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "no temporary file left";
    fs::remove(PathOf("out/goods.csv"));
#ifndef _WIN32
    // A device or a FIFO would be replaced by a file, or keep the reader
    // waiting for ever; a link to one is the same.
    ASSERT_EQ(mkfifo(PathOf("out/fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", PathOf("out/null"));
    for (const char* name : {"out/fifo", "out/null"}) {
        EXPECT_FALSE(ExportCsvFile(DbGoods, PathOf(name), &message)) << name;
        EXPECT_NE(U(message).find("не обычный файл"), std::string::npos) << U(message);
        EXPECT_FALSE(ImportCsvFile(DbGoods, PathOf(name), ImportOptions(), &message)) << name;
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_TRUE(fs::is_fifo(PathOf("out/fifo")));
    fs::remove(PathOf("out/fifo"));
    fs::remove(PathOf("out/null"));
#endif

    // The fault as found: a full disk cut the file short after the old one was gone.
    if (!MountPrivately(folder, "tmpfs", 0, "size=32k", &mounted_)) GTEST_SKIP() << "no tmpfs mount here (not root)";
    const std::string file = PathOf("out/goods.csv");
    std::ofstream(file, std::ios::binary) << "s00;s02\r\n1;old\r\n";
    const Snapshot before = Take(file);
    EXPECT_FALSE(ExportCsvFile(DbGoods, file, &message)) << "some 60 KB into 32 KB";
    EXPECT_EQ(U(message).rfind("Не удалось записать файл " + file + ": ", 0), 0u) << U(message);
    ASSERT_TRUE(fs::exists(file)) << "the old file is gone";
    EXPECT_TRUE(Take(file) == before) << "the old file is as it was";
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "no temporary file left";
}

}  // namespace tq::viewer::test
