#include "common/cp1251.h"

#include <gtest/gtest.h>

using tq::Cp1251ToUtf8;
using tq::Cp1251ToWide;
using tq::Utf8ToCp1251;
using tq::WideToCp1251;

TEST(Cp1251, RussianTextRoundTripsThroughUtf8AndWide) {
    const std::string utf8 = "Товары Ёж ёж №5 «Икра черная.»";
    const std::string cp = Utf8ToCp1251(utf8);
    EXPECT_EQ(static_cast<unsigned char>(cp[0]), 0xD2u) << "Т is 0xD2 in code page 1251";
    EXPECT_EQ(cp.size(), 30u) << "one byte per character";
    EXPECT_EQ(Cp1251ToUtf8(cp), utf8);
    EXPECT_EQ(Cp1251ToWide(cp), L"Товары Ёж ёж №5 «Икра черная.»");
    EXPECT_EQ(WideToCp1251(Cp1251ToWide(cp)), cp);
}

TEST(Cp1251, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
    EXPECT_EQ(WideToCp1251(Cp1251ToWide(all)), all);
}

TEST(Cp1251, UnmappableAndMalformedInputBecomesQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1251("a\xE4\xB8\xAD" "b"), "a?b") << "a CJK character is not in 1251";
    EXPECT_EQ(Utf8ToCp1251("\xFF\xC3"), "??") << "broken UTF-8";
    EXPECT_EQ(Utf8ToCp1251("x\xD0"), "x?") << "a sequence cut at the end";
    EXPECT_EQ(WideToCp1251(L"\u4E2D"), "?");
}

TEST(Cp1251, FileNamesKeepEveryCharacterBetweenUtf8AndWide) {
    const std::string name = "Товары 日本 \xF0\x9F\x98\x80.csv";  // Cyrillic, CJK and one beyond 16 bits
    const std::wstring wide = tq::Utf8ToWide(name);
    EXPECT_EQ(wide.substr(0, 9), L"Товары 日本");
    EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 16u : 15u) << "a surrogate pair where wide text is UTF-16";
    EXPECT_EQ(tq::WideToUtf8(wide), name);
    EXPECT_EQ(tq::WideToUtf8(tq::Utf8ToWide("a\xFF" "b")), "a\xEF\xBF\xBD" "b") << "broken UTF-8 is no silent '?'";
    EXPECT_EQ(tq::WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD") << "a lone surrogate";
}
