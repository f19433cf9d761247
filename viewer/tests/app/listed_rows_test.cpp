#include "listed_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cp1251.h"
#include "core/cached_result.h"
#include "core/record.h"

namespace tq::viewer::test {

namespace {

// Appends a row packed as the data core packs it.
bool AppendRecord(ListedRows& rows, const std::string& code, const std::string& name, int column = 2,
                  const std::string& text = "") {
    std::string packed;
    for (int i = 0; i < kFieldCount; ++i)
        PackValue(&packed, i == 0 ? code : i == 1 ? tq::Cp(name) : i == column ? text : std::string());
    return rows.Append(PackedRow(packed));
}

}  // namespace

TEST(ListedRowsTest, CellsComeBackAsKeptAndCutOutsideTheListingEmpty) {
    ListedRows rows;
    ASSERT_TRUE(AppendRecord(rows, "17", "Икра черная.", 40, std::string(300, 'W')));
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

std::vector<std::string> Column(const ListedRows& rows, int column) {
    std::vector<std::string> cells;
    for (int row = 0; row < rows.Count(); ++row) cells.push_back(tq::Cp1251ToUtf8(rows.Cell(row, column)));
    return cells;
}

TEST(ListedRowsTest, SortingPutsNumbersInTheirOrderAndTextInTheAlphabets) {
    ListedRows rows;
    const char* names[] = {"яблоки", "Ёрш", "ель", "Жёлудь", "ежевика", "apple", "Banana", "10", "9", "-1.5",
                           "0,5", "", "Ель", "1a"};
    int code = 0;
    for (const char* name : names) ASSERT_TRUE(AppendRecord(rows, std::to_string(++code), name));
    const int follow = rows.SortBy(1, false, 1);  // row 1 holds "Ёрш"
    EXPECT_EQ(Column(rows, 1), (std::vector<std::string>{"", "-1.5", "0,5", "9", "10", "1a", "apple", "Banana",
                                                         "ежевика", "Ель", "ель", "Ёрш", "Жёлудь", "яблоки"}))
        << "empty first, numbers by value, then Latin, then Cyrillic with Ё after Е, case aside";
    EXPECT_EQ(rows.Cell(follow, 1), tq::Cp("Ёрш")) << "the followed row is found where it went";
    EXPECT_EQ(Column(rows, 0)[9], "13") << "letters equal but for case: the capital first, as the code page has it";
    rows.SortBy(1, true, -1);
    EXPECT_EQ(Column(rows, 1).front(), "яблоки");
    EXPECT_EQ(Column(rows, 1).back(), "");
    rows.SortBy(0, false, -1);
    EXPECT_EQ(Column(rows, 0)[1], "2") << "codes sort as numbers: 2 before 10";
    EXPECT_EQ(rows.SortBy(41, false, 3), 3) << "no such column: nothing moves";
}

TEST(ListedRowsTest, FindIgnoresTheCaseOfEveryCyrillicLetter) {
    EXPECT_EQ(tq::Cp1251ToUtf8(LowerCp1251(tq::Cp("АБВЁЯ ЇІЄҐЎ Ab1"))), "абвёя їієґў ab1");
    ListedRows rows;
    AppendRecord(rows, "1", "Сыр");
    AppendRecord(rows, "2", "ЁЛКА");
    EXPECT_EQ(rows.Find(tq::Cp("ёлк"), 0, {0, 1}), 1);
    EXPECT_EQ(rows.Find(tq::Cp("ёлк"), 0, {0}), -1) << "only the given columns are searched";
    EXPECT_EQ(rows.Find("2", 0, {1}), 1) << "the code is compared whatever the columns";
    EXPECT_EQ(rows.Find("", 0, {0, 1}), -1);
    EXPECT_EQ(rows.Find(tq::Cp("Сыр"), 7, {1}), 0) << "a start past the end begins at the top";
}

TEST(ListedRowsTest, ARowPastTheByteLimitIsKeptEmpty) {
    ListedRows rows(41 + 4 + 41);
    EXPECT_TRUE(AppendRecord(rows, "1234", ""));
    EXPECT_FALSE(AppendRecord(rows, "5", ""));
    ASSERT_EQ(rows.Count(), 2);
    EXPECT_STREQ(rows.Cell(1, 0), "");
}

}  // namespace tq::viewer::test
