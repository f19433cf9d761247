#include "core/recordset.h"
#include "db_fixture.h"

namespace tq::viewer::test {

TEST_F(DbTest, AnIdenticalQueryIsReusedWithItsPosition) {
    OpenNew(DbHelp);
    for (const char* code : {"1", "2", "3"}) ASSERT_EQ(Save(DbHelp, {{0, code}}), 0);
    CNVRecordset* rs = DbRecordset(DbHelp);
    ASSERT_TRUE(rs->OpenListing());
    ASSERT_TRUE(rs->MoveNextRow());
    CNVRecord record;
    rs->CopyToRecord(&record);
    EXPECT_EQ(record.Value(0), "2");
    ASSERT_TRUE(rs->OpenListing()) << "the same text again";
    rs->CopyToRecord(&record);
    EXPECT_EQ(record.Value(0), "2") << "reused without moving";
    ASSERT_TRUE(rs->OpenQuery(RowQuery::Where(0, "3", -1)));
    EXPECT_EQ(rs->RecordCount(), 1);
    ASSERT_TRUE(rs->CloseQuery());
    EXPECT_EQ(rs->RecordCount(), 0);
}

TEST_F(DbTest, QuotesInValuesAreStoredAndFoundVerbatim) {
    const std::string path = OpenNew(DbLabels);
    const std::string name = "O'Brien'; DROP TABLE FieldsTable; --";
    ASSERT_EQ(Save(DbLabels, {{0, "7"}, {1, name}, {2, "\"[]%_*?"}}), 0);
    CNVRecord record;
    ASSERT_TRUE(DbRecordset(DbLabels)->FindByField(&record, 1, name.c_str()))
        << "a quote in a lookup value must not break the query";
    EXPECT_EQ(record.Value(0), "7");
    EXPECT_EQ(record.Value(2), "\"[]%_*?");
    ASSERT_EQ(RawRows(path).size(), 1u);

    // A code with a quote after its digits still reads as a number: the
    // store must replace its row, not append it a second time. (DbSave
    // refuses such a code; the store itself must still be sound.)
    CNVRecord first;
    first.SetFieldText("8'x", 0);
    first.SetFieldText("first", 1);
    ASSERT_TRUE(DbRecordset(DbLabels)->StoreRecord(first));
    CNVRecord second = first;
    second.SetFieldText("second", 1);
    ASSERT_TRUE(DbRecordset(DbLabels)->StoreRecord(second));
    const auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][0], "8'x");
    EXPECT_EQ(rows[1][1], "second");
}

TEST_F(DbTest, FindByFieldRejectsBadArguments) {
    OpenNew(DbGoods);
    CNVRecordset* rs = DbRecordset(DbGoods);
    CNVRecord record;
    record.SetFieldText("x", 1);
    EXPECT_FALSE(rs->FindByField(nullptr, 0, "1"));
    EXPECT_FALSE(rs->FindByField(&record, 41, "1"));
    EXPECT_EQ(record.Value(1), "") << "cleared before the arguments are checked";
    EXPECT_FALSE(rs->FindByField(&record, 0, nullptr));
}

TEST_F(DbTest, DeleteAllRowsEmptiesAnyTable) {
    const std::string path = OpenNew(DbGoods);
    CNVRecordset* rs = DbRecordset(DbGoods);
    EXPECT_TRUE(rs->DeleteAllRows()) << "an empty table";
    for (int i = 1; i <= 40; ++i) ASSERT_EQ(Save(DbGoods, {{0, std::to_string(i)}}), 0);
    RawExec(path, "INSERT INTO FieldsTable(s00) VALUES('*')");
    EXPECT_TRUE(rs->DeleteAllRows());
    EXPECT_TRUE(RawRows(path).empty()) << "the starred row goes too";
}

TEST_F(DbTest, AppendsAfterAnotherConnectionChangedTheTableAreCounted) {
    const std::string path = OpenNew(DbHelp);
    ASSERT_EQ(Save(DbHelp, {{0, "1"}}), 0);
    RawExec(path, "INSERT INTO FieldsTable(s00) VALUES('2'); INSERT INTO FieldsTable(s00) VALUES('3');");
    ASSERT_EQ(Save(DbHelp, {{0, "4"}}), 0);
    CNVRecordset* rs = DbRecordset(DbHelp);
    rs->CloseQuery();
    ASSERT_TRUE(rs->OpenWholeTable());
    EXPECT_EQ(rs->RecordCount(), 4) << "our own appends and the other connection's rows";
    RawExec(path, "DELETE FROM FieldsTable WHERE s00='2'");
    rs->CloseQuery();
    ASSERT_TRUE(rs->OpenWholeTable());
    EXPECT_EQ(rs->RecordCount(), 3) << "a change by another connection after the count was taken";
    EXPECT_EQ(DbCount(DbHelp), 3);
}

}  // namespace tq::viewer::test
