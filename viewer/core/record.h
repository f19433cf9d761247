// One row of a database in memory, and the block in which a whole record is
// handed to the save operations.
#pragma once
#include <cstdint>
#include <string>

#include "catalogue.h"

namespace tq::viewer {

class CNVRecord {
public:
    CNVRecord() = default;
    virtual ~CNVRecord() = default;

    // Each accessor fails for an absent out-pointer or an index outside 0..40.
    virtual bool GetFieldInt(int32_t* out, int index) const;
    virtual bool GetFieldDouble(double* out, int index) const;
    // out is a caller's buffer of 255 bytes; the value comes cut to 254 characters.
    virtual bool GetFieldText(char* out, int index) const;
    virtual bool SetFieldDouble(double value, int index);
    virtual bool SetFieldInt(int32_t value, int index);
    virtual bool SetFieldText(const char* text, int index);

    void Clear();
    // The value as held (not cut); empty for an index outside 0..40.
    const std::string& Value(int index) const;

private:
    std::string values_[kFieldCount];
};

// Reads the leading number of a text the way the scale's programs do: blanks
// before it are skipped, "," and "." both separate the fraction, anything
// else ends it; the result is rounded to six decimals.
double ReadFieldNumber(const char* text);

// 41 slots of 256 bytes. Slot 0 holds a two-character prefix followed by the
// code (s00); slot i holds column si.
struct FieldBlock {
    char slot[kFieldCount][256] = {};
};

// Copies text into a FieldBlock slot, cut to 254 characters.
void SetBlockSlot(FieldBlock& block, int index, const char* text);

}  // namespace tq::viewer
