// What the wizard asks of the printer's ActiveX control. Every call is
// synchronous. Methods answer 0 when the printer answered and something else
// when it did not ("no link"); the reads are fresh after RequestStatus.
#pragma once
#include <string>

namespace tq::lmt {

// The control's dispatch ids.
enum DispId : long {
    kDispFeed = 1,
    kDispLoadLabel = 2,
    kDispPrepareLabel = 3,
    kDispLabelValue8 = 8,
    kDispLabelValue9 = 9,
    kDispLabelValue10 = 10,
    kDispLabelBarcode = 12,
    kDispLabelName = 14,
    kDispLabelInteger20 = 20,
    kDispEnableLabelSensor = 31,
    kDispStatus = 33,
    kDispSensorFlags = 34,
    kDispRequestStatus = 37,
    kDispVersionMinor = 43,
    kDispVersionMajor = 44,
    kDispPeVoltage = 49,
    kDispLabVoltage = 53,
    kDispHeadTemperature = 54,
    kDispRulVoltage = 55,
    kDispTestSram = 56,
    kDispPrintLabel = 57,
};

// SensorFlags bits.
constexpr long kHeadOpenFlag = 8;
constexpr long kLabelSensorFlag = 64;

// PrintLabel answers.
constexpr long kPrintDone = 0;
constexpr long kPrintAgain = 4;
constexpr long kPrintLinkLost = -1;
constexpr long kPrintOwnError = -1033;

class PrinterControl {
public:
    virtual ~PrinterControl() = default;

    virtual long Feed() = 0;
    virtual long LoadLabel(const std::string& path) = 0;  // path in code page 1251
    virtual long PrepareLabel() = 0;
    virtual void SetLabelValue8(double value) = 0;
    virtual void SetLabelValue9(double value) = 0;
    virtual void SetLabelValue10(double value) = 0;
    virtual void SetLabelBarcode(const std::string& digits) = 0;
    virtual void SetLabelName(const std::string& name) = 0;  // code page 1251
    virtual void SetLabelInteger20(long value) = 0;
    virtual long EnableLabelSensor(bool on) = 0;
    virtual long Status() = 0;
    virtual long SensorFlags() = 0;
    virtual long RequestStatus() = 0;
    virtual long VersionMinor() = 0;
    virtual long VersionMajor() = 0;
    virtual long PeVoltage() = 0;
    virtual long LabVoltage() = 0;
    virtual long HeadTemperature() = 0;
    virtual long RulVoltage() = 0;
    virtual long TestSram() = 0;
    virtual long PrintLabel() = 0;

    // True once the control has raised an error of its own (not a printer
    // answer). The call that met it answered "no link" or 0; a running check
    // stops at its next step and the frame reports the error.
    virtual bool Faulted() const = 0;
};

}  // namespace tq::lmt
