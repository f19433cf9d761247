#include "listed_rows.h"

#include <gtest/gtest.h>

#include <string>

#include "common/cp1251.h"
#include "core/record.h"

namespace tq::viewer::test {

namespace {

CNVRecord Record(const std::string& code, const std::string& name, int column = 2, const std::string& text = "") {
    CNVRecord record;
    record.SetFieldText(code.c_str(), 0);
    record.SetFieldText(tq::Cp(name).c_str(), 1);
    if (!text.empty()) record.SetFieldText(text.c_str(), column);
    return record;
}

}  // namespace

TEST(ListedRowsTest, CellsComeBackAsKeptAndCutOutsideTheListingEmpty) {
    ListedRows rows;
    ASSERT_TRUE(rows.Append(Record("17", "Икра черная.", 40, std::string(300, 'W'))));
    rows.AppendEmpty();
    ASSERT_EQ(rows.Count(), 2);
    EXPECT_STREQ(rows.Cell(0, 0), "17");
    EXPECT_EQ(tq::Cp1251ToUtf8(rows.Cell(0, 1)), "Икра черная.");
    EXPECT_EQ(std::string(rows.Cell(0, 40)), std::string(254, 'W')) << "values are cut as the list shows them";
    EXPECT_STREQ(rows.Cell(0, 39), "");
    EXPECT_STREQ(rows.Cell(1, 0), "") << "an empty row has 41 empty cells";
    EXPECT_STREQ(rows.Cell(1, 40), "");
    EXPECT_STREQ(rows.Cell(2, 0), "");
    EXPECT_STREQ(rows.Cell(-1, 0), "");
    EXPECT_STREQ(rows.Cell(0, 41), "");
    rows.Clear();
    EXPECT_EQ(rows.Count(), 0);
}

TEST(ListedRowsTest, FindIgnoresTheCaseOfEveryCyrillicLetter) {
    EXPECT_EQ(tq::Cp1251ToUtf8(LowerCp1251(tq::Cp("АБВЁЯ ЇІЄҐЎ Ab1"))), "абвёя їієґў ab1");
    ListedRows rows;
    rows.Append(Record("1", "Сыр"));
    rows.Append(Record("2", "ЁЛКА"));
    EXPECT_EQ(rows.Find(tq::Cp("ёлк"), 0, {0, 1}), 1);
    EXPECT_EQ(rows.Find(tq::Cp("ёлк"), 0, {0}), -1) << "only the given columns are searched";
    EXPECT_EQ(rows.Find("2", 0, {1}), 1) << "the code is compared whatever the columns";
    EXPECT_EQ(rows.Find("", 0, {0, 1}), -1);
    EXPECT_EQ(rows.Find(tq::Cp("Сыр"), 7, {1}), 0) << "a start past the end begins at the top";
}

TEST(ListedRowsTest, ARowPastTheByteLimitIsKeptEmpty) {
    ListedRows rows(41 + 4 + 41);
    EXPECT_TRUE(rows.Append(Record("1234", "")));
    EXPECT_FALSE(rows.Append(Record("5", "")));
    ASSERT_EQ(rows.Count(), 2);
    EXPECT_STREQ(rows.Cell(1, 0), "");
}

}  // namespace tq::viewer::test
