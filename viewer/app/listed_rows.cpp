#include "listed_rows.h"

#include <algorithm>
#include <array>
#include <cstring>

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

bool ListedRows::Append(const CNVRecord& record) {
    size_t bytes = 0;
    for (int i = 0; i < kFieldCount; ++i) bytes += std::min(record.Value(i).size(), size_t{kValueMax}) + 1;
    if (text_.size() + bytes > byteLimit_) {
        AppendEmpty();
        return false;
    }
    rowStart_.push_back(static_cast<uint32_t>(text_.size()));
    for (int i = 0; i < kFieldCount; ++i) {
        const std::string& value = record.Value(i);
        // Values hold no NUL of their own: GetFieldText would end them there too.
        const size_t length = std::min(std::strlen(value.c_str()), size_t{kValueMax});
        text_.insert(text_.end(), value.c_str(), value.c_str() + length);
        text_.push_back('\0');
    }
    return true;
}

void ListedRows::AppendEmpty() {
    rowStart_.push_back(static_cast<uint32_t>(text_.size()));
    text_.insert(text_.end(), kEmptyRowBytes, '\0');
}

const char* ListedRows::Cell(int row, int column) const {
    if (row < 0 || row >= Count() || column < 0 || column >= kFieldCount) return "";
    const char* cell = text_.data() + rowStart_[row];
    for (int i = 0; i < column; ++i) cell += std::strlen(cell) + 1;
    return cell;
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
