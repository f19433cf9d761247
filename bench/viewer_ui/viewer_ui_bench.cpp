// Times the viewer's two long jobs on its real main dialog under Wine: listing
// N goods records ("Выбрать") and generating N test records (what follows the
// generator dialog's count, counter updates and the final listing included). For
// comparison, the same clearing and saves straight through the data core.
// After the listing it times finding a text in no row (every row read) and
// reports what the listed rows take; at the end, the process's peak working
// set.
//
//   viewer_ui_bench.exe [N ...]      default 1000 10000 100000
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "common/win/dialog.h"
#include "common/win/file_tree.h"
#include "core/catalogue.h"
#include "core/data_access.h"
#include "core/engine.h"
#include "resource.h"
#include "viewer_main_window.h"
#include "viewer_settings.h"

namespace tq::viewer {

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A fresh scale folder, made the current directory, whose goods database
// holds n records filled as a shop fills them.
bool PrepareFolder(const std::wstring& folder, int n) {
    ScaleDatabases databases;
    if (!SetCurrentDirectoryW(folder.c_str()) || !CreateDirectoryW(L"Internal", nullptr)) return false;
    for (int db = 0; db < kDatabaseCount; ++db)
        if (!CreateSqliteDatabase(DatabaseFile(db))) return false;
    if (DbOpen(DbGoods, DatabaseFile(DbGoods)) != 0) return false;
    bool saved = true;
    DbBeginBatch(DbGoods);
    for (int i = 1; i <= n && saved; ++i) {
        const std::string code = std::to_string(i);
        FieldBlock block;
        SetBlockCode(block, code);
        SetBlockSlot(block, 1, ("46" + std::string(11 - code.size(), '0') + code).c_str());
        SetBlockSlot(block, 2, (tq::Cp("Товар весовой номер ") + code).c_str());
        SetBlockSlot(block, 3, std::to_string(i % 2).c_str());
        SetBlockSlot(block, 4, (std::to_string(100 + i % 900) + ".50").c_str());
        SetBlockSlot(block, 5, std::to_string(1 + i % 7).c_str());
        SetBlockSlot(block, 11, "30");
        SetBlockSlot(block, 13, "1");
        SetBlockSlot(block, 21, (tq::Cp("РОСС RU.") + code).c_str());
        SetBlockSlot(block, 22, "0.005");
        const int32_t result = DbSave(DbGoods, &block);
        saved = result == 0;
        if (!saved) std::fprintf(stderr, "record %d not saved: %d\n", i, static_cast<int>(result));
    }
    if (!DbEndBatch(DbGoods)) saved = false;
    DbReleaseAll();
    return saved;
}

// The folder and everything in it: the databases, and the backups that the
// generator's clear makes under Internal\Backup.
void RemoveFolder(const std::wstring& folder) {
    SetCurrentDirectoryW(L"..");
    tq::win::RemoveTree(folder);
}

struct Figures {
    double listing = 0;
    double generation = 0;
    double coreOnly = 0;  // the same clearing and saves without the dialog
    double find = 0;      // a text that no listed row holds
    double listedMb = 0;  // the rows kept for the list
    double listingAgain = 0; // "Выбрать" once more
    double coreListing = 0;  // the same rows through the data core alone
    double coreCount = 0;    // of which the query and count
    double sortText = 0;     // a click on the name's header
    double sortNumbers = 0;  // a click on the price's header
    bool ok = false;
};

Figures Measure(int n) {
    Figures f;
    const std::wstring folder = tq::win::NewTempFolder(L"tqviewer-bench-" + std::to_wstring(n) + L"-");
    if (folder.empty()) {
        std::fprintf(stderr, "could not make a folder for %d goods records\n", n);
        return f;
    }
    if (!PrepareFolder(folder, n)) {
        std::fprintf(stderr, "could not prepare %d goods records\n", n);
        RemoveFolder(folder);
        return f;
    }
    {
        ViewerMainWindow window(GetModuleHandleW(nullptr));
        window.Create(GetModuleHandleW(nullptr), IDD_VIEWER_MAIN, nullptr);
        ShowWindow(window.hwnd(), SW_SHOW);
        UpdateWindow(window.hwnd());

        auto start = std::chrono::steady_clock::now();
        window.logic().OnSelectDatabase();  // the chooser starts on the goods
        f.listing = SecondsSince(start);
        const bool listed = window.logic().ListCount() == n;
        if (!listed) std::fprintf(stderr, "listed %d of %d\n", window.logic().ListCount(), n);
        f.listedMb = window.logic().Rows().Bytes() / 1048576.0;
        // "Выбрать" again: the columns are there now, as for every listing
        // after the first, and the window has drawn what the first showed,
        // as it does between two clicks.
        tq::win::PumpPaintMessages();
        start = std::chrono::steady_clock::now();
        window.logic().OnSelectDatabase();
        f.listingAgain = SecondsSince(start);

        // The same listing through the data core alone: the count, then the walk over the rows.
        DbCloseAll();  // the dialog's listing left its query open
        start = std::chrono::steady_clock::now();
        int32_t counted = 0;
        DbCountChecked(DbGoods, &counted);
        const double countOnly = SecondsSince(start);
        long walked = 0;
        DbForEachListedRow(DbGoods, [&](const PackedRow&) { return ++walked < counted; });
        f.coreListing = SecondsSince(start);
        f.coreCount = countOnly;

        std::vector<int> shown;
        for (int i = 0; i < kFieldCount; ++i)
            if (FieldCaptions()[DbGoods][i][0]) shown.push_back(i);
        start = std::chrono::steady_clock::now();
        const int found = window.logic().Rows().Find(tq::Cp("Нет такого товара"), 0, shown);
        f.find = SecondsSince(start);
        if (found >= 0) std::fprintf(stderr, "found a text that no row holds\n");

        // A click on the name's header, then on the price's: text, then numbers.
        start = std::chrono::steady_clock::now();
        window.logic().OnColumnClick(2);
        f.sortText = SecondsSince(start);
        start = std::chrono::steady_clock::now();
        window.logic().OnColumnClick(4);
        f.sortNumbers = SecondsSince(start);

        start = std::chrono::steady_clock::now();
        window.logic().GenerateTestRecords(n);
        f.generation = SecondsSince(start);
        f.ok = listed && window.logic().ListCount() == n;

        start = std::chrono::steady_clock::now();
        std::array<bool, kDatabaseCount> goods{};
        goods[DbGoods] = true;
        DbClear(goods);
        DbBeginBatch(DbGoods);
        for (int i = 1; i <= n; ++i) {
            FieldBlock block;
            char code[16];
            std::snprintf(code, sizeof code, "%08u", static_cast<unsigned>(i));
            SetBlockCode(block, code);
            DbSave(DbGoods, &block);
        }
        DbEndBatch(DbGoods);
        f.coreOnly = SecondsSince(start);
        // Destroyed here, while the window object is whole, so that its
        // destroy handler releases the databases.
        DestroyWindow(window.hwnd());
    }
    RemoveFolder(folder);
    return f;
}

}  // namespace

}  // namespace tq::viewer

int main(int argc, char** argv) {
    using namespace tq::viewer;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {1000, 10000, 100000};

    Measure(100);  // warms up Wine's fonts and controls; not reported
    std::vector<Figures> figures;
    for (int n : sizes) {
        figures.push_back(Measure(n));
        const Figures& f = figures.back();
        std::printf("%7d goods records: listing %7.2f s, again %.2f s (data core alone: %.2f s, its query %.2f s), generation %7.2f s (data core alone: %.2f s), "
                    "find %.1f ms, sort by name %.2f s, by price %.2f s, listed rows %.1f MB%s\n",
                    n, f.listing, f.listingAgain, f.coreListing, f.coreCount, f.generation, f.coreOnly, f.find * 1000, f.sortText, f.sortNumbers, f.listedMb,
                    f.ok ? "" : "  (counts did not match)");
        std::fflush(stdout);
    }
    for (size_t i = 1; i < sizes.size(); ++i) {
        std::printf("%d -> %d records (x%.0f): listing x%.1f, generation x%.1f\n", sizes[i - 1], sizes[i],
                    static_cast<double>(sizes[i]) / sizes[i - 1], figures[i].listing / figures[i - 1].listing,
                    figures[i].generation / figures[i - 1].generation);
    }
    // The window remembers its size and columns for the engineer; the
    // benchmark's window leaves nothing behind.
    RegDeleteKeyW(HKEY_CURRENT_USER, kViewerKey);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        std::printf("peak working set: %.1f MB\n", memory.PeakWorkingSetSize / 1048576.0);
    return 0;
}
