// The report file under Wine: appends that reach the disk, the fallback
// folder when the first cannot take the file, and the reason when none can.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/cp1251.h"
#include "common/win/module_path.h"
#include "printertest/win/report_file.h"

namespace tq::lmt {
namespace {

class ReportFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        root_ = std::wstring(temp) + L"tq-report-file-" + std::to_wstring(GetCurrentProcessId());
        for (const wchar_t* folder : {L"", L"\\first", L"\\second"})
            CreateDirectoryW((root_ + folder).c_str(), nullptr);
    }
    void TearDown() override {
        for (const wchar_t* path : {L"\\first\\Reports\\r.txt", L"\\first\\Reports\\r-2.txt", L"\\second\\Reports\\r.txt",
                                    L"\\first\\Reports\\r.txt.new"})
            DeleteFileW((root_ + path).c_str());
        RemoveDirectoryW((root_ + L"\\first\\Reports\\r.txt.new").c_str());
        for (const wchar_t* path : {L"\\first\\Reports", L"\\second\\Reports", L"\\first", L"\\second"}) {
            RemoveDirectoryW((root_ + path).c_str());
            DeleteFileW((root_ + path).c_str());
        }
        RemoveDirectoryW(root_.c_str());
    }
    // A plain file where the folder should be: nothing can be made in it.
    void Block(const wchar_t* folder) {
        HANDLE file = CreateFileW((root_ + folder + L"\\Reports").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    std::string Read(const std::wstring& path) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return "<none>";
        char buffer[256];
        DWORD read = 0;
        ReadFile(file, buffer, sizeof buffer, &read, nullptr);
        CloseHandle(file);
        return std::string(buffer, read);
    }
    ReportFile Make() {
        return ReportFile({root_ + L"\\first\\Reports", root_ + L"\\second\\Reports"}, L"r.txt");
    }
    std::wstring root_;
};

TEST_F(ReportFileTest, CreatesTheFolderAndAppendsEveryBlockAtOnce) {
    ReportFile file = Make();
    std::string reason;
    ASSERT_TRUE(file.Append("one\r\n", &reason)) << tq::Cp1251ToUtf8(reason);
    EXPECT_EQ(Read(root_ + L"\\first\\Reports\\r.txt"), "one\r\n") << "the block is on the disk before the next";
    ASSERT_TRUE(file.Append("two\r\n", &reason)) << tq::Cp1251ToUtf8(reason);
    EXPECT_EQ(Read(root_ + L"\\first\\Reports\\r.txt"), "one\r\ntwo\r\n");
    EXPECT_EQ(file.Path(), tq::WideToCp1251(root_ + L"\\first\\Reports\\r.txt"));
}

TEST_F(ReportFileTest, RewriteReplacesTheWholeFileOrLeavesItAsItWas) {
    ReportFile file = Make();
    const std::wstring path = root_ + L"\\first\\Reports\\r.txt";
    std::string reason;
    ASSERT_TRUE(file.Append("one\r\n", &reason)) << tq::Cp1251ToUtf8(reason);
    ASSERT_TRUE(file.Rewrite("header\r\none\r\n", &reason)) << tq::Cp1251ToUtf8(reason);
    EXPECT_EQ(Read(path), "header\r\none\r\n");
    EXPECT_EQ(GetFileAttributesW((path + L".new").c_str()), INVALID_FILE_ATTRIBUTES) << "nothing left beside it";
    ASSERT_TRUE(file.Append("two\r\n", &reason)) << tq::Cp1251ToUtf8(reason);
    EXPECT_EQ(Read(path), "header\r\none\r\ntwo\r\n") << "appends go on in the same file";

    // A folder where the new text would be written: the old text stays.
    ASSERT_TRUE(CreateDirectoryW((path + L".new").c_str(), nullptr));
    EXPECT_FALSE(file.Rewrite("lost\r\n", &reason));
    EXPECT_EQ(Read(path), "header\r\none\r\ntwo\r\n");
    const std::string utf8 = tq::Cp1251ToUtf8(reason);
    EXPECT_EQ(utf8.rfind("не удалось записать файл ", 0), 0u) << utf8;
}

TEST_F(ReportFileTest, AWizardStartedInTheSameSecondGetsAFileOfItsOwn) {
    ReportFile first = Make();
    ReportFile second = Make();
    std::string reason;
    ASSERT_TRUE(first.Append("first\r\n", &reason)) << tq::Cp1251ToUtf8(reason);
    ASSERT_TRUE(second.Append("second\r\n", &reason)) << tq::Cp1251ToUtf8(reason);
    EXPECT_EQ(second.Path(), tq::WideToCp1251(root_ + L"\\first\\Reports\\r-2.txt"));
    EXPECT_EQ(Read(root_ + L"\\first\\Reports\\r.txt"), "first\r\n") << "another visit's report is left alone";
}

TEST_F(ReportFileTest, FallsBackToTheSecondFolder) {
    Block(L"\\first");
    ReportFile file = Make();
    std::string reason;
    ASSERT_TRUE(file.Append("one\r\n", &reason)) << tq::Cp1251ToUtf8(reason);
    EXPECT_EQ(file.Path(), tq::WideToCp1251(root_ + L"\\second\\Reports\\r.txt"));
    EXPECT_EQ(Read(root_ + L"\\second\\Reports\\r.txt"), "one\r\n");
}

TEST_F(ReportFileTest, NoFolderTakesTheFileGivesTheReason) {
    Block(L"\\first");
    Block(L"\\second");
    ReportFile file = Make();
    std::string reason;
    EXPECT_FALSE(file.Append("one\r\n", &reason));
    const std::string utf8 = tq::Cp1251ToUtf8(reason);
    EXPECT_EQ(utf8.rfind("не удалось создать файл ", 0), 0u) << utf8;
    EXPECT_NE(utf8.find("second\\Reports\\r.txt (ошибка "), std::string::npos) << utf8;
}

TEST(ReportHeader, ControlVersionComesFromTheRegisteredFile) {
    const wchar_t clsid[] = L"{00000000-1111-2222-3333-444444444444}";
    EXPECT_EQ(tq::Cp1251ToUtf8(ControlVersion(clsid)), "не зарегистрирован");

    // The simulator control, built beside the tests, carries a version. Wine
    // reads classes from HKLM only (Windows merges in HKCU).
    const std::wstring dll = tq::win::ModuleFolder() + L"\\..\\tools\\printersim.dll";
    const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, (key + L"\\InprocServer32").c_str(), nullptr, REG_SZ, dll.c_str(),
                              static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(ControlVersion(clsid), "2.5.0.17");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());

    EXPECT_FALSE(ComputerName().empty());
}

}  // namespace
}  // namespace tq::lmt
