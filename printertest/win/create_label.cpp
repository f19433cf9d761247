#include "create_label.h"

#include <cstdio>

#include "common/cp1251.h"
#include "common/win/automation.h"

namespace tq::lmt {

using tq::win::Variant;

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
    tq::win::InvokeError error;
    if (SUCCEEDED(tq::win::Invoke(dispatch_, id, flags, params, result, &error))) return true;
    // Keep the first error until the frame reports it.
    if (fault_.empty()) {
        char code[64];
        std::snprintf(code, sizeof code, " (id %ld, 0x%08lX)", static_cast<long>(id),
                      static_cast<unsigned long>(error.code()));
        const std::string text = !error.description.empty() ? tq::Narrow(error.description)
                                                            : tq::Cp("Ошибка вызова элемента управления принтера");
        fault_ = text + code;
    }
    faulted_ = true;
    return false;
}

long CCreateLabel1::CallLong(DISPID id, VARIANT* args, UINT count) {
    DISPPARAMS params{args, nullptr, count, 0};
    Variant result;
    if (notice_ && dispatch_) notice_(noticeContext_);
    if (!Invoke(id, DISPATCH_METHOD, &params, result.get())) return -1;
    if (V_VT(result.get()) == VT_EMPTY) return 0;
    if (FAILED(VariantChangeType(result.get(), result.get(), 0, VT_I4))) return -1;
    return V_I4(result.get());
}

long CCreateLabel1::GetLong(DISPID id) {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    Variant result;
    if (!Invoke(id, DISPATCH_PROPERTYGET, &params, result.get())) return 0;
    if (FAILED(VariantChangeType(result.get(), result.get(), 0, VT_I4))) return 0;
    return V_I4(result.get());
}

void CCreateLabel1::Put(DISPID id, VARIANT* value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{value, &named, 1, 1};
    Invoke(id, DISPATCH_PROPERTYPUT, &params, nullptr);
}

void CCreateLabel1::PutDouble(DISPID id, double value) { Put(id, Variant::Double(value).get()); }

void CCreateLabel1::PutString(DISPID id, const std::string& cp1251) { Put(id, Variant::Text(tq::Wide(cp1251)).get()); }

void CCreateLabel1::SetLabelInteger20(long value) { Put(kDispLabelInteger20, Variant::Long(value).get()); }

long CCreateLabel1::LoadLabel(const std::string& path) {
    Variant v = Variant::Text(tq::Wide(path));
    return CallLong(kDispLoadLabel, v.get(), 1);
}

long CCreateLabel1::EnableLabelSensor(bool on) {
    Variant v = Variant::Bool(on);
    return CallLong(kDispEnableLabelSensor, v.get(), 1);
}

}  // namespace tq::lmt
