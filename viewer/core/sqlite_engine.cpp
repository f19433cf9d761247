// The embedded engine: each database file is an SQLite 3 file holding the
// table FieldsTable with the 41 text columns s00..s40, text in UTF-8.
//
// A result is a CachedResult: read in one pass, changed row by row through
// the statements below. The whole table, before it is read, takes its count
// from a table count cached until another connection commits.
//
// A query's value is bound as a parameter, so that one prepared statement
// serves every lookup of a shape.
//
// Reading never writes: a database that was only listed, counted or searched
// is left as it was, to the byte and to its modification time, and a file on
// a read-only folder or medium is read where it lies. The first write of an
// engine switches the file to write-ahead logging, which keeps one commit per
// saved record cheap, and adds the index on the code that the lookups before
// every save need; closing the engine puts the file back to a rollback
// journal, so that it can again be read where no -shm file can be made.
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <new>
#include <cstdio>
#include <cstring>
#include <vector>

#include "batched_engine.h"
#include "cached_result.h"
#include "common/cp1251.h"
#include "engine.h"
#include "file_path.h"

namespace tq::viewer {

namespace {

// SQLite's own text, in UTF-8, named as SQLite's: it stays in English
// beside the Russian that says what failed.
std::string Said(sqlite3* db) { return std::string("SQLite: ") + sqlite3_errmsg(db); }

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
    void Finalize() {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
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

// What a packed row of a scale's database usually takes: a few filled
// fields and 41 terminators.
const size_t kPackedRowGuess = 160;

// A listing walks the code's index, so it reads the table's pages in the
// order of the codes, not of the file: in SQLite's default cache of 2 MB a
// table of 100,000 goods (16 MB) has its pages read from the file many times
// over, each read a system call. A cache that holds such a table whole reads
// each page once, and the next listing none while the file is unchanged; it
// takes memory only for the pages read.
const char kReadCache[] = "PRAGMA cache_size=-65536";  // KiB
// A transaction keeps SQLite's default cache instead: a long one (an import)
// spills its pages into the journal as it goes, so that its memory stays
// small and a disk that fills up stops it at the row that did not fit, not
// at the commit.
const char kWriteCache[] = "PRAGMA cache_size=-2000";
// A file on a fixed disk is read through a mapping of it: under Wine each
// page read into the cache is a system call of its own, and the first
// listing of a large table paid for them. A read that fails in a mapping
// cannot be reported, only crash the program, so a file on a medium that
// may go away (a stick, a share, a CD) is read page by page as before.
// Writes go through the file as always.
const char kMappedReads[] = "PRAGMA mmap_size=134217728";  // bytes

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

// A column's value as stored, whole, in UTF-8: text as it is, a number as
// its text, NULL as the empty text. False for a value a text file cannot
// carry: bytes that are no UTF-8, or a NUL.
bool StoredText(sqlite3_stmt* stmt, int column, std::string* value) {
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    const int bytes = sqlite3_column_bytes(stmt, column);
    value->assign(text ? text : "", text ? static_cast<size_t>(bytes) : 0);
    return value->find('\0') == std::string::npos && tq::IsValidUtf8(*value);
}

// A column packed onto a row (PackValue) as ColumnText reads it. Most
// values are ASCII (codes, barcodes, prices), which code page 1251 spells
// the same: those are copied as they are, without a string of their own.
void PackColumn(std::string* row, sqlite3_stmt* stmt, int column) {
    const unsigned char* text = sqlite3_column_text(stmt, column);
    const size_t bytes = text ? static_cast<size_t>(sqlite3_column_bytes(stmt, column)) : 0;
    size_t ascii = 0;
    while (ascii < bytes && text[ascii] < 0x80 && text[ascii] != 0) ++ascii;
    if (ascii == bytes) {
        row->append(reinterpret_cast<const char*>(text), std::min(bytes, static_cast<size_t>(kValueMax)));
        *row += '\0';
        return;
    }
    PackValue(row, ColumnText(stmt, column));
}

void BindTexts(sqlite3_stmt* stmt, const std::vector<std::string>& parameters) {
    for (size_t i = 0; i < parameters.size(); ++i)
        sqlite3_bind_text(stmt, static_cast<int>(i + 1), parameters[i].c_str(), static_cast<int>(parameters[i].size()),
                          SQLITE_STATIC);
}

// The statement that selects a query's rows, rowid first; *parameters gets
// the values it binds, in UTF-8.
std::string SelectFor(const RowQuery& query, std::vector<std::string>* parameters) {
    std::string select = std::string("SELECT rowid,") + kColumns + " FROM FieldsTable";
    switch (query.rows) {
    case RowQuery::Rows::Whole:
        break;
    case RowQuery::Rows::Listed:
        select += " WHERE s00<>?";
        parameters->push_back(kUnlistedCode);
        break;
    case RowQuery::Rows::Matching:
        select += " WHERE " + ColumnName(query.column) + "=?";
        parameters->push_back(tq::Cp1251ToUtf8(query.value));
        break;
    }
    if (query.orderColumn >= 0) select += " ORDER BY " + ColumnName(query.orderColumn);
    return select;
}

// Binds the chosen columns' values, in column order, from parameter 1 on.
bool BindValues(sqlite3_stmt* stmt, const RowValues& values, const ColumnSet& columns) {
    int parameter = 1;
    for (int i = 0; i < kFieldCount; ++i) {
        if (!columns[i]) continue;
        const std::string utf8 = tq::Cp1251ToUtf8(values[i].substr(0, kValueMax));
        if (sqlite3_bind_text(stmt, parameter++, utf8.c_str(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT) !=
            SQLITE_OK)
            return false;
    }
    return true;
}

ColumnSet AllColumns() {
    ColumnSet all;
    all.fill(true);
    return all;
}

// "s02=?,s05=?" for the chosen columns.
std::string Assignments(const ColumnSet& columns) {
    std::string list;
    for (int i = 0; i < kFieldCount; ++i) {
        if (!columns[i]) continue;
        char assignment[8];
        std::snprintf(assignment, sizeof assignment, "%ss%02d=?", list.empty() ? "" : ",", i);
        list += assignment;
    }
    return list;
}

// A file left in write-ahead-log mode says so in its header (bytes 18 and 19).
bool HeaderSaysWal(const std::string& path) {
    char head[20] = {};
    return ReadFileHead(path, head, sizeof head) == sizeof head && head[18] == 2 && head[19] == 2;
}

// The path as a URI for SQLite, so that options can follow it.
std::string FileUri(const std::string& path) {
    std::string uri = "file:";
    for (unsigned char c : Utf8FilePath(path)) {
        if (std::isalnum(c) || c >= 0x80 || (c && std::strchr("-._~/:", c))) {
            uri += static_cast<char>(c);
        } else if (c == '\\') {
            uri += '/';
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        }
    }
    return uri;
}

class SqliteEngine;

class SqliteResult : public CachedResult {
public:
    SqliteResult(SqliteEngine& engine, std::string sql, std::vector<std::string> parameters)
        : engine_(engine), sql_(std::move(sql)), parameters_(std::move(parameters)) {}

    bool CanAppend() override;

protected:
    bool FetchRows(std::vector<int64_t>* keys, std::vector<std::string>* packedRows) override;
    long UnreadCount() override;
    bool WriteUpdate(size_t index, int64_t rowid, const RowValues& values, const ColumnSet& changed) override;
    bool WriteAppend(const RowValues& values, int64_t* rowid) override;
    bool WriteDelete(size_t index, int64_t rowid) override;

private:
    SqliteEngine& engine_;
    std::string sql_;
    std::vector<std::string> parameters_;
};

class SqliteEngine : public BatchedEngine {
public:
    ~SqliteEngine() override {
        EndTransactionsForClose();
        ForgetStatements();
        LeaveWriteAheadLog();
        sqlite3_close_v2(db_);
    }

    bool Open(const std::string& path) {
        if (!file_.Remember(path)) return false;
        // READWRITE opens a write-protected file, or one on a read-only
        // medium, for reading only.
        if (Connect(Utf8FilePath(path), SQLITE_OPEN_READWRITE) && CanRead()) {
            if (IsOnFixedDisk(path)) Exec(kMappedReads);
            return true;
        }
        // A file in write-ahead-log mode cannot be read where its -shm file
        // cannot be made, as in a read-only folder. With no -wal file beside
        // it, all its rows are in the file itself: read it as unchanging.
        if (!HeaderSaysWal(path) || CanOpenForReading(path + "-wal")) return false;
        return Connect(FileUri(path) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI) && CanRead();
    }

    std::unique_ptr<DbResult> OpenDynaset(const RowQuery& query) override {
        std::vector<std::string> parameters;
        const std::string select = SelectFor(query, &parameters);
        auto result = std::make_unique<SqliteResult>(*this, select, std::move(parameters));
        if (query.rows == RowQuery::Rows::Whole ? TableCount() < 0 : !result->Load()) return nullptr;
        return result;
    }

    bool ReadRowsAsStored(const RowQuery& query, std::vector<RowValues>* rows) override {
        copyError_.clear();
        std::vector<std::string> parameters;
        Statement* stmt = Cached(SelectFor(query, &parameters));
        if (!stmt) return false;
        BindTexts(stmt->get(), parameters);
        std::string unfit;  // the codes of rows whose values a text file cannot carry
        const bool read = StepAll(stmt, [&] {
            RowValues values;
            bool fits = true;
            for (int i = 0; i < kFieldCount; ++i) fits = StoredText(stmt->get(), i + 1, &values[i]) && fits;
            if (!fits) unfit += (unfit.empty() ? "" : ", ") + values[0];
            rows->push_back(std::move(values));
        });
        if (!read) {
            std::vector<RowValues>().swap(*rows);  // what was read of them is let go
            return false;
        }
        if (unfit.empty()) return true;
        copyError_ = "значения, которые не текст UTF-8 (двоичные данные или NUL), в записях с кодами " + unfit;
        return false;
    }

    bool Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    bool StartTransaction() override {
        abandonedWhy_.clear();
        Exec(kWriteCache);
        return Exec("BEGIN IMMEDIATE");
    }
    bool FinishTransaction() override {
        if (!Exec("COMMIT")) return false;  // its error stays the one reported
        Exec(kReadCache);
        return true;
    }
    // The failure that made the transaction go back (a COMMIT refused while
    // another program reads) stays the one reported, not ROLLBACK's success.
    void AbandonTransaction() override {
        if (sqlite3_errcode(db_) != SQLITE_OK) abandonedWhy_ = Said(db_);
        Exec("ROLLBACK");
        Exec(kReadCache);
        tableCount_ = -1;  // the rolled-back writes were counted
    }

    std::string LastError() override {
        if (!db_) return tq::Cp("файл не открывается");
        if (!file_.StillThere()) return tq::Cp("файла больше нет на прежнем месте");
        if (!copyError_.empty()) return tq::Utf8ToCp1251(copyError_);
        if (!LostWhy().empty()) return tq::Cp("SQLite отменил транзакцию: ") + LostWhy();
        if (!abandonedWhy_.empty()) return tq::Utf8ToCp1251(abandonedWhy_);
        return tq::Utf8ToCp1251(Said(db_));
    }

    // Steps the statement to its end, collecting each row's rowid and packed values.
    bool CollectRows(const std::string& sql, const std::vector<std::string>& parameters,
                     std::vector<int64_t>* rowids, std::vector<std::string>* rows) {
        copyError_.clear();
        Statement* stmt = Cached(sql);
        if (!stmt) return false;
        BindTexts(stmt->get(), parameters);
        return StepAll(stmt, [&] {
            rowids->push_back(sqlite3_column_int64(stmt->get(), 0));
            std::string packed;
            packed.reserve(kPackedRowGuess);
            for (int i = 0; i < kFieldCount; ++i) PackColumn(&packed, stmt->get(), i + 1);
            rows->push_back(std::move(packed));
        });
    }

    // Steps the statement to its end, calling take for each row; the
    // statement is reset however the walk ends. Rows that do not fit in the
    // program's memory are refused (copyError_ says so), not a crash.
    template <class Take>
    bool StepAll(Statement* stmt, Take take) {
        int rc = SQLITE_ERROR;
        try {
            while ((rc = sqlite3_step(stmt->get())) == SQLITE_ROW) take();
        } catch (const std::bad_alloc&) {
            stmt->Reset();
            copyError_ = kOutOfMemoryUtf8;
            return false;
        }
        stmt->Reset();
        return rc == SQLITE_DONE;
    }

    // Writes the chosen columns of a row; the others keep what is stored.
    bool Update(int64_t rowid, const RowValues& values, const ColumnSet& changed) {
        if (!ReadyToWrite()) return false;
        const int count = static_cast<int>(std::count(changed.begin(), changed.end(), true));
        Statement* update = Cached("UPDATE FieldsTable SET " + (count ? Assignments(changed) : "s00=s00") +
                                   " WHERE rowid=?");
        if (!update) return false;
        const bool bound = BindValues(update->get(), values, changed) &&
                           sqlite3_bind_int64(update->get(), count + 1, rowid) == SQLITE_OK;
        const bool done = bound && sqlite3_step(update->get()) == SQLITE_DONE && sqlite3_changes(db_) == 1;
        update->Reset();
        if (done) NoteWrite();
        else NoteFailedWrite();
        return done;
    }

    bool Insert(const RowValues& values, int64_t* rowid) {
        if (!insert_) {
            std::string sql = std::string("INSERT INTO FieldsTable(") + kColumns + ") VALUES(?";
            for (int i = 1; i < kFieldCount; ++i) sql += ",?";
            sql += ")";
            if (!insert_.Prepare(db_, sql)) return false;
        }
        if (!ReadyToWrite()) return false;
        insert_.Reset();
        if (!BindValues(insert_.get(), values, AllColumns())) return false;
        const bool done = sqlite3_step(insert_.get()) == SQLITE_DONE;
        insert_.Reset();
        if (!done) {
            NoteFailedWrite();
            return false;
        }
        *rowid = sqlite3_last_insert_rowid(db_);
        AdjustTableCount(+1);
        NoteWrite();
        return true;
    }

    bool Remove(int64_t rowid) {
        if (!ReadyToWrite()) return false;
        if (!delete_ && !delete_.Prepare(db_, "DELETE FROM FieldsTable WHERE rowid=?")) return false;
        delete_.Reset();
        sqlite3_bind_int64(delete_.get(), 1, rowid);
        const bool done = sqlite3_step(delete_.get()) == SQLITE_DONE && sqlite3_changes(db_) == 1;
        delete_.Reset();
        if (done) {
            AdjustTableCount(-1);
            NoteWrite();
        } else {
            NoteFailedWrite();
        }
        return done;
    }

    bool Writable() { return !sqlite3_db_readonly(db_, "main"); }

    // SQLite's online backup reads the pages as one snapshot, so the copy is
    // consistent even while the file is in write-ahead logging; the copy
    // then gets a rollback journal, to open as it is anywhere. A connection
    // that holds the write lock cannot be the backup's source (SQLite says
    // busy): inside a transaction a second connection reads the pages, and
    // since this one holds the lock and has written nothing, it reads what
    // the transaction started from.
    bool BackupTo(const std::string& to) override {
        CommitTrans();
        copyError_.clear();
        sqlite3* source = db_;
        sqlite3* reader = nullptr;
        if (inTrans_) {
            if (sqlite3_open_v2(Utf8FilePath(file_.path()).c_str(), &reader, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
                copyError_ = Said(reader);
                sqlite3_close_v2(reader);
                return false;
            }
            sqlite3_busy_timeout(reader, 1000);
            source = reader;
        }
        sqlite3* copy = nullptr;
        bool copied = sqlite3_open_v2(Utf8FilePath(to).c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                      nullptr) == SQLITE_OK &&
                      CopyPages(source, copy, &copyError_);
        if (copied && sqlite3_exec(copy, "PRAGMA journal_mode=delete", nullptr, nullptr, nullptr) != SQLITE_OK) {
            copied = false;
            copyError_ = Said(copy);
        } else if (!copied && copyError_.empty()) {
            copyError_ = Said(copy);
        }
        sqlite3_close_v2(copy);
        sqlite3_close_v2(reader);
        return copied;
    }

    // Row by row from a connection of its own on the copy, each value bound
    // as the copy stores it (text, number or NULL alike), into this file's
    // open transaction; the caller's rollback undoes a failure. Unlike a
    // page copy, it works whatever the two files' page sizes and journal
    // modes, and keeps this file's own schema and index.
    bool RestoreFrom(const std::string& from) override {
        copyError_.clear();
        if (!inTrans_ || !ReadyToWrite()) return false;
        sqlite3* copy = nullptr;
        bool restored = sqlite3_open_v2(Utf8FilePath(from).c_str(), &copy, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
        if (!restored) copyError_ = "копия не открывается: " + Said(copy);
        if (restored) restored = CopyRows(copy);
        Exec(kWriteCache);  // what the larger cache holds stays until the commit
        sqlite3_close_v2(copy);
        ForgetStatements();
        tableCount_ = -1;
        return restored;
    }

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
    bool Connect(const std::string& name, int flags) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        if (sqlite3_open_v2(name.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) return false;
        sqlite3_busy_timeout(db_, 1000);
        Exec(kReadCache);
        return true;
    }

    // The table must be there with all its columns, and its pages readable.
    bool CanRead() {
        Statement probe;
        if (!probe.Prepare(db_, std::string("SELECT ") + kColumns + " FROM FieldsTable WHERE rowid=0")) return false;
        const int rc = sqlite3_step(probe.get());
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }

    bool CanWrite() override { return Writable() && StillAtPath(); }

    // The first write sets the file up for writing. The journal mode cannot
    // change inside a transaction: a whole transaction writes with the
    // file's journal as it is, and the next write after it switches.
    bool ReadyToWrite() override {
        abandonedWhy_.clear();  // a new write has its own reasons
        if (WritesRefused() || !CanWrite()) return false;
        if (setUpForWriting_) return true;
        if (!inTrans_) {
            if (JournalMode("wal")) switchedToWal_ = true;
            Exec("PRAGMA synchronous=NORMAL");
            setUpForWriting_ = true;
        }
        if (!indexMade_) indexMade_ = Exec("CREATE INDEX IF NOT EXISTS FieldsTable_s00 ON FieldsTable(s00)");
        return true;
    }

    // SQLite ends a transaction by itself on some failures (a full disk, an
    // I/O error); the connection is then back in autocommit.
    bool TransactionLost() override { return inTrans_ && sqlite3_get_autocommit(db_); }

    bool JournalMode(const char* mode) {
        Statement pragma;
        if (!pragma.Prepare(db_, std::string("PRAGMA journal_mode=") + mode) || sqlite3_step(pragma.get()) != SQLITE_ROW)
            return false;
        const char* now = reinterpret_cast<const char*>(sqlite3_column_text(pragma.get(), 0));
        return now && std::strcmp(now, mode) == 0;
    }

    // Another connection still open keeps the log; the last one to have
    // written puts the journal back when it closes.
    void LeaveWriteAheadLog() {
        if (!switchedToWal_ || !file_.StillThere()) return;
        sqlite3_busy_timeout(db_, 0);
        JournalMode("delete");
    }

    void ForgetStatements() {
        cache_.clear();
        insert_.Finalize();
        delete_.Finalize();
        version_.Finalize();
    }

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


    // Every row of the copy's FieldsTable in place of this file's rows;
    // copyError_ says why not.
    bool CopyRows(sqlite3* copy) {
        Statement read, insert;
        if (!read.Prepare(copy, std::string("SELECT ") + kColumns + " FROM FieldsTable ORDER BY rowid")) {
            copyError_ = "в копии нет таблицы того вида, что у весов: " + Said(copy);
            return false;
        }
        std::string sql = std::string("INSERT INTO FieldsTable(") + kColumns + ") VALUES(?";
        for (int i = 1; i < kFieldCount; ++i) sql += ",?";
        sql += ")";
        // The whole table changes in one transaction: a cache that holds it
        // spares the journal and the file the pages a smaller one would
        // spill before the commit (slow where each write is a system call).
        Exec("PRAGMA cache_size=-262144");
        if (!Exec("DELETE FROM FieldsTable") || !insert.Prepare(db_, sql)) {
            copyError_ = Said(db_);
            return false;
        }
        int rc;
        while ((rc = sqlite3_step(read.get())) == SQLITE_ROW) {
            for (int i = 0; i < kFieldCount; ++i) sqlite3_bind_value(insert.get(), i + 1, sqlite3_column_value(read.get(), i));
            const bool written = sqlite3_step(insert.get()) == SQLITE_DONE;
            insert.Reset();
            if (!written) {
                copyError_ = Said(db_);
                NoteFailedWrite();
                return false;
            }
        }
        if (rc != SQLITE_DONE) {
            copyError_ = "копия не читается до конца: " + Said(copy);
            return false;
        }
        return true;
    }

    static bool CopyPages(sqlite3* from, sqlite3* to, std::string* error) {
        error->clear();
        sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
        if (!backup) {
            *error = Said(to);
            return false;
        }
        const int step = sqlite3_backup_step(backup, -1);
        const int finish = sqlite3_backup_finish(backup);
        if (step == SQLITE_DONE && finish == SQLITE_OK) return true;
        *error = std::string("SQLite: ") + sqlite3_errstr(step != SQLITE_DONE ? step : finish);
        return false;
    }

    sqlite3* db_ = nullptr;
    std::string copyError_;  // why the last backup or restore failed
    std::string abandonedWhy_;  // why the last transaction was given up
    bool setUpForWriting_ = false;
    bool indexMade_ = false;
    bool switchedToWal_ = false;
    // Prepared statements by their parameterized text; a few shapes recur.
    Statement* Cached(const std::string& sql) {
        auto found = cache_.find(sql);
        if (found != cache_.end()) return found->second.get();
        if (cache_.size() >= 32) cache_.clear();
        auto stmt = std::make_unique<Statement>();
        if (!stmt->Prepare(db_, sql)) return nullptr;
        return cache_.emplace(sql, std::move(stmt)).first->second.get();
    }

    Statement insert_, delete_, version_;
    std::map<std::string, std::unique_ptr<Statement>> cache_;
    long tableCount_ = -1;
    long countVersion_ = -1;
};

bool SqliteResult::FetchRows(std::vector<int64_t>* rowids, std::vector<std::string>* packedRows) {
    return engine_.CollectRows(sql_, parameters_, rowids, packedRows);
}

long SqliteResult::UnreadCount() { return engine_.TableCount(); }

bool SqliteResult::CanAppend() { return engine_.Writable(); }

bool SqliteResult::WriteUpdate(size_t, int64_t rowid, const RowValues& values, const ColumnSet& changed) {
    return engine_.Update(rowid, values, changed);
}

bool SqliteResult::WriteAppend(const RowValues& values, int64_t* rowid) { return engine_.Insert(values, rowid); }

bool SqliteResult::WriteDelete(size_t, int64_t rowid) { return engine_.Remove(rowid); }

}  // namespace

std::unique_ptr<DbEngine> OpenSqliteEngine(const std::string& path, std::string* why) {
    auto engine = std::make_unique<SqliteEngine>();
    if (engine->Open(path)) return engine;
    if (why) *why = engine->LastError();
    return nullptr;
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

}  // namespace tq::viewer
