#include "user_settings.h"

#include <windows.h>

#include <vector>

namespace tq::win {

namespace {

// More than any setting holds: a value larger is no setting of ours.
const DWORD kMaxBytes = 64 * 1024;

}  // namespace

std::wstring LoadUserText(const wchar_t* key, const wchar_t* name) {
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS ||
        bytes > kMaxBytes)
        return std::wstring();
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) != ERROR_SUCCESS)
        return std::wstring();
    return std::wstring(text.data());  // up to the first NUL, which RegGetValueW puts at the end
}

bool SaveUserText(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_SZ, text.c_str(), bytes) == ERROR_SUCCESS;
}

}  // namespace tq::win
