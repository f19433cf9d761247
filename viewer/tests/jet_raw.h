// Access files written past the data core, through DAO itself: what the
// engine would never write (text that code page 1251 lacks, a table of
// another shape), as another program may leave it. Windows only; elsewhere
// each call fails.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace tq::viewer::test {

// A new Jet file holding the table that createTable (Jet SQL) makes.
bool JetCreateWithTable(const std::string& path, const std::string& createTable);
// Appends a row to FieldsTable: (column, UTF-8 value) pairs, each field by
// its name sNN, the rest Null.
bool JetAppendRow(const std::string& path, const std::vector<std::pair<int, std::string>>& values);

}  // namespace tq::viewer::test
