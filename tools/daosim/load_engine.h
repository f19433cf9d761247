// Makes a stand-in DBEngine straight from daosim.dll, without the registry:
// for benchmarks and tests that must not depend on the prefix's registration.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>

namespace daosim {

// daosim.dll in the tools folder beside the caller's own folder.
inline std::wstring SiblingEnginePath() {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    path.erase(path.find_last_of(L'\\'));
    path.erase(path.find_last_of(L'\\') + 1);
    return path + L"tools\\daosim.dll";
}

// A new DBEngine, or null. The library stays loaded for the process.
inline IDispatch* LoadEngine(const std::wstring& dllPath = SiblingEnginePath()) {
    HMODULE dll = LoadLibraryW(dllPath.c_str());
    if (!dll) return nullptr;
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    const CLSID clsid = {0x00000100, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
    IClassFactory* factory = nullptr;
    if (!get || FAILED(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return nullptr;
    IDispatch* engine = nullptr;
    factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&engine));
    factory->Release();
    return engine;
}

}  // namespace daosim
