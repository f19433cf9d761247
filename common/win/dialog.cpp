#include "dialog.h"

#include "../cp1251.h"
#include "module_path.h"

#include <exception>
#include <string>

namespace tq::win {

// The object is half gone here: the window is cut loose from it before it is
// destroyed, so no handler runs. A dialog that needs its OnDestroy destroys
// its window itself before its destructor ends.
Dialog::~Dialog() {
    if (hwnd_ && !modal_) {
        HWND hwnd = hwnd_;
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        hwnd_ = nullptr;
        DestroyWindow(hwnd);
    }
}

INT_PTR Dialog::DoModal(HINSTANCE instance, int templateId, HWND parent) {
    modal_ = true;
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), parent, Proc,
                           reinterpret_cast<LPARAM>(this));
}

HWND Dialog::Create(HINSTANCE instance, int templateId, HWND parent) {
    modal_ = false;
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), parent, Proc,
                              reinterpret_cast<LPARAM>(this));
}

void Dialog::SetItemText(int id, std::string_view cp1251) const {
    SetDlgItemTextW(hwnd_, id, Wide(cp1251).c_str());
}

std::string Dialog::ItemText(int id) const {
    HWND item = Item(id);
    const int length = item ? GetWindowTextLengthW(item) : 0;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = item ? GetWindowTextW(item, text.data(), length + 1) : 0;
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return Narrow(text);
}

void Dialog::ShowItem(int id, bool show) const { ShowWindow(Item(id), show ? SW_SHOW : SW_HIDE); }

void Dialog::EnableItem(int id, bool enable) const { EnableWindow(Item(id), enable ? TRUE : FALSE); }

void Dialog::SetTitle(std::string_view cp1251) const { SetWindowTextW(hwnd_, Wide(cp1251).c_str()); }

namespace {

// The messages whose result a dialog procedure returns itself rather than
// through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT msg) {
    return (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC) || msg == WM_COMPAREITEM ||
           msg == WM_VKEYTOITEM || msg == WM_CHARTOITEM || msg == WM_QUERYDRAGICON;
}

}  // namespace

INT_PTR CALLBACK Dialog::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Dialog* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lp);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    // After a failure only the last message still runs, to cut the object loose.
    if (!self || (self->failed_ && msg != WM_NCDESTROY)) return FALSE;
    // Nothing may unwind through user32: it would leave the window manager,
    // and the program with it, in a state nobody knows.
    try {
        return self->Handle(msg, wp, lp);
    } catch (const std::exception& e) {
        self->FailInternally(e.what());
    } catch (...) {
        self->FailInternally(nullptr);
    }
    return FALSE;
}

namespace {

// The program's own name, as its message boxes are titled.
std::string ProgramName() {
    std::wstring name = ModulePath();
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return Narrow(name);
}

}  // namespace

// Marked failed first, so that the messages the box dispatches meanwhile
// reach no handler; the object stays, but what the handler left half done is
// not trusted again.
void Dialog::FailInternally(const char* what) {
    failed_ = true;
    const HWND hwnd = hwnd_;
    try {
        const std::string why = what ? what : Cp("неизвестная ошибка");
        MessageBoxCp(hwnd, Cp("Внутренняя ошибка: ") + why, ProgramName(), MB_OK | MB_ICONERROR);
    } catch (...) {
        // Not even the message could be made; the dialog still ends.
    }
    if (modal_)
        EndDialog(hwnd, kFailed);
    else
        DestroyWindow(hwnd);
}

INT_PTR Dialog::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        if (OnCommand(id, HIWORD(wp), reinterpret_cast<HWND>(lp))) return TRUE;
        if (modal_ && (id == IDOK || id == IDCANCEL)) {
            EndDialog(hwnd_, id);
            return TRUE;
        }
        return FALSE;
    }
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (!OnNotify(reinterpret_cast<NMHDR*>(lp), &result)) return FALSE;
        SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
    }
    case WM_TIMER:
        return OnTimer(wp) ? TRUE : FALSE;
    case WM_CLOSE:
        return OnClose() ? TRUE : FALSE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
        hwnd_ = nullptr;
        return FALSE;
    default: {
        LRESULT result = 0;
        if (!OnMessage(msg, wp, lp, &result)) return FALSE;
        if (ReturnsResultDirectly(msg)) return static_cast<INT_PTR>(result);
        SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
    }
    }
}

int MessageBoxCp(HWND owner, std::string_view text, std::string_view caption, UINT type) {
    return MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(), type);
}

void PumpPaintMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace tq::win
