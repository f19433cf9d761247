#include "test_records.h"

#include <array>
#include <cstdio>

#include "data_access.h"
#include "recordset.h"

namespace tq::viewer {

namespace {

const int64_t kProgressEvery = 100;

}  // namespace

ChangeOutcome GenerateTestRecords(int db, int64_t count, const GenerationProgress& progress, std::string* backupPath,
                                  int64_t* failedRecord, std::string* why) {
    *failedRecord = 0;
    const auto generate = [&](std::string* failure) {
        std::array<bool, kDatabaseCount> chosen{};
        chosen[db] = true;
        if (!DbClear(chosen)) return false;
        FieldBlock block;
        for (int64_t n = 1; n <= count; ++n) {
            // Eight digits: the sales database keeps them; the others strip the zeros.
            char code[16];
            std::snprintf(code, sizeof code, "%08u", static_cast<unsigned>(n));
            SetBlockCode(block, code);
            if (DbSave(db, &block) != 0) {
                *failedRecord = n;
                if (CNVRecordset* rs = DbRecordset(db)) *failure = rs->LastEngineError();
                return false;
            }
            if (progress && (n % kProgressEvery == 0 || n == count)) progress(n);
        }
        return true;
    };
    return DbChangeWithBackup(db, std::string(), generate, backupPath, why);
}

}  // namespace tq::viewer
