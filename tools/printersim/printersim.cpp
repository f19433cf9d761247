// The printer simulator: an in-process COM server with the printer control's
// CLSID and dispatch ids, for the Wine tests only. Its answers come from the
// scenario file named by TQ_PRINTERSIM_SCENARIO, read again whenever the file
// changes; every call is appended to the file named by TQ_PRINTERSIM_LOG as
// one UTF-8 line ("RequestStatus -> 0", "put LabelName Икра черная.").
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

#include "common/cp1251.h"
#include "common/win/handle.h"
#include "scenario.h"

namespace {

// {03CA02ED-6A7E-4FD9-90B6-D8480B61E13A}
const CLSID kPrinterClsid = {0x03ca02ed, 0x6a7e, 0x4fd9, {0x90, 0xb6, 0xd8, 0x48, 0x0b, 0x61, 0xe1, 0x3a}};

// Objects and locks alive, for DllCanUnloadNow.
LONG g_alive = 0;

struct Member {
    DISPID id;
    const char* name;
    enum Kind { kMethod, kRead, kWrite } kind;
};

const Member kMembers[] = {
    {1, "Feed", Member::kMethod},           {2, "LoadLabel", Member::kMethod},
    {3, "PrepareLabel", Member::kMethod},   {8, "LabelValue8", Member::kWrite},
    {9, "LabelValue9", Member::kWrite},     {10, "LabelValue10", Member::kWrite},
    {12, "LabelBarcode", Member::kWrite},   {14, "LabelName", Member::kWrite},
    {20, "LabelInteger20", Member::kWrite}, {31, "EnableLabelSensor", Member::kMethod},
    {33, "Status", Member::kRead},          {34, "SensorFlags", Member::kRead},
    {37, "RequestStatus", Member::kMethod}, {43, "VersionMinor", Member::kRead},
    {44, "VersionMajor", Member::kRead},    {49, "PeVoltage", Member::kRead},
    {53, "LabVoltage", Member::kRead},      {54, "HeadTemperature", Member::kRead},
    {55, "RulVoltage", Member::kRead},      {56, "TestSram", Member::kMethod},
    {57, "PrintLabel", Member::kMethod},
};

const Member* FindMember(DISPID id) {
    for (const Member& m : kMembers)
        if (m.id == id) return &m;
    return nullptr;
}

std::wstring EnvPath(const wchar_t* name) {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(buffer, n) : std::wstring();
}

// A VARIANT argument as log text (UTF-8).
std::string ArgText(const VARIANT& arg) {
    if (V_VT(&arg) == VT_BSTR) return tq::Cp1251ToUtf8(tq::WideToCp1251(V_BSTR(&arg) ? V_BSTR(&arg) : L""));
    if (V_VT(&arg) == VT_BOOL) return V_BOOL(&arg) ? "1" : "0";
    VARIANT text;
    VariantInit(&text);
    std::string out = "?";
    if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&arg), 0, VT_BSTR)))
        out = tq::Cp1251ToUtf8(tq::WideToCp1251(V_BSTR(&text)));
    VariantClear(&text);
    return out;
}

class Printer final : public IDispatch, public IOleObject {
public:
    Printer() {
        InterlockedIncrement(&g_alive);
        scenarioPath_ = EnvPath(L"TQ_PRINTERSIM_SCENARIO");
        const std::wstring logPath = EnvPath(L"TQ_PRINTERSIM_LOG");
        if (!logPath.empty())
            log_.reset(CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        Log("created");
    }
    ~Printer() { InterlockedDecrement(&g_alive); }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch)
            *out = static_cast<IDispatch*>(this);
        else if (iid == IID_IOleObject)
            *out = static_cast<IOleObject*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: by dispatch id only.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* error, UINT*) override;

    // IOleObject: just enough for a container to site the control.
    STDMETHODIMP SetClientSite(IOleClientSite*) override { return S_OK; }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        *site = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override { return S_OK; }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override { return S_OK; }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* clsid) override {
        *clsid = kPrinterClsid;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
        *status = OLEMISC_INVISIBLEATRUNTIME;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

private:
    void ReloadIfChanged();
    void Log(const std::string& line);

    LONG refs_ = 1;
    std::wstring scenarioPath_;
    FILETIME scenarioTime_{};
    printersim::Scenario scenario_;
    tq::win::FileHandle log_;
};

void Printer::ReloadIfChanged() {
    if (scenarioPath_.empty()) return;
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(scenarioPath_.c_str(), GetFileExInfoStandard, &info)) return;
    if (CompareFileTime(&info.ftLastWriteTime, &scenarioTime_) == 0) return;
    tq::win::FileHandle file(CreateFileW(scenarioPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    std::string text(info.nFileSizeLow, '\0');
    DWORD got = 0;
    if (!ReadFile(file.get(), text.data(), info.nFileSizeLow, &got, nullptr)) return;
    text.resize(got);
    scenario_.Parse(text);
    scenarioTime_ = info.ftLastWriteTime;
}

void Printer::Log(const std::string& line) {
    if (!log_) return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(log_.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

HRESULT Printer::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* error, UINT*) {
    const Member* member = FindMember(id);
    if (!member) return DISP_E_MEMBERNOTFOUND;
    ReloadIfChanged();
    const std::string name = member->name;
    if (const uint32_t delay = scenario_.DelayMs(name)) Sleep(delay);
    if (scenario_.Faults(name)) {
        Log(name + " -> fault");
        if (error) {
            *error = EXCEPINFO{};
            error->scode = E_FAIL;
            error->bstrDescription = SysAllocString(L"Simulated control failure");
        }
        return DISP_E_EXCEPTION;
    }

    const UINT argCount = params ? params->cArgs : 0;
    if (member->kind == Member::kWrite) {
        if (!(flags & DISPATCH_PROPERTYPUT) || argCount != 1 || params->cNamedArgs != 1 ||
            params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_MEMBERNOTFOUND;
        Log("put " + name + " " + ArgText(params->rgvarg[0]));
        return S_OK;
    }
    if (member->kind == Member::kRead && !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (member->kind == Member::kMethod && !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;

    const long value = scenario_.Next(name);
    std::string line = (member->kind == Member::kRead ? "get " : "") + name;
    for (UINT i = argCount; i > 0; --i) line += " " + ArgText(params->rgvarg[i - 1]);
    Log(line + " -> " + std::to_string(value));
    if (result) {
        VariantInit(result);
        V_VT(result) = VT_I4;
        V_I4(result) = value;
    }
    return S_OK;
}

class Factory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }   // static object
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Printer* printer = new Printer;
        const HRESULT hr = printer->QueryInterface(iid, out);
        printer->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&g_alive);
        else
            InterlockedDecrement(&g_alive);
        return S_OK;
    }
};

Factory g_factory;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (clsid != kPrinterClsid) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_alive == 0 ? S_OK : S_FALSE; }
