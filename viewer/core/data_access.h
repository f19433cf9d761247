// The operations through which the dialogs reach the seven databases. Each
// works on the database's one recordset object in the set in use
// (ScaleDatabases), created by DbOpen and destroyed by DbReleaseAll; every
// operation on an absent object fails (or does nothing), as does every one
// while no set is in use. Codes: the catalogue's DbCode.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue.h"
#include "record.h"

namespace tq::viewer {

class CNVRecordset;

// The seven recordset objects of the databases a program has open, from
// DbOpen to DbReleaseAll. Its owner (the main dialog, tqdb, a test) makes it
// the one the Db* operations below work on for as long as it lives; when it
// goes, it releases its databases and the set in use before it is in use
// again (sets go in the reverse order of their making).
class ScaleDatabases {
public:
    ScaleDatabases();
    ~ScaleDatabases();
    ScaleDatabases(const ScaleDatabases&) = delete;
    ScaleDatabases& operator=(const ScaleDatabases&) = delete;

    CNVRecordset* Recordset(int db) const;
    // Makes the database's object for the file at path (see DbOpen).
    int Open(int db, const std::string& path);
    void ReleaseAll();

private:
    std::unique_ptr<CNVRecordset> recordsets_[kDatabaseCount];
    ScaleDatabases* previous_;
};

int DbOpen(int db, const char* path);
int32_t DbCount(int db);
bool DbFetch(int db, CNVRecord* record, bool first);
// The walk of DbFetch calls over the listing that DbCount opened, without a
// record for each row: each row in turn, as DbFetch would give it, until
// take returns false. False when the database is not open. A row without a
// code ends every listing (PackedRow::HasCode); the caller decides whether
// it shows it.
bool DbForEachListedRow(int db, const std::function<bool(const PackedRow& row)>& take);
bool DbFindByCode(int db, CNVRecord* record, int32_t code);
bool DbDeleteByCode(int db, int32_t code);
int DbSave(int db, FieldBlock* block);
// DbSave of a record of which only the given columns are known (an import of
// a file that names fewer columns): the others keep what the database stores
// under the code, untouched, or are empty for a new record.
using GivenColumns = std::array<bool, kFieldCount>;
int DbSaveColumns(int db, FieldBlock* block, const GivenColumns& given);
// True when every chosen database that is open is empty afterwards; false
// when rows remain (the file was locked, read-only, unreadable).
bool DbClear(const std::array<bool, kDatabaseCount>& chosen);
// DbCount that tells a listing that could not be read (no object, the file
// unreadable or gone) from an empty one.
bool DbCountChecked(int db, int32_t* count);
void DbCloseAll();
// Around a long run of DbSave calls on one database (the test generator):
// the saves between share transactions instead of committing one by one.
// Each save still reports its own result; DbEndBatch commits the rest and
// returns false when that commit failed. Without a batch nothing changes.
bool DbBeginBatch(int db);
bool DbEndBatch(int db);
void DbReleaseAll();

// Around an import: every write between lands in one transaction that
// DbEndWhole commits (keep) or rolls back; nothing is committed before, the
// clearing of DbClear included. DbEndWhole is false when the commit failed.
bool DbBeginWhole(int db);
bool DbEndWhole(int db, bool keep);
// The rows of the whole table, "*" rows included, counted afresh; -1 when
// the database is not open or cannot be read.
long DbTableRows(int db);
// Every row of the table, the "*" rows included, in the listing's order,
// each value whole and in UTF-8 as stored; false, with the engine's reason, when they cannot be read or a
// value is no text a file can carry.
bool DbReadAllRowsAsStored(int db, std::vector<std::array<std::string, kFieldCount>>* rows);
// The "*" rows of the database become these, stored as they stand.
bool DbReplaceStarRows(int db, const std::vector<CNVRecord>& rows);
// Whether DbSave takes text as the code of slot 0 (after its prefix): once
// cleaned as the database's save cleans it, a code the lookups find again.
bool IsSavableCode(int db, const std::string& text);
// The code as DbSave stores text given for it: blanks trimmed and leading
// zeros stripped, except where the database keeps them.
std::string SavedCode(int db, const std::string& text);

// Whether text is a code that DbFindByCode finds again: a plain decimal
// number 1..4294967295 written as the database's code format writes it
// ("42"; in the sales database "00000042").
bool IsLookupCode(int db, const std::string& text, uint32_t* code);

// The recordset object of a database, or null; for tools and tests.
CNVRecordset* DbRecordset(int db);

// Cleans a block in place and stores it through the recordset: the key (slot 0
// after keyOffset characters) is trimmed of blanks, and every field the mask
// selects (all when mask is null) loses its leading zeros.
bool SaveFields(CNVRecordset* recordset, int keyOffset, FieldBlock* block, const bool* zeroMask);

}  // namespace tq::viewer
