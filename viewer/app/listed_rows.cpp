#include "listed_rows.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/catalogue.h"
#include "core/record.h"

namespace tq::viewer {

namespace {

const int kEmptyRowBytes = kFieldCount;  // 41 NULs

std::array<unsigned char, 256> MakeLowerTable() {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c) table[c] = static_cast<unsigned char>(c);
    for (int c = 'A'; c <= 'Z'; ++c) table[c] = static_cast<unsigned char>(c + 32);
    for (int c = 0xC0; c <= 0xDF; ++c) table[c] = static_cast<unsigned char>(c + 32);  // А..Я
    // The letters outside the two alphabets' runs: Ё, the Ukrainian and
    // Belarusian letters and the Serbian and Macedonian ones.
    const unsigned char pairs[][2] = {{0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xA5, 0xB4},
                                      {0xA1, 0xA2}, {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C},
                                      {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA3, 0xBC}, {0xBD, 0xBE}};
    for (const auto& pair : pairs) table[pair[0]] = pair[1];
    return table;
}

const std::array<unsigned char, 256> kLower = MakeLowerTable();

// A letter's place in the sort: digits and signs first by their code, then
// other signs of the code page, then Latin, then Cyrillic in the order of
// the alphabet (Ё after Е, the Ukrainian and Belarusian letters beside their
// neighbours); capitals weigh as small letters.
std::array<uint16_t, 256> MakeSortWeights() {
    std::array<uint16_t, 256> weight{};
    for (int c = 0; c < 256; ++c) weight[c] = static_cast<uint16_t>(c < 0x80 ? c : 0x100 + c);
    for (int c = 'a'; c <= 'z'; ++c) weight[c] = static_cast<uint16_t>(0x200 + c - 'a');
    // а б в г ґ д е ё є ж з и і ї й к л м н о п р с т у ў ф х ц ч ш щ ъ ы ь э ю я
    const unsigned char cyrillic[] = {0xE0, 0xE1, 0xE2, 0xE3, 0xB4, 0xE4, 0xE5, 0xB8, 0xBA, 0xE6, 0xE7, 0xE8, 0xB3,
                                      0xBF, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF2, 0xF3, 0xA2,
                                      0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
    for (size_t i = 0; i < sizeof cyrillic; ++i) weight[cyrillic[i]] = static_cast<uint16_t>(0x300 + i);
    for (int c = 0; c < 256; ++c)
        if (kLower[c] != c) weight[c] = weight[kLower[c]];
    return weight;
}

const std::array<uint16_t, 256> kSortWeight = MakeSortWeights();

// A cell as the sort sees it: empty, a number, or text.
struct SortKey {
    const char* text;
    int kind;  // 0 empty, 1 number, 2 text
    double number;
};

SortKey KeyOf(const char* cell) {
    if (!*cell) return {cell, 0, 0};
    // -12, 89.90, 0,5: a sign, digits, one decimal point or comma, digits.
    const char* p = cell + (*cell == '-');
    bool digits = false, point = false;
    for (; *p; ++p) {
        if (*p >= '0' && *p <= '9') digits = true;
        else if ((*p == '.' || *p == ',') && !point) point = true;
        else break;
    }
    if (*p || !digits) return {cell, 2, 0};
    std::string number(cell);
    std::replace(number.begin(), number.end(), ',', '.');
    return {cell, 1, std::strtod(number.c_str(), nullptr)};
}

// <0, 0, >0 as a sorts before, with or after b.
int CompareKeys(const SortKey& a, const SortKey& b) {
    if (a.kind != b.kind) return a.kind - b.kind;
    if (a.kind == 1 && a.number != b.number) return a.number < b.number ? -1 : 1;
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a.text);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b.text);
    int tie = 0;  // the first difference of case or code, should the letters all weigh the same
    for (; *x && *y; ++x, ++y) {
        if (kSortWeight[*x] != kSortWeight[*y]) return kSortWeight[*x] < kSortWeight[*y] ? -1 : 1;
        if (!tie && *x != *y) tie = *x < *y ? -1 : 1;
    }
    if (*x || *y) return *x ? 1 : -1;
    return tie;
}

// A needle already in lower case within a cell of any case.
bool ContainsLowered(const char* cell, const std::string& needle) {
    const size_t length = std::strlen(cell);
    if (needle.size() > length) return false;
    const unsigned char first = static_cast<unsigned char>(needle[0]);
    for (size_t at = 0; at + needle.size() <= length; ++at) {
        if (kLower[static_cast<unsigned char>(cell[at])] != first) continue;
        size_t k = 1;
        while (k < needle.size() &&
               kLower[static_cast<unsigned char>(cell[at + k])] == static_cast<unsigned char>(needle[k]))
            ++k;
        if (k == needle.size()) return true;
    }
    return false;
}

}  // namespace

std::string LowerCp1251(const std::string& text) {
    std::string lowered(text);
    for (char& c : lowered) c = static_cast<char>(kLower[static_cast<unsigned char>(c)]);
    return lowered;
}

void ListedRows::Clear() {
    // Released, not only emptied: the last listing may have been large.
    std::vector<char>().swap(text_);
    std::vector<uint32_t>().swap(rowStart_);
}

bool ListedRows::Append(const PackedRow& row) {
    const std::string_view packed = row.Packed();
    const size_t before = text_.size();
    try {
        if (!packed.empty() && before + packed.size() <= byteLimit_) {
            text_.insert(text_.end(), packed.begin(), packed.end());
            rowStart_.push_back(static_cast<uint32_t>(before));
            return true;
        }
        AppendEmpty();
        return packed.empty();
    } catch (const std::bad_alloc&) {
        // The program's memory ran out below the limit: the row is not kept,
        // and the caller stops as it does past the limit.
        text_.resize(before);
        return false;
    }
}

// The text first: a row never starts past the text's end.
void ListedRows::AppendEmpty() {
    const size_t before = text_.size();
    text_.insert(text_.end(), kEmptyRowBytes, '\0');
    rowStart_.push_back(static_cast<uint32_t>(before));
}

const char* ListedRows::Cell(int row, int column) const {
    if (row < 0 || row >= Count() || column < 0 || column >= kFieldCount) return "";
    const char* cell = text_.data() + rowStart_[row];
    for (int i = 0; i < column; ++i) cell += std::strlen(cell) + 1;
    return cell;
}

int ListedRows::SortBy(int column, bool descending, int follow) {
    if (column < 0 || column >= kFieldCount) return follow;
    const int count = Count();
    std::vector<SortKey> keys(count);
    for (int row = 0; row < count; ++row) keys[row] = KeyOf(Cell(row, column));
    std::vector<uint32_t> order(count);
    for (int row = 0; row < count; ++row) order[row] = static_cast<uint32_t>(row);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const int c = CompareKeys(keys[a], keys[b]);
        return descending ? c > 0 : c < 0;
    });
    std::vector<uint32_t> starts(count);
    int followed = -1;
    for (int at = 0; at < count; ++at) {
        starts[at] = rowStart_[order[at]];
        if (static_cast<int>(order[at]) == follow) followed = at;
    }
    rowStart_.swap(starts);
    return followed;
}

int ListedRows::Find(const std::string& text, int from, const std::vector<int>& columns) const {
    if (text.empty() || Count() == 0) return -1;
    if (from < 0 || from >= Count()) from = 0;
    const std::string lowered = LowerCp1251(text);
    for (int step = 0; step < Count(); ++step) {
        const int row = (from + step) % Count();
        if (RowMatches(row, lowered, columns) || text == Cell(row, 0)) return row;
    }
    return -1;
}

bool ListedRows::RowMatches(int row, const std::string& lowered, const std::vector<int>& columns) const {
    // Walks the row once: the shown columns come in ascending order.
    const char* cell = text_.data() + rowStart_[row];
    int at = 0;
    for (int column : columns) {
        for (; at < column; ++at) cell += std::strlen(cell) + 1;
        if (ContainsLowered(cell, lowered)) return true;
    }
    return false;
}

}  // namespace tq::viewer
