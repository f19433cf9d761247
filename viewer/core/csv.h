// CSV as spreadsheets write and read it (RFC 4180): fields separated by ';',
// ',' or a tab, rows ended by CRLF (a bare LF is read too), and a field that
// holds the separator, a quote or a line break stands between quotes, its
// quotes doubled. Text inside the program is code page 1251; the files are
// UTF-8 (or UTF-16 with its mark, as a spreadsheet's "Unicode text" is).
#pragma once
#include <string>
#include <vector>

namespace tq::viewer::csv {

// The byte-order mark a written file begins with, so that a spreadsheet
// reads it as UTF-8.
extern const char kUtf8Bom[];

// Appends one field, quoted when it has to be.
void AppendField(std::string* out, const std::string& value, char separator);

// Where reading stopped and why, in code page 1251; line 0 for the whole file.
struct Failure {
    long line = 0;
    std::string what;
};

// The bytes of a file as code page 1251 text: UTF-8 with or without its
// byte-order mark, UTF-16 after its mark (either byte order), or code page
// 1251 itself when the bytes are not valid UTF-8. An empty file, a NUL byte
// (no text file), broken UTF-16, a file that mixes UTF-8 and 1251 text, and a
// character that code page 1251 lacks are failures.
bool DecodeText(const std::string& bytes, std::string* text, Failure* failure);

// ';', ',' or a tab: the first of them outside quotes on the first line (';'
// when that line has none).
char DetectSeparator(const std::string& text);

struct Row {
    long line = 0;  // the line of the file the row begins on, from 1
    std::vector<std::string> fields;
};

// Splits the text into rows. A quote left open, or text after a closing quote,
// is a failure naming its line.
bool ParseRows(const std::string& text, char separator, std::vector<Row>* rows, Failure* failure);

// A whole file: decoded, its separator detected, split into rows. A first
// line "sep=;" (or "sep=," or "sep=<tab>"), as a spreadsheet writes it to
// name the separator, is no row; the lines still count from the file's first.
bool ReadRows(const std::string& bytes, std::vector<Row>* rows, char* separator, Failure* failure);

}  // namespace tq::viewer::csv
