#include <gtest/gtest.h>

#include "tools/daosim/recordset.h"
#include "tools/daosim/scenario.h"
#include "tools/daosim/tests/fake_file.h"

namespace daosim {
namespace {

Query Parsed(const char16_t* sql) {
    Query q;
    const Error e = ParseQuery(sql, &q);
    EXPECT_EQ(e.number, 0) << ToUtf8(sql);
    return q;
}

int ParseError(const char16_t* sql) {
    Query q;
    return ParseQuery(sql, &q).number;
}

TEST(JetSql, ReadsTheStatementsTheDataCoreSends) {
    Query q = Parsed(u"SELECT * FROM FieldsTable WHERE s00='O''Conner' ORDER BY [s01] DESC;");
    EXPECT_EQ(q.kind, Query::kSelect);
    EXPECT_EQ(q.table, u"FieldsTable");
    EXPECT_TRUE(q.hasWhere);
    EXPECT_EQ(q.where.left.text, u"s00");
    EXPECT_TRUE(q.where.right.literal);
    EXPECT_EQ(q.where.right.text, u"O'Conner");
    EXPECT_EQ(q.orderColumn, u"s01");
    EXPECT_TRUE(q.descending);

    q = Parsed(u"select * from [FieldsTable] where [s02] <> \"a\"\"b\"");
    EXPECT_TRUE(q.where.notEqual);
    EXPECT_EQ(q.where.right.text, u"a\"b");

    q = Parsed(u"PARAMETERS p TEXT(255); SELECT * FROM FieldsTable WHERE [s00]=[p]");
    ASSERT_EQ(q.parameters.size(), 1u);
    EXPECT_EQ(q.parameters[0], u"p");
    EXPECT_FALSE(q.where.right.literal);

    EXPECT_EQ(Parsed(u"DELETE * FROM FieldsTable").kind, Query::kDelete);
    EXPECT_EQ(Parsed(u"DELETE FieldsTable.* FROM FieldsTable WHERE s00='1'").kind, Query::kDelete);
    q = Parsed(u"CREATE TABLE FieldsTable (s00 TEXT(255) CONSTRAINT pk PRIMARY KEY, s01 TEXT(20) NOT NULL)");
    ASSERT_EQ(q.columns.size(), 2u);
    EXPECT_TRUE(q.columns[0].primaryKey);
    EXPECT_EQ(q.columns[1].size, 20);
    EXPECT_TRUE(q.columns[1].required);
}

TEST(JetSql, RefusesWhatJetWouldNot) {
    EXPECT_EQ(ParseError(u"SELECT * FROM FieldsTable WHERE s00='a|b'"), kSyntaxInExpression);
    EXPECT_EQ(ParseError(u"SELECT * FROM FieldsTable WHERE s00='open"), kSyntaxInExpression);
    EXPECT_EQ(ParseError(u"UPDATE FieldsTable SET s00='1'"), kInvalidStatement);
    EXPECT_EQ(ParseError(u"SELECT * FieldsTable"), kSyntaxInFrom);
    EXPECT_EQ(ParseError(u"SELECT * FROM FieldsTable ORDER s00"), kSyntaxInOrderBy);
    EXPECT_EQ(ParseError(u"CREATE TABLE t (s00 TEXT(256))"), kSyntaxInCreateTable);
    EXPECT_EQ(ParseError(u"SELECT * FROM FieldsTable extra"), kInvalidStatement);
}

TEST(PackedRows, KeepNullApartFromEmpty) {
    const std::vector<Value> row = {Text(u"Икра"), Value(), Text(), Text(u"x")};
    const Text packed = PackRow(row);
    EXPECT_EQ(UnpackRow(packed), row);
    TextView v;
    EXPECT_TRUE(PackedValue(packed, 0, &v));
    EXPECT_EQ(v, u"Икра");
    EXPECT_FALSE(PackedValue(packed, 1, &v));
    EXPECT_TRUE(PackedValue(packed, 2, &v));
    EXPECT_TRUE(v.empty());
    EXPECT_FALSE(PackedValue(packed, 9, &v));
    EXPECT_EQ(CompareNoCase(u"ИКРА", u"икра"), 0);
    EXPECT_LT(CompareNoCase(u"apple", u"Banana"), 0);
}

class DatabaseTest : public ::testing::Test {
protected:
    std::shared_ptr<SharedDisk> disk_ = std::make_shared<SharedDisk>();
    tq::FakeClock clock_;

    std::shared_ptr<Database> OpenDb(bool readOnly = false, int expect = 0) {
        auto db = std::make_shared<Database>(std::make_unique<FakeFile>(disk_), readOnly, clock_);
        EXPECT_EQ(db->Open(false, u"test.mdb").number, expect);
        return db;
    }
    // A new file with FieldsTable (s00 key, s01, s02) as the data core makes it.
    std::shared_ptr<Database> NewDb() {
        FakeFile file(disk_);
        EXPECT_TRUE(Database::Initialise(file));
        auto db = OpenDb();
        long affected = 0;
        EXPECT_EQ(Exec(*db, u"CREATE TABLE FieldsTable (s00 TEXT(255) CONSTRAINT pk PRIMARY KEY, s01 TEXT(255), "
                            u"s02 TEXT(255))", &affected),
                  0);
        return db;
    }
    static int Exec(Database& db, const char16_t* sql, long* affected, const Parameters& params = {}) {
        Query q;
        if (Error e = ParseQuery(sql, &q)) return e.number;
        return db.Execute(q, params, affected).number;
    }
    static int Add(Database& db, const char16_t* s00, const char16_t* s01) {
        uint32_t id = 0;
        return db.Insert({Text(s00), Text(s01), Value()}, &id).number;
    }
    static std::vector<Text> Keys(Database& db, const char16_t* sql, const Parameters& params = {}) {
        Query q;
        std::vector<uint32_t> ids;
        std::vector<Text> keys;
        if (ParseQuery(sql, &q) || db.Select(q, params, &ids)) return {u"<error>"};
        for (uint32_t id : ids) keys.push_back(*UnpackRow(*db.table().Row(id))[0]);
        return keys;
    }
};

TEST_F(DatabaseTest, NewFileStartsWithAJet4SignaturePage) {
    NewDb();
    ASSERT_GE(disk_->bytes.size(), kPageSize);
    EXPECT_EQ(std::string(disk_->bytes.begin() + 4, disk_->bytes.begin() + 19), "Standard Jet DB");
    EXPECT_EQ(disk_->bytes[0x14], 0x01);

    disk_->bytes[5] = 'x';
    OpenDb(false, kUnrecognisedFormat);
    disk_->bytes.assign(100, 0);
    OpenDb(false, kUnrecognisedFormat);
}

TEST_F(DatabaseTest, ComparesAndSortsWithoutCaseAndKeysRefuseDuplicates) {
    auto db = NewDb();
    EXPECT_EQ(Add(*db, u"b", u"x"), 0);
    EXPECT_EQ(Add(*db, u"A", u"y"), 0);
    EXPECT_EQ(Add(*db, u"c", u"X"), 0);
    EXPECT_EQ(Add(*db, u"a", u"dup"), kDuplicateKey);
    EXPECT_EQ(Keys(*db, u"SELECT * FROM fieldstable WHERE S01='x'"), (std::vector<Text>{u"b", u"c"}));
    EXPECT_EQ(Keys(*db, u"SELECT * FROM FieldsTable WHERE s00='a'"), (std::vector<Text>{u"A"}));
    EXPECT_EQ(Keys(*db, u"SELECT * FROM FieldsTable WHERE s01<>'X'"), (std::vector<Text>{u"A"}));
    EXPECT_EQ(Keys(*db, u"SELECT * FROM FieldsTable ORDER BY s00"), (std::vector<Text>{u"A", u"b", u"c"}));
    // Ties keep the stored order.
    EXPECT_EQ(Keys(*db, u"SELECT * FROM FieldsTable ORDER BY s01 DESC"), (std::vector<Text>{u"A", u"b", u"c"}));
    EXPECT_EQ(Keys(*db, u"SELECT * FROM FieldsTable WHERE nope='1'"), (std::vector<Text>{u"<error>"}));
    Parameters params{{u"p", Text(u"C")}};
    EXPECT_EQ(Keys(*db, u"PARAMETERS p TEXT(255); SELECT * FROM FieldsTable WHERE s00=[p]", params),
              (std::vector<Text>{u"c"}));
    long affected = 0;
    EXPECT_EQ(Exec(*db, u"SELECT * FROM FieldsTable", &affected), kNotActionQuery);
    EXPECT_EQ(Exec(*db, u"SELECT * FROM Other", &affected), kNotActionQuery);
    EXPECT_EQ(Exec(*db, u"DELETE FROM Other", &affected), kTableNotFound);
    EXPECT_EQ(Exec(*db, u"PARAMETERS p TEXT(255); SELECT * FROM FieldsTable WHERE s00=[q]", &affected),
              kNotActionQuery);
    EXPECT_EQ(Exec(*db, u"DELETE FROM FieldsTable WHERE s01='X'", &affected), 0);
    EXPECT_EQ(affected, 2);
    EXPECT_EQ(Exec(*db, u"CREATE TABLE FieldsTable (s00 TEXT(255))", &affected), kTableExists);
}

TEST_F(DatabaseTest, ReopeningReplaysTheLogAndIgnoresATornTail) {
    auto db = NewDb();
    Add(*db, u"1", u"one");
    Add(*db, u"2", u"two");
    uint32_t id = db->table().FindKey(u"1");
    EXPECT_EQ(db->Update(id, {Text(u"1"), Text(u"uno"), Value()}).number, 0);
    EXPECT_EQ(db->Delete(db->table().FindKey(u"2")).number, 0);
    db->Close();
    disk_->bytes.insert(disk_->bytes.end(), {40, 0, 0, 0, 1, 2, 3});  // a frame cut short

    db = OpenDb();
    ASSERT_EQ(db->table().RowCount(), 1u);
    EXPECT_EQ(*UnpackRow(*db->table().Row(id))[1], u"uno");
    EXPECT_EQ(Add(*db, u"3", u"three"), 0);
    db->Close();
    EXPECT_EQ(OpenDb()->table().RowCount(), 2u);
}

TEST_F(DatabaseTest, TransactionsReachTheFileAtCommitAndRollbackForgets) {
    auto db = NewDb();
    auto other = OpenDb();
    EXPECT_EQ(db->Begin().number, 0);
    EXPECT_EQ(db->Begin().number, kTooManyTransactions);
    Add(*db, u"1", u"one");
    EXPECT_EQ(db->table().RowCount(), 1u);
    other->Refresh();
    EXPECT_EQ(other->table().RowCount(), 0u) << "uncommitted rows must not show elsewhere";
    // The other opener waits for the lock, then gives up.
    EXPECT_EQ(Add(*other, u"9", u"nine"), kLocked);
    EXPECT_GE(clock_.TotalSleptMs(), kLockWaitMs);
    EXPECT_EQ(db->Commit().number, 0);
    other->Refresh();
    EXPECT_EQ(other->table().RowCount(), 1u);

    db->Begin();
    Add(*db, u"2", u"two");
    long affected = 0;
    EXPECT_EQ(Exec(*db, u"DELETE FROM FieldsTable", &affected), 0);
    EXPECT_EQ(affected, 2);
    EXPECT_EQ(db->Rollback().number, 0);
    EXPECT_EQ(db->table().RowCount(), 1u);
    EXPECT_EQ(db->Commit().number, kNoTransaction);
    EXPECT_EQ(Add(*other, u"9", u"nine"), 0);
    db->Refresh();
    EXPECT_EQ(db->table().RowCount(), 2u);
}

TEST_F(DatabaseTest, ReadOnlyRefusesWritesAndExclusiveKeepsOthersOut) {
    NewDb()->Close();
    auto db = OpenDb(true);
    EXPECT_EQ(Add(*db, u"1", u"one"), kReadOnly);
    db->Close();
    auto alone = std::make_shared<Database>(std::make_unique<FakeFile>(disk_), false, clock_);
    EXPECT_EQ(alone->Open(true, u"t").number, 0);
    OpenDb(false, kCannotOpen);
    alone->Close();
    auto shared = OpenDb();
    auto second = std::make_shared<Database>(std::make_unique<FakeFile>(disk_), false, clock_);
    EXPECT_EQ(second->Open(true, u"t").number, kFileInUse);
}

TEST_F(DatabaseTest, AWastefulLogIsCompactedWhenOpenedAlone) {
    auto db = NewDb();
    const uint32_t id = (Add(*db, u"1", u"x"), db->table().FindKey(u"1"));
    const Text big(200, u'z');
    for (int i = 0; i < 12000; ++i) db->Update(id, {Text(u"1"), big, Value()});
    db->Close();
    const size_t before = disk_->bytes.size();
    ASSERT_GT(before, 4u << 20);
    db = OpenDb();
    EXPECT_LT(disk_->bytes.size(), kPageSize + 4096);
    EXPECT_EQ(*UnpackRow(*db->table().Row(id))[1], big);
}

class RecordsetTest : public DatabaseTest {
protected:
    void SetUp() override {
        db_ = NewDb();
        for (const char16_t* k : {u"c", u"a", u"b"}) Add(*db_, k, u"v");
    }
    std::unique_ptr<Recordset> Open(const char16_t* sql) {
        Query q;
        std::vector<uint32_t> ids;
        EXPECT_EQ(ParseQuery(sql, &q).number, 0);
        EXPECT_EQ(db_->Select(q, {}, &ids).number, 0);
        return std::make_unique<Recordset>(db_, ids, !db_->readOnly(), false);
    }
    static Text Key(const Recordset& rs) {
        Value v;
        if (Error e = rs.Read(0, &v)) return u"error " + FromAscii(std::to_string(e.number));
        return v ? *v : u"null";
    }
    std::shared_ptr<Database> db_;
};

TEST_F(RecordsetTest, CountsVisitedRowsAndReportsBofEof) {
    auto rs = Open(u"SELECT * FROM FieldsTable ORDER BY s00");
    EXPECT_FALSE(rs->bof());
    EXPECT_FALSE(rs->eof());
    EXPECT_EQ(rs->RecordCount(), 1);
    EXPECT_EQ(Key(*rs), u"a");
    EXPECT_EQ(rs->Move(-1).number, 0);
    EXPECT_TRUE(rs->bof());
    EXPECT_EQ(Key(*rs), u"error 3021");
    EXPECT_EQ(rs->Move(-1).number, kNoCurrentRecord);
    EXPECT_EQ(rs->MoveNext().number, 0);
    EXPECT_EQ(rs->MoveNext().number, 0);
    EXPECT_EQ(rs->RecordCount(), 2);
    EXPECT_EQ(rs->MoveLast().number, 0);
    EXPECT_EQ(rs->RecordCount(), 3);
    EXPECT_EQ(Key(*rs), u"c");
    EXPECT_EQ(rs->MoveNext().number, 0);
    EXPECT_TRUE(rs->eof());
    EXPECT_FALSE(rs->bof());
    EXPECT_EQ(rs->MoveNext().number, kNoCurrentRecord);
    EXPECT_EQ(rs->Move(-2).number, 0);
    EXPECT_EQ(Key(*rs), u"b");

    auto empty = Open(u"SELECT * FROM FieldsTable WHERE s00='none'");
    EXPECT_TRUE(empty->bof() && empty->eof());
    EXPECT_EQ(empty->RecordCount(), 0);
    EXPECT_EQ(empty->MoveFirst().number, kNoCurrentRecord);
    EXPECT_EQ(empty->MoveNext().number, kNoCurrentRecord);
    EXPECT_EQ(empty->Move(1).number, kNoCurrentRecord);
}

TEST_F(RecordsetTest, AddNewAppendsAtTheEndAndReturnsToThePreviousRow) {
    auto rs = Open(u"SELECT * FROM FieldsTable ORDER BY s00");
    rs->MoveNext();  // b
    EXPECT_EQ(rs->Write(1, Text(u"w")).number, kNoEditInProgress);
    EXPECT_EQ(rs->Update().number, kNoEditInProgress);
    EXPECT_EQ(rs->AddNew().number, 0);
    EXPECT_EQ(rs->editMode(), kEditAdd);
    EXPECT_EQ(Key(*rs), u"null");
    EXPECT_EQ(rs->Write(0, Text(u"0")).number, 0);
    EXPECT_EQ(rs->Write(1, Text(256, u'x')).number, kFieldTooSmall);
    EXPECT_EQ(rs->Write(1, Text()).number, kZeroLength);
    EXPECT_EQ(rs->Update().number, 0);
    EXPECT_EQ(Key(*rs), u"b");
    EXPECT_EQ(rs->RecordCount(), 3);
    rs->MoveLast();
    EXPECT_EQ(Key(*rs), u"0") << "a new row goes last whatever the order";
    EXPECT_EQ(rs->RecordCount(), 4);

    rs->AddNew();
    rs->Write(0, Text(u"A"));
    EXPECT_EQ(rs->Update().number, kDuplicateKey);
    EXPECT_EQ(rs->editMode(), kEditAdd);
    EXPECT_EQ(rs->CancelUpdate().number, 0);
    EXPECT_EQ(Key(*rs), u"0");

    auto empty = Open(u"SELECT * FROM FieldsTable WHERE s00='new'");
    empty->AddNew();
    empty->Write(0, Text(u"new"));
    EXPECT_EQ(empty->Update().number, 0);
    EXPECT_FALSE(empty->bof());
    EXPECT_TRUE(empty->eof());
    EXPECT_EQ(empty->MoveFirst().number, 0);
    EXPECT_EQ(Key(*empty), u"new");
}

TEST_F(RecordsetTest, DeleteLeavesADeadCurrentRow) {
    auto rs = Open(u"SELECT * FROM FieldsTable");
    rs->MoveLast();
    EXPECT_EQ(rs->Delete().number, 0);
    EXPECT_EQ(Key(*rs), u"error 3021");
    EXPECT_FALSE(rs->eof());
    EXPECT_EQ(rs->Delete().number, kNoCurrentRecord);
    EXPECT_EQ(rs->Edit().number, kNoCurrentRecord);
    EXPECT_EQ(rs->RecordCount(), 2);
    EXPECT_EQ(rs->MoveNext().number, 0);
    EXPECT_TRUE(rs->eof());
    EXPECT_EQ(rs->Move(-1).number, 0);
    EXPECT_EQ(Key(*rs), u"a") << "the deleted row cannot be moved back to";

    EXPECT_EQ(rs->Edit().number, 0);
    rs->Write(1, Text(u"edited"));
    EXPECT_EQ(rs->Update().number, 0);
    Value v;
    rs->Read(1, &v);
    EXPECT_EQ(*v, u"edited");
    EXPECT_EQ(rs->Close().number, 0);
    EXPECT_EQ(rs->Close().number, kObjectInvalid);
    EXPECT_EQ(rs->MoveFirst().number, kObjectInvalid);
}

TEST_F(RecordsetTest, GetRowsHandsOutChunksAndAdvances) {
    auto rs = Open(u"SELECT * FROM FieldsTable ORDER BY s00 DESC");
    std::vector<Text> rows;
    EXPECT_EQ(rs->GetRows(2, &rows).number, 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(UnpackRow(rows[0]), (std::vector<Value>{Text(u"c"), Text(u"v"), Value()}));
    EXPECT_EQ(Key(*rs), u"a");
    EXPECT_EQ(rs->GetRows(2, &rows).number, 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rs->eof());
    EXPECT_EQ(rs->GetRows(2, &rows).number, kNoCurrentRecord);

    auto vanishing = Open(u"SELECT * FROM FieldsTable");
    vanishing->SetFetchLimit(2);
    EXPECT_EQ(vanishing->MoveNext().number, 0);
    EXPECT_EQ(vanishing->MoveNext().number, kDiskError);
}

TEST(ScenarioFile, ReadsEveryFault) {
    Scenario s;
    s.Parse("# faults\nopen-fails 3051 Users\nupdate-locked\ndelay movenext 250\nvanish-after 10\nnot-licensed\n"
            "open-fails 42\nbogus\n");
    EXPECT_EQ(s.OpenFault(u"Z:\\x\\USERS.mdb"), 3051);
    EXPECT_EQ(s.OpenFault(u"Z:\\x\\Goods.mdb"), 0);
    EXPECT_TRUE(s.updateLocked());
    EXPECT_EQ(s.DelayMs("MoveNext"), 250u);
    EXPECT_EQ(s.DelayMs("MoveLast"), 0u);
    EXPECT_EQ(s.vanishAfter(), 10);
    EXPECT_TRUE(s.notLicensed());
    s.Parse("open-fails 3343\n");
    EXPECT_EQ(s.OpenFault(u"any"), 3343);
    EXPECT_FALSE(s.updateLocked());
}

}  // namespace
}  // namespace daosim
