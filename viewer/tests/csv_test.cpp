#include <gtest/gtest.h>

#include "common/cp1251.h"
#include "core/csv.h"

namespace tq::viewer::test {

namespace {

std::string Field(const std::string& value, char separator = ';') {
    std::string out;
    csv::AppendField(&out, value, separator);
    return out;
}

std::vector<csv::Row> Parse(const std::string& text, char separator = ';') {
    std::vector<csv::Row> rows;
    csv::Failure failure;
    EXPECT_TRUE(csv::ParseRows(text, separator, &rows, &failure)) << "expected to parse: " << text;
    return rows;
}

csv::Failure ParseFailure(const std::string& text) {
    std::vector<csv::Row> rows;
    csv::Failure failure;
    EXPECT_FALSE(csv::ParseRows(text, ';', &rows, &failure)) << "expected a failure for: " << text;
    return failure;
}

csv::Failure DecodeFailure(const std::string& bytes) {
    std::string text;
    csv::Failure failure;
    EXPECT_FALSE(csv::DecodeText(bytes, &text, &failure));
    return failure;
}

// A file as the import reads it: its separator and its rows.
std::vector<csv::Row> Read(const std::string& bytes, char* separator) {
    std::vector<csv::Row> rows;
    csv::Failure failure;
    EXPECT_TRUE(csv::ReadRows(bytes, &rows, separator, &failure)) << tq::Cp1251ToUtf8(failure.what);
    return rows;
}

csv::Failure ReadFailure(const std::string& bytes) {
    std::vector<csv::Row> rows;
    csv::Failure failure;
    char separator;
    EXPECT_FALSE(csv::ReadRows(bytes, &rows, &separator, &failure)) << "expected a failure for: " << bytes;
    return failure;
}

std::string U(const std::string& cp1251) { return tq::Cp1251ToUtf8(cp1251); }

// Text as a spreadsheet's "Unicode text" file holds it: UTF-16 after its mark.
std::string Utf16(const std::u16string& text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

}  // namespace

TEST(CsvTest, FieldsAreQuotedOnlyWhenTheyMustBe) {
    EXPECT_EQ(Field("plain, with comma"), "plain, with comma") << "',' is no separator in a ';' file";
    EXPECT_EQ(Field("a,b", ','), "\"a,b\"");
    EXPECT_EQ(Field("a;b"), "\"a;b\"");
    EXPECT_EQ(Field("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(Field("two\r\nlines"), "\"two\r\nlines\"");
    EXPECT_EQ(Field("lf\nonly"), "\"lf\nonly\"");
    EXPECT_EQ(Field(""), "");
    EXPECT_EQ(Field(" blanks kept "), " blanks kept ");
}

TEST(CsvTest, RowsSplitAtSeparatorsAndLineEndsOutsideQuotes) {
    const auto rows = Parse("a;b;c\r\n\"x;y\";\"q\"\"q\";\"l1\r\nl2\"\r\nlast;;\nend");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].fields, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(rows[1].fields, (std::vector<std::string>{"x;y", "q\"q", "l1\r\nl2"}));
    EXPECT_EQ(rows[2].fields, (std::vector<std::string>{"last", "", ""}));
    EXPECT_EQ(rows[3].fields, (std::vector<std::string>{"end"}));
    EXPECT_EQ(rows[1].line, 2);
    EXPECT_EQ(rows[2].line, 4) << "the quoted line break counts as a line of the file";
    EXPECT_EQ(rows[3].line, 5);
    EXPECT_EQ(Parse("a,b\r\n", ',')[0].fields.size(), 2u);
    EXPECT_EQ(Parse("a\r").at(0).fields[0], "a") << "a CR at the very end ends the row";
}

TEST(CsvTest, BrokenQuotesNameTheirLine) {
    csv::Failure open = ParseFailure("s00\r\n1\r\n\"2\r\n3\r\n");
    EXPECT_EQ(open.line, 3) << "the line the open quote began on";
    EXPECT_EQ(ParseFailure("s00\r\n\"1\"x\r\n").line, 2) << "text after a closing quote";
    EXPECT_EQ(ParseFailure("s00;s01\r\n1;a\"b\r\n").line, 2) << "a quote inside an unquoted value";
}

TEST(CsvTest, FilesAreUtf8WithOrWithoutMarkElseCodePage1251) {
    std::string text;
    csv::Failure failure;
    ASSERT_TRUE(csv::DecodeText("\xEF\xBB\xBFs00;\xD0\xAF", &text, &failure));
    EXPECT_EQ(text, tq::Cp("s00;Я"));
    ASSERT_TRUE(csv::DecodeText("s00;\xD0\xAF", &text, &failure));
    EXPECT_EQ(text, tq::Cp("s00;Я"));
    ASSERT_TRUE(csv::DecodeText(tq::Cp("s00;Колбаса"), &text, &failure)) << "invalid UTF-8 is read as 1251";
    EXPECT_EQ(text, tq::Cp("s00;Колбаса"));
    // In 1251 a capital before '»', '№' or a no-break space is a valid UTF-8
    // sequence by chance; the file is 1251 all the same.
    const std::string capitals = tq::Cp("s00;s02\r\n1;КОЛБАСА «ДОКТОРСКАЯ»\r\n2;ТОВАР№5\r\n3;ООО\u00A0РОМАШКА\r\n");
    ASSERT_TRUE(csv::DecodeText(capitals, &text, &failure)) << U(failure.what);
    EXPECT_EQ(text, capitals);
    ASSERT_TRUE(csv::DecodeText(tq::Cp1251ToUtf8(capitals), &text, &failure)) << "the same in UTF-8: " << U(failure.what);
    EXPECT_EQ(text, capitals);
}

TEST(CsvTest, AFileMixingUtf8And1251IsRefusedAtTheLineThatBreaksWithTheRest) {
    // One line typed in 1251 into a UTF-8 file once made the whole file 1251.
    const csv::Failure late1251 = DecodeFailure("s00;s02\r\n1;Колбаса\r\n" + tq::Cp("2;Сыр") + "\r\n3;Молоко\r\n");
    EXPECT_EQ(late1251.line, 3);
    EXPECT_EQ(U(late1251.what), "в файле смешаны кодировки UTF-8 и Windows-1251 (строка 2 в UTF-8, а эта в Windows-1251)");
    const csv::Failure lateUtf8 = DecodeFailure(tq::Cp("s00;s02\r\n1;Колбаса\r\n") + "2;Сыр\r\n");
    EXPECT_EQ(lateUtf8.line, 3);
    EXPECT_EQ(U(lateUtf8.what), "в файле смешаны кодировки UTF-8 и Windows-1251 (строка 2 в Windows-1251, а эта в UTF-8)");
    const csv::Failure marked = DecodeFailure(std::string(csv::kUtf8Bom) + "s00;s02\r\n" + tq::Cp("1;Сыр"));
    EXPECT_EQ(marked.line, 2) << "the mark says UTF-8 before any line does";
    EXPECT_NE(U(marked.what).find("смешаны кодировки"), std::string::npos) << U(marked.what);
    EXPECT_EQ(DecodeFailure("s00;s02;s03\r\n1;" + tq::Cp("Сыр") + ";Колбаса\r\n").line, 2) << "both in one line";
    EXPECT_EQ(DecodeFailure(std::string(csv::kUtf8Bom) + "s00\r\n\xFF").line, 2) << "bytes no encoding explains";
}

TEST(CsvTest, Utf16FilesWithAMarkAreReadInEitherByteOrder) {
    for (const bool bigEndian : {false, true}) {
        char separator = 0;
        const auto rows = Read(Utf16(u"s00\ts02\r\n1\tКолбаса «Докторская»; 1 кг\r\n", bigEndian), &separator);
        EXPECT_EQ(separator, '\t') << "what a spreadsheet writes as Unicode text";
        ASSERT_EQ(rows.size(), 2u) << bigEndian;
        EXPECT_EQ(rows[1].fields, (std::vector<std::string>{"1", tq::Cp("Колбаса «Докторская»; 1 кг")}));
    }
    const csv::Failure emoji = DecodeFailure(Utf16(u"s00\r\n1\r\n\U0001F600", false));
    EXPECT_EQ(emoji.line, 3) << "a surrogate pair is one character, which 1251 lacks";
    EXPECT_EQ(U(emoji.what), "символ, которого нет в кодировке Windows-1251");
    EXPECT_EQ(DecodeFailure(Utf16(u"s00\r\n1", false) + std::string("\x00\xD8\x31\x00", 4)).line, 2) << "a lone surrogate";
    EXPECT_EQ(DecodeFailure(Utf16(u"s00\r\n1", true) + std::string(1, '\0')).line, 2) << "half a character at the end";
    EXPECT_EQ(U(DecodeFailure("\xFF\xFE").what), "Файл пуст");
    EXPECT_EQ(DecodeFailure(Utf16(std::u16string(u"s00\r\n1\0", 7), false)).line, 2) << "a NUL character is no text";
}

TEST(CsvTest, TheFirstSeparatorOnTheFirstLineDecides) {
    EXPECT_EQ(csv::DetectSeparator("s00,s01;x\r\n"), ',');
    EXPECT_EQ(csv::DetectSeparator("\"a;b\",c"), ',') << "a quoted ';' separates nothing";
    EXPECT_EQ(csv::DetectSeparator("s00\r\n1,2"), ';') << "only the first line counts";
    EXPECT_EQ(csv::DetectSeparator("s00\ts01;s02,s03"), '\t');
    EXPECT_EQ(csv::DetectSeparator("\"a\tb\";c"), ';');
}

TEST(CsvTest, ASpreadsheetsSepLineNamesTheSeparatorAndIsNoRow) {
    char separator = 0;
    auto rows = Read("sep=,\r\ns00,s02\r\n1,\"a;b\"\r\n", &separator);
    EXPECT_EQ(separator, ',');
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].fields, (std::vector<std::string>{"s00", "s02"}));
    EXPECT_EQ(rows[0].line, 2) << "lines count from the file's first";
    EXPECT_EQ(rows[1].line, 3);
    rows = Read(std::string(csv::kUtf8Bom) + "sep=;\ns00,s02;x\n", &separator);
    EXPECT_EQ(separator, ';') << "the named separator, whatever the header holds";
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].fields, (std::vector<std::string>{"s00,s02", "x"}));
    rows = Read(Utf16(u"sep=\t\r\ns00\ts02\r\n", false), &separator);
    EXPECT_EQ(separator, '\t');
    EXPECT_EQ(rows.at(0).fields.size(), 2u);
    EXPECT_EQ(ReadFailure("sep=;\r\ns00;s02\r\n\"1\r\n").line, 3);
    const csv::Failure pipe = ReadFailure("sep=|\r\ns00|s02\r\n");
    EXPECT_EQ(pipe.line, 1);
    EXPECT_NE(U(pipe.what).find("«|»"), std::string::npos) << U(pipe.what);
}

TEST(CsvTest, EmptyBinaryAndUnshowableFilesAreRefused) {
    EXPECT_EQ(DecodeFailure("").what, tq::Cp("Файл пуст"));
    EXPECT_EQ(DecodeFailure("\xEF\xBB\xBF").what, tq::Cp("Файл пуст")) << "a mark alone is no content";
    EXPECT_EQ(DecodeFailure(std::string("s00\r\n1\r\n2\0\r\n", 10)).line, 3);
    EXPECT_EQ(DecodeFailure("s00\r\n\xE2\x82\xAC\xE4\xB8\xAD").line, 2) << "a Chinese character has no 1251 form";
}

}  // namespace tq::viewer::test
