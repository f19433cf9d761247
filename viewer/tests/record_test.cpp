#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/record.h"

namespace tq::viewer::test {

namespace {

double Read(const char* text) {
    CNVRecord record;
    record.SetFieldText(text, 5);
    double value = -99;
    EXPECT_TRUE(record.GetFieldDouble(&value, 5)) << text;
    return value;
}

int32_t ReadInt(const char* text) {
    CNVRecord record;
    record.SetFieldText(text, 0);
    int32_t value = -99;
    EXPECT_TRUE(record.GetFieldInt(&value, 0)) << text;
    return value;
}

}  // namespace

TEST(RecordNumbers, ReadsTheLeadingNumberOfAText) {
    EXPECT_DOUBLE_EQ(Read("12,5"), 12.5);
    EXPECT_DOUBLE_EQ(Read("12.5"), 12.5);
    EXPECT_DOUBLE_EQ(Read(",5"), 0.5);
    EXPECT_DOUBLE_EQ(Read("5."), 5.0);
    EXPECT_DOUBLE_EQ(Read("  -3.25 kg"), -3.25) << "leading blanks skipped, the blank after ends it";
    EXPECT_DOUBLE_EQ(Read("1 000"), 1.0);
    EXPECT_DOUBLE_EQ(Read("1.2.3"), 1.2);
    EXPECT_DOUBLE_EQ(Read("+-7"), 0.0);
    EXPECT_DOUBLE_EQ(Read("--5"), 0.0);
    EXPECT_DOUBLE_EQ(Read("abc"), 0.0);
    EXPECT_DOUBLE_EQ(Read(""), 0.0);
    EXPECT_DOUBLE_EQ(Read("+42"), 42.0);
    EXPECT_DOUBLE_EQ(Read("00000017"), 17.0);
}

TEST(RecordNumbers, RoundsToSixDecimalsHalfAwayFromZero) {
    EXPECT_DOUBLE_EQ(Read("0.0000005"), 0.000001);
    EXPECT_DOUBLE_EQ(Read("-0.0000005"), -0.000001);
    EXPECT_DOUBLE_EQ(Read("0.0000004"), 0.0);
    EXPECT_DOUBLE_EQ(Read("2.1234564"), 2.123456);
}

TEST(RecordNumbers, IntegersTruncateTowardZeroAndSaturate) {
    EXPECT_EQ(ReadInt("2.9"), 2);
    EXPECT_EQ(ReadInt("-2.9"), -2);
    EXPECT_EQ(ReadInt("00000017"), 17);
    EXPECT_EQ(ReadInt("99999999999999"), INT32_MAX) << "a code too large for 32 bits must not overflow";
    EXPECT_EQ(ReadInt("-99999999999999"), INT32_MIN);
}

TEST(RecordNumbers, OnlyTheFirst254CharactersAreRead) {
    std::string text(254, ' ');
    text += "7";
    EXPECT_DOUBLE_EQ(Read(text.c_str()), 0.0) << "the digit beyond 254 characters is cut off";
}

TEST(RecordFields, SettersStoreTextAndNumbers) {
    CNVRecord record;
    ASSERT_TRUE(record.SetFieldInt(7, 3));
    EXPECT_EQ(record.Value(3), "7.0000000000");
    ASSERT_TRUE(record.SetFieldDouble(-1.5, 4));
    EXPECT_EQ(record.Value(4), "-1.5000000000");
    ASSERT_TRUE(record.SetFieldText("text", 40));
    char out[255];
    ASSERT_TRUE(record.GetFieldText(out, 40));
    EXPECT_STREQ(out, "text");
    record.Clear();
    for (int i = 0; i < kFieldCount; ++i) EXPECT_EQ(record.Value(i), "") << "field " << i;
}

TEST(RecordFields, BadIndexesAndAbsentPointersFailWithoutChangingTheRecord) {
    CNVRecord record;
    record.SetFieldText("keep", 0);
    char out[255] = "x";
    double d = 5;
    int32_t n = 5;
    for (int index : {-1, 41}) {
        EXPECT_FALSE(record.SetFieldText("new", index));
        EXPECT_FALSE(record.SetFieldInt(1, index));
        EXPECT_FALSE(record.SetFieldDouble(1, index));
        EXPECT_FALSE(record.GetFieldText(out, index));
        EXPECT_STREQ(out, "") << "the out buffer is emptied first";
        EXPECT_FALSE(record.GetFieldDouble(&d, index));
        EXPECT_EQ(d, 0);
        EXPECT_FALSE(record.GetFieldInt(&n, index));
        EXPECT_EQ(n, 0);
    }
    EXPECT_FALSE(record.SetFieldText(nullptr, 0));
    EXPECT_FALSE(record.GetFieldText(nullptr, 0));
    EXPECT_FALSE(record.GetFieldDouble(nullptr, 0));
    EXPECT_FALSE(record.GetFieldInt(nullptr, 0));
    EXPECT_EQ(record.Value(0), "keep");
}

TEST(RecordFields, LongValuesComeBackCutTo254Characters) {
    CNVRecord record;
    const std::string long_text(300, 'a');
    record.SetFieldText(long_text.c_str(), 2);
    char out[255];
    std::memset(out, 'z', sizeof out);
    ASSERT_TRUE(record.GetFieldText(out, 2));
    EXPECT_EQ(std::string(out), std::string(254, 'a'));
}

}  // namespace tq::viewer::test
