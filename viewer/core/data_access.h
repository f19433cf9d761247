// The operations through which the dialogs reach the seven databases. Each
// works on the database's one recordset object, created by DbOpen and
// destroyed by DbReleaseAll; every operation on an absent object fails (or
// does nothing). Codes: 0 for success, else 2001..2025.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "catalogue.h"
#include "record.h"

class CNVRecordset;

int DbOpen(int db, const char* path);
int32_t DbCount(int db);
bool DbFetch(int db, CNVRecord* record, bool first);
bool DbFindByCode(int db, CNVRecord* record, int32_t code);
bool DbDeleteByCode(int db, int32_t code);
int DbSave(int db, FieldBlock* block);
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
