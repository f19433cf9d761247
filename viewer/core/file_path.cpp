#include "file_path.h"

#include <cstdio>

#include "common/cp1251.h"

#ifdef _WIN32
#include <wchar.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

FILE* OpenForReading(const std::string& path) {
#ifdef _WIN32
    return _wfopen(tq::Cp1251ToWide(path).c_str(), L"rb");
#else
    return std::fopen(Utf8FilePath(path).c_str(), "rb");
#endif
}

FILE* OpenForWriting(const std::string& path) {
#ifdef _WIN32
    return _wfopen(tq::Cp1251ToWide(path).c_str(), L"wb");
#else
    return std::fopen(Utf8FilePath(path).c_str(), "wb");
#endif
}

void RemovePath(const std::string& path) {
#ifdef _WIN32
    _wremove(tq::Cp1251ToWide(path).c_str());
#else
    std::remove(Utf8FilePath(path).c_str());
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

bool GetFileIdentity(const std::string& path, FileIdentity* identity) {
#ifdef _WIN32
    // No access asked for, every sharing allowed: the file may be open in
    // the database engine, or anywhere else.
    HANDLE file = CreateFileW(tq::Cp1251ToWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool got = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!got) return false;
    identity->volume = info.dwVolumeSerialNumber;
    identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
#else
    struct stat st;
    if (stat(Utf8FilePath(path).c_str(), &st) != 0) return false;
    identity->volume = static_cast<uint64_t>(st.st_dev);
    identity->index = static_cast<uint64_t>(st.st_ino);
#endif
    return true;
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
    bytes->clear();
    FILE* f = OpenForReading(path);
    if (!f) return false;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, got);
    const bool complete = !std::ferror(f);
    std::fclose(f);
    return complete;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    FILE* f = OpenForWriting(path);
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    // fclose flushes: a full disk may show only here.
    const bool closed = std::fclose(f) == 0;
    if (written && closed) return true;
    RemovePath(path);
    return false;
}
