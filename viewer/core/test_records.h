// Numbered test records, as the viewer's generator and `tqdb generate` make
// them: the database is backed up, cleared, and filled with records coded
// 1..count whose other fields are empty, all in one change made safe
// (DbChangeWithBackup): whole, or the database as it was.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "backup.h"

namespace tq::viewer {

// Told now and then how many records are written.
using GenerationProgress = std::function<void(int64_t written)>;

// *failedRecord is the number of the record the database refused (0 for
// none); *why the engine's reason or the backup's, code page 1251.
ChangeOutcome GenerateTestRecords(int db, int64_t count, const GenerationProgress& progress, std::string* backupPath,
                                  int64_t* failedRecord, std::string* why);

}  // namespace tq::viewer
