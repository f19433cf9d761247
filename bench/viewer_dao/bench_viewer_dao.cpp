// Times the data core on a goods database of N generator records, once on an
// Access file through the DAO engine and once on an SQLite file, the same
// rows through the same operations:
//   saving N records in the generator's batches (DbBeginBatch, DbSave each);
//   listing every row through DbCount and DbFetch;
// with the DAO engine's Invoke calls per listed row.
//
// usage: viewer_dao_bench [N ...]   (default 10000 100000)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/data_access.h"
#include "core/engine.h"
#include "core/recordset.h"

namespace tq::viewer {

namespace {

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

struct Figures {
    double save = 0, list = 0;
    long listed = 0;
    double callsPerRow = 0;
};

bool Measure(bool jet, long count, Figures* figures) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    const std::string path = std::string(folder) + (jet ? "bench-goods.mdb" : "bench-goods.db");
    DeleteFileA(path.c_str());
    if (!(jet ? CreateJetDatabase(path) : CreateSqliteDatabase(path)) || DbOpen(DbGoods, path.c_str()) != 0) return false;

    double start = Now();
    FieldBlock block;
    DbBeginBatch(DbGoods);
    for (long n = 1; n <= count; ++n) {
        std::snprintf(block.slot[0], sizeof block.slot[0], "xx%08ld", n);
        if (DbSave(DbGoods, &block) != 0) return false;
    }
    if (!DbEndBatch(DbGoods)) return false;
    figures->save = Now() - start;
    DbReleaseAll();

    DbOpen(DbGoods, path.c_str());
    start = Now();
    const int32_t rows = DbCount(DbGoods);
    CNVRecord record;
    long listed = 0;
    for (int32_t i = 0; i < rows && DbFetch(DbGoods, &record, i == 0); ++i) ++listed;
    figures->list = Now() - start;
    figures->listed = listed;
    const long calls = DbRecordset(DbGoods)->EngineServerCalls();
    figures->callsPerRow = listed ? double(calls) / double(listed) : 0;
    DbReleaseAll();
    DeleteFileA(path.c_str());
    return true;
}

}  // namespace

}  // namespace tq::viewer

int main(int argc, char** argv) {
    using namespace tq::viewer;
    ScaleDatabases databases;  // the benchmark's open databases
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atol(argv[i]));
    if (sizes.empty()) sizes = {10000, 100000};
    std::printf("goods records saved in the generator's batches, then listed; DAO on this prefix's engine\n");
    std::printf("%9s %11s %11s %11s %11s %11s %13s\n", "records", "DAO save s", "SQL save s", "DAO list s",
                "SQL list s", "DAO/SQL", "calls/row");
    for (long count : sizes) {
        Figures dao, sqlite;
        if (!Measure(true, count, &dao)) {
            std::printf("%9ld  the DAO engine failed: %s\n", count,
                        DbRecordset(DbGoods) ? DbRecordset(DbGoods)->LastEngineError().c_str() : "no DAO engine");
            return 1;
        }
        if (!Measure(false, count, &sqlite)) {
            std::printf("%9ld  the SQLite engine failed\n", count);
            return 1;
        }
        std::printf("%9ld %11.3f %11.3f %11.3f %11.3f %11.2f %13.4f\n", count, dao.save, sqlite.save, dao.list,
                    sqlite.list, sqlite.list > 0 ? dao.list / sqlite.list : 0, dao.callsPerRow);
        if (dao.listed != count || sqlite.listed != count) std::printf("  listed %ld and %ld\n", dao.listed, sqlite.listed);
    }
    return 0;
}
