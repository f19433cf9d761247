#include <string>
#include <vector>

#include "app_fixture.h"

namespace tq::viewer::test {

namespace {

class FakeCreateView : public CreateTestDbView {
public:
    void SetCountText(const std::string& text) override { count = text; }
    std::string CountText() override { return count; }
    bool Message(const std::string& text, MessageKind kind) override {
        shown.push_back({tq::Cp1251ToUtf8(text), kind});
        return answers.Next();
    }
    void Finish(int result) override { finished.push_back(result); }

    std::string count;
    std::vector<Shown> shown;
    Answers answers;
    std::vector<int> finished;
};

TEST(CreateTestDbDlgTest, YesGivesTheCountAndEveryButtonCloses) {
    FakeCreateView view;
    CCreateTestDBDlg dlg(view);
    dlg.OnInitDialog();
    EXPECT_EQ(view.count, "0");

    view.count = "250";
    view.answers.Queue({true});
    dlg.OnCreate();
    ASSERT_EQ(view.shown.size(), 1u);
    EXPECT_EQ(view.shown[0].text, "Создать тестовую БД?");
    EXPECT_EQ(view.shown[0].kind, MessageKind::Question);
    EXPECT_EQ(dlg.Result(), std::optional<int32_t>(250));

    CCreateTestDBDlg declined(view);
    view.answers.Queue({false});
    declined.OnCreate();
    declined.OnCancel();
    EXPECT_EQ(declined.Result(), std::nullopt) << "No and Отмена give no count";
    EXPECT_EQ(view.finished, (std::vector<int>{1, 1, 1}));
}

TEST(CreateTestDbDlgTest, CountThatIsNotA32BitNumberReadsAsZero) {
    EXPECT_EQ(ParseRecordCount("3"), 3);
    EXPECT_EQ(ParseRecordCount(" 12 "), 12);
    EXPECT_EQ(ParseRecordCount("-5"), -5);
    EXPECT_EQ(ParseRecordCount("2147483647"), 2147483647);
    EXPECT_EQ(ParseRecordCount("2147483648"), 0);
    EXPECT_EQ(ParseRecordCount(""), 0);
    EXPECT_EQ(ParseRecordCount("12abc"), 0);
    EXPECT_EQ(ParseRecordCount("1 2"), 0);
    EXPECT_EQ(ParseRecordCount("-"), 0);
}

}  // namespace

}  // namespace tq::viewer::test
