#include "backup.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <memory>

#include "common/cp1251.h"
#include "data_access.h"
#include "engine.h"
#include "file_path.h"
#include "recordset.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tq::viewer {

namespace {

std::function<BackupTime()> g_clock;

BackupTime SystemLocalTime() {
#ifdef _WIN32
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
#else
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
#endif
}

BackupTime Now() { return g_clock ? g_clock() : SystemLocalTime(); }

std::string Stamp(const BackupTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return text;
}

const char kSuffix[] = ".bak";
const size_t kStampLength = 15;  // yyyymmdd-hhmmss

// Whether two file names name one file: without regard to case on Windows,
// exactly elsewhere (where "tqscale.mdb…bak" is another program's file).
bool SameLetters(const std::string& a, const std::string& b) {
#ifdef _WIN32
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
#else
    return a == b;
#endif
}

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "yyyymmdd-hhmmss" or "yyyymmdd-hhmmss_NN"
bool IsStamp(const std::string& text) {
    if (text.size() != kStampLength && text.size() != kStampLength + 3) return false;
    if (!AllDigits(text.substr(0, 8)) || text[8] != '-' || !AllDigits(text.substr(9, 6))) return false;
    return text.size() == kStampLength || (text[kStampLength] == '_' && AllDigits(text.substr(kStampLength + 1)));
}

std::string BackupFolder(const std::string& dbPath) { return JoinPath(FolderOf(dbPath), "Backup"); }

// When a copy was last written: the order the copies were made in, kept so
// by MakeBackup whatever the clock did; 0 for one that cannot be looked at.
int64_t WrittenAt(const std::string& path) {
    FileState state;
    return GetFileState(path, &state) ? state.written : 0;
}

// The backups' names in the order they were made. Their stamps cannot tell
// it: a clock put back (a flat clock battery starts a scale in 2000, the
// autumn's hour comes twice) stamps a new copy before older ones.
std::vector<std::string> BackupNames(const std::string& dbPath) {
    const std::string folder = BackupFolder(dbPath);
    std::vector<std::pair<int64_t, std::string>> made;
    for (const std::string& name : FilesInFolder(folder))
        if (IsBackupName(NameOf(dbPath), name)) made.emplace_back(WrittenAt(JoinPath(folder, name)), name);
    std::sort(made.begin(), made.end());
    std::vector<std::string> names;
    for (const auto& entry : made) names.push_back(entry.second);
    return names;
}

// The next name of the stamp after every one a backup, or one being made,
// holds: a name the rotation freed is never given again, lest the newest copy
// sort before older ones of the same second (and a name the engineer noted
// come to hold another copy).
bool FreeBackupPath(const std::string& folder, const std::string& base, std::string* path) {
    int last = 0;
    for (const std::string& name : FilesInFolder(folder)) {
        if (!SameLetters(name.substr(0, base.size()), base)) continue;
        const std::string rest = name.substr(base.size());
        if (rest.compare(0, 4, kSuffix) == 0) last = std::max(last, 1);
        else if (rest.size() >= 3 + 4 && rest[0] == '_' && AllDigits(rest.substr(1, 2)) && rest.compare(3, 4, kSuffix) == 0)
            last = std::max(last, std::stoi(rest.substr(1, 2)));
    }
    const int n = last + 1;
    if (n > 99) return false;
    char suffix[8] = "";
    if (n > 1) std::snprintf(suffix, sizeof suffix, "_%02d", n);
    *path = JoinPath(folder, base + suffix + kSuffix);
    return true;
}

// The rows of the whole table, "*" rows included; -1 when it cannot be read.
long CountRows(const std::string& path, std::string* why) {
    std::unique_ptr<DbEngine> engine = OpenDbEngine(path, why);
    if (!engine) return -1;
    std::unique_ptr<DbResult> table = engine->OpenDynaset(RowQuery::WholeTable(-1));
    long count = -1;
    if (!table || !table->GetRecordCount(&count)) {
        if (why) *why = engine->LastError();
        return -1;
    }
    return count;
}

bool SameName(const std::string& a, const std::string& b) { return SameLetters(NameOf(a), NameOf(b)); }

// Keeps the newest copies, ten in all, in the order they were made
// (BackupNames), but never one of keep (the copy just made, the copy being
// restored), whatever its place in that order.
void RemoveOldest(const std::string& dbPath, const std::vector<std::string>& keep) {
    const auto isKept = [&](const std::string& name) {
        return std::any_of(keep.begin(), keep.end(), [&](const std::string& k) { return !k.empty() && SameName(k, name); });
    };
    std::vector<std::string> names = BackupNames(dbPath);
    // Past the limit, a copy that holds the same bytes as the next one made is
    // no state of its own, and goes before any distinct one: a change killed
    // after its copy was made leaves such a copy (the database stayed as the
    // copy shows it), and a run of them must not push an older state out.
    const std::string folder = BackupFolder(dbPath);
    for (size_t i = 0; i + 1 < names.size() && names.size() > static_cast<size_t>(kBackupsKept);) {
        const size_t drop = !isKept(names[i]) ? i : !isKept(names[i + 1]) ? i + 1 : names.size();
        if (drop == names.size() || !SameFileContents(JoinPath(folder, names[i]), JoinPath(folder, names[i + 1])) ||
            !RemoveFile(JoinPath(folder, names[drop]))) {
            ++i;
            continue;
        }
        names.erase(names.begin() + static_cast<long>(drop));
    }
    std::vector<std::string> others;
    size_t kept = 0;
    for (const std::string& name : names) {
        if (isKept(name)) ++kept;
        else others.push_back(name);
    }
    const size_t room = kept < static_cast<size_t>(kBackupsKept) ? kBackupsKept - kept : 0;
    for (size_t i = 0; i + room < others.size(); ++i) RemoveFile(JoinPath(BackupFolder(dbPath), others[i]));
}

// What a copy cut short by a crash leaves: "<backup name>.part" and the
// journal SQLite kept beside it. Backups are made under the database's write
// lock, so no copy of this database is being written while this one is.
void RemoveStaleParts(const std::string& dbPath) {
    const std::string folder = BackupFolder(dbPath);
    for (const std::string& name : FilesInFolder(folder)) {
        const size_t part = name.rfind(".part");
        if (part == std::string::npos || !IsBackupName(NameOf(dbPath), name.substr(0, part))) continue;
        const std::string rest = name.substr(part);
        if (rest == ".part" || rest == ".part-journal" || rest == ".part-wal" || rest == ".part-shm")
            RemoveFile(JoinPath(folder, name));
    }
}

bool Refuse(std::string* why, const std::string& utf8, const std::string& detail = std::string()) {
    if (why) *why = tq::Cp(utf8) + detail;
    return false;
}

// Writes the copy under a name of its own and gives it the backup's name
// only once it is whole, so that a broken copy is never taken for a backup.
bool WriteVerifiedCopy(int db, CNVRecordset* rs, const std::string& path, long* rows, std::string* why) {
    const std::string part = path + ".part";
    std::string system;
    if (!CreateNewFile(part, &system))
        return Refuse(why, "файл копии не создаётся в папке «", FolderOf(path) + tq::Cp("»: ") + system);
    const long expected = DbTableRows(db);
    *rows = expected;
    std::string detail;
    bool done = expected >= 0 && rs->BackupTo(part);
    if (!done) {
        Refuse(why, "копия не записана: ", rs->LastEngineError());
    } else {
        const long copied = CountRows(part, &detail);
        done = copied == expected;
        if (copied < 0) Refuse(why, "копия не читается: ", detail);
        else if (!done)
            Refuse(why, "в копии ", std::to_string(copied) + tq::Cp(" записей вместо ") + std::to_string(expected));
    }
    if (done && !RenameNoReplace(part, path)) done = Refuse(why, "копия не переименована в ", path);
    if (!done) RemoveFile(part);
    return done;
}

// A copy is written later than every other copy of its database, so that
// the order they were written in is the order they were made in, even after
// the clock was put back.
void WrittenLast(const std::string& dbPath, const std::string& path, FileState* state) {
    int64_t newest = 0;
    for (const std::string& name : BackupNames(dbPath)) {
        const std::string other = JoinPath(BackupFolder(dbPath), name);
        if (!SameName(other, path)) newest = std::max(newest, WrittenAt(other));
    }
    if (GetFileState(path, state) && state->written <= newest && SetFileWritten(path, newest + kWrittenPerSecond))
        GetFileState(path, state);
}

// A verified copy of the open database under a new name, written last; no
// copy goes. *state is the copy as it was made.
bool MakeBackup(int db, std::string* path, long* rows, FileState* state, std::string* why) {
    CNVRecordset* rs = DbRecordset(db);
    if (!rs) return Refuse(why, "БД не открыта");
    const std::string& dbPath = rs->FilePath();
    const std::string folder = BackupFolder(dbPath);
    std::string system;
    if (!MakeFolder(folder, &system)) return Refuse(why, "папка «", folder + tq::Cp("» не создаётся: ") + system);
    RemoveStaleParts(dbPath);
    if (!FreeBackupPath(folder, NameOf(dbPath) + "." + Stamp(Now()), path))
        return Refuse(why, "слишком много копий за одну секунду");
    if (!WriteVerifiedCopy(db, rs, *path, rows, why)) return false;
    WrittenLast(dbPath, *path, state);
    return true;
}

}  // namespace

void SetBackupClock(std::function<BackupTime()> now) { g_clock = std::move(now); }

std::string BackupFailedText(const std::string& why) {
    return tq::Cp("Не удалось сохранить резервную копию БД: ") + why;
}

bool IsBackupName(const std::string& dbFileName, const std::string& name) {
    const size_t head = dbFileName.size() + 1;
    const size_t tail = sizeof kSuffix - 1;
    if (name.size() < head + tail + kStampLength) return false;
    return SameLetters(name.substr(0, dbFileName.size()), dbFileName) && name[dbFileName.size()] == '.' &&
           SameLetters(name.substr(name.size() - tail), kSuffix) &&
           IsStamp(name.substr(head, name.size() - head - tail));
}

bool DbBackup(int db, std::string* backupPath, std::string* why) {
    std::string path;
    long rows = 0;
    FileState state;
    if (!MakeBackup(db, &path, &rows, &state, why)) return false;
    RemoveOldest(DbRecordset(db)->FilePath(), {path});
    if (backupPath) *backupPath = path;
    return true;
}

namespace {

// After a commit: a copy that holds the same bytes as the copy made before it
// (a clear of an empty database, the same import twice) only pushes a
// distinct older one out of the ten: it goes, and that one stands for it.
// Then the oldest beyond ten go. Returns the copy that holds the state
// before the change.
std::string KeptCopy(const std::string& dbPath, const std::string& path, const std::string& keep) {
    std::string kept = path;
    const std::vector<std::string> names = BackupNames(dbPath);
    for (size_t i = names.size(); i-- > 0;) {
        const std::string other = JoinPath(BackupFolder(dbPath), names[i]);
        if (SameName(other, path)) continue;
        if (SameFileContents(other, path) && RemoveFile(path)) kept = other;
        break;
    }
    RemoveOldest(dbPath, {kept, keep});
    return kept;
}

// A change in one transaction under the write lock, after a backup when
// asked; see DbChangeWithBackup.
ChangeOutcome RunChange(int db, bool backUp, const std::string& keep, const Change& change, std::string* backupPath,
                        std::string* why) {
    std::string ignored;
    if (!why) why = &ignored;
    CNVRecordset* rs = DbRecordset(db);
    if (!rs) {
        Refuse(why, "БД не открыта");
        return ChangeOutcome::NotWritable;
    }
    if (!DbBeginWhole(db)) {
        *why = rs->LastEngineError();
        return ChangeOutcome::NotWritable;
    }
    std::string path;
    long rows = 0;
    FileState made;
    if (backUp && !MakeBackup(db, &path, &rows, &made, why)) {
        DbEndWhole(db, false);
        return ChangeOutcome::NoBackup;
    }
    if (!backUp) rows = DbTableRows(db);
    bool changed = change(why);
    if (!changed && why->empty()) *why = rs->LastEngineError();
    // The change may go ahead only while its copy is there as it was made,
    // to undo it: not removed, moved, replaced, linked over, cut short or
    // written into by another program meanwhile.
    FileState now;
    if (changed && backUp && (!GetFileState(path, &now) || now != made))
        changed = Refuse(why, "резервная копия пропала или изменилась до записи изменений: ", path);
    const bool committed = changed && DbEndWhole(db, true);
    if (changed && !committed) *why = rs->LastEngineError();
    if (!changed) DbEndWhole(db, false);
    if (committed) {
        if (backUp) path = KeptCopy(rs->FilePath(), path, keep);
        if (backupPath) *backupPath = path;
        return ChangeOutcome::Done;
    }
    // Taken back to what the copy holds, as its row count shows: a copy of
    // nothing that changed would only push an older one out.
    if (DbTableRows(db) == rows) {
        if (backUp) RemoveFile(path);
        return ChangeOutcome::Failed;
    }
    if (backupPath) *backupPath = path;
    return ChangeOutcome::Unsure;
}

}  // namespace

ChangeOutcome DbChangeWithBackup(int db, const std::string& keep, const Change& change, std::string* backupPath,
                                 std::string* why) {
    return RunChange(db, true, keep, change, backupPath, why);
}

ChangeOutcome DbChangeWhole(int db, const Change& change, std::string* why) {
    return RunChange(db, false, std::string(), change, nullptr, why);
}

std::vector<BackupInfo> ListBackups(const std::string& dbPath) {
    std::vector<BackupInfo> backups;
    for (const std::string& name : BackupNames(dbPath)) {
        BackupInfo info;
        info.path = JoinPath(BackupFolder(dbPath), name);
        const std::string s = name.substr(NameOf(dbPath).size() + 1);
        info.when = s.substr(6, 2) + "." + s.substr(4, 2) + "." + s.substr(0, 4) + " " + s.substr(9, 2) + ":" +
                    s.substr(11, 2) + ":" + s.substr(13, 2);
        info.rows = CountRows(info.path, nullptr);
        backups.push_back(info);
    }
    return backups;
}

bool DbRestore(int db, const std::string& backupPath, std::string* savedCurrent, std::string* why) {
    CNVRecordset* rs = DbRecordset(db);
    if (!rs) return Refuse(why, "БД не открыта");
    const std::string& dbPath = rs->FilePath();
    if (!IsBackupName(NameOf(dbPath), NameOf(backupPath)))
        return Refuse(why, "«", NameOf(backupPath) + tq::Cp("» не копия БД ") + NameOf(dbPath));
    if (!CanOpenForReading(backupPath)) return Refuse(why, "копия «", backupPath + tq::Cp("» не найдена или не читается"));
    const std::string kind = DatabaseKind(backupPath);
    if (kind.empty() || kind != DatabaseKind(dbPath))
        return Refuse(why, "«", NameOf(backupPath) + tq::Cp("» не БД того же вида, что ") + NameOf(dbPath));
    std::string detail;
    const long rows = CountRows(backupPath, &detail);
    if (rows < 0) return Refuse(why, "копия не читается: ", detail);
    const auto restore = [&](std::string* failure) {
        if (!rs->RestoreFrom(backupPath)) return Refuse(failure, "копия не восстановлена: ", rs->LastEngineError());
        const long restored = DbTableRows(db);
        if (restored == rows) return true;
        return Refuse(failure, "после восстановления ",
                      std::to_string(restored) + tq::Cp(" записей вместо ") + std::to_string(rows));
    };
    std::string reason, saved;
    const ChangeOutcome outcome = DbChangeWithBackup(db, backupPath, restore, &saved, &reason);
    if (savedCurrent) *savedCurrent = saved;
    switch (outcome) {
    case ChangeOutcome::Done: return true;
    case ChangeOutcome::NotWritable: return Refuse(why, "БД не открывается для записи, ничего не изменено: ", reason);
    case ChangeOutcome::NoBackup:
        if (why) *why = BackupFailedText(reason);
        return false;
    case ChangeOutcome::Failed: return Refuse(why, "БД не изменена: ", reason);
    case ChangeOutcome::Unsure:
        return Refuse(why, "БД могла измениться, копия до восстановления: ", saved + "; " + reason);
    }
    return false;
}

}  // namespace tq::viewer
