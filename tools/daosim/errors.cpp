#include "tools/daosim/errors.h"

namespace daosim {
namespace {

struct Entry {
    int number;
    const char* text;
};

const Entry kTexts[] = {
    {kInvalidArgument, "Invalid argument."},
    {kTooManyTransactions, "Could not start transaction; too many transactions already nested."},
    {kTableExists, "Table '|' already exists."},
    {kTooManyTables, "Can't open any more tables."},
    {kNoEditInProgress, "Update or CancelUpdate without AddNew or Edit."},
    {kNoCurrentRecord, "No current record."},
    {kDuplicateKey, "The changes you requested to the table were not successful because they would create "
                    "duplicate values in the index, primary key, or relationship."},
    {kFileNotFound, "Could not find file '|'."},
    {kReadOnly, "Cannot update. Database or object is read-only."},
    {kNoTransaction, "You tried to commit or rollback a transaction without first beginning a transaction."},
    {kDiskError, "Disk or network error."},
    {kInvalidPath, "'|' is not a valid path."},
    {kFileInUse, "Could not use '|'; file already in use."},
    {kRecordTooLarge, "Record is too large."},
    {kLockCountExceeded, "File sharing lock count exceeded. Increase MaxLocksPerFile registry entry."},
    {kCannotOpen, "The Microsoft Jet database engine cannot open the file '|'. It is already opened "
                  "exclusively by another user, or you need permission to view its data."},
    {kNullKey, "Index or primary key cannot contain a Null value."},
    {kTooFewParameters, "Too few parameters. Expected |."},
    {kNotActionQuery, "Cannot execute a select query."},
    {kSyntaxInExpression, "Syntax error in query expression '|'."},
    {kTableNotFound, "The Microsoft Jet database engine cannot find the input table or query '|'."},
    {kInvalidStatement, "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'."},
    {kSyntaxInFrom, "Syntax error in FROM clause."},
    {kSyntaxInOrderBy, "Syntax error in ORDER BY clause."},
    {kFieldTooSmall, "The field is too small to accept the amount of data you attempted to add. "
                     "Try inserting or pasting less data."},
    {kRecordDeleted, "Record is deleted."},
    {kDatabaseExists, "Database already exists."},
    {kInvalidOperation, "Invalid operation."},
    {kLocked, "Could not update; currently locked by another session on this machine."},
    {kNotSupported, "Operation is not supported for this type of object."},
    {kItemNotFound, "Item not found in this collection."},
    {kSyntaxInCreateTable, "Syntax error in CREATE TABLE statement."},
    {kRequired, "The field '|' cannot contain a Null value because the Required property for this field is set "
                "to True."},
    {kZeroLength, "Field '|' cannot be a zero-length string."},
    {kNotUpdatable, "This Recordset is not updatable."},
    {kUnrecognisedFormat, "Unrecognized database format '|'."},
    {kObjectInvalid, "Object invalid or no longer set."},
};

}  // namespace

Text Description(const Error& error) {
    for (const Entry& e : kTexts) {
        if (e.number != error.number) continue;
        Text text = FromAscii(e.text);
        const size_t bar = text.find(u'|');
        if (bar != Text::npos) text.replace(bar, 1, error.detail);
        return text;
    }
    return FromAscii("Reserved error (" + std::to_string(error.number) + ").");
}

}  // namespace daosim
