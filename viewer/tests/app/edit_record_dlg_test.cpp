#include <string>

#include "app_fixture.h"
#include "core/record.h"

namespace tq::viewer::test {

namespace {

class EditRecordTest : public ScaleFolderTest {
protected:
    void SetUp() override {
        ScaleFolderTest::SetUp();
        CreateDatabases();
        OpenAll();
    }
    // The editor opened on one record, as the main dialog runs it.
    CEditRecordDlg& Open(int db, int32_t code) {
        dlg_ = std::make_unique<CEditRecordDlg>(view, db, code);
        dlg_->OnInitDialog();
        return *dlg_;
    }
    std::string Stored(int db, int32_t code, int field) {
        CNVRecord record;
        DbFindByCode(db, &record, code);
        return tq::Cp1251ToUtf8(record.Value(field));
    }
    std::vector<std::string> ShownTexts() {
        std::vector<std::string> texts;
        for (const auto& s : view.shown) texts.push_back(s.text);
        return texts;
    }

    FakeEditView view;
    std::unique_ptr<CEditRecordDlg> dlg_;
};

TEST_F(EditRecordTest, OpensWithCaptionsValuesAndOnlyTheUsedFieldsEditable) {
    InsertRaw(DbGoods, {"42", "4600000000017", "Яблоки", "0", "89.90", "", "", "", "", "", "скрыто"});
    Open(DbGoods, 42);
    EXPECT_EQ(view.captions[0], "Код(*)");
    EXPECT_EQ(view.captions[2], "Наименование");
    EXPECT_EQ(view.captions[9], "");
    EXPECT_EQ(view.values[0], "42");
    EXPECT_EQ(view.values[2], "Яблоки");
    EXPECT_EQ(view.values[10], "скрыто") << "a disabled edit still holds its value";
    EXPECT_FALSE(view.enabled[0]) << "the code is never editable";
    for (int i = 1; i < kFieldCount; ++i) {
        const bool used = (i >= 1 && i <= 8) || (i >= 11 && i <= 15) || (i >= 21 && i <= 31);
        EXPECT_EQ(view.enabled[i], used) << i;
    }

    view = FakeEditView();
    Open(DbResources, 1);
    for (int i = 0; i < kFieldCount; ++i) EXPECT_EQ(view.enabled[i], i == 1 || i == 21) << i;
}

TEST_F(EditRecordTest, SalesCodeIsLookedUpWithItsEightDigits) {
    InsertRaw(DbSells, {"00000012", "08.12.2026"});
    Open(DbSells, 12);
    EXPECT_EQ(view.values[0], "00000012");
    EXPECT_EQ(view.values[1], "08.12.2026");
}

TEST_F(EditRecordTest, UnknownCodeOpensEmptyWithoutAMessage) {
    InsertRaw(DbHelp, {"1", "Справка"});
    Open(DbHelp, 99);
    for (const auto& value : view.values) EXPECT_EQ(value, "");
    EXPECT_TRUE(view.shown.empty());
}

TEST_F(EditRecordTest, SavingOnCloseWritesTheEditsAndKeepsHiddenColumns) {
    InsertRaw(DbGoods, {"42", "0046", "Яблоки", "", "", "", "", "", "", "", "скрыто"});
    CEditRecordDlg& dlg = Open(DbGoods, 42);
    view.values[2] = "Груши";
    view.values[4] = "120.50";
    view.answers.Queue({true});
    dlg.OnClose();
    EXPECT_EQ(ShownTexts(), std::vector<std::string>{"Сохранить изменения?"});
    EXPECT_EQ(view.shown[0].kind, MessageKind::Question);
    EXPECT_EQ(view.finished, std::vector<int>{2});
    EXPECT_EQ(Stored(DbGoods, 42, 2), "Груши");
    EXPECT_EQ(Stored(DbGoods, 42, 4), "120.50");
    EXPECT_EQ(Stored(DbGoods, 42, 1), "0046") << "the barcode keeps its zeros";
    EXPECT_EQ(Stored(DbGoods, 42, 10), "скрыто");
    EXPECT_EQ(Rows(DbGoods).size(), 1u);
}

TEST_F(EditRecordTest, NoToTheQuestionClosesWithoutSaving) {
    InsertRaw(DbLabels, {"3", "Весовая"});
    CEditRecordDlg& dlg = Open(DbLabels, 3);
    view.values[1] = "Другая";
    view.answers.Queue({false});
    dlg.OnClose();
    EXPECT_EQ(view.finished, std::vector<int>{2});
    EXPECT_EQ(Stored(DbLabels, 3, 1), "Весовая");
}

// Enter and Esc once lost an edit without a word.
TEST_F(EditRecordTest, EnterAndEscAskBeforeAChangeIsLostAndCloseQuietlyWithout) {
    InsertRaw(DbLabels, {"3", "Весовая"});
    for (const int key : {1, 2}) {  // IDOK, IDCANCEL
        view = FakeEditView();
        Open(DbLabels, 3).OnOkOrCancel(key);
        EXPECT_TRUE(view.shown.empty()) << key << ": nothing changed, nothing asked";
        EXPECT_EQ(view.finished, std::vector<int>{key});

        view = FakeEditView();
        CEditRecordDlg& dlg = Open(DbLabels, 3);
        view.values[1] = "Другая " + std::to_string(key);
        view.answers.Queue({true});
        dlg.OnOkOrCancel(key);
        EXPECT_EQ(ShownTexts(), std::vector<std::string>{"Сохранить изменения?"}) << key;
        EXPECT_EQ(Stored(DbLabels, 3, 1), "Другая " + std::to_string(key)) << "Yes saves";
    }
    view = FakeEditView();
    CEditRecordDlg& dlg = Open(DbLabels, 3);
    view.values[1] = "Третья";
    view.answers.Queue({false});
    dlg.OnOkOrCancel(2);
    EXPECT_EQ(Stored(DbLabels, 3, 1), "Другая 2") << "No keeps what is stored";
    EXPECT_EQ(view.finished, std::vector<int>{2});
}

TEST_F(EditRecordTest, ANewRecordTakesItsCodeAndTheDatabasesRulesButNeverReplacesOne) {
    InsertRaw(DbGoods, {"42", "0046", "Яблоки"});
    dlg_ = std::make_unique<CEditRecordDlg>(view, DbGoods, 0, true);
    dlg_->OnInitDialog();
    EXPECT_TRUE(view.enabled[0]) << "the code is typed in";
    for (const auto& value : view.values) EXPECT_EQ(value, "");

    view.values[0] = "042";  // saved as 42: the record that is there
    view.values[2] = "Груши";
    view.answers.Queue({true});
    dlg_->OnClose();
    EXPECT_EQ(ShownTexts(), (std::vector<std::string>{"Сохранить изменения?",
                                                      "Запись с кодом «042» уже есть: новая запись её не заменит"}));
    EXPECT_TRUE(view.finished.empty()) << "the editor stays open with the edits";
    EXPECT_EQ(Stored(DbGoods, 42, 2), "Яблоки");

    view.values[0] = "12abc";
    view.answers.Queue({true});
    dlg_->OnClose();
    EXPECT_EQ(ShownTexts().back(), "Ошибка при сохранении записи!") << "a code that is no number";

    view.values[0] = "43";
    view.answers.Queue({true});
    dlg_->OnClose();
    EXPECT_EQ(Stored(DbGoods, 43, 2), "Груши");
    EXPECT_EQ(view.finished, std::vector<int>{2});

    view = FakeEditView();
    dlg_ = std::make_unique<CEditRecordDlg>(view, DbUsers, 0, true);
    dlg_->OnInitDialog();
    view.values[0] = "5";
    view.answers.Queue({true});
    dlg_->OnClose();
    EXPECT_EQ(ShownTexts().back(), "Ошибка при сохранении записи!") << "a user needs a name and a password";
}

TEST_F(EditRecordTest, FailedSaveKeepsTheEditorOpenWithTheEdits) {
    InsertRaw(DbUsers, {"1", "Иванов", "1", "1234"});
    CEditRecordDlg& dlg = Open(DbUsers, 1);
    view.values[1] = "   ";  // a user needs a name
    view.values[3] = "5678";
    view.answers.Queue({true});
    dlg.OnClose();
    EXPECT_EQ(ShownTexts(), (std::vector<std::string>{"Сохранить изменения?", "Ошибка при сохранении записи!"}));
    EXPECT_EQ(view.shown[1].kind, MessageKind::Error);
    EXPECT_TRUE(view.finished.empty());
    EXPECT_EQ(view.values[3], "5678");
    EXPECT_EQ(Stored(DbUsers, 1, 1), "Иванов");

    view.values[1] = "Петров";  // corrected, saved
    view.answers.Queue({true});
    dlg.OnClose();
    EXPECT_EQ(view.finished, std::vector<int>{2});
    EXPECT_EQ(Stored(DbUsers, 1, 1), "Петров");
    EXPECT_EQ(Stored(DbUsers, 1, 3), "5678");
}

TEST_F(EditRecordTest, TextLongerThan254IsCutWhenSaved) {
    InsertRaw(DbHelp, {"1", "Справка"});
    CEditRecordDlg& dlg = Open(DbHelp, 1);
    view.values[21] = std::string(300, 'f');
    view.answers.Queue({true});
    dlg.OnClose();
    EXPECT_EQ(Stored(DbHelp, 1, 21), std::string(254, 'f'));
}

TEST_F(EditRecordTest, CodeZeroCanNeitherBeDeletedNorSaved) {
    InsertRaw(DbHelp, {"1", "Справка"});
    CEditRecordDlg& dlg = Open(DbHelp, 0);
    view.answers.Queue({true});
    dlg.OnDelete();
    EXPECT_EQ(ShownTexts(), (std::vector<std::string>{"Удалить запись?", "Ошибка при удалении записи!"}));
    EXPECT_EQ(view.shown[1].kind, MessageKind::Error);
    EXPECT_EQ(view.finished, std::vector<int>{1});

    Open(DbHelp, 0);
    view.shown.clear();
    view.finished.clear();
    view.values[1] = "Новая";
    view.answers.Queue({true});
    dlg_->OnClose();
    EXPECT_EQ(ShownTexts(), (std::vector<std::string>{"Сохранить изменения?", "Ошибка при сохранении записи!"}));
    EXPECT_EQ(Rows(DbHelp).size(), 1u);
}

TEST_F(EditRecordTest, DeleteAsksThenRemovesTheRecord) {
    InsertRaw(DbReports, {"1", "01.12.2026"});
    InsertRaw(DbReports, {"2", "02.12.2026"});
    CEditRecordDlg& dlg = Open(DbReports, 2);
    view.answers.Queue({false});
    dlg.OnDelete();
    EXPECT_TRUE(view.finished.empty()) << "No leaves the editor open";
    EXPECT_EQ(Rows(DbReports).size(), 2u);

    view.answers.Queue({true});
    dlg.OnDelete();
    EXPECT_EQ(view.finished, std::vector<int>{1});
    ASSERT_EQ(Rows(DbReports).size(), 1u);
    EXPECT_EQ(Rows(DbReports)[0][0], "1");
    EXPECT_EQ(ShownTexts(), (std::vector<std::string>{"Удалить запись?", "Удалить запись?"}));
}

TEST_F(EditRecordTest, DeletingAMissingRecordReportsAndCloses) {
    CEditRecordDlg& dlg = Open(DbResources, 5);
    view.answers.Queue({true});
    dlg.OnDelete();
    EXPECT_EQ(view.shown.back().text, "Ошибка при удалении записи!");
    EXPECT_EQ(view.finished, std::vector<int>{1});
}

TEST_F(EditRecordTest, WithoutADatabaseNothingIsOfferedOrTouched) {
    InsertRaw(DbGoods, {"1", "", "Яблоки"});
    CEditRecordDlg& dlg = Open(-1, 1);
    for (int i = 0; i < kFieldCount; ++i) {
        EXPECT_FALSE(view.enabled[i]);
        EXPECT_EQ(view.captions[i], "");
    }
    view.answers.Queue({true});
    dlg.OnDelete();
    EXPECT_EQ(view.shown.back().text, "Ошибка при удалении записи!");
    EXPECT_EQ(Rows(DbGoods).size(), 1u);
}

}  // namespace

namespace {

TEST_F(EditRecordTest, AnEditOfOneFieldKeepsWhatTheOthersStoreToTheByte) {
    InsertRaw(DbGoods, {"42", "4600000000017", "Чай 龙井", "1", "89.90"});
    Open(DbGoods, 42);
    EXPECT_EQ(view.values[2], "Чай ??") << "the code page cannot show the tea's name";
    view.values[4] = "95.50";
    dlg_->OnClose();
    const auto rows = Rows(DbGoods);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][2], "Чай 龙井") << "a field the engineer did not touch keeps its text";
    EXPECT_EQ(rows[0][4], "95.50");
    EXPECT_EQ(rows[0][5], "") << "untouched";
}

}  // namespace

}  // namespace tq::viewer::test
