#include "cached_result.h"

#include <algorithm>
#include <cstring>

namespace tq::viewer {

namespace {

std::string Pack(const RowValues& values) {
    std::string packed;
    for (const std::string& value : values) PackValue(&packed, value);
    return packed;
}

void Unpack(const std::string& packed, RowValues* values) {
    const char* p = packed.c_str();
    for (std::string& value : *values) {
        value.assign(p);
        p += value.size() + 1;
    }
}

}  // namespace

void PackValue(std::string* row, const std::string& value) {
    row->append(value.c_str(), std::min(std::strlen(value.c_str()), static_cast<size_t>(kValueMax)));
    *row += '\0';
}

bool CachedResult::Load() {
    keys_.clear();
    rows_.clear();
    if (!FetchRows(&keys_, &rows_)) return false;
    deleted_.assign(keys_.size(), false);
    deletedCount_ = 0;
    firstLive_ = 0;
    pos_ = keys_.empty() ? -1 : 0;
    loaded_ = true;
    return true;
}

long CachedResult::LiveCount() {
    if (!loaded_) {
        const long count = UnreadCount();
        return count < 0 ? 0 : count;
    }
    return static_cast<long>(keys_.size()) - deletedCount_;
}

// Every row before firstLive_ is deleted, so clearing a table from its front
// costs nothing here however large it is.
long CachedResult::LiveIndex(size_t index) const {
    const size_t from = std::min(index, static_cast<size_t>(firstLive_));
    const long deleted = static_cast<long>(from) + static_cast<long>(std::count(deleted_.begin() + from,
                                                                                deleted_.begin() + index, true));
    return static_cast<long>(index) - deleted;
}

bool CachedResult::GetRecordCount(long* count) {
    if (!loaded_ && UnreadCount() < 0) return false;
    *count = LiveCount();
    return true;
}

bool CachedResult::IsEOF() {
    if (LiveCount() == 0) return true;
    return loaded_ && pos_ >= static_cast<long>(keys_.size());
}

bool CachedResult::MoveFirst() {
    if (!EnsureLoaded() || LiveCount() == 0) return false;  // no current record
    while (firstLive_ < static_cast<long>(keys_.size()) && deleted_[firstLive_]) ++firstLive_;
    pos_ = firstLive_;
    return true;
}

bool CachedResult::MoveNext() {
    if (!EnsureLoaded() || LiveCount() == 0) return false;
    const long size = static_cast<long>(keys_.size());
    if (pos_ >= size) return false;  // already past the end
    do ++pos_;
    while (pos_ < size && deleted_[pos_]);
    return true;
}

bool CachedResult::ReadCurrent(RowValues* values) {
    if (!HasCurrent()) return false;  // the whole table has no current row before it moves
    Unpack(rows_[pos_], values);
    return true;
}

bool CachedResult::ReadCurrentPacked(std::string_view* packed) {
    if (!HasCurrent()) return false;
    *packed = rows_[pos_];
    return true;
}

bool CachedResult::UpdateCurrent(const RowValues& values) {
    if (!EnsureLoaded() || !HasCurrent()) return false;
    RowValues read;
    Unpack(rows_[pos_], &read);
    ColumnSet changed;
    for (int i = 0; i < kFieldCount; ++i) changed[i] = values[i].substr(0, kValueMax) != read[i];
    if (!WriteUpdate(static_cast<size_t>(pos_), keys_[pos_], values, changed)) return false;
    rows_[pos_] = Pack(values);
    return true;
}

bool CachedResult::Append(const RowValues& values) {
    int64_t key = 0;
    if (!WriteAppend(values, &key)) return false;
    if (loaded_) {
        keys_.push_back(key);
        rows_.push_back(Pack(values));
        deleted_.push_back(false);
        if (pos_ < 0) pos_ = 0;
    }
    return true;
}

bool CachedResult::DeleteCurrent() {
    if (!EnsureLoaded() || !HasCurrent()) return false;
    if (!WriteDelete(static_cast<size_t>(pos_), keys_[pos_])) return false;
    deleted_[pos_] = true;
    ++deletedCount_;
    return true;
}

}  // namespace tq::viewer
