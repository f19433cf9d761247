// The find box of the main dialog.
#include <windows.h>

#include <string>

#include "../resource.h"
#include "core/catalogue.h"
#include "common/win/dialog.h"
#include "viewer_windows.h"

namespace tq::viewer {

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

}  // namespace tq::viewer
