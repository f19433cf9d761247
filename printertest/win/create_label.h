// CCreateLabel1: the wrapper through which every page calls the printer's
// ActiveX control. The control is hosted in an AtlAxWin window that is item
// 1000 of the main dialog; calls go by dispatch id through IDispatch::Invoke.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>

#include "printertest/core/printer_control.h"

namespace tq::lmt {

// The hosting functions of the system's ATL library.
struct AtlHosting {
    HRESULT(WINAPI* createControl)(LPCOLESTR name, HWND host, IStream* state, IUnknown** container) = nullptr;
    HRESULT(WINAPI* getControl)(HWND host, IUnknown** control) = nullptr;
};

class CCreateLabel1 : public PrinterControl {
public:
    CCreateLabel1() = default;
    CCreateLabel1(const CCreateLabel1&) = delete;
    CCreateLabel1& operator=(const CCreateLabel1&) = delete;
    ~CCreateLabel1() override;

    // Creates the control by its CLSID in an AtlAxWin host window; false
    // when no control could be made.
    bool Create(HWND host, const wchar_t* clsid, const AtlHosting& atl);
    // Takes a control made without a host window (tests and the benchmark).
    bool AttachDispatch(IDispatch* dispatch);
    bool attached() const { return dispatch_ != nullptr; }

    long Feed() override { return CallLong(kDispFeed); }
    long LoadLabel(const std::string& path) override;
    long PrepareLabel() override { return CallLong(kDispPrepareLabel); }
    void SetLabelValue8(double value) override { PutDouble(kDispLabelValue8, value); }
    void SetLabelValue9(double value) override { PutDouble(kDispLabelValue9, value); }
    void SetLabelValue10(double value) override { PutDouble(kDispLabelValue10, value); }
    void SetLabelBarcode(const std::string& digits) override { PutString(kDispLabelBarcode, digits); }
    void SetLabelName(const std::string& name) override { PutString(kDispLabelName, name); }
    void SetLabelInteger20(long value) override;
    long EnableLabelSensor(bool on) override;
    long Status() override { return GetLong(kDispStatus); }
    long SensorFlags() override { return GetLong(kDispSensorFlags); }
    long RequestStatus() override { return CallLong(kDispRequestStatus); }
    long VersionMinor() override { return GetLong(kDispVersionMinor); }
    long VersionMajor() override { return GetLong(kDispVersionMajor); }
    long PeVoltage() override { return GetLong(kDispPeVoltage); }
    long LabVoltage() override { return GetLong(kDispLabVoltage); }
    long HeadTemperature() override { return GetLong(kDispHeadTemperature); }
    long RulVoltage() override { return GetLong(kDispRulVoltage); }
    long TestSram() override { return CallLong(kDispTestSram); }
    long PrintLabel() override { return CallLong(kDispPrintLabel); }

    // Called before every method of the control: a method goes to the
    // printer and may take long, and it holds the calling thread (the
    // window's) until it returns. Property reads answer from what the last
    // request brought and are not announced.
    using CallNotice = void (*)(void* context);
    void SetCallNotice(CallNotice notice, void* context) {
        notice_ = notice;
        noticeContext_ = context;
    }

    // Without a control every check stops at once.
    bool Faulted() const override { return !dispatch_ || faulted_; }
    // The error the control raised since the last call here (code page 1251),
    // or empty; clears the fault.
    std::string TakeFault();

private:
    // A method: the answer, or -1 ("no link") when the call failed.
    long CallLong(DISPID id, VARIANT* args = nullptr, UINT count = 0);
    // A property: its value, or 0 when the read failed.
    long GetLong(DISPID id);
    void Put(DISPID id, VARIANT* value);
    void PutDouble(DISPID id, double value);
    void PutString(DISPID id, const std::string& cp1251);
    bool Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result);

    IUnknown* container_ = nullptr;  // keeps the host's site alive
    IDispatch* dispatch_ = nullptr;
    bool faulted_ = false;
    std::string fault_;
    CallNotice notice_ = nullptr;
    void* noticeContext_ = nullptr;
};

}  // namespace tq::lmt
