#pragma once
#include <optional>
#include <string>

namespace tq::lmt {

// The text of a printer Status code, code page 1251; codes 7, 8 and those
// outside 0..11 have none.
std::optional<std::string> StatusText(long status);

// A printer call that reports no link.
std::string NoLinkText();

// printf into code page 1251 text; the format is a code page 1251 string.
std::string Format(const std::string& format, ...);

}  // namespace tq::lmt
