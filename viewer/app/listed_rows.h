// The rows of the last listing, kept by the main dialog for a list that asks
// for each cell only when it draws it. A listing of 100,000 records would
// cost 4 million small strings if every cell were its own object, so a row is
// its 41 values, each ended by a NUL, one after the other in one buffer.
// Texts are code page 1251.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tq::viewer {

class PackedRow;

class ListedRows {
public:
    // Enough for a few hundred thousand full goods records; a 32-bit process
    // that ran out of memory in the middle of a listing would simply end.
    static const size_t kDefaultByteLimit = 512u * 1024 * 1024;

    explicit ListedRows(size_t byteLimit = kDefaultByteLimit) : byteLimit_(byteLimit) {}

    void Clear();
    // Keeps the row's 41 values as the data core packed them (the empty
    // text: 41 empty values). When they do not fit under the byte limit,
    // keeps an empty row in its place and returns false; when the program's
    // memory runs out first, keeps nothing and returns false.
    bool Append(const PackedRow& row);
    void AppendEmpty();

    int Count() const { return static_cast<int>(rowStart_.size()); }
    // The cell's text; "" for a row or column outside the listing.
    const char* Cell(int row, int column) const;
    // The first row from `from` on, wrapping to row 0, whose code (column 0)
    // equals the text or whose cell in one of the given columns contains it,
    // letters compared without case (Cyrillic included); -1 when none does.
    int Find(const std::string& text, int from, const std::vector<int>& columns) const;

    // Orders the rows by one column: numbers as numbers, before texts, texts
    // by the Russian alphabet without regard to case (Ё after Е), empty
    // cells first; equal cells keep their order. Descending reverses it.
    // Returns where the row at `follow` went (-1 for none).
    int SortBy(int column, bool descending, int follow);

    size_t Bytes() const { return text_.capacity() + rowStart_.capacity() * sizeof(uint32_t); }

private:
    bool RowMatches(int row, const std::string& lowered, const std::vector<int>& columns) const;

    size_t byteLimit_;
    std::vector<char> text_;
    std::vector<uint32_t> rowStart_;
};

// Code page 1251 letters in lower case, other bytes as they are.
std::string LowerCp1251(const std::string& text);

}  // namespace tq::viewer
