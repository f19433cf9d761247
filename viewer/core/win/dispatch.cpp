#include "dispatch.h"

#include <cstdio>
#include <cwctype>

#include "common/cp1251.h"

namespace tq::viewer::dao {

std::string Said(const CallError& error) {
    return tq::Cp("ошибка DAO ") + std::to_string(error.number) + (error.text.empty() ? "" : ": " + error.text);
}

std::string ValueText(const VARIANT& value) {
    if (V_VT(&value) == VT_BSTR) return tq::WideToCp1251(V_BSTR(&value) ? V_BSTR(&value) : L"");
    if (V_VT(&value) == VT_NULL || V_VT(&value) == VT_EMPTY) return std::string();
    Variant text;
    if (FAILED(VariantChangeType(text.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR))) return std::string();
    return tq::WideToCp1251(V_BSTR(text.get()));
}

bool Session::IdOf(const char* kind, IDispatch* object, const wchar_t* name, DISPID* id) {
    std::wstring key(kind, kind + std::char_traits<char>::length(kind));
    key += L'.';
    for (const wchar_t* p = name; *p; ++p) key += static_cast<wchar_t>(std::towlower(*p));
    const auto found = ids_.find(key);
    if (found != ids_.end()) {
        *id = found->second;
        return true;
    }
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    ++calls;
    const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
    if (FAILED(hr)) {
        char text[96];
        std::snprintf(text, sizeof text, "%s%ls (0x%08lX)", tq::Cp("у объекта нет члена ").c_str(), name,
                      static_cast<unsigned long>(hr));
        Fail(hr, text);
        return false;
    }
    ids_.emplace(key, *id);
    return true;
}

void Session::Fail(long number, std::string text) {
    last_.number = number;
    last_.text = std::move(text);
}

Object& Object::operator=(Object&& other) noexcept {
    if (this != &other) {
        Release();
        session_ = other.session_;
        kind_ = other.kind_;
        dispatch_ = other.dispatch_;
        other.dispatch_ = nullptr;
    }
    return *this;
}

Variant Object::AsArgument() const { return Variant::Dispatch(dispatch_); }

void Object::Release() {
    if (dispatch_) dispatch_->Release();
    dispatch_ = nullptr;
}

namespace {

// A control's own error number: Jet's 3021 comes as 0x800A0BCD.
long ControlNumber(HRESULT hr) {
    return HRESULT_FACILITY(hr) == FACILITY_CONTROL ? HRESULT_CODE(hr) : static_cast<long>(hr);
}

// The engine's error: a control's own number (Jet's 3021, whether given as
// an error number, in the exception's SCODE or as the HRESULT itself), else
// the HRESULT; its text from the exception info, else from IErrorInfo, else
// the HRESULT in hex.
CallError Decode(const tq::win::InvokeError& failure) {
    CallError error;
    error.number = ControlNumber(failure.code());
    std::wstring text = failure.description;
    if (text.empty()) text = tq::win::TakeErrorInfoDescription();
    error.text = tq::Narrow(text);
    if (error.text.empty() && failure.hr != DISP_E_EXCEPTION) {
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(failure.hr));
        error.text = hex;
    }
    return error;
}

}  // namespace

// Automation takes the arguments last first; a property's new value is its
// named argument.
bool Object::Invoke(const wchar_t* name, WORD flags, std::vector<VARIANT> reversed, bool put, VARIANT* result) {
    if (!dispatch_) return false;
    DISPID id = 0;
    if (!session_->IdOf(kind_, dispatch_, name, &id)) return false;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), put ? &named : nullptr, static_cast<UINT>(reversed.size()), put ? 1u : 0u};
    ++session_->calls;
    tq::win::InvokeError failure;
    if (SUCCEEDED(tq::win::Invoke(dispatch_, id, flags, &params, result, &failure))) return true;
    const CallError error = Decode(failure);
    session_->Fail(error.number, error.text);
    return false;
}

bool Object::Call(const wchar_t* name, WORD flags, std::vector<VARIANT*> args, VARIANT* result) {
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(**it);
    return Invoke(name, flags, std::move(reversed), false, result);
}

bool Object::Put(const wchar_t* name, VARIANT* value) {
    return Invoke(name, DISPATCH_PROPERTYPUT, {*value}, true, nullptr);
}

Object Object::GetObject(const wchar_t* name, const char* kind, std::vector<VARIANT*> args, WORD flags) {
    Variant result;
    if (!Call(name, flags, std::move(args), result.get())) return Object();
    if (V_VT(result.get()) != VT_DISPATCH || !V_DISPATCH(result.get())) {
        session_->Fail(E_NOINTERFACE, tq::Cp("не объект"));
        return Object();
    }
    IDispatch* dispatch = V_DISPATCH(result.get());
    dispatch->AddRef();
    return Object(session_, kind, dispatch);
}

bool Object::GetLong(const wchar_t* name, long* value) {
    Variant result;
    if (!Get(name, result.get())) return false;
    if (FAILED(VariantChangeType(result.get(), result.get(), 0, VT_I4))) {
        Fail(DISP_E_TYPEMISMATCH, tq::Cp("не число"));
        return false;
    }
    *value = V_I4(result.get());
    return true;
}

bool Object::GetBool(const wchar_t* name, bool* value) {
    Variant result;
    if (!Get(name, result.get())) return false;
    if (FAILED(VariantChangeType(result.get(), result.get(), 0, VT_BOOL))) {
        Fail(DISP_E_TYPEMISMATCH, tq::Cp("не логическое значение"));
        return false;
    }
    *value = V_BOOL(result.get()) != VARIANT_FALSE;
    return true;
}

}  // namespace tq::viewer::dao
