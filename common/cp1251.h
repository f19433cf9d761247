// Text inside the programs is Windows Cyrillic (code page 1251) bytes. These
// conversions are the only way in and out: UTF-8 for SQLite and terminals,
// wide characters for the Unicode Win32 APIs. They depend on no locale and no
// ANSI code page.
#pragma once
#include <string>
#include <string_view>

namespace tq {

std::string Cp1251ToUtf8(std::string_view text);
// Characters that code page 1251 lacks, and malformed UTF-8, become '?'.
std::string Utf8ToCp1251(std::string_view text);

std::wstring Cp1251ToWide(std::string_view text);
// Characters that code page 1251 lacks become '?'.
std::string WideToCp1251(std::wstring_view text);

// The length of the well-formed UTF-8 sequence at p (overlong forms and
// surrogates are not), or 0 when none begins there.
size_t Utf8SequenceAt(const unsigned char* p, const unsigned char* end);
// Whether bytes are well-formed UTF-8 throughout.
bool IsValidUtf8(std::string_view bytes);
// Appends a code point as UTF-8.
void AppendUtf8(std::string* out, char32_t c);

// File names the engineer types or picks may hold any character, so they
// travel as UTF-8 and reach the system as wide text (UTF-16 on Windows)
// without passing through code page 1251. Malformed input becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
// Whether wide text holds a surrogate without its pair: UTF-8 cannot carry
// it, and WideToUtf8 gives U+FFFD in its place.
bool HasLoneSurrogate(std::wstring_view text);

// Shorthand for literals written in UTF-8 source: the same text in code page 1251.
inline std::string Cp(std::string_view utf8) { return Utf8ToCp1251(utf8); }

// Shorthand for the program's text on its way to and from the Unicode Win32
// APIs.
inline std::wstring Wide(std::string_view cp1251) { return Cp1251ToWide(cp1251); }
inline std::string Narrow(std::wstring_view wide) { return WideToCp1251(wide); }

}  // namespace tq
