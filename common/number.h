// Integers read from text: what an engineer types, a port's name, a command
// line's argument.
#pragma once
#include <optional>
#include <string_view>

namespace tq {

// The whole text as a decimal integer from min to max, or nothing: digits
// alone, after a '-' or '+' only where min is negative (a count or a port is
// written without a sign); no blanks, nothing after the digits. Leading zeros
// are read.
std::optional<long long> ParseInteger(std::string_view text, long long min, long long max);

// The text without the blanks (spaces and tabs) around it: an entry field's
// number is read so, as the engineer may leave a blank about it.
std::string_view WithoutBlanks(std::string_view text);

}  // namespace tq
