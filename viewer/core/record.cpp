#include "record.h"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tq::viewer {

namespace {

bool ValidIndex(int index) { return index >= 0 && index < kFieldCount; }

const std::string kEmpty;

}  // namespace

double ReadFieldNumber(const char* text) {
    char buffer[kValueMax + 1];
    std::strncpy(buffer, text, kValueMax);
    buffer[kValueMax] = '\0';

    bool started = false, inFraction = false, negative = false;
    int fractionDigits = 0;
    double integer = 0, fraction = 0;
    for (const char* p = buffer;; ++p) {
        const char c = *p;
        if (c == ' ') {
            if (started) break;
        } else if (c == '+' || c == '-') {
            if (started) break;
            started = true;
            negative = c == '-';
        } else if (c == ',' || c == '.') {
            if (started && inFraction) break;
            started = inFraction = true;
        } else if (c >= '0' && c <= '9') {
            started = true;
            if (inFraction) {
                fraction = fraction * 10 + (c - '0');
                ++fractionDigits;
            } else {
                integer = integer * 10 + (c - '0');
            }
        } else {
            break;  // any other character, the terminating NUL included
        }
    }
    for (int i = 0; i < fractionDigits; ++i) fraction *= 0.1;
    double x = integer + fraction;
    if (negative) x = -x;

    // Six decimals, half away from zero.
    const double m = std::fabs(x) * 1000000.0;
    double rounded = std::floor(m);
    if (m - rounded >= 0.5) rounded += 1;
    rounded /= 1000000.0;
    return x < 0 ? -rounded : rounded;
}

int32_t ReadFieldInt(const char* text) {
    const double value = ReadFieldNumber(text);
    // Out-of-range numbers saturate rather than overflow.
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(value);  // truncates toward zero
}

bool CNVRecord::GetFieldInt(int32_t* out, int index) const {
    if (!out) return false;
    *out = 0;
    if (!ValidIndex(index)) return false;
    *out = ReadFieldInt(values_[index].c_str());
    return true;
}

bool CNVRecord::GetFieldDouble(double* out, int index) const {
    if (!out) return false;
    *out = 0;
    if (!ValidIndex(index)) return false;
    *out = ReadFieldNumber(values_[index].c_str());
    return true;
}

bool CNVRecord::GetFieldText(char* out, int index) const {
    if (!out) return false;
    out[0] = '\0';
    if (!ValidIndex(index)) return false;
    std::strncpy(out, values_[index].c_str(), kValueMax);
    out[kValueMax] = '\0';
    return true;
}

bool CNVRecord::SetFieldDouble(double value, int index) {
    if (!ValidIndex(index)) return false;
    char text[400];
    std::snprintf(text, sizeof text, "%12.10f", value);
    return SetFieldText(text, index);
}

bool CNVRecord::SetFieldInt(int32_t value, int index) { return SetFieldDouble(static_cast<double>(value), index); }

bool CNVRecord::SetFieldText(const char* text, int index) {
    if (!text || !ValidIndex(index)) return false;
    values_[index] = text;
    return true;
}

void CNVRecord::Clear() {
    for (std::string& v : values_) v.clear();
}

const std::string& CNVRecord::Value(int index) const { return ValidIndex(index) ? values_[index] : kEmpty; }

const char* PackedRow::Value(int index) const {
    if (!ValidIndex(index)) return "";
    // A row the data core packed ends each value, the last one included, with a NUL.
    assert(packed_.empty() || packed_.back() == '\0');
    size_t at = 0;
    for (int i = 0; i < index && at < packed_.size(); ++i) at = packed_.find('\0', at) + 1;
    return at < packed_.size() ? packed_.data() + at : "";
}

bool PackedRow::HasCode() const { return ReadFieldInt(Value(0)) != 0; }

void PackedRow::CopyTo(CNVRecord* record) const {
    assert(record);
    assert(packed_.empty() || packed_.back() == '\0');
    size_t at = 0;
    for (int i = 0; i < kFieldCount; ++i) {
        record->SetFieldText(at < packed_.size() ? packed_.data() + at : "", i);
        if (at < packed_.size()) at = packed_.find('\0', at) + 1;
    }
}

void SetBlockSlot(FieldBlock& block, int index, const char* text) {
    if (!ValidIndex(index) || !text) return;
    std::strncpy(block.slot[index], text, kValueMax);
    block.slot[index][kValueMax] = '\0';
}

void SetBlockCode(FieldBlock& block, const std::string& code) {
    SetBlockSlot(block, 0, (kCodeSlotPrefix + code).c_str());
}

}  // namespace tq::viewer
