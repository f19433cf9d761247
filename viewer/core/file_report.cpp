#include "file_report.h"

#include <sqlite3.h>

#include "common/cp1251.h"
#include "engine.h"
#include "file_path.h"

namespace tq::viewer {

namespace {

// SQLite names and declared types are UTF-8; the data core's texts are 1251.
std::string ColumnText(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text ? tq::Utf8ToCp1251(reinterpret_cast<const char*>(text)) : std::string();
}

// Runs sql, handing each row to row; false when it cannot run to its end.
template <typename Row>
bool EachRow(sqlite3* db, const std::string& sql, Row row) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return false;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) row(statement);
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE;
}

// A name inside a PRAGMA's quotes: a quote in it doubled.
std::string Quoted(const std::string& utf8) {
    std::string quoted = "'";
    for (char c : utf8) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

// The connection, closed however the reading ends.
class ReadOnlySqlite {
public:
    explicit ReadOnlySqlite(const std::string& path) {
        // READONLY, not READWRITE: a file that was only looked at keeps its
        // bytes and its modification time, its journal mode included.
        if (sqlite3_open_v2(Utf8FilePath(path).c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            error_ = db_ ? "SQLite: " + std::string(sqlite3_errmsg(db_)) : tq::Cp("не хватает памяти");
            sqlite3_close(db_);
            db_ = nullptr;
        }
    }
    ~ReadOnlySqlite() { sqlite3_close(db_); }
    ReadOnlySqlite(const ReadOnlySqlite&) = delete;
    ReadOnlySqlite& operator=(const ReadOnlySqlite&) = delete;

    sqlite3* get() const { return db_; }
    std::string Error() const { return db_ ? "SQLite: " + std::string(sqlite3_errmsg(db_)) : error_; }

private:
    sqlite3* db_ = nullptr;
    std::string error_;
};

}  // namespace

const char* CollatingOrderName(long order) {
    // CollatingOrderEnum (DAO); where two names share a number, the first.
    static const struct {
        long order;
        const char* name;
    } kNames[] = {
        {1024, "Neutral"}, {1025, "Arabic"}, {1028, "Chinese Traditional"}, {1029, "Czech"}, {1030, "Norwegian/Danish"},
        {1032, "Greek"}, {1033, "General"}, {1034, "Spanish"}, {1037, "Hebrew"}, {1038, "Hungarian"},
        {1039, "Icelandic"}, {1041, "Japanese"}, {1042, "Korean"}, {1043, "Dutch"}, {1045, "Polish"},
        {1049, "Cyrillic"}, {1053, "Swedish/Finnish"}, {1054, "Thai"}, {1055, "Turkish"}, {1060, "Slovenian"},
        {2052, "Chinese Simplified"}, {-1, "Undefined"},
    };
    for (const auto& known : kNames)
        if (known.order == order) return known.name;
    return "";
}

const char* DaoTypeName(long type) {
    // DataTypeEnum (DAO).
    static const struct {
        long type;
        const char* name;
    } kNames[] = {
        {1, "Boolean"}, {2, "Byte"}, {3, "Integer"}, {4, "Long"}, {5, "Currency"}, {6, "Single"},
        {7, "Double"}, {8, "Date"}, {9, "Binary"}, {10, "Text"}, {11, "LongBinary"}, {12, "Memo"},
        {15, "GUID"}, {16, "BigInt"}, {17, "VarBinary"}, {18, "Char"}, {19, "Numeric"}, {20, "Decimal"},
        {21, "Float"}, {22, "Time"}, {23, "TimeStamp"},
    };
    for (const auto& known : kNames)
        if (known.type == type) return known.name;
    return "";
}

bool InspectSqliteFile(const std::string& path, Inspection* out, std::string* why) {
    ReadOnlySqlite connection(path);
    sqlite3* db = connection.get();
    if (!db) {
        *why = connection.Error();
        return false;
    }
    out->facts.push_back({tq::Cp("вид"), "SQLite"});
    std::string pageSize, encoding;
    if (!EachRow(db, "PRAGMA page_size", [&](sqlite3_stmt* s) { pageSize = ColumnText(s, 0); }) ||
        !EachRow(db, "PRAGMA encoding", [&](sqlite3_stmt* s) { encoding = ColumnText(s, 0); })) {
        *why = connection.Error();
        return false;
    }
    out->facts.push_back({tq::Cp("размер страницы"), pageSize});
    out->facts.push_back({tq::Cp("кодировка"), encoding});

    // Tables by the names SQLite keeps; its own (sqlite_*) are not the scale's.
    std::string table;  // FieldsTable as the file spells it
    const bool listed = EachRow(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name",
                                [&](sqlite3_stmt* s) {
                                    const std::string name = ColumnText(s, 0);
                                    if (sqlite3_stricmp(name.c_str(), "FieldsTable") == 0) table = name;
                                    else if (sqlite3_strnicmp(name.c_str(), "sqlite_", 7) != 0) out->otherTables.push_back(name);
                                });
    if (!listed) {
        *why = connection.Error();
        return false;
    }
    if (table.empty()) return true;
    out->hasTable = true;
    const std::string quoted = Quoted(tq::Cp1251ToUtf8(table));
    bool read = EachRow(db, "PRAGMA table_info(" + quoted + ")", [&](sqlite3_stmt* s) {
        InspectedField field;
        field.name = ColumnText(s, 1);
        field.type = ColumnText(s, 2);
        field.required = sqlite3_column_int(s, 3) != 0;
        out->fields.push_back(field);
    });
    read = read && EachRow(db, "PRAGMA index_list(" + quoted + ")", [&](sqlite3_stmt* s) {
        InspectedIndex index;
        index.name = ColumnText(s, 1);
        index.unique = sqlite3_column_int(s, 2) != 0;
        index.primary = ColumnText(s, 3) == "pk";
        out->indexes.push_back(index);
    });
    for (InspectedIndex& index : out->indexes) {
        read = read && EachRow(db, "PRAGMA index_info(" + Quoted(tq::Cp1251ToUtf8(index.name)) + ")",
                               [&](sqlite3_stmt* s) { index.fields.push_back(ColumnText(s, 2)); });
    }
    if (!read) *why = connection.Error();
    return read;
}

bool InspectDatabase(const std::string& path, Inspection* out, std::string* why) {
    *out = Inspection();
    FileIdentity identity;
    if (!GetFileIdentity(path, &identity)) {
        *why = tq::Cp("файла нет");
        return false;
    }
    if (!CanOpenForReading(path)) {
        *why = tq::Cp("файл не открывается для чтения");
        return false;
    }
    const std::string kind = DatabaseKind(path);
    if (kind == "SQLite") return InspectSqliteFile(path, out, why);
    if (kind == "Jet" || kind == "ACE") return InspectJetFile(path, out, why);
    *why = tq::Cp("не база данных весов (ни SQLite, ни Access)");
    return false;
}

#ifndef _WIN32
// Access files are read through the DAO of a Windows machine.
bool InspectJetFile(const std::string&, Inspection*, std::string* why) {
    *why = tq::Cp("файл Access (Jet): читается через DAO, в сборке для Windows (tqdb.exe)");
    return false;
}
#endif

}  // namespace tq::viewer
