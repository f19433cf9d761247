#include "file_version.h"

#include <vector>

namespace tq::win {

bool ReadFileVersion(const wchar_t* path, DWORD* versionMs, DWORD* versionLs) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return false;
    std::vector<char> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data())) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info ||
        infoSize < sizeof *info)
        return false;
    *versionMs = info->dwFileVersionMS;
    *versionLs = info->dwFileVersionLS;
    return true;
}

}  // namespace tq::win
