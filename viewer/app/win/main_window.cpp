// The main dialog window: forwards its commands to CViewerMainDlg and draws
// what the logic asks for.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "../file_version.h"
#include "../message_kind.h"
#include "../resource.h"
#include "common/win/dialog.h"
#include "common/win/file_version.h"
#include "viewer_main_window.h"
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
    DWORD versionMs = 0, versionLs = 0;
    if (!tq::win::ReadFileVersion(path, &versionMs, &versionLs)) return {};
    return FormatFileVersion(versionMs, versionLs);
}

}  // namespace

ViewerMainWindow::ViewerMainWindow(HINSTANCE instance)
    : instance_(instance), icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDI_VIEWER))) {}

BOOL ViewerMainWindow::OnInitDialog() {
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    g_hMainDialog = hwnd();
    list_ = Item(IDC_RECORD_LIST);
    chooser_ = Item(IDC_DB_CHOOSER);
    const DWORD extended = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
    SendMessageW(List(), LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    logic_.OnInitDialog(ReadFileVersion());
    ShowPendingCount();
    return TRUE;
}

bool ViewerMainWindow::OnCommand(int id, int code, HWND) {
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_SELECT_DB: logic_.OnSelectDatabase(); break;
    case IDC_CLEAR_DB: logic_.OnClearDatabase(); break;
    case IDC_CREATE_TEST_DB: logic_.OnCreateTestDb(); break;
    default: return false;
    }
    ShowPendingCount();
    return true;
}

bool ViewerMainWindow::OnNotify(NMHDR* header, LRESULT* result) {
    if (header->idFrom != IDC_RECORD_LIST || header->code != static_cast<UINT>(NM_CLICK)) return false;
    logic_.OnRecordClick();
    ShowPendingCount();
    *result = 0;
    return true;
}

bool ViewerMainWindow::OnMessage(UINT msg, WPARAM, LPARAM lp, LRESULT* result) {
    if (msg == WM_CREATE_TEST_DB) {
        logic_.GenerateTestRecords(static_cast<int32_t>(lp));
        ShowPendingCount();
        *result = 0;
        return true;
    }
    if (msg == WM_PAINT && IsIconic(hwnd())) {
        PaintIcon();
        *result = 0;
        return true;
    }
    if (msg == WM_QUERYDRAGICON) {
        *result = reinterpret_cast<LRESULT>(icon_);
        return true;
    }
    return false;
}

void ViewerMainWindow::OnDestroy() {
    logic_.OnDestroy();
    g_hMainDialog = nullptr;
}

void ViewerMainWindow::PaintIcon() {
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

void ViewerMainWindow::KeepPainted() {
    const DWORD now = GetTickCount();
    if (now - lastRepaint_ < kRepaintIntervalMs) return;
    lastRepaint_ = now;
    ShowPendingCount();
    // The list is drawn while its rows still fill the visible page; later
    // rows land below it, and only the counter moves.
    const bool drawList = listUpdating_ && SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0) <=
                                               SendMessageW(List(), LVM_GETCOUNTPERPAGE, 0, 0) + 1;
    if (drawList) SendMessageW(List(), WM_SETREDRAW, TRUE, 0);
    tq::win::PumpPaintMessages();
    if (drawList) SendMessageW(List(), WM_SETREDRAW, FALSE, 0);
}

void ViewerMainWindow::ShowPendingCount() {
    if (pendingCount_.empty()) return;
    SetItemText(IDC_RECORD_COUNT, pendingCount_);
    pendingCount_.clear();
}

void ViewerMainWindow::SetTitle(const std::string& title) { Dialog::SetTitle(title); }
void ViewerMainWindow::AddChooserItem(const std::string& label) {
    SendMessageW(Chooser(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(label).c_str()));
}
void ViewerMainWindow::SelectChooserItem(int index) { SendMessageW(Chooser(), CB_SETCURSEL, index, 0); }
int ViewerMainWindow::ChooserSelection() { return static_cast<int>(SendMessageW(Chooser(), CB_GETCURSEL, 0, 0)); }
std::string ViewerMainWindow::ChooserText() { return ItemText(IDC_DB_CHOOSER); }

// Counter texts are shown at the next repaint and when a handler ends: a text
// for every row or record would cost more than the row itself.
void ViewerMainWindow::SetControlText(int id, const std::string& text) {
    if (id != IDC_RECORD_COUNT) {
        SetItemText(id, text);
        return;
    }
    pendingCount_ = text;
    KeepPainted();
}

void ViewerMainWindow::ShowControl(int id, bool show) { ShowItem(id, show); }

void ViewerMainWindow::ClearList() {
    SendMessageW(List(), LVM_DELETEALLITEMS, 0, 0);
    for (int i = 0; i < 41; ++i) SendMessageW(List(), LVM_DELETECOLUMN, 0, 0);
}

void ViewerMainWindow::AddColumn(int index, const std::string& caption, int width) {
    std::wstring text = Wide(caption);
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = text.data();
    column.iSubItem = index;
    SendMessageW(List(), LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

bool ViewerMainWindow::InsertRow(int index) {
    wchar_t empty[1] = {};
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_STATE;
    item.iItem = index;
    item.state = LVIS_SELECTED;
    item.stateMask = LVIS_SELECTED;
    item.pszText = empty;
    return SendMessageW(List(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)) >= 0;
}

bool ViewerMainWindow::SetCell(int row, int column, const std::string& text) {
    if (text.empty()) return true;  // rows are inserted empty
    std::wstring wide = Wide(text);
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = wide.data();
    return SendMessageW(List(), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)) != 0;
}

// A list view that redraws after every inserted row takes tens of
// milliseconds a row under Wine; KeepPainted lets it draw now and then.
void ViewerMainWindow::BeginListUpdate() {
    listUpdating_ = true;
    SendMessageW(List(), WM_SETREDRAW, FALSE, 0);
}

void ViewerMainWindow::EndListUpdate() {
    listUpdating_ = false;
    ShowPendingCount();
    SendMessageW(List(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(List(), nullptr, TRUE);
}

std::string ViewerMainWindow::SelectedRowCode() {
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

bool ViewerMainWindow::Message(const std::string& text, MessageKind kind) {
    ShowPendingCount();
    return ViewerMessage(hwnd(), text, kind);
}

void ViewerMainWindow::RunEditor(int db, int32_t code) { RunEditRecordDialog(instance_, hwnd(), db, code); }
void ViewerMainWindow::RunCreateTestDb() { RunCreateTestDbDialog(instance_, hwnd()); }

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
