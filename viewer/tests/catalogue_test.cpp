#include <gtest/gtest.h>

#include "common/cp1251.h"
#include "core/catalogue.h"

namespace tq::viewer::test {

namespace {

std::string Caption(int db, int column) { return tq::Cp1251ToUtf8(FieldCaptions()[db][column]); }

int UsedColumns(int db) {
    int used = 0;
    for (int i = 0; i < kFieldCount; ++i) used += FieldCaptions()[db][i][0] != '\0';
    return used;
}

}  // namespace

TEST(Catalogue, EachDatabaseUsesItsColumns) {
    const int expected[kDatabaseCount] = {25, 13, 4, 5, 10, 6, 3};
    for (int db = 0; db < kDatabaseCount; ++db) EXPECT_EQ(UsedColumns(db), expected[db]) << "database " << db;
    EXPECT_EQ(Caption(DbGoods, 9), "") << "s09 is not used by goods";
    EXPECT_EQ(Caption(DbGoods, 0), "Код(*)");
    EXPECT_EQ(Caption(DbGoods, 31), "Код файла описания");
    EXPECT_EQ(Caption(DbUsers, 28), "Печать Вес<НмПВ");
    EXPECT_EQ(Caption(DbLabels, 2), "Двумерный ШК");
    EXPECT_EQ(Caption(DbHelp, 23), "Файл ролика");
    EXPECT_EQ(Caption(DbSells, 25), "Стоимость");
    EXPECT_EQ(Caption(DbReports, 1), "От(*)");
    EXPECT_EQ(Caption(DbResources, 21), "Ресурс");
}

TEST(Catalogue, FilesLabelsSortColumnsAndCodeFormats) {
    EXPECT_STREQ(DatabaseFile(DbGoods), "Internal\\TQScale.mdb");
    EXPECT_STREQ(DatabaseFile(DbSells), "Internal\\Sells.mdb");
    EXPECT_STREQ(DatabaseFile(DbResources), "Internal\\Resources.mdb");
    EXPECT_EQ(tq::Cp1251ToUtf8(ChooserLabel(DbReports)), "Отчеты");
    const int sort[kDatabaseCount] = {-1, 1, 1, 0, 0, 1, 0};
    for (int db = 0; db < kDatabaseCount; ++db) {
        EXPECT_EQ(SortColumn(db), sort[db]) << "database " << db;
        EXPECT_STREQ(CodeFormat(db), db == DbSells ? "%08lu" : "%1lu");
    }
    EXPECT_STREQ(DatabaseFile(7), "");
}

}  // namespace tq::viewer::test
