// The recordset of one scale database: 41 text columns of FieldsTable, a sort
// column, and the guarded operations the data-access level builds on.
#pragma once
#include <string>

#include "dao_recordset.h"
#include "record.h"

namespace tq::viewer {

class CNVRecordset : public CDaoRecordset {
public:
    ~CNVRecordset() override;

    bool CloseQuery();
    // Opens sql, or the whole table for the empty text; an identical open
    // query is reused with its current position.
    bool OpenQuery(const std::string& sql);
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
    CNVRecordset(const std::string& path, int sortColumn);

    std::string GetDefaultDBName() override { return m_strPath; }
    std::string GetDefaultSQL() override { return "FieldsTable"; }
    std::string* BoundField(int index) override;

    std::string m_strQuery;
    std::string m_strPath;
    std::string m_s[kFieldCount];  // m_s[i] is bound to column s<i>
    int32_t m_nRecordCount = 0;
    bool m_bQueryOpen = false;
    int32_t m_nSortColumn = -1;

private:
    enum class StoreMode { Update, Append };
    bool StoreStep(const CNVRecord& record, StoreMode mode);
    bool UpdateExisting(const CNVRecord& record);
    bool AppendNew(const CNVRecord& record);
};

class CNVRecordsetTQScale : public CNVRecordset {
public:
    explicit CNVRecordsetTQScale(const std::string& path) : CNVRecordset(path, -1) {}
};
class CNVRecordsetTQScaleUsers : public CNVRecordset {
public:
    explicit CNVRecordsetTQScaleUsers(const std::string& path) : CNVRecordset(path, 1) {}
};
class CNVRecordsetTQScaleLabels : public CNVRecordset {
public:
    explicit CNVRecordsetTQScaleLabels(const std::string& path) : CNVRecordset(path, 1) {}
};
class CNVRecordsetTQScaleHelp : public CNVRecordset {
public:
    explicit CNVRecordsetTQScaleHelp(const std::string& path) : CNVRecordset(path, 0) {}
};
class CNVRecordsetTQScaleSells : public CNVRecordset {
public:
    explicit CNVRecordsetTQScaleSells(const std::string& path) : CNVRecordset(path, 0) {}
};
class CNVRecordsetTQScaleReports : public CNVRecordset {
public:
    explicit CNVRecordsetTQScaleReports(const std::string& path) : CNVRecordset(path, 1) {}
};
class CNVRecordsetResource : public CNVRecordset {
public:
    explicit CNVRecordsetResource(const std::string& path) : CNVRecordset(path, 0) {}
};

// Single quotes doubled, so that a value stands safely between quotes in SQL.
std::string QuoteSqlText(const std::string& value);

}  // namespace tq::viewer
