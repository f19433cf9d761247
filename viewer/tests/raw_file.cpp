#include "raw_file.h"

#include <sqlite3.h>

#include <fstream>
#include <iterator>

namespace tq::viewer::test {

std::vector<std::vector<std::string>> ReadRawRows(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT * FROM FieldsTable ORDER BY rowid", -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                std::vector<std::string> row;
                for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                    const unsigned char* text = sqlite3_column_text(stmt, i);
                    row.push_back(text ? reinterpret_cast<const char*>(text) : "");
                }
                rows.push_back(row);
            }
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return rows;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Snapshot Take(const std::string& path) { return {ReadBytes(path), std::filesystem::last_write_time(path)}; }

}  // namespace tq::viewer::test
