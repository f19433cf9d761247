#include "module_path.h"

namespace tq::win {

// GetModuleFileNameW says nothing of a path that does not fit but that it
// filled the buffer (and, before Windows Vista, left it without its NUL):
// the buffer grows until the path leaves room to spare. Windows paths end at
// 32,767 characters, so the growth ends too.
std::wstring ModulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameW(module, path.data(), size);
        if (length == 0) return std::wstring();
        if (length < size) {
            path.resize(length);
            return path;
        }
        if (size >= 32768) return std::wstring();
        path.resize(static_cast<size_t>(size) * 2);
    }
}

std::wstring ModuleFolder(HMODULE module) {
    const std::wstring path = ModulePath(module);
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace tq::win
