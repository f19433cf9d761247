#include "create_label.h"

#include <oleauto.h>

#include <cstdio>

#include "common/cp1251.h"

namespace tq::lmt {

namespace {

// A VARIANT that clears itself.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

}  // namespace

CCreateLabel1::~CCreateLabel1() {
    if (dispatch_) dispatch_->Release();
    if (container_) container_->Release();
}

bool CCreateLabel1::Create(HWND host, const wchar_t* clsid, const AtlHosting& atl) {
    if (!host || !atl.createControl || !atl.getControl) return false;
    // The site is asked for explicitly and held: an AtlAxWin window given the
    // CLSID as its text may drop its site (Wine's does) and stays empty when
    // the class is missing.
    if (FAILED(atl.createControl(clsid, host, nullptr, &container_))) return false;
    IUnknown* control = nullptr;
    if (FAILED(atl.getControl(host, &control)) || !control) return false;
    IDispatch* dispatch = nullptr;
    const HRESULT hr = control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    control->Release();
    if (FAILED(hr) || !dispatch) return false;
    const bool ok = AttachDispatch(dispatch);
    dispatch->Release();
    return ok;
}

bool CCreateLabel1::AttachDispatch(IDispatch* dispatch) {
    if (!dispatch) return false;
    dispatch->AddRef();
    if (dispatch_) dispatch_->Release();
    dispatch_ = dispatch;
    faulted_ = false;
    return true;
}

std::string CCreateLabel1::TakeFault() {
    faulted_ = false;
    std::string fault;
    fault.swap(fault_);
    return fault;
}

bool CCreateLabel1::Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (!dispatch_) return false;
    EXCEPINFO error{};
    UINT badArg = 0;
    const HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params,
                                         result, &error, &badArg);
    if (SUCCEEDED(hr)) return true;
    // Keep the first error until the frame reports it.
    if (fault_.empty()) {
        char code[64];
        std::snprintf(code, sizeof code, " (id %ld, 0x%08lX)", static_cast<long>(id),
                      static_cast<unsigned long>(hr == DISP_E_EXCEPTION && error.scode ? error.scode : hr));
        std::string text = error.bstrDescription ? tq::WideToCp1251(error.bstrDescription)
                                                 : tq::Cp("Ошибка вызова элемента управления принтера");
        fault_ = text + code;
    }
    if (error.bstrSource) SysFreeString(error.bstrSource);
    if (error.bstrDescription) SysFreeString(error.bstrDescription);
    if (error.bstrHelpFile) SysFreeString(error.bstrHelpFile);
    faulted_ = true;
    return false;
}

long CCreateLabel1::CallLong(DISPID id, VARIANT* args, UINT count) {
    DISPPARAMS params{args, nullptr, count, 0};
    Variant result;
    if (notice_ && dispatch_) notice_(noticeContext_);
    if (!Invoke(id, DISPATCH_METHOD, &params, &result.v)) return -1;
    if (V_VT(&result.v) == VT_EMPTY) return 0;
    if (FAILED(VariantChangeType(&result.v, &result.v, 0, VT_I4))) return -1;
    return V_I4(&result.v);
}

long CCreateLabel1::GetLong(DISPID id) {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    Variant result;
    if (!Invoke(id, DISPATCH_PROPERTYGET, &params, &result.v)) return 0;
    if (FAILED(VariantChangeType(&result.v, &result.v, 0, VT_I4))) return 0;
    return V_I4(&result.v);
}

void CCreateLabel1::Put(DISPID id, VARIANT* value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{value, &named, 1, 1};
    Invoke(id, DISPATCH_PROPERTYPUT, &params, nullptr);
}

void CCreateLabel1::PutDouble(DISPID id, double value) {
    VARIANT v;
    V_VT(&v) = VT_R8;
    V_R8(&v) = value;
    Put(id, &v);
}

void CCreateLabel1::PutString(DISPID id, const std::string& cp1251) {
    Variant v;
    V_VT(&v.v) = VT_BSTR;
    V_BSTR(&v.v) = SysAllocString(tq::Cp1251ToWide(cp1251).c_str());
    Put(id, &v.v);
}

void CCreateLabel1::SetLabelInteger20(long value) {
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    Put(kDispLabelInteger20, &v);
}

long CCreateLabel1::LoadLabel(const std::string& path) {
    Variant v;
    V_VT(&v.v) = VT_BSTR;
    V_BSTR(&v.v) = SysAllocString(tq::Cp1251ToWide(path).c_str());
    return CallLong(kDispLoadLabel, &v.v, 1);
}

long CCreateLabel1::EnableLabelSensor(bool on) {
    VARIANT v;
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = on ? VARIANT_TRUE : VARIANT_FALSE;
    return CallLong(kDispEnableLabelSensor, &v, 1);
}

}  // namespace tq::lmt
