#include "tools/daosim/dispatch.h"

#include <cwchar>

namespace daosim {

LONG g_alive = 0;

namespace {

std::wstring EnvPath(const wchar_t* name) {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(buffer, n) : std::wstring();
}

bool Omitted(const VARIANT& v) { return V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND; }

}  // namespace

Runtime& Runtime::Get() {
    static Runtime runtime;
    return runtime;
}

Runtime::Runtime() {
    scenarioPath_ = EnvPath(L"DAOSIM_SCENARIO");
    const std::wstring logPath = EnvPath(L"DAOSIM_LOG");
    if (!logPath.empty())
        log_ = CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

const Scenario& Runtime::scenario() {
    if (scenarioPath_.empty()) return scenario_;
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(scenarioPath_.c_str(), GetFileExInfoStandard, &info)) {
        // A scenario that was removed injects nothing any more.
        if (scenarioTime_.dwLowDateTime || scenarioTime_.dwHighDateTime) scenario_ = Scenario();
        scenarioTime_ = FILETIME{};
        return scenario_;
    }
    if (CompareFileTime(&info.ftLastWriteTime, &scenarioTime_) == 0) return scenario_;
    HANDLE file = CreateFileW(scenarioPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return scenario_;
    std::string text(info.nFileSizeLow, '\0');
    DWORD got = 0;
    const BOOL read = ReadFile(file, text.data(), info.nFileSizeLow, &got, nullptr);
    CloseHandle(file);
    if (!read) return scenario_;
    text.resize(got);
    scenario_.Parse(text);
    scenarioTime_ = info.ftLastWriteTime;
    return scenario_;
}

void Runtime::Log(const std::string& line) {
    if (log_ == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(log_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

Text ToText(BSTR b) { return b ? Text(reinterpret_cast<const char16_t*>(b), SysStringLen(b)) : Text(); }

BSTR ToBstr(TextView text) {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
}

std::string VariantText(const VARIANT& v) {
    switch (V_VT(&v)) {
    case VT_EMPTY:
        return "Empty";
    case VT_NULL:
        return "Null";
    case VT_BSTR:
        return "\"" + ToUtf8(ToText(V_BSTR(&v))) + "\"";
    case VT_BOOL:
        return V_BOOL(&v) ? "True" : "False";
    case VT_ERROR:
        return V_ERROR(&v) == DISP_E_PARAMNOTFOUND ? "missing" : "error";
    case VT_DISPATCH:
        return "object";
    default:
        break;
    }
    if (V_VT(&v) & VT_ARRAY) return "array";
    VARIANT text;
    VariantInit(&text);
    std::string out = "?";
    if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&v), 0, VT_BSTR))) out = ToUtf8(ToText(V_BSTR(&text)));
    VariantClear(&text);
    return out;
}

Args::Args(const DISPPARAMS* params) {
    VariantInit(&put_);
    if (!params) return;
    UINT positional = params->cArgs;
    if (params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT && params->cArgs >= 1) {
        VariantCopyInd(&put_, &params->rgvarg[0]);
        hasPut_ = true;
    } else if (params->cNamedArgs > 0) {
        status_ = DISP_E_NONAMEDARGS;
        return;
    }
    const UINT first = hasPut_ ? 1 : 0;
    for (UINT i = positional; i > first; --i) {
        VARIANT copy;
        VariantInit(&copy);
        // A reference the caller passes for an omitted argument stays omitted.
        if (FAILED(VariantCopyInd(&copy, &params->rgvarg[i - 1]))) status_ = DISP_E_TYPEMISMATCH;
        args_.push_back(copy);
    }
}

Args::~Args() {
    for (VARIANT& v : args_) VariantClear(&v);
    VariantClear(&put_);
}

bool Args::Has(size_t i) const { return i < args_.size() && !Omitted(args_[i]); }

HRESULT Args::GetText(size_t i, Text* out) const {
    if (!Has(i)) return DISP_E_PARAMNOTFOUND;
    if (V_VT(&args_[i]) == VT_BSTR) {
        *out = ToText(V_BSTR(&args_[i]));
        return S_OK;
    }
    VARIANT text;
    VariantInit(&text);
    if (V_VT(&args_[i]) == VT_NULL || FAILED(VariantChangeType(&text, const_cast<VARIANT*>(&args_[i]), 0, VT_BSTR))) {
        badIndex_ = static_cast<UINT>(args_.size() - 1 - i);
        return DISP_E_TYPEMISMATCH;
    }
    *out = ToText(V_BSTR(&text));
    VariantClear(&text);
    return S_OK;
}

HRESULT Args::GetLong(size_t i, long fallback, long* out) const {
    *out = fallback;
    if (!Has(i)) return S_OK;
    VARIANT number;
    VariantInit(&number);
    if (FAILED(VariantChangeType(&number, const_cast<VARIANT*>(&args_[i]), 0, VT_I4))) {
        badIndex_ = static_cast<UINT>(args_.size() - 1 - i);
        return DISP_E_TYPEMISMATCH;
    }
    *out = V_I4(&number);
    return S_OK;
}

HRESULT Args::GetBool(size_t i, bool fallback, bool* out) const {
    long value = 0;
    const HRESULT hr = GetLong(i, fallback ? -1 : 0, &value);
    *out = value != 0;
    return hr;
}

std::string Args::LogText() const {
    std::string text;
    for (const VARIANT& v : args_) text += (text.empty() ? "" : ", ") + VariantText(v);
    return text;
}

namespace {
unsigned g_serial = 0;
}

DispObject::DispObject(std::shared_ptr<EngineState> state, const char* kind, const Member* members, size_t count)
    : state_(std::move(state)), kind_(kind), members_(members), count_(count), serial_(++g_serial) {
    InterlockedIncrement(&g_alive);
}

DispObject::~DispObject() { InterlockedDecrement(&g_alive); }

STDMETHODIMP DispObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) DispObject::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) DispObject::Release() {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP DispObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP DispObject::GetTypeInfo(UINT, LCID, ITypeInfo**) { return DISP_E_BADINDEX; }

STDMETHODIMP DispObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (count == 0) return S_OK;
    // Named arguments are not supported: only the member name resolves.
    for (size_t m = 0; m < count_; ++m) {
        if (_wcsicmp(names[0], members_[m].name) != 0) continue;
        ids[0] = members_[m].id;
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    return DISP_E_UNKNOWNNAME;
}

const Member* DispObject::Find(DISPID id) const {
    for (size_t m = 0; m < count_; ++m)
        if (members_[m].id == id) return &members_[m];
    return nullptr;
}

std::string DispObject::LogName() const { return std::string(kind_) + "#" + std::to_string(serial_); }

namespace {

// The failure's text for a caller that reads IErrorInfo.
void SetErrorText(const Text& description, const Text& source) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    const std::wstring wideDescription(description.begin(), description.end());
    const std::wstring wideSource(source.begin(), source.end());
    create->SetDescription(const_cast<LPOLESTR>(wideDescription.c_str()));
    create->SetSource(const_cast<LPOLESTR>(wideSource.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

// Whether the invoke flags fit the member as they must on DAO, whose
// objects are dispatch interfaces described by a type library: a method
// needs DISPATCH_METHOD; a property is read with DISPATCH_PROPERTYGET,
// DISPATCH_METHOD or both, and written only where it is writable. Anything
// else is DISP_E_MEMBERNOTFOUND, as IDispatch::Invoke documents it for a
// read-only property set and for a member that is not there as asked.
bool Fits(MemberKind kind, WORD flags, const Args& args) {
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return kind == kWritable && IsPut(flags, args);
    return flags & (kind == kMethod ? DISPATCH_METHOD : DISPATCH_METHOD | DISPATCH_PROPERTYGET);
}

}  // namespace

HRESULT DispObject::Raise(const Error& error, EXCEPINFO* info) const {
    const Text description = Description(error);
    const Text source = FromAscii(std::string("DAO.") + kind_);
    if (Runtime::Get().scenario().hresultErrors()) {
        // As a server without exception info answers: the control's error
        // as the HRESULT, its text through IErrorInfo.
        SetErrorText(description, source);
        return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, error.number);
    }
    if (info) {
        *info = EXCEPINFO{};
        info->scode = MAKE_SCODE(SEVERITY_ERROR, FACILITY_CONTROL, error.number);
        info->bstrSource = ToBstr(source);
        info->bstrDescription = ToBstr(description);
    }
    return DISP_E_EXCEPTION;
}

STDMETHODIMP DispObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO* error, UINT* argError) {
    const Member* member = Find(id);
    if (!member) return DISP_E_MEMBERNOTFOUND;
    Args args(params);
    if (FAILED(args.status())) return args.status();
    if (!Fits(member->kind, flags, args)) return DISP_E_MEMBERNOTFOUND;
    const std::string name = ToUtf8(Text(member->name, member->name + wcslen(member->name)));
    Runtime& runtime = Runtime::Get();
    if (const uint32_t ms = runtime.scenario().DelayMs(name)) Sleep(ms);
    VARIANT value;
    VariantInit(&value);
    Outcome outcome = Call(id, flags, args, &value);
    if (runtime.logging()) {
        std::string line = LogName() + (IsPut(flags, args) ? " put " : " ") + name + "(" + args.LogText() +
                           (args.putValue() ? ") = " + VariantText(*args.putValue()) : ")") + " -> ";
        if (outcome.error)
            line += "error " + std::to_string(outcome.error.number);
        else if (FAILED(outcome.hr))
            line += "hresult " + std::to_string(static_cast<unsigned long>(outcome.hr));
        else if (V_VT(&value) == VT_DISPATCH && V_DISPATCH(&value))
            line += static_cast<DispObject*>(V_DISPATCH(&value))->LogName();
        else
            line += V_VT(&value) == VT_EMPTY ? "ok" : VariantText(value);
        runtime.Log(line);
    }
    if (outcome.error) {
        VariantClear(&value);
        return Raise(outcome.error, error);
    }
    if (FAILED(outcome.hr)) {
        VariantClear(&value);
        if (argError && outcome.hr == DISP_E_TYPEMISMATCH) *argError = args.badIndex();
        return outcome.hr;
    }
    if (result)
        *result = value;  // the caller owns it now
    else
        VariantClear(&value);
    return S_OK;
}

bool IsPut(WORD flags, const Args& args) { return (flags & DISPATCH_PROPERTYPUT) && args.putValue(); }

void SetBool(VARIANT* v, bool value) {
    V_VT(v) = VT_BOOL;
    V_BOOL(v) = value ? VARIANT_TRUE : VARIANT_FALSE;
}
void SetLong(VARIANT* v, long value) {
    V_VT(v) = VT_I4;
    V_I4(v) = value;
}
void SetShort(VARIANT* v, short value) {
    V_VT(v) = VT_I2;
    V_I2(v) = value;
}
void SetText(VARIANT* v, TextView text) {
    V_VT(v) = VT_BSTR;
    V_BSTR(v) = ToBstr(text);
}
void SetValue(VARIANT* v, const Value& value) {
    if (value)
        SetText(v, *value);
    else
        V_VT(v) = VT_NULL;
}
void SetObject(VARIANT* v, DispObject* object) {
    V_VT(v) = VT_DISPATCH;
    V_DISPATCH(v) = object;
}

HRESULT ValueOf(const VARIANT& v, Value* out) {
    if (V_VT(&v) == VT_NULL || V_VT(&v) == VT_EMPTY) {
        out->reset();
        return S_OK;
    }
    if (V_VT(&v) == VT_BSTR) {
        *out = ToText(V_BSTR(&v));
        return S_OK;
    }
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeType(&text, const_cast<VARIANT*>(&v), 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
    *out = ToText(V_BSTR(&text));
    VariantClear(&text);
    return S_OK;
}

}  // namespace daosim
