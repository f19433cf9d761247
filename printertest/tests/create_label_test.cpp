// CCreateLabel1 against the simulator control: the three kinds of call by
// dispatch id, text in code page 1251, and errors raised by the control.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "printertest/win/create_label.h"
#include "tools/printersim/load_simulator.h"

namespace tq::lmt {
namespace {

std::wstring TempFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::ifstream in(tq::WideToCp1251(path));  // plain ASCII temp path
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class CreateLabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        OleInitialize(nullptr);
        scenario_ = TempFile(L"tq-printersim-scenario.txt");
        log_ = TempFile(L"tq-printersim-calls.log");
        DeleteFileW(log_.c_str());
        SetEnvironmentVariableW(L"TQ_PRINTERSIM_SCENARIO", scenario_.c_str());
        SetEnvironmentVariableW(L"TQ_PRINTERSIM_LOG", log_.c_str());
    }
    // The simulator has let go of its files once the control is released.
    void TearDown() override {
        OleUninitialize();
        DeleteFileW(scenario_.c_str());
        DeleteFileW(log_.c_str());
    }

    void Scenario(const std::string& text) {
        std::ofstream(tq::WideToCp1251(scenario_)) << text;
    }
    bool Attach(CCreateLabel1& printer) {
        IDispatch* control = printersim::MakeSimulator();
        if (!control) return false;
        const bool ok = printer.AttachDispatch(control);
        control->Release();
        return ok;
    }

    std::wstring scenario_;
    std::wstring log_;
};

TEST_F(CreateLabelTest, MethodsReadsAndWritesGoByDispatchId) {
    Scenario("RequestStatus = 0 -1\nVersionMajor = 3\nPrintLabel = -1033\n");
    CCreateLabel1 printer;
    ASSERT_TRUE(Attach(printer));
    EXPECT_EQ(printer.RequestStatus(), 0);
    EXPECT_EQ(printer.RequestStatus(), -1);
    EXPECT_EQ(printer.VersionMajor(), 3);
    EXPECT_EQ(printer.PrintLabel(), -1033);
    printer.LoadLabel("C:\\TQ-850\\Shared\\Labels\\60X60.lpr");
    printer.SetLabelName(tq::Cp("Икра черная."));
    printer.SetLabelValue10(1200.0);
    printer.SetLabelInteger20(5);
    printer.EnableLabelSensor(true);
    EXPECT_FALSE(printer.Faulted());

    const std::vector<std::string> expected = {
        "created",
        "RequestStatus -> 0",
        "RequestStatus -> -1",
        "get VersionMajor -> 3",
        "PrintLabel -> -1033",
        "LoadLabel C:\\TQ-850\\Shared\\Labels\\60X60.lpr -> 0",
        "put LabelName " + std::string("Икра черная."),
        "put LabelValue10 1200",
        "put LabelInteger20 5",
        "EnableLabelSensor 1 -> 0",
    };
    EXPECT_EQ(ReadLines(log_), expected);
}

// The wizard's "Подождите…": announced before each method, which goes to the
// printer; property reads and writes answer at once and are not.
TEST_F(CreateLabelTest, MethodsAreAnnouncedBeforeTheyRun) {
    Scenario("");
    CCreateLabel1 printer;
    ASSERT_TRUE(Attach(printer));
    struct Seen {
        int notices = 0;
        size_t logLinesAtLastNotice = 0;
        std::wstring log;
    } seen{0, 0, log_};
    printer.SetCallNotice(
        [](void* context) {
            auto* s = static_cast<Seen*>(context);
            ++s->notices;
            s->logLinesAtLastNotice = ReadLines(s->log).size();
        },
        &seen);
    printer.RequestStatus();
    EXPECT_EQ(seen.notices, 1);
    EXPECT_EQ(seen.logLinesAtLastNotice, 1u) << "announced before the call reached the control";
    printer.Status();
    printer.SetLabelInteger20(5);
    EXPECT_EQ(seen.notices, 1) << "reads and writes are not announced";
    printer.Feed();
    printer.PrintLabel();
    printer.LoadLabel("x");
    EXPECT_EQ(seen.notices, 4);
}

TEST_F(CreateLabelTest, ControlErrorsBecomeResultsAndAreReportedOnce) {
    Scenario("fault Feed\nfault Status\n");
    CCreateLabel1 printer;
    ASSERT_TRUE(Attach(printer));
    EXPECT_EQ(printer.Feed(), -1);  // as no link
    EXPECT_EQ(printer.Status(), 0);
    EXPECT_TRUE(printer.Faulted());
    const std::string fault = printer.TakeFault();
    EXPECT_NE(fault.find("Simulated control failure (id 1,"), std::string::npos) << fault;
    EXPECT_FALSE(printer.Faulted());
    EXPECT_EQ(printer.TakeFault(), "");
    EXPECT_EQ(printer.RequestStatus(), 0);
}

TEST_F(CreateLabelTest, WithoutControlEveryCallFailsQuietly) {
    CCreateLabel1 printer;
    EXPECT_TRUE(printer.Faulted());
    EXPECT_EQ(printer.RequestStatus(), -1);
    EXPECT_EQ(printer.SensorFlags(), 0);
    EXPECT_EQ(printer.TakeFault(), "");
    EXPECT_FALSE(printer.Create(nullptr, L"{03CA02ED-6A7E-4FD9-90B6-D8480B61E13A}", AtlHosting{}));
}

}  // namespace
}  // namespace tq::lmt
