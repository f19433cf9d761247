// The main dialog's window: forwards its commands to CViewerMainDlg and draws
// what the logic asks for.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>
#include <vector>

#include "../resource.h"
#include "../viewer_main_dlg.h"
#include "common/win/dialog.h"
#include "common/win/handle.h"

namespace tq::viewer {

class ViewerMainWindow : public tq::win::Dialog, private MainView {
public:
    explicit ViewerMainWindow(HINSTANCE instance);
    // The logic, for the benchmark that drives it without clicks.
    CViewerMainDlg& logic() { return logic_; }

private:
    // Kept from initialisation: under Wine every GetDlgItem asks the server.
    HWND List() const { return list_; }
    HWND Chooser() const { return chooser_; }

    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(NMHDR* header, LRESULT* result) override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
    void OnDestroy() override;
    void PaintIcon();
    void KeepPainted();
    void ShowPendingCount();
    void ShowPendingRows();
    void HoldRedraw();
    void SettleColumns();
    void RestoreWindowSize();
    void Layout();
    void RememberColumnWidths();
    void MakeCellTips();
    void GiveCellTip(NMTTDISPINFOW* info);
    static LRESULT CALLBACK ListProc(HWND list, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR self);
    void GiveCell(NMLVDISPINFOW* info);
    bool OnKey(UINT key, HWND target);
    void ShowContextMenu(LPARAM at);
    static LRESULT CALLBACK KeyFilter(int code, WPARAM wp, LPARAM lp);

    // MainView
    void SetTitle(const std::string& title) override;
    void AddChooserItem(const std::string& label) override;
    void SelectChooserItem(int index) override;
    int ChooserSelection() override;
    std::string ChooserText() override;
    void SetControlText(int id, const std::string& text) override;
    void ShowControl(int id, bool show) override;
    void ClearList() override;
    void AddColumn(int index, const std::string& caption, int width) override;
    bool AddRow(const ListedRows& rows) override;
    void BeginListUpdate() override;
    void EndListUpdate() override;
    int SelectedRow() override;
    void SelectRow(int row) override;
    void RowsSorted(int column, bool ascending) override;
    bool AskFindText(std::string* text) override;
    bool AskSaveFileName(const std::string& fileName, std::string* path, CsvHeader* header) override;
    bool AskOpenFileName(std::string* path) override;
    bool Message(const std::string& text, MessageKind kind) override;
    void RunEditor(int db, int32_t code, bool newRecord) override;
    bool ChooseBackup(const std::vector<std::string>& lines, int* chosen) override;
    std::optional<int32_t> RunCreateTestDb() override;

    HINSTANCE instance_;
    HICON icon_;
    HWND list_ = nullptr;
    HWND chooser_ = nullptr;
    DWORD lastRepaint_ = 0;
    bool listUpdating_ = false;
    std::string pendingCount_;
    int pendingRows_ = 0;  // kept by the logic, not yet told to the list
    int shownRows_ = 0;
    // The list's columns: their own captions, and as the header shows them
    // (with the sort arrow); the columns added since ClearList, -1 once settled.
    std::vector<std::wstring> captions_;
    std::vector<std::wstring> shownCaptions_;
    int columnsAdded_ = -1;
    bool redrawHeld_ = false;  // the list does not draw until the update settles
    // The window grows and shrinks: the list with it, the icon along its right
    // edge, never smaller than the template.
    SIZE minSize_ = {0, 0};
    SIZE listMargin_ = {0, 0};  // from the list's bottom right to the client's
    int iconMargin_ = 0;        // from the icon's left to the client's right
    HWND iconControl_ = nullptr;
    std::map<std::wstring, int> columnWidths_;  // as the engineer left them, by caption
    // A cell whose text its column cuts shows whole in a tooltip.
    HWND cellTips_ = nullptr;
    POINT tipCell_ = {-1, -1};  // row, column under the mouse
    std::wstring tipText_;
    tq::win::Hook keyFilter_;
    CViewerMainDlg logic_{*this};
};

}  // namespace tq::viewer
