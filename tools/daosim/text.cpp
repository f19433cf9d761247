#include "tools/daosim/text.h"

#include "common/cp1251.h"

namespace daosim {

char16_t FoldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') return c + 0x20;
    if (c < 0x80) return c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

int CompareNoCase(TextView a, TextView b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = FoldCase(a[i]), y = FoldCase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

Text Folded(TextView text) {
    Text out(text);
    for (char16_t& c : out) c = FoldCase(c);
    return out;
}

Text FromAscii(std::string_view text) { return Text(text.begin(), text.end()); }

std::string ToUtf8(TextView text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        tq::AppendUtf8(&out, c);
    }
    return out;
}

Text PackRow(const std::vector<Value>& values) {
    Text packed;
    for (const Value& v : values) {
        if (!v) {
            packed += kNullLength;
            continue;
        }
        packed += static_cast<char16_t>(v->size());
        packed += *v;
    }
    return packed;
}

std::vector<Value> UnpackRow(TextView packed) {
    std::vector<Value> values;
    size_t at = 0;
    while (at < packed.size()) {
        const char16_t length = packed[at++];
        if (length == kNullLength) {
            values.emplace_back();
            continue;
        }
        values.emplace_back(Text(packed.substr(at, length)));
        at += length;
    }
    return values;
}

bool PackedValue(TextView packed, size_t column, TextView* out) {
    size_t at = 0;
    for (size_t i = 0; at < packed.size(); ++i) {
        const char16_t length = packed[at++];
        const size_t skip = length == kNullLength ? 0 : length;
        if (i == column) {
            if (length == kNullLength) return false;
            *out = packed.substr(at, skip);
            return true;
        }
        at += skip;
    }
    return false;
}

}  // namespace daosim
