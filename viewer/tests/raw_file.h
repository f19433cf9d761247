// A database file read with SQLite directly, bypassing the data core, to see
// what was really stored.
#pragma once
#include <string>
#include <vector>

// The rows of FieldsTable in rowid order, every column as UTF-8 text.
std::vector<std::vector<std::string>> ReadRawRows(const std::string& path);
