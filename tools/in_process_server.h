// Makes an object of one of our in-process COM servers (the stand-in DAO
// server, the printer simulator) straight from its DLL, without the
// registry: for benchmarks and tests that must not depend on the prefix's
// registration.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>

#include "common/win/module_path.h"

namespace tq::tools {

// dllName in the tools folder beside the caller's own folder; empty when
// the caller's path cannot be read.
inline std::wstring SiblingToolPath(const wchar_t* dllName) {
    const std::wstring folder = tq::win::ModuleFolder();
    const size_t slash = folder.find_last_of(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    return folder.substr(0, slash + 1) + L"tools\\" + dllName;
}

// A new object of the class, as IDispatch, or null. The library stays
// loaded for the process.
inline IDispatch* CreateFromDll(const std::wstring& dllPath, const CLSID& clsid) {
    HMODULE dll = LoadLibraryW(dllPath.c_str());
    if (!dll) return nullptr;
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (!get || FAILED(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return nullptr;
    IDispatch* object = nullptr;
    factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
    factory->Release();
    return object;
}

}  // namespace tq::tools
