// Times the data core on a goods database against the sqlite3 shell doing the
// same work on the same kind of file:
//   saving N records one DbSave each, each committed on its own, and again
//     inside a batch as the test generator does, beside the shell inserting N
//     rows in one transaction;
//   listing every row through DbCount and DbFetch, beside the shell's one
//     ordered SELECT.
// Each is run for N and 10 N to show how the time grows.
//
// usage: bench_viewer_core [N (default 10000)] [work folder]
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/data_access.h"
#include "core/engine.h"
#include "tests/temp_folder.h"

namespace tq::viewer {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double RunShell(const std::string& command) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    return Seconds(start);
}

struct Figures {
    double save, saveBatched, shellInsert, list, shellSelect;
    long listed;
};

Figures Measure(const fs::path& dir, long n) {
    Figures f{};
    const std::string ours = (dir / ("goods-" + std::to_string(n) + ".mdb")).string();
    const std::string theirs = (dir / ("shell-" + std::to_string(n) + ".mdb")).string();
    fs::remove(ours);
    fs::remove(theirs);
    CreateSqliteDatabase(ours);
    CreateSqliteDatabase(theirs);

    DbOpen(DbGoods, ours.c_str());
    FieldBlock block;
    auto start = Clock::now();
    for (long i = 1; i <= n; ++i) {
        std::snprintf(block.slot[0], sizeof block.slot[0], "xx%08u", static_cast<unsigned>(i));
        if (DbSave(DbGoods, &block) != 0) {
            std::fprintf(stderr, "save %ld failed\n", i);
            std::exit(1);
        }
    }
    f.save = Seconds(start);

    // The generator's way: the same saves inside a batch, after clearing.
    std::array<bool, kDatabaseCount> goods{};
    goods[DbGoods] = true;
    DbClear(goods);
    start = Clock::now();
    DbBeginBatch(DbGoods);
    for (long i = 1; i <= n; ++i) {
        std::snprintf(block.slot[0], sizeof block.slot[0], "xx%08u", static_cast<unsigned>(i));
        DbSave(DbGoods, &block);
    }
    DbEndBatch(DbGoods);
    f.saveBatched = Seconds(start);

    const std::string sql = (dir / "insert.sql").string();
    {
        std::ofstream out(sql);
        out << "BEGIN;\n";
        std::string empties;
        for (int c = 1; c < kFieldCount; ++c) empties += ",''";
        for (long i = 1; i <= n; ++i) out << "INSERT INTO FieldsTable VALUES('" << i << "'" << empties << ");\n";
        out << "COMMIT;\n";
    }
    f.shellInsert = RunShell("sqlite3 '" + theirs + "' < '" + sql + "'");

    DbReleaseAll();
    DbOpen(DbGoods, ours.c_str());
    start = Clock::now();
    const int32_t count = DbCount(DbGoods);
    CNVRecord record;
    for (int32_t i = 0; i < count; ++i) {
        if (!DbFetch(DbGoods, &record, i == 0)) break;
        int32_t code = 0;
        record.GetFieldInt(&code, 0);
        if (code == 0) break;
        ++f.listed;
    }
    f.list = Seconds(start);
    DbReleaseAll();

    f.shellSelect =
        RunShell("sqlite3 '" + ours + "' \"SELECT * FROM FieldsTable WHERE s00<>'*' ORDER BY s00 ASC\" > /dev/null");
    return f;
}

}  // namespace

}  // namespace tq::viewer

int main(int argc, char** argv) {
    using namespace tq::viewer;
    const test::TempFolder scratch("tq-bench-viewer-");
    ScaleDatabases databases;  // the benchmark's open databases
    const long n = argc > 1 ? std::atol(argv[1]) : 10000;
    const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::path(scratch.Path());
    fs::create_directories(dir);

    std::printf("data core on a goods database (%s)\n", dir.string().c_str());
    std::printf("%9s %12s %12s %12s %12s %12s %12s %8s\n", "records", "DbSave s", "batched s", "shell ins s",
                "list s", "shell sel s", "list/shell", "listed");
    Figures small{}, large{};
    for (long size : {n, 10 * n}) {
        const Figures f = Measure(dir, size);
        std::printf("%9ld %12.3f %12.3f %12.3f %12.3f %12.3f %12.2f %8ld\n", size, f.save, f.saveBatched,
                    f.shellInsert, f.list, f.shellSelect, f.list / f.shellSelect, f.listed);
        (size == n ? small : large) = f;
    }
    std::printf("growth for 10x the records: saving %.1fx, listing %.1fx (target at most 12x)\n",
                large.save / small.save, large.list / small.list);
    fs::remove_all(dir);
    return 0;
}
