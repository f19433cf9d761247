#include "tools/daosim/scenario.h"

#include <cctype>
#include <sstream>

namespace daosim {
namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// UTF-8 to UTF-16, for the file name part (names may be Cyrillic).
Text FromUtf8(const std::string& s) {
    Text out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = s[i];
        uint32_t code = c;
        size_t extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra) code = c & (0x3F >> extra);
        if (i + extra >= s.size() + (extra ? 0 : 1)) break;
        for (size_t k = 1; k <= extra; ++k) code = code << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += extra + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

}  // namespace

void Scenario::Parse(const std::string& text) {
    *this = Scenario();
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string word;
        if (!(words >> word)) continue;
        word = Lower(word);
        if (word == "open-fails") {
            int number = 0;
            std::string part;
            if (!(words >> number) || (number != 3045 && number != 3051 && number != 3343)) continue;
            openFault_ = number;
            if (words >> part) openFaultPart_ = FromUtf8(part);
        } else if (word == "update-locked") {
            updateLocked_ = true;
        } else if (word == "delay") {
            std::string member;
            uint32_t ms = 0;
            if (words >> member >> ms) delays_[Lower(member)] = ms;
        } else if (word == "vanish-after") {
            long rows = -1;
            if (words >> rows && rows >= 0) vanishAfter_ = rows;
        } else if (word == "not-licensed") {
            notLicensed_ = true;
        } else if (word == "hresult-errors") {
            hresultErrors_ = true;
        } else if (word == "max-locks") {
            long locks = 0;
            if (words >> locks && locks > 0) maxLocks_ = locks;
        } else if (word == "commit-fails") {
            long which = 0;
            if (words >> which && which > 0) commitFails_ = which;
        }
    }
}

int Scenario::OpenFault(TextView name) const {
    if (!openFault_) return 0;
    if (openFaultPart_.empty()) return openFault_;
    const Text haystack = Folded(name), needle = Folded(openFaultPart_);
    return haystack.find(needle) != Text::npos ? openFault_ : 0;
}

uint32_t Scenario::DelayMs(const std::string& member) const {
    const auto it = delays_.find(Lower(member));
    return it == delays_.end() ? 0 : it->second;
}

}  // namespace daosim
