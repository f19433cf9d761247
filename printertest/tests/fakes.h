// A scripted printer and a recording page view for the page tests, and the
// rig that puts a page between them.
#pragma once
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/cp1251.h"
#include "printertest/core/pages.h"
#include "printertest/core/printer_control.h"
#include "printertest/core/resource.h"
#include "printertest/core/wizard.h"

namespace tq::lmt::test {

// Each call or read takes the next scripted value of its name; the last
// value repeats. Unscripted names answer 0. Every call is logged.
class FakePrinter : public PrinterControl {
public:
    void Script(const std::string& name, std::vector<long> values) {
        script_[name] = std::deque<long>(values.begin(), values.end());
    }
    int Count(const std::string& name) const {
        int n = 0;
        for (const auto& call : calls) n += call.rfind(name, 0) == 0;
        return n;
    }

    long Feed() override { return Next("Feed"); }
    long LoadLabel(const std::string& path) override { return Log("LoadLabel " + path, 0); }
    long PrepareLabel() override { return Log("PrepareLabel", 0); }
    void SetLabelValue8(double v) override { Log("LabelValue8 " + std::to_string(v), 0); }
    void SetLabelValue9(double v) override { Log("LabelValue9 " + std::to_string(v), 0); }
    void SetLabelValue10(double v) override { Log("LabelValue10 " + std::to_string(v), 0); }
    void SetLabelBarcode(const std::string& s) override { Log("LabelBarcode " + s, 0); }
    void SetLabelName(const std::string& s) override { Log("LabelName " + tq::Cp1251ToUtf8(s), 0); }
    void SetLabelInteger20(long v) override { Log("LabelInteger20 " + std::to_string(v), 0); }
    long EnableLabelSensor(bool on) override { return Log(on ? "EnableLabelSensor 1" : "EnableLabelSensor 0", 0); }
    long Status() override { return Next("Status"); }
    long SensorFlags() override { return Next("SensorFlags"); }
    long RequestStatus() override {
        if (onRequestStatus) onRequestStatus();
        return Next("RequestStatus");
    }
    long VersionMinor() override { return Next("VersionMinor"); }
    long VersionMajor() override { return Next("VersionMajor"); }
    long PeVoltage() override { return Next("PeVoltage"); }
    long LabVoltage() override { return Next("LabVoltage"); }
    long HeadTemperature() override { return Next("HeadTemperature"); }
    long RulVoltage() override { return Next("RulVoltage"); }
    long TestSram() override { return Next("TestSram"); }
    long PrintLabel() override { return Next("PrintLabel"); }
    bool Faulted() const override { return faulted; }

    std::vector<std::string> calls;
    std::function<void()> onRequestStatus;
    bool faulted = false;

private:
    long Log(const std::string& call, long value) {
        calls.push_back(call);
        return value;
    }
    long Next(const std::string& name) {
        long value = 0;
        auto it = script_.find(name);
        if (it != script_.end() && !it->second.empty()) {
            value = it->second.front();
            if (it->second.size() > 1) it->second.pop_front();
        }
        return Log(name, value);
    }
    std::map<std::string, std::deque<long>> script_;
};

// Texts are kept as UTF-8 so that failures read well.
class FakePageView : public PageView {
public:
    void SetText(int item, const std::string& text) override {
        texts[item] = tq::Cp1251ToUtf8(text);
        history.emplace_back(item, texts[item]);
    }
    std::string Text(int item) override { return tq::Utf8ToCp1251(texts[item]); }
    void SetChecked(int item, bool on) override { checked[item] = on; }
    bool Checked(int item) override { return checked[item]; }
    void Notify(const std::string& message, const std::string& header) override {
        notices.emplace_back(tq::Cp1251ToUtf8(header), tq::Cp1251ToUtf8(message));
    }
    void WarnInvalidEntry(int item, const std::string& message) override {
        warnings.emplace_back(item, tq::Cp1251ToUtf8(message));
    }
    // Like an Esc taken from the queue: true once, at the given poll.
    bool StopRequested() override { return polls++ == stopAfterPolls; }

    int Shown(int item, const std::string& text) const {
        int n = 0;
        for (const auto& entry : history) n += entry.first == item && entry.second == text;
        return n;
    }

    std::map<int, std::string> texts;
    std::vector<std::pair<int, std::string>> history;
    std::map<int, bool> checked;
    std::vector<std::pair<std::string, std::string>> notices;  // header, message
    std::vector<std::pair<int, std::string>> warnings;
    int stopAfterPolls = -1;  // -1: never
    int polls = 0;
};

// A page on a scripted printer, a fake clock and a recording view.
template <typename Page>
struct PageRig {
    FakePrinter printer;
    tq::FakeClock clock;
    FakePageView view;
    Page page{printer, clock};
    PageRig() { page.AttachView(&view); }
    // A print page whose count box holds `count`.
    explicit PageRig(const std::string& count) : PageRig() { view.texts[IDC_COUNT] = count; }
};

// The frame's window: the selection, shown pages, buttons, questions and notices.
class FakeWizardView : public WizardView {
public:
    int SelectedStep() override { return selected; }
    void SelectStep(int step) override { selected = step; }
    void ShowPage(int step, bool show) override { shown[step] = show; }
    void EnableItem(int item, bool enable) override { enabled[item] = enable; }
    bool Ask(const std::string& message, const std::string& header) override {
        questions.push_back(tq::Cp1251ToUtf8(header) + ": " + tq::Cp1251ToUtf8(message));
        return answer;
    }
    void EndWizard() override { ended = true; }
    void Inform(const std::string& message) override { notices.push_back(tq::Cp1251ToUtf8(message)); }
    // Answers with `number` (UTF-8), or cancels when it holds nothing.
    std::optional<std::string> AskScaleNumber(const std::string& offered) override {
        offers.push_back(tq::Cp1251ToUtf8(offered));
        if (!number) return std::nullopt;
        return tq::Utf8ToCp1251(*number);
    }

    int selected = 0;
    std::map<int, bool> shown;
    std::map<int, bool> enabled;
    std::vector<std::string> questions;
    std::vector<std::string> notices;
    bool answer = false;
    bool ended = false;
    std::vector<std::string> offers;  // the numbers the prompt offered
    std::optional<std::string> number = std::string("17");
};

// The registry value, in memory.
class FakeScaleNumberStore : public ScaleNumberStore {
public:
    std::string Load() override { return tq::Utf8ToCp1251(kept); }
    bool Save(const std::string& number) override {
        ++saves;
        kept = tq::Cp1251ToUtf8(number);
        return true;
    }
    std::string kept;  // UTF-8
    int saves = 0;
};

}  // namespace tq::lmt::test
