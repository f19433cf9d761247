// The recordset the layer derives from: construction without a database
// object, Open on a query, moves, and AddNew/Edit/Update/Delete on 41 bound
// text fields. The engine is opened from the default database name at the
// first Open and kept until the recordset is destroyed.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"

namespace tq::viewer {

class CDaoRecordset {
public:
    CDaoRecordset() = default;
    CDaoRecordset(const CDaoRecordset&) = delete;
    CDaoRecordset& operator=(const CDaoRecordset&) = delete;
    virtual ~CDaoRecordset();

    // Each returns false where DAO throws.
    bool Open(const RowQuery& query);
    void Close();
    bool IsOpen() const { return result_ != nullptr; }
    // The next query looks at the path again, however recent the last look:
    // for what an engineer asks for (a listing, a record to edit), not for
    // each save of a long run.
    void LookAgain() {
        if (engine_) engine_->LookAgain();
    }
    // Whether the open result still reads the file that is at the path.
    bool IsCurrent() { return IsOpen() && engine_->StillAtPath(); }
    bool GetRecordCount(long* count);
    bool IsBOF();
    bool IsEOF();
    bool MoveFirst();
    bool MoveNext();
    // The moves a walk of count rows makes (MoveFirst, then MoveNext that
    // wraps to the first row at the end), each row handed to take as it is
    // packed (DbResult::ReadCurrentPacked) without filling the bound fields;
    // a row that cannot be read is handed as the empty text. The walk ends
    // early when take returns false or a move is refused (after handing the
    // empty text). The bound fields then show the row it ended on.
    bool WalkRows(long count, const std::function<bool(std::string_view packed)>& take);
    bool CanAppend();
    bool AddNew();
    bool Edit();
    bool Update();
    bool Delete();
    // Why the last operation on the file was refused, in one line.
    std::string LastEngineError() { return engine_ ? engine_->LastError() : openError_; }
    long EngineServerCalls() { return engine_ ? engine_->ServerCalls() : 0; }
    // A copy of the database file (DbEngine::BackupTo); refused while an
    // edit is pending.
    bool BackupTo(const std::string& to);
    // The rows of such a copy in place of the database's (DbEngine::RestoreFrom).
    bool RestoreFrom(const std::string& from);
    // The rows of the query as stored (DbEngine::ReadRowsAsStored).
    bool ReadAsStored(const RowQuery& query, std::vector<RowValues>* rows);
    // The transactions of the recordset's database.
    bool BeginTrans();
    bool CommitTrans();
    bool BeginWholeTrans();
    bool EndWholeTrans(bool keep);

protected:
    virtual std::string GetDefaultDBName() = 0;
    // The member bound to column i: filled after every move, written by Update.
    virtual std::string* BoundField(int index) = 0;

private:
    enum class EditMode { None, Edit, AddNew };
    bool EnsureEngine();
    void FillBoundFields();
    void ClearBoundFields();
    RowValues BoundValues();

    std::unique_ptr<DbEngine> engine_;
    std::unique_ptr<DbResult> result_;
    std::string openError_;
    EditMode mode_ = EditMode::None;
};

}  // namespace tq::viewer
