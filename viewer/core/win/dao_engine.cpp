// The engine for the scale's Access (Jet) files, through DAO by late binding.
//
// DAO 3.6 ("DAO.DBEngine.36", part of 32-bit Windows) opens Jet 3 and Jet 4
// .mdb files; ACE ("DAO.DBEngine.120", with a 32-bit Office or the Access
// Database Engine) opens those and .accdb. Every DAO object lives on the
// thread that opened the engine, in its apartment. DAO has one DBEngine a
// process; each engine here opens its file in a workspace of its own, whose
// transaction no other engine's work can take back or nest in.
//
// A result is a CachedResult: its rows are read in one pass with GetRows in
// chunks, so the count is exact at once (a dynaset's RecordCount is not) and
// a listing costs a call per thousand rows. The DAO recordset stays open for
// changes; before one, it is moved to the row the layer means. The whole
// table, opened before every append, is a table-type recordset, whose count
// is exact without reading it.
//
// No value goes into Jet SQL as text: Jet reads quotes, and "|" too, inside
// literals. A query's value is the parameter of a temporary QueryDef.
#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>

#include "batched_engine.h"
#include "cached_result.h"
#include "common/cp1251.h"
#include "dao_dbengine.h"
#include "dispatch.h"
#include "engine.h"
#include "file_path.h"

namespace tq::viewer {

namespace {

using dao::ComApartment;
using dao::Object;
using dao::OpenDbEngineObject;
using dao::Variant;

const long dbOpenTable = 1;
const long dbOpenDynaset = 2;
const long dbFailOnError = 128;
const long dbRefreshCache = 8;
const long dbForceOSFlush = 1;
const long kInvalidArgument = 3001;
const long kRowsPerFetch = 1000;
// Cyrillic sort order and code page for the databases tqdb creates.
const wchar_t kCyrillicLocale[] = L";LANGID=0x0419;CP=1251;COUNTRY=0";
const long dbVersion40 = 64;
// DBEngine.SetOption's MaxLocksPerFile, and what the engine raises it to: Jet's
// default of 9,500 page locks lets a transaction of some tens of thousands of
// rows fail with 3052 or, worse, commit part of it and go on; an import or
// restore must be whole or absent.
const long dbMaxLocksPerFile = 62;
const long kMaxLocksPerFile = 1000000;
// The text a Jet row holds, in bytes of its Unicode compression: one a
// character whose high byte is 0 (Latin-1), two for any other (Cyrillic).
const size_t kJetRowBytes = 4000;
const char kNoDao[] =
    "нет DAO: для .mdb нужен DAO 3.6 (dao360.dll, входит в 32-битную Windows; зарегистрируйте его командой "
    "regsvr32), для .accdb — 32-битный Microsoft Access Database Engine";

// A value as it is stored, whole, in UTF-8; false when UTF-8 cannot carry it
// (a lone surrogate) or a text file cannot (a NUL).
bool StoredText(const VARIANT& value, std::string* utf8) {
    utf8->clear();
    if (V_VT(&value) == VT_NULL || V_VT(&value) == VT_EMPTY) return true;
    Variant text;
    const VARIANT* shown = &value;
    if (V_VT(&value) != VT_BSTR) {
        if (FAILED(VariantChangeType(text.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR))) return false;
        shown = text.get();
    }
    const BSTR bstr = V_BSTR(shown);
    const std::wstring_view wide(bstr ? bstr : L"", bstr ? SysStringLen(bstr) : 0);
    *utf8 = tq::WideToUtf8(wide);
    return !tq::HasLoneSurrogate(wide) && utf8->find('\0') == std::string::npos;
}

// Reads a recordset from its current row to its end with GetRows, a
// thousand rows a call, handing each row's cells (field by field) to row; a
// false from row ends the read as a failure. A chunk shorter than asked is
// the end only where the recordset says EOF: DAO stops a chunk short at a
// row it cannot read (another user deleted it) and makes that row current;
// the read moves past it and goes on, lest the rows after it go missing.
bool ReadChunks(Object& recordset, const std::function<bool(const VARIANT* cells, LONG fields)>& row) {
    for (;;) {
        bool atEnd = false;
        if (!recordset.GetBool(L"EOF", &atEnd)) return false;
        if (atEnd) return true;
        Variant chunk;
        Variant rows = Variant::Long(kRowsPerFetch);
        if (!recordset.Method(L"GetRows", {rows.get()}, chunk.get())) return false;
        // DAO's array is (field, row): the field index varies fastest.
        SAFEARRAY* array = V_VT(chunk.get()) == (VT_ARRAY | VT_VARIANT) ? V_ARRAY(chunk.get()) : nullptr;
        LONG lastField = 0, lastRow = 0;
        VARIANT* cells = nullptr;
        if (!array || SafeArrayGetDim(array) != 2 || FAILED(SafeArrayGetUBound(array, 1, &lastField)) ||
            FAILED(SafeArrayGetUBound(array, 2, &lastRow)) || lastField + 1 < kFieldCount ||
            FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&cells)))) {
            recordset.Fail(E_UNEXPECTED, tq::Cp("GetRows не вернул таблицу из 41 поля"));
            return false;
        }
        bool taken = true;
        for (LONG r = 0; taken && r <= lastRow; ++r) taken = row(cells + r * (lastField + 1), lastField + 1);
        SafeArrayUnaccessData(array);
        if (!taken) return false;
        if (lastRow + 1 < kRowsPerFetch) {
            if (!recordset.GetBool(L"EOF", &atEnd)) return false;
            if (atEnd) return true;
            if (!recordset.Method(L"MoveNext")) return false;
        }
    }
}

const long dbText = 10;
const long dbMemo = 12;

// Where each of s00..s40 stands among a recordset's fields, and what each
// holds. A file another program made may order its fields otherwise, or give
// one another type or size: the engine reads and writes them by name, and
// refuses before Jet does what a field cannot take.
struct FieldLayout {
    std::array<long, kFieldCount> position{};
    std::array<long, kFieldCount> type{};
    std::array<long, kFieldCount> size{};  // characters a text field holds
    std::array<bool, kFieldCount> required{};
    long count = 0;                        // the recordset's fields in all
};

// False, with the recordset's error or *missing naming the first field it
// lacks, when the recordset has not all 41.
bool ReadLayout(Object& recordset, FieldLayout* layout, std::string* missing) {
    Object fields = recordset.GetObject(L"Fields", "Fields");
    if (!fields || !fields.GetLong(L"Count", &layout->count)) return false;
    std::array<bool, kFieldCount> seen{};
    for (long i = 0; i < layout->count; ++i) {
        Variant which = Variant::Long(i);
        Object field = fields.GetObject(L"Item", "Field", {which.get()});
        Variant name;
        if (!field || !field.Get(L"Name", name.get()) || V_VT(name.get()) != VT_BSTR) return false;
        const std::string text = tq::WideToCp1251(V_BSTR(name.get()));
        for (int column = 0; column < kFieldCount; ++column) {
            if (seen[column] || _stricmp(text.c_str(), ColumnName(column).c_str()) != 0) continue;
            seen[column] = true;
            layout->position[column] = i;
            if (!field.GetLong(L"Type", &layout->type[column]) || !field.GetLong(L"Size", &layout->size[column]) ||
                !field.GetBool(L"Required", &layout->required[column]))
                return false;
        }
    }
    for (int column = 0; column < kFieldCount; ++column) {
        if (seen[column]) continue;
        *missing = tq::Cp("в таблице FieldsTable нет поля ") + ColumnName(column);
        recordset.Fail(E_UNEXPECTED, *missing);
        return false;
    }
    return true;
}

class DaoEngine;

// Whose a result's recordset is: the result's own, or lent to it by the
// engine for the open transaction (the whole table, or the lookup's), and
// given back when the result goes.
enum class Lending { Own, Table, Lookup };

class DaoResult : public CachedResult {
public:
    DaoResult(DaoEngine& engine, Object recordset, bool wholeTable, long tableCount, Lending lending = Lending::Own);
    ~DaoResult() override;

    bool CanAppend() override;

protected:
    bool FetchRows(std::vector<int64_t>* keys, std::vector<std::string>* packedRows) override;
    long UnreadCount() override { return tableCount_; }
    bool WriteUpdate(size_t index, int64_t, const RowValues& values, const ColumnSet& changed) override;
    bool WriteAppend(const RowValues& values, int64_t* key) override;
    bool WriteDelete(size_t index, int64_t) override;

private:
    bool MoveTo(size_t index);
    Object* Field(int column);
    bool PutValue(int column, const std::string& value);
    // Drops a pending AddNew or Edit that failed, so that a recordset lent
    // on is clean; the failure stays the one reported.
    void CancelPending();

    DaoEngine& engine_;
    Object recordset_;
    const Lending lending_;
    unsigned long lendSerial_;
    Object fields_[kFieldCount];
    bool wholeTable_;
    long tableCount_;
    long rowsRead_ = 0;
    long daoRow_ = -1;  // the result's row the DAO recordset is on; -1 when none
};

class DaoEngine : public BatchedEngine {
public:
    ~DaoEngine() override {
        EndTransactionsForClose();
        if (database_) database_.Method(L"Close");
        if (workspace_) workspace_.Method(L"Close");
    }

    bool Open(const std::string& path) {
        if (!apartment_.usable() || !file_.Remember(path)) return false;
        dbEngine_ = OpenDbEngineObject(&session_, HasAceSignature(path));
        if (!dbEngine_) return false;
        Variant option = Variant::Long(dbMaxLocksPerFile);
        Variant locks = Variant::Long(kMaxLocksPerFile);
        if (!dbEngine_.Method(L"SetOption", {option.get(), locks.get()})) session_.Fail(0, std::string());
        workspace_ = NewWorkspace();
        if (!workspace_) return false;
        if (OpenDatabase(path, false, false)) return ReadTableLayout();
        // A write-protected file still opens for reading, shared. Where Jet
        // cannot make its lock file beside the database (a CD, a
        // write-protected stick, a folder without write rights) no shared
        // open works at all; DAO's guidance for read-only media is to open
        // exclusively and read-only, which needs no lock file.
        const dao::CallError first = session_.LastError();
        const bool shared = OpenDatabase(path, false, true);
        if (shared || OpenDatabase(path, true, true)) {
            readOnly_ = true;
            readOnlyWhy_ = tq::Cp(shared ? "файл открыт только для чтения: его нельзя изменить"
                                     : "файл открыт монопольно и только для чтения: Jet не может создать файл "
                                       "блокировки (.ldb) рядом с ним (папка или носитель только для чтения?)");
            session_.Fail(0, std::string());  // the refused shared open is no error of the engine's now
            return ReadTableLayout();
        }
        session_.Fail(first.number, first.text);
        return false;
    }

    std::unique_ptr<DbResult> OpenDynaset(const RowQuery& query) override {
        copyError_.clear();
        if (query.rows == RowQuery::Rows::Whole) return OpenWholeTable();
        Lending lending = Lending::Own;
        Object recordset = OpenSelect(query, &lending);
        if (!recordset) return nullptr;
        auto result = std::make_unique<DaoResult>(*this, std::move(recordset), false, -1, lending);
        if (!result->Load()) return nullptr;
        return result;
    }

    bool ReadRowsAsStored(const RowQuery& query, std::vector<RowValues>* rows) override {
        copyError_.clear();
        Object recordset = OpenSelect(query);
        std::string unfit;  // the codes of rows whose values a text file cannot carry
        bool read = false;
        try {
            read = recordset && ReadChunks(recordset, [&](const VARIANT* cells, LONG) {
                RowValues values;
                bool fits = true;
                for (int column = 0; column < kFieldCount; ++column)
                    fits = StoredText(cells[layout_.position[column]], &values[column]) && fits;
                if (!fits) unfit += (unfit.empty() ? "" : ", ") + tq::Utf8ToCp1251(values[0]);
                rows->push_back(std::move(values));
                return true;
            });
        } catch (const std::bad_alloc&) {
            std::vector<RowValues>().swap(*rows);  // what was read of them is let go
            return Refuse(tq::Cp(kOutOfMemoryUtf8));
        }
        if (!read) return false;
        if (unfit.empty()) return true;
        copyError_ =
            tq::Cp("значения, которые не передать текстом UTF-8 (NUL, одиночный суррогат), в записях с кодами ") + unfit;
        return false;
    }

    bool StartTransaction() override {
        ForgetLent();
        return workspace_.Method(L"BeginTrans");
    }
    // dbForceOSFlush: Jet has the system write the commit to the disk before
    // it returns, so that a commit reported is one a power cut keeps. A DAO
    // that does not know the option refuses the argument before committing.
    bool FinishTransaction() override {
        ForgetLent();
        Variant flush = Variant::Long(dbForceOSFlush);
        if (workspace_.Method(L"CommitTrans", {flush.get()})) return true;
        const long number = session_.LastError().number;
        if (number != DISP_E_BADPARAMCOUNT && number != kInvalidArgument) return false;
        return workspace_.Method(L"CommitTrans");
    }
    // The error that made the caller give up stays the one reported, not
    // Rollback's own (3034 after a commit that ended the transaction).
    void AbandonTransaction() override {
        ForgetLent();
        const dao::CallError cause = session_.LastError();
        workspace_.Method(L"Rollback");
        session_.Fail(cause.number, cause.text);
    }

    std::string LastError() override {
        if (!dbEngine_) return tq::Cp(kNoDao);
        if (!file_.StillThere()) return tq::Cp("файла больше нет на прежнем месте");
        if (!copyError_.empty()) return copyError_;
        const dao::CallError& error = session_.LastError();
        if (readOnly_ && error.number == 0) return readOnlyWhy_;
        return dao::Said(error);
    }

    bool CanWrite() override {
        if (readOnly_) return Refuse(readOnlyWhy_);
        return StillAtPath();
    }
    bool ReadyToWrite() override {
        copyError_.clear();
        return !WritesRefused() && CanWrite();
    }

    // A change made safe with a backup holds the file exclusively from
    // before its copy to its end (see HoldExclusively).
    bool BeginWholeTrans() override {
        if (inTrans_ || !CanWrite() || !HoldExclusively()) return false;
        if (BatchedEngine::BeginWholeTrans()) return true;
        LetGo();
        return false;
    }
    bool EndWholeTrans(bool keep) override {
        const bool ended = BatchedEngine::EndWholeTrans(keep);
        LetGo();
        return ended;
    }

    // A plain copy of the file is whole once the open batch is committed,
    // no edit is pending, Jet has written what it held back (Idle with
    // dbRefreshCache), and no other program can write: the file is held
    // exclusively for the copy, or already, inside a whole transaction that
    // has written nothing, which the copy then shows as it started. A
    // failed Idle is no failure of the copy (an engine without it writes
    // through), and its error is not left to be reported for another.
    bool BackupTo(const std::string& to) override {
        copyError_.clear();
        if (!CommitTrans()) return false;
        const bool heldHere = !holding_;
        if (heldHere && !HoldExclusively()) return false;
        const dao::CallError before = session_.LastError();
        Variant refreshCache = Variant::Long(dbRefreshCache);
        if (!dbEngine_.Method(L"Idle", {refreshCache.get()})) session_.Fail(before.number, before.text);
        const bool copied = CopyFileOver(file_.path(), to, &copyError_);
        if (heldHere) LetGo();
        return copied;
    }

    // Jet itself carries the values: each cell of the copy goes into this
    // file's row as the VARIANT the copy gave (text as Unicode, Null as
    // Null), never through code page 1251; the caller's transaction takes a
    // failure back. The copy must be a table of the scale's shape, read to
    // its end: a short or failed read is a failure, not an empty copy.
    bool RestoreFrom(const std::string& from) override {
        copyError_.clear();
        if (!inTrans_ || !ReadyToWrite()) return false;
        Variant name = Variant::Text(Wide(from));
        Variant exclusive = Variant::Bool(false);
        Variant readOnlyArg = Variant::Bool(true);
        // The copy is read in a workspace of its own: closing it in this
        // one would take this workspace's transaction back with it.
        Object reader = NewWorkspace(L"-copy");
        Object copy = reader ? reader.GetObject(L"OpenDatabase", "Database",
                                                {name.get(), exclusive.get(), readOnlyArg.get()}, DISPATCH_METHOD)
                             : Object();
        if (!copy) return FailCopy(tq::Cp("копия не открывается"));
        Object source = OpenRecordsetOn(copy, "SELECT * FROM FieldsTable", dbOpenDynaset);
        FieldLayout copied;
        std::string missing;
        bool restored = source && ReadLayout(source, &copied, &missing);
        if (!restored)
            FailCopy(tq::Cp("в копии нет таблицы того вида, что у весов") + (missing.empty() ? "" : ": " + missing));
        if (restored) restored = Execute("DELETE * FROM FieldsTable");
        Object target = restored ? OpenRecordset("FieldsTable", dbOpenTable) : Object();
        Object fields = target ? target.GetObject(L"Fields", "Fields") : Object();
        Object field[kFieldCount];
        for (int column = 0; fields && column < kFieldCount; ++column) {
            Variant which = Variant::Text(Wide(ColumnName(column)));
            field[column] = fields.GetObject(L"Item", "Field", {which.get()});
        }
        restored = static_cast<bool>(fields);
        for (int column = 0; column < kFieldCount; ++column) restored = restored && field[column];
        if (restored) {
            restored = ReadChunks(source, [&](const VARIANT* cells, LONG) {
                if (!target.Method(L"AddNew")) return false;
                for (int column = 0; column < kFieldCount; ++column) {
                    if (!field[column].Put(L"Value", const_cast<VARIANT*>(&cells[copied.position[column]]))) {
                        target.Method(L"CancelUpdate");
                        return false;
                    }
                }
                return target.Method(L"Update");
            });
        }
        if (source) source.Method(L"Close");
        copy.Method(L"Close");
        reader.Method(L"Close");
        return restored;
    }

    long ServerCalls() override { return session_.calls; }
    const FieldLayout& layout() const { return layout_; }

    // What a row's values would meet in the file's fields, refused before
    // Jet refuses it: text into a field that is no text, a value longer than
    // its field, a row longer than Jet's.
    bool FitsFields(const RowValues& values) {
        size_t rowBytes = 0;  // a Jet row holds kJetRowBytes of text, Cyrillic two bytes a letter
        for (int column = 0; column < kFieldCount; ++column) {
            const std::wstring value = Wide(values[column].substr(0, kValueMax));
            if (value.empty() && layout_.required[column]) {
                // The engine writes the empty text as Null, which a Required
                // field refuses (3314).
                return Refuse(tq::Cp("поле ") + ColumnName(column) +
                              tq::Cp(" этого файла не может быть пустым (Required), а в записи с кодом ") + values[0] +
                              tq::Cp(" оно пусто"));
            }
            if (value.empty()) continue;
            const long type = layout_.type[column];
            if (type != dbText && type != dbMemo)
                return Refuse(tq::Cp("поле ") + ColumnName(column) + tq::Cp(" этого файла не текстовое (тип DAO ") +
                              std::to_string(type) + tq::Cp("), а записывается только текст"));
            if (type == dbText && static_cast<long>(value.size()) > layout_.size[column])
                return Refuse(tq::Cp("значение ") + ColumnName(column) + tq::Cp(" записи с кодом ") + values[0] +
                              tq::Cp(" длиной ") + std::to_string(value.size()) + tq::Cp(" символов, а поле вмещает ") +
                              std::to_string(layout_.size[column]));
            for (wchar_t c : value) rowBytes += c <= 0xFF ? 1 : 2;
        }
        if (rowBytes <= kJetRowBytes) return true;
        return Refuse(tq::Cp("запись с кодом ") + values[0] + tq::Cp(" слишком велика для файла Access: ") +
                      std::to_string(rowBytes) + tq::Cp(" байт текста, можно не больше ") + std::to_string(kJetRowBytes) +
                      tq::Cp(" (русская буква занимает два)"));
    }
    // A refusal of the engine's own, reported by LastError until the next
    // operation that clears it; always false.
    bool Refuse(const std::string& why) {
        copyError_ = why;
        return false;
    }

    bool readOnly() const { return readOnly_; }
    dao::Session& session() { return session_; }

    unsigned long LendSerial(Lending lending) const { return lending == Lending::Table ? tableSerial_ : lookupSerial_; }
    // A lent recordset comes back from its result, unless the transaction
    // it was lent for has ended or the lookup's QueryDef has changed since.
    void TakeBack(Lending lending, unsigned long serial, Object recordset) {
        if (!inTrans_ || !recordset || serial != LendSerial(lending)) return;
        if (lending == Lending::Table && !lent_.table) lent_.table = std::move(recordset);
        if (lending == Lending::Lookup && !lent_.lookupRecordset) lent_.lookupRecordset = std::move(recordset);
    }

private:
    // Jet gives no reader a consistent view of a file that other programs
    // write (it takes no lock until it writes), and a copy of the file may
    // catch another program's commit half-written: a copy is the database
    // only while no one else has the file open. So the file is opened again,
    // exclusively, and while another program (the scale's own) has it open
    // that fails and the file stays open as it was. Nothing may be lent or
    // open on the database when it closes, nor a transaction pending, which
    // its close would take back.
    bool HoldExclusively() {
        if (exclusive_) return true;
        if (inTrans_) return Refuse(tq::Cp("открыта транзакция"));
        ForgetLent();
        database_.Method(L"Close");
        const std::string& path = file_.path();
        if (OpenDatabase(path, true, readOnly_)) {
            holding_ = true;
            return ReadTableLayout();
        }
        const dao::CallError refused = session_.LastError();
        if (!OpenDatabase(path, false, readOnly_)) return FailCopy(tq::Cp("файл закрыт и не открывается снова"));
        ReadTableLayout();
        return Refuse(tq::Cp("файл открыт другой программой (программой весов?): копия файла Access цельна, "
                             "только пока его не может писать никто другой; закройте её и повторите (") +
                      dao::Said(refused) + ")");
    }

    // Back to the shared open the engine works in.
    void LetGo() {
        if (!holding_ || inTrans_) return;
        holding_ = false;
        ForgetLent();
        const dao::CallError before = session_.LastError();
        database_.Method(L"Close");
        if (OpenDatabase(file_.path(), false, readOnly_) || OpenDatabase(file_.path(), true, readOnly_))
            ReadTableLayout();
        session_.Fail(before.number, before.text);
    }

    // The table's fields as the file holds them, read once: a file without
    // all of s00..s40 is no database of the scale.
    bool ReadTableLayout() {
        Object table = OpenRecordset("FieldsTable", dbOpenTable);
        if (!table) table = OpenRecordset("FieldsTable", dbOpenDynaset);
        std::string missing;
        const bool read = table && ReadLayout(table, &layout_, &missing);
        if (table) table.Method(L"Close");
        if (!missing.empty()) copyError_ = missing;
        return read;
    }

    // DAO has one DBEngine a process, and a transaction belongs to a
    // workspace: in the shared default workspace another engine's database
    // closed mid-transaction, or its BeginTrans, would take this engine's
    // transaction back or nest in it. Each engine works in a workspace of
    // its own, named after itself so that names never clash.
    Object NewWorkspace(const wchar_t* role = L"") {
        const std::wstring name = L"tq" + std::to_wstring(reinterpret_cast<uintptr_t>(this)) + role;
        Variant nameArg = Variant::Text(name);
        Variant user = Variant::Text(L"admin");
        Variant password = Variant::Text(L"");
        return dbEngine_.GetObject(L"CreateWorkspace", "Workspace", {nameArg.get(), user.get(), password.get()},
                                   DISPATCH_METHOD);
    }

    bool FailCopy(const std::string& why) {
        const dao::CallError& error = session_.LastError();
        copyError_ = why + (error.number ? " (" + dao::Said(error) + ")" : "");
        return false;
    }

    bool Execute(const std::string& sql) {
        Variant text = Variant::Text(Wide(sql));
        Variant options = Variant::Long(dbFailOnError);
        return database_.Method(L"Execute", {text.get(), options.get()});
    }

    // The query's rows as a dynaset, its value the parameter of a temporary
    // QueryDef. Given lending, a lookup inside a transaction may be lent
    // (*lending says so).
    Object OpenSelect(const RowQuery& query, Lending* lending = nullptr) {
        std::vector<std::string> parameters;
        std::string select = "SELECT * FROM FieldsTable";
        switch (query.rows) {
        case RowQuery::Rows::Whole:
            break;
        case RowQuery::Rows::Listed:
            select += " WHERE s00<>[p1]";
            parameters.push_back(kUnlistedCode);
            break;
        case RowQuery::Rows::Matching:
            select += " WHERE [" + ColumnName(query.column) + "]=[p1]";
            parameters.push_back(query.value);
            break;
        }
        if (query.orderColumn >= 0) select += " ORDER BY " + ColumnName(query.orderColumn);
        if (parameters.empty()) return OpenRecordset(select, dbOpenDynaset);
        if (!lending || !inTrans_) return OpenQuery(select, parameters);
        *lending = Lending::Lookup;
        return LentLookup(select, parameters);
    }

    // Jet keeps every table or dynaset opened in a transaction referenced
    // until the transaction ends, closed or not, and refuses more than some
    // hundreds (3014): a batch of a thousand saves must not open a lookup
    // and a table for each. A transaction opens the whole table once and
    // lends it from result to result; its lookups run one QueryDef again
    // with Requery. What it lent goes when it ends.
    struct Lent {
        Object table;
        std::string lookupSelect;  // the select lookupQuery holds
        Object lookupQuery;
        Object lookupRecordset;  // null while a result has it
    };

    void ForgetLent() {
        lent_ = Lent();
        ++tableSerial_;
        ++lookupSerial_;
    }

    Object LentLookup(const std::string& select, const std::vector<std::string>& parameters) {
        if (!lent_.lookupQuery || lent_.lookupSelect != select) {
            lent_.lookupRecordset.Release();
            ++lookupSerial_;
            lent_.lookupQuery = NewQueryDef(select, parameters.size());
            lent_.lookupSelect = select;
        }
        if (!lent_.lookupQuery || !SetParameters(lent_.lookupQuery, parameters)) return Object();
        Object recordset = std::move(lent_.lookupRecordset);
        Variant query = lent_.lookupQuery.AsArgument();
        if (recordset && recordset.Method(L"Requery", {query.get()})) return recordset;
        return OpenFromQuery(lent_.lookupQuery);
    }

    bool OpenDatabase(const std::string& path, bool exclusiveOpen, bool readOnly) {
        Variant name = Variant::Text(Wide(path));
        Variant exclusive = Variant::Bool(exclusiveOpen);
        Variant readOnlyArg = Variant::Bool(readOnly);
        database_ = workspace_.GetObject(L"OpenDatabase", "Database", {name.get(), exclusive.get(), readOnlyArg.get()},
                                        DISPATCH_METHOD);
        exclusive_ = database_ && exclusiveOpen;
        return static_cast<bool>(database_);
    }

    Object OpenRecordset(const std::string& sql, long type) { return OpenRecordsetOn(database_, sql, type); }
    static Object OpenRecordsetOn(Object& database, const std::string& sql, long type) {
        Variant source = Variant::Text(Wide(sql));
        Variant typeArg = Variant::Long(type);
        return database.GetObject(L"OpenRecordset", "Recordset", {source.get(), typeArg.get()}, DISPATCH_METHOD);
    }

    // "PARAMETERS [p1] Text(255), ...; SELECT ..." in a temporary QueryDef.
    Object NewQueryDef(const std::string& select, size_t parameterCount) {
        std::string declared = "PARAMETERS ";
        for (size_t i = 0; i < parameterCount; ++i)
            declared += (i ? ", [p" : "[p") + std::to_string(i + 1) + "] Text(255)";
        declared += "; " + select;
        Variant noName = Variant::Text(L"");
        Variant sqlText = Variant::Text(Wide(declared));
        return database_.GetObject(L"CreateQueryDef", "QueryDef", {noName.get(), sqlText.get()}, DISPATCH_METHOD);
    }

    static bool SetParameters(Object& query, const std::vector<std::string>& parameters) {
        Object list = query.GetObject(L"Parameters", "Parameters");
        bool set = static_cast<bool>(list);
        for (size_t i = 0; set && i < parameters.size(); ++i) {
            Variant which = Variant::Text(L"p" + std::to_wstring(i + 1));
            Object parameter = list.GetObject(L"Item", "Parameter", {which.get()});
            Variant value = Variant::Text(Wide(parameters[i]));
            set = parameter && parameter.Put(L"Value", value.get());
        }
        return set;
    }

    static Object OpenFromQuery(Object& query) {
        Variant type = Variant::Long(dbOpenDynaset);
        return query.GetObject(L"OpenRecordset", "Recordset", {type.get()}, DISPATCH_METHOD);
    }

    Object OpenQuery(const std::string& select, const std::vector<std::string>& parameters) {
        Object query = NewQueryDef(select, parameters.size());
        if (!query) return Object();
        Object recordset = SetParameters(query, parameters) ? OpenFromQuery(query) : Object();
        query.Method(L"Close");
        return recordset;
    }

    // A table-type recordset counts its rows exactly at once; where the
    // engine offers no table type, a dynaset counts them by going to its end.
    std::unique_ptr<DbResult> OpenWholeTable() {
        long count = -1;
        Object recordset = inTrans_ ? std::move(lent_.table) : Object();
        if (!recordset) recordset = OpenRecordset("FieldsTable", dbOpenTable);
        const Lending lending = recordset && inTrans_ ? Lending::Table : Lending::Own;
        if (!recordset) {
            recordset = OpenRecordset("FieldsTable", dbOpenDynaset);
            bool empty = false;
            if (recordset && recordset.GetBool(L"EOF", &empty) && !empty) recordset.Method(L"MoveLast");
        }
        if (!recordset || !recordset.GetLong(L"RecordCount", &count)) return nullptr;
        return std::make_unique<DaoResult>(*this, std::move(recordset), true, count, lending);
    }

    ComApartment apartment_;  // first in, last out: every object below is released before it
    dao::Session session_;
    Object dbEngine_;
    Object workspace_;  // before database_: released after it
    Object database_;
    bool readOnly_ = false;
    std::string readOnlyWhy_;  // why every write is refused, when readOnly_
    bool exclusive_ = false;  // no other program can open the file while this engine has it
    bool holding_ = false;    // exclusively for a backup or a change made safe, shared otherwise
    FieldLayout layout_;
    std::string copyError_;  // why the engine itself refused: a copy, a read, a row too large
    Lent lent_;              // after database_: released before it
    unsigned long tableSerial_ = 0;
    unsigned long lookupSerial_ = 0;
};

DaoResult::DaoResult(DaoEngine& engine, Object recordset, bool wholeTable, long tableCount, Lending lending)
    : engine_(engine), recordset_(std::move(recordset)), lending_(lending), lendSerial_(engine.LendSerial(lending)),
      wholeTable_(wholeTable), tableCount_(tableCount) {}

DaoResult::~DaoResult() {
    for (Object& field : fields_) field.Release();
    if (lending_ != Lending::Own) engine_.TakeBack(lending_, lendSerial_, std::move(recordset_));
}

bool DaoResult::CanAppend() { return !engine_.readOnly(); }

void DaoResult::CancelPending() {
    const dao::CallError cause = engine_.session().LastError();
    recordset_.Method(L"CancelUpdate");
    engine_.session().Fail(cause.number, cause.text);
}

bool DaoResult::FetchRows(std::vector<int64_t>* keys, std::vector<std::string>* packedRows) {
    if (wholeTable_) {
        bool empty = true;
        if (!recordset_.GetBool(L"BOF", &empty)) return false;
        if (!empty && !recordset_.Method(L"MoveFirst")) return false;
    }
    bool read = false;
    try {
        read = ReadChunks(recordset_, [&](const VARIANT* cells, LONG) {
            std::string packed;
            const FieldLayout& layout = engine_.layout();
            for (int column = 0; column < kFieldCount; ++column)
                PackValue(&packed, dao::ValueText(cells[layout.position[column]]));
            keys->push_back(rowsRead_++);
            packedRows->push_back(std::move(packed));
            return true;
        });
    } catch (const std::bad_alloc&) {
        engine_.Refuse(tq::Cp(kOutOfMemoryUtf8));
    }
    daoRow_ = -1;  // past the end
    return read;
}

bool DaoResult::MoveTo(size_t index) {
    if (daoRow_ == static_cast<long>(index)) return true;
    daoRow_ = -1;
    const long live = LiveIndex(index);
    if (!recordset_.Method(L"MoveFirst")) return false;
    Variant rows = Variant::Long(live);
    if (live > 0 && !recordset_.Method(L"Move", {rows.get()})) return false;
    daoRow_ = static_cast<long>(index);
    return true;
}

Object* DaoResult::Field(int column) {
    Object& field = fields_[column];
    if (!field) {
        Object list = recordset_.GetObject(L"Fields", "Fields");
        Variant which = Variant::Text(Wide(ColumnName(column)));
        if (list) field = list.GetObject(L"Item", "Field", {which.get()});
    }
    return field ? &field : nullptr;
}

// The empty text goes in as Null: a zero-length string is refused by the
// fields that do not allow one.
bool DaoResult::PutValue(int column, const std::string& value) {
    Object* field = Field(column);
    if (!field) return false;
    Variant v = value.empty() ? Variant::Null() : Variant::Text(Wide(value.substr(0, kValueMax)));
    return field->Put(L"Value", v.get());
}

bool DaoResult::WriteUpdate(size_t index, int64_t, const RowValues& values, const ColumnSet& changed) {
    if (!engine_.ReadyToWrite() || !engine_.FitsFields(values) || !MoveTo(index) || !recordset_.Method(L"Edit"))
        return false;
    for (int column = 0; column < kFieldCount; ++column) {
        if (changed[column] && !PutValue(column, values[column])) {
            CancelPending();
            return false;
        }
    }
    if (!recordset_.Method(L"Update")) {
        CancelPending();
        return false;
    }
    engine_.NoteWrite();
    return true;
}

bool DaoResult::WriteAppend(const RowValues& values, int64_t* key) {
    if (!engine_.ReadyToWrite() || !engine_.FitsFields(values) || !recordset_.Method(L"AddNew")) return false;
    for (int column = 0; column < kFieldCount; ++column) {
        if (!values[column].empty() && !PutValue(column, values[column])) {
            CancelPending();
            return false;
        }
    }
    if (!recordset_.Method(L"Update")) {
        CancelPending();
        return false;
    }
    *key = rowsRead_++;
    if (tableCount_ >= 0) ++tableCount_;
    engine_.NoteWrite();
    return true;
}

bool DaoResult::WriteDelete(size_t index, int64_t) {
    if (!engine_.ReadyToWrite() || !MoveTo(index) || !recordset_.Method(L"Delete")) return false;
    daoRow_ = -1;  // a deleted row stays current, but dead
    if (tableCount_ > 0) --tableCount_;
    engine_.NoteWrite();
    return true;
}

}  // namespace

std::unique_ptr<DbEngine> OpenDaoEngine(const std::string& path, std::string* why) {
    auto engine = std::make_unique<DaoEngine>();
    if (engine->Open(path)) return engine;
    if (why) *why = engine->LastError();
    return nullptr;
}

bool CreateJetDatabase(const std::string& path) {
    if (CanOpenForReading(path)) return false;
    ComApartment apartment;
    if (!apartment.usable()) return false;
    dao::Session session;
    Object dbEngine = OpenDbEngineObject(&session, false);
    if (!dbEngine) return false;
    Variant name = Variant::Text(Wide(path));
    Variant locale = Variant::Text(kCyrillicLocale);
    Variant version = Variant::Long(dbVersion40);
    Object database =
        dbEngine.GetObject(L"CreateDatabase", "Database", {name.get(), locale.get(), version.get()}, DISPATCH_METHOD);
    if (!database) return false;
    std::string create = "CREATE TABLE FieldsTable (s00 TEXT(255) CONSTRAINT PrimaryKey PRIMARY KEY";
    for (int i = 1; i < kFieldCount; ++i) {
        char column[24];
        std::snprintf(column, sizeof column, ", s%02d TEXT(255)", i);
        create += column;
    }
    create += ")";
    Variant sql = Variant::Text(Wide(create));
    Variant options = Variant::Long(dbFailOnError);
    const bool made = database.Method(L"Execute", {sql.get(), options.get()});
    database.Method(L"Close");
    return made;
}

}  // namespace tq::viewer
