#include "common/number.h"

#include <gtest/gtest.h>

#include <climits>

using tq::ParseInteger;

TEST(ParseInteger, TakesOnlyDigitsThatFillTheWholeText) {
    EXPECT_EQ(ParseInteger("7", 0, 255), 7);
    EXPECT_EQ(ParseInteger("0007", 0, 255), 7);
    EXPECT_EQ(ParseInteger("0", 0, 255), 0);
    for (const char* bad : {"", " 7", "7 ", "7a", "0x7", "1 2", "7.0", "\xB7"})
        EXPECT_EQ(ParseInteger(bad, 0, 255), std::nullopt) << bad;
}

TEST(ParseInteger, ASignOnlyWhereTheRangeHasNegatives) {
    EXPECT_EQ(ParseInteger("-5", -10, 10), -5);
    EXPECT_EQ(ParseInteger("+5", -10, 10), 5);
    EXPECT_EQ(ParseInteger("-0", -10, 10), 0);
    for (const char* bad : {"-5", "+5", "-0", "-", "+"}) EXPECT_EQ(ParseInteger(bad, 0, 10), std::nullopt) << bad;
    for (const char* bad : {"-", "+", "--5", "+-5", "- 5"}) EXPECT_EQ(ParseInteger(bad, -10, 10), std::nullopt) << bad;
}

TEST(ParseInteger, TheRangeIsCheckedWithoutOverflowAtTheEndsOfLongLong) {
    EXPECT_EQ(ParseInteger("255", 1, 255), 255);
    EXPECT_EQ(ParseInteger("256", 1, 255), std::nullopt);
    EXPECT_EQ(ParseInteger("0", 1, 255), std::nullopt);
    EXPECT_EQ(ParseInteger("-11", -10, 10), std::nullopt);
    EXPECT_EQ(ParseInteger("4294967295", 1, 4294967295LL), 4294967295LL);
    EXPECT_EQ(ParseInteger("4294967296", 1, 4294967295LL), std::nullopt);
    EXPECT_EQ(ParseInteger("9223372036854775807", LLONG_MIN, LLONG_MAX), LLONG_MAX);
    EXPECT_EQ(ParseInteger("-9223372036854775808", LLONG_MIN, LLONG_MAX), LLONG_MIN);
    EXPECT_EQ(ParseInteger("9223372036854775808", LLONG_MIN, LLONG_MAX), std::nullopt);
    EXPECT_EQ(ParseInteger("-9223372036854775809", LLONG_MIN, LLONG_MAX), std::nullopt);
    EXPECT_EQ(ParseInteger("99999999999999999999999", 0, 9), std::nullopt);
    EXPECT_EQ(ParseInteger("-99999999999999999999999", -9, 9), std::nullopt);
}
