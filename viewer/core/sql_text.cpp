#include "sql_text.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace tq::viewer {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool ContainsNoCase(const std::string& text, const char* part) {
    const size_t n = std::strlen(part);
    for (size_t i = 0; i + n <= text.size(); ++i)
        if (StartsWithNoCase(text.substr(i, n), part)) return true;
    return false;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(" \t\r\n;");
    return text.substr(first, last - first + 1);
}

std::string Parameterized(const std::string& sql, const char* placeholder, std::vector<std::string>* parameters) {
    std::string out;
    for (size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (c == '[') {  // a bracketed name may hold anything but ]
            const size_t close = sql.find(']', i);
            const size_t end = close == std::string::npos ? sql.size() : close + 1;
            out.append(sql, i, end - i);
            i = end - 1;
        } else if (c == '\'') {
            std::string literal;
            size_t j = i + 1;
            for (; j < sql.size(); ++j) {
                if (sql[j] != '\'') {
                    literal += sql[j];
                } else if (j + 1 < sql.size() && sql[j + 1] == '\'') {
                    literal += '\'';
                    ++j;
                } else {
                    break;
                }
            }
            if (j >= sql.size()) {  // unterminated: leave it to the engine to refuse
                parameters->clear();
                return sql;
            }
            parameters->push_back(literal);
            char name[32];
            std::snprintf(name, sizeof name, placeholder, static_cast<int>(parameters->size()));
            out += name;
            i = j;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace tq::viewer
