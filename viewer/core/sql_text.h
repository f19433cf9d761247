// The layer's SQL as the engines take it apart: a SELECT on FieldsTable with
// its values as quoted literals, which become parameters, so that no value is
// ever read as SQL and one prepared statement serves every lookup of a shape.
#pragma once
#include <string>
#include <vector>

namespace tq::viewer {

bool StartsWithNoCase(const std::string& text, const char* prefix);
bool ContainsNoCase(const std::string& text, const char* part);
// Without surrounding blanks and a closing ';'.
std::string Trimmed(const std::string& text);

// Replaces each quoted literal by a placeholder ("?", or "[p%d]" numbered
// from 1), collecting the literal's text ('' inside stands for one quote).
// An unterminated literal leaves the text as it was, with no parameters, for
// the engine to refuse.
std::string Parameterized(const std::string& sql, const char* placeholder, std::vector<std::string>* parameters);

}  // namespace tq::viewer
