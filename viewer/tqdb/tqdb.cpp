#include "tqdb.h"

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/cp1251.h"
#include "common/number.h"
#include "core/backup.h"
#include "core/csv_transfer.h"
#include "core/data_access.h"
#include "core/engine.h"
#include "core/file_path.h"
#include "core/file_report.h"
#include "core/recordset.h"
#include "core/test_records.h"

#ifdef _WIN32
#include <direct.h>
#include <windows.h>

#include "common/win/handle.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tq::viewer {

namespace {

// UTF-8, as the sources are; Usage() gives it in code page 1251 like every text here.
const char kUsage[] =
    "Использование: tqdb [-C ПАПКА] КОМАНДА ...\n"
    "  create [--jet]             создать Internal\\ с семью пустыми файлами баз\n"
    "                             (--jet: файлы Access через DAO, в Windows)\n"
    "  sample [--jet]             create, затем в каждую базу несколько примеров записей\n"
    "  inspect [БД]               из чего сделан файл БД (без БД — все семь), только чтение:\n"
    "                             вид, версия, порядок сортировки, поля и индексы\n"
    "                             FieldsTable, другие таблицы файла\n"
    "  list БД [--all]            БД, как её показывает окно просмотра (заголовки, затем\n"
    "                             строки; значения через табуляцию)\n"
    "  count БД                   число записей в списке\n"
    "  find БД КОД                показать запись с этим кодом\n"
    "  save БД s00=ЗНАЧЕНИЕ [sNN=ЗНАЧЕНИЕ ...]   сохранить запись (заменить или добавить);\n"
    "                             печатает код результата\n"
    "  delete БД КОД              удалить запись с этим кодом\n"
    "  clear БД                   удалить все записи (после резервной копии)\n"
    "  generate БД N              очистить, затем записать N пронумерованных тестовых записей\n"
    "                             (после резервной копии)\n"
    "  backups [БД]               резервные копии БД (без БД — всех семи), старые первыми:\n"
    "                             база, файл, дата, число записей\n"
    "  restore БД КОПИЯ           вернуть записи из копии (после копии текущего файла);\n"
    "                             КОПИЯ — файл или имя в папке Backup базы\n"
    "  export БД ФАЙЛ.csv         все строки в порядке списка в CSV (UTF-8, ';')\n"
    "  import БД ФАЙЛ.csv [--replace]   сохранить каждую строку CSV, как сохраняет редактор,\n"
    "                             всё или ничего (--replace: сначала очистить базу)\n"
    "  selftest ПАПКА             проверки ядра баз данных на пробном файле Access в ПАПКЕ,\n"
    "                             созданном через DAO этого ПК (Windows): по строке PASS,\n"
    "                             FAIL или SKIP на проверку\n"
    "БД: goods users labels help sells reports resources или 0..6.\n"
    "-C ПАПКА: работать в ПАПКЕ (той, где лежит Internal\\).\n";

std::string Usage() { return tq::Cp(kUsage); }

const char* const kNames[kDatabaseCount] = {"goods", "users", "labels", "help", "sells", "reports", "resources"};

// The texts of tqdb and of the data core end their lines with '\n'; they
// leave with the system's line end.
std::string OwnLines(const std::string& text) {
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines += kTqdbLineEnd;
        else lines += text[i];
    }
    return lines;
}

struct Io {
    std::string* out;
    std::string* err;
    void Out(const std::string& cp1251) { *out += OwnLines(tq::Cp1251ToUtf8(cp1251)); }
    void Err(const std::string& cp1251) { *err += OwnLines(tq::Cp1251ToUtf8(cp1251)); }
    // A record's values keep the line breaks they hold; only the end is ours.
    void OutRow(const std::string& cp1251) { *out += tq::Cp1251ToUtf8(cp1251) + kTqdbLineEnd; }
};

int ParseDatabase(const std::string& name) {
    for (int db = 0; db < kDatabaseCount; ++db)
        if (name == kNames[db] || name == std::to_string(db)) return db;
    return -1;
}

bool ParseInt(const std::string& text, long long min, long long max, long long* value) {
    const std::optional<long long> parsed = tq::ParseInteger(text, min, max);
    if (!parsed) return false;
    *value = *parsed;
    return true;
}

bool ChangeDirectory(const std::string& folder) {
#ifdef _WIN32
    return SetCurrentDirectoryW(tq::Cp1251ToWide(folder).c_str()) != 0;
#else
    return chdir(tq::Cp1251ToUtf8(folder).c_str()) == 0;
#endif
}

// The folder and those above it that are missing.
bool MakeFolders(const std::string& folder, std::string* why) {
    if (MakeFolder(folder, why)) return true;
    const std::string parent = FolderOf(folder);
    return !parent.empty() && parent != folder && MakeFolders(parent, why) && MakeFolder(folder, why);
}

// -C FOLDER: create and sample make the folder that they fill; every other
// command works on a scale's folder that is there already.
bool EnterFolder(Io& io, const std::string& folder, bool make) {
    if (ChangeDirectory(folder)) return true;
    FileIdentity found;
    const bool exists = GetFileIdentity(folder, &found);
    std::string why;
    if (!exists && make) {
        if (MakeFolders(folder, &why) && ChangeDirectory(folder)) return true;
        io.Err(tq::Cp("Не удалось создать папку ") + folder + (why.empty() ? "" : ": " + why) + "\n");
        return false;
    }
    if (exists) io.Err(tq::Cp("Не удалось перейти в папку ") + folder + "\n");
    else io.Err(tq::Cp("Папка ") + folder + tq::Cp(" не существует") + "\n");
    return false;
}

bool MakeInternalFolder() {
#ifdef _WIN32
    return CreateDirectoryW(L"Internal", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
#else
    return mkdir("Internal", 0777) == 0 || errno == EEXIST;
#endif
}

std::string LocalPath(int db) {
#ifdef _WIN32
    return DatabaseFile(db);
#else
    std::string path = DatabaseFile(db);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
#endif
}

std::string EngineError(int db) {
    CNVRecordset* rs = DbRecordset(db);
    return rs ? rs->LastEngineError() : tq::Cp("БД не открыта");
}

int CannotRead(Io& io, int db) {
    io.Err(std::string(kNames[db]) + ": " + DatabaseFile(db) + tq::Cp(" не читается: ") + EngineError(db) + "\n");
    return 1;
}

int OpenAll(Io& io) {
    int failures = 0;
    for (int db = 0; db < kDatabaseCount; ++db) {
        if (const int code = DbOpen(db, DatabaseFile(db))) {
            io.Err(std::string(kNames[db]) + ": " + DatabaseFile(db) + tq::Cp(" не открыта (код ") +
                   std::to_string(code) + ")\n");
            ++failures;
        }
    }
    return failures;
}

std::string YesNo(bool yes) { return tq::Cp(yes ? "да" : "нет"); }

// The file of each database as its engine describes it, opened for reading
// only: nothing is written, no lock taken that outlives the look. A database
// that cannot be read is said and the next one looked at.
int Inspect(Io& io, int only) {
    int failures = 0;
    bool first = true;
    for (int db = 0; db < kDatabaseCount; ++db) {
        if (only >= 0 && db != only) continue;
        Inspection seen;
        std::string why;
        const std::string name = std::string(kNames[db]) + ": " + DatabaseFile(db);
        if (!InspectDatabase(LocalPath(db), &seen, &why)) {
            io.Err(name + tq::Cp(" не читается: ") + why + "\n");
            ++failures;
            continue;
        }
        std::string text = first ? "" : "\n";
        first = false;
        text += name + "\n";
        for (const auto& [fact, value] : seen.facts) text += fact + ": " + value + "\n";
        if (!seen.hasTable) {
            io.Out(text + tq::Cp("Таблицы FieldsTable в файле нет") + "\n");
            ++failures;
        } else {
            text += tq::Cp("Поля FieldsTable (имя, тип, размер, обязательное):") + "\n";
            for (const InspectedField& field : seen.fields)
                text += field.name + "\t" + field.type + "\t" + (field.size.empty() ? "-" : field.size) + "\t" +
                        YesNo(field.required) + "\n";
            text += tq::Cp("Индексы FieldsTable (имя, первичный, уникальный, обязательный, поля):") + "\n";
            for (const InspectedIndex& index : seen.indexes) {
                std::string fields;
                for (const std::string& field : index.fields) fields += (fields.empty() ? "" : ", ") + field;
                text += index.name + "\t" + YesNo(index.primary) + "\t" + YesNo(index.unique) + "\t" +
                        (index.required < 0 ? std::string("-") : YesNo(index.required != 0)) + "\t" + fields + "\n";
            }
            if (seen.indexes.empty()) text += tq::Cp("(нет)") + "\n";
            io.Out(text);
        }
        std::string others;
        for (const std::string& table : seen.otherTables) others += (others.empty() ? "" : ", ") + table;
        io.Out(tq::Cp("Другие таблицы: ") + (others.empty() ? tq::Cp("нет") : others) + "\n");
    }
    return failures ? 1 : 0;
}

int Create(Io& io, bool jet) {
    if (!MakeInternalFolder()) {
        io.Err(tq::Cp("Не удалось создать папку Internal") + "\n");
        return 1;
    }
    int rc = 0;
    for (int db = 0; db < kDatabaseCount; ++db) {
        if (!(jet ? CreateJetDatabase(LocalPath(db)) : CreateSqliteDatabase(LocalPath(db)))) {
            io.Err(DatabaseFile(db) + tq::Cp(": файл уже есть или не может быть создан") + "\n");
            rc = 1;
        }
    }
    return rc;
}

std::string JoinRow(const CNVRecord& record, int db, bool all) {
    std::string line;
    bool firstColumn = true;
    for (int i = 0; i < kFieldCount; ++i) {
        if (!all && !FieldCaptions()[db][i][0]) continue;
        if (!firstColumn) line += '\t';
        firstColumn = false;
        char text[kValueMax + 1];
        record.GetFieldText(text, i);
        line += text;
    }
    return line;
}

int List(Io& io, int db, bool all) {
    std::string header;
    for (int i = 0; i < kFieldCount; ++i) {
        const char* caption = FieldCaptions()[db][i];
        if (!all && !caption[0]) continue;
        if (!header.empty()) header += '\t';
        header += caption[0] ? std::string(caption) : "s" + std::to_string(i);
    }
    int32_t count = 0;
    if (!DbCountChecked(db, &count)) return CannotRead(io, db);
    io.Out(header + "\n");
    CNVRecord record;
    DbForEachListedRow(db, [&](const PackedRow& row) {
        if (!row.HasCode()) return false;
        row.CopyTo(&record);
        io.OutRow(JoinRow(record, db, all));
        return true;
    });
    return 0;
}

int SaveRecord(Io& io, int db, const std::vector<std::string>& assignments) {
    FieldBlock block;
    SetBlockCode(block, "");
    for (const std::string& a : assignments) {
        long long column = -1;
        const size_t eq = a.find('=');
        if (eq == std::string::npos || a[0] != 's' || !ParseInt(a.substr(1, eq - 1), 0, 40, &column)) {
            io.Err(tq::Cp("не присваивание столбцу sNN=ЗНАЧЕНИЕ: ") + a + "\n");
            return 2;
        }
        const std::string value = a.substr(eq + 1);
        if (column == 0) SetBlockCode(block, value);
        else SetBlockSlot(block, static_cast<int>(column), value.c_str());
    }
    const int code = DbSave(db, &block);
    io.Out(std::to_string(code) + "\n");
    // A record refused by the database itself (the file locked, read-only,
    // the row too large) says why; one the layer's own rules refuse has its code.
    if (code == NotSavedCode(db) && IsSavableCode(db, BlockCode(block)) && DbRecordset(db))
        io.Err(std::string(kNames[db]) + tq::Cp(": запись не сохранена: ") + EngineError(db) + "\n");
    return code == 0 ? 0 : 1;
}


int Backups(Io& io, int only) {
    for (int db = 0; db < kDatabaseCount; ++db) {
        if (only >= 0 && db != only) continue;
        // A file where the Backup folder should be holds no copies, and is no
        // empty list of them either.
        const std::string folder = JoinPath(FolderOf(LocalPath(db)), "Backup");
        if (IsOrdinaryFileOrNothingUtf8(tq::Cp1251ToUtf8(folder)) && CanOpenForReading(folder)) {
            io.Err(std::string(kNames[db]) + tq::Cp(": «") + folder + tq::Cp("» — не папка, копии не найти") + "\n");
            return 1;
        }
        for (const BackupInfo& backup : ListBackups(LocalPath(db))) {
            const std::string rows = backup.rows < 0 ? tq::Cp("не читается") : std::to_string(backup.rows);
            io.Out(std::string(kNames[db]) + "\t" + backup.path + "\t" + backup.when + "\t" + rows + "\n");
        }
    }
    return 0;
}

int Restore(Io& io, int db, const std::string& backup) {
    const std::string path =
        FolderOf(backup).empty() ? JoinPath(JoinPath(FolderOf(LocalPath(db)), "Backup"), backup) : backup;
    std::string saved, why;
    if (!DbRestore(db, path, &saved, &why)) {
        io.Err(std::string(kNames[db]) + tq::Cp(": не восстановлена: ") + why + "\n");
        return 1;
    }
    io.Out("backup: " + saved + "\nrestored: " + path + "\n");
    return 0;
}

// Every command that clears or overwrites a database makes its backup first,
// under the write lock of the change; without one, nothing is changed.
int Clear(Io& io, int db) {
    std::array<bool, kDatabaseCount> chosen{};
    chosen[db] = true;
    std::string backup, why;
    switch (DbChangeWithBackup(db, std::string(), [&](std::string*) { return DbClear(chosen); }, &backup, &why)) {
    case ChangeOutcome::Done:
        io.Out("backup: " + backup + "\n");
        return 0;
    case ChangeOutcome::NoBackup:
        io.Err(BackupFailedText(why) + "\n");
        return 1;
    case ChangeOutcome::Unsure:
        io.Err(std::string(kNames[db]) + tq::Cp(": очистка могла прерваться; резервная копия: ") + backup + "\n");
        return 1;
    case ChangeOutcome::NotWritable:
    case ChangeOutcome::Failed:
        break;
    }
    io.Err(std::string(kNames[db]) +
           tq::Cp(": не очищена, записи остались (файл занят другой программой, только для чтения или не читается)") +
           (why.empty() ? "" : ": " + why) + "\n");
    return 1;
}

// The clear and the records are one change after one backup: cut short or
// refused half-way, the database stays as it was.
int Generate(Io& io, int db, long long count) {
    std::string backup, why;
    int64_t refused = 0;
    switch (GenerateTestRecords(db, count, nullptr, &backup, &refused, &why)) {
    case ChangeOutcome::Done:
        io.Out("backup: " + backup + "\n");
        io.Out(tq::Cp("записей: ") + std::to_string(count > 0 ? count : 0) + "\n");
        return 0;
    case ChangeOutcome::NoBackup:
        io.Err(BackupFailedText(why) + "\n");
        return 1;
    case ChangeOutcome::Unsure:
        io.Err(std::string(kNames[db]) + tq::Cp(": заполнение могло прерваться; резервная копия: ") + backup + "\n");
        return 1;
    case ChangeOutcome::NotWritable:
    case ChangeOutcome::Failed:
        break;
    }
    const std::string what = refused > 0 ? tq::Cp(": запись ") + std::to_string(refused) + tq::Cp(" не сохранена")
                                         : tq::Cp(": не очищена");
    io.Err(std::string(kNames[db]) + what + tq::Cp(", БД не изменена") + (why.empty() ? "" : ": " + why) + "\n");
    return 1;
}

int Sample(Io& io, bool jet);

int Export(Io& io, int db, const std::string& path) {
    std::string message;
    const bool done = ExportCsvFile(db, path, &message);
    if (done) io.Out(message + "\n");
    else io.Err(message + "\n");
    return done ? 0 : 1;
}

int Import(Io& io, int db, const std::string& path, bool replace) {
    ImportOptions options;
    options.replace = replace;
    std::string message, backup;
    const bool done = ImportCsvFile(db, path, options, &message, &backup);
    if (!backup.empty()) io.Out("backup: " + backup + "\n");
    if (done) io.Out(message + "\n");
    else io.Err(message + "\n");
    return done ? 0 : 1;
}

#ifdef _WIN32
// Runs a program of the system folder with its arguments, its output thrown
// away: its exit code; kNoProgram when the system has no such program, -1
// when it cannot run or does not end within half a minute.
const long kNoProgram = -2;
long RunSystemProgram(const wchar_t* program, const std::vector<std::wstring>& args) {
    wchar_t system[MAX_PATH];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return -1;
    const std::wstring path = std::wstring(system) + L"\\" + program;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return kNoProgram;
    std::wstring line = L"\"" + path + L"\"";
    for (const std::wstring& arg : args) line += L" \"" + arg + L"\"";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    tq::win::FileHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inherit, OPEN_EXISTING, 0, nullptr));
    if (!nul) return -1;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return -1;
    tq::win::KernelHandle thread(process.hThread), child(process.hProcess);
    DWORD code = 0;
    if (WaitForSingleObject(child.get(), 30000) != WAIT_OBJECT_0 || !GetExitCodeProcess(child.get(), &code)) {
        TerminateProcess(child.get(), 1);
        return -1;
    }
    return static_cast<long>(code);
}

// Whether a new file can be made in the folder now; the probe is removed.
bool FolderTakesNewFiles(const std::string& folder) {
    const std::wstring probe = tq::Cp1251ToWide(JoinPath(folder, "tqdb-probe.tmp"));
    tq::win::FileHandle file(
        CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file.valid();
}

// A folder whose rights deny Everyone (S-1-1-0) writing, as read-only media
// behave for Jet: no lock file can be made in it. Given back its rights and
// removed with what the check put in it, however the check ends.
class WriteDeniedFolder {
public:
    explicit WriteDeniedFolder(std::string folder) : folder_(std::move(folder)) {}
    ~WriteDeniedFolder() {
        if (denied_) RunSystemProgram(L"icacls.exe", {Wide(folder_), L"/remove:d", L"*S-1-1-0"});
        for (const std::string& name : FilesInFolder(folder_)) RemoveFile(JoinPath(folder_, name));
        RemoveEmptyFolder(folder_);
    }
    WriteDeniedFolder(const WriteDeniedFolder&) = delete;
    WriteDeniedFolder& operator=(const WriteDeniedFolder&) = delete;

    // icacls's exit code, kNoProgram or -1 as RunSystemProgram gives them.
    long Deny() {
        const long code = RunSystemProgram(L"icacls.exe", {Wide(folder_), L"/deny", L"*S-1-1-0:(W)"});
        denied_ = code != kNoProgram && code != -1;  // given back even after a partial failure
        return code;
    }

private:
    std::string folder_;
    bool denied_ = false;
};
#endif

// The layer's behaviours on a scratch Access file made through DAO: how a
// PC's DAO differs from what the data core expects shows here first.
class SelfTest {
public:
    SelfTest(Io& io, const std::string& folder) : io_(io), folder_(folder) {}

    int Run() {
        if (!ClaimWorkFolder()) return 1;
        const int result = RunChecks();
        if (!RemoveEmptyFolder(work_)) io_.Err(tq::Cp("selftest: в папке остались файлы: ") + work_ + "\n");
        return result;
    }

private:
    // The checks work in a folder of their own, never one another run of
    // the selftest (another build on the same machine) is using.
    bool ClaimWorkFolder() {
        std::string why;
        for (int n = 1; n <= 1000; ++n) {
            work_ = JoinPath(folder_, "tqdb-selftest-" + std::to_string(n));
            if (MakeNewFolder(work_, &why)) {
                path_ = JoinPath(work_, "tqdb-selftest.mdb");
                return true;
            }
            FileState taken;
            if (!GetFileState(work_, &taken)) break;  // free, yet it cannot be made
        }
        io_.Err(tq::Cp("selftest: папка не создана: ") + work_ + (why.empty() ? "" : ": " + why) + "\n");
        return false;
    }

    int RunChecks() {
        if (!Check("создание файла", CreateJetDatabase(path_), tq::Cp("файл Access не создан: ") + path_)) return 1;
        Check("открытие", DbOpen(DbGoods, path_.c_str()) == 0 && Count() == 0, tq::Cp("новая БД не пуста"));
        Check("сохранение", Save("1", "first") == 0 && Save("10", "ten") == 0 && Save("2", "two") == 0, Error());
        Check("порядок списка", Codes() == "1,10,2",
              tq::Cp("коды в списке: ") + Codes() + tq::Cp(", ожидались 1,10,2"));
        Check("поиск по коду", Name(10) == "ten" && Name(77).empty() && Code(77).empty(),
              tq::Cp("запись 10 не нашлась или нашлась несуществующая 77"));
        Check("замена записи", Save("10", tq::Cp("десять")) == 0 && Count() == 3 && Name(10) == tq::Cp("десять"),
              tq::Cp("сохранённый код не заменил свою запись"));
        Check("отвергнутые коды", Save("-1", "x") == 2009 && Save("12abc", "x") == 2009 && Count() == 3,
              tq::Cp("сохранён код, по которому запись не найти"));
        const std::string tricky = tq::Cp("O'Brien | \"60x60\" * ? # [Ёж]");
        CNVRecord found;
        Check("кавычки, черта и кириллица",
              Save("3", tricky) == 0 && DbRecordset(DbGoods)->FindByField(&found, 2, tricky.c_str()) &&
                  found.Value(0) == "3" && found.Value(2) == tricky,
              tq::Cp("значение с ', | и кириллицей не вернулось: ") + Error());
        const std::string longValue(254, '\xE6');  // 254 times "ж"
        Check("254 символа", Save("4", longValue) == 0 && Name(4) == longValue,
              tq::Cp("значение из 254 символов изменилось"));
        Check("удаление", DbDeleteByCode(DbGoods, 2) && !DbDeleteByCode(DbGoods, 2) && Codes() == "1,10,3,4",
              tq::Cp("в списке после удаления 2: ") + Codes() + tq::Cp(", ожидались 1,10,3,4"));
        Check("пакетная запись", Batch(1000), Error());
        std::array<bool, kDatabaseCount> goods{};
        goods[DbGoods] = true;
        Check("очистка", DbClear(goods) && Count() == 0, Error());
        Check("слишком длинная для Jet запись", TooLargeIsRefused(),
              tq::Cp("строка из 40 значений по 60 кириллических букв: ") + Error());
        Check("20000 записей: импорт, копия, очистка, восстановление", LargeRoundTrip(20000), Error());
        Check("запись удалена во время списка", ListingSurvivesADelete(3000), Error());
        DbReleaseAll();
        NoLockFileCanBeMade();
        // Every copy of the scratch file is the selftest's own, also those a
        // check that failed half-way could not name.
        for (const BackupInfo& backup : ListBackups(path_)) RemoveFile(backup.path);
        RemoveFile(path_);
        RemoveEmptyFolder(JoinPath(FolderOf(path_), "Backup"));
        const std::string total = std::to_string(passes_ + failures_);
        io_.Out(failures_ ? tq::Cp("selftest: не пройдено проверок: ") + std::to_string(failures_) + tq::Cp(" из ") +
                                total + "\n"
                          : tq::Cp("selftest: все проверки пройдены: ") + total + "\n");
        return failures_ ? 1 : 0;
    }

    // A check the system cannot set up: said, counted neither way.
    // The check's name in UTF-8, as written here.
    void Skip(const char* name, const std::string& why) { io_.Out("SKIP " + tq::Cp(name) + ": " + why + "\n"); }
    bool Check(const char* name, bool ok, const std::string& detail) {
        io_.Out(std::string(ok ? "PASS " : "FAIL ") + tq::Cp(name) + (ok ? "" : ": " + detail) + "\n");
        ++(ok ? passes_ : failures_);
        return ok;
    }
    int Save(const std::string& code, const std::string& name) {
        FieldBlock block;
        SetBlockCode(block, code);
        SetBlockSlot(block, 2, name.c_str());
        return DbSave(DbGoods, &block);
    }
    int32_t Count() {
        int32_t count = -1;
        return DbCountChecked(DbGoods, &count) ? count : -1;
    }
    std::string Codes() {
        std::string codes;
        CNVRecord record;
        for (int32_t i = 0, n = Count(); i < n && DbFetch(DbGoods, &record, i == 0); ++i)
            codes += (i ? "," : "") + record.Value(0);
        return codes;
    }
    std::string Column(uint32_t code, int column) {
        CNVRecord record;
        DbFindByCode(DbGoods, &record, static_cast<int32_t>(code));
        return record.Value(column);
    }
    std::string Name(uint32_t code) { return Column(code, 2); }
    std::string Code(uint32_t code) { return Column(code, 0); }  // empty when there is no such record
    bool Batch(int count) {
        const int32_t before = Count();
        bool saved = DbBeginBatch(DbGoods);
        for (int n = 1; saved && n <= count; ++n) saved = Save(std::to_string(100 + n), "") == 0;
        return DbEndBatch(DbGoods) && saved && Count() == before + count;
    }
    std::string Error() { return EngineError(DbGoods); }

    // Jet refuses a row of more than about 4,000 bytes of text at Update
    // (3047); the engine refuses it first, naming the record.
    bool TooLargeIsRefused() {
        const int32_t before = Count();
        FieldBlock block;
        SetBlockCode(block, "5");
        const std::string cyrillic(60, '\xE6');  // 60 times "ж"
        for (int column = 1; column < kFieldCount; ++column) SetBlockSlot(block, column, cyrillic.c_str());
        return DbSave(DbGoods, &block) == 2009 && Error().find(tq::Cp("слишком велика")) != std::string::npos &&
               Count() == before;
    }

    // One transaction over many rows needs Jet's lock limit raised; every
    // step must be whole.
    bool LargeRoundTrip(int rows) {
        std::string csv = "s00;s02\r\n";
        for (int n = 1; n <= rows; ++n) csv += std::to_string(n) + ";" + std::to_string(n) + "\r\n";
        std::string message, backup, why;
        if (!ImportCsv(DbGoods, csv, ImportOptions(), &message, &backup)) return Note(message);
        std::array<bool, kDatabaseCount> goods{};
        goods[DbGoods] = true;
        const auto clear = [&](std::string*) { return DbClear(goods); };
        if (DbChangeWithBackup(DbGoods, std::string(), clear, &backup, &why) != ChangeOutcome::Done) return Note(why);
        if (Count() != 0) return Note(tq::Cp("после очистки остались записи"));
        std::string saved;
        if (!DbRestore(DbGoods, backup, &saved, &why)) return Note(why);
        return Count() == rows || Note(tq::Cp("после восстановления записей ") + std::to_string(Count()));
    }

    // DAO's GetRows stops short, without an error, at a row another user
    // deleted; the listing must go on past it.
    bool ListingSurvivesADelete(int rows) {
        DbReleaseAll();
        RemoveFile(path_);
        if (!CreateJetDatabase(path_) || DbOpen(DbGoods, path_.c_str()) != 0) return false;
        DbBeginBatch(DbGoods);
        for (int n = 1; n <= rows; ++n) Save(std::to_string(n), "");
        if (!DbEndBatch(DbGoods)) return false;
        DbReleaseAll();
        auto reader = OpenDbEngine(path_);
        auto table = reader ? reader->OpenDynaset(RowQuery::WholeTable(-1)) : nullptr;
        if (!table) return false;
        {
            auto other = OpenDbEngine(path_);
            auto row = other ? other->OpenDynaset(RowQuery::Where(0, "5", -1)) : nullptr;
            if (!row || !row->DeleteCurrent()) return Note(tq::Cp("другое соединение не удалило запись"));
        }
        reader->OpenDynaset(RowQuery::Where(0, "1", -1));  // takes in the other's change
        long listed = 0;
        for (bool more = table->MoveFirst(); more && !table->IsEOF(); more = table->MoveNext()) ++listed;
        return listed == rows - 1 || Note(tq::Cp("в списке ") + std::to_string(listed) + tq::Cp(" записей вместо ") +
                                          std::to_string(rows - 1));
    }

    // Jet opens a file shared only where it can make its lock file beside
    // it; on a CD or a write-protected stick the engine falls back to an
    // exclusive, read-only open. A folder whose rights deny writing stands in
    // for such media. Where the system cannot deny it (icacls missing, or
    // without effect) the check is skipped, not failed.
    void NoLockFileCanBeMade() {
        const char* const name = "открытие там, где нельзя создать файл блокировки";
#ifdef _WIN32
        int32_t rows = -1;
        if (DbOpen(DbGoods, path_.c_str()) == 0) rows = Count();
        DbReleaseAll();
        const std::string folder = JoinPath(FolderOf(path_), "tqdb-selftest-ro");
        const std::string copy = JoinPath(folder, NameOf(path_));
        std::string why;
        if (!MakeFolder(folder, &why)) {
            Check(name, false, tq::Cp("папка не создана: ") + folder + (why.empty() ? "" : ": " + why));
            return;
        }
        WriteDeniedFolder denied(folder);
        if (!CopyFileOver(path_, copy, &why)) {
            Check(name, false, tq::Cp("файл не скопирован: ") + why);
            return;
        }
        const long code = denied.Deny();
        if (code == kNoProgram) return Skip(name, tq::Cp("в системе нет icacls.exe"));
        if (code != 0) return Skip(name, tq::Cp("icacls не запретил запись (код ") + std::to_string(code) + ")");
        if (FolderTakesNewFiles(folder))
            return Skip(name, tq::Cp("запрет записи в папку не действует: файл в ней создаётся"));
        const int opened = DbOpen(DbGoods, copy.c_str());
        const int32_t listed = opened == 0 ? Count() : -1;
        const int saved = opened == 0 ? Save("99999", "x") : -1;
        const bool noLockFile = !CanOpenForReading(copy.substr(0, copy.size() - 4) + ".ldb");
        DbReleaseAll();
        Check(name,
              opened == 0 && rows >= 0 && listed == rows && saved == 2009 && noLockFile,
              opened != 0 ? tq::Cp("не открыта (код ") + std::to_string(opened) + "): " + Error()
              : listed != rows ? tq::Cp("в списке ") + std::to_string(listed) + tq::Cp(" записей, ожидалось ") + std::to_string(rows)
              : saved != 2009 ? tq::Cp("сохранение вернуло ") + std::to_string(saved) + tq::Cp(", ожидалось 2009")
                              : tq::Cp("рядом с файлом появился .ldb"));
#else
        Skip(name, tq::Cp("только в Windows"));
#endif
    }

    // Keeps a reason for the check's line; always false.
    bool Note(const std::string& why) {
        io_.Err(why + "\n");
        return false;
    }

    Io& io_;
    std::string folder_;  // the folder given
    std::string work_;    // the checks' own folder in it
    std::string path_;    // the scratch file in that
    int passes_ = 0;
    int failures_ = 0;
};

// args in code page 1251, as the data core takes them; utf8Args the same as
// given, for the CSV file's path, whose name may hold any character.
int RunCommand(Io& io, const std::vector<std::string>& args, const std::vector<std::string>& utf8Args) {
    const std::string& command = args[0];
    if (command == "create") return Create(io, args.size() > 1 && args[1] == "--jet");
    if (command == "sample") return Sample(io, args.size() > 1 && args[1] == "--jet");
    if (command == "selftest") {
        if (args.size() < 2) {
            io.Err(Usage());
            return 2;
        }
        return SelfTest(io, args[1]).Run();
    }
    if (command == "backups" && args.size() == 1) return Backups(io, -1);
    if (command == "inspect" && args.size() == 1) return Inspect(io, -1);
    if (args.size() < 2 || (command == "restore" && args.size() < 3)) {
        io.Err(Usage());
        return 2;
    }
    const int db = ParseDatabase(args[1]);
    if (db < 0) {
        io.Err(tq::Cp("неизвестная БД: ") + args[1] + "\n");
        return 2;
    }
    // A code is given as the listing shows it, the largest 4294967295.
    long long number = 0;
    const bool takesNumber = command == "generate" || command == "delete" || command == "find";
    if (takesNumber &&
        (args.size() < 3 || !ParseInt(args[2], 0, command == "generate" ? INT32_MAX : UINT32_MAX, &number))) {
        io.Err(Usage());
        return 2;
    }
    const bool takesFile = command == "export" || command == "import";
    const bool replace = command == "import" && args.size() == 4 && args[3] == "--replace";
    if (takesFile && (args.size() < 3 || args.size() > (command == "import" ? 4u : 3u) ||
                      (args.size() == 4 && !replace))) {
        io.Err(Usage());
        return 2;
    }
    // Inspect opens the file itself, for reading only, not through the data core.
    if (command == "inspect") {
        if (args.size() > 2) {
            io.Err(Usage());
            return 2;
        }
        return Inspect(io, db);
    }
    if (OpenAll(io) && DbRecordset(db) == nullptr) return 1;
    if (command == "export") return Export(io, db, utf8Args[2]);
    if (command == "import") return Import(io, db, utf8Args[2], replace);
    if (command == "list") return List(io, db, args.size() > 2 && args[2] == "--all");
    if (command == "count") {
        int32_t count = 0;
        if (!DbCountChecked(db, &count)) return CannotRead(io, db);
        io.Out(std::to_string(count) + "\n");
        return 0;
    }
    if (command == "save") return SaveRecord(io, db, std::vector<std::string>(args.begin() + 2, args.end()));
    if (command == "clear") return Clear(io, db);
    if (command == "backups") return Backups(io, db);
    if (command == "restore") return Restore(io, db, args[2]);
    if (command == "generate") return Generate(io, db, number);
    if (command == "delete") {
        if (DbDeleteByCode(db, static_cast<int32_t>(number))) return 0;
        CNVRecord found;
        const bool there = DbFindByCode(db, &found, static_cast<int32_t>(number)) && !found.Value(0).empty();
        io.Err(there ? std::string(kNames[db]) + tq::Cp(": запись не удалена: ") + EngineError(db) + "\n"
                     : tq::Cp("записи с таким кодом нет, ни одна запись не удалена") + "\n");
        return 1;
    }
    if (command == "find") {
        CNVRecord record;
        if (!DbFindByCode(db, &record, static_cast<int32_t>(number))) return CannotRead(io, db);
        int32_t code = 0;
        if (!record.GetFieldInt(&code, 0) || code == 0) {
            io.Err(tq::Cp("запись не найдена") + "\n");
            return 1;
        }
        io.OutRow(JoinRow(record, db, true));
        return 0;
    }
    io.Err(Usage());
    return 2;
}

// A few records of each kind, as a scale in a shop might hold them.
struct SampleRecord {
    int db;
    std::vector<std::pair<int, const char*>> fields;  // column, UTF-8 value
};

const SampleRecord kSamples[] = {
    {DbGoods, {{0, "1"}, {1, "4600000000017"}, {2, "Колбаса докторская"}, {3, "0"}, {4, "459.90"}, {5, "1"}, {11, "15"}, {13, "1"}}},
    {DbGoods, {{0, "2"}, {1, "4600000000024"}, {2, "Сыр российский"}, {3, "0"}, {4, "612.00"}, {5, "2"}, {11, "30"}, {13, "1"}}},
    {DbGoods, {{0, "3"}, {1, "4600000000031"}, {2, "Яблоки Гренни Смит"}, {3, "0"}, {4, "149.50"}, {5, "3"}, {11, "10"}, {13, "2"}}},
    {DbGoods, {{0, "10"}, {1, "0460000000048"}, {2, "Икра черная."}, {3, "1"}, {4, "12000.00"}, {5, "4"}, {11, "60"}, {13, "2"}}},
    {DbGoods, {{0, "11"}, {1, "4600000000055"}, {2, "Хлеб бородинский"}, {3, "1"}, {4, "65.00"}, {5, "5"}, {11, "3"}, {13, "1"}}},
    {DbUsers, {{0, "1"}, {1, "Администратор"}, {2, "1"}, {3, "1234"}, {29, "1"}}},
    {DbUsers, {{0, "2"}, {1, "Иванова Мария"}, {2, "2"}, {3, "2222"}, {29, "0"}}},
    {DbUsers, {{0, "3"}, {1, "Петров Сергей"}, {2, "2"}, {3, "3333"}, {29, "1"}}},
    {DbLabels, {{0, "1"}, {1, "Весовой товар 60x60"}, {2, "0"}, {21, "C:\\TQ-850\\Shared\\Labels\\60X60.lpr"}}},
    {DbLabels, {{0, "2"}, {1, "Штучный товар 58x40"}, {2, "1"}, {21, "C:\\TQ-850\\Shared\\Labels\\58X40.lpr"}}},
    {DbHelp, {{0, "1"}, {1, "Как взвесить товар"}, {21, "help1.txt"}, {22, "help1.bmp"}}},
    {DbHelp, {{0, "2"}, {1, "Печать этикетки"}, {21, "help2.txt"}, {23, "help2.avi"}}},
    {DbSells, {{0, "00000001"}, {1, "08.12.2026"}, {2, "1"}, {3, "2"}, {4, "1"}, {21, "10:15:02"}, {22, "1"}, {23, "0.512"}, {24, "459.90"}, {25, "235.47"}}},
    {DbSells, {{0, "00000002"}, {1, "08.12.2026"}, {2, "1"}, {3, "2"}, {4, "3"}, {21, "10:17:45"}, {22, "2"}, {23, "1.204"}, {24, "149.50"}, {25, "179.99"}}},
    {DbSells, {{0, "00000003"}, {1, "08.12.2026"}, {2, "1"}, {3, "3"}, {4, "10"}, {21, "11:02:10"}, {22, "2"}, {23, "0.050"}, {24, "12000.00"}, {25, "600.00"}}},
    {DbReports, {{0, "1"}, {1, "01.12.2026"}, {2, "07.12.2026"}, {21, "08.12.2026"}, {22, "09:00:00"}, {23, "1"}}},
    {DbReports, {{0, "2"}, {1, "08.12.2026"}, {2, "08.12.2026"}, {21, "08.12.2026"}, {22, "18:30:00"}, {23, "2"}}},
    {DbResources, {{0, "1"}, {1, "Логотип"}, {21, "logo.bmp"}}},
    {DbResources, {{0, "2"}, {1, "Шрифт"}, {21, "arial.ttf"}}},
};

int Sample(Io& io, bool jet) {
    if (const int rc = Create(io, jet)) return rc;
    if (OpenAll(io)) return 1;
    for (const SampleRecord& sample : kSamples) {
        FieldBlock block;
        SetBlockCode(block, "");
        for (const auto& [column, utf8] : sample.fields) {
            const std::string value = tq::Utf8ToCp1251(utf8);
            if (column == 0) SetBlockCode(block, value);
            else SetBlockSlot(block, column, value.c_str());
        }
        if (const int code = DbSave(sample.db, &block)) {
            io.Err(std::string(kNames[sample.db]) + tq::Cp(": пример записи не сохранён (код ") + std::to_string(code) +
                   "): " + EngineError(sample.db) + "\n");
            return 1;
        }
    }
    return 0;
}

}  // namespace

int RunTqdb(const std::vector<std::string>& utf8ArgsIn, std::string* out, std::string* err) {
    Io io{out, err};
    std::vector<std::string> utf8Args = utf8ArgsIn;
    std::vector<std::string> args;
    for (const std::string& arg : utf8Args) args.push_back(tq::Utf8ToCp1251(arg));
    if (args.size() >= 2 && args[0] == "-C") {
        const bool makes = args.size() >= 3 && (args[2] == "create" || args[2] == "sample");
        if (!EnterFolder(io, args[1], makes)) return 1;
        args.erase(args.begin(), args.begin() + 2);
        utf8Args.erase(utf8Args.begin(), utf8Args.begin() + 2);
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        io.Err(Usage());
        return args.empty() ? 2 : 0;
    }
    ScaleDatabases databases;  // every database a command opens, released when it ends
    try {
        return RunCommand(io, args, utf8Args);
    } catch (const std::bad_alloc&) {
        // The output is kept until the command ends: none of it, rather than
        // a part that looks whole. A transaction that was open is not kept.
        std::string().swap(*out);
        io.Err(tq::Cp("tqdb: команде не хватило памяти программы (вывод или строки таблицы слишком велики)") + "\n");
        return 1;
    }
}

}  // namespace tq::viewer
