#include "number.h"

namespace tq {

std::optional<long long> ParseInteger(std::string_view text, long long min, long long max) {
    bool negative = false;
    if (min < 0 && !text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Gathered as a negative number, whose range reaches one further: the
    // least long long is read as well as the greatest.
    const long long floor = negative ? min : -max;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (value < (floor + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value < -max) return std::nullopt;
        value = -value;
    }
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::string_view WithoutBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::string_view();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace tq
