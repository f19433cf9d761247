// The record editor and the test database dialog: forward to their logic.
#include <windows.h>

#include <string>

#include "../create_test_db_dlg.h"
#include "../edit_record_dlg.h"
#include "../message_kind.h"
#include "../resource.h"
#include "common/win/dialog.h"
#include "viewer_windows.h"

namespace {

class EditRecordWindow : public tq::win::Dialog, private EditView {
public:
    EditRecordWindow(int database, int32_t code) : logic_(*this, database, code) {}

private:
    BOOL OnInitDialog() override {
        // Values travel through 255-byte buffers: no more can be typed than is kept.
        for (int i = 0; i < kFieldCount; ++i) SendMessageW(Item(IDC_FIELD_EDIT_0 + i), EM_LIMITTEXT, kValueMax, 0);
        logic_.OnInitDialog();
        return TRUE;
    }
    bool OnClose() override {
        logic_.OnClose();
        return true;
    }
    bool OnCommand(int id, int code, HWND) override {
        if (id != IDC_DELETE_RECORD || code != BN_CLICKED) return false;
        logic_.OnDelete();
        return true;
    }

    void SetCaption(int field, const std::string& text) override { SetItemText(IDC_FIELD_CAPTION_0 + field, text); }
    void SetFieldText(int field, const std::string& text) override { SetItemText(IDC_FIELD_EDIT_0 + field, text); }
    std::string FieldText(int field) override { return ItemText(IDC_FIELD_EDIT_0 + field); }
    void EnableField(int field, bool enable) override { EnableItem(IDC_FIELD_EDIT_0 + field, enable); }
    bool Message(const std::string& text, MessageKind kind) override { return ViewerMessage(hwnd(), text, kind); }
    void Finish(int result) override { End(result); }

    CEditRecordDlg logic_;
};

class CreateTestDbWindow : public tq::win::Dialog, private CreateTestDbView {
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
    // Posted, not sent: the records are generated after this dialog has closed.
    void PostCreateRequest(int32_t count) override {
        PostMessageW(g_hMainDialog, WM_CREATE_TEST_DB, 0, static_cast<LPARAM>(count));
    }
    void Finish(int result) override { End(result); }

    CCreateTestDBDlg logic_{*this};
};

}  // namespace

void RunEditRecordDialog(HINSTANCE instance, HWND parent, int database, int32_t code) {
    EditRecordWindow dialog(database, code);
    dialog.DoModal(instance, IDD_EDIT_RECORD, parent);
}

void RunCreateTestDbDialog(HINSTANCE instance, HWND parent) {
    CreateTestDbWindow dialog;
    dialog.DoModal(instance, IDD_CREATE_TEST_DB, parent);
}

namespace {

// The find box: one text, "Найти" or "Отмена". Its own dialog, because Enter
// and Esc in the main dialog end the program.
class FindBox : public tq::win::Dialog {
public:
    explicit FindBox(const std::string& offered) : text_(offered) {}
    const std::string& text() const { return text_; }

private:
    BOOL OnInitDialog() override {
        SendMessageW(Item(IDC_FIND_TEXT), EM_LIMITTEXT, kValueMax, 0);
        SetItemText(IDC_FIND_TEXT, text_);
        SendMessageW(Item(IDC_FIND_TEXT), EM_SETSEL, 0, -1);
        SetFocus(Item(IDC_FIND_TEXT));
        return FALSE;  // the focus is set
    }
    bool OnCommand(int id, int code, HWND) override {
        if (id != IDOK || code != BN_CLICKED) return false;
        text_ = ItemText(IDC_FIND_TEXT);
        End(IDOK);
        return true;
    }

    std::string text_;
};

}  // namespace

bool RunFindDialog(HINSTANCE instance, HWND parent, std::string* text) {
    FindBox dialog(*text);
    if (dialog.DoModal(instance, IDD_FIND, parent) != IDOK) return false;
    *text = dialog.text();
    return true;
}
