// The Win32 side of the wizard: the main dialog, the page windows and the
// program's own message box. They forward clicks and ticks to the portable
// frame and pages and draw what those say.
#pragma once
#include <windows.h>

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "common/win/dialog.h"
#include "common/win/handle.h"
#include "common/win/win_clock.h"
#include "create_label.h"
#include "report_file.h"
#include "printertest/core/wizard.h"

namespace tq::lmt {

// CMessageDlg: a notice (one "Продолжить" button) or a question ("Да", "Нет").
class CMessageDlg : public tq::win::Dialog {
public:
    enum Mode { kNotice = 0, kQuestion = 1 };
    CMessageDlg(std::string header, std::string message, Mode mode)
        : header_(std::move(header)), message_(std::move(message)), mode_(mode) {}

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    std::string header_;
    std::string message_;
    Mode mode_;
};

// The scale's number before the report is saved: an edit with the number
// kept from the last run, "Сохранить" (Enter) and "Отмена" (Esc).
class CScaleNumberDlg : public tq::win::Dialog {
public:
    explicit CScaleNumberDlg(std::string offered) : number_(std::move(offered)) {}
    const std::string& number() const { return number_; }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    std::string number_;
};

// The scale's number under HKCU\Software\Norvell\LMT520EU, value ScaleNumber.
class RegistryScaleNumberStore : public ScaleNumberStore {
public:
    std::string Load() override;
    bool Save(const std::string& number) override;
};

void Notify(HWND owner, const std::string& message, const std::string& header);
bool Ask(HWND owner, const std::string& message, const std::string& header);

// Centres a window across the screen width and, taking the screen height as
// three quarters of its width, on that height.
void PlaceWindow(HWND hwnd);

class WizardWindow;

class PageWindow : public tq::win::Dialog, public PageView {
public:
    PageWindow(WizardWindow& wizard, CWizardPage& page) : wizard_(wizard), page_(page) {}

    void SetText(int item, const std::string& text) override;
    std::string Text(int item) override { return ItemText(item); }
    void SetChecked(int item, bool on) override;
    bool Checked(int item) override;
    void Notify(const std::string& message, const std::string& header) override;
    void WarnInvalidEntry(int item, const std::string& message) override;
    bool StopRequested() override;

protected:
    bool OnCommand(int id, int code, HWND control) override;

private:
    WizardWindow& wizard_;
    CWizardPage& page_;
};

class WizardWindow : public tq::win::Dialog, public WizardView {
public:
    WizardWindow(HINSTANCE instance, const AtlHosting& atl) : instance_(instance), atl_(atl) {}

    int SelectedStep() override;
    void SelectStep(int step) override;
    void ShowPage(int step, bool show) override;
    void EnableItem(int item, bool enable) override { Dialog::EnableItem(item, enable); }
    bool Ask(const std::string& message, const std::string& header) override;
    void EndWizard() override { End(IDOK); }
    void Inform(const std::string& message) override;
    std::optional<std::string> AskScaleNumber(const std::string& offered) override;

    void Notify(const std::string& message, const std::string& header);
    // Tells the engineer of an error the control raised, once.
    void ReportControlFault();

    // A page's button work: while it runs, each call of the control first
    // puts "Подождите…" in the title, since the call holds this thread and
    // the window cannot answer until it returns. The end restores the title
    // and closes the wizard if the engineer asked for that meanwhile.
    void BeginButtonWork() { inButtonWork_ = true; }
    void EndButtonWork();
    // Between calls of a long run: takes a close (the close box, or a close
    // posted to the wizard) out of the queue and remembers it. True when
    // one was asked for since the button work began.
    bool TakeCloseRequest();
    // The notice, shown or taken back; shown only during button work.
    void ShowWaiting(bool waiting);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnTimer(UINT_PTR id) override;
    void OnDestroy() override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

private:
    void CreatePrinterControl();
    void StartReport();
    void MakeTitleFont();
    void CreatePages();

    HINSTANCE instance_;
    AtlHosting atl_;
    CCreateLabel1 printer_;
    tq::win::WinClock clock_;
    SystemWallClock wallClock_;
    RegistryScaleNumberStore scaleNumbers_;
    std::unique_ptr<ReportFile> reportFile_;
    std::unique_ptr<CServiceReport> report_;
    std::unique_ptr<CWizardDlg> wizard_;
    std::array<std::unique_ptr<PageWindow>, kStepCount> pages_;
    tq::win::GdiObject titleFont_;
    bool reporting_ = false;
    std::wstring title_;           // the title without the waiting notice
    bool inButtonWork_ = false;
    bool waiting_ = false;         // the title shows the waiting notice
    bool closeRequested_ = false;  // during button work
};

}  // namespace tq::lmt
