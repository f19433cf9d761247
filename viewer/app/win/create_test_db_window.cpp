// The test database dialog: forwards to its logic.
#include <windows.h>

#include <string>

#include "../create_test_db_dlg.h"
#include "../message_kind.h"
#include "../resource.h"
#include "common/win/dialog.h"
#include "viewer_windows.h"

namespace tq::viewer {

namespace {

class CreateTestDbWindow : public tq::win::Dialog, private CreateTestDbView {
public:
    std::optional<int32_t> Result() const { return logic_.Result(); }

private:
    BOOL OnInitDialog() override {
        logic_.OnInitDialog();
        return TRUE;
    }
    bool OnCommand(int id, int code, HWND) override {
        if (code != BN_CLICKED) return false;
        if (id == IDC_CREATE_DB) logic_.OnCreate();
        else if (id == IDC_CANCEL_CREATE) logic_.OnCancel();
        else return false;
        return true;
    }

    void SetCountText(const std::string& text) override { SetItemText(IDC_TEST_RECORD_COUNT, text); }
    std::string CountText() override { return ItemText(IDC_TEST_RECORD_COUNT); }
    bool Message(const std::string& text, MessageKind kind) override { return ViewerMessage(hwnd(), text, kind); }
    void Finish(int result) override { End(result); }

    CCreateTestDBDlg logic_{*this};
};

}  // namespace

std::optional<int32_t> RunCreateTestDbDialog(HINSTANCE instance, HWND parent) {
    CreateTestDbWindow dialog;
    dialog.DoModal(instance, IDD_CREATE_TEST_DB, parent);
    return dialog.Result();
}

}  // namespace tq::viewer
