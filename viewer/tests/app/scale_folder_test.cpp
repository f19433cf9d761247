#include "scale_folder.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace tq::viewer::test {

namespace {

// Folders as names; those in `scales` hold Internal, those in `missing` are
// not there at all.
class FakeFolders : public FolderView {
public:
    std::string CurrentFolder() override { return current; }
    bool HoldsInternal(const std::string& folder) override { return scales.count(folder) > 0; }
    bool Enter(const std::string& folder) override {
        if (missing.count(folder)) return false;
        current = folder;
        return true;
    }
    std::string RememberedFolder() override { return remembered; }
    void RememberFolder(const std::string& folder) override { remembered = folder; }
    bool AskFolder(const std::string& prompt, std::string* folder) override {
        prompts.push_back(prompt);
        if (answers.empty()) return false;
        *folder = answers.front();
        answers.erase(answers.begin());
        return true;
    }
    void Error(const std::string& text) override { errors.push_back(text); }

    std::string current = "C:\\Program Files\\Tools";
    std::set<std::string> scales = {"D:\\Scale"};
    std::set<std::string> missing = {"E:\\Gone"};
    std::string remembered;
    std::vector<std::string> answers;
    std::vector<std::string> prompts, errors;
};

const char kPrompt[] = "Укажите папку весов, в которой находится папка Internal";

}  // namespace

TEST(ScaleFolderTest, TheArgumentOrTheCurrentFolderIsTakenWhenItHoldsInternal) {
    FakeFolders folders;
    EXPECT_EQ(EnterScaleFolder(folders, "D:\\Scale"), "D:\\Scale");
    EXPECT_TRUE(folders.prompts.empty() && folders.errors.empty());

    FakeFolders started;
    started.current = "D:\\Scale";
    started.remembered = "F:\\Other";
    EXPECT_EQ(EnterScaleFolder(started, ""), "D:\\Scale") << "the current folder before the remembered one";
    EXPECT_EQ(started.remembered, "F:\\Other") << "nothing chosen, nothing remembered";
}

TEST(ScaleFolderTest, WithoutInternalTheRememberedFolderElseTheChosenOneIsEnteredAndRemembered) {
    FakeFolders folders;
    folders.remembered = "D:\\Scale";
    EXPECT_EQ(EnterScaleFolder(folders, ""), "D:\\Scale");
    EXPECT_TRUE(folders.prompts.empty()) << "the remembered folder is taken without asking";

    FakeFolders asked;
    asked.remembered = "E:\\Gone";  // a stick no longer plugged in
    asked.answers = {"C:\\Temp", "D:\\Scale"};
    EXPECT_EQ(EnterScaleFolder(asked, "E:\\Gone"), "D:\\Scale");
    EXPECT_EQ(asked.errors, (std::vector<std::string>{"Папка «E:\\Gone» не найдена",
                                                       "В папке «C:\\Temp» нет папки Internal"}));
    EXPECT_EQ(asked.prompts, (std::vector<std::string>{kPrompt, kPrompt})) << "asked again after a folder without Internal";
    EXPECT_EQ(asked.remembered, "D:\\Scale");
}

TEST(ScaleFolderTest, ACancelledChoiceStartsInTheCurrentFolderAsBefore) {
    FakeFolders folders;
    EXPECT_EQ(EnterScaleFolder(folders, ""), "C:\\Program Files\\Tools");
    EXPECT_EQ(folders.prompts.size(), 1u);
    EXPECT_TRUE(folders.remembered.empty());

    FakeFolders given;
    given.scales.insert("F:\\Empty");  // made current by the argument, then no Internal there
    EXPECT_EQ(EnterScaleFolder(given, "C:\\Temp"), "C:\\Temp") << "the folder given stays current";
}

}  // namespace tq::viewer::test
