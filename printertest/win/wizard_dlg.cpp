#include "wizard_dlg.h"

#include <commctrl.h>

#include "common/cp1251.h"
#include "common/win/user_settings.h"
#include "printertest/core/resource.h"

namespace tq::lmt {

namespace {

constexpr UINT kControlMissingMessage = WM_APP + 1;
constexpr wchar_t kPrinterClsid[] = L"{03CA02ED-6A7E-4FD9-90B6-D8480B61E13A}";
constexpr wchar_t kSettingsKey[] = L"Software\\Norvell\\LMT520EU";
constexpr wchar_t kScaleNumberValue[] = L"ScaleNumber";
constexpr int kScaleNumberLimit = 20;

RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy) {
    RECT r{x, y, x + cx, y + cy};
    MapDialogRect(dialog, &r);
    return r;
}

}  // namespace

// ---------------------------------------------------------------- message box

void PlaceWindow(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    const int screen = GetSystemMetrics(SM_CXSCREEN);
    const int x = (screen - width) / 2;
    const int y = ((screen / 4) * 3 - height) / 2;
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CMessageDlg::OnInitDialog() {
    PlaceWindow(hwnd());
    const bool question = mode_ == kQuestion;
    ShowItem(IDC_MSG_CONTINUE, !question);
    ShowItem(IDC_MSG_YES, question);
    ShowItem(IDC_MSG_NO, question);
    SetItemText(IDC_MSG_HEADER, header_);
    SetItemText(IDC_MSG_TEXT, message_);
    SetFocus(Item(question ? IDC_MSG_YES : IDC_MSG_CONTINUE));
    return FALSE;
}

bool CMessageDlg::OnCommand(int id, int /*code*/, HWND /*control*/) {
    if (id == IDC_MSG_YES || id == IDC_MSG_CONTINUE) {
        End(IDOK);
        return true;
    }
    if (id == IDC_MSG_NO) {
        End(IDCANCEL);
        return true;
    }
    return false;
}

BOOL CScaleNumberDlg::OnInitDialog() {
    PlaceWindow(hwnd());
    SendDlgItemMessageW(hwnd(), IDC_SCALE_NUMBER, EM_LIMITTEXT, kScaleNumberLimit, 0);
    SetItemText(IDC_SCALE_NUMBER, number_);
    // The kept number selected: typing replaces it, Enter keeps it.
    SendDlgItemMessageW(hwnd(), IDC_SCALE_NUMBER, EM_SETSEL, 0, -1);
    SetFocus(Item(IDC_SCALE_NUMBER));
    return FALSE;
}

bool CScaleNumberDlg::OnCommand(int id, int /*code*/, HWND /*control*/) {
    if (id != IDOK) return false;  // IDCANCEL ends the box as the base does
    number_ = ItemText(IDC_SCALE_NUMBER);
    End(IDOK);
    return true;
}

// A number longer than the prompt takes was not written by the wizard.
std::string RegistryScaleNumberStore::Load() {
    const std::wstring number = tq::win::LoadUserText(kSettingsKey, kScaleNumberValue);
    return number.size() <= static_cast<size_t>(kScaleNumberLimit) ? tq::WideToCp1251(number) : std::string();
}

bool RegistryScaleNumberStore::Save(const std::string& number) {
    return tq::win::SaveUserText(kSettingsKey, kScaleNumberValue, tq::Wide(number));
}

void Notify(HWND owner, const std::string& message, const std::string& header) {
    CMessageDlg box(header, message, CMessageDlg::kNotice);
    box.DoModal(GetModuleHandleW(nullptr), IDD_MESSAGE, owner);
}

bool Ask(HWND owner, const std::string& message, const std::string& header) {
    CMessageDlg box(header, message, CMessageDlg::kQuestion);
    return box.DoModal(GetModuleHandleW(nullptr), IDD_MESSAGE, owner) == IDOK;
}

// ---------------------------------------------------------------- pages

void PageWindow::SetText(int item, const std::string& text) {
    SetItemText(item, text);
    // A long run holds the thread: draw now, not when it ends.
    UpdateWindow(Item(item));
    tq::win::PumpPaintMessages();
}

void PageWindow::SetChecked(int item, bool on) {
    SendMessageW(Item(item), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool PageWindow::Checked(int item) {
    return SendMessageW(Item(item), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void PageWindow::Notify(const std::string& message, const std::string& header) {
    wizard_.Notify(message, header);
}

void PageWindow::WarnInvalidEntry(int item, const std::string& message) {
    wizard_.ShowWaiting(false);  // a box waits for the engineer, not for the printer
    tq::win::MessageBoxCp(wizard_.hwnd(), message, "LMT520EU", MB_OK | MB_ICONEXCLAMATION);
    SetFocus(Item(item));
}

bool PageWindow::StopRequested() {
    // Esc stops a long run. Other keys pressed meanwhile are dropped.
    bool stop = false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE))
        stop = stop || msg.wParam == VK_ESCAPE;
    // The close box stops it too; the wizard closes once the run has ended.
    return wizard_.TakeCloseRequest() || stop;
}

bool PageWindow::OnCommand(int id, int code, HWND control) {
    if (!control || code != BN_CLICKED) return false;
    wizard_.BeginButtonWork();
    page_.OnButton(id);
    wizard_.EndButtonWork();
    wizard_.ReportControlFault();
    return true;
}

// ---------------------------------------------------------------- main dialog

BOOL WizardWindow::OnInitDialog() {
    CreatePrinterControl();
    HICON icon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_APP));
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    PlaceWindow(hwnd());
    MakeTitleFont();
    CreatePages();
    wizard_->ShowSelectedPage();
    SetTimer(hwnd(), kVoltageTimerId, kVoltageTimerPeriodMs, nullptr);
    if (!printer_.attached()) PostMessageW(hwnd(), kControlMissingMessage, 0, 0);
    return TRUE;
}

void WizardWindow::CreatePrinterControl() {
    // Item 1000: the control in an AtlAxWin host window, never shown.
    const RECT r = DialogUnits(hwnd(), 237, 54, 60, 25);
    HWND host = CreateWindowExW(0, L"AtlAxWin", L"", WS_CHILD, r.left, r.top,
                                r.right - r.left, r.bottom - r.top, hwnd(),
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PRINTER_CONTROL)),
                                instance_, nullptr);
    printer_.Create(host, kPrinterClsid, atl_);
    printer_.SetCallNotice([](void* self) { static_cast<WizardWindow*>(self)->ShowWaiting(true); }, this);
    StartReport();
    wizard_ = std::make_unique<CWizardDlg>(printer_, clock_, *this, report_.get(), &scaleNumbers_);
}

void WizardWindow::ShowWaiting(bool waiting) {
    if (!inButtonWork_ || waiting == waiting_) return;
    if (title_.empty()) {
        wchar_t text[128] = L"";
        GetWindowTextW(hwnd(), text, 128);
        title_ = text;
    }
    waiting_ = waiting;
    const std::wstring title = waiting ? title_ + L" — Подождите…" : title_;
    SetWindowTextW(hwnd(), title.c_str());
    // The call that follows holds the thread: draw the title now.
    RedrawWindow(hwnd(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    tq::win::PumpPaintMessages();
}

void WizardWindow::EndButtonWork() {
    ShowWaiting(false);
    inButtonWork_ = false;
    if (!closeRequested_) return;
    closeRequested_ = false;
    // As the close box does: the dialog cancels, the wizard ends.
    PostMessageW(hwnd(), WM_CLOSE, 0, 0);
}

bool WizardWindow::TakeCloseRequest() {
    MSG msg;
    while (PeekMessageW(&msg, hwnd(), WM_CLOSE, WM_CLOSE, PM_REMOVE)) closeRequested_ = true;
    while (PeekMessageW(&msg, hwnd(), WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE))
        if ((msg.wParam & 0xFFF0) == SC_CLOSE) closeRequested_ = true;
    // A press on the title bar during the run is dropped with it; the window
    // could not have been moved meanwhile either.
    while (PeekMessageW(&msg, hwnd(), WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE))
        if (msg.wParam == HTCLOSE) closeRequested_ = true;
    return closeRequested_;
}

void WizardWindow::StartReport() {
    ReportHeader header;
    header.started = wallClock_.Now();
    header.computer = ComputerName();
    header.controlVersion = ControlVersion(kPrinterClsid);
    const std::wstring name = tq::Wide(CServiceReport::FileName(header.started));
    reportFile_ = std::make_unique<ReportFile>(ReportFolders(), name);
    auto warn = [this](const std::string& problem) {
        tq::win::MessageBoxCp(hwnd(), problem, "LMT520EU", MB_OK | MB_ICONEXCLAMATION);
    };
    report_ = std::make_unique<CServiceReport>(*reportFile_, wallClock_, header, warn);
}

void WizardWindow::MakeTitleFont() {
    HFONT buttonFont = reinterpret_cast<HFONT>(SendMessageW(Item(IDC_NEXT), WM_GETFONT, 0, 0));
    LOGFONTW font{};
    if (!buttonFont || !GetObjectW(buttonFont, sizeof font, &font)) return;
    font.lfWeight = FW_BOLD;
    font.lfHeight = 24;
    titleFont_.reset(CreateFontIndirectW(&font));
}

void WizardWindow::CreatePages() {
    HWND list = Item(IDC_STEP_LIST);
    const RECT at = DialogUnits(hwnd(), 110, 0, 0, 0);
    for (int i = 0; i < kStepCount; ++i) {
        wchar_t text[128] = L"";
        LoadStringW(instance_, IDS_FIRST_STEP + i, text, 128);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        if (i == 0) SendMessageW(list, LB_SETCURSEL, 0, 0);

        pages_[i] = std::make_unique<PageWindow>(*this, wizard_->page(i));
        HWND page = pages_[i]->Create(instance_, IDD_LINK_PAGE + i, hwnd());
        // The page's resource id as its item id lets a UI driver find it.
        SetWindowLongPtrW(page, GWLP_ID, IDD_LINK_PAGE + i);
        SetWindowPos(page, nullptr, at.left, at.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        if (titleFont_)
            SendMessageW(GetDlgItem(page, IDC_PAGE_TITLE), WM_SETFONT,
                         reinterpret_cast<WPARAM>(titleFont_.get()), TRUE);
        wizard_->page(i).AttachView(pages_[i].get());
    }
    SendDlgItemMessageW(pages_[kTestPrintStep]->hwnd(), IDC_COUNT, EM_LIMITTEXT, 3, 0);
    SendDlgItemMessageW(pages_[kStabilityStep]->hwnd(), IDC_COUNT, EM_LIMITTEXT, 5, 0);
    pages_[kTestPrintStep]->SetText(IDC_COUNT, "1");
    pages_[kStabilityStep]->SetText(IDC_COUNT, "10");
}

int WizardWindow::SelectedStep() {
    return static_cast<int>(SendDlgItemMessageW(hwnd(), IDC_STEP_LIST, LB_GETCURSEL, 0, 0));
}

void WizardWindow::SelectStep(int step) {
    SendDlgItemMessageW(hwnd(), IDC_STEP_LIST, LB_SETCURSEL, step, 0);
}

void WizardWindow::ShowPage(int step, bool show) {
    ShowWindow(pages_[step]->hwnd(), show ? SW_SHOW : SW_HIDE);
}

bool WizardWindow::Ask(const std::string& message, const std::string& header) {
    ShowWaiting(false);  // a box waits for the engineer, not for the printer
    return tq::lmt::Ask(hwnd(), message, header);
}

void WizardWindow::Inform(const std::string& message) {
    ShowWaiting(false);
    tq::win::MessageBoxCp(hwnd(), message, "LMT520EU", MB_OK | MB_ICONINFORMATION);
}

std::optional<std::string> WizardWindow::AskScaleNumber(const std::string& offered) {
    CScaleNumberDlg prompt(offered);
    if (prompt.DoModal(instance_, IDD_SCALE_NUMBER, hwnd()) != IDOK) return std::nullopt;
    return prompt.number();
}

void WizardWindow::Notify(const std::string& message, const std::string& header) {
    ShowWaiting(false);
    tq::lmt::Notify(hwnd(), message, header);
}

void WizardWindow::ReportControlFault() {
    if (reporting_) return;  // the timer ticks on while the box is open
    const std::string fault = printer_.TakeFault();
    if (fault.empty()) return;
    reporting_ = true;
    wizard_->RecordControlFault(fault);
    Notify(fault, tq::Cp("Ошибка принтера"));
    reporting_ = false;
}

bool WizardWindow::OnCommand(int id, int code, HWND /*control*/) {
    switch (id) {
    case IDC_STEP_LIST:
        if (code == LBN_SELCHANGE) wizard_->ShowSelectedPage();
        return true;
    case IDC_NEXT:
        wizard_->OnNext();
        return true;
    case IDC_BACK:
        wizard_->OnBack();
        return true;
    case IDC_EXIT:
        wizard_->OnExit();
        return true;
    case IDOK:  // Enter does not leave without the question
        return true;
    case IDCANCEL:  // Esc and the close box (WM_CLOSE) leave as "Выход" does
        wizard_->OnCancel();
        return true;
    default:
        return false;
    }
}

bool WizardWindow::OnTimer(UINT_PTR id) {
    // A tick inside a button's work (a box of it is open) polls the voltage;
    // that is no call for the engineer to wait for.
    const bool work = inButtonWork_;
    inButtonWork_ = false;
    wizard_->OnTimer(static_cast<unsigned>(id));
    inButtonWork_ = work;
    ReportControlFault();
    return true;
}

void WizardWindow::OnDestroy() {
    // The timer goes first so that no tick reaches a page being taken down.
    KillTimer(hwnd(), kVoltageTimerId);
    for (auto& page : pages_) page.reset();
}

bool WizardWindow::OnMessage(UINT msg, WPARAM, LPARAM, LRESULT* result) {
    if (msg != kControlMissingMessage) return false;
    ShowWindow(hwnd(), SW_SHOW);  // the notice stands over the wizard, not alone
    Notify(tq::Cp("Элемент управления принтера не найден: он не установлен или не "
                  "зарегистрирован. Проверки принтера не будут работать."),
           tq::Cp("Ошибка"));
    *result = 0;
    return true;
}

}  // namespace tq::lmt
