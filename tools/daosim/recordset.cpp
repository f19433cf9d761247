#include "tools/daosim/recordset.h"

namespace daosim {

Recordset::Recordset(std::shared_ptr<Database> db, std::vector<uint32_t> ids, bool updatable, bool tableType)
    : db_(std::move(db)), ids_(std::move(ids)), marks_(ids_.size(), 0), updatable_(updatable),
      tableType_(tableType) {
    OpenOnFirst();
}

// Opening moves to the first row, if there is one.
void Recordset::OpenOnFirst() {
    for (size_t i = 0; i < ids_.size(); ++i) {
        if (!Live(i)) continue;
        bof_ = eof_ = false;
        pos_ = static_cast<long>(i);
        marks_[i] |= kSeen;
        seenLive_ = 1;
        fetched_ = 1;
        break;
    }
}

Error Recordset::Requery(std::vector<uint32_t> ids) {
    if (Error e = Usable()) return e;
    if (tableType_) return Fail(kNotSupported);
    Discard();
    ids_ = std::move(ids);
    marks_.assign(ids_.size(), 0);
    bof_ = eof_ = true;
    pos_ = -1;
    seenLive_ = 0;
    fetched_ = 0;
    OpenOnFirst();
    return Error();
}

bool Recordset::Live(size_t i) const { return !(marks_[i] & kDeletedHere) && db_->table().Row(ids_[i]); }

Error Recordset::Usable() const {
    if (closed_ || db_->closed()) return Fail(kObjectInvalid);
    return Error();
}

Error Recordset::StartChange() {
    if (Error e = Usable()) return e;
    if (!updatable_) return Fail(db_->readOnly() ? kReadOnly : kNotUpdatable);
    Discard();
    return Error();
}

long Recordset::RecordCount() const {
    if (tableType_) return static_cast<long>(db_->table().RowCount());
    return seenLive_;
}

Error Recordset::Current() const {
    if (Error e = Usable()) return e;
    if (bof_ || eof_) return Fail(kNoCurrentRecord);
    if (marks_[pos_] & kDeletedHere) return Fail(tableType_ ? kRecordDeleted : kNoCurrentRecord);
    if (!db_->table().Row(ids_[pos_])) return Fail(kRecordDeleted);
    return Error();
}

Error Recordset::Land(size_t i) {
    if (fetchLimit_ >= 0 && fetched_ >= fetchLimit_) return Fail(kDiskError);
    ++fetched_;
    pos_ = static_cast<long>(i);
    bof_ = eof_ = false;
    if (!(marks_[i] & kSeen)) {
        marks_[i] |= kSeen;
        ++seenLive_;
    }
    return Error();
}

void Recordset::Discard() {
    if (mode_ == kEditAdd) {
        bof_ = savedBof_;
        eof_ = savedEof_;
        pos_ = savedPos_;
    }
    mode_ = kEditNone;
    buffer_.clear();
}

// One live row on, or off the end (EOF) / start (BOF).
Error Recordset::Step(bool forward) {
    const long n = static_cast<long>(ids_.size());
    for (long i = pos_ + (forward ? 1 : -1); i >= 0 && i < n; i += forward ? 1 : -1)
        if (Live(i)) return Land(i);
    if (forward) {
        eof_ = true;
        pos_ = n;
    } else {
        bof_ = true;
        pos_ = -1;
    }
    return Error();
}

Error Recordset::MoveNext() {
    if (Error e = Usable()) return e;
    Discard();
    if (eof_) return Fail(kNoCurrentRecord);
    return Step(true);
}

Error Recordset::MoveFirst() {
    if (Error e = Usable()) return e;
    Discard();
    if (bof_ && eof_) return Fail(kNoCurrentRecord);
    pos_ = -1;
    if (Error e = Step(true)) return e;
    if (eof_) bof_ = true;  // every row is gone
    return eof_ ? Fail(kNoCurrentRecord) : Error();
}

Error Recordset::MoveLast() {
    if (Error e = Usable()) return e;
    Discard();
    if (bof_ && eof_) return Fail(kNoCurrentRecord);
    // Going to the end visits every row: the count is exact from now on.
    for (size_t i = 0; i < ids_.size(); ++i) {
        if ((marks_[i] & kSeen) || !Live(i)) continue;
        marks_[i] |= kSeen;
        ++seenLive_;
    }
    pos_ = static_cast<long>(ids_.size());
    if (Error e = Step(false)) return e;
    if (bof_) eof_ = true;
    return bof_ ? Fail(kNoCurrentRecord) : Error();
}

Error Recordset::Move(long rows) {
    if (Error e = Usable()) return e;
    Discard();
    if ((bof_ && eof_) || (rows >= 0 && eof_) || (rows <= 0 && bof_)) return Fail(kNoCurrentRecord);
    if (rows == 0) return Current();
    for (long i = 0; i < (rows > 0 ? rows : -rows); ++i) {
        if (Error e = Step(rows > 0)) return e;
        if (bof_ || eof_) break;
    }
    return Error();
}

Error Recordset::Read(size_t column, Value* out) const {
    if (Error e = Usable()) return e;
    if (column >= FieldCount()) return Fail(kItemNotFound);
    if (mode_ != kEditNone) {
        *out = buffer_[column];
        return Error();
    }
    if (Error e = Current()) return e;
    TextView text;
    if (PackedValue(*db_->table().Row(ids_[pos_]), column, &text))
        *out = Text(text);
    else
        out->reset();
    return Error();
}

Error Recordset::Write(size_t column, const Value& value) {
    if (Error e = Usable()) return e;
    if (column >= FieldCount()) return Fail(kItemNotFound);
    if (mode_ == kEditNone) return Fail(kNoEditInProgress);
    if (Error e = db_->table().CheckValue(column, value)) return e;
    buffer_[column] = value;
    return Error();
}

Error Recordset::AddNew() {
    if (Error e = StartChange()) return e;
    savedBof_ = bof_;
    savedEof_ = eof_;
    savedPos_ = pos_;
    mode_ = kEditAdd;
    buffer_.assign(FieldCount(), Value());
    return Error();
}

Error Recordset::Edit() {
    if (Error e = StartChange()) return e;
    if (Error e = Current()) return e;
    editId_ = ids_[pos_];
    buffer_ = UnpackRow(*db_->table().Row(editId_));
    buffer_.resize(FieldCount());
    mode_ = kEditInProgress;
    return Error();
}

Error Recordset::Update() {
    if (Error e = Usable()) return e;
    if (mode_ == kEditNone) return Fail(kNoEditInProgress);
    if (mode_ == kEditInProgress) {
        // A failed save keeps the edit, so that it can be corrected or cancelled.
        if (Error e = db_->Update(editId_, buffer_)) return e;
        mode_ = kEditNone;
        buffer_.clear();
        return Error();
    }
    uint32_t id = 0;
    if (Error e = db_->Insert(buffer_, &id)) return e;
    ids_.push_back(id);
    marks_.push_back(kSeen);
    ++seenLive_;
    Discard();
    // An empty recordset that got a row has left BOF but stays at EOF.
    if (bof_ && eof_) bof_ = false;
    if (eof_) pos_ = static_cast<long>(ids_.size());
    return Error();
}

Error Recordset::CancelUpdate() {
    if (Error e = Usable()) return e;
    if (mode_ == kEditNone) return Fail(kNoEditInProgress);
    Discard();
    return Error();
}

Error Recordset::Delete() {
    if (Error e = StartChange()) return e;
    if (Error e = Current()) return e;
    if (Error e = db_->Delete(ids_[pos_])) return e;
    marks_[pos_] |= kDeletedHere;
    if (marks_[pos_] & kSeen) --seenLive_;
    return Error();
}

Error Recordset::GetRows(long count, std::vector<Text>* rows) {
    if (Error e = Usable()) return e;
    Discard();
    rows->clear();
    if (count < 0) return Fail(kInvalidArgument);
    if (bof_ || eof_) return Fail(kNoCurrentRecord);
    // A dead current row gives nothing; the rows after it do.
    if (!Live(pos_)) {
        if (Error e = Step(true)) return e;
    }
    while (!eof_ && static_cast<long>(rows->size()) < count) {
        rows->emplace_back(*db_->table().Row(ids_[pos_]));
        // DAO stops a chunk short, without an error, at a row it cannot
        // read (another user deleted it), and makes that row current: the
        // caller must not take the short chunk for the end.
        const long next = NextNotDeletedHere(pos_);
        if (next < static_cast<long>(ids_.size()) && !db_->table().Row(ids_[next])) {
            pos_ = next;
            break;
        }
        if (Error e = Step(true)) return e;
    }
    return Error();
}

long Recordset::NextNotDeletedHere(long i) const {
    for (++i; i < static_cast<long>(ids_.size()); ++i)
        if (!(marks_[i] & kDeletedHere)) return i;
    return i;
}

Error Recordset::Close() {
    if (closed_) return Fail(kObjectInvalid);
    Discard();
    closed_ = true;
    return Error();
}

}  // namespace daosim
