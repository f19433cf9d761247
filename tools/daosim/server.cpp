// The stand-in DAO engine's COM server: "DAO.DBEngine.36" with DAO 3.6's
// CLSID, made by CoCreateInstance or, with the DAO runtime key, by
// IClassFactory2::CreateInstanceLic. Registered only in a test prefix, by
// regsvr32 (DllRegisterServer under HKLM\Software\Classes).
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

#include "common/win/handle.h"
#include "common/win/module_path.h"
#include "tools/daosim/objects.h"

namespace daosim {
namespace {

// {00000100-0000-0010-8000-00AA006D2EA4}
const CLSID kEngineClsid = {0x00000100, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
const wchar_t kClsidText[] = L"{00000100-0000-0010-8000-00AA006D2EA4}";
const wchar_t kProgId[] = L"DAO.DBEngine.36";
const wchar_t kRuntimeKey[] = L"mbmabptebkjcdlgtjmskjwtsdhjbmkmwtrak";

HMODULE g_module = nullptr;

HRESULT Create(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    DispObject* engine = NewEngine();
    const HRESULT hr = engine->QueryInterface(iid, out);
    engine->Release();
    return hr;
}

class Factory : public IClassFactory2 {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory || iid == IID_IClassFactory2) {
            *out = static_cast<IClassFactory2*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // a static object
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (Runtime::Get().scenario().notLicensed()) {
            if (out) *out = nullptr;
            Runtime::Get().Log("DBEngine create -> not licensed");
            return CLASS_E_NOTLICENSED;
        }
        return Create(outer, iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&g_alive);
        else
            InterlockedDecrement(&g_alive);
        return S_OK;
    }

    STDMETHODIMP GetLicInfo(LICINFO* info) override {
        if (!info) return E_POINTER;
        info->cbLicInfo = sizeof *info;
        info->fRuntimeKeyAvail = TRUE;
        info->fLicVerified = !Runtime::Get().scenario().notLicensed();
        return S_OK;
    }
    STDMETHODIMP RequestLicKey(DWORD, BSTR* key) override {
        if (key) *key = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP CreateInstanceLic(IUnknown* outer, IUnknown*, REFIID iid, BSTR key, void** out) override {
        if (!key || lstrcmpW(key, kRuntimeKey) != 0) {
            if (out) *out = nullptr;
            return CLASS_E_NOTLICENSED;
        }
        return Create(outer, iid, out);
    }
};

Factory g_factory;

bool SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr) !=
        ERROR_SUCCESS)
        return false;
    tq::win::RegKey owned(raw);
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(raw, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS;
}

}  // namespace
}  // namespace daosim

using namespace daosim;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (clsid != kEngineClsid) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_alive == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT WINAPI DllRegisterServer() {
    const std::wstring path = tq::win::ModulePath(g_module);
    if (path.empty()) return SELFREG_E_CLASS;
    const std::wstring classKey = std::wstring(L"Software\\Classes\\CLSID\\") + kClsidText;
    const std::wstring progKey = std::wstring(L"Software\\Classes\\") + kProgId;
    const bool ok = SetValue(classKey, nullptr, L"DAO.DBEngine.36 (test stand-in)") &&
                    SetValue(classKey + L"\\InprocServer32", nullptr, path) &&
                    SetValue(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                    SetValue(classKey + L"\\ProgID", nullptr, kProgId) &&
                    SetValue(progKey, nullptr, L"DAO.DBEngine.36 (test stand-in)") &&
                    SetValue(progKey + L"\\CLSID", nullptr, kClsidText);
    return ok ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    const std::wstring classKey = std::wstring(L"Software\\Classes\\CLSID\\") + kClsidText;
    const std::wstring progKey = std::wstring(L"Software\\Classes\\") + kProgId;
    const LSTATUS a = RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey.c_str());
    const LSTATUS b = RegDeleteTreeW(HKEY_LOCAL_MACHINE, progKey.c_str());
    const bool ok = (a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND) && (b == ERROR_SUCCESS || b == ERROR_FILE_NOT_FOUND);
    return ok ? S_OK : SELFREG_E_CLASS;
}
