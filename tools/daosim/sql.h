// The part of Jet SQL the data core sends:
//
//   [PARAMETERS p TEXT(255)[, ...];] SELECT * FROM t [WHERE a {=|<>} b] [ORDER BY c [ASC|DESC]]
//   DELETE [*|t.*] FROM t [WHERE a {=|<>} b]
//   CREATE TABLE t (c TEXT(n) [NOT NULL] [CONSTRAINT k] [PRIMARY KEY], ...)
//
// Names may be bracketed. A literal is '...' or "..." with the delimiter
// doubled inside. Names are resolved against the table when the query runs.
#pragma once
#include <vector>

#include "tools/daosim/errors.h"

namespace daosim {

struct Operand {
    bool literal = false;  // otherwise a column or parameter name
    Text text;
};

struct Condition {
    Operand left, right;
    bool notEqual = false;
};

struct ColumnDef {
    Text name;
    int size = 255;
    bool required = false;
    bool primaryKey = false;
    Text constraint;  // CONSTRAINT's name, the key index's name
};

struct Query {
    enum Kind { kSelect, kDelete, kCreateTable } kind = kSelect;
    Text table;
    std::vector<Text> parameters;  // as declared by PARAMETERS
    bool hasWhere = false;
    Condition where;
    bool hasOrder = false;
    Text orderColumn;
    bool descending = false;
    std::vector<ColumnDef> columns;  // CREATE TABLE
};

Error ParseQuery(TextView sql, Query* out);

// A bare table name is also something OpenRecordset accepts.
bool IsPlainName(TextView text);

}  // namespace daosim
