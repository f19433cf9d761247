// The list of a database's backups to restore one from.
#include <windows.h>

#include <string>
#include <vector>

#include "../resource.h"
#include "common/cp1251.h"
#include "common/win/dialog.h"
#include "viewer_windows.h"

namespace tq::viewer {

namespace {

using tq::Wide;

// One line a backup, the newest selected; "Восстановить..." or a double
// click takes the selected one, "Отмена" or Esc none.
class ChooseBackupBox : public tq::win::Dialog {
public:
    explicit ChooseBackupBox(const std::vector<std::string>& lines) : lines_(lines) {}
    int chosen() const { return chosen_; }

private:
    BOOL OnInitDialog() override {
        HWND list = Item(IDC_BACKUP_LIST);
        for (const std::string& line : lines_)
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(line).c_str()));
        SendMessageW(list, LB_SETCURSEL, 0, 0);
        SetFocus(list);
        return FALSE;  // the focus is set
    }
    bool OnCommand(int id, int code, HWND) override {
        const bool picked = (id == IDOK && code == BN_CLICKED) || (id == IDC_BACKUP_LIST && code == LBN_DBLCLK);
        if (!picked) return false;
        chosen_ = static_cast<int>(SendMessageW(Item(IDC_BACKUP_LIST), LB_GETCURSEL, 0, 0));
        if (chosen_ >= 0) End(IDOK);
        return true;
    }

    const std::vector<std::string>& lines_;
    int chosen_ = -1;
};

}  // namespace

bool RunChooseBackupDialog(HINSTANCE instance, HWND parent, const std::vector<std::string>& lines, int* chosen) {
    ChooseBackupBox dialog(lines);
    if (dialog.DoModal(instance, IDD_CHOOSE_BACKUP, parent) != IDOK) return false;
    *chosen = dialog.chosen();
    return true;
}

}  // namespace tq::viewer
