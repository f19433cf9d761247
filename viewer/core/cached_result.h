// A result read in one pass and kept in memory, in order, packed one string a
// row, so that its count is exact at once and moving costs nothing; no
// statement stays open, so no lock is held while a listing is shown. The
// whole-table result, which the layer opens before every append, reads its
// rows only when it first moves, so that appending stays cheap however large
// the table grows. Changes go to the file through the engine's hooks and to
// the copy of the row.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine.h"

namespace tq::viewer {

// What an engine says of rows that do not fit in the program's memory: it
// refuses them (UTF-8), the program goes on.
constexpr char kOutOfMemoryUtf8[] = "строки таблицы не помещаются в память программы";

// Adds one value to a packed row: cut at a NUL and at 254 bytes, then ended by a NUL.
void PackValue(std::string* row, const std::string& value);

class CachedResult : public DbResult {
public:
    bool GetRecordCount(long* count) override;
    bool IsBOF() override { return LiveCount() == 0 || pos_ < 0; }
    bool IsEOF() override;
    bool MoveFirst() override;
    bool MoveNext() override;
    bool ReadCurrent(RowValues* values) override;
    bool ReadCurrentPacked(std::string_view* packed) override;
    bool UpdateCurrent(const RowValues& values) override;
    bool Append(const RowValues& values) override;
    bool DeleteCurrent() override;

    // Reads the rows now; the whole table waits for its first move instead.
    bool Load();

protected:
    // Every row of the result, in order: a key the hooks below get back, and
    // the 41 values packed with PackValue.
    virtual bool FetchRows(std::vector<int64_t>* keys, std::vector<std::string>* packedRows) = 0;
    // The row count of a result not read yet; -1 when it cannot be had.
    virtual long UnreadCount() = 0;
    // The file's side of a change. index counts the result's rows, deleted
    // ones included; LiveIndex(index) leaves them out.
    virtual bool WriteUpdate(size_t index, int64_t key, const RowValues& values, const ColumnSet& changed) = 0;
    virtual bool WriteAppend(const RowValues& values, int64_t* key) = 0;
    virtual bool WriteDelete(size_t index, int64_t key) = 0;

    long LiveIndex(size_t index) const;

private:
    bool EnsureLoaded() { return loaded_ || Load(); }
    bool HasCurrent() const {
        return loaded_ && pos_ >= 0 && pos_ < static_cast<long>(keys_.size()) && !deleted_[pos_];
    }
    long LiveCount();

    bool loaded_ = false;
    std::vector<int64_t> keys_;
    std::vector<std::string> rows_;  // the 41 values of each row, each ended by a NUL
    std::vector<bool> deleted_;
    long deletedCount_ = 0;
    long firstLive_ = 0;  // no live row before this index
    long pos_ = 0;
};

}  // namespace tq::viewer
