// The main dialog window: forwards its commands to CViewerMainDlg and draws
// what the logic asks for.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cassert>
#include <string>
#include <vector>

#include "../file_version.h"
#include "common/cp1251.h"
#include "../message_kind.h"
#include "../resource.h"
#include "common/win/dialog.h"
#include "common/win/file_version.h"
#include "common/win/module_path.h"
#include "viewer_main_window.h"
#include "viewer_settings.h"
#include "viewer_windows.h"

namespace tq::viewer {

namespace {

using tq::Wide;

// Long listings and generations run inside one message; the windows are
// repainted at this interval so that they never freeze.
const DWORD kRepaintIntervalMs = 100;

// An owner-data list view holds at most this many rows.
const int kMaxListRows = 100000000;

// The one main dialog, for the keyboard filter of its modal loop.
ViewerMainWindow* g_keyTarget = nullptr;

std::string ReadFileVersion() {
    const std::wstring path = tq::win::ModulePath();
    if (path.empty()) return {};
    DWORD versionMs = 0, versionLs = 0;
    if (!tq::win::ReadFileVersion(path.c_str(), &versionMs, &versionLs)) return {};
    return FormatFileVersion(versionMs, versionLs);
}

}  // namespace

ViewerMainWindow::ViewerMainWindow(HINSTANCE instance)
    : instance_(instance), icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDI_VIEWER))) {}

BOOL ViewerMainWindow::OnInitDialog() {
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    list_ = Item(IDC_RECORD_LIST);
    chooser_ = Item(IDC_DB_CHOOSER);
    const DWORD extended = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
    SendMessageW(List(), LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    columnWidths_ = LoadColumnWidths();
    RestoreWindowSize();
    MakeCellTips();
    logic_.OnInitDialog(ReadFileVersion(), tq::WideToCp1251(CurrentFolder()));
    ShowPendingCount();
    // The dialog manager's modal loop offers every message to this filter
    // first: Ctrl+F and F3 work wherever the focus is in the dialog.
    g_keyTarget = this;
    keyFilter_.reset(SetWindowsHookExW(WH_MSGFILTER, KeyFilter, nullptr, GetCurrentThreadId()));
    return TRUE;
}

bool ViewerMainWindow::OnCommand(int id, int code, HWND) {
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_SELECT_DB: logic_.OnSelectDatabase(); break;
    case IDC_CLEAR_DB: logic_.OnClearDatabase(); break;
    case IDC_CREATE_TEST_DB: logic_.OnCreateTestDb(); break;
    // The list's context menu.
    case IDM_NEW_RECORD: logic_.OnNewRecord(); break;
    case IDM_RESTORE_BACKUP: logic_.OnRestoreBackup(); break;
    case IDM_FIND: logic_.OnFind(); break;
    case IDM_EXPORT_CSV: logic_.OnExportCsv(); break;
    case IDM_IMPORT_CSV: logic_.OnImportCsv(); break;
    default: return false;
    }
    ShowPendingCount();
    return true;
}

LRESULT CALLBACK ViewerMainWindow::KeyFilter(int code, WPARAM wp, LPARAM lp) {
    const MSG* msg = reinterpret_cast<const MSG*>(lp);
    ViewerMainWindow* target = g_keyTarget;
    if (code == MSGF_DIALOGBOX && target && msg->message == WM_KEYDOWN &&
        (msg->hwnd == target->hwnd() || IsChild(target->hwnd(), msg->hwnd)) &&
        target->OnKey(static_cast<UINT>(msg->wParam), msg->hwnd))
        return TRUE;
    return CallNextHookEx(nullptr, code, wp, lp);
}

// Keys of the whole dialog (Ctrl+F, F3, F5) and of the list: Enter opens
// the selected record, as a click does, where the dialog would take it for
// its default button and end the program; Del deletes it. Esc while the
// chooser's drop-down is open closes only the drop-down.
bool ViewerMainWindow::OnKey(UINT key, HWND target) {
    const bool control = GetKeyState(VK_CONTROL) < 0;
    const bool inList = target == List();
    if (key == VK_ESCAPE) {
        if (!SendMessageW(Chooser(), CB_GETDROPPEDSTATE, 0, 0)) return false;
        SendMessageW(Chooser(), CB_SHOWDROPDOWN, FALSE, 0);
        return true;
    }
    if (key == VK_F3 && !control) {
        logic_.OnFindNext();
    } else if (key == 'F' && control) {
        logic_.OnFind();
    } else if (key == VK_F5 && !control) {
        logic_.OnSelectDatabase();
    } else if (key == VK_RETURN && inList) {
        logic_.OnRecordClick();
    } else if (key == VK_DELETE && inList) {
        logic_.OnDeleteSelected();
    } else {
        return false;
    }
    ShowPendingCount();
    return true;
}

void ViewerMainWindow::ShowContextMenu(LPARAM at) {
    POINT point = {static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    if (at == -1) {  // the menu key: under the selected row, else the list's corner
        RECT rect = {LVIR_BOUNDS, 0, 0, 0};
        const int row = SelectedRow();
        if (row < 0 || !SendMessageW(List(), LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect)))
            rect = RECT{0, 0, 0, 0};
        point = {rect.left + 8, rect.bottom};
        ClientToScreen(List(), &point);
    }
    tq::win::Menu menu(CreatePopupMenu());
    if (!menu) return;
    AppendMenuW(menu.get(), MF_STRING, IDM_FIND, Wide(tq::Cp("Найти...")).c_str());
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), MF_STRING, IDM_EXPORT_CSV, Wide(tq::Cp("Экспорт в CSV...")).c_str());
    AppendMenuW(menu.get(), MF_STRING, IDM_IMPORT_CSV, Wide(tq::Cp("Импорт из CSV...")).c_str());
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), MF_STRING, IDM_NEW_RECORD, Wide(tq::Cp("Новая запись...")).c_str());
    AppendMenuW(menu.get(), MF_STRING, IDM_RESTORE_BACKUP, Wide(tq::Cp("Восстановить из резервной копии...")).c_str());
    const UINT chosen =
        TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0, hwnd(), nullptr);
    if (chosen) OnCommand(static_cast<int>(chosen), 0, nullptr);
}

bool ViewerMainWindow::OnNotify(NMHDR* header, LRESULT* result) {
    if (header->hwndFrom == cellTips_ && cellTips_ && header->code == TTN_GETDISPINFOW) {
        GiveCellTip(reinterpret_cast<NMTTDISPINFOW*>(header));
        return true;
    }
    if (header->idFrom != IDC_RECORD_LIST) return false;
    if (header->code == LVN_GETDISPINFOW) {
        GiveCell(reinterpret_cast<NMLVDISPINFOW*>(header));
        return true;
    }
    if (header->code == LVN_COLUMNCLICK) {
        logic_.OnColumnClick(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
        *result = 0;
        return true;
    }
    if (header->code != static_cast<UINT>(NM_CLICK)) return false;
    logic_.OnRecordClick();
    ShowPendingCount();
    *result = 0;
    return true;
}

bool ViewerMainWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
    if (msg == WM_PAINT && IsIconic(hwnd())) {
        PaintIcon();
        *result = 0;
        return true;
    }
    if (msg == WM_CONTEXTMENU && reinterpret_cast<HWND>(wp) == List()) {
        ShowContextMenu(lp);
        *result = 0;
        return true;
    }
    if (msg == WM_SIZE) {
        Layout();
        return false;
    }
    if (msg == WM_GETMINMAXINFO && minSize_.cx > 0) {
        reinterpret_cast<MINMAXINFO*>(lp)->ptMinTrackSize = {minSize_.cx, minSize_.cy};
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
    if (cellTips_) RemoveWindowSubclass(List(), ListProc, 0);
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (GetWindowPlacement(hwnd(), &placement)) {
        const RECT& normal = placement.rcNormalPosition;
        SaveWindowSize({normal.right - normal.left, normal.bottom - normal.top, IsZoomed(hwnd()) != FALSE});
    }
    RememberColumnWidths();
    SaveColumnWidths(columnWidths_);
    keyFilter_.reset();
    if (g_keyTarget == this) g_keyTarget = nullptr;
    logic_.OnDestroy();
}

namespace {

// A control's place in its dialog's client area.
RECT PlaceOf(HWND control) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

// The template's layout is the smallest: the list keeps its margins to the
// client's right and bottom edges, the icon its distance to the right edge.
// The size the engineer left the window in comes back.
void ViewerMainWindow::RestoreWindowSize() {
    RECT window, client;
    GetWindowRect(hwnd(), &window);
    GetClientRect(hwnd(), &client);
    const RECT list = PlaceOf(List());
    iconControl_ = GetDlgItem(hwnd(), 0xFFFF);  // the only control without an id of its own
    const RECT icon = iconControl_ ? PlaceOf(iconControl_) : RECT{};
    minSize_ = {window.right - window.left, window.bottom - window.top};
    listMargin_ = {client.right - list.right, client.bottom - list.bottom};
    iconMargin_ = client.right - icon.left;
    const WindowSize kept = LoadWindowSize();
    if (kept.width > 0)
        SetWindowPos(hwnd(), nullptr, 0, 0, std::max<int>(kept.width, minSize_.cx), std::max<int>(kept.height, minSize_.cy),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (kept.maximized) ShowWindow(hwnd(), SW_SHOWMAXIMIZED);
}

void ViewerMainWindow::Layout() {
    if (minSize_.cx == 0 || IsIconic(hwnd())) return;  // before the layout is known, or as an icon
    RECT client;
    GetClientRect(hwnd(), &client);
    const RECT list = PlaceOf(List());
    SetWindowPos(List(), nullptr, 0, 0, client.right - listMargin_.cx - list.left,
                 client.bottom - listMargin_.cy - list.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (!iconControl_) return;
    SetWindowPos(iconControl_, nullptr, client.right - iconMargin_, PlaceOf(iconControl_).top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd(), nullptr, TRUE);
}

// One tool covers the list; the list's mouse moves reach the tooltip, and a
// move onto another cell takes the shown tip down, so that the next one asks
// for that cell's text (GiveCellTip).
void ViewerMainWindow::MakeCellTips() {
    cellTips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr,
                                instance_, nullptr);
    if (!cellTips_) return;
    TOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(List());
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(cellTips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(cellTips_, TTM_SETMAXTIPWIDTH, 0, 600);  // long values wrap
    SetWindowSubclass(List(), ListProc, 0, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK ViewerMainWindow::ListProc(HWND list, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR self) {
    auto* window = reinterpret_cast<ViewerMainWindow*>(self);
    if (msg == WM_MOUSEMOVE || msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN) {
        MSG relayed = {list, msg, wp, lp, 0, {}};
        SendMessageW(window->cellTips_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
        LVHITTESTINFO hit = {};
        hit.pt = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
        SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        const POINT cell = {hit.iItem, hit.iItem >= 0 ? hit.iSubItem : -1};
        if (cell.x != window->tipCell_.x || cell.y != window->tipCell_.y) {
            window->tipCell_ = cell;
            SendMessageW(window->cellTips_, TTM_POP, 0, 0);
        }
    }
    return DefSubclassProc(list, msg, wp, lp);
}

// The whole text of the cell under the mouse, where its column shows less
// of it; no tip where the cell shows whole.
void ViewerMainWindow::GiveCellTip(NMTTDISPINFOW* info) {
    tipText_.clear();
    const int row = tipCell_.x, column = tipCell_.y;
    if (row >= 0 && column >= 0) {
        const std::wstring text = Wide(logic_.Rows().Cell(row, column));
        const LRESULT shown = SendMessageW(List(), LVM_GETCOLUMNWIDTH, column, 0);
        const LRESULT needed = SendMessageW(List(), LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str()));
        const int kCellPadding = 12;  // the list's margins around a cell's text
        if (!text.empty() && needed + kCellPadding > shown) tipText_ = text;
    }
    info->lpszText = tipText_.empty() ? nullptr : tipText_.data();
    info->szText[0] = L'\0';
}

// The widths of the shown columns, by caption, before the columns change.
void ViewerMainWindow::RememberColumnWidths() {
    for (size_t column = 0; column < captions_.size(); ++column) {
        const int width = static_cast<int>(SendMessageW(List(), LVM_GETCOLUMNWIDTH, column, 0));
        if (width > 0 && !captions_[column].empty()) columnWidths_[captions_[column]] = width;
    }
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
    ShowPendingRows();
    // The list is drawn while its rows still fill the visible page; later
    // rows land below it, and only the counter moves.
    const bool drawList = listUpdating_ && shownRows_ <= SendMessageW(List(), LVM_GETCOUNTPERPAGE, 0, 0) + 1;
    if (drawList) SendMessageW(List(), WM_SETREDRAW, TRUE, 0);
    tq::win::PumpPaintMessages();
    if (drawList) SendMessageW(List(), WM_SETREDRAW, FALSE, 0);
}

void ViewerMainWindow::ShowPendingCount() {
    SettleColumns();  // whatever shows next, shows the list as the logic left it
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

// Each listing hides and shows the counter and the buttons again; a control
// already as asked is left alone, lest it and the dialog behind it be drawn
// again for nothing.
void ViewerMainWindow::ShowControl(int id, bool show) {
    // Its own style, not IsWindowVisible: before the dialog shows, no child is visible.
    if (((GetWindowLongW(Item(id), GWL_STYLE) & WS_VISIBLE) != 0) == show) return;
    ShowItem(id, show);
}

// The list keeps its columns from one listing to the next: rebuilding 41
// columns while the list draws costs about half a second under Wine, more
// than the rows of a large listing. ClearList empties the rows and holds the
// drawing; AddColumn changes only what differs; the columns the logic did not
// add again go when the list settles (SettleColumns), before anything else
// is shown.
void ViewerMainWindow::ClearList() {
    RememberColumnWidths();
    HoldRedraw();
    SendMessageW(List(), LVM_DELETEALLITEMS, 0, 0);
    columnsAdded_ = 0;
    pendingRows_ = 0;
    shownRows_ = 0;
}

void ViewerMainWindow::AddColumn(int index, const std::string& caption, int width) {
    std::wstring text = Wide(caption);
    // A shown column takes the width the engineer gave it last; a hidden one stays hidden.
    if (const auto kept = columnWidths_.find(text); width > 0 && kept != columnWidths_.end()) width = kept->second;
    LVCOLUMNW column = {};
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = text.data();
    column.iSubItem = index;
    if (index < static_cast<int>(captions_.size())) {
        column.mask = 0;
        if (shownCaptions_[index] != text) column.mask |= LVCF_TEXT;
        if (SendMessageW(List(), LVM_GETCOLUMNWIDTH, index, 0) != width) column.mask |= LVCF_WIDTH;
        if (column.mask) SendMessageW(List(), LVM_SETCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
    } else {
        assert(index == static_cast<int>(captions_.size()));  // the logic adds them in order
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        SendMessageW(List(), LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
        captions_.emplace_back();
        shownCaptions_.emplace_back();
    }
    captions_[index] = text;
    shownCaptions_[index] = text;
    columnsAdded_ = std::max(columnsAdded_, index + 1);
}

void ViewerMainWindow::HoldRedraw() {
    if (redrawHeld_) return;
    SendMessageW(List(), WM_SETREDRAW, FALSE, 0);
    redrawHeld_ = true;
}

void ViewerMainWindow::SettleColumns() {
    if (columnsAdded_ >= 0) {
        while (static_cast<int>(captions_.size()) > columnsAdded_) {
            SendMessageW(List(), LVM_DELETECOLUMN, captions_.size() - 1, 0);
            captions_.pop_back();
            shownCaptions_.pop_back();
        }
        columnsAdded_ = -1;
    }
    if (!redrawHeld_ || listUpdating_) return;
    redrawHeld_ = false;
    SendMessageW(List(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(List(), nullptr, TRUE);
}

// The list only learns how many rows there are; it asks for the text of
// each cell it draws (GiveCell). Telling it the count is cheap but not free
// under Wine, so it happens at each repaint and at the end of the listing.
bool ViewerMainWindow::AddRow(const ListedRows& rows) {
    if (rows.Count() > kMaxListRows) return false;
    pendingRows_ = rows.Count();
    return true;
}

void ViewerMainWindow::ShowPendingRows() {
    if (pendingRows_ == shownRows_) return;
    SendMessageW(List(), LVM_SETITEMCOUNT, pendingRows_, LVSICF_NOSCROLL);
    shownRows_ = pendingRows_;
}

void ViewerMainWindow::GiveCell(NMLVDISPINFOW* info) {
    LVITEMW& item = info->item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0) return;
    const std::wstring text = Wide(logic_.Rows().Cell(item.iItem, item.iSubItem));
    const size_t length = std::min(text.size(), static_cast<size_t>(item.cchTextMax - 1));
    text.copy(item.pszText, length);
    item.pszText[length] = L'\0';
}

// A list view that redraws while its rows change takes tens of milliseconds
// a row under Wine; KeepPainted lets it draw now and then.
void ViewerMainWindow::BeginListUpdate() {
    // A listing shorter than the repaint interval is drawn once, when it ends.
    lastRepaint_ = GetTickCount();
    // The drawing stays held from ClearList on: a list let draw again lays
    // itself out at once under Wine, only to be held again here.
    listUpdating_ = true;
    SettleColumns();
    HoldRedraw();
}

// Every row was inserted selected into a single-selection list: the last one
// stays selected.
void ViewerMainWindow::EndListUpdate() {
    listUpdating_ = false;
    // The rows and the selection go in while the list's drawing is still
    // held: the list then lays itself out once, when it draws again.
    ShowPendingRows();
    if (shownRows_ > 0) {
        LVITEMW state = {};
        state.state = LVIS_SELECTED;
        state.stateMask = LVIS_SELECTED;
        SendMessageW(List(), LVM_SETITEMSTATE, shownRows_ - 1, reinterpret_cast<LPARAM>(&state));
    }
    ShowPendingCount();  // settles the list too
}

// The sorted column's caption ends with an arrow, drawn as text so that it
// shows with every version of the common controls.
void ViewerMainWindow::RowsSorted(int sortColumn, bool ascending) {
    for (size_t column = 0; column < captions_.size(); ++column) {
        std::wstring text = captions_[column];
        if (static_cast<int>(column) == sortColumn) text += ascending ? L" \u25B2" : L" \u25BC";
        if (text == shownCaptions_[column]) continue;
        shownCaptions_[column] = text;
        LVCOLUMNW header = {};
        header.mask = LVCF_TEXT;
        header.pszText = text.data();
        SendMessageW(List(), LVM_SETCOLUMNW, column, reinterpret_cast<LPARAM>(&header));
    }
    InvalidateRect(List(), nullptr, FALSE);
}

int ViewerMainWindow::SelectedRow() {
    return static_cast<int>(SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void ViewerMainWindow::SelectRow(int row) {
    LVITEMW state = {};
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(List(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    SendMessageW(List(), LVM_ENSUREVISIBLE, row, FALSE);
    SetFocus(List());
}

bool ViewerMainWindow::AskFindText(std::string* text) { return RunFindDialog(instance_, hwnd(), text); }

// The common file dialogs, opening in the scale's folder (the current one).
// They must not move the current folder: the databases are found relative to
// it. The export's types tell how its header names the columns.
static bool AskCsvFileName(HWND owner, bool save, const std::string& offered, std::string* path, CsvHeader* header = nullptr) {
    wchar_t name[MAX_PATH * 2] = {};
    lstrcpynW(name, Wide(offered).c_str(), MAX_PATH);
    const std::wstring folder = CurrentFolder();
    std::wstring filter;
    if (save) {
        filter = Wide(tq::Cp("CSV, столбцы s00..s40 (*.csv)")) + std::wstring(L"\0*.csv\0", 7) +
                 Wide(tq::Cp("CSV, столбцы с подписями из списка (*.csv)")) + std::wstring(L"\0*.csv\0", 7);
    } else {
        filter = Wide(tq::Cp("Файлы CSV (*.csv)")) + std::wstring(L"\0*.csv\0", 7);
    }
    filter += Wide(tq::Cp("Все файлы")) + std::wstring(L"\0*.*\0", 6);
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.nFilterIndex = header && *header == CsvHeader::Captions ? 2 : 1;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = name;
    ofn.nMaxFile = static_cast<DWORD>(sizeof name / sizeof name[0]);
    ofn.lpstrDefExt = L"csv";
    ofn.Flags = OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER |
                (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (!(save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn))) return false;
    *path = tq::WideToUtf8(name);
    if (header) *header = ofn.nFilterIndex == 2 ? CsvHeader::Captions : CsvHeader::ColumnNames;
    return true;
}

bool ViewerMainWindow::AskSaveFileName(const std::string& fileName, std::string* path, CsvHeader* header) {
    ShowPendingCount();
    return AskCsvFileName(hwnd(), true, fileName, path, header);
}

bool ViewerMainWindow::AskOpenFileName(std::string* path) {
    ShowPendingCount();
    return AskCsvFileName(hwnd(), false, "", path);
}

bool ViewerMainWindow::Message(const std::string& text, MessageKind kind) {
    ShowPendingCount();
    return ViewerMessage(hwnd(), text, kind);
}

void ViewerMainWindow::RunEditor(int db, int32_t code, bool newRecord) {
    RunEditRecordDialog(instance_, hwnd(), db, code, newRecord);
}
std::optional<int32_t> ViewerMainWindow::RunCreateTestDb() { return RunCreateTestDbDialog(instance_, hwnd()); }
bool ViewerMainWindow::ChooseBackup(const std::vector<std::string>& lines, int* chosen) {
    ShowPendingCount();
    return RunChooseBackupDialog(instance_, hwnd(), lines, chosen);
}

bool ViewerMessage(HWND owner, const std::string& text, MessageKind kind) {
    UINT type = MB_OK;
    if (kind == MessageKind::Error) type = MB_OK | MB_ICONSTOP;
    if (kind == MessageKind::Question) type = MB_YESNO | MB_ICONEXCLAMATION;
    if (kind == MessageKind::Warning) type = MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2;
    return tq::win::MessageBoxCp(owner, text, "TQScaleDBViewer", type) == IDYES;
}

void RunViewerMainDialog(HINSTANCE instance) {
    ViewerMainWindow dialog(instance);
    dialog.DoModal(instance, IDD_VIEWER_MAIN, nullptr);
}

}  // namespace tq::viewer
