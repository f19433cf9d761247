// Times a goods database of N records (default 100,000, each with a Cyrillic
// name, a barcode, a price and a few more columns) going out to a CSV file
// and back into an empty database, beside the sqlite3 shell's .import of the
// same file into a fresh database.
//
// usage: bench_viewer_csv [N (default 100000)] [work folder]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/cp1251.h"
#include "../goods_records.h"
#include "core/csv_transfer.h"
#include "core/data_access.h"
#include "core/engine.h"
#include "tests/temp_folder.h"

namespace tq::viewer {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void Check(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "failed: %s\n", tq::Cp1251ToUtf8(what).c_str());
    std::exit(1);
}

}  // namespace

}  // namespace tq::viewer

int main(int argc, char** argv) {
    using namespace tq::viewer;
    const test::TempFolder scratch("tq-bench-csv-");
    ScaleDatabases databases;  // the benchmark's open databases
    const long n = argc > 1 ? std::atol(argv[1]) : 100000;
    const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::path(scratch.Path());
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string source = (dir / "goods.mdb").string();
    const std::string target = (dir / "copy.mdb").string();
    const std::string shellTarget = (dir / "shell.db").string();
    const std::string file = (dir / "goods.csv").string();
    CreateSqliteDatabase(source);
    CreateSqliteDatabase(target);

    DbOpen(DbGoods, source.c_str());
    Check(SaveGoodsRecords(n, "Колбаса докторская; \"высший сорт\" №"), "saving the records");
    DbReleaseAll();
    DbOpen(DbGoods, source.c_str());
    std::string message;
    auto start = Clock::now();
    Check(ExportCsvFile(DbGoods, file, &message), message);
    const double exportSeconds = Seconds(start);
    DbReleaseAll();

    DbOpen(DbGoods, target.c_str());
    ImportOptions options;
    options.backUp = false;
    start = Clock::now();
    Check(ImportCsvFile(DbGoods, file, options, &message), message);
    const double importSeconds = Seconds(start);
    DbReleaseAll();

    const std::string command = "sqlite3 '" + shellTarget + "' '.mode csv' '.separator ;' '.import " + file + " t'";
    start = Clock::now();
    Check(std::system(command.c_str()) == 0, command);
    const double shellSeconds = Seconds(start);

    std::printf("CSV of a goods database (%s), %.1f MB file\n", dir.string().c_str(),
                static_cast<double>(fs::file_size(file)) / 1e6);
    std::printf("%9s %10s %10s %14s %10s\n", "records", "export s", "import s", "shell .import", "import/shell");
    std::printf("%9ld %10.3f %10.3f %14.3f %10.1f\n", n, exportSeconds, importSeconds, shellSeconds,
                importSeconds / shellSeconds);
    std::printf("targets for 100,000 records: export at most 2 s, import at most 5 s\n");
    fs::remove_all(dir);
    return 0;
}
