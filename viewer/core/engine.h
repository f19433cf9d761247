// The database engine behind a recordset, shaped after the DAO operations the
// recordset layer uses. An engine is one open database file; a result is one
// open dynaset on it: a fixed set of rows, in order, over which a current
// position moves and through which rows are changed, appended and deleted.
// Every refusal is reported as false, where DAO would throw.
//
// Texts cross this interface as code page 1251, each value at most 254 bytes.
#pragma once
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue.h"

namespace tq::viewer {

using RowValues = std::array<std::string, kFieldCount>;
// One flag a column, s00..s40.
using ColumnSet = std::array<bool, kFieldCount>;

// Which rows of FieldsTable a result holds, and in which order. Each engine
// writes its own statement for it; the value is always bound as a parameter,
// never written into the statement's text.
struct RowQuery {
    enum class Rows {
        Whole,     // every row
        Listed,    // the rows a listing shows: every row whose code is not kUnlistedCode
        Matching,  // the rows whose column `column` holds `value` (an engine
                   // may compare text without regard to case)
    };
    Rows rows = Rows::Whole;
    int column = 0;
    std::string value;
    int orderColumn = -1;  // the column whose text orders the rows; -1: the engine's order

    static RowQuery WholeTable(int orderColumn) { return {Rows::Whole, 0, std::string(), orderColumn}; }
    static RowQuery Listing(int orderColumn) { return {Rows::Listed, 0, std::string(), orderColumn}; }
    static RowQuery Where(int column, const std::string& value, int orderColumn) {
        return {Rows::Matching, column, value, orderColumn};
    }
    bool operator==(const RowQuery& other) const {
        return rows == other.rows && column == other.column && value == other.value &&
               orderColumn == other.orderColumn;
    }
};

// The code of the rows that a listing leaves out.
constexpr char kUnlistedCode[] = "*";

class DbResult {
public:
    virtual ~DbResult() = default;
    // The number of rows of the result that are not deleted; exact at once.
    virtual bool GetRecordCount(long* count) = 0;
    virtual bool IsBOF() = 0;
    virtual bool IsEOF() = 0;
    virtual bool MoveFirst() = 0;
    virtual bool MoveNext() = 0;
    // The values of the current row; fails when there is none.
    virtual bool ReadCurrent(RowValues* values) = 0;
    // The same values packed: each cut at 254 bytes and ended by a NUL, one
    // after the other (PackedRow reads them). Valid until the result moves or
    // changes.
    virtual bool ReadCurrentPacked(std::string_view* packed) = 0;
    virtual bool CanAppend() = 0;
    // Writes the values to the current row. A column whose value is the one
    // read from it is left as stored: text the code page cannot show, a NULL
    // or a longer value survive an edit of another column.
    virtual bool UpdateCurrent(const RowValues& values) = 0;
    // Appends a row; it joins the end of this result. The position stays.
    virtual bool Append(const RowValues& values) = 0;
    // Deletes the current row; the position stays on it until the next move.
    virtual bool DeleteCurrent() = 0;
};

class DbEngine {
public:
    virtual ~DbEngine() = default;
    // A result opens on its first row, except the whole table, which has no
    // current row until it first moves: the layer opens it to append or to
    // delete everything, and reading a first row would cost a pass over the
    // table before every append.
    virtual std::unique_ptr<DbResult> OpenDynaset(const RowQuery& query) = 0;
    // The rows of the same query as they are stored, each value whole and in
    // UTF-8, for what must carry every value exactly (an export): no cut at
    // 254 bytes, no code page 1251 between. False, with LastError naming the
    // rows, when a value is no text that UTF-8 and a text file can carry (a
    // NUL, bytes that are not UTF-8), or when the rows cannot be read.
    virtual bool ReadRowsAsStored(const RowQuery& query, std::vector<RowValues>* rows) = 0;
    // Groups the writes that follow into transactions until CommitTrans, so
    // that a long run of saves or deletes does not pay for one commit each.
    // False when the file cannot be locked for writing now; the writes then
    // commit one by one as before.
    virtual bool BeginTrans() = 0;
    // Commits what BeginTrans grouped; false (and nothing of the last group
    // kept) when the commit fails or the file is no longer at its path.
    virtual bool CommitTrans() = 0;
    // One transaction for a run of writes that must land whole or not at all
    // (an import): nothing is committed before EndWholeTrans, and BeginTrans
    // and CommitTrans inside it neither start nor commit anything. False when
    // the file cannot be locked for writing now, or a transaction is open.
    // It takes the file's write lock at once, so that no other program
    // commits between what the caller reads under it (a backup) and what it
    // writes; it does not set the file up for writing (that waits for the
    // first write), so a transaction that writes nothing leaves the file as
    // it was.
    virtual bool BeginWholeTrans() = 0;
    // Commits the whole transaction when keep is set, else rolls it back.
    // False when there was none, when its commit failed, or when the engine
    // lost it on the way (SQLite rolls a transaction back by itself on a full
    // disk); nothing is kept then. Once it is lost, every write until
    // EndWholeTrans is refused: none may commit on its own.
    virtual bool EndWholeTrans(bool keep) = 0;
    // Whether the file at the path is still the one this engine opened: not
    // removed, not replaced by another. Writes are refused once it is not.
    // Inside a transaction the answer waits for the commit, which checks.
    virtual bool StillAtPath() = 0;
    // The next StillAtPath looks at the file, however recent the last look.
    virtual void LookAgain() = 0;
    // Writes a copy of the whole database, as its last commit left it, into
    // the file at `to` (empty or missing): the same engine's format, openable
    // as it is. An open batch is committed first; inside a whole transaction
    // that has written nothing yet, the copy is what the transaction started
    // from. Nothing is written to the database itself.
    virtual bool BackupTo(const std::string& to) = 0;
    // Inside a whole transaction, which the caller ends: puts the rows of a
    // copy that BackupTo made in place of all of this database's rows, each
    // value as the copy stores it. False, with LastError, when the copy
    // cannot be read whole (another table shape, a read failure) or a row
    // cannot be written; the caller then rolls back.
    virtual bool RestoreFrom(const std::string& from) = 0;
    // What the last refusal was, in one line, for tools and logs.
    virtual std::string LastError() = 0;
    // Calls made into an out-of-process or automation server so far (DAO's
    // Invoke), for the benchmarks; 0 for an embedded engine.
    virtual long ServerCalls() { return 0; }
};

// Opens a database file (path in code page 1251) with the engine its
// signature asks for: an SQLite 3 file, or a Jet/ACE file where a DAO engine
// is built in. Null when the file cannot be opened or is no database; then
// *why, when given, says so in one line.
std::unique_ptr<DbEngine> OpenDbEngine(const std::string& path, std::string* why = nullptr);

// The kind of database file its signature shows: "SQLite", "Jet", "ACE", or
// the empty text for anything else.
std::string DatabaseKind(const std::string& path);
// The same for a file the engineer names, by its UTF-8 path.
std::string DatabaseKindUtf8(const std::string& path);

// Whether the file is an ACE (.accdb) database, which only ACE's DAO opens.
bool HasAceSignature(const std::string& path);

// The engines, for the dispatcher above and for tests.
std::unique_ptr<DbEngine> OpenSqliteEngine(const std::string& path, std::string* why = nullptr);
std::unique_ptr<DbEngine> OpenDaoEngine(const std::string& path, std::string* why = nullptr);

// Creates an empty database file of the scale's layout (SQLite 3). Fails when
// the file exists.
bool CreateSqliteDatabase(const std::string& path);
// The same as an Access (Jet 4) file, through DAO; Windows only.
bool CreateJetDatabase(const std::string& path);

}  // namespace tq::viewer
