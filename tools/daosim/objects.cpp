#include "tools/daosim/objects.h"

#include <algorithm>

#include "tools/daosim/recordset.h"
#include "tools/daosim/win_file.h"

namespace daosim {
namespace {

enum : DISPID {
    kDefault = 0,  // Item, Value; Fields of a Recordset, Parameters of a QueryDef
    kOpenDatabase = 1,
    kCreateDatabase,
    kBeginTrans,
    kCommitTrans,
    kRollback,
    kVersion,
    kCount,
    kName,
    kOpenRecordset,
    kCreateQueryDef,
    kExecute,
    kRecordsAffected,
    kUpdatable,
    kClose,
    kSql,
    kRecordCount,
    kBof,
    kEof,
    kMoveFirst,
    kMoveLast,
    kMoveNext,
    kMove,
    kAddNew,
    kEdit,
    kUpdate,
    kCancelUpdate,
    kDelete,
    kGetRows,
    kType,
    kSize,
    kIdle,
    kSetOption,
    kCreateWorkspace,
    kRequiredField,
    kRequery,
    kCollatingOrder,
    kAttributes,
    kIndexes,
    kFields,
    kPrimary,
    kUnique,
    kAllowZeroLength,
};

// DBEngine.SetOption's option for Jet's MaxLocksPerFile.
constexpr long kMaxLocksPerFileOption = 62;


// DAO's recordset types and options.
constexpr long kOpenTable = 1, kOpenDynaset = 2, kOpenSnapshot = 4, kOpenForwardOnly = 8;
constexpr long kReadOnlyOption = 4;
constexpr short kTextType = 10;

#define MEMBERS(table) table, sizeof table / sizeof table[0]

SleepClock g_clock;

// A collection member: the collection, or with arguments its item (rs("s00")
// is rs.Fields("s00")).
Outcome Collection(DispObject* collection, WORD flags, Args& args, VARIANT* result) {
    if (args.count() == 0) {
        SetObject(result, collection);
        return Outcome();
    }
    const Outcome outcome = collection->Call(kDefault, flags, args, result);
    collection->Release();
    return outcome;
}

// A collection's Item argument: a name (found by `find`, -1 when absent) or an index.
template <typename Find>
HRESULT ItemIndex(const Args& args, Find find, long* index) {
    if (!args.Has(0)) return DISP_E_PARAMNOTFOUND;
    if (V_VT(&args.At(0)) == VT_BSTR) {
        *index = find(ToText(V_BSTR(&args.At(0))));
        return S_OK;
    }
    return args.GetLong(0, -1, index);
}

// The members of every collection.
const Member kCollectionMembers[] = {{L"Count", kCount, kProperty}, {L"Item", kDefault, kProperty}};

// What every collection answers: Count, and Item(name or index) made by
// `make` from the index, 3265 for a name or index it does not hold.
template <typename Find, typename Make>
Outcome CollectionMember(DISPID id, Args& args, VARIANT* result, size_t count, Find find, Make make) {
    if (id == kCount) {
        SetShort(result, static_cast<short>(count));
        return Outcome();
    }
    if (id != kDefault) return DISP_E_MEMBERNOTFOUND;
    long index = -1;
    if (HRESULT hr = ItemIndex(args, find, &index); FAILED(hr)) return hr;
    if (index < 0 || index >= static_cast<long>(count)) return Fail(kItemNotFound);
    SetObject(result, make(static_cast<size_t>(index)));
    return Outcome();
}

// A column's definition as a Field (of a recordset or a TableDef) gives it;
// false for a member that is none of these.
bool ColumnProperty(const Column& column, DISPID id, VARIANT* result) {
    switch (id) {
    case kName: SetText(result, column.name); return true;
    case kType: SetShort(result, kTextType); return true;
    case kSize: SetLong(result, column.size); return true;
    case kRequiredField: SetBool(result, column.required); return true;
    }
    return false;
}

// ---------------------------------------------------------------- Fields
const Member kFieldMembers[] = {
    {L"Value", kDefault, kWritable}, {L"Name", kName, kProperty},
    {L"Type", kType, kProperty},     {L"Size", kSize, kProperty},
    {L"Required", kRequiredField, kProperty},
};

class FieldObject : public DispObject {
public:
    FieldObject(std::shared_ptr<EngineState> s, std::shared_ptr<Recordset> rs, std::shared_ptr<Database> db,
                size_t column)
        : DispObject(std::move(s), "Field", MEMBERS(kFieldMembers)), rs_(std::move(rs)), db_(std::move(db)),
          column_(column) {}

    Outcome Call(DISPID id, WORD flags, Args& args, VARIANT* result) override {
        if (rs_->closed()) return Fail(kObjectInvalid);
        if (id == kDefault && IsPut(flags, args)) {
            Value value;
            if (HRESULT hr = ValueOf(*args.putValue(), &value); FAILED(hr)) return hr;
            return rs_->Write(column_, value);
        }
        if (id == kDefault) {
            Value value;
            if (Error e = rs_->Read(column_, &value)) return e;
            SetValue(result, value);
            return Outcome();
        }
        if (ColumnProperty(db_->table().schema().columns[column_], id, result)) return Outcome();
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    std::shared_ptr<Recordset> rs_;
    std::shared_ptr<Database> db_;
    size_t column_;
};

class FieldsObject : public DispObject {
public:
    FieldsObject(std::shared_ptr<EngineState> s, std::shared_ptr<Recordset> rs, std::shared_ptr<Database> db)
        : DispObject(std::move(s), "Fields", MEMBERS(kCollectionMembers)), rs_(std::move(rs)), db_(std::move(db)) {}

    Outcome Call(DISPID id, WORD, Args& args, VARIANT* result) override {
        if (rs_->closed()) return Fail(kObjectInvalid);
        auto find = [&](TextView name) { return static_cast<long>(db_->table().ColumnIndex(name)); };
        auto make = [&](size_t column) { return new FieldObject(state(), rs_, db_, column); };
        return CollectionMember(id, args, result, rs_->FieldCount(), find, make);
    }

private:
    std::shared_ptr<Recordset> rs_;
    std::shared_ptr<Database> db_;
};

// ---------------------------------------------------------------- Recordset
const Member kRecordsetMembers[] = {
    {L"Fields", kDefault, kProperty},      {L"RecordCount", kRecordCount, kProperty},
    {L"BOF", kBof, kProperty},             {L"EOF", kEof, kProperty},
    {L"MoveFirst", kMoveFirst, kMethod},   {L"MoveLast", kMoveLast, kMethod},
    {L"MoveNext", kMoveNext, kMethod},     {L"Move", kMove, kMethod},
    {L"AddNew", kAddNew, kMethod},         {L"Edit", kEdit, kMethod},
    {L"Update", kUpdate, kMethod},         {L"CancelUpdate", kCancelUpdate, kMethod},
    {L"Delete", kDelete, kMethod},         {L"Updatable", kUpdatable, kProperty},
    {L"GetRows", kGetRows, kMethod},       {L"Close", kClose, kMethod},
    {L"Requery", kRequery, kMethod},
};

// Rows as DAO's GetRows gives them: a two-dimensional array indexed (field, row).
void SetRows(VARIANT* v, const std::vector<Text>& rows, size_t fields) {
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(fields), 0}, {static_cast<ULONG>(rows.size()), 0}};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
    VARIANT* cells = nullptr;
    SafeArrayAccessData(array, reinterpret_cast<void**>(&cells));
    for (size_t r = 0; r < rows.size(); ++r) {
        // The packed row read straight into the cells, one column after another.
        const Text& packed = rows[r];
        size_t at = 0;
        for (size_t f = 0; f < fields; ++f) {
            VARIANT* cell = &cells[r * fields + f];
            const char16_t length = at < packed.size() ? packed[at++] : kNullLength;
            if (length == kNullLength) {
                V_VT(cell) = VT_NULL;
                continue;
            }
            SetText(cell, TextView(packed).substr(at, length));
            at += length;
        }
    }
    SafeArrayUnaccessData(array);
    V_VT(v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(v) = array;
}

// What a QueryDef holds; its recordsets keep it for Requery.
struct QueryDefState {
    std::shared_ptr<Database> db;
    Text name;
    Text sql;
    Query query;
    Error parseError;
    Parameters values;
    long recordsAffected = 0;
    bool closed = false;

    Error SetSql(const Text& text) {
        sql = text;
        values.clear();
        parseError = ParseQuery(sql, &query);
        return parseError;
    }
    int ParameterIndex(TextView parameter) const {
        for (size_t i = 0; i < query.parameters.size(); ++i)
            if (EqualNoCase(query.parameters[i], parameter)) return static_cast<int>(i);
        return -1;
    }
};

class RecordsetObject : public DispObject {
public:
    // query and values are what the recordset selected; source the QueryDef
    // it came from (null for a Database's), which alone Requery takes.
    RecordsetObject(std::shared_ptr<EngineState> s, std::shared_ptr<Recordset> rs, std::shared_ptr<Database> db,
                    Query query, Parameters values, std::shared_ptr<QueryDefState> source, const IDispatch* sourceObject)
        : DispObject(std::move(s), "Recordset", MEMBERS(kRecordsetMembers)), rs_(std::move(rs)), db_(std::move(db)),
          query_(std::move(query)), values_(std::move(values)), source_(std::move(source)),
          sourceObject_(sourceObject) {}

    Outcome Call(DISPID id, WORD flags, Args& args, VARIANT* result) override {
        if (id == kDefault) return Collection(new FieldsObject(state(), rs_, db_), flags, args, result);
        if (rs_->closed() && id != kClose) return Fail(kObjectInvalid);
        switch (id) {
        case kRecordCount:
            SetLong(result, rs_->RecordCount());
            return Outcome();
        case kBof:
            SetBool(result, rs_->bof());
            return Outcome();
        case kEof:
            SetBool(result, rs_->eof());
            return Outcome();
        case kMoveFirst:
            return rs_->MoveFirst();
        case kMoveLast:
            return rs_->MoveLast();
        case kMoveNext:
            return rs_->MoveNext();
        case kMove: {
            long rows = 0;
            if (!args.Has(0)) return DISP_E_PARAMNOTFOUND;
            if (HRESULT hr = args.GetLong(0, 0, &rows); FAILED(hr)) return hr;
            // No bookmark is handed out here, so no StartBookmark is a valid one.
            if (args.Has(1)) return Fail(kInvalidArgument);
            return rs_->Move(rows);
        }
        case kAddNew:
            return rs_->AddNew();
        case kEdit:
            return rs_->Edit();
        case kUpdate:
            if (Runtime::Get().scenario().updateLocked() && rs_->editMode() != kEditNone) return Fail(kLocked);
            return rs_->Update();
        case kCancelUpdate:
            return rs_->CancelUpdate();
        case kDelete:
            return rs_->Delete();
        case kUpdatable:
            SetBool(result, rs_->updatable());
            return Outcome();
        case kGetRows: {
            long count = 1;
            if (HRESULT hr = args.GetLong(0, 1, &count); FAILED(hr)) return hr;
            std::vector<Text> rows;
            if (Error e = rs_->GetRows(count, &rows)) return e;
            SetRows(result, rows, rs_->FieldCount());
            return Outcome();
        }
        case kClose:
            return rs_->Close();
        case kRequery:
            return Requery(args);
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    // Requery([NewQueryDef]) selects again: without an argument with the
    // values the recordset was opened with, with its own QueryDef with that
    // QueryDef's values as they are now. DAO re-creates a recordset given
    // another QueryDef from scratch; the stand-in refuses that (3001).
    Outcome Requery(Args& args) {
        if (rs_->closed()) return Fail(kObjectInvalid);
        if (args.Has(0)) {
            const VARIANT& given = args.At(0);
            if (!source_ || V_VT(&given) != VT_DISPATCH || V_DISPATCH(&given) != sourceObject_)
                return Fail(kInvalidArgument);
            values_ = source_->values;
        }
        if (Error e = db_->Refresh()) return e;
        std::vector<uint32_t> ids;
        if (Error e = db_->Select(query_, values_, &ids)) return e;
        return rs_->Requery(std::move(ids));
    }

    std::shared_ptr<Recordset> rs_;
    std::shared_ptr<Database> db_;
    Query query_;
    Parameters values_;
    std::shared_ptr<QueryDefState> source_;
    const IDispatch* sourceObject_;
};

// Opens a recordset on what a Database or a QueryDef (source, sourceObject)
// selects. `type` 0 is "omitted": a table name then opens table-type, SQL a
// dynaset.
Outcome OpenRecordset(const std::shared_ptr<EngineState>& state, const std::shared_ptr<Database>& db,
                      const Query& query, bool plainName, const Parameters& params, Args& args, size_t first,
                      VARIANT* result, std::shared_ptr<QueryDefState> source = nullptr,
                      const IDispatch* sourceObject = nullptr) {
    long type = 0, options = 0, lockEdit = 0;
    if (HRESULT hr = args.GetLong(first, 0, &type); FAILED(hr)) return hr;
    if (HRESULT hr = args.GetLong(first + 1, 0, &options); FAILED(hr)) return hr;
    if (HRESULT hr = args.GetLong(first + 2, 0, &lockEdit); FAILED(hr)) return hr;
    if (type != 0 && type != kOpenTable && type != kOpenDynaset && type != kOpenSnapshot && type != kOpenForwardOnly)
        return Fail(kInvalidArgument);
    if (type == kOpenTable && !plainName) return Fail(kInvalidOperation);
    const bool readOnlyOption = options & kReadOnlyOption;
    if (readOnlyOption && lockEdit == kReadOnlyOption) return Fail(kInvalidArgument);
    if (Error e = db->Refresh()) return e;
    if (Error e = db->NoteTableOpened()) return e;
    std::vector<uint32_t> ids;
    if (Error e = db->Select(query, params, &ids)) return e;
    const bool updatable = !db->readOnly() && type != kOpenSnapshot && type != kOpenForwardOnly && !readOnlyOption &&
                           lockEdit != kReadOnlyOption;
    const bool tableType = plainName && (type == 0 || type == kOpenTable);
    auto rs = std::make_shared<Recordset>(db, std::move(ids), updatable, tableType);
    const long vanish = Runtime::Get().scenario().vanishAfter();
    if (vanish >= 0) rs->SetFetchLimit(vanish);
    SetObject(result, new RecordsetObject(state, rs, db, query, params, std::move(source), sourceObject));
    return Outcome();
}

// ---------------------------------------------------------------- QueryDef

const Member kParameterMembers[] = {{L"Value", kDefault, kWritable}, {L"Name", kName, kProperty}};

class ParameterObject : public DispObject {
public:
    ParameterObject(std::shared_ptr<EngineState> s, std::shared_ptr<QueryDefState> q, Text name)
        : DispObject(std::move(s), "Parameter", MEMBERS(kParameterMembers)), q_(std::move(q)), name_(std::move(name)) {}

    Outcome Call(DISPID id, WORD flags, Args& args, VARIANT* result) override {
        if (q_->closed) return Fail(kObjectInvalid);
        if (id == kDefault && IsPut(flags, args)) {
            Value value;
            if (HRESULT hr = ValueOf(*args.putValue(), &value); FAILED(hr)) return hr;
            q_->values[Folded(name_)] = value;
            return Outcome();
        }
        if (id == kName) {
            SetText(result, name_);
        } else {
            const auto it = q_->values.find(Folded(name_));
            SetValue(result, it == q_->values.end() ? Value() : it->second);
        }
        return Outcome();
    }

private:
    std::shared_ptr<QueryDefState> q_;
    Text name_;
};

class ParametersObject : public DispObject {
public:
    ParametersObject(std::shared_ptr<EngineState> s, std::shared_ptr<QueryDefState> q)
        : DispObject(std::move(s), "Parameters", MEMBERS(kCollectionMembers)), q_(std::move(q)) {}

    Outcome Call(DISPID id, WORD, Args& args, VARIANT* result) override {
        if (q_->closed) return Fail(kObjectInvalid);
        const auto& declared = q_->query.parameters;
        auto find = [&](TextView name) { return static_cast<long>(q_->ParameterIndex(name)); };
        auto make = [&](size_t index) { return new ParameterObject(state(), q_, declared[index]); };
        return CollectionMember(id, args, result, declared.size(), find, make);
    }

private:
    std::shared_ptr<QueryDefState> q_;
};

const Member kQueryDefMembers[] = {
    {L"Parameters", kDefault, kProperty},        {L"SQL", kSql, kWritable},
    {L"OpenRecordset", kOpenRecordset, kMethod}, {L"Execute", kExecute, kMethod},
    {L"Close", kClose, kMethod},                 {L"Name", kName, kProperty},
    {L"RecordsAffected", kRecordsAffected, kProperty},
};

class QueryDefObject : public DispObject {
public:
    QueryDefObject(std::shared_ptr<EngineState> s, std::shared_ptr<QueryDefState> q)
        : DispObject(std::move(s), "QueryDef", MEMBERS(kQueryDefMembers)), q_(std::move(q)) {}

    Outcome Call(DISPID id, WORD flags, Args& args, VARIANT* result) override {
        if (q_->closed || q_->db->closed()) return Fail(kObjectInvalid);
        if (id == kDefault) return Collection(new ParametersObject(state(), q_), flags, args, result);
        if (id == kSql && IsPut(flags, args)) {
            Value sql;
            if (HRESULT hr = ValueOf(*args.putValue(), &sql); FAILED(hr)) return hr;
            return q_->SetSql(sql.value_or(Text()));
        }
        switch (id) {
        case kSql:
            SetText(result, q_->sql);
            return Outcome();
        case kName:
            SetText(result, q_->name);
            return Outcome();
        case kRecordsAffected:
            SetLong(result, q_->recordsAffected);
            return Outcome();
        case kClose:
            q_->closed = true;
            return Outcome();
        case kOpenRecordset:
            if (q_->parseError) return q_->parseError;
            return OpenRecordset(state(), q_->db, q_->query, false, q_->values, args, 0, result, q_,
                                 static_cast<IDispatch*>(this));
        case kExecute:
            if (q_->parseError) return q_->parseError;
            return q_->db->Execute(q_->query, q_->values, &q_->recordsAffected);
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    std::shared_ptr<QueryDefState> q_;
};

// ---------------------------------------------------------------- TableDefs
// The table's definition as Database.TableDefs shows it, read-only: the
// stand-in makes tables with CREATE TABLE only. Every object answers 3420
// once its database is closed.

// TableDefAttributeEnum's dbSystemObject.
constexpr long kSystemObject = static_cast<long>(0x80000002);
// Jet's own tables beside the user's, in every file; they are listed with
// their attributes, and show no fields or indexes here.
const char16_t* const kSystemTables[] = {u"MSysACEs", u"MSysObjects", u"MSysQueries", u"MSysRelationships"};

const Member kFieldDefMembers[] = {
    {L"Name", kName, kProperty},
    {L"Type", kType, kProperty},
    {L"Size", kSize, kProperty},
    {L"Required", kRequiredField, kProperty},
    {L"AllowZeroLength", kAllowZeroLength, kProperty},
};

// A field of a TableDef, or of one of its indexes: the column's definition,
// with no value to read.
class FieldDefObject : public DispObject {
public:
    FieldDefObject(std::shared_ptr<EngineState> s, std::shared_ptr<Database> db, size_t column)
        : DispObject(std::move(s), "Field", MEMBERS(kFieldDefMembers)), db_(std::move(db)), column_(column) {}

    Outcome Call(DISPID id, WORD, Args&, VARIANT* result) override {
        if (db_->closed()) return Fail(kObjectInvalid);
        const Column& column = db_->table().schema().columns[column_];
        if (ColumnProperty(column, id, result)) return Outcome();
        if (id != kAllowZeroLength) return DISP_E_MEMBERNOTFOUND;
        SetBool(result, column.allowZeroLength);
        return Outcome();
    }

private:
    std::shared_ptr<Database> db_;
    size_t column_;
};

// TableDef.Fields and Index.Fields: the columns given, in order.
class FieldDefsObject : public DispObject {
public:
    FieldDefsObject(std::shared_ptr<EngineState> s, std::shared_ptr<Database> db, std::vector<size_t> columns)
        : DispObject(std::move(s), "Fields", MEMBERS(kCollectionMembers)), db_(std::move(db)),
          columns_(std::move(columns)) {}

    Outcome Call(DISPID id, WORD, Args& args, VARIANT* result) override {
        if (db_->closed()) return Fail(kObjectInvalid);
        const auto& columns = db_->table().schema().columns;
        auto find = [&](TextView name) {
            for (size_t i = 0; i < columns_.size(); ++i)
                if (EqualNoCase(columns[columns_[i]].name, name)) return static_cast<long>(i);
            return -1L;
        };
        auto make = [&](size_t index) { return new FieldDefObject(state(), db_, columns_[index]); };
        return CollectionMember(id, args, result, columns_.size(), find, make);
    }

private:
    std::shared_ptr<Database> db_;
    std::vector<size_t> columns_;
};

const Member kIndexMembers[] = {
    {L"Name", kName, kProperty},       {L"Primary", kPrimary, kProperty},
    {L"Unique", kUnique, kProperty},   {L"Required", kRequiredField, kProperty},
    {L"Fields", kFields, kProperty},
};

// The table's one index, its primary key (CREATE TABLE's PRIMARY KEY), which
// is unique and required as every primary index is.
class IndexObject : public DispObject {
public:
    IndexObject(std::shared_ptr<EngineState> s, std::shared_ptr<Database> db)
        : DispObject(std::move(s), "Index", MEMBERS(kIndexMembers)), db_(std::move(db)) {}

    Outcome Call(DISPID id, WORD flags, Args& args, VARIANT* result) override {
        if (db_->closed()) return Fail(kObjectInvalid);
        const Schema& schema = db_->table().schema();
        switch (id) {
        case kName:
            SetText(result, schema.keyName);
            return Outcome();
        case kPrimary:
        case kUnique:
        case kRequiredField:
            SetBool(result, true);
            return Outcome();
        case kFields: {
            const std::vector<size_t> key = {static_cast<size_t>(schema.key)};
            return Collection(new FieldDefsObject(state(), db_, key), flags, args, result);
        }
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    std::shared_ptr<Database> db_;
};

class IndexesObject : public DispObject {
public:
    // `none`: a system table's, which shows no index here.
    IndexesObject(std::shared_ptr<EngineState> s, std::shared_ptr<Database> db, bool none)
        : DispObject(std::move(s), "Indexes", MEMBERS(kCollectionMembers)), db_(std::move(db)), none_(none) {}

    Outcome Call(DISPID id, WORD, Args& args, VARIANT* result) override {
        if (db_->closed()) return Fail(kObjectInvalid);
        const Schema& schema = db_->table().schema();
        const size_t count = !none_ && schema.key >= 0 ? 1 : 0;
        auto find = [&](TextView name) { return count && EqualNoCase(schema.keyName, name) ? 0L : -1L; };
        auto make = [&](size_t) { return new IndexObject(state(), db_); };
        return CollectionMember(id, args, result, count, find, make);
    }

private:
    std::shared_ptr<Database> db_;
    bool none_;
};

const Member kTableDefMembers[] = {
    {L"Fields", kDefault, kProperty},
    {L"Indexes", kIndexes, kProperty},
    {L"Name", kName, kProperty},
    {L"Attributes", kAttributes, kProperty},
};

class TableDefObject : public DispObject {
public:
    TableDefObject(std::shared_ptr<EngineState> s, std::shared_ptr<Database> db, Text name, bool system)
        : DispObject(std::move(s), "TableDef", MEMBERS(kTableDefMembers)), db_(std::move(db)), name_(std::move(name)),
          system_(system) {}

    Outcome Call(DISPID id, WORD flags, Args& args, VARIANT* result) override {
        if (db_->closed()) return Fail(kObjectInvalid);
        switch (id) {
        case kDefault: {
            std::vector<size_t> columns;
            if (!system_)
                for (size_t i = 0; i < db_->table().schema().columns.size(); ++i) columns.push_back(i);
            return Collection(new FieldDefsObject(state(), db_, columns), flags, args, result);
        }
        case kIndexes:
            return Collection(new IndexesObject(state(), db_, system_), flags, args, result);
        case kName:
            SetText(result, name_);
            return Outcome();
        case kAttributes:
            SetLong(result, system_ ? kSystemObject : 0);
            return Outcome();
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    std::shared_ptr<Database> db_;
    Text name_;
    bool system_;
};

// Database.TableDefs: the user's table (once made) and Jet's own, by name.
class TableDefsObject : public DispObject {
public:
    TableDefsObject(std::shared_ptr<EngineState> s, std::shared_ptr<Database> db)
        : DispObject(std::move(s), "TableDefs", MEMBERS(kCollectionMembers)), db_(std::move(db)) {}

    Outcome Call(DISPID id, WORD, Args& args, VARIANT* result) override {
        if (db_->closed()) return Fail(kObjectInvalid);
        std::vector<Text> names;
        if (db_->table().created()) names.push_back(db_->table().schema().table);
        for (const char16_t* system : kSystemTables) names.push_back(system);
        std::sort(names.begin(), names.end(), [](const Text& a, const Text& b) { return CompareNoCase(a, b) < 0; });
        auto find = [&](TextView name) {
            for (size_t i = 0; i < names.size(); ++i)
                if (EqualNoCase(names[i], name)) return static_cast<long>(i);
            return -1L;
        };
        auto make = [&](size_t index) {
            const bool system = !db_->table().created() || !EqualNoCase(names[index], db_->table().schema().table);
            return new TableDefObject(state(), db_, names[index], system);
        };
        return CollectionMember(id, args, result, names.size(), find, make);
    }

private:
    std::shared_ptr<Database> db_;
};

// ---------------------------------------------------------------- Database
const Member kDatabaseMembers[] = {
    {L"OpenRecordset", kOpenRecordset, kMethod}, {L"CreateQueryDef", kCreateQueryDef, kMethod},
    {L"Execute", kExecute, kMethod},             {L"RecordsAffected", kRecordsAffected, kProperty},
    {L"Updatable", kUpdatable, kProperty},       {L"Name", kName, kProperty},
    {L"Close", kClose, kMethod},                 {L"TableDefs", kDefault, kProperty},
    {L"Version", kVersion, kProperty},           {L"CollatingOrder", kCollatingOrder, kProperty},
};

// A workspace's one transaction over the databases opened in it. DAO's
// transactions belong to a workspace, not to a database: a database closed
// while its workspace's transaction is pending takes the whole transaction
// back with it, in every database of the workspace.
struct WorkspaceState {
    bool inTransaction = false;
    std::vector<std::weak_ptr<Database>> databases;

    std::vector<std::shared_ptr<Database>> Open() {
        std::vector<std::shared_ptr<Database>> open;
        for (const auto& weak : databases)
            if (auto db = weak.lock(); db && !db->closed()) open.push_back(db);
        return open;
    }
    void RollBackAll() {
        if (!inTransaction) return;
        inTransaction = false;
        for (const auto& db : Open())
            if (db->inTransaction()) db->Rollback();
    }
};

class DatabaseObject : public DispObject {
public:
    DatabaseObject(std::shared_ptr<EngineState> s, std::shared_ptr<Database> db, Text name,
                   std::shared_ptr<WorkspaceState> workspace)
        : DispObject(std::move(s), "Database", MEMBERS(kDatabaseMembers)), db_(std::move(db)), name_(std::move(name)),
          workspace_(std::move(workspace)) {}
    // Released without Close, it closes as Close would.
    ~DatabaseObject() override { CloseDatabase(); }

    void CloseDatabase() {
        if (db_->closed()) return;
        workspace_->RollBackAll();
        db_->Close();
    }

    Outcome Call(DISPID id, WORD flags, Args& args, VARIANT* result) override {
        if (db_->closed()) return Fail(kObjectInvalid);
        switch (id) {
        case kDefault:
            return Collection(new TableDefsObject(state(), db_), flags, args, result);
        case kVersion:
            // Every file the stand-in opens is a Jet 4 file of its own.
            SetText(result, u"4.0");
            return Outcome();
        case kCollatingOrder:
            SetLong(result, db_->collatingOrder());
            return Outcome();
        case kOpenRecordset:
            return Open(args, result);
        case kCreateQueryDef: {
            auto q = std::make_shared<QueryDefState>();
            q->db = db_;
            Value name, sql;
            if (args.Has(0) && FAILED(ValueOf(args.At(0), &name))) return DISP_E_TYPEMISMATCH;
            if (args.Has(1) && FAILED(ValueOf(args.At(1), &sql))) return DISP_E_TYPEMISMATCH;
            q->name = name.value_or(Text());
            if (sql) {
                if (Error e = q->SetSql(*sql)) return e;
            }
            SetObject(result, new QueryDefObject(state(), q));
            return Outcome();
        }
        case kExecute: {
            Text sql;
            Query query;
            if (HRESULT hr = args.GetText(0, &sql); FAILED(hr)) return hr;
            if (Error e = ParseQuery(sql, &query)) return e;
            return db_->Execute(query, Parameters(), &recordsAffected_);
        }
        case kRecordsAffected:
            SetLong(result, recordsAffected_);
            return Outcome();
        case kUpdatable:
            SetBool(result, !db_->readOnly());
            return Outcome();
        case kName:
            SetText(result, name_);
            return Outcome();
        case kClose:
            CloseDatabase();
            return Outcome();
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    Outcome Open(Args& args, VARIANT* result) {
        Text source;
        if (HRESULT hr = args.GetText(0, &source); FAILED(hr)) return hr;
        Query query;
        const bool plainName = IsPlainName(source);
        if (plainName) {
            query.table = source.front() == u'[' ? source.substr(1, source.size() - 2) : source;
        } else if (Error e = ParseQuery(source, &query)) {
            return e;
        }
        return OpenRecordset(state(), db_, query, plainName, Parameters(), args, 1, result);
    }

    std::shared_ptr<Database> db_;
    Text name_;
    long recordsAffected_ = 0;
    std::shared_ptr<WorkspaceState> workspace_;
};

// ---------------------------------------------------------------- Workspace
Text FullPath(const Text& name) {
    wchar_t buffer[MAX_PATH * 2];
    const std::wstring wide(name.begin(), name.end());
    const DWORD n = GetFullPathNameW(wide.c_str(), MAX_PATH * 2, buffer, nullptr);
    if (n == 0 || n >= MAX_PATH * 2) return name;
    return Text(buffer, buffer + n);
}

// "<name>.ldb" beside "<name>.mdb" ("<name>.laccdb" beside an .accdb).
std::wstring LockFilePath(const std::wstring& path) {
    const size_t dot = path.find_last_of(L'.');
    const size_t slash = path.find_last_of(L"\\/");
    const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    const std::wstring stem = hasExtension ? path.substr(0, dot) : path;
    const bool ace = hasExtension && _wcsicmp(path.c_str() + dot, L".accdb") == 0;
    return stem + (ace ? L".laccdb" : L".ldb");
}

Error OpenError(DWORD code, const Text& name) {
    if (code == ERROR_FILE_NOT_FOUND) return Fail(kFileNotFound, name);
    if (code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME || code == ERROR_BAD_NETPATH)
        return Fail(kInvalidPath, name);
    return Fail(kCannotOpen, name);
}

const Member kWorkspaceMembers[] = {
    {L"OpenDatabase", kOpenDatabase, kMethod}, {L"BeginTrans", kBeginTrans, kMethod},
    {L"CommitTrans", kCommitTrans, kMethod},   {L"Rollback", kRollback, kMethod},
    {L"Name", kName, kProperty},               {L"Close", kClose, kMethod},
};

class WorkspaceObject : public DispObject {
public:
    WorkspaceObject(std::shared_ptr<EngineState> s, Text name)
        : DispObject(std::move(s), "Workspace", MEMBERS(kWorkspaceMembers)), name_(std::move(name)) {}

    Outcome Call(DISPID id, WORD, Args& args, VARIANT* result) override {
        switch (id) {
        case kOpenDatabase:
            return OpenDatabase(args, result);
        case kBeginTrans:
            return BeginTrans();
        case kCommitTrans:
            return EndTrans(true);
        case kRollback:
            return EndTrans(false);
        case kName:
            SetText(result, name_);
            return Outcome();
        case kClose:
            // Closing a workspace takes back its pending transaction and
            // closes its databases.
            ws_->RollBackAll();
            for (const auto& db : ws_->Open()) db->Close();
            return Outcome();
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    // DBEngine.OpenDatabase(Name, [Options], [ReadOnly], [Connect])
    Outcome OpenDatabase(Args& args, VARIANT* result) {
        Text name;
        bool exclusive = false, readOnly = false;
        if (HRESULT hr = args.GetText(0, &name); FAILED(hr)) return hr;
        if (HRESULT hr = args.GetBool(1, false, &exclusive); FAILED(hr)) return hr;
        if (HRESULT hr = args.GetBool(2, false, &readOnly); FAILED(hr)) return hr;
        const Text path = FullPath(name);
        if (const int fault = Runtime::Get().scenario().OpenFault(path)) return Fail(fault, path);
        const std::wstring wide(path.begin(), path.end());
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) readOnly = true;
        HANDLE handle = INVALID_HANDLE_VALUE;
        if (!readOnly) {
            handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            // A file that may not be written opens read-only, as Jet opens it.
            if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) readOnly = true;
        }
        if (readOnly)
            handle = CreateFileW(wide.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
        if (handle == INVALID_HANDLE_VALUE) return OpenError(GetLastError(), path);
        auto file = std::make_unique<WinFile>(tq::win::FileHandle(handle));
        // Jet opens a file shared only where it can make its lock file
        // beside it: on a CD, a write-protected stick or a folder without
        // write rights a shared open fails, read-only or not, and only an
        // exclusive open works.
        if (!exclusive) {
            const std::wstring ldb = LockFilePath(wide);
            HANDLE lock = CreateFileW(ldb.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (lock == INVALID_HANDLE_VALUE) return Fail(kCannotOpen, path);
            file->KeepLockFile(tq::win::FileHandle(lock), ldb);
        }
        return Attach(std::move(file), readOnly, exclusive, path, result);
    }

    Outcome Attach(std::unique_ptr<File> file, bool readOnly, bool exclusive, const Text& path, VARIANT* result) {
        auto db = std::make_shared<Database>(std::move(file), readOnly, g_clock);
        db->SetOptions(&state()->options);
        if (Error e = db->Open(exclusive, path)) return e;
        if (ws_->inTransaction) db->Begin();
        ws_->databases.push_back(db);
        SetObject(result, new DatabaseObject(state(), db, path, ws_));
        return Outcome();
    }

private:
    Outcome BeginTrans() {
        if (ws_->inTransaction) return Fail(kTooManyTransactions);
        ws_->inTransaction = true;
        for (const auto& db : ws_->Open()) db->Begin();
        return Outcome();
    }

    Outcome EndTrans(bool commit) {
        if (!ws_->inTransaction) return Fail(kNoTransaction);
        ws_->inTransaction = false;
        // A commit the scenario fails is lost as a full disk loses it.
        if (commit && Runtime::Get().scenario().CommitFails()) {
            for (const auto& db : ws_->Open()) db->Rollback();
            return Fail(kDiskError);
        }
        Error first;
        for (const auto& db : ws_->Open()) {
            const Error e = commit ? db->Commit() : db->Rollback();
            if (e && !first) first = e;
        }
        return first;
    }

    std::shared_ptr<WorkspaceState> ws_ = std::make_shared<WorkspaceState>();
    Text name_;
};

// ---------------------------------------------------------------- DBEngine
// CreateDatabase's locale as DAO's LanguageConstants spell it,
// ";LANGID=0x0419;CP=1251;COUNTRY=0": the collating order its LANGID names
// (the same number, CollatingOrderEnum), or 0 when the text is no such
// locale or names an order DAO does not list. A password (";pwd=") is not
// taken here.
long CollatingOrderOf(TextView locale) {
    static const long kOrders[] = {1024, 1025, 1028, 1029, 1030, 1032, 1033, 1034, 1037, 1038,
                                   1039, 1041, 1042, 1043, 1045, 1049, 1053, 1054, 1055, 1060, 2052};
    long order = 0;
    while (!locale.empty()) {
        const size_t end = std::min(locale.find(u';'), locale.size());
        const TextView part = locale.substr(0, end);
        locale.remove_prefix(end < locale.size() ? end + 1 : end);
        if (part.empty()) continue;
        const size_t equals = part.find(u'=');
        if (equals == TextView::npos) return 0;
        const TextView key = part.substr(0, equals), value = part.substr(equals + 1);
        const bool hex = EqualNoCase(key, u"LANGID");
        if (!hex && !EqualNoCase(key, u"CP") && !EqualNoCase(key, u"COUNTRY")) return 0;
        if (hex && (value.size() != 6 || value[0] != u'0' || (value[1] != u'x' && value[1] != u'X'))) return 0;
        long number = 0;
        for (char16_t c : hex ? value.substr(2) : value) {
            const int digit = c >= u'0' && c <= u'9' ? c - u'0'
                              : hex && c >= u'a' && c <= u'f' ? c - u'a' + 10
                              : hex && c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                             : -1;
            if (digit < 0 || number > 0xFFFFF) return 0;
            number = number * (hex ? 16 : 10) + digit;
        }
        if (value.empty()) return 0;
        if (hex) order = number;
    }
    return std::find(std::begin(kOrders), std::end(kOrders), order) != std::end(kOrders) ? order : 0;
}

const Member kEngineMembers[] = {
    {L"OpenDatabase", kOpenDatabase, kMethod}, {L"CreateDatabase", kCreateDatabase, kMethod},
    {L"BeginTrans", kBeginTrans, kMethod},     {L"CommitTrans", kCommitTrans, kMethod},
    {L"Rollback", kRollback, kMethod},         {L"Version", kVersion, kProperty},
    {L"Idle", kIdle, kMethod},                 {L"SetOption", kSetOption, kMethod},
    {L"CreateWorkspace", kCreateWorkspace, kMethod},
};

class EngineObject;
EngineObject* g_engine = nullptr;  // the process's one DBEngine while it lives

class EngineObject : public DispObject {
public:
    EngineObject()
        : DispObject(std::make_shared<EngineState>(), "DBEngine", MEMBERS(kEngineMembers)),
          workspace_(new WorkspaceObject(state(), u"#Default Workspace#")) {
        // The registry's MaxLocksPerFile, as the scenario sets it.
        if (const long locks = Runtime::Get().scenario().maxLocks()) state()->options.maxLocksPerFile = locks;
    }
    ~EngineObject() override {
        workspace_->Release();
        if (g_engine == this) g_engine = nullptr;
    }

    // DAO has one DBEngine a process: every creation gives the same one,
    // for as long as anyone holds it.
    static DispObject* Shared() {
        if (g_engine) {
            g_engine->AddRef();
            return g_engine;
        }
        return g_engine = new EngineObject;
    }

    Outcome Call(DISPID id, WORD flags, Args& args, VARIANT* result) override {
        switch (id) {
        case kOpenDatabase:
            return workspace_->OpenDatabase(args, result);
        case kCreateDatabase:
            return CreateDatabase(args, result);
        case kBeginTrans:
        case kCommitTrans:
        case kRollback:
            return workspace_->Call(id, flags, args, result);
        case kVersion:
            SetText(result, u"3.6");
            return Outcome();
        case kCreateWorkspace: {
            // CreateWorkspace(Name, UserName, Password, [UseType]): a Jet
            // workspace of its own, with its own transaction.
            Text name, user, password;
            if (HRESULT hr = args.GetText(0, &name); FAILED(hr)) return hr;
            if (HRESULT hr = args.GetText(1, &user); FAILED(hr)) return hr;
            if (HRESULT hr = args.GetText(2, &password); FAILED(hr)) return hr;
            SetObject(result, new WorkspaceObject(state(), name));
            return Outcome();
        }
        case kSetOption: {
            // SetOption(Option, Value): MaxLocksPerFile is the one that
            // changes what the files do here; the others are taken as set.
            long option = 0, value = 0;
            if (HRESULT hr = args.GetLong(0, -1, &option); FAILED(hr)) return hr;
            if (HRESULT hr = args.GetLong(1, -1, &value); FAILED(hr)) return hr;
            if (option < 0 || value < 0) return Fail(kInvalidArgument);
            if (option == kMaxLocksPerFileOption) state()->options.maxLocksPerFile = value;
            return Outcome();
        }
        case kIdle: {
            // Idle([Action]): every change is in the file once its write
            // returns, so there is nothing held back to write.
            long action = 0;
            if (HRESULT hr = args.GetLong(0, 0, &action); FAILED(hr)) return hr;
            return Outcome();
        }
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    // CreateDatabase(Name, Locale, [Option]): an empty file, no table yet.
    Outcome CreateDatabase(Args& args, VARIANT* result) {
        Text name, locale;
        if (HRESULT hr = args.GetText(0, &name); FAILED(hr)) return hr;
        if (HRESULT hr = args.GetText(1, &locale); FAILED(hr)) return hr;
        const long collatingOrder = CollatingOrderOf(locale);
        if (collatingOrder == 0) return Fail(kInvalidArgument);
        const Text path = FullPath(name);
        const std::wstring wide(path.begin(), path.end());
        HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return Fail(kDatabaseExists);
            return OpenError(code, path);
        }
        auto file = std::make_unique<WinFile>(tq::win::FileHandle(handle));
        if (!Database::Initialise(*file, collatingOrder)) return Fail(kDiskError);
        return workspace_->Attach(std::move(file), false, false, path, result);
    }

    WorkspaceObject* workspace_;
};

}  // namespace

DispObject* NewEngine() { return EngineObject::Shared(); }

}  // namespace daosim
