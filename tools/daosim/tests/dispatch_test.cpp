// The DAO stand-in as the data core meets it under Wine: created by ProgID
// from the prefix's registry and driven only through IDispatch.
#include <gtest/gtest.h>

#include <ocidl.h>

#include "common/win/module_path.h"
#include "common/win/file_tree.h"
#include "tools/daosim/tests/late_bound.h"

namespace daosim_test {
namespace {

constexpr long kDynaset = 2, kSnapshot = 4;

// "<Temp>\daosim-test-<process>-<n>", made at the first ask: the test's files
// are named from it.
std::wstring TempName() {
    static const std::wstring name = tq::win::NewTempFolder(L"daosim-test-");
    return name;
}
// The folder of the test's databases, removed once its tests are done.
std::wstring TempDir() { return TempName() + L"\\"; }

std::wstring EnvOr(const wchar_t* name, const std::wstring& fallback) {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(buffer, n) : fallback;
}

// The stand-in reads its log and scenario names once, when the first engine
// is made: set them before any test runs (the folder is made before the
// first engine). A child process inherits them.
// The log sits beside the folder, not in it: the stand-in keeps it open until
// the process ends, which would keep the folder from being removed. A child
// process inherits the names and leaves the files to its parent.
const bool kNamedHere = EnvOr(L"DAOSIM_LOG", L"").empty() && EnvOr(L"DAOSIM_SCENARIO", L"").empty();
const std::wstring kScenario = EnvOr(L"DAOSIM_SCENARIO", TempName() + L"-scenario.txt");
const std::wstring kLog = EnvOr(L"DAOSIM_LOG", TempName() + L"-calls.log");
const bool kEnvironmentSet = SetEnvironmentVariableW(L"DAOSIM_SCENARIO", kScenario.c_str()) &&
                             SetEnvironmentVariableW(L"DAOSIM_LOG", kLog.c_str());

// After the last test: the folder, the scenario and the log go. The stand-in
// opened the log allowing its deletion, so it goes when the process lets go
// of it.
class RemoveTempFiles : public ::testing::Environment {
public:
    void TearDown() override {
        tq::win::RemoveTree(TempName());
        if (!kNamedHere) return;
        DeleteFileW(kScenario.c_str());
        DeleteFileW(kLog.c_str());
    }
};
::testing::Environment* const kRemoveTempFiles = ::testing::AddGlobalTestEnvironment(new RemoveTempFiles);

void WriteFileText(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadFileText(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string text(GetFileSize(file, nullptr), '\0');
    DWORD got = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(file);
    return text.substr(0, got);
}

void SetScenario(const std::string& text) {
    // A new modification time each time, however quick the rewrite.
    DeleteFileW(kScenario.c_str());
    Sleep(20);
    WriteFileText(kScenario, text);
}

IDispatch* NewEngine(HRESULT* hr) {
    CLSID clsid;
    IDispatch* engine = nullptr;
    *hr = CLSIDFromProgID(L"DAO.DBEngine.36", &clsid);
    if (SUCCEEDED(*hr))
        *hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&engine));
    return engine;
}

// Releases what a test holds when it ends, however it ends.
class Held {
public:
    ~Held() { ReleaseAll(); }
    void ReleaseAll() {
        for (auto it = objects_.rbegin(); it != objects_.rend(); ++it) (*it)->Release();
        objects_.clear();
    }
    IDispatch* operator()(const Result& r) {
        IDispatch* object = r.object();
        if (object) {
            object->AddRef();
            objects_.push_back(object);
        }
        return object;
    }

private:
    std::vector<IDispatch*> objects_;
};

class DaoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kEnvironmentSet);
        dir_ = TempDir();
        CreateDirectoryW(dir_.c_str(), nullptr);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        DeleteFileW(kScenario.c_str());
        HRESULT hr;
        engine_ = NewEngine(&hr);
        ASSERT_EQ(hr, S_OK) << "DAO.DBEngine.36 should be registered in the test prefix";
    }
    // The files the test made go too, once nothing holds them open.
    void TearDown() override {
        held_.ReleaseAll();
        if (engine_) engine_->Release();
        for (const std::wstring& path : made_) Remove(path);
        DeleteFileW(kScenario.c_str());
        CoUninitialize();
    }

    // A path in the test folder with no file at it; the file made there, and
    // the lock file beside it, are removed when the test ends.
    std::wstring NewPath(const wchar_t* name) {
        const std::wstring path = dir_ + name;
        Remove(path);
        made_.push_back(path);
        return path;
    }
    static void Remove(const std::wstring& path) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        DeleteFileW((path.substr(0, path.find_last_of(L'.')) + L".ldb").c_str());
    }
    // A database as the data core makes one: an empty file, then FieldsTable
    // of 41 text columns with s00 as its key.
    IDispatch* NewDatabase(const wchar_t* name) {
        IDispatch* db = held_(Get(engine_, L"CreateDatabase", {NewPath(name), L";LANGID=0x0409;CP=1252;COUNTRY=0"}));
        std::wstring sql = L"CREATE TABLE FieldsTable (s00 TEXT(255) CONSTRAINT PrimaryKey PRIMARY KEY";
        for (int i = 1; i <= 40; ++i) sql += (i < 10 ? L", s0" : L", s") + std::to_wstring(i) + L" TEXT(255)";
        EXPECT_TRUE(Get(db, L"Execute", {sql + L")"}).ok());
        return db;
    }
    IDispatch* Open(IDispatch* db, const std::wstring& sql, long type = kDynaset) {
        Result r = Get(db, L"OpenRecordset", {sql, type});
        EXPECT_TRUE(r.ok()) << "OpenRecordset " << std::string(sql.begin(), sql.end()) << " scode " << std::hex
                            << r.scode;
        return held_(r);
    }
    IDispatch* Field(IDispatch* rs, const wchar_t* name) { return held_(Get(held_(Get(rs, L"Fields")), L"Item", {name})); }
    std::wstring Read(IDispatch* rs, const wchar_t* name) {
        Result r = Get(Field(rs, name), L"Value");
        if (r.dao()) return L"error " + std::to_wstring(r.dao());
        return r.value.type() == VT_NULL ? L"Null" : r.value.text();
    }
    long Write(IDispatch* rs, const wchar_t* name, const Var& value) { return Put(Field(rs, name), L"Value", value).dao(); }
    // AddNew, s00 and s01, Update; the DAO error of the first step that fails.
    long AddRow(IDispatch* rs, const std::wstring& s00, const std::wstring& s01 = L"x") {
        if (long e = Get(rs, L"AddNew").dao()) return e;
        if (long e = Write(rs, L"s00", s00)) return e;
        if (long e = Write(rs, L"s01", s01)) return e;
        return Get(rs, L"Update").dao();
    }
    long Number(IDispatch* object, const wchar_t* name) { return Get(object, name).value.number(); }
    int Flag(IDispatch* object, const wchar_t* name) { return Get(object, name).value.boolean(); }

    IDispatch* engine_ = nullptr;
    std::wstring dir_;
    std::vector<std::wstring> made_;
    Held held_;
};

TEST_F(DaoTest, FollowsTheAutomationConventions) {
    IDispatch* db = NewDatabase(L"conventions.mdb");
    ASSERT_TRUE(db);
    EXPECT_EQ(IdOf(db, L"openrecordset"), IdOf(db, L"OpenRecordset")) << "names resolve without regard to case";
    EXPECT_NE(IdOf(db, L"OPENRECORDSET"), DISPID_UNKNOWN);
    EXPECT_EQ(IdOf(db, L"NoSuchMember"), DISPID_UNKNOWN);
    EXPECT_EQ(InvokeId(db, 4321, DISPATCH_METHOD, {}).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Get(engine_, L"Version").value.text(), L"3.6");
    EXPECT_EQ(Get(held_(Get(engine_, L"CreateWorkspace", {L"own", L"admin", L""})), L"Name").value.text(), L"own");

    // Arguments arrive reversed: a snapshot asked for is not updatable.
    IDispatch* snapshot = Open(db, L"SELECT * FROM FieldsTable", kSnapshot);
    EXPECT_EQ(Flag(snapshot, L"Updatable"), 0);
    IDispatch* rs = held_(Get(db, L"OpenRecordset", {L"SELECT * FROM FieldsTable", Var::Missing(), Var::Missing()}));
    ASSERT_TRUE(rs) << "omitted optionals are VT_ERROR/DISP_E_PARAMNOTFOUND";
    EXPECT_EQ(Flag(rs, L"Updatable"), 1);
    EXPECT_EQ(Flag(rs, L"EOF"), 1) << "EOF is VT_BOOL -1";
    ASSERT_EQ(AddRow(rs, L"1", L"один"), 0);
    Get(rs, L"MoveFirst");

    // Default members: rs(…) is rs.Fields(…), Fields(…) is Item, a Field's value is its DISPID 0.
    IDispatch* field = held_(InvokeId(rs, DISPID_VALUE, DISPATCH_PROPERTYGET, {L"S01"}));
    ASSERT_TRUE(field);
    EXPECT_EQ(InvokeId(field, DISPID_VALUE, DISPATCH_PROPERTYGET, {}).value.text(), L"один");
    IDispatch* fields = held_(Get(rs, L"Fields"));
    EXPECT_EQ(Get(held_(InvokeId(fields, DISPID_VALUE, DISPATCH_PROPERTYGET, {1})), L"Name").value.text(), L"s01");
    EXPECT_EQ(Number(fields, L"Count"), 41);
    EXPECT_EQ(Number(field, L"Type"), 10);
    EXPECT_EQ(Number(field, L"Size"), 255);
    EXPECT_EQ(Get(fields, L"Item", {L"nope"}).dao(), 3265);
    EXPECT_EQ(Get(fields, L"Item", {41}).dao(), 3265);

    // Arguments by reference, as VBScript passes its variables.
    VARIANT inner;
    VariantInit(&inner);
    V_VT(&inner) = VT_BSTR;
    V_BSTR(&inner) = SysAllocString(L"SELECT * FROM FieldsTable WHERE s00='1'");
    Var byRef;
    V_VT(byRef.get()) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(byRef.get()) = &inner;
    IDispatch* found = held_(Get(db, L"OpenRecordset", {byRef, kDynaset}));
    VariantClear(&inner);
    ASSERT_TRUE(found);
    EXPECT_EQ(Read(found, L"s00"), L"1");
    EXPECT_EQ(Get(db, L"OpenRecordset").hr, DISP_E_PARAMNOTFOUND);
}

// DAO's objects are dispatch interfaces described by a type library: a
// method answers only DISPATCH_METHOD, a property is read with
// DISPATCH_PROPERTYGET, DISPATCH_METHOD or both and written only where it is
// writable; anything else is DISP_E_MEMBERNOTFOUND and does nothing.
TEST_F(DaoTest, MembersAnswerOnlyTheInvokeFlagsOfTheirKind) {
    IDispatch* db = NewDatabase(L"flags.mdb");
    IDispatch* rs = Open(db, L"FieldsTable");
    ASSERT_EQ(AddRow(rs, L"1"), 0);
    ASSERT_EQ(AddRow(rs, L"2"), 0);
    ASSERT_TRUE(Get(rs, L"MoveFirst").ok());
    auto as = [](IDispatch* object, const wchar_t* name, WORD flags, std::vector<Var> args = {}) {
        return InvokeId(object, IdOf(object, name), flags, std::move(args)).hr;
    };

    // A method called as a property read.
    for (const wchar_t* method : {L"MoveFirst", L"MoveLast", L"MoveNext", L"Move", L"GetRows", L"AddNew", L"Edit",
                                  L"Update", L"CancelUpdate", L"Delete", L"Close"})
        EXPECT_EQ(as(rs, method, DISPATCH_PROPERTYGET, {1}), DISP_E_MEMBERNOTFOUND) << "Recordset." << method;
    EXPECT_EQ(Read(rs, L"s00"), L"1") << "the refused calls moved, deleted and closed nothing";
    EXPECT_EQ(Number(rs, L"RecordCount"), 2);
    for (const wchar_t* method : {L"OpenRecordset", L"CreateQueryDef", L"Execute", L"Close"})
        EXPECT_EQ(as(db, method, DISPATCH_PROPERTYGET, {L"FieldsTable"}), DISP_E_MEMBERNOTFOUND) << "Database." << method;
    for (const wchar_t* method : {L"OpenDatabase", L"CreateDatabase", L"CreateWorkspace", L"BeginTrans",
                                  L"CommitTrans", L"Rollback", L"Idle", L"SetOption"})
        EXPECT_EQ(as(engine_, method, DISPATCH_PROPERTYGET), DISP_E_MEMBERNOTFOUND) << "DBEngine." << method;
    EXPECT_EQ(Get(engine_, L"Rollback").dao(), 3034) << "the refused BeginTrans began nothing";
    EXPECT_EQ(as(rs, L"MoveNext", DISPATCH_METHOD), S_OK) << "DISPATCH_METHOD alone calls it";

    // A read-only property written.
    IDispatch* fields = held_(Get(rs, L"Fields"));
    IDispatch* field = Field(rs, L"s01");
    for (const wchar_t* property : {L"RecordCount", L"EOF", L"BOF", L"Updatable", L"Fields"})
        EXPECT_EQ(Put(rs, property, Var(1)).hr, DISP_E_MEMBERNOTFOUND) << "Recordset." << property;
    for (const wchar_t* property : {L"Name", L"Updatable", L"RecordsAffected"})
        EXPECT_EQ(Put(db, property, Var(1)).hr, DISP_E_MEMBERNOTFOUND) << "Database." << property;
    EXPECT_EQ(Put(fields, L"Count", Var(1)).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(fields, L"Item", L"v", {L"s01"}).hr, DISP_E_MEMBERNOTFOUND) << "Fields(\"s01\") = v";
    EXPECT_EQ(Put(field, L"Name", L"s99").hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(field, L"Size", Var(10)).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(engine_, L"Version", L"4.0").hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(rs, L"MoveNext", Var(1)).hr, DISP_E_MEMBERNOTFOUND) << "a method is no property";
    EXPECT_EQ(Number(rs, L"RecordCount"), 2);
    EXPECT_EQ(Get(field, L"Name").value.text(), L"s01");

    // A property is read with either flag or both; a writable one is written
    // with DISPATCH_PROPERTYPUT, not DISPATCH_PROPERTYPUTREF.
    for (WORD flags : {DISPATCH_PROPERTYGET, DISPATCH_METHOD, DISPATCH_PROPERTYGET | DISPATCH_METHOD}) {
        EXPECT_EQ(InvokeId(rs, IdOf(rs, L"RecordCount"), flags, {}).value.number(), 2) << flags;
        EXPECT_EQ(InvokeId(field, DISPID_VALUE, flags, {}).value.text(), L"x") << flags;
    }
    ASSERT_TRUE(Get(rs, L"Edit").ok());
    const Var edited(L"edited");
    EXPECT_EQ(InvokeId(field, DISPID_VALUE, DISPATCH_PROPERTYPUTREF, {}, &edited).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(InvokeId(field, DISPID_VALUE, DISPATCH_PROPERTYPUT, {}, &edited).ok());
    EXPECT_TRUE(Get(rs, L"Update").ok());
    EXPECT_EQ(Read(rs, L"s01"), L"edited");
}

TEST_F(DaoTest, TableDefsShowTheTableItsFieldsAndItsKeyReadOnly) {
    IDispatch* general = NewDatabase(L"general.mdb");
    EXPECT_EQ(Get(general, L"Version").value.text(), L"4.0");
    EXPECT_EQ(Number(general, L"CollatingOrder"), 1033) << "dbSortGeneral from LANGID 0x0409";

    const std::wstring path = NewPath(L"tabledefs.mdb");
    IDispatch* made = held_(Get(engine_, L"CreateDatabase", {path, L";LANGID=0x0419;CP=1251;COUNTRY=0"}));
    ASSERT_TRUE(Get(made, L"Execute", {L"CREATE TABLE FieldsTable (s00 TEXT(20) NOT NULL, s01 TEXT(50) CONSTRAINT Code "
                                       L"PRIMARY KEY)"})
                    .ok());
    ASSERT_TRUE(Get(made, L"Close").ok());
    IDispatch* db = held_(Get(engine_, L"OpenDatabase", {path}));
    ASSERT_TRUE(db);
    EXPECT_EQ(Number(db, L"CollatingOrder"), 1049) << "dbSortCyrillic, kept in the file";

    // Jet's own tables are there too, marked dbSystemObject.
    IDispatch* tables = held_(Get(db, L"TableDefs"));
    const long count = Number(tables, L"Count");
    EXPECT_GT(count, 1);
    long user = 0;
    for (long i = 0; i < count; ++i) {
        IDispatch* table = held_(Get(tables, L"Item", {i}));
        const std::wstring name = Get(table, L"Name").value.text();
        const long attributes = Number(table, L"Attributes");
        if (name == L"FieldsTable") {
            ++user;
            EXPECT_EQ(attributes, 0);
        } else {
            EXPECT_EQ(name.substr(0, 4), L"MSys");
            EXPECT_EQ(attributes, static_cast<long>(0x80000002)) << "dbSystemObject";
        }
    }
    EXPECT_EQ(user, 1);
    EXPECT_EQ(Get(tables, L"Item", {L"Goods"}).dao(), 3265);
    EXPECT_EQ(Get(tables, L"Item", {count}).dao(), 3265);

    // db("fieldstable") is db.TableDefs("fieldstable"); a TableDef's default is Fields.
    IDispatch* table = held_(InvokeId(db, DISPID_VALUE, DISPATCH_PROPERTYGET, {L"fieldstable"}));
    ASSERT_TRUE(table);
    IDispatch* fields = held_(Get(table, L"Fields"));
    EXPECT_EQ(Get(fields, L"Count").value.type(), VT_I2);
    EXPECT_EQ(Number(fields, L"Count"), 2);
    IDispatch* s00 = held_(InvokeId(table, DISPID_VALUE, DISPATCH_PROPERTYGET, {L"S00"}));
    EXPECT_EQ(Get(s00, L"Name").value.text(), L"s00");
    EXPECT_EQ(Number(s00, L"Type"), 10) << "dbText";
    EXPECT_EQ(Number(s00, L"Size"), 20);
    EXPECT_EQ(Get(s00, L"Required").value.boolean(), 1);
    EXPECT_EQ(Get(s00, L"AllowZeroLength").value.boolean(), 0);
    EXPECT_EQ(Get(s00, L"Value").hr, DISP_E_UNKNOWNNAME) << "a definition holds no value";
    EXPECT_EQ(Number(held_(Get(fields, L"Item", {1})), L"Size"), 50);

    IDispatch* indexes = held_(Get(table, L"Indexes"));
    EXPECT_EQ(Number(indexes, L"Count"), 1);
    IDispatch* key = held_(Get(indexes, L"Item", {L"code"}));
    EXPECT_EQ(Get(key, L"Name").value.text(), L"Code");
    for (const wchar_t* flag : {L"Primary", L"Unique", L"Required"}) EXPECT_EQ(Get(key, flag).value.boolean(), 1) << flag;
    IDispatch* keyFields = held_(Get(key, L"Fields"));
    EXPECT_EQ(Number(keyFields, L"Count"), 1);
    EXPECT_EQ(Get(held_(Get(keyFields, L"Item", {0})), L"Name").value.text(), L"s01");
    EXPECT_EQ(Get(indexes, L"Item", {1}).dao(), 3265);

    // All of it is read-only here.
    EXPECT_EQ(Put(db, L"CollatingOrder", Var(1033)).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(db, L"Version", L"3.0").hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(table, L"Name", L"Other").hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(table, L"Attributes", Var(0)).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(s00, L"Size", Var(255)).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(s00, L"Required", Var::Bool(false)).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(key, L"Primary", Var::Bool(false)).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Number(s00, L"Size"), 20);

    // A locale DAO does not list makes no file.
    const std::wstring refused = NewPath(L"refused.mdb");
    for (const wchar_t* locale : {L";LANGID=0x9999;CP=1252;COUNTRY=0", L";LANGID=0x0409;pwd=secret", L"general"})
        EXPECT_EQ(Get(engine_, L"CreateDatabase", {refused, locale}).dao(), 3001) << std::wstring(locale).size();
    EXPECT_EQ(GetFileAttributesW(refused.c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(Get(db, L"Close").ok());
    EXPECT_EQ(Get(tables, L"Count").dao(), 3420);
    EXPECT_EQ(Get(key, L"Name").dao(), 3420);
}

TEST_F(DaoTest, FailuresRaiseExceptions) {
    IDispatch* db = NewDatabase(L"errors.mdb");
    IDispatch* rs = Open(db, L"SELECT * FROM FieldsTable");
    Result r = Get(rs, L"MoveNext");
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<unsigned long>(r.scode), 0x800A0BCDul) << "3021 as 0x800A0000 + n";
    EXPECT_EQ(r.description, L"No current record.");
    EXPECT_EQ(r.source, L"DAO.Recordset");
    EXPECT_TRUE(Get(rs, L"RecordCount").ok());
    r = Get(db, L"Execute", {L"DROP TABLE FieldsTable"});
    EXPECT_EQ(r.dao(), 3129);
    EXPECT_EQ(r.source, L"DAO.Database") << "the source names the object that failed";
}

TEST_F(DaoTest, RecordsetMovesAndCountsAsADynaset) {
    IDispatch* db = NewDatabase(L"moves.mdb");
    IDispatch* add = Open(db, L"FieldsTable");
    for (const wchar_t* key : {L"b", L"C", L"a", L"D"}) ASSERT_EQ(AddRow(add, key), 0);
    IDispatch* rs = Open(db, L"SELECT * FROM FieldsTable ORDER BY s00");
    EXPECT_EQ(Number(rs, L"RecordCount"), 1) << "a new dynaset has visited one row";
    EXPECT_EQ(Flag(rs, L"BOF"), 0);
    EXPECT_EQ(Read(rs, L"s00"), L"a");
    Get(rs, L"MoveNext");
    Get(rs, L"MoveNext");
    EXPECT_EQ(Number(rs, L"RecordCount"), 3);
    EXPECT_EQ(Read(rs, L"s00"), L"C") << "ORDER BY ignores case";
    EXPECT_TRUE(Get(rs, L"MoveLast").ok());
    EXPECT_EQ(Number(rs, L"RecordCount"), 4);
    EXPECT_TRUE(Get(rs, L"MoveNext").ok());
    EXPECT_EQ(Flag(rs, L"EOF"), 1);
    EXPECT_EQ(Read(rs, L"s00"), L"error 3021");
    EXPECT_EQ(Get(rs, L"MoveNext").dao(), 3021);
    EXPECT_TRUE(Get(rs, L"Move", {-3}).ok());
    EXPECT_EQ(Read(rs, L"s00"), L"b");
    EXPECT_EQ(Get(rs, L"Move", {1, L"bookmark"}).dao(), 3001) << "no bookmark is handed out, so none is valid";
    EXPECT_EQ(Read(rs, L"s00"), L"b");

    IDispatch* empty = Open(db, L"SELECT * FROM FieldsTable WHERE s00='zz'");
    EXPECT_EQ(Flag(empty, L"BOF"), 1);
    EXPECT_EQ(Flag(empty, L"EOF"), 1);
    EXPECT_EQ(Number(empty, L"RecordCount"), 0);
    EXPECT_EQ(Get(empty, L"MoveFirst").dao(), 3021);

    IDispatch* same = Open(db, L"SELECT * FROM FieldsTable WHERE S00 = \"c\"");
    EXPECT_EQ(Read(same, L"s00"), L"C") << "= ignores case";
    EXPECT_EQ(Get(db, L"OpenRecordset", {L"SELECT * FROM FieldsTable WHERE s99='1'", kDynaset}).dao(), 3061);
    EXPECT_EQ(Get(db, L"OpenRecordset", {L"SELECT * FROM Nowhere", kDynaset}).dao(), 3078);
    EXPECT_EQ(Number(Open(db, L"FieldsTable", 0), L"RecordCount"), 4) << "a table-type count is exact";
}

TEST_F(DaoTest, AddNewEditAndDeleteBehaveAsInDao) {
    IDispatch* db = NewDatabase(L"edits.mdb");
    IDispatch* rs = Open(db, L"SELECT * FROM FieldsTable ORDER BY s00");
    ASSERT_EQ(AddRow(rs, L"m"), 0);
    EXPECT_EQ(Flag(rs, L"BOF"), 0) << "adding to an empty recordset leaves BOF";
    EXPECT_EQ(Flag(rs, L"EOF"), 1) << "but stays at EOF";
    ASSERT_EQ(AddRow(rs, L"z"), 0);
    ASSERT_TRUE(Get(rs, L"MoveFirst").ok());
    EXPECT_EQ(AddRow(rs, L"a"), 0);
    EXPECT_EQ(Read(rs, L"s00"), L"m") << "Update returns to the row current before AddNew";
    Get(rs, L"MoveLast");
    EXPECT_EQ(Read(rs, L"s00"), L"a") << "the new row is last whatever the ORDER BY";
    EXPECT_EQ(AddRow(rs, L"A"), 3022);
    EXPECT_EQ(Write(rs, L"s00", L"B"), 0) << "a failed Update keeps the edit";
    EXPECT_TRUE(Get(rs, L"CancelUpdate").ok());

    EXPECT_EQ(Write(rs, L"s01", L"y"), 3020);
    EXPECT_EQ(Get(rs, L"Update").dao(), 3020);
    ASSERT_TRUE(Get(rs, L"Edit").ok());
    EXPECT_EQ(Write(rs, L"s01", std::wstring(256, L'x')), 3163);
    EXPECT_EQ(Write(rs, L"s01", std::wstring(255, L'x')), 0);
    EXPECT_EQ(Write(rs, L"s02", L""), 3315) << "DDL text fields refuse zero-length strings";
    EXPECT_EQ(Write(rs, L"s02", Var::Null()), 0);
    EXPECT_TRUE(Get(rs, L"Update").ok());
    EXPECT_EQ(Read(rs, L"s01"), std::wstring(255, L'x'));
    EXPECT_EQ(Read(rs, L"s02"), L"Null");

    EXPECT_TRUE(Get(rs, L"Delete").ok());
    EXPECT_EQ(Read(rs, L"s00"), L"error 3021") << "the deleted row stays current, dead";
    EXPECT_EQ(Flag(rs, L"EOF"), 0);
    EXPECT_EQ(Get(rs, L"Delete").dao(), 3021);
    EXPECT_EQ(Number(rs, L"RecordCount"), 2);
    EXPECT_TRUE(Get(rs, L"MoveNext").ok());
    EXPECT_EQ(Flag(rs, L"EOF"), 1);
    EXPECT_TRUE(Get(rs, L"Close").ok());
    EXPECT_EQ(Get(rs, L"Close").dao(), 3420);
    EXPECT_EQ(Number(Open(db, L"SELECT * FROM FieldsTable"), L"RecordCount"), 1);
}

TEST_F(DaoTest, GetRowsHandsOutFieldByRowChunks) {
    IDispatch* db = NewDatabase(L"rows.mdb");
    IDispatch* rs = Open(db, L"FieldsTable");
    ASSERT_TRUE(Get(engine_, L"BeginTrans").ok());
    for (int i = 0; i < 2500; ++i) ASSERT_EQ(AddRow(rs, std::to_wstring(100000 + i), L"v" + std::to_wstring(i)), 0);
    ASSERT_TRUE(Get(engine_, L"CommitTrans").ok());

    IDispatch* list = Open(db, L"SELECT * FROM FieldsTable");
    std::vector<long> sizes;
    while (Flag(list, L"EOF") == 0) {
        Result chunk = Get(list, L"GetRows", {1000});
        ASSERT_TRUE(chunk.ok());
        ASSERT_EQ(chunk.value.type(), VT_ARRAY | VT_VARIANT);
        SAFEARRAY* array = V_ARRAY(chunk.value.get());
        ASSERT_EQ(SafeArrayGetDim(array), 2u);
        LONG fields = 0, rows = 0;
        SafeArrayGetUBound(array, 1, &fields);
        SafeArrayGetUBound(array, 2, &rows);
        EXPECT_EQ(fields, 40) << "the first index is the field";
        if (sizes.empty()) {
            LONG at[2] = {1, 2};  // field s01 of the third row
            Var cell;
            SafeArrayGetElement(array, at, cell.get());
            EXPECT_EQ(cell.text(), L"v2");
            at[0] = 5;
            Var empty;
            SafeArrayGetElement(array, at, empty.get());
            EXPECT_EQ(empty.type(), VT_NULL);
        }
        sizes.push_back(rows + 1);
    }
    EXPECT_EQ(sizes, (std::vector<long>{1000, 1000, 500}));
    EXPECT_EQ(Get(list, L"GetRows", {10}).dao(), 3021);
    EXPECT_EQ(Number(list, L"RecordCount"), 2500);
}

TEST_F(DaoTest, QueryDefsExecuteAndTransactions) {
    IDispatch* db = NewDatabase(L"queries.mdb");
    IDispatch* rs = Open(db, L"FieldsTable");
    for (const wchar_t* key : {L"1", L"2", L"3"}) AddRow(rs, key, key);
    IDispatch* q = held_(Get(db, L"CreateQueryDef", {L"", L"PARAMETERS p TEXT(255); SELECT * FROM FieldsTable WHERE [s01]=[p]"}));
    ASSERT_TRUE(q);
    IDispatch* parameters = held_(Get(q, L"Parameters"));
    EXPECT_EQ(Number(parameters, L"Count"), 1);
    EXPECT_EQ(Get(q, L"OpenRecordset", {kDynaset}).dao(), 3061) << "an unset parameter is missing";
    EXPECT_TRUE(Put(held_(Get(parameters, L"Item", {L"P"})), L"Value", L"2").ok());
    EXPECT_EQ(Read(held_(Get(q, L"OpenRecordset", {kDynaset})), L"s00"), L"2");
    // Default members: qdf("p") is qdf.Parameters("p"), a Parameter's value its DISPID 0.
    const Var three(L"3");
    IDispatch* p = held_(InvokeId(q, DISPID_VALUE, DISPATCH_PROPERTYGET, {L"p"}));
    EXPECT_TRUE(InvokeId(p, DISPID_VALUE, DISPATCH_PROPERTYPUT, {}, &three).ok());
    EXPECT_EQ(Read(held_(Get(q, L"OpenRecordset", {kDynaset})), L"s00"), L"3");
    EXPECT_EQ(Get(held_(InvokeId(parameters, DISPID_VALUE, DISPATCH_PROPERTYGET, {0})), L"Value").value.text(), L"3");
    EXPECT_EQ(Get(parameters, L"Item", {L"q"}).dao(), 3265);

    IDispatch* remove = held_(Get(db, L"CreateQueryDef", {L"", L"PARAMETERS p TEXT(255); DELETE FROM FieldsTable WHERE s00=[p]"}));
    EXPECT_TRUE(Put(held_(Get(remove, L"Parameters", {L"p"})), L"Value", L"3").ok());
    EXPECT_TRUE(Get(remove, L"Execute", {128}).ok());
    EXPECT_EQ(Number(remove, L"RecordsAffected"), 1);
    EXPECT_EQ(Get(db, L"Execute", {L"SELECT * FROM FieldsTable", 128}).dao(), 3065);
    EXPECT_EQ(Get(db, L"Execute", {L"SELECT * FROM FieldsTable WHERE s00='a|b'", 128}).dao(), 3075);

    // Changes inside a transaction vanish with Rollback and stay with CommitTrans.
    ASSERT_TRUE(Get(engine_, L"BeginTrans").ok());
    EXPECT_TRUE(Get(db, L"Execute", {L"DELETE * FROM FieldsTable", 128}).ok());
    EXPECT_EQ(Number(db, L"RecordsAffected"), 2);
    EXPECT_EQ(Flag(Open(db, L"SELECT * FROM FieldsTable"), L"EOF"), 1);
    ASSERT_TRUE(Get(engine_, L"Rollback").ok());
    EXPECT_EQ(Get(engine_, L"Rollback").dao(), 3034);
    EXPECT_EQ(Number(Open(db, L"FieldsTable", 0), L"RecordCount"), 2);

    // A workspace of its own has a transaction of its own.
    const std::wstring path = Get(db, L"Name").value.text();
    IDispatch* workspace = held_(Get(engine_, L"CreateWorkspace", {L"own", L"admin", L""}));
    IDispatch* mine = held_(Get(workspace, L"OpenDatabase", {path}));
    ASSERT_TRUE(mine);
    ASSERT_TRUE(Get(workspace, L"BeginTrans").ok());
    EXPECT_EQ(Get(engine_, L"Rollback").dao(), 3034) << "the default workspace is not in it";
    EXPECT_EQ(AddRow(Open(mine, L"FieldsTable"), L"4"), 0);
    ASSERT_TRUE(Get(workspace, L"CommitTrans").ok());
    ASSERT_TRUE(Get(workspace, L"Close").ok());
    EXPECT_EQ(Get(mine, L"Close").dao(), 3420) << "closing the workspace closed its database";
    ASSERT_TRUE(Get(db, L"Close").ok());
    EXPECT_EQ(Get(db, L"Close").dao(), 3420);
    IDispatch* again = held_(Get(engine_, L"OpenDatabase", {path}));
    EXPECT_EQ(Number(Open(again, L"FieldsTable", 0), L"RecordCount"), 3);
}

// A lookup run again with its QueryDef's new values does not open another
// recordset; Jet refuses the 251st table or dynaset a transaction opens, even
// after the others were closed, and counts afresh in the next one.
TEST_F(DaoTest, RequeryRunsAQueryAgainAndATransactionOpensAtMost250Tables) {
    IDispatch* db = NewDatabase(L"requery.mdb");
    IDispatch* table = Open(db, L"FieldsTable");
    for (const wchar_t* key : {L"1", L"2", L"3"}) AddRow(table, key, key);
    IDispatch* q = held_(Get(db, L"CreateQueryDef", {L"", L"PARAMETERS p TEXT(255); SELECT * FROM FieldsTable WHERE s00=[p]"}));
    IDispatch* p = held_(Get(q, L"Parameters", {L"p"}));
    ASSERT_TRUE(Put(p, L"Value", L"2").ok());
    IDispatch* rs = held_(Get(q, L"OpenRecordset", {kDynaset}));
    EXPECT_EQ(Read(rs, L"s00"), L"2");
    ASSERT_TRUE(Put(p, L"Value", L"3").ok());
    EXPECT_TRUE(Get(rs, L"Requery").ok());
    EXPECT_EQ(Read(rs, L"s00"), L"2") << "without its QueryDef, Requery keeps the values it was opened with";
    EXPECT_TRUE(Get(rs, L"Requery", {Var::Object(q)}).ok());
    EXPECT_EQ(Read(rs, L"s00"), L"3");
    IDispatch* other = held_(Get(db, L"CreateQueryDef", {L"", L"SELECT * FROM FieldsTable"}));
    EXPECT_EQ(Get(rs, L"Requery", {Var::Object(other)}).dao(), 3001);
    EXPECT_EQ(Get(Open(db, L"FieldsTable", 1), L"Requery").dao(), 3251) << "a table-type recordset";

    ASSERT_TRUE(Get(engine_, L"BeginTrans").ok());
    for (int i = 0; i < 250; ++i) {
        IDispatch* opened = Open(db, L"SELECT * FROM FieldsTable");
        ASSERT_TRUE(opened) << "expected 250 opens, got " << i;
        ASSERT_TRUE(Get(opened, L"Close").ok());
    }
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(Get(rs, L"Requery", {Var::Object(q)}).ok());
    EXPECT_EQ(Get(db, L"OpenRecordset", {L"FieldsTable"}).dao(), 3014);
    ASSERT_TRUE(Get(engine_, L"CommitTrans").ok());
    ASSERT_TRUE(Get(engine_, L"BeginTrans").ok());
    EXPECT_TRUE(Open(db, L"FieldsTable")) << "a new transaction counts afresh";
    ASSERT_TRUE(Get(engine_, L"Rollback").ok());
}

TEST_F(DaoTest, FilesAreCheckedAndReadOnlyIsRespected) {
    const std::wstring path = Get(NewDatabase(L"files.mdb"), L"Name").value.text();
    const std::string bytes = ReadFileText(path);
    ASSERT_GE(bytes.size(), 4096u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\0\1\0\0", 4));
    EXPECT_EQ(bytes.substr(4, 16), std::string("Standard Jet DB\0", 16));
    EXPECT_EQ(bytes[0x14], 1);
    EXPECT_EQ(Get(engine_, L"CreateDatabase", {path, L";LANGID=0x0409"}).dao(), 3204);

    EXPECT_EQ(Get(engine_, L"OpenDatabase", {dir_ + L"missing.mdb"}).dao(), 3024);
    const std::wstring text = NewPath(L"text.mdb");
    WriteFileText(text, std::string(5000, 'x'));
    EXPECT_EQ(Get(engine_, L"OpenDatabase", {text}).dao(), 3343);

    IDispatch* readOnly = held_(Get(engine_, L"OpenDatabase", {path, Var::Missing(), Var::Bool(true)}));
    ASSERT_TRUE(readOnly);
    EXPECT_EQ(Flag(readOnly, L"Updatable"), 0);
    EXPECT_EQ(Get(Open(readOnly, L"FieldsTable"), L"AddNew").dao(), 3027);
    EXPECT_EQ(Get(readOnly, L"Execute", {L"DELETE FROM FieldsTable", 128}).dao(), 3027);
    Get(readOnly, L"Close");

    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    IDispatch* attribute = held_(Get(engine_, L"OpenDatabase", {path}));
    ASSERT_TRUE(attribute) << "a read-only file opens read-only";
    EXPECT_EQ(Flag(attribute, L"Updatable"), 0);
    EXPECT_EQ(AddRow(Open(attribute, L"FieldsTable"), L"1"), 3027);
    Get(attribute, L"Close");
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// ---------------------------------------------------------------- two processes
// The same program, started again, plays the other process.
bool RunChild(const std::wstring& mode, const std::wstring& file, HANDLE* process) {
    std::wstring command = L"\"" + tq::win::ModulePath() + L"\" --gtest_filter=Child.Run";
    SetEnvironmentVariableW(L"DAOSIM_TEST_CHILD", mode.c_str());
    SetEnvironmentVariableW(L"DAOSIM_TEST_FILE", file.c_str());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL ok = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableW(L"DAOSIM_TEST_CHILD", nullptr);
    if (!ok) return false;
    CloseHandle(pi.hThread);
    *process = pi.hProcess;
    return true;
}

DWORD WaitChild(HANDLE process) {
    WaitForSingleObject(process, 60000);
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

TEST(Child, Run) {
    const std::wstring mode = EnvOr(L"DAOSIM_TEST_CHILD", L"");
    if (mode.empty()) GTEST_SKIP() << "only as the other process";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr;
    IDispatch* engine = NewEngine(&hr);
    ASSERT_TRUE(engine);
    {
        Held held;
        IDispatch* db = held(Get(engine, L"OpenDatabase", {EnvOr(L"DAOSIM_TEST_FILE", L"")}));
        ASSERT_TRUE(db);
        IDispatch* rs = held(Get(db, L"OpenRecordset", {L"FieldsTable", kDynaset}));
        ASSERT_TRUE(Get(engine, L"BeginTrans").ok());
        Get(rs, L"AddNew");
        Put(held(Get(held(Get(rs, L"Fields")), L"Item", {L"s00"})), L"Value", L"from the child, " + mode);
        ASSERT_TRUE(Get(rs, L"Update").ok());
        if (mode == L"hold") {
            // Tell the parent the transaction holds the file, then keep it a while.
            HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"daosim-test-child-ready");
            SetEvent(ready);
            CloseHandle(ready);
            Sleep(4000);
            ASSERT_TRUE(Get(engine, L"Rollback").ok());
        } else {
            ASSERT_TRUE(Get(engine, L"CommitTrans").ok());
        }
    }
    engine->Release();
    CoUninitialize();
}

TEST_F(DaoTest, AnotherProcessSeesCommitsAndItsTransactionLocksWriters) {
    IDispatch* db = NewDatabase(L"shared.mdb");
    const std::wstring path = Get(db, L"Name").value.text();
    IDispatch* before = Open(db, L"SELECT * FROM FieldsTable");
    HANDLE child;
    ASSERT_TRUE(RunChild(L"commit", path, &child));
    ASSERT_EQ(WaitChild(child), 0u);
    EXPECT_EQ(Flag(before, L"EOF"), 1) << "an open recordset keeps its rows";
    EXPECT_EQ(Read(Open(db, L"SELECT * FROM FieldsTable"), L"s00"), L"from the child, commit")
        << "the next OpenRecordset reads what the other process committed";

    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"daosim-test-child-ready");
    ASSERT_TRUE(RunChild(L"hold", path, &child));
    ASSERT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0);
    CloseHandle(ready);
    EXPECT_EQ(AddRow(Open(db, L"FieldsTable"), L"parent"), 3260) << "the other's open transaction locks the file";
    ASSERT_EQ(WaitChild(child), 0u);
    EXPECT_EQ(AddRow(Open(db, L"FieldsTable"), L"parent"), 0);
    EXPECT_EQ(Number(Open(db, L"FieldsTable", 0), L"RecordCount"), 2) << "the child's rollback left nothing";
}

// ---------------------------------------------------------------- faults and log
TEST_F(DaoTest, ScenarioInjectsFaults) {
    IDispatch* db = NewDatabase(L"faults.mdb");
    const std::wstring path = Get(db, L"Name").value.text();
    IDispatch* rs = Open(db, L"FieldsTable");
    for (int i = 0; i < 5; ++i) AddRow(rs, std::to_wstring(i));

    SetScenario("open-fails 3045 faults.mdb\n");
    EXPECT_EQ(Get(engine_, L"OpenDatabase", {path}).dao(), 3045);
    SetScenario("open-fails 3051\n");
    EXPECT_EQ(Get(engine_, L"OpenDatabase", {path}).dao(), 3051);
    SetScenario("open-fails 3343 other.mdb\n");
    EXPECT_TRUE(held_(Get(engine_, L"OpenDatabase", {path}))) << "only names holding the part fail";

    SetScenario("update-locked\n");
    ASSERT_TRUE(Get(rs, L"MoveFirst").ok());
    ASSERT_TRUE(Get(rs, L"Edit").ok());
    EXPECT_EQ(Get(rs, L"Update").dao(), 3260);
    SetScenario("");
    EXPECT_TRUE(Get(rs, L"Update").ok()) << "the edit survives the failed Update";

    SetScenario("vanish-after 3\n");
    IDispatch* list = Open(db, L"SELECT * FROM FieldsTable");
    EXPECT_TRUE(Get(list, L"GetRows", {2}).ok());
    EXPECT_EQ(Get(list, L"GetRows", {2}).dao(), 3043) << "the file went away during the listing";

    SetScenario("delay MoveLast 300\n");
    const DWORD start = GetTickCount();
    Get(list, L"MoveLast");
    EXPECT_GE(GetTickCount() - start, 280u);

    SetScenario("not-licensed\n");
    HRESULT hr;
    EXPECT_EQ(NewEngine(&hr), nullptr);
    EXPECT_EQ(hr, CLASS_E_NOTLICENSED);
    CLSID clsid;
    CLSIDFromProgID(L"DAO.DBEngine.36", &clsid);
    IClassFactory2* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory2,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    IDispatch* licensed = nullptr;
    BSTR wrong = SysAllocString(L"wrong key");
    EXPECT_EQ(factory->CreateInstanceLic(nullptr, nullptr, IID_IDispatch, wrong, reinterpret_cast<void**>(&licensed)),
              CLASS_E_NOTLICENSED);
    BSTR key = SysAllocString(L"mbmabptebkjcdlgtjmskjwtsdhjbmkmwtrak");
    EXPECT_EQ(factory->CreateInstanceLic(nullptr, nullptr, IID_IDispatch, key, reinterpret_cast<void**>(&licensed)),
              S_OK);
    SysFreeString(wrong);
    SysFreeString(key);
    factory->Release();
    ASSERT_TRUE(licensed);
    EXPECT_EQ(Get(licensed, L"Version").value.text(), L"3.6");
    licensed->Release();

    const std::string log = ReadFileText(kLog);
    EXPECT_NE(log.find("OpenDatabase(\""), std::string::npos) << "every call is logged";
    EXPECT_NE(log.find(" MoveLast() -> ok"), std::string::npos);
    EXPECT_NE(log.find("Update() -> error 3260"), std::string::npos);
}

// Run by the registration test with DAOSIM_EXPECT_UNREGISTERED set.
TEST(Registration, NoEngineWhenUnregistered) {
    if (EnvOr(L"DAOSIM_EXPECT_UNREGISTERED", L"").empty()) GTEST_SKIP() << "only after regsvr32 /u";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID clsid;
    EXPECT_TRUE(FAILED(CLSIDFromProgID(L"DAO.DBEngine.36", &clsid)));
    const CLSID dao36 = {0x00000100, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
    IDispatch* engine = nullptr;
    EXPECT_EQ(CoCreateInstance(dao36, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&engine)),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();
}

}  // namespace
}  // namespace daosim_test
