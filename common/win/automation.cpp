#include "automation.h"

#include <utility>

namespace tq::win {

Variant::Variant(const Variant& other) : Variant() {
    VariantCopy(&v_, const_cast<VARIANT*>(&other.v_));
}

Variant& Variant::operator=(const Variant& other) {
    // VariantCopy clears the destination first.
    if (this != &other) VariantCopy(&v_, const_cast<VARIANT*>(&other.v_));
    return *this;
}

Variant::Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }

Variant& Variant::operator=(Variant&& other) noexcept {
    if (this != &other) {
        VariantClear(&v_);
        v_ = other.v_;
        VariantInit(&other.v_);
    }
    return *this;
}

Variant Variant::Text(std::wstring_view text) {
    Variant v;
    V_VT(&v.v_) = VT_BSTR;
    V_BSTR(&v.v_) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

Variant Variant::Long(long value) {
    Variant v;
    V_VT(&v.v_) = VT_I4;
    V_I4(&v.v_) = value;
    return v;
}

Variant Variant::Double(double value) {
    Variant v;
    V_VT(&v.v_) = VT_R8;
    V_R8(&v.v_) = value;
    return v;
}

Variant Variant::Bool(bool value) {
    Variant v;
    V_VT(&v.v_) = VT_BOOL;
    V_BOOL(&v.v_) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Variant Variant::Null() {
    Variant v;
    V_VT(&v.v_) = VT_NULL;
    return v;
}

Variant Variant::Dispatch(IDispatch* object) {
    Variant v;
    if (object) {
        object->AddRef();
        V_VT(&v.v_) = VT_DISPATCH;
        V_DISPATCH(&v.v_) = object;
    }
    return v;
}

Variant Variant::Missing() {
    Variant v;
    V_VT(&v.v_) = VT_ERROR;
    V_ERROR(&v.v_) = DISP_E_PARAMNOTFOUND;
    return v;
}

HRESULT InvokeError::code() const {
    if (hr != DISP_E_EXCEPTION) return hr;
    if (wCode) return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, wCode);
    return scode ? scode : hr;
}

InvokeError TakeInvokeError(HRESULT hr, EXCEPINFO* info) {
    InvokeError error;
    error.hr = hr;
    if (hr == DISP_E_EXCEPTION) {
        if (info->pfnDeferredFillIn) info->pfnDeferredFillIn(info);
        error.wCode = info->wCode;
        error.scode = info->scode;
        if (info->bstrSource) error.source = info->bstrSource;
        if (info->bstrDescription) error.description = info->bstrDescription;
    }
    // Only an exception should leave strings, but whatever is left is ours.
    SysFreeString(info->bstrSource);
    SysFreeString(info->bstrDescription);
    SysFreeString(info->bstrHelpFile);
    *info = EXCEPINFO{};
    return error;
}

HRESULT Invoke(IDispatch* object, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, InvokeError* error) {
    EXCEPINFO info{};
    UINT badArg = 0;
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, &info, &badArg);
    InvokeError said = TakeInvokeError(hr, &info);
    if (FAILED(hr) && error) *error = std::move(said);
    return hr;
}

std::wstring TakeErrorInfoDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return std::wstring();
    BSTR description = nullptr;
    std::wstring text;
    if (SUCCEEDED(info->GetDescription(&description)) && description) text = description;
    SysFreeString(description);
    info->Release();
    return text;
}

}  // namespace tq::win
