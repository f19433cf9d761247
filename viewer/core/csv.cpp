#include "csv.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/cp1251.h"

namespace tq::viewer::csv {

const char kUtf8Bom[] = "\xEF\xBB\xBF";

namespace {

long LineAt(const std::string& text, size_t offset) {
    return 1 + static_cast<long>(std::count(text.begin(), text.begin() + static_cast<long>(offset), '\n'));
}

bool Fail(Failure* failure, long line, const std::string& utf8) {
    failure->line = line;
    failure->what = tq::Cp(utf8);
    return false;
}

bool StartsWith(const std::string& bytes, const char* prefix) {
    return bytes.compare(0, std::strlen(prefix), prefix) == 0;
}

enum class LineEncoding { kAscii, kUtf8, kCp1251, kBoth };

// What the bytes of one line say of their encoding. Text in code page 1251 is
// never valid UTF-8 (no two Cyrillic letters in a row are), but a capital
// before '»', '№' or a no-break space is a valid two-byte UTF-8 sequence by
// chance: so in a line that is not valid UTF-8, only two UTF-8 characters in
// a row, as a word written in UTF-8 has, show UTF-8 text beside the 1251.
LineEncoding EncodingOf(const unsigned char* p, const unsigned char* end) {
    bool invalid = false, multiByte = false, utf8Word = false;
    int inARow = 0;
    while (p < end) {
        const size_t length = tq::Utf8SequenceAt(p, end);
        if (length == 0) invalid = true;
        if (length > 1) {
            multiByte = true;
            if (++inARow == 2) utf8Word = true;
        } else {
            inARow = 0;
        }
        p += length ? length : 1;
    }
    if (!invalid) return multiByte ? LineEncoding::kUtf8 : LineEncoding::kAscii;
    return utf8Word ? LineEncoding::kBoth : LineEncoding::kCp1251;
}

// Whether the whole file is in one encoding, and *utf8 whether that is UTF-8.
// A file that mixes them cannot be read either way without garbling some of
// its lines, so it is refused at the first line that breaks with the others;
// a byte-order mark has already said UTF-8.
bool CheckOneEncoding(const std::string& bytes, bool markedUtf8, bool* utf8, Failure* failure) {
    const std::string mixed = "в файле смешаны кодировки UTF-8 и Windows-1251";
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    long utf8Line = 0, cp1251Line = 0;
    size_t start = 0;
    for (long line = 1; start <= bytes.size(); ++line) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        switch (EncodingOf(data + start, data + end)) {
        case LineEncoding::kBoth:
            return Fail(failure, line, mixed + " в одной строке");
        case LineEncoding::kUtf8:
            if (cp1251Line)
                return Fail(failure, line, mixed + " (строка " + std::to_string(cp1251Line) + " в Windows-1251, а эта в UTF-8)");
            if (!utf8Line) utf8Line = line;
            break;
        case LineEncoding::kCp1251:
            if (markedUtf8) return Fail(failure, line, mixed + " (файл начинается с метки UTF-8, а эта строка не в UTF-8)");
            if (utf8Line)
                return Fail(failure, line, mixed + " (строка " + std::to_string(utf8Line) + " в UTF-8, а эта в Windows-1251)");
            if (!cp1251Line) cp1251Line = line;
            break;
        case LineEncoding::kAscii:
            break;
        }
        start = end + 1;
    }
    *utf8 = cp1251Line == 0;
    return true;
}

// UTF-16 text, after its byte-order mark, as UTF-8. A surrogate without its
// pair, or half a character at the end, is a failure naming its line.
bool Utf16ToUtf8(const std::string& bytes, bool bigEndian, std::string* utf8, Failure* failure) {
    const auto unit = [&bytes, bigEndian](size_t i) {
        const unsigned first = static_cast<unsigned char>(bytes[i]), second = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char32_t>(bigEndian ? first << 8 | second : second << 8 | first);
    };
    const auto isHigh = [](char32_t u) { return u >= 0xD800 && u <= 0xDBFF; };
    const auto isLow = [](char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
    long line = 1;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t c = unit(i);
        if (isHigh(c) && i + 3 < bytes.size() && isLow(unit(i + 2))) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (isHigh(c) || isLow(c)) {
            return Fail(failure, line, "неверный текст UTF-16 (половина суррогатной пары)");
        }
        if (c == '\n') ++line;
        tq::AppendUtf8(utf8, c);
    }
    if (bytes.size() % 2) return Fail(failure, line, "файл UTF-16 обрывается на половине символа");
    return true;
}

bool IsSeparator(char c) {
    return c == ';' || c == ',' || c == '\t';
}

// Whether a field begins as a spreadsheet's "sep=" line (any case).
bool BeginsAsSeparatorLine(const std::string& field) {
    const char name[] = "sep=";
    if (field.size() < 4) return false;
    for (int i = 0; i < 4; ++i)
        if (std::tolower(static_cast<unsigned char>(field[i])) != name[i]) return false;
    return true;
}

// A spreadsheet's first line "sep=;" names the separator and holds no data.
// Split by the separator it names, it reads as "sep=" and empty fields.
bool IsSeparatorLine(const Row& row) {
    return row.fields.size() >= 2 && row.fields[0].size() == 4 && BeginsAsSeparatorLine(row.fields[0]) &&
           std::all_of(row.fields.begin() + 1, row.fields.end(), [](const std::string& f) { return f.empty(); });
}

// The first line whose text code page 1251 cannot hold; 0 when all can.
long FirstLineOutsideCp1251(const std::string& utf8) {
    size_t start = 0;
    for (long line = 1; start <= utf8.size(); ++line) {
        size_t end = utf8.find('\n', start);
        if (end == std::string::npos) end = utf8.size();
        const std::string_view piece(utf8.data() + start, end - start);
        if (tq::Cp1251ToUtf8(tq::Utf8ToCp1251(piece)) != piece) return line;
        start = end + 1;
    }
    return 0;
}

}  // namespace

void AppendField(std::string* out, const std::string& value, char separator) {
    const bool quoted = value.find_first_of(std::string("\"\r\n") + separator) != std::string::npos;
    if (!quoted) {
        *out += value;
        return;
    }
    *out += '"';
    for (char c : value) {
        if (c == '"') *out += '"';
        *out += c;
    }
    *out += '"';
}

bool DecodeText(const std::string& bytes, std::string* text, Failure* failure) {
    text->clear();
    std::string body;
    bool marked = true;
    if (StartsWith(bytes, "\xFF\xFE") || StartsWith(bytes, "\xFE\xFF")) {
        if (!Utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFE', &body, failure)) return false;
    } else if (StartsWith(bytes, kUtf8Bom)) {
        body = bytes.substr(3);
    } else {
        body = bytes;
        marked = false;
    }
    if (body.empty()) return Fail(failure, 0, "Файл пуст");
    const size_t nul = body.find('\0');
    if (nul != std::string::npos)
        return Fail(failure, LineAt(body, nul), "это не текстовый файл (нулевой байт)");
    bool utf8 = false;
    if (!CheckOneEncoding(body, marked, &utf8, failure)) return false;
    if (!utf8) {
        *text = body;
        return true;
    }
    if (const long line = FirstLineOutsideCp1251(body))
        return Fail(failure, line, "символ, которого нет в кодировке Windows-1251");
    *text = tq::Utf8ToCp1251(body);
    return true;
}

char DetectSeparator(const std::string& text) {
    bool inQuotes = false;
    for (char c : text) {
        if (c == '"') inQuotes = !inQuotes;
        else if (!inQuotes && IsSeparator(c)) return c;
        else if (!inQuotes && (c == '\r' || c == '\n')) break;
    }
    return ';';
}

bool ParseRows(const std::string& text, char separator, std::vector<Row>* rows, Failure* failure) {
    rows->clear();
    const size_t size = text.size();
    size_t p = 0;
    long line = 1;
    while (p < size) {
        Row row;
        row.line = line;
        std::string field;
        for (;;) {
            if (p < size && text[p] == '"' ) {
                const long openedOn = line;
                ++p;
                for (;;) {
                    if (p >= size) return Fail(failure, openedOn, "кавычка не закрыта");
                    if (text[p] == '"') {
                        if (p + 1 < size && text[p + 1] == '"') {
                            field += '"';
                            p += 2;
                            continue;
                        }
                        ++p;
                        break;
                    }
                    if (text[p] == '\n') ++line;
                    field += text[p++];
                }
                const bool fieldEnds = p >= size || text[p] == separator || text[p] == '\n' ||
                                       (text[p] == '\r' && p + 1 < size && text[p + 1] == '\n') ||
                                       (text[p] == '\r' && p + 1 == size);
                if (!fieldEnds) return Fail(failure, line, "после закрывающей кавычки идёт текст");
            } else {
                while (p < size && text[p] != separator && text[p] != '\n' &&
                       !(text[p] == '\r' && (p + 1 == size || text[p + 1] == '\n'))) {
                    if (text[p] == '"') return Fail(failure, line, "кавычка внутри значения без кавычек");
                    field += text[p++];
                }
            }
            row.fields.push_back(std::move(field));
            field.clear();
            if (p < size && text[p] == separator) {
                ++p;
                continue;
            }
            if (p < size && text[p] == '\r') ++p;
            if (p < size && text[p] == '\n') {
                ++p;
                ++line;
            }
            break;
        }
        rows->push_back(std::move(row));
    }
    return true;
}

bool ReadRows(const std::string& bytes, std::vector<Row>* rows, char* separator, Failure* failure) {
    rows->clear();
    std::string text;
    if (!DecodeText(bytes, &text, failure)) return false;
    *separator = DetectSeparator(text);
    if (!ParseRows(text, *separator, rows, failure)) return false;
    if (rows->empty()) return true;
    const Row& first = rows->front();
    if (IsSeparatorLine(first)) {
        rows->erase(rows->begin());
    } else if (first.fields.size() == 1 && first.fields[0].size() == 5 && BeginsAsSeparatorLine(first.fields[0])) {
        return Fail(failure, first.line, "разделитель «" + tq::Cp1251ToUtf8(first.fields[0].substr(4)) +
                                             "» из строки sep= не поддерживается: только «;», «,» или табуляция");
    }
    return true;
}

}  // namespace tq::viewer::csv
