// The main dialog window: forwards its commands to CViewerMainDlg and draws
// what the logic asks for.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "../file_version.h"
#include "../message_kind.h"
#include "../resource.h"
#include "../viewer_main_dlg.h"
#include "common/win/dialog.h"
#include "viewer_windows.h"

HWND g_hMainDialog = nullptr;

namespace {

using tq::win::Wide;

// Long listings and generations run inside one message; the windows are
// repainted at this interval so that they never freeze.
const DWORD kRepaintIntervalMs = 100;

std::string ReadFileVersion() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return {};
    std::vector<char> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data())) return {};
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info ||
        infoSize < sizeof *info)
        return {};
    return FormatFileVersion(info->dwFileVersionMS, info->dwFileVersionLS);
}

class ViewerMainWindow : public tq::win::Dialog, private MainView {
public:
    explicit ViewerMainWindow(HINSTANCE instance)
        : instance_(instance), icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDI_VIEWER))) {}

private:
    HWND List() const { return Item(IDC_RECORD_LIST); }
    HWND Chooser() const { return Item(IDC_DB_CHOOSER); }

    BOOL OnInitDialog() override {
        SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
        g_hMainDialog = hwnd();
        const DWORD extended = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
        SendMessageW(List(), LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
        logic_.OnInitDialog(ReadFileVersion());
        return TRUE;
    }

    bool OnCommand(int id, int code, HWND) override {
        if (code != BN_CLICKED) return false;
        switch (id) {
        case IDC_SELECT_DB: logic_.OnSelectDatabase(); return true;
        case IDC_CLEAR_DB: logic_.OnClearDatabase(); return true;
        case IDC_CREATE_TEST_DB: logic_.OnCreateTestDb(); return true;
        default: return false;
        }
    }

    bool OnNotify(NMHDR* header, LRESULT* result) override {
        if (header->idFrom != IDC_RECORD_LIST || header->code != static_cast<UINT>(NM_CLICK)) return false;
        logic_.OnRecordClick();
        *result = 0;
        return true;
    }

    bool OnMessage(UINT msg, WPARAM, LPARAM lp, LRESULT* result) override {
        if (msg == WM_CREATE_TEST_DB) {
            logic_.GenerateTestRecords(static_cast<int32_t>(lp));
            *result = 0;
            return true;
        }
        if (msg == WM_PAINT && IsIconic(hwnd())) {
            PaintIcon();
            *result = 0;
            return true;
        }
        return false;
    }

    void OnDestroy() override {
        logic_.OnDestroy();
        g_hMainDialog = nullptr;
    }

    void PaintIcon() {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd(), &ps);
        SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        GetClientRect(hwnd(), &client);
        const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, icon_);
        EndPaint(hwnd(), &ps);
    }

    void KeepPainted() {
        const DWORD now = GetTickCount();
        if (now - lastRepaint_ < kRepaintIntervalMs) return;
        lastRepaint_ = now;
        tq::win::PumpPaintMessages();
    }

    // MainView
    void SetTitle(const std::string& title) override { Dialog::SetTitle(title); }
    void AddChooserItem(const std::string& label) override {
        SendMessageW(Chooser(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(label).c_str()));
    }
    void SelectChooserItem(int index) override { SendMessageW(Chooser(), CB_SETCURSEL, index, 0); }
    int ChooserSelection() override { return static_cast<int>(SendMessageW(Chooser(), CB_GETCURSEL, 0, 0)); }
    std::string ChooserText() override { return ItemText(IDC_DB_CHOOSER); }
    void SetControlText(int id, const std::string& text) override {
        SetItemText(id, text);
        if (id == IDC_RECORD_COUNT) {
            UpdateWindow(Item(id));
            KeepPainted();
        }
    }
    void ShowControl(int id, bool show) override { ShowItem(id, show); }

    void ClearList() override {
        SendMessageW(List(), LVM_DELETEALLITEMS, 0, 0);
        for (int i = 0; i < 41; ++i) SendMessageW(List(), LVM_DELETECOLUMN, 0, 0);
    }
    void AddColumn(int index, const std::string& caption, int width) override {
        std::wstring text = Wide(caption);
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = width;
        column.pszText = text.data();
        column.iSubItem = index;
        SendMessageW(List(), LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
    }
    bool InsertRow(int index) override {
        wchar_t empty[1] = {};
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_STATE;
        item.iItem = index;
        item.state = LVIS_SELECTED;
        item.stateMask = LVIS_SELECTED;
        item.pszText = empty;
        return SendMessageW(List(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)) >= 0;
    }
    bool SetCell(int row, int column, const std::string& text) override {
        if (text.empty()) return true;  // rows are inserted empty
        std::wstring wide = Wide(text);
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = wide.data();
        return SendMessageW(List(), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)) != 0;
    }
    std::string SelectedRowCode() override {
        const LRESULT row = SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
        if (row < 0) return {};
        wchar_t text[256] = {};
        LVITEMW item = {};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = 255;
        SendMessageW(List(), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return tq::win::Narrow(text);
    }
    bool Message(const std::string& text, MessageKind kind) override { return ViewerMessage(hwnd(), text, kind); }
    void RunEditor(int db, int32_t code) override { RunEditRecordDialog(instance_, hwnd(), db, code); }
    void RunCreateTestDb() override { RunCreateTestDbDialog(instance_, hwnd()); }

    HINSTANCE instance_;
    HICON icon_;
    DWORD lastRepaint_ = 0;
    CViewerMainDlg logic_{*this};
};

}  // namespace

bool ViewerMessage(HWND owner, const std::string& text, MessageKind kind) {
    UINT type = MB_OK;
    if (kind == MessageKind::Error) type = MB_OK | MB_ICONSTOP;
    if (kind == MessageKind::Question) type = MB_YESNO | MB_ICONEXCLAMATION;
    return tq::win::MessageBoxCp(owner, text, "TQScaleDBViewer", type) == IDYES;
}

void RunViewerMainDialog(HINSTANCE instance) {
    ViewerMainWindow dialog(instance);
    dialog.DoModal(instance, IDD_VIEWER_MAIN, nullptr);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RunViewerMainDialog(instance);
    return 0;
}
