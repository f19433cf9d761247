// A dynaset over the rows a query selected, as DAO keeps one:
// - RecordCount counts the rows visited so far (exact after MoveLast) less
//   those deleted through this recordset;
// - AddNew appends at the end whatever the order, and Update then returns to
//   the row that was current before AddNew;
// - a row deleted through this recordset stays current but dead (3021 on
//   reading it; BOF and EOF do not change);
// - the values seen are the table's current ones (changes by others show).
// A table-type recordset (a plain table name, no type) counts exactly.
#pragma once
#include <memory>

#include "tools/daosim/database.h"

namespace daosim {

enum EditMode { kEditNone = 0, kEditInProgress = 1, kEditAdd = 2 };

class Recordset {
public:
    Recordset(std::shared_ptr<Database> db, std::vector<uint32_t> ids, bool updatable, bool tableType);

    bool closed() const { return closed_; }
    bool bof() const { return bof_; }
    bool eof() const { return eof_; }
    bool updatable() const { return updatable_; }
    EditMode editMode() const { return mode_; }
    long RecordCount() const;
    size_t FieldCount() const { return db_->table().schema().columns.size(); }

    Error MoveFirst();
    Error MoveLast();
    Error MoveNext();
    Error Move(long rows);

    Error Read(size_t column, Value* out) const;
    Error Write(size_t column, const Value& value);
    Error AddNew();
    Error Edit();
    Error Update();
    Error CancelUpdate();
    Error Delete();
    // Up to `count` rows from the current one on, packed (see text.h); the
    // current row moves past them (EOF at the end).
    Error GetRows(long count, std::vector<Text>* rows);
    Error Close();
    // The rows of the query selected again, as if opened anew; a table-type
    // recordset cannot (3251).
    Error Requery(std::vector<uint32_t> ids);

    // Fault injection: after this many rows are fetched, fetching fails as it
    // does when the file went away under Jet.
    void SetFetchLimit(long rows) { fetchLimit_ = rows; }

private:
    enum Mark : uint8_t { kSeen = 1, kDeletedHere = 2 };
    // The index of the next row not deleted through this recordset, or the end.
    long NextNotDeletedHere(long i) const;
    bool Live(size_t i) const;
    void OpenOnFirst();
    Error Current() const;  // the current row is there to be read
    Error Land(size_t i);
    Error Step(bool forward);
    void Discard();  // drops a pending AddNew or Edit without saving
    Error Usable() const;
    // Before AddNew, Edit or Delete: the recordset may change; drops a pending edit.
    Error StartChange();

    std::shared_ptr<Database> db_;
    std::vector<uint32_t> ids_;
    std::vector<uint8_t> marks_;
    bool updatable_, tableType_;
    bool closed_ = false;
    bool bof_ = true, eof_ = true;
    long pos_ = -1;
    long seenLive_ = 0;
    long fetched_ = 0;
    long fetchLimit_ = -1;
    EditMode mode_ = kEditNone;
    std::vector<Value> buffer_;
    uint32_t editId_ = 0;
    bool savedBof_ = false, savedEof_ = false;
    long savedPos_ = -1;
};

}  // namespace daosim
