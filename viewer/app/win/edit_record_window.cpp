// The record editor: forwards to its logic.
#include <windows.h>

#include <string>

#include "../edit_record_dlg.h"
#include "../message_kind.h"
#include "../resource.h"
#include "common/win/dialog.h"
#include "viewer_windows.h"

namespace tq::viewer {

namespace {

class EditRecordWindow : public tq::win::Dialog, private EditView {
public:
    EditRecordWindow(int database, int32_t code, bool newRecord) : logic_(*this, database, code, newRecord) {}

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
        if (id == IDOK || id == IDCANCEL) {  // Enter and Esc
            logic_.OnOkOrCancel(id);
            return true;
        }
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

}  // namespace

void RunEditRecordDialog(HINSTANCE instance, HWND parent, int database, int32_t code, bool newRecord) {
    EditRecordWindow dialog(database, code, newRecord);
    dialog.DoModal(instance, IDD_EDIT_RECORD, parent);
}

}  // namespace tq::viewer
