#include "csv_transfer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "backup.h"
#include "common/cp1251.h"
#include "csv.h"
#include "data_access.h"
#include "engine.h"
#include "file_path.h"
#include "recordset.h"

namespace tq::viewer {

namespace {

const char kSeparator = ';';
const long kProgressEvery = 1000;
// Beyond these a long list of failed rows says only how many more there are.
const size_t kReportedFailures = 20;

std::string EngineError(int db) {
    CNVRecordset* rs = DbRecordset(db);
    return rs ? rs->LastEngineError() : tq::Cp("БД не открыта");
}

std::string AtLine(long line, const std::string& what) {
    return line > 0 ? tq::Cp("строка ") + std::to_string(line) + ": " + what : what;
}

// A caption as a header may give it: without the "(*)" that marks the
// required fields, blanks around it dropped.
std::string BareCaption(std::string caption) {
    const std::string required = "(*)";
    if (caption.size() >= required.size() && caption.compare(caption.size() - required.size(), required.size(), required) == 0)
        caption.erase(caption.size() - required.size());
    caption.erase(0, caption.find_first_not_of(' '));
    caption.erase(caption.find_last_not_of(' ') + 1);
    return caption;
}

const int kAmbiguous = -2;

// The column a header name stands for: "s07", "S07", or the database's
// caption of the column ("Наименование", "Код" or "Код(*)"); -1 for none,
// kAmbiguous for a caption that two columns share.
int ColumnOf(int db, const std::string& name) {
    if (name.size() == 3 && (name[0] == 's' || name[0] == 'S') && name[1] >= '0' && name[1] <= '9' && name[2] >= '0' &&
        name[2] <= '9') {
        const int column = (name[1] - '0') * 10 + (name[2] - '0');
        return column < kFieldCount ? column : -1;
    }
    const std::string bare = BareCaption(name);
    int found = -1;
    for (int column = 0; column < kFieldCount && !bare.empty(); ++column) {
        if (BareCaption(FieldCaptions()[db][column]) != bare) continue;
        if (found >= 0) return kAmbiguous;
        found = column;
    }
    return found;
}

// Which column each field of the header row fills. A spreadsheet ends the
// header with empty fields when cells beyond the table were ever touched:
// those name no column.
bool ReadHeader(int db, const csv::Row& header, std::vector<int>* columns, std::string* why) {
    std::array<bool, kFieldCount> seen{};
    std::string unknown;
    bool anyKnown = false;
    size_t named = header.fields.size();
    while (named > 0 && header.fields[named - 1].empty()) --named;
    for (size_t f = 0; f < named; ++f) {
        const std::string& name = header.fields[f];
        const int column = ColumnOf(db, name);
        columns->push_back(column);
        if (column == kAmbiguous) {
            *why = AtLine(header.line, tq::Cp("столбец «") + name + tq::Cp("» неоднозначен: так подписаны два поля"));
            return false;
        }
        if (column < 0) {
            unknown += (unknown.empty() ? "" : ", ") + tq::Cp("«") + name + tq::Cp("»");
            continue;
        }
        anyKnown = true;
        if (seen[column]) {
            *why = AtLine(header.line, tq::Cp("столбец ") + ColumnName(column) + tq::Cp(" указан дважды") +
                                           (name == ColumnName(column) ? "" : tq::Cp(" (как «") + name + tq::Cp("»)")));
            return false;
        }
        seen[column] = true;
    }
    if (!anyKnown) {
        *why = AtLine(header.line, tq::Cp("нет строки заголовка с именами столбцов s00..s40 или их подписями"));
        return false;
    }
    if (!unknown.empty()) {
        *why = AtLine(header.line, tq::Cp("неизвестные столбцы: ") + unknown);
        return false;
    }
    if (!seen[0]) {
        *why = AtLine(header.line, tq::Cp("нет столбца s00 (код записи)"));
        return false;
    }
    return true;
}

struct ImportRow {
    long line;
    RowValues values;
    GivenColumns given;  // the columns the file names; the others keep what is stored
};

// Collects what is wrong with the file's rows, a line each.
class Failures {
public:
    void Add(long line, const std::string& what) {
        if (lines_.size() < kReportedFailures) lines_.push_back(AtLine(line, what));
        ++count_;
    }
    bool any() const { return count_ > 0; }
    std::string Text() const {
        std::string text;
        for (const std::string& line : lines_) text += "\n" + line;
        if (count_ > lines_.size())
            text += "\n" + tq::Cp("… и ещё ошибок: ") + std::to_string(count_ - lines_.size());
        return text;
    }

private:
    std::vector<std::string> lines_;
    size_t count_ = 0;
};

std::string NotImported(const std::string& why) {
    const std::string lead = tq::Cp("Файл не импортирован, БД не изменена:");
    return lead + (why.compare(0, 1, "\n") == 0 ? why : " " + why);
}

std::string CodeRefusal(int db, const std::string& code) {
    const char* expected = db == DbSells ? "восемь цифр, от 00000001 до 4294967295" : "число от 1 до 4294967295";
    return tq::Cp("код «") + code + tq::Cp("» не подходит: нужно ") + tq::Cp(expected);
}

std::string SaveRefusal(int db, int code) {
    switch (code) {
    case kUserNameEmpty: return tq::Cp("пустое имя пользователя (s01)");
    case kUserPasswordBad: return tq::Cp("пароль (s03) должен состоять из цифр и не быть 517");
    default: return tq::Cp("запись не сохранена (") + std::to_string(code) + "): " + EngineError(db);
    }
}

// Rows that the save would store under one code, the later replacing the
// earlier without a word. Two "*" rows count too: an Access file keys its
// rows by s00 and cannot hold both. A code the save refuses is left to it.
void FindRepeatedCodes(int db, const std::vector<ImportRow>& rows, Failures* failures) {
    std::map<std::string, long> firstLine;
    for (const ImportRow& row : rows) {
        const std::string& value = row.values[0];
        if (value != "*" && !IsSavableCode(db, value)) continue;
        const std::string code = SavedCode(db, value);
        const auto [first, isFirst] = firstLine.emplace(code, row.line);
        if (!isFirst)
            failures->Add(0, tq::Cp("строки ") + std::to_string(first->second) + tq::Cp(" и ") + std::to_string(row.line) +
                                 tq::Cp(": код «") + code + tq::Cp("» повторяется"));
    }
}

// The file's data rows as the database's values, or what is wrong with them.
bool ReadImportRows(int db, const std::string& bytes, std::vector<ImportRow>* out, std::string* why) {
    csv::Failure failure;
    std::vector<csv::Row> rows;
    char separator;
    if (!csv::ReadRows(bytes, &rows, &separator, &failure)) {
        *why = AtLine(failure.line, failure.what);
        return false;
    }
    if (rows.empty()) {
        *why = tq::Cp("Файл пуст");
        return false;
    }
    std::vector<int> columns;
    if (!ReadHeader(db, rows[0], &columns, why)) return false;
    Failures failures;
    for (size_t r = 1; r < rows.size(); ++r) {
        const csv::Row& row = rows[r];
        if (row.fields.size() == 1 && row.fields[0].empty()) continue;  // a blank line
        // A row may go on with empty fields under the header's empty ones at
        // its end; a value there would belong to no column.
        const size_t used = std::min(row.fields.size(), columns.size());
        if (std::any_of(row.fields.begin() + static_cast<long>(used), row.fields.end(),
                        [](const std::string& value) { return !value.empty(); })) {
            failures.Add(row.line, tq::Cp("полей ") + std::to_string(row.fields.size()) + tq::Cp(", а в заголовке ") +
                                       std::to_string(columns.size()));
            continue;
        }
        ImportRow import{row.line, {}, {}};
        for (int column : columns)
            if (column >= 0) import.given[column] = true;
        for (size_t f = 0; f < used; ++f) {
            const std::string& value = row.fields[f];
            if (value.size() > static_cast<size_t>(kValueMax))
                failures.Add(row.line, tq::Cp("значение ") + ColumnName(columns[f]) + tq::Cp(" длиннее 254 символов (") +
                                           std::to_string(value.size()) + ")");
            import.values[columns[f]] = value;
        }
        out->push_back(std::move(import));
    }
    FindRepeatedCodes(db, *out, &failures);
    if (failures.any()) {
        *why = failures.Text();
        return false;
    }
    return true;
}

FieldBlock BlockOf(const RowValues& values) {
    FieldBlock block;
    SetBlockCode(block, values[0]);
    for (int i = 1; i < kFieldCount; ++i) SetBlockSlot(block, i, values[i].c_str());
    return block;
}

CNVRecord RecordOf(const RowValues& values) {
    CNVRecord record;
    for (int i = 0; i < kFieldCount; ++i) record.SetFieldText(values[i].c_str(), i);
    return record;
}

bool AllGiven(const GivenColumns& given) {
    for (bool g : given)
        if (!g) return false;
    return true;
}

// A "*" row of a file that names fewer columns goes into the database's one
// "*" row, whose other columns stay exactly as stored; with none stored it
// is added. With several stored, which of them the file means is unknown.
bool MergeStarRow(int db, const ImportRow& row, std::string* why) {
    CNVRecordset* rs = DbRecordset(db);
    int found = 0;
    if (rs && rs->MergeIntoOnlyRow("*", RecordOf(row.values), row.given, &found)) return true;
    if (found == 0 && rs && rs->AppendRow(RecordOf(row.values))) return true;
    *why = found > 1 ? tq::Cp("в БД несколько строк «*», а файл называет не все столбцы: неясно, какую из них менять")
                     : tq::Cp("строка «*» не записана: ") + EngineError(db);
    return false;
}

// Inside the whole transaction: the rows through the editor's save, the "*"
// rows as they stand. False when any of them was refused. A refusal of the
// database itself (not of the row's values) ends the writing at once: the
// transaction may be lost with it, and nothing more may be written.
bool WriteRows(int db, const std::vector<ImportRow>& rows, const ImportOptions& options, std::string* why) {
    if (options.replace) {
        std::array<bool, kDatabaseCount> chosen{};
        chosen[db] = true;
        if (!DbClear(chosen)) {
            *why = tq::Cp("не удалось очистить БД: ") + EngineError(db);
            return false;
        }
    }
    Failures failures;
    std::vector<CNVRecord> starRows;
    long done = 0;
    for (const ImportRow& row : rows) {
        if (++done % kProgressEvery == 0 && options.progress) options.progress(done, static_cast<long>(rows.size()));
        if (row.values[0] == "*") {
            std::string why;
            if (options.replace || AllGiven(row.given)) starRows.push_back(RecordOf(row.values));
            else if (!MergeStarRow(db, row, &why)) failures.Add(row.line, why);
            continue;
        }
        if (!IsSavableCode(db, row.values[0])) {
            failures.Add(row.line, CodeRefusal(db, row.values[0]));
            continue;
        }
        FieldBlock block = BlockOf(row.values);
        const int code = AllGiven(row.given) ? DbSave(db, &block) : DbSaveColumns(db, &block, row.given);
        if (code == kUserNameEmpty || code == kUserPasswordBad) {
            failures.Add(row.line, SaveRefusal(db, code));
        } else if (code) {
            failures.Add(row.line, SaveRefusal(db, code) + tq::Cp("; импорт остановлен на этой строке"));
            break;
        }
    }
    if (!failures.any() && !starRows.empty() && !DbReplaceStarRows(db, starRows))
        failures.Add(0, tq::Cp("строки «*» не записаны: ") + EngineError(db));
    if (failures.any()) *why = failures.Text();
    return !failures.any();
}

}  // namespace

bool ExportCsv(int db, std::string* bytes, std::string* message, const TransferProgress& progress, CsvHeader named) {
    bytes->assign(csv::kUtf8Bom);
    // Each value as stored, whole and in UTF-8: an export is also a copy of
    // the data, and neither code page 1251 nor the 254-byte cut may change it.
    std::vector<RowValues> rows;
    if (!DbReadAllRowsAsStored(db, &rows)) {
        *message = tq::Cp("БД не прочитана: ") + EngineError(db);
        return false;
    }
    const long count = static_cast<long>(rows.size());
    std::string header;
    for (int i = 0; i < kFieldCount; ++i) {
        if (i) header += kSeparator;
        const char* caption = FieldCaptions()[db][i];
        const bool byCaption = named == CsvHeader::Captions && caption[0] && ColumnOf(db, caption) == i;
        if (byCaption) csv::AppendField(&header, tq::Cp1251ToUtf8(caption), kSeparator);
        else header += ColumnName(i);
    }
    *bytes += header + "\r\n";
    long n = 0;
    for (const RowValues& row : rows) {
        for (int i = 0; i < kFieldCount; ++i) {
            if (i) *bytes += kSeparator;
            csv::AppendField(bytes, row[i], kSeparator);
        }
        *bytes += "\r\n";
        if (++n % kProgressEvery == 0 && progress) progress(n, count);
    }
    *message = tq::Cp("Экспортировано записей: ") + std::to_string(count);
    return true;
}

namespace {

// An export replaces whatever is at its path, so it never goes over a
// database, wherever it lies, nor into the folder that holds the scale's.
bool MayExportTo(int db, const std::string& path, std::string* why) {
    const std::string shown = tq::Utf8ToCp1251(path);
    // Checked first: reading a FIFO's head would wait for ever.
    if (!IsOrdinaryFileOrNothingUtf8(path)) {
        *why = tq::Cp("Экспорт отменён: ") + shown +
               tq::Cp(" — не обычный файл (папка, устройство или канал). Выберите другой файл.");
        return false;
    }
    const std::string kind = DatabaseKindUtf8(path);
    if (!kind.empty()) {
        *why = tq::Cp("Экспорт отменён: файл ") + shown + tq::Cp(" — база данных (") + kind +
               tq::Cp("), её нельзя заменить файлом CSV. Выберите другой файл.");
        return false;
    }
    const std::string folder = FolderOf(DatabaseFile(db));
    if (IsInFolderUtf8(path, tq::Cp1251ToUtf8(folder))) {
        *why = tq::Cp("Экспорт отменён: файл ") + shown + tq::Cp(" — в папке ") + folder +
               tq::Cp(" с базами данных весов. Выберите другую папку.");
        return false;
    }
    return true;
}

}  // namespace

bool ExportCsvFile(int db, const std::string& path, std::string* message, const TransferProgress& progress,
                   CsvHeader header) {
    if (!MayExportTo(db, path, message)) return false;
    std::string bytes, why;
    if (!ExportCsv(db, &bytes, message, progress, header)) return false;
    if (ReplaceFileUtf8(path, bytes, &why)) return true;
    *message = tq::Cp("Не удалось записать файл ") + tq::Utf8ToCp1251(path) + ": " + why;
    return false;
}

bool ImportCsv(int db, const std::string& bytes, const ImportOptions& options, std::string* message,
               std::string* backupPath) {
    std::vector<ImportRow> rows;
    std::string why;
    if (!ReadImportRows(db, bytes, &rows, &why)) {
        *message = NotImported(why);
        return false;
    }
    if (!DbRecordset(db)) {
        *message = NotImported(tq::Cp("БД не открыта"));
        return false;
    }
    // One transaction under the write lock, the backup taken inside it: no
    // other program can commit rows between the copy and the import and
    // have them lost without a copy.
    const Change write = [&](std::string* failure) { return WriteRows(db, rows, options, failure); };
    std::string backup;
    const ChangeOutcome outcome =
        options.backUp ? DbChangeWithBackup(db, std::string(), write, &backup, &why) : DbChangeWhole(db, write, &why);
    if (backupPath) *backupPath = backup;
    switch (outcome) {
    case ChangeOutcome::Done:
        *message = tq::Cp("Импортировано записей: ") + std::to_string(rows.size());
        return true;
    case ChangeOutcome::NotWritable:
        *message = NotImported(tq::Cp("БД не открывается для записи: ") + why);
        return false;
    case ChangeOutcome::NoBackup:
        *message = BackupFailedText(why);
        return false;
    case ChangeOutcome::Failed:  // taken back, and the row count shows it
        *message = NotImported(why);
        return false;
    case ChangeOutcome::Unsure:
        break;
    }
    const std::string lead = tq::Cp("Файл не импортирован, но БД могла измениться") +
                             (backup.empty() ? std::string() : tq::Cp("; резервная копия до импорта: ") + backup) + ":";
    *message = lead + (why.compare(0, 1, "\n") == 0 ? why : " " + why);
    return false;
}

bool ImportCsvFile(int db, const std::string& path, const ImportOptions& options, std::string* message,
                   std::string* backupPath) {
    std::string bytes;
    if (!IsOrdinaryFileOrNothingUtf8(path)) {  // a FIFO would keep the reader waiting for ever
        *message = tq::Cp("Не удалось прочитать файл ") + tq::Utf8ToCp1251(path) +
                   tq::Cp(": не обычный файл (папка, устройство или канал)");
        return false;
    }
    if (!ReadWholeFileUtf8(path, &bytes)) {
        *message = tq::Cp("Не удалось прочитать файл ") + tq::Utf8ToCp1251(path) +
                   (bytes.size() > kReadLimitBytes ? tq::Cp(": он больше 256 МБ") : std::string());
        return false;
    }
    return ImportCsv(db, bytes, options, message, backupPath);
}

}  // namespace tq::viewer
