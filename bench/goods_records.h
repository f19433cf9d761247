// The benchmarks' goods database: N records as a shop's would be (barcode,
// a Cyrillic name with the given stem, price, group, label), saved in the
// test generator's batches into the open goods database.
#pragma once
#include <cstdio>
#include <string>

#include "common/cp1251.h"
#include "core/data_access.h"

namespace tq::viewer {

// False when a save or the batch's commit fails.
inline bool SaveGoodsRecords(long count, const std::string& nameStem) {
    FieldBlock block;
    const std::string name = tq::Cp(nameStem);
    DbBeginBatch(DbGoods);
    for (long n = 1; n <= count; ++n) {
        std::snprintf(block.slot[0], sizeof block.slot[0], "xx%ld", n);
        std::snprintf(block.slot[1], sizeof block.slot[1], "46%011ld", n);
        std::snprintf(block.slot[2], sizeof block.slot[2], "%s%ld", name.c_str(), n);
        std::snprintf(block.slot[4], sizeof block.slot[4], "%ld.%02ld", 10 + n % 990, n % 100);
        std::snprintf(block.slot[5], sizeof block.slot[5], "%ld", 1 + n % 40);
        std::snprintf(block.slot[11], sizeof block.slot[11], "%ld", 1 + n % 60);
        std::snprintf(block.slot[13], sizeof block.slot[13], "%ld", 1 + n % 3);
        if (DbSave(DbGoods, &block) != 0) {
            DbEndBatch(DbGoods);
            return false;
        }
    }
    return DbEndBatch(DbGoods);
}

}  // namespace tq::viewer
