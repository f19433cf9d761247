// The dialog base under Wine: a handler that throws ends its dialog with a
// message instead of unwinding through user32.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "common/cp1251.h"
#include "common/win/dialog.h"

namespace tq::win {
namespace {

constexpr int kTemplate = 101;
constexpr int kThrowStd = 1001;
constexpr int kThrowOther = 1002;

class ThrowingDialog : public Dialog {
public:
    explicit ThrowingDialog(int command) : command_(command) {}
    int commands = 0;

protected:
    BOOL OnInitDialog() override {
        PostMessageW(hwnd(), WM_COMMAND, command_, 0);
        return TRUE;
    }
    bool OnCommand(int id, int, HWND) override {
        ++commands;
        if (id == kThrowStd) throw std::runtime_error("boom");
        if (id == kThrowOther) throw 42;
        return false;
    }
    bool OnTimer(UINT_PTR) override {
        ++commands;  // a handler after the failure would count here
        return true;
    }

private:
    int command_;
};

// Watches the thread under test for the message box, keeps its caption and
// texts and presses its OK button.
class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(DWORD uiThread) : uiThread_(uiThread), thread_([this] { Watch(); }) {}
    ~MessageBoxWatcher() {
        stop_ = true;
        thread_.join();
    }
    // Waits for the box to be answered; false when none came.
    bool Answered() {
        for (int i = 0; i < 500 && !answered_; ++i) Sleep(10);
        return answered_;
    }
    std::string caption;
    std::string text;

private:
    void Watch() {
        while (!stop_ && !answered_) {
            EnumThreadWindows(uiThread_, FindBox, reinterpret_cast<LPARAM>(this));
            Sleep(20);
        }
    }
    static BOOL CALLBACK FindBox(HWND window, LPARAM self) {
        auto* watcher = reinterpret_cast<MessageBoxWatcher*>(self);
        wchar_t title[256] = {};
        GetWindowTextW(window, title, 256);
        if (!IsWindowVisible(window) || std::wstring(title) == L"Dialog test") return TRUE;
        watcher->caption = WideToCp1251(title);
        EnumChildWindows(window, CollectText, self);
        PostMessageW(window, WM_COMMAND, IDOK, 0);
        watcher->answered_ = true;
        return FALSE;
    }
    static BOOL CALLBACK CollectText(HWND child, LPARAM self) {
        wchar_t text[512] = {};
        GetWindowTextW(child, text, 512);
        reinterpret_cast<MessageBoxWatcher*>(self)->text += WideToCp1251(text) + "|";
        return TRUE;
    }

    DWORD uiThread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> answered_{false};
    std::thread thread_;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(DialogBarrier, ThrowingHandlerEndsModalDialogWithMessage) {
    ThrowingDialog dialog(kThrowStd);
    MessageBoxWatcher watcher(GetCurrentThreadId());
    const INT_PTR result = dialog.DoModal(GetModuleHandleW(nullptr), kTemplate, nullptr);
    ASSERT_TRUE(watcher.Answered()) << "expected a message box";
    EXPECT_EQ(result, Dialog::kFailed) << "expected the dialog ended as failed";
    EXPECT_TRUE(Contains(watcher.text, Cp("Внутренняя ошибка: boom"))) << "got texts " << watcher.text;
    EXPECT_EQ(watcher.caption, "common_dialog_test") << "expected the program's name as caption";
    EXPECT_EQ(dialog.commands, 1) << "expected no handler after the failure";
}

TEST(DialogBarrier, ExceptionOfAnyTypeIsCaught) {
    ThrowingDialog dialog(kThrowOther);
    MessageBoxWatcher watcher(GetCurrentThreadId());
    EXPECT_EQ(dialog.DoModal(GetModuleHandleW(nullptr), kTemplate, nullptr), Dialog::kFailed);
    ASSERT_TRUE(watcher.Answered()) << "expected a message box";
    EXPECT_TRUE(Contains(watcher.text, Cp("Внутренняя ошибка: неизвестная ошибка"))) << "got texts " << watcher.text;
}

TEST(DialogBarrier, ThrowingHandlerDestroysModelessDialog) {
    ThrowingDialog dialog(0);
    const HWND window = dialog.Create(GetModuleHandleW(nullptr), kTemplate, nullptr);
    ASSERT_TRUE(window != nullptr) << "expected the dialog created";
    SetTimer(window, 1, 10, nullptr);
    MessageBoxWatcher watcher(GetCurrentThreadId());
    SendMessageW(window, WM_COMMAND, kThrowStd, 0);
    ASSERT_TRUE(watcher.Answered()) << "expected a message box";
    EXPECT_FALSE(IsWindow(window)) << "expected the modeless dialog destroyed";
    EXPECT_TRUE(Contains(watcher.text, Cp("Внутренняя ошибка: boom"))) << "got texts " << watcher.text;
    EXPECT_EQ(dialog.commands, 1) << "expected no handler after the failure, the timer's included";
}

}  // namespace
}  // namespace tq::win
