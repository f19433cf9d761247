#include "tools/daosim/database.h"

#include <algorithm>
#include <cstring>

namespace daosim {
namespace {

const uint8_t kJetMagic[] = {0x00, 0x01, 0x00, 0x00};
const char kJetName[] = "Standard Jet DB";
const char kAceName[] = "Standard ACE DB";
constexpr size_t kVersionOffset = 0x14;
constexpr uint8_t kJet4 = 0x01;
// Our own mark in the rest of page 0, and the generation count that a
// compaction raises so that other openers read the file again from the start.
// Version 2 keeps the primary key's name in the table's definition.
const char kLogMark[] = "daosim change log 2";
constexpr size_t kLogMarkOffset = 0x800;
constexpr size_t kGenerationOffset = 0x820;
// The collating order, set once when the file is made (little-endian).
constexpr size_t kCollatingOffset = 0x824;

void Put32At(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t Get32At(const uint8_t* at) {
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}
// Compact when the log is this much larger than the rows it holds.
constexpr uint64_t kCompactMinBytes = 4u << 20;

}  // namespace

std::vector<uint8_t> SignaturePage(long collatingOrder) {
    std::vector<uint8_t> page(kPageSize, 0);
    std::memcpy(page.data(), kJetMagic, sizeof kJetMagic);
    std::memcpy(page.data() + 4, kJetName, 15);
    page[kVersionOffset] = kJet4;
    std::memcpy(page.data() + kLogMarkOffset, kLogMark, sizeof kLogMark);
    Put32At(page.data() + kCollatingOffset, static_cast<uint32_t>(collatingOrder));
    return page;
}

Database::Database(std::unique_ptr<File> file, bool readOnly, tq::Clock& clock)
    : file_(std::move(file)), readOnly_(readOnly), clock_(clock) {}

Database::~Database() { Close(); }

void Database::Close() {
    if (!file_) return;
    if (inTransaction_) Rollback();
    if (writeLocked_) file_->UnlockWrite();
    writeLocked_ = false;
    file_->ReleasePresence();
    file_.reset();
}

bool Database::Initialise(File& file, long collatingOrder) {
    const std::vector<uint8_t> page = SignaturePage(collatingOrder);
    return file.Truncate(0) && file.Write(0, page.data(), page.size());
}

Error Database::Open(bool exclusive, const Text& name) {
    uint8_t page[kCollatingOffset + 4] = {};
    uint64_t size = 0;
    if (!file_->Size(&size) || size < kPageSize || !file_->Read(0, page, sizeof page))
        return Fail(kUnrecognisedFormat, name);
    const bool jet = std::memcmp(page + 4, kJetName, 15) == 0 || std::memcmp(page + 4, kAceName, 15) == 0;
    if (std::memcmp(page, kJetMagic, 4) != 0 || !jet || page[0x13] != 0)
        return Fail(kUnrecognisedFormat, name);
    // A real Jet or ACE file that this stand-in did not write: it cannot read it.
    if (page[kVersionOffset] != kJet4 || std::memcmp(page + kLogMarkOffset, kLogMark, sizeof kLogMark) != 0)
        return Fail(kUnrecognisedFormat, name);
    collatingOrder_ = static_cast<long>(Get32At(page + kCollatingOffset));
    if (!file_->TryPresence(true)) {
        if (exclusive) return Fail(kFileInUse, name);
        // Someone alone with the file may just be compacting it: wait a little.
        const uint32_t start = clock_.NowMs();
        while (!file_->TryPresence(false)) {
            if (clock_.NowMs() - start >= kLockWaitMs) return Fail(kCannotOpen, name);
            clock_.SleepMs(20);
        }
        return Reload();
    }
    if (Error e = Reload()) return e;
    if (!readOnly_) CompactIfAlone();
    if (exclusive) return Error();
    file_->ReleasePresence();
    if (!file_->TryPresence(false)) return Fail(kCannotOpen, name);
    return Refresh();
}

uint32_t Database::Generation() {
    uint8_t bytes[4] = {};
    if (!file_->Read(kGenerationOffset, bytes, 4)) return generation_;
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

Error Database::Reload() {
    table_ = Table();
    readOffset_ = kPageSize;
    generation_ = Generation();
    return Refresh();
}

Error Database::Refresh() {
    if (Generation() != generation_) return Reload();
    uint64_t size = 0;
    if (!file_->Size(&size)) return Fail(kDiskError);
    if (size < readOffset_) return Reload();
    if (size == readOffset_) return Error();
    std::vector<uint8_t> data(static_cast<size_t>(size - readOffset_));
    if (!file_->Read(readOffset_, data.data(), data.size())) return Fail(kDiskError);
    std::vector<Op> ops;
    readOffset_ += ReadFrames(data.data(), data.size(), &ops);
    for (const Op& op : ops) table_.Apply(op);
    return Error();
}

void Database::CompactIfAlone() {
    uint64_t size = 0;
    if (!file_->Size(&size) || size - kPageSize < kCompactMinBytes) return;
    std::vector<uint8_t> frame;
    AppendFrame(table_.Snapshot(), &frame);
    if (size - kPageSize < 3 * frame.size() || !file_->TryLockWrite()) return;
    // Raise the generation first: a reader that sees it starts over.
    const uint32_t next = generation_ + 1;
    const uint8_t bytes[4] = {static_cast<uint8_t>(next), static_cast<uint8_t>(next >> 8),
                              static_cast<uint8_t>(next >> 16), static_cast<uint8_t>(next >> 24)};
    if (file_->Write(kGenerationOffset, bytes, 4) && file_->Truncate(kPageSize) &&
        file_->Write(kPageSize, frame.data(), frame.size())) {
        generation_ = next;
        readOffset_ = kPageSize + frame.size();
    }
    file_->UnlockWrite();
}

bool Database::LockForWriting() {
    if (writeLocked_) return true;
    const uint32_t start = clock_.NowMs();
    while (!file_->TryLockWrite()) {
        if (clock_.NowMs() - start >= kLockWaitMs) return false;
        clock_.SleepMs(20);
    }
    writeLocked_ = true;
    return true;
}

bool Database::Persist(const std::vector<Op>& ops) {
    std::vector<uint8_t> frame;
    AppendFrame(ops, &frame);
    uint64_t size = 0;
    // Anything after the last whole frame is a torn write: overwrite it.
    if (!file_->Size(&size) || (size > readOffset_ && !file_->Truncate(readOffset_))) return false;
    if (!file_->Write(readOffset_, frame.data(), frame.size())) return false;
    readOffset_ += frame.size();
    return true;
}

Error Database::CheckOps(const std::vector<Op>& ops) const {
    for (const Op& op : ops) {
        if (op.kind == Op::kCreate && table_.created()) return Fail(kTableExists, op.schema.table);
        if (op.kind != Op::kInsert && op.kind != Op::kUpdate) continue;
        if (op.kind == Op::kUpdate && !table_.Row(op.id)) return Fail(kRecordDeleted);
        if (Error e = table_.CheckRow(UnpackRow(op.row), op.kind == Op::kUpdate ? op.id : 0)) return e;
    }
    return Error();
}

// Outside a transaction each write takes the lock, catches up with the file,
// checks, applies and appends. Inside one the lock is kept until it ends.
Error Database::Write(std::vector<Op> ops) {
    if (readOnly_) return Fail(kReadOnly);
    if (!LockForWriting()) return Fail(kLocked);
    Error e = Refresh();
    const long maxLocks = options_ ? options_->maxLocksPerFile : EngineOptions().maxLocksPerFile;
    if (!e && inTransaction_ && static_cast<long>((pending_.size() + ops.size() + 9) / 10) > maxLocks)
        e = Fail(kLockCountExceeded);
    if (!e) {
        // A new row takes its number only now that the file is caught up.
        for (Op& op : ops)
            if (op.kind == Op::kInsert && op.id == 0) op.id = table_.NextId();
        e = CheckOps(ops);
    }
    if (!e) {
        for (const Op& op : ops) table_.Apply(op);
        if (inTransaction_)
            pending_.insert(pending_.end(), ops.begin(), ops.end());
        else if (!Persist(ops))
            e = Fail(kDiskError);
    }
    if (!inTransaction_) {
        file_->UnlockWrite();
        writeLocked_ = false;
        if (e.number == kDiskError) Reload();
    }
    return e;
}

Error Database::Insert(const std::vector<Value>& values, uint32_t* id) {
    Op op;
    op.kind = Op::kInsert;
    op.row = PackRow(values);
    if (Error e = Write({op})) return e;
    *id = table_.NextId() - 1;
    return Error();
}

Error Database::Update(uint32_t id, const std::vector<Value>& values) {
    Op op;
    op.kind = Op::kUpdate;
    op.id = id;
    op.row = PackRow(values);
    return Write({op});
}

Error Database::Delete(uint32_t id) {
    Op op;
    op.kind = Op::kDelete;
    op.id = id;
    if (!table_.Row(id)) return Fail(kRecordDeleted);
    return Write({op});
}

Error Database::Begin() {
    if (inTransaction_) return Fail(kTooManyTransactions);
    inTransaction_ = true;
    tablesOpened_ = 0;
    pending_.clear();
    return Error();
}

Error Database::NoteTableOpened() {
    if (inTransaction_ && ++tablesOpened_ > kTablesPerTransaction) return Fail(kTooManyTables);
    return Error();
}

Error Database::Commit() {
    if (!inTransaction_) return Fail(kNoTransaction);
    Error e;
    if (!pending_.empty() && !Persist(pending_)) e = Fail(kDiskError);
    pending_.clear();
    inTransaction_ = false;
    if (writeLocked_) file_->UnlockWrite();
    writeLocked_ = false;
    if (e) Reload();
    return e;
}

Error Database::Rollback() {
    if (!inTransaction_) return Fail(kNoTransaction);
    const bool changed = !pending_.empty();
    pending_.clear();
    inTransaction_ = false;
    if (writeLocked_) file_->UnlockWrite();
    writeLocked_ = false;
    return changed ? Reload() : Error();
}

namespace {

// A WHERE operand once resolved: a column, or a fixed value.
struct Resolved {
    int column = -1;
    Value value;
};

Error Resolve(const Table& table, const Query& query, const Operand& operand, const Parameters& params,
              Resolved* out) {
    if (operand.literal) {
        out->value = operand.text;
        return Error();
    }
    out->column = table.ColumnIndex(operand.text);
    if (out->column >= 0) return Error();
    // Jet takes any unknown name for a parameter; an undeclared or unset one
    // is a missing parameter.
    for (const Text& declared : query.parameters) {
        if (!EqualNoCase(declared, operand.text)) continue;
        const auto it = params.find(Folded(declared));
        if (it == params.end()) break;
        out->value = it->second;
        return Error();
    }
    return Fail(kTooFewParameters, u"1");
}

bool ValueOf(const Resolved& r, TextView row, TextView* out) {
    if (r.column < 0) {
        if (!r.value) return false;
        *out = *r.value;
        return true;
    }
    return PackedValue(row, r.column, out);
}

}  // namespace

Error Database::Matching(const Query& query, const Parameters& params, std::vector<uint32_t>* ids) {
    if (!table_.created() || !EqualNoCase(table_.schema().table, query.table))
        return Fail(kTableNotFound, query.table);
    ids->clear();
    if (!query.hasWhere) {
        *ids = table_.Ids();
        return Error();
    }
    Resolved left, right;
    if (Error e = Resolve(table_, query, query.where.left, params, &left)) return e;
    if (Error e = Resolve(table_, query, query.where.right, params, &right)) return e;
    if (left.column < 0) std::swap(left, right);
    // key = value: the key index answers at once.
    const int key = table_.schema().key;
    if (!query.where.notEqual && left.column == key && key >= 0 && right.column < 0) {
        const uint32_t id = right.value ? table_.FindKey(*right.value) : 0;
        if (id) ids->push_back(id);
        return Error();
    }
    for (uint32_t id : table_.Ids()) {
        const TextView row = *table_.Row(id);
        TextView a, b;
        // Null equals nothing and differs from nothing.
        if (!ValueOf(left, row, &a) || !ValueOf(right, row, &b)) continue;
        if (EqualNoCase(a, b) != query.where.notEqual) ids->push_back(id);
    }
    return Error();
}

Error Database::Select(const Query& query, const Parameters& params, std::vector<uint32_t>* ids) {
    if (query.kind != Query::kSelect) return Fail(kInvalidOperation);
    if (Error e = Matching(query, params, ids)) return e;
    if (!query.hasOrder) return Error();
    const int column = table_.ColumnIndex(query.orderColumn);
    if (column < 0) return Fail(kTooFewParameters, u"1");
    // Null sorts first; equal values keep the order they were stored in.
    auto before = [&](uint32_t x, uint32_t y) {
        TextView a, b;
        const bool hasA = PackedValue(*table_.Row(x), column, &a);
        const bool hasB = PackedValue(*table_.Row(y), column, &b);
        if (!hasA || !hasB) return !hasA && hasB;
        return CompareNoCase(a, b) < 0;
    };
    if (query.descending)
        std::stable_sort(ids->begin(), ids->end(), [&](uint32_t x, uint32_t y) { return before(y, x); });
    else
        std::stable_sort(ids->begin(), ids->end(), before);
    return Error();
}

Error Database::Execute(const Query& query, const Parameters& params, long* affected) {
    *affected = 0;
    if (query.kind == Query::kSelect) return Fail(kNotActionQuery);
    if (query.kind == Query::kCreateTable) {
        Op op;
        op.kind = Op::kCreate;
        op.schema.table = query.table;
        for (const ColumnDef& def : query.columns) {
            if (def.primaryKey && op.schema.key < 0) {
                op.schema.key = static_cast<int>(op.schema.columns.size());
                // Jet names an unnamed key itself; this name is the stand-in's own.
                op.schema.keyName = def.constraint.empty() ? u"Index_" + def.name : def.constraint;
            }
            op.schema.columns.push_back(Column{def.name, def.size, def.required || def.primaryKey, false});
        }
        return Write({op});
    }
    if (readOnly_) return Fail(kReadOnly);
    // Catch up first, so that the rows counted are the rows deleted.
    if (!inTransaction_ || !writeLocked_) {
        if (!LockForWriting()) return Fail(kLocked);
        Refresh();
    }
    std::vector<uint32_t> ids;
    Error e = Matching(query, params, &ids);
    std::vector<Op> ops;
    if (!e && !query.hasWhere && !ids.empty()) {
        Op clear;
        clear.kind = Op::kClear;
        ops.push_back(clear);
    } else if (!e) {
        for (uint32_t id : ids) {
            Op op;
            op.kind = Op::kDelete;
            op.id = id;
            ops.push_back(op);
        }
    }
    if (!e && !ops.empty()) e = Write(ops);
    if (!inTransaction_ && writeLocked_) {
        file_->UnlockWrite();
        writeLocked_ = false;
    }
    if (!e) *affected = static_cast<long>(ids.size());
    return e;
}

}  // namespace daosim
