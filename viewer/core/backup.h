// Backups of the databases: before anything clears or overwrites a database,
// its file is copied to <folder of the file>\Backup\<file name>.<yyyymmdd-hhmmss>.bak,
// in the engine's own format and openable as it is. The newest ten of each
// database are kept. All texts are code page 1251.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace tq::viewer {

constexpr int kBackupsKept = 10;

// The local date and time a backup is named after.
struct BackupTime {
    int year, month, day, hour, minute, second;
};
// Where backups take their time from: the system's local time, unless a
// test gives another; an empty function gives the system's back.
void SetBackupClock(std::function<BackupTime()> now);

// Copies the open database db (a ScaleDatabase index) into its Backup folder,
// made when missing. The copy is complete only once its row count, read back
// through the engine, is the database's; only then does the oldest copy
// beyond ten go, never the new one. Two copies in one second are both kept, the later named
// "<stamp>_02" and so on, which sorts after the first. On failure nothing is
// left behind and *why says why in a few Russian words or the system's text,
// to follow BackupFailedText.
bool DbBackup(int db, std::string* backupPath, std::string* why);

// "Не удалось сохранить резервную копию БД: " followed by why.
std::string BackupFailedText(const std::string& why);

struct BackupInfo {
    std::string path;
    std::string when;  // "08.12.2026 17:40:05", from the name
    long rows = -1;    // read through the engine; -1 when the copy cannot be read
};
// The backups of the database file at dbPath, oldest first.
std::vector<BackupInfo> ListBackups(const std::string& dbPath);
// Whether a file name is one DbBackup gives the database file's backups.
bool IsBackupName(const std::string& dbFileName, const std::string& name);

// A change that clears or overwrites a database, made safe: the database's
// write lock is taken first, the backup made from inside it, then the change
// runs and is committed in the same transaction, so that no other program can
// slip rows in between the copy and the change and have them lost with no
// copy. The copy is kept only when the change is committed; only then do
// older copies go, never the new one nor keep (a copy being restored).
using Change = std::function<bool(std::string* why)>;
enum class ChangeOutcome {
    Done,         // changed; *backupPath is the copy of what was there
    NotWritable,  // the database could not be locked for writing: nothing done, no copy
    NoBackup,     // no copy could be made: nothing changed
    Failed,       // the change failed or its copy went missing or changed: taken back, checked unchanged
    Unsure,       // the commit or the rollback failed: the copy is kept, *backupPath names it
};
// *why (code page 1251): the engine's or the backup's reason, or the change's.
ChangeOutcome DbChangeWithBackup(int db, const std::string& keep, const Change& change, std::string* backupPath,
                                 std::string* why);
// The same without a backup, where the caller wants none (tests, benchmarks):
// one transaction under the write lock, Failed checked by the row count.
ChangeOutcome DbChangeWhole(int db, const Change& change, std::string* why);

// Puts the rows of a backup back into the open database db, after a backup of
// the database as it is now (its path in *savedCurrent), as one change made
// safe (DbChangeWithBackup): the copy restored is never rotated away, and a
// restore that cannot go ahead leaves no new copy. Refused, with nothing
// changed, for a file that is not a backup of this database: another
// database's name, or a file that is not the same kind of database. *why is
// the whole message for the engineer.
bool DbRestore(int db, const std::string& backupPath, std::string* savedCurrent, std::string* why);

}  // namespace tq::viewer
