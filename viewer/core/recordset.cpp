#include "recordset.h"

namespace tq::viewer {

CNVRecordset::CNVRecordset(int db, const std::string& path) : m_strPath(path), m_nSortColumn(SortColumn(db)) {}

CNVRecordset::~CNVRecordset() { CloseQuery(); }

std::string* CNVRecordset::BoundField(int index) { return &m_s[index]; }

bool CNVRecordset::CloseQuery() {
    m_nRecordCount = 0;
    if (IsOpen()) Close();
    m_bQueryOpen = false;
    return true;
}

bool CNVRecordset::OpenQuery(const RowQuery& query) {
    // Reused, position and all, unless the file was removed or replaced.
    if (m_bQueryOpen && m_query == query && IsCurrent()) return true;
    CloseQuery();
    m_query = query;
    if (!Open(query)) return false;
    long count = 0;
    m_nRecordCount = GetRecordCount(&count) ? static_cast<int32_t>(count) : 0;
    m_bQueryOpen = true;
    return true;
}

bool CNVRecordset::OpenListing() { return OpenQuery(RowQuery::Listing(ListingOrder())); }

bool CNVRecordset::ReadAllRowsAsStored(std::vector<RowValues>* rows) {
    CloseQuery();
    return ReadAsStored(RowQuery::WholeTable(ListingOrder()), rows);
}

bool CNVRecordset::MoveFirstRow() { return MoveFirst(); }

bool CNVRecordset::MoveNextRow() { return IsEOF() ? MoveFirst() : MoveNext(); }

bool CNVRecordset::DeleteCurrentRow() { return Delete(); }

bool CNVRecordset::DeleteAllRows() {
    if (!OpenWholeTable() || m_nRecordCount == 0) return true;
    // The first refusal ends the loop: that is how it ends once the table is empty.
    while (!IsBOF()) {
        if (!MoveFirst() || !Delete()) break;
    }
    return true;
}

void CNVRecordset::CopyToRecord(CNVRecord* record) const {
    if (!record) return;
    for (int i = 0; i < kFieldCount; ++i) record->SetFieldText(m_s[i].c_str(), i);
}

void CNVRecordset::CopyFromRecord(const CNVRecord& record) {
    for (int i = 0; i < kFieldCount; ++i) m_s[i] = record.Value(i).substr(0, kValueMax);
}

bool CNVRecordset::FindByField(CNVRecord* record, int column, const char* value) {
    if (!record) return false;
    record->Clear();
    if (!value || column < 0 || column >= kFieldCount) return false;
    if (!OpenQuery(RowQuery::Where(column, value, m_nSortColumn))) return false;
    if (m_nRecordCount != 0) CopyToRecord(record);
    return true;  // found or not: the caller tests the record
}

bool CNVRecordset::StoreRecord(const CNVRecord& record) {
    if (StoreStep(record, StoreMode::Update)) return true;
    return StoreStep(record, StoreMode::Append);
}

bool CNVRecordset::StoreStep(const CNVRecord& record, StoreMode mode) {
    int32_t code = 0;
    record.GetFieldInt(&code, 0);
    if (code == 0) return false;
    if (mode == StoreMode::Update) {
        if (!OpenQuery(CodeIs(record.Value(0)))) return false;
        if (UpdateExisting(record)) return true;
    }
    return AppendNew(record);
}

// Walks the lookup result for the row whose code equals the record's byte for
// byte (an engine may compare text without regard to case) and rewrites it.
bool CNVRecordset::UpdateExisting(const CNVRecord& record) {
    while (!IsEOF()) {
        if (m_s[0] == record.Value(0).substr(0, kValueMax)) {
            if (!Edit()) return false;
            CopyFromRecord(record);
            return Update();
        }
        if (!MoveNext()) return false;
    }
    return false;
}

bool CNVRecordset::AppendNew(const CNVRecord& record) {
    if (!OpenWholeTable() || !CanAppend()) return false;
    if (!AddNew()) return false;
    CopyFromRecord(record);
    return Update();
}

bool CNVRecordset::MergeIntoOnlyRow(const std::string& code, const CNVRecord& record, const ColumnSet& given,
                                    int* found) {
    *found = 0;
    if (!OpenQuery(CodeIs(code))) return false;
    // The engine may match without regard to case; only this code counts.
    for (bool more = m_nRecordCount != 0 && MoveFirst(); more && !IsEOF(); more = MoveNext())
        if (m_s[0] == code) ++*found;
    if (*found != 1) return false;
    for (bool more = MoveFirst(); more && !IsEOF(); more = MoveNext()) {
        if (m_s[0] != code) continue;
        if (!Edit()) return false;
        for (int i = 1; i < kFieldCount; ++i)
            if (given[i]) m_s[i] = record.Value(i).substr(0, kValueMax);
        return Update();
    }
    return false;
}

bool CNVRecordset::DeleteRowsWithCode(const std::string& code) {
    if (!OpenQuery(CodeIs(code))) return false;
    if (m_nRecordCount != 0 && MoveFirst()) {
        while (!IsEOF()) {
            // The engine may match without regard to case; only this code goes.
            if (m_s[0] == code && !Delete()) return false;
            if (!MoveNext()) break;  // the last row is gone: nowhere to move
        }
    }
    // A fresh look tells a table without the code from a loop that stopped.
    CloseQuery();
    if (!OpenQuery(CodeIs(code))) return false;
    for (bool more = m_nRecordCount != 0 && MoveFirst(); more && !IsEOF(); more = MoveNext())
        if (m_s[0] == code) return false;
    return true;
}

}  // namespace tq::viewer
