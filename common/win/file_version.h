// The fixed version of a module file (its VERSIONINFO resource).
#pragma once
#include <windows.h>

namespace tq::win {

// False when the file has no version resource.
bool ReadFileVersion(const wchar_t* path, DWORD* versionMs, DWORD* versionLs);

}  // namespace tq::win
