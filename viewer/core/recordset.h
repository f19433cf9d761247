// The recordset of one scale database: 41 text columns of FieldsTable, a sort
// column, and the guarded operations the data-access level builds on.
#pragma once
#include <string>

#include "dao_recordset.h"
#include "record.h"

namespace tq::viewer {

// One class serves the seven databases: what differs between them (the
// sort column) comes from the catalogue's entry for the database.
class CNVRecordset : public CDaoRecordset {
public:
    CNVRecordset(int db, const std::string& path);
    ~CNVRecordset() override;

    bool CloseQuery();
    // Opens the query; an identical open query is reused with its current
    // position. Every query is ordered by the database's sort column.
    bool OpenQuery(const RowQuery& query);
    bool OpenWholeTable() { return OpenQuery(RowQuery::WholeTable(m_nSortColumn)); }
    bool OpenListing();
    // The listing's order over every row of the table, the "*" rows included,
    // each value whole and in UTF-8 as stored (an export's).
    bool ReadAllRowsAsStored(std::vector<RowValues>* rows);
    bool MoveFirstRow();
    bool MoveNextRow();
    bool DeleteCurrentRow();
    bool DeleteAllRows();
    void CopyToRecord(CNVRecord* record) const;
    void CopyFromRecord(const CNVRecord& record);
    bool FindByField(CNVRecord* record, int column, const char* value);
    bool StoreRecord(const CNVRecord& record);
    // Deletes every row whose s00 is exactly code; true when none is left.
    bool DeleteRowsWithCode(const std::string& code);
    // The one row whose s00 is exactly code takes the record's values in the
    // given columns; the others stay as stored, untouched. *found says how
    // many rows have the code; false unless exactly one was rewritten.
    bool MergeIntoOnlyRow(const std::string& code, const CNVRecord& record, const ColumnSet& given, int* found);
    // Appends the record as it stands, whatever its code.
    bool AppendRow(const CNVRecord& record) { return AppendNew(record); }

    int32_t RecordCount() const { return m_nRecordCount; }
    const std::string& FilePath() const { return m_strPath; }

protected:
    std::string GetDefaultDBName() override { return m_strPath; }
    std::string* BoundField(int index) override;

    RowQuery m_query;  // the query open, or last asked for
    std::string m_strPath;
    std::string m_s[kFieldCount];  // m_s[i] is bound to column s<i>
    int32_t m_nRecordCount = 0;
    bool m_bQueryOpen = false;
    int32_t m_nSortColumn = -1;

private:
    enum class StoreMode { Update, Append };
    RowQuery CodeIs(const std::string& code) const { return RowQuery::Where(0, code, m_nSortColumn); }
    // The listing's order: the sort column, else the code's text.
    int ListingOrder() const { return m_nSortColumn == -1 ? 0 : m_nSortColumn; }
    bool StoreStep(const CNVRecord& record, StoreMode mode);
    bool UpdateExisting(const CNVRecord& record);
    bool AppendNew(const CNVRecord& record);
};

}  // namespace tq::viewer
