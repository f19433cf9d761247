// tqdb: the data core from the command line. Creates the seven database files
// of an "Internal" folder, lists a database as the viewer does, saves, finds,
// deletes, clears and generates records.
#pragma once
#include <string>
#include <vector>

namespace tq::viewer {

// How tqdb ends its own lines: CRLF on Windows, where text files end their
// lines so, LF elsewhere. A value's own line breaks come out as stored.
#ifdef _WIN32
inline constexpr char kTqdbLineEnd[] = "\r\n";
#else
inline constexpr char kTqdbLineEnd[] = "\n";
#endif

// args in UTF-8, without the program name; out and err receive UTF-8 text.
// Returns the process exit code.
int RunTqdb(const std::vector<std::string>& args, std::string* out, std::string* err);

}  // namespace tq::viewer
