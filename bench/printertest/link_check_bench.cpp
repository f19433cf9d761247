// The link check's 1000 requests against the simulator control.
//
// First the control alone: 1000 RequestStatus calls through IDispatch::Invoke
// in a bare loop. Then the wizard's link check on the same control, with its
// texts going to a real window as on the page. The difference per request is
// the wizard's own time. Last, with the control taking about 1 ms a request,
// the spacing of the progress texts.
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "common/win/dialog.h"
#include "common/win/win_clock.h"
#include "printertest/core/pages.h"
#include "printertest/core/resource.h"
#include "printertest/win/create_label.h"
#include "tools/printersim/load_simulator.h"

namespace {

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Texts go to a static control and are drawn at once, as on a page.
class WindowView : public tq::lmt::PageView {
public:
    WindowView() {
        window_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 300, 40,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~WindowView() override { DestroyWindow(window_); }
    void SetText(int item, const std::string& text) override {
        SetWindowTextW(window_, tq::Cp1251ToWide(text).c_str());
        UpdateWindow(window_);
        tq::win::PumpPaintMessages();
        if (item == IDC_RESULT && text.rfind(tq::Cp("Идет проверка"), 0) == 0) progressAt.push_back(NowMs());
    }
    std::string Text(int) override { return {}; }
    void SetChecked(int, bool) override {}
    bool Checked(int) override { return false; }
    void Notify(const std::string&, const std::string&) override {}
    void WarnInvalidEntry(int, const std::string&) override {}
    bool StopRequested() override { return false; }

    std::vector<double> progressAt;

private:
    HWND window_;
};

void WriteScenario(const std::wstring& path, const char* text) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(f);
}

bool MakePrinter(tq::lmt::CCreateLabel1& printer) {
    IDispatch* control = printersim::MakeSimulator();
    if (!control) return false;
    printer.AttachDispatch(control);
    control->Release();
    return true;
}

}  // namespace

int main() {
    OleInitialize(nullptr);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring scenario = std::wstring(temp) + L"tq-link-bench.txt";
    SetEnvironmentVariableW(L"TQ_PRINTERSIM_SCENARIO", scenario.c_str());
    SetEnvironmentVariableW(L"TQ_PRINTERSIM_LOG", nullptr);
    WriteScenario(scenario, "RequestStatus = 0\nVersionMajor = 3\nVersionMinor = 14\n");

    constexpr int kRequests = tq::lmt::CLinkPage::kRequests;
    constexpr int kRounds = 20;
    double controlMs = 1e9, wizardMs = 1e9;  // best of the rounds
    {
        tq::lmt::CCreateLabel1 printer;
        if (!MakePrinter(printer)) {
            std::printf("printersim.dll not found beside the tools folder\n");
            return 1;
        }
        tq::win::WinClock clock;
        WindowView view;
        tq::lmt::CLinkPage page(printer, clock);
        page.AttachView(&view);
        for (int round = 0; round < kRounds; ++round) {
            double start = NowMs();
            for (int i = 0; i < kRequests; ++i) printer.RequestStatus();
            controlMs = std::min(controlMs, NowMs() - start);
            start = NowMs();
            page.CheckLink();
            wizardMs = std::min(wizardMs, NowMs() - start);
        }
    }
    const double perControl = controlMs * 1000.0 / kRequests;
    const double perWizard = wizardMs * 1000.0 / kRequests;
    std::printf("link check, %d requests, best of %d rounds\n", kRequests, kRounds);
    std::printf("  control alone:      %8.2f ms  %6.1f us/request\n", controlMs, perControl);
    std::printf("  wizard link check:  %8.2f ms  %6.1f us/request\n", wizardMs, perWizard);
    std::printf("  wizard's own time:  %6.1f us/request (target <= 200)\n", perWizard - perControl);

    WriteScenario(scenario, "RequestStatus = 0\ndelay RequestStatus 1\n");
    {
        tq::lmt::CCreateLabel1 printer;
        MakePrinter(printer);
        tq::win::WinClock clock;
        WindowView view;
        tq::lmt::CLinkPage page(printer, clock);
        page.AttachView(&view);
        const double start = NowMs();
        page.CheckLink();
        const double total = NowMs() - start;
        double widest = 0, sum = 0;
        for (size_t i = 1; i < view.progressAt.size(); ++i) {
            const double gap = view.progressAt[i] - view.progressAt[i - 1];
            widest = std::max(widest, gap);
            sum += gap;
        }
        const size_t gaps = view.progressAt.size() > 1 ? view.progressAt.size() - 1 : 1;
        std::printf("slow control (~1 ms a request): %.0f ms in all, %zu progress texts, "
                    "%.0f ms apart on average, %.0f ms at most\n",
                    total, view.progressAt.size(), sum / gaps, widest);
    }
    DeleteFileW(scenario.c_str());
    OleUninitialize();
    return 0;
}
