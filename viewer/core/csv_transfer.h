// One database out to a CSV file and back. The file has a header row (s00..s40
// or the list's captions) and one row per record; it is written as UTF-8 with a byte-order mark, ';'
// between fields and CRLF line ends, so that a spreadsheet set up for Russian
// opens it as columns. Messages are code page 1251.
#pragma once
#include <functional>
#include <string>

namespace tq::viewer {

// Called now and then during a long export or import: rows done, rows in all.
using TransferProgress = std::function<void(long done, long total)>;

// What the header row names the columns by: s00..s40, or the captions the
// engineer sees in the list (a column without one keeps its sNN), so that a
// file edited in a spreadsheet needs no renaming. An import reads either.
enum class CsvHeader { ColumnNames, Captions };

// Every row of the database, the "*" rows included, in the listing's order.
// False, with *message, when the database cannot be read.
bool ExportCsv(int db, std::string* bytes, std::string* message, const TransferProgress& progress = {},
               CsvHeader header = CsvHeader::ColumnNames);
// The same into a file, path in UTF-8; on success *message tells how many
// records it holds. The file is replaced whole or not at all, and never when
// it is a database or lies in the databases' folder.
bool ExportCsvFile(int db, const std::string& path, std::string* message, const TransferProgress& progress = {},
                   CsvHeader header = CsvHeader::ColumnNames);

struct ImportOptions {
    bool replace = false;  // the database's rows go first
    // The database is backed up first, under the import's write lock, and
    // the import commits only while that copy is there (DbChangeWithBackup).
    bool backUp = true;
    TransferProgress progress;
};

// Each row is saved as the record editor saves it (DbSave), all in one
// transaction: a file with any row that cannot be read or saved writes
// nothing, and *message names the lines and why. On success *message tells
// how many records were imported, and *backupPath, when given, names the
// copy made first (also when a failed import may have left changes).
bool ImportCsv(int db, const std::string& bytes, const ImportOptions& options, std::string* message,
               std::string* backupPath = nullptr);
// The same from a file, path in UTF-8.
bool ImportCsvFile(int db, const std::string& path, const ImportOptions& options, std::string* message,
                   std::string* backupPath = nullptr);

}  // namespace tq::viewer
