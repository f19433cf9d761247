// Makes a simulator control straight from printersim.dll, without the
// registry: for the wrapper's tests and the benchmark. The scenario and log
// files are taken from TQ_PRINTERSIM_SCENARIO and TQ_PRINTERSIM_LOG when the
// control is made.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>

namespace printersim {

// printersim.dll in the tools folder beside the caller's own folder.
inline std::wstring SiblingToolPath() {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    path.erase(path.find_last_of(L'\\'));
    path.erase(path.find_last_of(L'\\') + 1);
    return path + L"tools\\printersim.dll";
}

// A new control, or null. The library stays loaded for the process.
inline IDispatch* MakeSimulator(const std::wstring& dllPath = SiblingToolPath()) {
    HMODULE dll = LoadLibraryW(dllPath.c_str());
    if (!dll) return nullptr;
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    const CLSID clsid = {0x03ca02ed, 0x6a7e, 0x4fd9, {0x90, 0xb6, 0xd8, 0x48, 0x0b, 0x61, 0xe1, 0x3a}};
    IClassFactory* factory = nullptr;
    if (!get || FAILED(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return nullptr;
    IDispatch* control = nullptr;
    factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&control));
    factory->Release();
    return control;
}

}  // namespace printersim
