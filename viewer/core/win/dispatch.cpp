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

Variant Variant::Text(const std::wstring& text) {
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

Variant Variant::Missing() {
    Variant v;
    V_VT(&v.v_) = VT_ERROR;
    V_ERROR(&v.v_) = DISP_E_PARAMNOTFOUND;
    return v;
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

Variant Object::AsArgument() const {
    Variant v;
    if (dispatch_) {
        dispatch_->AddRef();
        V_VT(v.get()) = VT_DISPATCH;
        V_DISPATCH(v.get()) = dispatch_;
    }
    return v;
}

void Object::Release() {
    if (dispatch_) dispatch_->Release();
    dispatch_ = nullptr;
}

namespace {

// The description the failed call left through IErrorInfo, if any.
std::string ErrorInfoText() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return std::string();
    BSTR description = nullptr;
    std::string text;
    if (SUCCEEDED(info->GetDescription(&description)) && description) text = tq::WideToCp1251(description);
    SysFreeString(description);
    info->Release();
    return text;
}

// A control's own error number: Jet's 3021 comes as 0x800A0BCD.
long ControlNumber(HRESULT hr) {
    return HRESULT_FACILITY(hr) == FACILITY_CONTROL ? HRESULT_CODE(hr) : static_cast<long>(hr);
}

// The number an automation error carries: a control's own error (Jet's 3021
// comes as 0x800A0BCD in scode or as the HRESULT itself, or as 3021 in
// wCode), else the HRESULT; its text from the exception info, else from
// IErrorInfo.
CallError Decode(HRESULT hr, EXCEPINFO* info) {
    CallError error;
    if (hr != DISP_E_EXCEPTION) {
        error.number = ControlNumber(hr);
        error.text = ErrorInfoText();
        if (error.text.empty()) {
            char text[32];
            std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
            error.text = text;
        }
        return error;
    }
    if (info->pfnDeferredFillIn) info->pfnDeferredFillIn(info);
    error.number = info->wCode ? info->wCode : ControlNumber(info->scode);
    if (info->bstrDescription) error.text = tq::WideToCp1251(info->bstrDescription);
    else error.text = ErrorInfoText();
    SysFreeString(info->bstrSource);
    SysFreeString(info->bstrDescription);
    SysFreeString(info->bstrHelpFile);
    return error;
}

}  // namespace

bool Object::Call(const wchar_t* name, WORD flags, std::vector<VARIANT*> args, VARIANT* result) {
    if (!dispatch_) return false;
    DISPID id = 0;
    if (!session_->IdOf(kind_, dispatch_, name, &id)) return false;
    // Automation takes the arguments last first.
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(**it);
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO info{};
    UINT badArg = 0;
    ++session_->calls;
    const HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &info, &badArg);
    if (SUCCEEDED(hr)) return true;
    CallError error = Decode(hr, &info);
    session_->Fail(error.number, error.text);
    return false;
}

bool Object::Put(const wchar_t* name, VARIANT* value) {
    if (!dispatch_) return false;
    DISPID id = 0;
    if (!session_->IdOf(kind_, dispatch_, name, &id)) return false;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{value, &named, 1, 1};
    EXCEPINFO info{};
    UINT badArg = 0;
    ++session_->calls;
    const HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                                         &info, &badArg);
    if (SUCCEEDED(hr)) return true;
    CallError error = Decode(hr, &info);
    session_->Fail(error.number, error.text);
    return false;
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
