// Makes a stand-in DBEngine straight from daosim.dll, without the registry:
// for benchmarks and tests that must not depend on the prefix's registration.
#pragma once
#include "tools/in_process_server.h"

namespace daosim {

// A new DBEngine, or null.
inline IDispatch* LoadEngine(const std::wstring& dllPath = tq::tools::SiblingToolPath(L"daosim.dll")) {
    const CLSID clsid = {0x00000100, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
    return tq::tools::CreateFromDll(dllPath, clsid);
}

}  // namespace daosim
