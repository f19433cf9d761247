// A temporary folder with database files, the seven recordset objects released
// after each test, and direct access to a file's rows for checking what was
// really stored.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/cp1251.h"
#include "core/data_access.h"
#include "core/engine.h"
#include "temp_folder.h"

namespace tq::viewer::test {

class DbTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A path inside the temporary folder.
    std::string PathOf(const std::string& name) const;
    // Whether the tests run on Access files through the DAO engine
    // (TQ_TEST_ENGINE=dao) rather than on SQLite files.
    static bool OnJet();
    // Creates an empty database file and opens it as db; returns its path.
    std::string OpenNew(int db);
    // Saves a record given as (column, UTF-8 value) pairs; value 0 is the code
    // without the "xx" prefix. Returns DbSave's code.
    int Save(int db, const std::vector<std::pair<int, std::string>>& fields);
    // The s00 values in listing order, through DbCount and DbFetch.
    std::vector<std::string> ListCodes(int db);

    // Rows as stored in the file (UTF-8), in rowid order, read with SQLite
    // directly; for an Access file, through an engine of their own.
    std::vector<std::vector<std::string>> RawRows(const std::string& path);
    void RawExec(const std::string& path, const std::string& sql);

    TempFolder folder_{"tqdb-test-"};
    std::string dir_;
    ScaleDatabases databases_;  // the test's own open databases
};

inline std::string U(const std::string& cp1251) { return tq::Cp1251ToUtf8(cp1251); }

}  // namespace tq::viewer::test
