// One row of a database in memory, and the block in which a whole record is
// handed to the save operations.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

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

// A row as the data core holds it: the 41 values, each cut at 254 bytes and
// ended by a NUL, one after the other. The empty text stands for a row whose
// values are all empty. It views the text; it does not own it.
class PackedRow {
public:
    explicit PackedRow(std::string_view packed) : packed_(packed) {}
    std::string_view Packed() const { return packed_; }
    // Value i; "" for an index outside 0..40 or past the text's end.
    const char* Value(int index) const;
    // Whether the row has a code: its s00 reads as a number other than 0
    // (GetFieldInt). A row without one ends every listing.
    bool HasCode() const;
    void CopyTo(CNVRecord* record) const;

private:
    std::string_view packed_;
};

// Reads the leading number of a text the way the scale's programs do: blanks
// before it are skipped, "," and "." both separate the fraction, anything
// else ends it; the result is rounded to six decimals.
double ReadFieldNumber(const char* text);
// The same as a 32-bit integer, as GetFieldInt reads it: saturated at the
// type's limits, truncated toward zero.
int32_t ReadFieldInt(const char* text);

// 41 slots of 256 bytes. Slot 0 holds a two-character prefix followed by the
// code (s00); slot i holds column si.
struct FieldBlock {
    char slot[kFieldCount][256] = {};
};

// Copies text into a FieldBlock slot, cut to 254 characters.
void SetBlockSlot(FieldBlock& block, int index, const char* text);
// Slot 0: the prefix, then the code (cut to fit), as DbSave reads it.
constexpr char kCodeSlotPrefix[] = "xx";
constexpr size_t kCodeSlotPrefixLength = sizeof kCodeSlotPrefix - 1;
void SetBlockCode(FieldBlock& block, const std::string& code);
// The code in slot 0: what follows the prefix.
inline const char* BlockCode(const FieldBlock& block) { return block.slot[0] + kCodeSlotPrefixLength; }

}  // namespace tq::viewer
