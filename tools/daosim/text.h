// Text as the database keeps it: UTF-16 code units, as Jet 4 stores text and
// as BSTRs carry it. A value is text or Null. Portable: no Windows headers.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace daosim {

using Text = std::u16string;
using TextView = std::u16string_view;
using Value = std::optional<Text>;  // nullopt is Null

// Jet compares and sorts text without regard to case. The folding covers
// Latin, Latin-1 and Cyrillic letters, which is what the scale's data holds.
char16_t FoldCase(char16_t c);
int CompareNoCase(TextView a, TextView b);
inline bool EqualNoCase(TextView a, TextView b) { return CompareNoCase(a, b) == 0; }
Text Folded(TextView text);

Text FromAscii(std::string_view text);
std::string ToUtf8(TextView text);

// A row packed into one string: for each column its length (kNullLength for
// Null) followed by its characters. A hundred thousand rows of forty-one
// mostly short columns stay a few megabytes this way.
constexpr char16_t kNullLength = 0xFFFF;
Text PackRow(const std::vector<Value>& values);
std::vector<Value> UnpackRow(TextView packed);
// The value of one column, walking the packed row; false when it is Null.
bool PackedValue(TextView packed, size_t column, TextView* out);

}  // namespace daosim
