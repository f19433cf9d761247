#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "db_fixture.h"
#include "raw_file.h"
#include "tqdb/tqdb.h"

namespace tq::viewer::test {

namespace fs = std::filesystem;

namespace {

struct Result {
    int rc;
    std::string out, err;  // tqdb's own line ends as '\n'
    std::string rawOut;    // as written
};

std::string WithLf(const std::string& text) {
    std::string lf;
    const std::string end = kTqdbLineEnd;
    for (size_t i = 0; i < text.size();) {
        const bool atEnd = text.compare(i, end.size(), end) == 0;
        lf += atEnd ? '\n' : text[i];
        i += atEnd ? end.size() : 1;
    }
    return lf;
}

// The first line that holds three English words in a row: prose that is
// not Russian. What follows the engine's or the system's marker is their own
// text and stays as they give it; paths and the names tqdb takes on its
// command line are no prose.
std::string EnglishProse(const std::string& text) {
    static const std::regex theirs("(SQLite: |ошибка DAO -?[0-9]+: |ошибка Windows [0-9]+: |"
                                   "системная ошибка [0-9]+: ).*");
    static const std::set<std::string> names = {
        "create", "sample", "inspect", "list", "count", "find", "save", "delete", "clear", "generate",
        "backups", "restore", "export", "import", "selftest", "goods", "users", "labels", "help",
        "sells", "reports", "resources", "jet", "all", "replace", "tqdb"};
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(std::regex_replace(line, theirs, ""));
        int run = 0;
        for (std::string word; words >> word;) {
            const bool path = word.find_first_of("\\/") != std::string::npos;
            while (!word.empty() && !std::isalnum(static_cast<unsigned char>(word.back()))) word.pop_back();
            while (!word.empty() && !std::isalnum(static_cast<unsigned char>(word.front()))) word.erase(0, 1);
            bool english = !path && word.size() > 1 && !names.count(word);
            for (char c : word) english = english && std::isalpha(static_cast<unsigned char>(c));
            run = english ? run + 1 : 0;
            if (run == 3) return line;
        }
    }
    return std::string();
}

}  // namespace

TEST(EnglishProse, FindsARunOfEnglishWordsAndPassesTokens) {
    EXPECT_EQ(EnglishProse("goods: the file is no longer at its path\n"), "goods: the file is no longer at its path");
    EXPECT_EQ(EnglishProse("да\nlist DB as the viewer does\n"), "list DB as the viewer does");
    EXPECT_EQ(EnglishProse("не читается: ошибка DAO 3045: Could not use the file; file already in use.\n"), "");
    EXPECT_EQ(EnglishProse("не очищена: SQLite: database is locked\n"), "");
    EXPECT_EQ(EnglishProse("БД: goods users labels help sells reports resources или 0..6.\n"), "");
    EXPECT_EQ(EnglishProse("Папка /tmp/some dir/Internal не существует\n"), "");
}

class TqdbTest : public DbTest {
protected:
    // Arguments in UTF-8, as a terminal gives them.
    Result RunIn(const std::string& folder, std::vector<std::string> args) {
        args.insert(args.begin(), {"-C", folder});
        Result r;
        r.rc = RunTqdb(args, &r.rawOut, &r.err);
        r.out = WithLf(r.rawOut);
        r.err = WithLf(r.err);
        std::filesystem::current_path(start_);
        return r;
    }
    Result Run(std::vector<std::string> args) { return RunIn(dir_, std::move(args)); }
    std::vector<std::string> NamesIn(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::u8path(folder)))
            names.push_back(entry.path().filename().u8string());
        std::sort(names.begin(), names.end());
        return names;
    }
    void SetUp() override {
        DbTest::SetUp();
        start_ = std::filesystem::current_path();
    }
    std::filesystem::path start_;
};

TEST_F(TqdbTest, SampleFolderListsInTheViewersOrderWithRussianCaptions) {
    ASSERT_EQ(Run({"sample"}).rc, 0);
    const Result goods = Run({"list", "goods"});
    ASSERT_EQ(goods.rc, 0) << goods.err;
    EXPECT_EQ(goods.out.substr(0, goods.out.find('\t')), "Код(*)");
    const size_t first = goods.out.find('\n') + 1;
    EXPECT_EQ(goods.out.substr(first, 3), "1\t4") << "row 1 first";
    EXPECT_LT(goods.out.find("\n10\t"), goods.out.find("\n2\t")) << "codes sort as text";
    EXPECT_NE(goods.out.find("Колбаса докторская"), std::string::npos);
    EXPECT_EQ(Run({"count", "users"}).out, "3\n");
    EXPECT_NE(Run({"list", "sells"}).out.find("00000003"), std::string::npos);
    EXPECT_EQ(Run({"create"}).rc, 1) << "the files exist already";
}

TEST_F(TqdbTest, SaveFindDeleteGenerateAndClear) {
    ASSERT_EQ(Run({"create"}).rc, 0);
    Result saved = Run({"save", "labels", "s00=0042", "s01=Весовой", "s21=a.lpr"});
    EXPECT_EQ(saved.out, "0\n") << saved.err;
    EXPECT_EQ(Run({"find", "labels", "42"}).out.rfind("42\tВесовой", 0), 0u);
    const Result reserved = Run({"save", "users", "s00=1", "s01=Анна", "s03=517"});
    EXPECT_EQ(reserved.out, "2018\n");
    EXPECT_EQ(reserved.err, "") << "a user the rules refuse has its code alone, no empty reason";
    EXPECT_EQ(Run({"delete", "labels", "42"}).rc, 0);
    EXPECT_EQ(Run({"delete", "labels", "42"}).rc, 1);
    EXPECT_EQ(Run({"generate", "sells", "3"}).rc, 0);
    const std::string sells = Run({"list", "4"}).out;
    EXPECT_EQ(sells.substr(sells.find('\n') + 1, 9), "00000001\t");
    EXPECT_EQ(Run({"generate", "users", "2"}).rc, 1) << "users refuse a record without a name";
    EXPECT_EQ(Run({"clear", "sells"}).rc, 0);
    EXPECT_EQ(Run({"count", "sells"}).out, "0\n");
}

TEST_F(TqdbTest, BadArgumentsGiveUsageNotACrash) {
    EXPECT_EQ(Run({}).rc, 2);
    EXPECT_EQ(Run({"list"}).rc, 2);
    EXPECT_EQ(Run({"list", "nosuch"}).rc, 2);
    EXPECT_EQ(Run({"generate", "goods", "-1"}).rc, 2);
    EXPECT_EQ(Run({"find", "goods", "x"}).rc, 2);
    EXPECT_EQ(Run({"save", "goods", "garbage"}).rc, 1) << "no database files here";
    ASSERT_EQ(Run({"create"}).rc, 0);
    EXPECT_EQ(Run({"save", "goods", "s99=1"}).rc, 2);
}

TEST_F(TqdbTest, FailuresAreSaidAndNeverLookLikeAnEmptyDatabase) {
    ASSERT_EQ(Run({"sample"}).rc, 0);
    const std::string goods = PathOf("Internal/TQScale.mdb");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(goods.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const Result clear = Run({"clear", "goods"});
    EXPECT_EQ(clear.rc, 1) << "a clear that deleted nothing is no success";
    EXPECT_NE(clear.err.find("не очищена"), std::string::npos) << clear.err;
    EXPECT_EQ(Run({"generate", "goods", "2"}).rc, 1) << "no test records over rows a clear left";
    const Result save = Run({"save", "goods", "s00=77"});
    EXPECT_EQ(save.out, "2009\n");
    EXPECT_EQ(save.err.rfind("goods: запись не сохранена: ", 0), 0u) << "the database's own refusal says why: " << save.err;
    EXPECT_EQ(Run({"save", "goods", "s00=-1"}).err, "") << "a code the rules refuse has its code alone";
    const Result locked = Run({"delete", "goods", "1"});
    EXPECT_EQ(locked.err.rfind("goods: запись не удалена: ", 0), 0u) << "not said to be missing: " << locked.err;
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(Run({"count", "goods"}).out, "5\n");

    EXPECT_EQ(Run({"save", "goods", "s00=-1"}).out, "2009\n");
    EXPECT_EQ(Run({"save", "goods", "s00=4294967295", "s02=last"}).out, "0\n");
    EXPECT_EQ(Run({"find", "goods", "4294967295"}).out.rfind("4294967295\t", 0), 0u);
    EXPECT_EQ(Run({"delete", "goods", "4294967295"}).rc, 0);
    EXPECT_EQ(Run({"find", "goods", "-1"}).rc, 2) << "a code as the listing shows it";

    std::ofstream(goods, std::ios::trunc) << "no longer a database";
    for (const char* command : {"count", "list"}) {
        const Result r = Run({command, "goods"});
        EXPECT_EQ(r.rc, 1) << command;
        EXPECT_EQ(r.out, "") << command;
        EXPECT_EQ(r.err.rfind("goods: Internal\\TQScale.mdb не читается: ", 0), 0u) << command << ": " << r.err;
    }
    EXPECT_EQ(Run({"find", "goods", "1"}).rc, 1);
}

TEST_F(TqdbTest, InspectShowsTheFilesShapeAndChangesNothing) {
    ASSERT_EQ(Run({"sample"}).rc, 0);
    const std::string goods = PathOf("Internal/TQScale.mdb");
    const Snapshot before = Take(goods);
    const std::vector<std::string> internal = NamesIn(PathOf("Internal"));
    const Result r = Run({"inspect", "goods"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out.rfind("goods: Internal\\TQScale.mdb\nвид: SQLite\nразмер страницы: 4096\nкодировка: UTF-8\n"
                          "Поля FieldsTable (имя, тип, размер, обязательное):\ns00\tTEXT\t-\tнет\ns01\tTEXT\t-\tнет\n",
                          0),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("\ns40\tTEXT\t-\tнет\n"
                         "Индексы FieldsTable (имя, первичный, уникальный, обязательный, поля):\n"
                         "FieldsTable_s00\tнет\tнет\t-\ts00\n"
                         "Другие таблицы: нет\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4 + 1 + 41 + 1 + 1 + 1) << r.out;
    EXPECT_TRUE(Take(goods) == before) << "inspect writes nothing, its time included";
    EXPECT_EQ(NamesIn(PathOf("Internal")), internal) << "and leaves no journal or lock file";

    // A file of another shape, as another program may leave it.
    const std::string users = PathOf("Internal/Users.mdb");
    fs::remove(users);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(users.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other,
                           "CREATE TABLE FieldsTable(s00 TEXT NOT NULL PRIMARY KEY, s01 INTEGER);"
                           "CREATE UNIQUE INDEX ByName ON FieldsTable(s01, s00); CREATE TABLE [Журнал](a);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);
    const Result shaped = Run({"inspect", "1"});
    ASSERT_EQ(shaped.rc, 0) << shaped.err;
    for (const char* line : {"\ns00\tTEXT\t-\tда\n", "\ns01\tINTEGER\t-\tнет\n", "\nByName\tнет\tда\t-\ts01, s00\n",
                             "\nsqlite_autoindex_FieldsTable_1\tда\tда\t-\ts00\n", "\nДругие таблицы: Журнал\n"})
        EXPECT_NE(shaped.out.find(line), std::string::npos) << line << " in\n" << shaped.out;
}

TEST_F(TqdbTest, InspectOfTheFolderSaysWhatCannotBeReadAndGoesOn) {
    ASSERT_EQ(Run({"sample"}).rc, 0);
    fs::remove(PathOf("Internal/Labels.mdb"));
    std::ofstream(PathOf("Internal/Help.mdb"), std::ios::trunc) << "no longer a database";
    sqlite3* other = nullptr;
    fs::remove(PathOf("Internal/Sells.mdb"));
    ASSERT_EQ(sqlite3_open(PathOf("Internal/Sells.mdb").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "CREATE TABLE Other(a)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);

    const Result r = Run({"inspect"});
    EXPECT_EQ(r.rc, 1) << "a database that cannot be read is a failure";
    EXPECT_EQ(r.err,
              "labels: Internal\\Labels.mdb не читается: файла нет\n"
              "help: Internal\\Help.mdb не читается: не база данных весов (ни SQLite, ни Access)\n");
    for (const char* name : {"goods", "users", "reports", "resources"})
        EXPECT_NE(r.out.find(std::string(name) + ": Internal\\"), std::string::npos) << name << " listed after the failures";
    EXPECT_NE(r.out.find("sells: Internal\\Sells.mdb\nвид: SQLite\nразмер страницы: 4096\nкодировка: UTF-8\n"
                         "Таблицы FieldsTable в файле нет\nДругие таблицы: Other\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Run({"inspect", "sells"}).rc, 1) << "a file without the table is no database of the scale";
    EXPECT_EQ(Run({"inspect", "nosuch"}).rc, 2);
    EXPECT_EQ(Run({"inspect", "goods", "users"}).rc, 2);
}

TEST_F(TqdbTest, ClearAndGenerateBackUpFirstAndRestoreBringsTheRowsBack) {
    ASSERT_EQ(Run({"sample"}).rc, 0);
    const Result clear = Run({"clear", "goods"});
    ASSERT_EQ(clear.rc, 0) << clear.err;
    ASSERT_EQ(clear.out.rfind("backup: ", 0), 0u) << clear.out;
    const std::string backup = clear.out.substr(8, clear.out.find('\n') - 8);
    EXPECT_EQ(Run({"count", "goods"}).out, "0\n");
    const std::string listed = Run({"backups"}).out;
    EXPECT_EQ(listed.rfind("goods\t" + backup + "\t", 0), 0u) << listed;
    EXPECT_EQ(listed.substr(listed.size() - 3), "\t5\n") << "the backup's row count: " << listed;

    const std::string name = std::filesystem::path(backup).filename().string();
    const Result refused = Run({"restore", "users", name});
    EXPECT_EQ(refused.rc, 1) << "a goods backup is no users backup";
    EXPECT_NE(refused.err.find("не восстановлена"), std::string::npos) << refused.err;
    EXPECT_EQ(Run({"count", "users"}).out, "3\n");

    const Result restored = Run({"restore", "goods", name});
    ASSERT_EQ(restored.rc, 0) << restored.err;
    EXPECT_EQ(Run({"count", "goods"}).out, "5\n");
    EXPECT_NE(Run({"list", "goods"}).out.find("Колбаса докторская"), std::string::npos);
    EXPECT_EQ(Run({"backups", "goods"}).out.find("users"), std::string::npos);

    // Without a backup nothing is cleared or generated.
    const std::filesystem::path folder = std::filesystem::path(dir_) / "Internal" / "Backup";
    std::filesystem::remove_all(folder);
    std::ofstream(folder) << "a file where the folder should be";
    for (const std::vector<std::string>& command : {std::vector<std::string>{"clear", "goods"}, {"generate", "goods", "2"}}) {
        const Result r = Run(command);
        EXPECT_EQ(r.rc, 1) << command[0];
        EXPECT_EQ(r.err.rfind("Не удалось сохранить резервную копию БД: ", 0), 0u) << r.err;
    }
    EXPECT_EQ(Run({"count", "goods"}).out, "5\n");
    const Result listed2 = Run({"backups", "goods"});
    EXPECT_EQ(listed2.rc, 1) << "a file where the Backup folder should be is no empty list";
    EXPECT_NE(listed2.err.find("не папка"), std::string::npos) << listed2.err;
    std::filesystem::remove(folder);

    // Test records are one change: refused at the first record (a user
    // needs a name), the users stay as they were.
    const Result generated = Run({"generate", "users", "5"});
    EXPECT_EQ(generated.rc, 1);
    EXPECT_NE(generated.err.find("users: запись 1 не сохранена, БД не изменена"), std::string::npos) << generated.err;
    EXPECT_EQ(Run({"count", "users"}).out, "3\n");
    const Result whole = Run({"generate", "goods", "3"});
    ASSERT_EQ(whole.rc, 0) << whole.err;
    EXPECT_EQ(whole.out.rfind("backup: ", 0), 0u) << whole.out;
    EXPECT_EQ(Run({"count", "goods"}).out, "3\n");
}

TEST_F(TqdbTest, ExportAndImportMoveADatabaseThroughCsv) {
    ASSERT_EQ(Run({"sample"}).rc, 0);
    const Result exported = Run({"export", "goods", "goods.csv"});
    ASSERT_EQ(exported.rc, 0) << exported.err;
    EXPECT_EQ(exported.out, "Экспортировано записей: 5\n");
    ASSERT_EQ(Run({"clear", "goods"}).rc, 0);
    const Result imported = Run({"import", "goods", "goods.csv"});
    ASSERT_EQ(imported.rc, 0) << imported.err;
    EXPECT_EQ(imported.out.rfind("backup: ", 0), 0u) << "an import backs up first: " << imported.out;
    EXPECT_NE(imported.out.find("\nИмпортировано записей: 5\n"), std::string::npos) << imported.out;
    EXPECT_NE(Run({"list", "goods"}).out.find("Колбаса докторская"), std::string::npos);

    std::ofstream(std::filesystem::path(dir_) / "bad.csv") << "s00;s02\r\n7;\"open\r\n";
    const Result bad = Run({"import", "goods", "bad.csv", "--replace"});
    EXPECT_EQ(bad.rc, 1);
    EXPECT_EQ(bad.err, "Файл не импортирован, БД не изменена: строка 2: кавычка не закрыта\n");
    EXPECT_EQ(Run({"count", "goods"}).out, "5\n") << "--replace cleared nothing";
    EXPECT_EQ(Run({"import", "goods", "missing.csv"}).rc, 1);
    EXPECT_EQ(Run({"import", "goods", "goods.csv", "--append"}).rc, 2) << "an unknown option";
    EXPECT_EQ(Run({"export", "goods"}).rc, 2) << "no file named";
}

TEST_F(TqdbTest, ExportNeverReplacesADatabaseNorWritesIntoTheDatabasesFolder) {
    ASSERT_EQ(Run({"sample"}).rc, 0);
    const std::string goods = PathOf("Internal/TQScale.mdb");
    fs::copy_file(goods, PathOf("old.mdb"));
    const Snapshot before = Take(goods), copyBefore = Take(PathOf("old.mdb"));
    const std::vector<std::string> internal = NamesIn(PathOf("Internal"));
    std::vector<std::string> refused = {"Internal/TQScale.mdb", "old.mdb", "Internal/goods.csv",
                                        "./Internal/../Internal/goods.csv"};
#ifdef _WIN32
    refused.push_back(".\\internal\\..\\INTERNAL\\goods.csv");
#else
    fs::create_directory_symlink(PathOf("Internal"), PathOf("scale"));
    refused.push_back("scale/goods.csv");
#endif
    for (const std::string& target : refused) {
        const Result r = Run({"export", "goods", target});
        EXPECT_EQ(r.rc, 1) << target;
        EXPECT_EQ(r.err.rfind("Экспорт отменён: файл " + target + " — ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    }
    EXPECT_NE(Run({"export", "goods", "old.mdb"}).err.find("база данных (SQLite)"), std::string::npos);
    EXPECT_TRUE(Take(goods) == before) << "the database is untouched";
    EXPECT_TRUE(Take(PathOf("old.mdb")) == copyBefore) << "so is a database outside Internal";
    EXPECT_EQ(NamesIn(PathOf("Internal")), internal) << "nothing written into Internal";
    EXPECT_EQ(Run({"count", "goods"}).out, "5\n");
    EXPECT_EQ(Run({"export", "goods", "Internal-copy.csv"}).rc, 0) << "a name that only begins like the folder's";
}

TEST_F(TqdbTest, ACsvFileKeepsANameBeyondCodePage1251) {
    ASSERT_EQ(Run({"sample"}).rc, 0);
    const std::string name = "Товары 日本.csv";
    const Result exported = Run({"export", "goods", name});
    ASSERT_EQ(exported.rc, 0) << exported.err;
    EXPECT_EQ(NamesIn(dir_), (std::vector<std::string>{"Internal", name}));
    ASSERT_EQ(Run({"clear", "goods"}).rc, 0);
    const Result imported = Run({"import", "goods", name});
    ASSERT_EQ(imported.rc, 0) << imported.err;
    EXPECT_EQ(Run({"count", "goods"}).out, "5\n");
    EXPECT_EQ(Run({"import", "goods", "нет 日本.csv"}).err, "Не удалось прочитать файл нет ??.csv\n")
        << "shown in code page 1251, as far as it goes";
}

TEST_F(TqdbTest, AValuesLineBreaksComeOutAsStoredAndOnlyTheLineEndsAreTheSystems) {
    ASSERT_EQ(Run({"create"}).rc, 0);
    ASSERT_EQ(Run({"save", "goods", "s00=7", "s02=две\r\nстроки", "s21=одна\nLF"}).out, "0\n");
    const std::string end = kTqdbLineEnd;
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"find", "goods", "7"}, {"list", "goods", "--all"}}) {
        const std::string out = Run(command).rawOut;
        EXPECT_NE(out.find("\tдве\r\nстроки\t"), std::string::npos) << command[0] << ": " << out;
        EXPECT_NE(out.find("\tодна\nLF\t"), std::string::npos) << command[0] << ": " << out;
        EXPECT_EQ(out.find("\r\r"), std::string::npos) << command[0];
        EXPECT_EQ(out.compare(out.size() - end.size(), end.size(), end), 0) << command[0];
    }
}

TEST_F(TqdbTest, MessagesAreRussianAndOnlyCreateAndSampleMakeAMissingFolder) {
    const std::string missing = PathOf("missing/scale");
    const Result notThere = RunIn(missing, {"count", "goods"});
    EXPECT_EQ(notThere.rc, 1);
    EXPECT_EQ(notThere.err, "Папка " + missing + " не существует\n");
    EXPECT_FALSE(fs::exists(PathOf("missing")));
    ASSERT_EQ(RunIn(missing, {"sample"}).rc, 0) << "the folder and its parent made";
    EXPECT_EQ(RunIn(missing, {"count", "goods"}).out, "5\n");

    ASSERT_EQ(Run({"create"}).rc, 0);
    EXPECT_EQ(Run({"create"}).err.find("Internal\\TQScale.mdb: файл уже есть или не может быть создан\n"), 0u);
    EXPECT_EQ(Run({"list", "nosuch"}).err, "неизвестная БД: nosuch\n");
    EXPECT_EQ(Run({"delete", "goods", "5"}).err, "записи с таким кодом нет, ни одна запись не удалена\n");
    EXPECT_EQ(Run({"find", "goods", "5"}).err, "запись не найдена\n");
    EXPECT_EQ(Run({"save", "goods", "s02"}).err, "не присваивание столбцу sNN=ЗНАЧЕНИЕ: s02\n");
}

// Every failure tqdb can meet here, from the command line to the engine:
// its messages are Russian, whatever else a line carries.
TEST_F(TqdbTest, EveryFailureIsSaidInRussian) {
    std::vector<std::vector<std::string>> runs = {
        {}, {"nosuch"}, {"list"}, {"list", "nosuch"}, {"generate", "goods", "-1"}, {"find", "goods", "x"},
        {"restore", "goods"}, {"export", "goods"}, {"import", "goods", "a.csv", "--x"}, {"selftest"},
        {"inspect", "goods", "more"}, {"--help"},
        // No database files yet.
        {"count", "goods"}, {"list", "goods"}, {"inspect"}, {"save", "goods", "s00=1"}, {"clear", "goods"},
        {"restore", "goods", "nosuch.bak"}, {"export", "goods", "x.csv"}, {"import", "goods", "x.csv"}};
    std::vector<Result> results;
    for (const auto& args : runs) results.push_back(Run(args));

    const std::string aFile = PathOf("a-file");
    std::ofstream(aFile) << "x";
    results.push_back(RunIn(PathOf("missing"), {"count", "goods"}));
    results.push_back(RunIn(aFile, {"count", "goods"}));
    results.push_back(RunIn(aFile + "/under", {"sample"}));

    ASSERT_EQ(Run({"sample"}).rc, 0);
    std::ofstream(PathOf("bad.csv")) << "s00;zz\r\n1;2\r\n";
    std::ofstream(PathOf("codes.csv")) << "s00;s02\r\nabc;x\r\n";
    runs = {{"create"},
            {"delete", "goods", "77"},
            {"find", "goods", "77"},
            {"save", "goods", "s02"},
            {"save", "goods", "s00=-1"},
            {"generate", "users", "2"},
            {"import", "goods", "missing.csv"},
            {"import", "goods", "bad.csv"},
            {"import", "goods", "codes.csv", "--replace"},
            {"export", "goods", "nowhere/x.csv"},
            {"export", "goods", "Internal/TQScale.mdb"},
            {"restore", "goods", "Users.mdb.20260101-000000.bak"}};
    for (const auto& args : runs) results.push_back(Run(args));

    // Another program writes: every change is refused.
    {
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(PathOf("Internal/TQScale.mdb").c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        for (const auto& args : std::vector<std::vector<std::string>>{
                 {"clear", "goods"}, {"generate", "goods", "2"}, {"import", "goods", "codes.csv"}})
            results.push_back(Run(args));
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
    }

    // A backup that is no database, then files that are none.
    fs::create_directories(PathOf("Internal/Backup"));
    std::ofstream(PathOf("Internal/Backup/TQScale.mdb.20260101-000000.bak")) << "SQLite format 3";
    results.push_back(Run({"restore", "goods", "TQScale.mdb.20260101-000000.bak"}));
    std::ofstream(PathOf("Internal/TQScale.mdb"), std::ios::trunc) << "no longer a database";
    std::ofstream(PathOf("Internal/Users.mdb"), std::ios::trunc) << std::string("SQLite format 3\0", 16) + std::string(200, 'x');
    fs::remove(PathOf("Internal/Labels.mdb"));
    runs = {{"inspect"}, {"count", "goods"}, {"list", "goods"}, {"find", "goods", "1"}, {"count", "users"},
            {"clear", "users"}, {"backups"}};
    for (const auto& args : runs) results.push_back(Run(args));

    int failures = 0;
    for (const Result& r : results) {
        failures += r.rc != 0;
        EXPECT_EQ(EnglishProse(r.err), "") << r.err;
        if (r.rc != 0) EXPECT_EQ(EnglishProse(r.out), "") << r.out;
    }
    EXPECT_GE(failures, 40) << "the failures were reached";
}

}  // namespace tq::viewer::test
