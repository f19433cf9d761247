// The embedded engine: each database file is an SQLite 3 file holding the
// table FieldsTable with the 41 text columns s00..s40, text in UTF-8.
//
// A result behaves like a DAO dynaset on a fixed set of rows. Opening it reads
// its rows in one pass, in order, packed one string a row, so the count is
// exact at once and moving costs nothing; no statement stays open, so no lock
// is held while a listing is shown. Changes made through the result go to the
// file at once and to its copy of the row. The whole-table result, which the
// layer opens before every append, reads its rows only when it first moves
// and takes its count from a cached table count, so that appending stays
// cheap however large the table grows.
//
// The layer's SQL carries its values as quoted literals; they are turned into
// parameters, so that one prepared statement serves every lookup of a shape.
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/cp1251.h"
#include "engine.h"
#include "file_path.h"

namespace {

const char kColumns[] =
    "s00,s01,s02,s03,s04,s05,s06,s07,s08,s09,s10,s11,s12,s13,s14,s15,s16,s17,s18,s19,s20,"
    "s21,s22,s23,s24,s25,s26,s27,s28,s29,s30,s31,s32,s33,s34,s35,s36,s37,s38,s39,s40";

// "s00<suffix>,s01<suffix>,...,s40<suffix>"
std::string ColumnList(const char* suffix) {
    std::string list;
    for (int i = 0; i < kFieldCount; ++i) {
        char column[8];
        std::snprintf(column, sizeof column, "%ss%02d", i ? "," : "", i);
        list += column;
        list += suffix;
    }
    return list;
}

class Statement {
public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(stmt_); }

    bool Prepare(sqlite3* db, const std::string& sql) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        return sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) == SQLITE_OK;
    }
    sqlite3_stmt* get() const { return stmt_; }
    explicit operator bool() const { return stmt_ != nullptr; }
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Reads a column as the program sees it: code page 1251, cut at a NUL and at
// 254 bytes. Numbers come as their text, NULL as the empty text.
std::string ColumnText(sqlite3_stmt* stmt, int column) {
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    if (!text) return std::string();
    const int bytes = sqlite3_column_bytes(stmt, column);
    std::string value = tq::Utf8ToCp1251(std::string_view(text, static_cast<size_t>(bytes)));
    const size_t nul = value.find('\0');
    if (nul != std::string::npos) value.resize(nul);
    if (value.size() > static_cast<size_t>(kValueMax)) value.resize(kValueMax);
    return value;
}

bool BindValues(sqlite3_stmt* stmt, const RowValues& values) {
    for (int i = 0; i < kFieldCount; ++i) {
        std::string value = values[i].substr(0, kValueMax);
        const std::string utf8 = tq::Cp1251ToUtf8(value);
        if (sqlite3_bind_text(stmt, i + 1, utf8.c_str(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
            return false;
    }
    return true;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool ContainsNoCase(const std::string& text, const char* part) {
    const size_t n = std::strlen(part);
    for (size_t i = 0; i + n <= text.size(); ++i)
        if (StartsWithNoCase(text.substr(i, n), part)) return true;
    return false;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(" \t\r\n;");
    return text.substr(first, last - first + 1);
}

std::string Pack(const RowValues& values) {
    std::string packed;
    for (const std::string& value : values) {
        packed.append(value.c_str(), std::min(std::strlen(value.c_str()), static_cast<size_t>(kValueMax)));
        packed += '\0';
    }
    return packed;
}

void Unpack(const std::string& packed, RowValues* values) {
    const char* p = packed.c_str();
    for (std::string& value : *values) {
        value.assign(p);
        p += value.size() + 1;
    }
}

// Replaces each quoted literal of the SQL text by a parameter, collecting the
// literal's text ('' inside stands for one quote).
std::string Parameterized(const std::string& sql, std::vector<std::string>* parameters) {
    std::string out;
    for (size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (c == '[') {  // a bracketed name may hold anything but ]
            const size_t close = sql.find(']', i);
            const size_t end = close == std::string::npos ? sql.size() : close + 1;
            out.append(sql, i, end - i);
            i = end - 1;
        } else if (c == '\'') {
            std::string literal;
            size_t j = i + 1;
            for (; j < sql.size(); ++j) {
                if (sql[j] != '\'') {
                    literal += sql[j];
                } else if (j + 1 < sql.size() && sql[j + 1] == '\'') {
                    literal += '\'';
                    ++j;
                } else {
                    break;
                }
            }
            if (j >= sql.size()) {  // unterminated: leave it to SQLite to refuse
                parameters->clear();
                return sql;
            }
            parameters->push_back(literal);
            out += '?';
            i = j;
        } else {
            out += c;
        }
    }
    return out;
}

class SqliteEngine;

class SqliteResult : public DbResult {
public:
    SqliteResult(SqliteEngine& engine, std::string sql, std::vector<std::string> parameters)
        : engine_(engine), sql_(std::move(sql)), parameters_(std::move(parameters)) {}

    bool Load();
    bool GetRecordCount(long* count) override;
    bool IsBOF() override { return LiveCount() == 0 || pos_ < 0; }
    bool IsEOF() override;
    bool MoveFirst() override;
    bool MoveNext() override;
    bool ReadCurrent(RowValues* values) override;
    bool CanAppend() override;
    bool UpdateCurrent(const RowValues& values) override;
    bool Append(const RowValues& values) override;
    bool DeleteCurrent() override;

private:
    bool EnsureKeyset();
    bool HasCurrent() const {
        return loaded_ && pos_ >= 0 && pos_ < static_cast<long>(rowids_.size()) && !deleted_[pos_];
    }
    long LiveCount();

    SqliteEngine& engine_;
    std::string sql_;
    std::vector<std::string> parameters_;
    bool loaded_ = false;
    std::vector<sqlite3_int64> rowids_;
    std::vector<std::string> rows_;  // the 41 values of each row, each ended by a NUL
    std::vector<bool> deleted_;
    long deletedCount_ = 0;
    long firstLive_ = 0;  // no live row before this index
    long pos_ = 0;
};

class SqliteEngine : public DbEngine {
public:
    // close_v2 lets the statements below be finalized after it.
    ~SqliteEngine() override {
        CommitTrans();
        sqlite3_close_v2(db_);
    }

    bool Open(const std::string& path) {
        const std::string utf8 = Utf8FilePath(path);
        // READWRITE opens a write-protected file for reading only.
        if (sqlite3_open_v2(utf8.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
            return false;
        sqlite3_busy_timeout(db_, 1000);
        Statement probe;
        if (!probe.Prepare(db_, std::string("SELECT ") + kColumns + " FROM FieldsTable WHERE rowid=0"))
            return false;  // not a database of the scale's layout
        if (!sqlite3_db_readonly(db_, "main")) {
            // Write-ahead logging keeps one commit per saved record cheap; the
            // index serves the lookups by code that precede every save.
            Exec("PRAGMA journal_mode=WAL");
            Exec("PRAGMA synchronous=NORMAL");
            Exec("CREATE INDEX IF NOT EXISTS FieldsTable_s00 ON FieldsTable(s00)");
        }
        return true;
    }

    std::unique_ptr<DbResult> OpenDynaset(const std::string& sql, const std::string& sortColumn) override {
        const std::string text = Trimmed(tq::Cp1251ToUtf8(sql));
        std::string select = std::string("SELECT rowid,") + kColumns;
        const bool wholeTable = text == "FieldsTable" || text == "[FieldsTable]";
        if (wholeTable) {
            select += " FROM FieldsTable";
        } else if (StartsWithNoCase(text, "SELECT * FROM ")) {
            select += text.substr(8);
        } else {
            return nullptr;
        }
        std::vector<std::string> parameters;
        select = Parameterized(select, &parameters);
        if (!sortColumn.empty() && !ContainsNoCase(select, " ORDER BY ")) select += " ORDER BY " + sortColumn;
        auto result = std::make_unique<SqliteResult>(*this, select, std::move(parameters));
        if (wholeTable ? TableCount() < 0 : !result->Load()) return nullptr;
        return result;
    }

    bool Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    bool BeginTrans() override {
        if (inTrans_) return true;
        if (!Writable() || !Exec("BEGIN IMMEDIATE")) return false;
        inTrans_ = true;
        writesInTrans_ = 0;
        return true;
    }

    bool CommitTrans() override {
        if (!inTrans_) return true;
        inTrans_ = false;
        if (Exec("COMMIT")) return true;
        Exec("ROLLBACK");
        tableCount_ = -1;  // the rolled-back writes were counted
        return false;
    }

    // Steps the statement to its end, collecting each row's rowid and packed values.
    bool CollectRows(const std::string& sql, const std::vector<std::string>& parameters,
                     std::vector<sqlite3_int64>* rowids, std::vector<std::string>* rows) {
        Statement* stmt = Cached(sql);
        if (!stmt) return false;
        for (size_t i = 0; i < parameters.size(); ++i)
            sqlite3_bind_text(stmt->get(), static_cast<int>(i + 1), parameters[i].c_str(),
                              static_cast<int>(parameters[i].size()), SQLITE_STATIC);
        int rc;
        while ((rc = sqlite3_step(stmt->get())) == SQLITE_ROW) {
            rowids->push_back(sqlite3_column_int64(stmt->get(), 0));
            std::string packed;
            for (int i = 0; i < kFieldCount; ++i) {
                packed += ColumnText(stmt->get(), i + 1);
                packed += '\0';
            }
            rows->push_back(std::move(packed));
        }
        stmt->Reset();
        return rc == SQLITE_DONE;
    }

    bool Update(sqlite3_int64 rowid, const RowValues& values) {
        if (!update_) {
            if (!update_.Prepare(db_, "UPDATE FieldsTable SET " + ColumnList("=?") + " WHERE rowid=?")) return false;
        }
        update_.Reset();
        if (!BindValues(update_.get(), values)) return false;
        sqlite3_bind_int64(update_.get(), kFieldCount + 1, rowid);
        const bool done = sqlite3_step(update_.get()) == SQLITE_DONE && sqlite3_changes(db_) == 1;
        update_.Reset();
        if (done) NoteWrite();
        return done;
    }

    bool Insert(const RowValues& values, sqlite3_int64* rowid) {
        if (!insert_) {
            std::string sql = std::string("INSERT INTO FieldsTable(") + kColumns + ") VALUES(?";
            for (int i = 1; i < kFieldCount; ++i) sql += ",?";
            sql += ")";
            if (!insert_.Prepare(db_, sql)) return false;
        }
        insert_.Reset();
        if (!BindValues(insert_.get(), values)) return false;
        const bool done = sqlite3_step(insert_.get()) == SQLITE_DONE;
        insert_.Reset();
        if (!done) return false;
        *rowid = sqlite3_last_insert_rowid(db_);
        AdjustTableCount(+1);
        NoteWrite();
        return true;
    }

    bool Remove(sqlite3_int64 rowid) {
        if (!delete_ && !delete_.Prepare(db_, "DELETE FROM FieldsTable WHERE rowid=?")) return false;
        delete_.Reset();
        sqlite3_bind_int64(delete_.get(), 1, rowid);
        const bool done = sqlite3_step(delete_.get()) == SQLITE_DONE && sqlite3_changes(db_) == 1;
        delete_.Reset();
        if (done) {
            AdjustTableCount(-1);
            NoteWrite();
        }
        return done;
    }

    bool Writable() { return !sqlite3_db_readonly(db_, "main"); }

    // The number of rows of the table; cached while no other connection has
    // committed a change (PRAGMA data_version tells). -1 on failure.
    long TableCount() {
        const long version = DataVersion();
        if (tableCount_ >= 0 && version == countVersion_) return tableCount_;
        Statement stmt;
        if (!stmt.Prepare(db_, "SELECT count(*) FROM FieldsTable") || sqlite3_step(stmt.get()) != SQLITE_ROW)
            return -1;
        tableCount_ = static_cast<long>(sqlite3_column_int64(stmt.get(), 0));
        countVersion_ = version;
        return tableCount_;
    }

private:
    long DataVersion() {
        if (!version_ && !version_.Prepare(db_, "PRAGMA data_version")) return -1;
        long v = -1;
        if (sqlite3_step(version_.get()) == SQLITE_ROW) v = static_cast<long>(sqlite3_column_int64(version_.get(), 0));
        version_.Reset();
        return v;
    }
    void AdjustTableCount(long delta) {
        if (tableCount_ >= 0) tableCount_ += delta;
    }

    // A long batch commits every so often, so that its journal stays small and
    // other programs get their turn to write.
    void NoteWrite() {
        if (!inTrans_ || ++writesInTrans_ < kWritesPerTransaction) return;
        if (CommitTrans()) BeginTrans();
    }
    static constexpr long kWritesPerTransaction = 1000;

    sqlite3* db_ = nullptr;
    // Prepared statements by their parameterized text; a few shapes recur.
    Statement* Cached(const std::string& sql) {
        auto found = cache_.find(sql);
        if (found != cache_.end()) return found->second.get();
        if (cache_.size() >= 32) cache_.clear();
        auto stmt = std::make_unique<Statement>();
        if (!stmt->Prepare(db_, sql)) return nullptr;
        return cache_.emplace(sql, std::move(stmt)).first->second.get();
    }

    Statement update_, insert_, delete_, version_;
    std::map<std::string, std::unique_ptr<Statement>> cache_;
    long tableCount_ = -1;
    long countVersion_ = -1;
    bool inTrans_ = false;
    long writesInTrans_ = 0;
};

bool SqliteResult::Load() {
    rowids_.clear();
    rows_.clear();
    if (!engine_.CollectRows(sql_, parameters_, &rowids_, &rows_)) return false;
    deleted_.assign(rowids_.size(), false);
    deletedCount_ = 0;
    firstLive_ = 0;
    pos_ = rowids_.empty() ? -1 : 0;
    loaded_ = true;
    return true;
}

bool SqliteResult::EnsureKeyset() { return loaded_ || Load(); }

long SqliteResult::LiveCount() {
    if (!loaded_) {
        const long count = engine_.TableCount();
        return count < 0 ? 0 : count;
    }
    return static_cast<long>(rowids_.size()) - deletedCount_;
}

bool SqliteResult::GetRecordCount(long* count) {
    if (!loaded_ && engine_.TableCount() < 0) return false;
    *count = LiveCount();
    return true;
}

bool SqliteResult::IsEOF() {
    if (LiveCount() == 0) return true;
    return loaded_ && pos_ >= static_cast<long>(rowids_.size());
}

bool SqliteResult::MoveFirst() {
    if (!EnsureKeyset() || LiveCount() == 0) return false;  // no current record
    while (firstLive_ < static_cast<long>(rowids_.size()) && deleted_[firstLive_]) ++firstLive_;
    pos_ = firstLive_;
    return true;
}

bool SqliteResult::MoveNext() {
    if (!EnsureKeyset() || LiveCount() == 0) return false;
    const long size = static_cast<long>(rowids_.size());
    if (pos_ >= size) return false;  // already past the end
    do ++pos_;
    while (pos_ < size && deleted_[pos_]);
    return true;
}

bool SqliteResult::ReadCurrent(RowValues* values) {
    if (!HasCurrent()) return false;  // the whole table has no current row before it moves
    Unpack(rows_[pos_], values);
    return true;
}

bool SqliteResult::CanAppend() { return engine_.Writable(); }

bool SqliteResult::UpdateCurrent(const RowValues& values) {
    if (!EnsureKeyset() || !HasCurrent()) return false;
    if (!engine_.Update(rowids_[pos_], values)) return false;
    rows_[pos_] = Pack(values);
    return true;
}

bool SqliteResult::Append(const RowValues& values) {
    sqlite3_int64 rowid = 0;
    if (!engine_.Insert(values, &rowid)) return false;
    if (loaded_) {
        rowids_.push_back(rowid);
        rows_.push_back(Pack(values));
        deleted_.push_back(false);
        if (pos_ < 0) pos_ = 0;
    }
    return true;
}

bool SqliteResult::DeleteCurrent() {
    if (!EnsureKeyset() || !HasCurrent()) return false;
    if (!engine_.Remove(rowids_[pos_])) return false;
    deleted_[pos_] = true;
    ++deletedCount_;
    return true;
}

}  // namespace

std::unique_ptr<DbEngine> OpenSqliteEngine(const std::string& path) {
    auto engine = std::make_unique<SqliteEngine>();
    if (!engine->Open(path)) return nullptr;
    return engine;
}

bool CreateSqliteDatabase(const std::string& path) {
    if (CanOpenForReading(path)) return false;
    sqlite3* db = nullptr;
    const std::string utf8 = Utf8FilePath(path);
    if (sqlite3_open_v2(utf8.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    const std::string sql =
        "CREATE TABLE FieldsTable(" + ColumnList(" TEXT") + "); CREATE INDEX FieldsTable_s00 ON FieldsTable(s00);";
    const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}
