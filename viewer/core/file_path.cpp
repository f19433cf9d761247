#include "file_path.h"

#include <cstdio>

#include "common/cp1251.h"

#ifdef _WIN32
#include <wchar.h>
#endif

namespace {

FILE* OpenForReading(const std::string& path) {
#ifdef _WIN32
    return _wfopen(tq::Cp1251ToWide(path).c_str(), L"rb");
#else
    return std::fopen(Utf8FilePath(path).c_str(), "rb");
#endif
}

}  // namespace

std::string Utf8FilePath(const std::string& path) {
    std::string utf8 = tq::Cp1251ToUtf8(path);
#ifndef _WIN32
    for (char& c : utf8)
        if (c == '\\') c = '/';
#endif
    return utf8;
}

bool CanOpenForReading(const std::string& path) {
    FILE* f = OpenForReading(path);
    if (!f) return false;
    std::fclose(f);
    return true;
}

size_t ReadFileHead(const std::string& path, char* buffer, size_t size) {
    FILE* f = OpenForReading(path);
    if (!f) return 0;
    const size_t got = std::fread(buffer, 1, size, f);
    std::fclose(f);
    return got;
}
