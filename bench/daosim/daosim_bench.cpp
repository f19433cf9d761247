// How fast the DAO stand-in saves and lists, driven late-bound as the data
// core drives it: SAVES saves of 41-column records (each a lookup by key,
// AddNew or Edit, 41 field writes and Update) in transactions of 1,000, then
// opening a file of ROWS rows and listing them ordered, with GetRows in
// chunks of 1,000.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/daosim/load_engine.h"
#include "tools/daosim/tests/late_bound.h"

using namespace daosim_test;

namespace {

double Seconds(LARGE_INTEGER from) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

std::wstring Column(int i) { return (i < 10 ? L"s0" : L"s") + std::to_wstring(i); }

IDispatch* NewDatabase(IDispatch* engine, const std::wstring& path) {
    DeleteFileW(path.c_str());
    const Result made = Get(engine, L"CreateDatabase", {path, L";LANGID=0x0409;CP=1252;COUNTRY=0"});
    IDispatch* db = made.object();
    if (!db) return nullptr;
    std::wstring sql = L"CREATE TABLE FieldsTable (s00 TEXT(255) CONSTRAINT PrimaryKey PRIMARY KEY";
    for (int i = 1; i <= 40; ++i) sql += L", " + Column(i) + L" TEXT(255)";
    Get(db, L"Execute", {sql + L")"});
    db->AddRef();
    return db;
}

// One save as the viewer's generator makes it; false on any failure.
bool Save(IDispatch* db, int key) {
    const std::wstring k = std::to_wstring(key);
    Result rs = Get(db, L"OpenRecordset", {L"SELECT * FROM FieldsTable WHERE s00='" + k + L"'", 2L});
    IDispatch* r = rs.object();
    if (!r) return false;
    const bool found = Get(r, L"EOF").value.boolean() == 0;
    if (!Get(r, found ? L"Edit" : L"AddNew").ok()) return false;
    Result f = Get(r, L"Fields");
    for (int i = 0; i <= 40; ++i) {
        Result field = Get(f.object(), L"Item", {i});
        const std::wstring value = i == 0 ? k : L"Тестовое значение " + std::to_wstring(i) + L" " + k;
        if (!Put(field.object(), L"Value", value).ok()) return false;
    }
    const bool ok = Get(r, L"Update").ok();
    Get(r, L"Close");
    return ok;
}

bool SaveMany(IDispatch* engine, IDispatch* db, int count) {
    for (int done = 0; done < count; done += 1000) {
        Get(engine, L"BeginTrans");
        for (int i = done; i < done + 1000 && i < count; ++i)
            if (!Save(db, 1000000 + i)) return false;
        if (!Get(engine, L"CommitTrans").ok()) return false;
    }
    return true;
}

long ListAll(IDispatch* db) {
    Result rs = Get(db, L"OpenRecordset", {L"SELECT * FROM FieldsTable ORDER BY s01", 2L});
    long rows = 0;
    while (rs.object() && Get(rs.object(), L"EOF").value.boolean() == 0) {
        Result chunk = Get(rs.object(), L"GetRows", {1000L});
        if (!chunk.ok()) return -1;
        LONG last = -1;
        SafeArrayGetUBound(V_ARRAY(chunk.value.get()), 2, &last);
        rows += last + 1;
    }
    return rows;
}

}  // namespace

int main(int argc, char** argv) {
    const int saves = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int rows = argc > 2 ? std::atoi(argv[2]) : 100000;
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // each figure as soon as it is known
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IDispatch* engine = daosim::LoadEngine();
    if (!engine) {
        std::printf("daosim.dll not found beside the bench folder\n");
        return 1;
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"daosim-bench.mdb";

    IDispatch* db = NewDatabase(engine, path);
    if (!db) {
        std::printf("cannot create %ls\n", path.c_str());
        return 1;
    }
    LARGE_INTEGER t = Now();
    if (!SaveMany(engine, db, saves)) std::printf("saving failed\n");
    std::printf("%d saves in transactions of 1000: %.2f s\n", saves, Seconds(t));
    Get(db, L"Close");
    db->Release();

    db = NewDatabase(engine, path);
    if (!db) return 1;
    t = Now();
    if (!SaveMany(engine, db, rows)) std::printf("filling failed\n");
    std::printf("%d saves to fill the listing file: %.2f s\n", rows, Seconds(t));
    Get(db, L"Close");
    db->Release();

    t = Now();
    Result reopened = Get(engine, L"OpenDatabase", {path});
    std::printf("opening the file of %d rows: %.2f s\n", rows, Seconds(t));
    t = Now();
    const long listed = ListAll(reopened.object());
    std::printf("listing %ld rows ordered, GetRows by 1000: %.2f s\n", listed, Seconds(t));
    Get(reopened.object(), L"Close");
    engine->Release();
    DeleteFileW(path.c_str());
    CoUninitialize();
    return 0;
}
