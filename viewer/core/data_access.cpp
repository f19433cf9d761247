#include "data_access.h"

#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <memory>
#include <optional>

#include "common/number.h"
#include "file_path.h"
#include "recordset.h"

namespace tq::viewer {

namespace {

// The set the Db* operations work on: its owner's, while it lives.
ScaleDatabases* g_inUse = nullptr;

const char kReservedPassword[] = "517";
const int kNoSuchDatabase = -1;  // an index outside 0..6 has no code of its own

CNVRecordset* Object(int db) { return g_inUse ? g_inUse->Recordset(db) : nullptr; }

void TrimBlanks(char* text) {
    size_t start = 0;
    while (text[start] == ' ') ++start;
    size_t end = std::strlen(text);
    while (end > start && text[end - 1] == ' ') --end;
    std::memmove(text, text + start, end - start);
    text[end - start] = '\0';
}

// "00017" becomes "17", "000" becomes "0"; a text of one character stays.
void StripLeadingZeros(char* text) {
    const size_t length = std::strlen(text);
    size_t p = 0;
    while (text[p] == '0' && p + 1 < length) ++p;
    std::memmove(text, text + p, length - p + 1);
}

int CheckUser(FieldBlock* block) {
    char* name = block->slot[1];
    TrimBlanks(name);
    if (!*name) return kUserNameEmpty;
    char* password = block->slot[3];
    TrimBlanks(password);
    if (!*password) return kUserPasswordBad;
    for (size_t i = 0; password[i] && i < 255; ++i)
        if (password[i] < '0' || password[i] > '9') return kUserPasswordBad;
    if (std::strcmp(password, kReservedPassword) == 0) return kUserPasswordBad;
    return 0;
}

}  // namespace

bool IsLookupCode(int db, const std::string& text, uint32_t* code) {
    if (!IsDatabaseIndex(db)) return false;
    const std::optional<long long> value = tq::ParseInteger(text, 1, UINT32_MAX);
    if (!value) return false;
    char formatted[32];
    std::snprintf(formatted, sizeof formatted, CodeFormat(db), static_cast<unsigned long>(*value));
    if (text != formatted) return false;
    if (code) *code = static_cast<uint32_t>(*value);
    return true;
}

CNVRecordset* DbRecordset(int db) { return Object(db); }

ScaleDatabases::ScaleDatabases() : previous_(g_inUse) { g_inUse = this; }

ScaleDatabases::~ScaleDatabases() {
    ReleaseAll();
    // Sets go in the reverse order of their making.
    assert(g_inUse == this);
    g_inUse = previous_;
}

CNVRecordset* ScaleDatabases::Recordset(int db) const {
    return IsDatabaseIndex(db) ? recordsets_[db].get() : nullptr;
}

int ScaleDatabases::Open(int db, const std::string& path) {
    if (recordsets_[db]) return kDbDone;
    recordsets_[db] = std::make_unique<CNVRecordset>(db, path);
    return recordsets_[db] ? kDbDone : ObjectFailedCode(db);
}

void ScaleDatabases::ReleaseAll() {
    for (auto& rs : recordsets_)
        if (rs) rs->CloseQuery();
    for (auto& rs : recordsets_) rs.reset();
}

int DbOpen(int db, const char* path) {
    if (!IsDatabaseIndex(db)) return kNoSuchDatabase;
    if (!path || !*path) return FileUnreadableCode(db);
    std::string trimmed(path);
    trimmed.erase(0, trimmed.find_first_not_of(' '));
    trimmed.erase(trimmed.find_last_not_of(' ') + 1);
    if (trimmed.empty() || !CanOpenForReading(trimmed)) return FileUnreadableCode(db);
    return g_inUse ? g_inUse->Open(db, path) : ObjectFailedCode(db);
}

int32_t DbCount(int db) {
    int32_t count = 0;
    DbCountChecked(db, &count);
    return count;
}

bool DbFetch(int db, CNVRecord* record, bool first) {
    if (!record) return false;
    record->Clear();
    CNVRecordset* rs = Object(db);
    if (!rs) return false;
    if (!(first ? rs->MoveFirstRow() : rs->MoveNextRow())) return false;
    rs->CopyToRecord(record);
    return true;
}

bool DbForEachListedRow(int db, const std::function<bool(const PackedRow& row)>& take) {
    CNVRecordset* rs = Object(db);
    return rs && rs->WalkRows(rs->RecordCount(), [&](std::string_view packed) { return take(PackedRow(packed)); });
}

bool DbFindByCode(int db, CNVRecord* record, int32_t code) {
    CNVRecordset* rs = Object(db);
    if (!record || !rs) return false;
    char text[32];
    std::snprintf(text, sizeof text, CodeFormat(db), static_cast<unsigned long>(static_cast<uint32_t>(code)));
    rs->LookAgain();
    return rs->FindByField(record, 0, text);
}

bool DbDeleteByCode(int db, int32_t code) {
    CNVRecord scratch;
    if (!DbFindByCode(db, &scratch, code)) return false;
    return Object(db)->DeleteCurrentRow();
}

// The key as SaveFields stores it.
static void CleanKey(char* key, const bool* zeroMask) {
    if (!zeroMask || zeroMask[0]) {
        TrimBlanks(key);
        StripLeadingZeros(key);
    }
}

// The fields whose leading zeros a save strips: null for all of them.
static const bool* ZeroMask(int db, bool* mask) {
    for (int i = 0; i < kFieldCount; ++i) mask[i] = true;
    switch (db) {
    case DbGoods:  // a barcode keeps its leading zeros
        mask[1] = false;
        return mask;
    case DbSells:  // the code keeps its eight digits
        mask[0] = false;
        return mask;
    default:
        return nullptr;
    }
}

std::string SavedCode(int db, const std::string& text) {
    bool mask[kFieldCount];
    char key[sizeof FieldBlock().slot[0]] = {};
    std::memcpy(key, text.data(), std::min(text.size(), sizeof key - 1));
    CleanKey(key, ZeroMask(db, mask));
    return key;
}

bool IsSavableCode(int db, const std::string& text) {
    return IsDatabaseIndex(db) && IsLookupCode(db, SavedCode(db, text), nullptr);
}

bool SaveFields(CNVRecordset* recordset, int keyOffset, FieldBlock* block, const bool* zeroMask) {
    if (!recordset || !block) return false;
    char* key = block->slot[0] + keyOffset;
    CleanKey(key, zeroMask);
    CNVRecord record;
    record.SetFieldText(key, 0);
    for (int i = 1; i < kFieldCount; ++i) {
        if (!zeroMask || zeroMask[i]) StripLeadingZeros(block->slot[i]);
        record.SetFieldText(block->slot[i], i);
    }
    return recordset->StoreRecord(record);
}

namespace {

// The columns a block does not give take what is stored under its code.
void FillFromStored(int db, FieldBlock* block, const GivenColumns& given, const bool* zeroMask) {
    char key[sizeof block->slot[0]] = {};
    std::memcpy(key, BlockCode(*block), sizeof key - kCodeSlotPrefixLength - 1);
    CleanKey(key, zeroMask);
    uint32_t code = 0;
    CNVRecord stored;
    if (!IsLookupCode(db, key, &code) || !DbFindByCode(db, &stored, static_cast<int32_t>(code))) return;
    if (stored.Value(0).empty()) return;  // a new record
    for (int i = 1; i < kFieldCount; ++i)
        if (!given[i]) SetBlockSlot(*block, i, stored.Value(i).c_str());
}

int SaveBlock(int db, FieldBlock* block, const GivenColumns* given) {
    if (!IsDatabaseIndex(db)) return kNoSuchDatabase;
    const int failed = NotSavedCode(db);
    if (!block) return failed;
    // A slot filled to its last byte still ends within its 256 bytes.
    for (auto& slot : block->slot) slot[kValueMax + 1] = '\0';

    bool mask[kFieldCount];
    const bool* zeroMask = ZeroMask(db, mask);
    // A column that keeps its stored value keeps it as it is: no zeros go.
    bool strip[kFieldCount];
    if (given) {
        FillFromStored(db, block, *given, zeroMask);
        for (int i = 0; i < kFieldCount; ++i) strip[i] = (!zeroMask || zeroMask[i]) && (i == 0 || (*given)[i]);
        zeroMask = strip;
    }
    if (db == DbUsers)
        if (const int check = CheckUser(block)) return check;
    // A code the lookups cannot find again ("-1", "1e3", "12abc") would make
    // a record that no one can open or delete.
    if (!IsSavableCode(db, BlockCode(*block))) return failed;
    // A save is the engineer's, or one of a batch, whose commit looks anyway:
    // the file is looked at again, not taken on the word of a look just made.
    if (CNVRecordset* rs = Object(db)) rs->LookAgain();
    return SaveFields(Object(db), kCodeSlotPrefixLength, block, zeroMask) ? kDbDone : failed;
}

}  // namespace

int DbSave(int db, FieldBlock* block) { return SaveBlock(db, block, nullptr); }

int DbSaveColumns(int db, FieldBlock* block, const GivenColumns& given) { return SaveBlock(db, block, &given); }

bool DbClear(const std::array<bool, kDatabaseCount>& chosen) {
    bool emptied = true;
    for (int db = 0; db < kDatabaseCount; ++db) {
        CNVRecordset* rs = Object(db);
        if (!chosen[db] || !rs) continue;
        // One transaction for the row-by-row deletes: a commit each would
        // make clearing a large table slow.
        const bool batched = rs->BeginTrans();
        // An open whole table counted its rows when it opened, before the
        // appends made through it since: only a fresh count sees them.
        rs->CloseQuery();
        rs->DeleteAllRows();
        if (batched) rs->CommitTrans();
        // The loop ends quietly at the first refusal, as it does at the end
        // of the table: only a fresh look tells the two apart.
        rs->CloseQuery();
        if (!rs->OpenWholeTable() || rs->RecordCount() != 0) emptied = false;
    }
    return emptied;
}

bool DbCountChecked(int db, int32_t* count) {
    *count = 0;
    CNVRecordset* rs = Object(db);
    if (!rs) return false;
    rs->LookAgain();
    if (!rs->OpenListing()) return false;
    *count = rs->RecordCount();
    return true;
}

bool DbBeginBatch(int db) {
    CNVRecordset* rs = Object(db);
    return rs && rs->BeginTrans();
}

bool DbEndBatch(int db) {
    CNVRecordset* rs = Object(db);
    return !rs || rs->CommitTrans();
}

void DbCloseAll() {
    for (int db = 0; db < kDatabaseCount; ++db)
        if (CNVRecordset* rs = Object(db)) rs->CloseQuery();
}

void DbReleaseAll() {
    if (g_inUse) g_inUse->ReleaseAll();
}

bool DbBeginWhole(int db) {
    CNVRecordset* rs = Object(db);
    if (!rs) return false;
    rs->CloseQuery();
    rs->LookAgain();
    return rs->BeginWholeTrans();
}

bool DbEndWhole(int db, bool keep) {
    CNVRecordset* rs = Object(db);
    if (!rs) return false;
    rs->CloseQuery();
    return rs->EndWholeTrans(keep);
}

long DbTableRows(int db) {
    CNVRecordset* rs = Object(db);
    if (!rs) return -1;
    rs->CloseQuery();
    rs->LookAgain();
    const long count = rs->OpenWholeTable() ? rs->RecordCount() : -1;
    rs->CloseQuery();
    return count;
}

bool DbReadAllRowsAsStored(int db, std::vector<std::array<std::string, kFieldCount>>* rows) {
    CNVRecordset* rs = Object(db);
    if (!rs) return false;
    rs->LookAgain();
    return rs->ReadAllRowsAsStored(rows);
}

bool DbReplaceStarRows(int db, const std::vector<CNVRecord>& rows) {
    CNVRecordset* rs = Object(db);
    if (!rs || !rs->DeleteRowsWithCode(kUnlistedCode)) return false;
    for (const CNVRecord& row : rows)
        if (!rs->AppendRow(row)) return false;
    return true;
}

}  // namespace tq::viewer
