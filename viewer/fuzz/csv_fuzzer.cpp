// Feeds arbitrary file bytes through the CSV reader as the import reads a
// file: decoding, the separator, the rows. Nothing may crash, and every file
// the reader accepts must survive the writer: its rows written back with
// AppendField, the separator between the fields and CRLF after each row,
// must split into the same rows again; otherwise an export of what an import
// took in would not read back as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "viewer/core/csv.h"

namespace csv = tq::viewer::csv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<csv::Row> rows;
    char separator = 0;
    csv::Failure failure;
    if (!csv::ReadRows(bytes, &rows, &separator, &failure)) {
        if (failure.what.empty()) {
            std::fprintf(stderr, "a refusal without a reason\n");
            std::abort();
        }
        return 0;
    }
    if (separator != ';' && separator != ',' && separator != '\t') {
        std::fprintf(stderr, "separator 0x%02X\n", static_cast<unsigned char>(separator));
        std::abort();
    }

    std::string written;
    for (const csv::Row& row : rows) {
        for (size_t f = 0; f < row.fields.size(); ++f) {
            if (f) written += separator;
            csv::AppendField(&written, row.fields[f], separator);
        }
        written += "\r\n";
    }
    std::vector<csv::Row> again;
    if (!csv::ParseRows(written, separator, &again, &failure)) {
        std::fprintf(stderr, "the written rows do not parse: line %ld\n", failure.line);
        std::abort();
    }
    if (again.size() != rows.size()) {
        std::fprintf(stderr, "%zu rows read, %zu after writing them\n", rows.size(), again.size());
        std::abort();
    }
    for (size_t r = 0; r < rows.size(); ++r) {
        if (again[r].fields != rows[r].fields) {
            std::fprintf(stderr, "row %zu (line %ld) changed when written\n", r, rows[r].line);
            std::abort();
        }
    }
    return 0;
}
