// The one table a database file holds, and the changes that build it. A
// change (Op) is what the file's log records; replaying the log in order
// rebuilds the table. Rows keep the order they were added in.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "tools/daosim/errors.h"

namespace daosim {

struct Column {
    Text name;
    int size = 255;
    bool required = false;
    // Text fields made by DDL refuse "" (Access's own designer would allow it).
    bool allowZeroLength = false;
};

struct Schema {
    Text table;
    std::vector<Column> columns;
    int key = -1;  // the primary key column, or -1
    Text keyName;  // the name of its index
};

struct Op {
    enum Kind : uint8_t { kCreate = 1, kInsert, kUpdate, kDelete, kClear } kind = kInsert;
    uint32_t id = 0;
    Text row;  // packed, for kInsert and kUpdate
    Schema schema;  // for kCreate
};

// A Jet row holds about 4,000 bytes of text: with Unicode compression a
// character whose high byte is 0 (Latin-1) takes one byte, any other two, so
// Cyrillic text takes two bytes a character. Past it, Update fails with 3047.
constexpr size_t kMaxRowBytes = 4000;
size_t StoredRowBytes(const std::vector<Value>& values);

class Table {
public:
    bool created() const { return created_; }
    const Schema& schema() const { return schema_; }
    int ColumnIndex(TextView name) const;
    size_t RowCount() const { return live_; }
    // The rows' ids in the order they were added.
    std::vector<uint32_t> Ids() const;
    // A packed row (see text.h), valid until the table next changes.
    std::optional<TextView> Row(uint32_t id) const;
    uint32_t NextId() const { return nextId_; }
    // The row whose key equals the value (without regard to case), or 0.
    uint32_t FindKey(TextView value) const;

    // Whether the values may be stored in row `self` (0 for a new row).
    Error CheckValue(size_t column, const Value& value) const;
    Error CheckRow(const std::vector<Value>& values, uint32_t self) const;
    // Applies a change that has been checked; false when it makes no sense
    // for this table (a log written by something else).
    bool Apply(const Op& op);
    // The changes that rebuild this table from nothing.
    std::vector<Op> Snapshot() const;

private:
    // Rows live in large chunks of packed text rather than one heap block
    // each: a hundred thousand rows of 2 KB interleaved with the caller's
    // short-lived strings would leave the heap so fragmented that Wine's
    // allocator, which searches its free blocks in turn, slows every call.
    struct Span {
        uint32_t chunk = 0, offset = 0, length = 0;
        bool live = false;
    };
    void Store(uint32_t id, TextView row);
    void Drop(Span& span);
    void CompactIfWasteful();

    bool created_ = false;
    Schema schema_;
    std::vector<Span> rows_;  // by id
    std::vector<Text> chunks_;
    size_t live_ = 0;
    size_t garbage_ = 0;  // characters of dropped rows still in the chunks
    size_t stored_ = 0;
    std::map<Text, uint32_t> keys_;  // folded key value -> row
    uint32_t nextId_ = 1;
};

// The log's framing: each frame is a length, a checksum and its changes; a
// frame cut short by a crash or still being written fails its checksum.
void AppendFrame(const std::vector<Op>& ops, std::vector<uint8_t>* out);
// Decodes whole frames from the start of data; returns the bytes used.
size_t ReadFrames(const uint8_t* data, size_t size, std::vector<Op>* ops);

}  // namespace daosim
