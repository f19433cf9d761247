// The base of every dialog of the two dialog programs. One static dialog
// procedure keeps `this` from WM_INITDIALOG on and hands each message to a
// member handler. Texts cross this class as code page 1251 and go to the
// Unicode APIs.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace tq::win {

class Dialog {
public:
    static constexpr INT_PTR kFailed = -2;

    Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    virtual ~Dialog();

    // Runs the dialog modally; returns the value given to End (or -1).
    // A handler that throws ends the dialog with kFailed after a message.
    INT_PTR DoModal(HINSTANCE instance, int templateId, HWND parent);
    // Creates the dialog as a modeless window, for example a child page.
    HWND Create(HINSTANCE instance, int templateId, HWND parent);

    HWND hwnd() const { return hwnd_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    void SetItemText(int id, std::string_view cp1251) const;
    std::string ItemText(int id) const;
    void ShowItem(int id, bool show) const;
    void EnableItem(int id, bool enable) const;
    void SetTitle(std::string_view cp1251) const;
    // Ends a modal run.
    void End(INT_PTR result) const { EndDialog(hwnd_, result); }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // Return true when handled. IDOK and IDCANCEL not handled end a modal run.
    virtual bool OnCommand(int /*id*/, int /*code*/, HWND /*control*/) { return false; }
    virtual bool OnNotify(NMHDR* /*header*/, LRESULT* /*result*/) { return false; }
    virtual bool OnTimer(UINT_PTR /*id*/) { return false; }
    // Return true when handled; otherwise the system turns WM_CLOSE into IDCANCEL.
    virtual bool OnClose() { return false; }
    virtual void OnDestroy() {}
    // Any other message; return true when handled, with *result as the message
    // result (returned directly for WM_CTLCOLOR*, WM_QUERYDRAGICON and the like).
    virtual bool OnMessage(UINT /*msg*/, WPARAM, LPARAM, LRESULT* /*result*/) { return false; }

private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR Handle(UINT msg, WPARAM wp, LPARAM lp);
    // A handler threw `what` (code page 1251; null when it was no
    // std::exception): the dialog says so and ends.
    void FailInternally(const char* what);

    HWND hwnd_ = nullptr;
    bool modal_ = false;
    bool failed_ = false;  // after a handler threw, no handler runs again
};

// A message box with code page 1251 texts.
int MessageBoxCp(HWND owner, std::string_view text, std::string_view caption, UINT type);

// Dispatches the paint and sent messages that are waiting, and nothing else, so
// that a long piece of work on the user-interface thread keeps its windows
// drawn without taking input.
void PumpPaintMessages();

}  // namespace tq::win
