// Late-bound calls as the data core makes them: GetIDsOfNames, then Invoke
// with the arguments reversed, for tests of the DAO stand-in.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace daosim_test {

class Var {
public:
    Var() { VariantInit(&v_); }
    Var(const wchar_t* text) : Var() {  // NOLINT: literals are the common argument
        V_VT(&v_) = VT_BSTR;
        V_BSTR(&v_) = SysAllocString(text);
    }
    Var(const std::wstring& text) : Var() {  // NOLINT
        V_VT(&v_) = VT_BSTR;
        V_BSTR(&v_) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    Var(long n) : Var() {  // NOLINT
        V_VT(&v_) = VT_I4;
        V_I4(&v_) = n;
    }
    Var(int n) : Var(static_cast<long>(n)) {}  // NOLINT
    static Var Bool(bool b) {
        Var v;
        V_VT(&v.v_) = VT_BOOL;
        V_BOOL(&v.v_) = b ? VARIANT_TRUE : VARIANT_FALSE;
        return v;
    }
    static Var Null() {
        Var v;
        V_VT(&v.v_) = VT_NULL;
        return v;
    }
    static Var Object(IDispatch* object) {
        Var v;
        object->AddRef();
        V_VT(&v.v_) = VT_DISPATCH;
        V_DISPATCH(&v.v_) = object;
        return v;
    }
    static Var Missing() {
        Var v;
        V_VT(&v.v_) = VT_ERROR;
        V_ERROR(&v.v_) = DISP_E_PARAMNOTFOUND;
        return v;
    }
    Var(const Var& o) : Var() { VariantCopy(&v_, const_cast<VARIANT*>(&o.v_)); }
    Var& operator=(const Var& o) {
        if (this != &o) VariantCopy(&v_, const_cast<VARIANT*>(&o.v_));
        return *this;
    }
    ~Var() { VariantClear(&v_); }

    VARIANT* get() { return &v_; }
    const VARIANT& operator*() const { return v_; }
    VARTYPE type() const { return V_VT(&v_); }
    std::wstring text() const {
        return V_VT(&v_) == VT_BSTR ? std::wstring(V_BSTR(&v_), SysStringLen(V_BSTR(&v_))) : L"<not text>";
    }
    long number() const {
        VARIANT n;
        VariantInit(&n);
        if (FAILED(VariantChangeType(&n, const_cast<VARIANT*>(&v_), 0, VT_I4))) return -999999;
        return V_I4(&n);
    }
    // VT_BOOL with -1 for true; anything else is neither.
    int boolean() const { return V_VT(&v_) != VT_BOOL ? 99 : V_BOOL(&v_) == VARIANT_TRUE ? 1 : V_BOOL(&v_) == 0 ? 0 : 98; }
    IDispatch* object() const { return V_VT(&v_) == VT_DISPATCH ? V_DISPATCH(&v_) : nullptr; }

private:
    VARIANT v_;
};

// The outcome of one call: the HRESULT, the result and, for
// DISP_E_EXCEPTION, what EXCEPINFO said.
struct Result {
    HRESULT hr = E_FAIL;
    Var value;
    long scode = 0;
    std::wstring description, source;
    bool ok() const { return hr == S_OK; }
    // The DAO error number carried by a failure, or 0.
    long dao() const { return hr == DISP_E_EXCEPTION && (scode & 0xFFFF0000) == 0x800A0000 ? scode & 0xFFFF : 0; }
    IDispatch* object() const { return value.object(); }
};

inline DISPID IdOf(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (!object || FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
    return id;
}

inline Result InvokeId(IDispatch* object, DISPID id, WORD flags, std::vector<Var> args, const Var* put = nullptr) {
    Result r;
    if (!object) return r;
    std::vector<VARIANT> reversed;
    if (put) reversed.push_back(**put);
    for (size_t i = args.size(); i > 0; --i) reversed.push_back(*args[i - 1]);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), put ? &named : nullptr, static_cast<UINT>(reversed.size()), put ? 1u : 0u};
    EXCEPINFO info{};
    UINT argError = 0;
    r.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, r.value.get(), &info, &argError);
    if (r.hr == DISP_E_EXCEPTION) {
        r.scode = info.scode;
        if (info.bstrDescription) r.description = info.bstrDescription;
        if (info.bstrSource) r.source = info.bstrSource;
    }
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    return r;
}

// A method call or property read, as VBScript makes both.
inline Result Get(IDispatch* object, const wchar_t* name, std::vector<Var> args = {}) {
    const DISPID id = IdOf(object, name);
    if (id == DISPID_UNKNOWN) {
        Result r;
        r.hr = DISP_E_UNKNOWNNAME;
        return r;
    }
    return InvokeId(object, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args));
}

inline Result Put(IDispatch* object, const wchar_t* name, const Var& value, std::vector<Var> args = {}) {
    const DISPID id = IdOf(object, name);
    if (id == DISPID_UNKNOWN) {
        Result r;
        r.hr = DISP_E_UNKNOWNNAME;
        return r;
    }
    return InvokeId(object, id, DISPATCH_PROPERTYPUT, std::move(args), &value);
}

}  // namespace daosim_test
