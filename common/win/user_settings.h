// Text values the programs keep for the engineer under HKEY_CURRENT_USER
// (the viewer's folder and window, the wizard's scale number). A value that
// is missing, of another type or unreadable is as if never written.
#pragma once
#include <string>

namespace tq::win {

std::wstring LoadUserText(const wchar_t* key, const wchar_t* name);
// Makes the key when missing; false when the value cannot be written.
bool SaveUserText(const wchar_t* key, const wchar_t* name, const std::wstring& text);

}  // namespace tq::win
