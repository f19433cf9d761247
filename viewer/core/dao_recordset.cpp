#include "dao_recordset.h"

namespace tq::viewer {

CDaoRecordset::~CDaoRecordset() = default;

bool CDaoRecordset::Open(const RowQuery& query) {
    Close();
    if (!EnsureEngine()) return false;
    result_ = engine_->OpenDynaset(query);
    if (!result_) return false;
    FillBoundFields();
    return true;
}

// A file removed or replaced since the engine opened it is opened anew from
// its path, so that a listing shows what is there now and nothing is written
// into a file that is gone; no file there, no engine.
bool CDaoRecordset::EnsureEngine() {
    if (engine_ && !engine_->StillAtPath()) {
        result_.reset();
        mode_ = EditMode::None;
        engine_.reset();
    }
    if (!engine_) engine_ = OpenDbEngine(GetDefaultDBName(), &openError_);
    return engine_ != nullptr;
}

// The engine may open its file anew to copy it: no result stays open on it.
bool CDaoRecordset::BackupTo(const std::string& to) {
    if (mode_ != EditMode::None) return false;
    Close();
    return EnsureEngine() && engine_->BackupTo(to);
}

bool CDaoRecordset::RestoreFrom(const std::string& from) {
    Close();  // its rows are the ones being replaced
    return EnsureEngine() && engine_->RestoreFrom(from);
}

bool CDaoRecordset::ReadAsStored(const RowQuery& query, std::vector<RowValues>* rows) {
    return EnsureEngine() && engine_->ReadRowsAsStored(query, rows);
}

bool CDaoRecordset::BeginTrans() { return EnsureEngine() && engine_->BeginTrans(); }

bool CDaoRecordset::CommitTrans() { return !engine_ || engine_->CommitTrans(); }

bool CDaoRecordset::BeginWholeTrans() { return EnsureEngine() && engine_->BeginWholeTrans(); }

// The open result may hold rows that the rollback took back: it goes too.
bool CDaoRecordset::EndWholeTrans(bool keep) {
    if (!engine_) return false;
    Close();
    return engine_->EndWholeTrans(keep);
}

void CDaoRecordset::Close() {
    result_.reset();
    mode_ = EditMode::None;
}

bool CDaoRecordset::GetRecordCount(long* count) { return IsOpen() && result_->GetRecordCount(count); }

bool CDaoRecordset::IsBOF() { return !IsOpen() || result_->IsBOF(); }

bool CDaoRecordset::IsEOF() { return !IsOpen() || result_->IsEOF(); }

bool CDaoRecordset::MoveFirst() {
    if (!IsOpen() || mode_ != EditMode::None || !result_->MoveFirst()) return false;
    FillBoundFields();
    return true;
}

bool CDaoRecordset::MoveNext() {
    if (!IsOpen() || mode_ != EditMode::None || !result_->MoveNext()) return false;
    FillBoundFields();
    return true;
}

bool CDaoRecordset::WalkRows(long count, const std::function<bool(std::string_view packed)>& take) {
    if (!IsOpen() || mode_ != EditMode::None) return false;
    for (long i = 0; i < count; ++i) {
        // As MoveFirst, then MoveNext wrapping to the first row at the end.
        const bool moved = i == 0 || result_->IsEOF() ? result_->MoveFirst() : result_->MoveNext();
        std::string_view packed;
        if (!moved || !result_->ReadCurrentPacked(&packed)) packed = std::string_view();
        if (!take(packed) || !moved) break;
    }
    FillBoundFields();
    return true;
}

bool CDaoRecordset::CanAppend() { return IsOpen() && result_->CanAppend(); }

bool CDaoRecordset::AddNew() {
    if (!IsOpen() || !result_->CanAppend()) return false;
    ClearBoundFields();
    mode_ = EditMode::AddNew;
    return true;
}

bool CDaoRecordset::Edit() {
    RowValues current;
    if (!IsOpen() || !result_->ReadCurrent(&current)) return false;  // no current record
    mode_ = EditMode::Edit;
    return true;
}

bool CDaoRecordset::Update() {
    if (!IsOpen() || mode_ == EditMode::None) return false;
    const EditMode mode = mode_;
    mode_ = EditMode::None;
    const RowValues values = BoundValues();
    if (mode == EditMode::AddNew) {
        if (!result_->Append(values)) return false;
        FillBoundFields();  // the position stays where it was before AddNew
        return true;
    }
    return result_->UpdateCurrent(values);
}

bool CDaoRecordset::Delete() {
    if (!IsOpen() || mode_ != EditMode::None) return false;
    return result_->DeleteCurrent();
}

void CDaoRecordset::FillBoundFields() {
    RowValues values;
    if (!result_->ReadCurrent(&values)) {
        ClearBoundFields();
        return;
    }
    for (int i = 0; i < kFieldCount; ++i) *BoundField(i) = values[i];
}

void CDaoRecordset::ClearBoundFields() {
    for (int i = 0; i < kFieldCount; ++i) BoundField(i)->clear();
}

RowValues CDaoRecordset::BoundValues() {
    RowValues values;
    for (int i = 0; i < kFieldCount; ++i) values[i] = BoundField(i)->substr(0, kValueMax);
    return values;
}

}  // namespace tq::viewer
