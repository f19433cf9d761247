// Late-bound calls as the data core makes them: GetIDsOfNames, then Invoke
// with the arguments reversed, for tests of the DAO stand-in.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

#include "common/win/automation.h"

namespace daosim_test {

// An argument or a result, with the conversions the tests write most.
class Var : public tq::win::Variant {
public:
    Var() = default;
    Var(tq::win::Variant v) : Variant(std::move(v)) {}                       // NOLINT: the factories' results
    Var(const wchar_t* text) : Variant(Text(text)) {}                         // NOLINT: literals are the common argument
    Var(const std::wstring& text) : Variant(Text(text)) {}                    // NOLINT
    Var(long n) : Variant(Long(n)) {}                                         // NOLINT
    Var(int n) : Variant(Long(n)) {}                                          // NOLINT
    static Var Object(IDispatch* object) { return Dispatch(object); }

    VARTYPE type() const { return V_VT(&**this); }
    std::wstring text() const {
        const VARIANT& v = **this;
        return V_VT(&v) == VT_BSTR ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v))) : L"<not text>";
    }
    long number() const {
        VARIANT n;
        VariantInit(&n);
        if (FAILED(VariantChangeType(&n, const_cast<VARIANT*>(&**this), 0, VT_I4))) return -999999;
        return V_I4(&n);
    }
    // VT_BOOL with -1 for true; anything else is neither.
    int boolean() const {
        const VARIANT& v = **this;
        return V_VT(&v) != VT_BOOL ? 99 : V_BOOL(&v) == VARIANT_TRUE ? 1 : V_BOOL(&v) == 0 ? 0 : 98;
    }
    IDispatch* object() const { return V_VT(&**this) == VT_DISPATCH ? V_DISPATCH(&**this) : nullptr; }
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
    tq::win::InvokeError error;
    r.hr = tq::win::Invoke(object, id, flags, &params, r.value.get(), &error);
    r.scode = error.scode;
    r.description = error.description;
    r.source = error.source;
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
