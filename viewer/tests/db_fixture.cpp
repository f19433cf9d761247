#include "db_fixture.h"

#include "raw_file.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tq::viewer::test {

namespace fs = std::filesystem;

void DbTest::SetUp() { dir_ = folder_.Path(); }

// Before the folder goes: an open database would keep its files.
void DbTest::TearDown() { DbReleaseAll(); }

std::string DbTest::PathOf(const std::string& name) const { return (fs::path(dir_) / name).string(); }

bool DbTest::OnJet() {
    const char* engine = std::getenv("TQ_TEST_ENGINE");
    return engine && std::strcmp(engine, "dao") == 0;
}

std::string DbTest::OpenNew(int db) {
    const std::string path = PathOf("db" + std::to_string(db) + ".mdb");
    EXPECT_TRUE(OnJet() ? CreateJetDatabase(path) : CreateSqliteDatabase(path)) << path;
    EXPECT_EQ(DbOpen(db, path.c_str()), 0) << "a fresh database opens";
    return path;
}

int DbTest::Save(int db, const std::vector<std::pair<int, std::string>>& fields) {
    FieldBlock block;
    std::strcpy(block.slot[0], "xx");
    for (const auto& [column, utf8] : fields) {
        const std::string value = tq::Utf8ToCp1251(utf8);
        SetBlockSlot(block, column, (column == 0 ? "xx" + value : value).c_str());
    }
    return DbSave(db, &block);
}

std::vector<std::string> DbTest::ListCodes(int db) {
    std::vector<std::string> codes;
    const int32_t count = DbCount(db);
    CNVRecord record;
    for (int32_t i = 0; i < count; ++i) {
        if (!DbFetch(db, &record, i == 0)) break;
        codes.push_back(U(record.Value(0)));
    }
    return codes;
}

std::vector<std::vector<std::string>> DbTest::RawRows(const std::string& path) {
    if (!OnJet()) return ReadRawRows(path);
    // An Access file has no second reader here: a connection of its own
    // through the engine, in the table's order, each value as stored.
    std::vector<std::vector<std::string>> rows;
    auto engine = OpenDbEngine(path);
    std::vector<RowValues> stored;
    if (!engine || !engine->ReadRowsAsStored(RowQuery::WholeTable(-1), &stored)) return rows;
    for (const RowValues& values : stored) rows.emplace_back(values.begin(), values.end());
    return rows;
}

void DbTest::RawExec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << "\n" << sql;
    sqlite3_free(error);
    sqlite3_close(db);
}

}  // namespace tq::viewer::test
