// Makes a simulator control straight from printersim.dll, without the
// registry: for the wrapper's tests and the benchmark. The scenario and log
// files are taken from TQ_PRINTERSIM_SCENARIO and TQ_PRINTERSIM_LOG when the
// control is made.
#pragma once
#include "tools/in_process_server.h"

namespace printersim {

// A new control, or null.
inline IDispatch* MakeSimulator(const std::wstring& dllPath = tq::tools::SiblingToolPath(L"printersim.dll")) {
    const CLSID clsid = {0x03ca02ed, 0x6a7e, 0x4fd9, {0x90, 0xb6, 0xd8, 0x48, 0x0b, 0x61, 0xe1, 0x3a}};
    return tq::tools::CreateFromDll(dllPath, clsid);
}

}  // namespace printersim
