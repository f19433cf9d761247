// A database file read with SQLite directly, bypassing the data core, to see
// what was really stored.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace tq::viewer::test {

// The rows of FieldsTable in rowid order, every column as UTF-8 text.
std::vector<std::vector<std::string>> ReadRawRows(const std::string& path);

// The file's bytes as they are on the disk.
std::string ReadBytes(const std::string& path);

// The file's bytes and its modification time, to tell that nothing touched it.
struct Snapshot {
    std::string bytes;
    std::filesystem::file_time_type written;
    bool operator==(const Snapshot& other) const { return bytes == other.bytes && written == other.written; }
};
Snapshot Take(const std::string& path);

}  // namespace tq::viewer::test
