// Times the backup that comes before every clear, generation and restore, on
// a goods database of N records filled as a shop's would be (barcode, name,
// prices, group): DbBackup's copy through SQLite's online backup, its
// verification (the copy opened and counted) and the rotation; then the
// restore of that copy, which backs up the current file first.
//
// usage: viewer_backup_bench [N]   (default 100000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/cp1251.h"
#include "../goods_records.h"
#include "core/backup.h"
#include "core/data_access.h"
#include "core/engine.h"
#include "tests/temp_folder.h"

namespace tq::viewer {

namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

}  // namespace tq::viewer

int main(int argc, char** argv) {
    using namespace tq::viewer;
    const test::TempFolder scratch("tq-backup-bench-");  // removed with all in it at the end
    ScaleDatabases databases;  // the benchmark's open databases
    const long count = argc > 1 ? std::atol(argv[1]) : 100000;
    const fs::path folder = scratch.Path();
    const std::string path = (folder / "TQScale.mdb").string();
    if (!CreateSqliteDatabase(path) || DbOpen(DbGoods, path.c_str()) != 0 ||
        !SaveGoodsRecords(count, "Товар весовой охлаждённый №")) {
        std::printf("the goods database of %ld records could not be made\n", count);
        return 1;
    }
    std::printf("goods database: %ld records, %.1f MB (SQLite)\n", count, fs::file_size(path) / 1048576.0);
    std::printf("%-40s %8s\n", "", "seconds");
    std::string backup, why;
    for (int run = 1; run <= 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (!DbBackup(DbGoods, &backup, &why)) {
            std::printf("backup failed: %s\n", tq::Cp1251ToUtf8(why).c_str());
            return 1;
        }
        std::printf("backup %d, made, verified and rotated %12.3f\n", run, Seconds(start));
    }
    std::string saved;
    const auto start = std::chrono::steady_clock::now();
    if (!DbRestore(DbGoods, backup, &saved, &why)) {
        std::printf("restore failed: %s\n", tq::Cp1251ToUtf8(why).c_str());
        return 1;
    }
    std::printf("restore (a backup first, then the copy) %9.3f\n", Seconds(start));
    std::printf("target: a backup in at most 1 s natively, 2 s under Wine\n");
    DbReleaseAll();
    return 0;
}
