// Late-bound automation calls: a VARIANT that clears itself, and
// IDispatch::Invoke with what a failure said taken out of its EXCEPINFO.
// Callers keep their own wording of a failure; the mechanics are here.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace tq::win {

// A VARIANT that clears itself. A copy is VariantCopy's (an empty VARIANT
// when that fails); a move leaves the source empty.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant& other);
    Variant& operator=(const Variant& other);
    Variant(Variant&& other) noexcept;
    Variant& operator=(Variant&& other) noexcept;

    VARIANT* get() { return &v_; }
    const VARIANT& operator*() const { return v_; }

    static Variant Text(std::wstring_view text);
    static Variant Long(long value);
    static Variant Double(double value);
    static Variant Bool(bool value);
    static Variant Null();
    // An object, with a reference of its own.
    static Variant Dispatch(IDispatch* object);
    // An optional argument left out.
    static Variant Missing();

private:
    VARIANT v_;
};

// What a failed Invoke said. For DISP_E_EXCEPTION the exception info's
// fields (after its deferred fill-in); otherwise only the HRESULT.
struct InvokeError {
    HRESULT hr = S_OK;  // what Invoke returned
    WORD wCode = 0;     // the exception's error number, when it gave one
    SCODE scode = 0;    // or its SCODE
    std::wstring source;
    std::wstring description;

    // The HRESULT the failure stands for: the exception's own error where
    // it gave one (an error number as a control's HRESULT, 0x800A....),
    // else what Invoke returned.
    HRESULT code() const;
};

// Takes what a call left in *info after it returned hr, and frees its
// strings. A server may leave the exception info to be filled in later
// (pfnDeferredFillIn): it is filled in here, before it is read.
InvokeError TakeInvokeError(HRESULT hr, EXCEPINFO* info);

// IDispatch::Invoke, which it returns; on failure *error (when given) says why.
HRESULT Invoke(IDispatch* object, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
            InvokeError* error = nullptr);

// The description the thread's last failed call left through IErrorInfo,
// which this takes; empty when there is none. A server that answers with
// a plain HRESULT gives its text this way.
std::wstring TakeErrorInfoDescription();

}  // namespace tq::win
