#include "file_path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/cp1251.h"

#ifdef _WIN32
#include <wchar.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tq::viewer {

namespace {

// A path as the system's calls take it: wide text on Windows, UTF-8 with
// slashes elsewhere.
#ifdef _WIN32
using NativePath = std::wstring;
NativePath FromCp1251(const std::string& path) { return tq::Cp1251ToWide(path); }
NativePath FromUtf8(const std::string& path) { return tq::Utf8ToWide(path); }
FILE* OpenForReading(const NativePath& path) { return _wfopen(path.c_str(), L"rb"); }
FILE* OpenForWriting(const NativePath& path) { return _wfopen(path.c_str(), L"wb"); }
#else
using NativePath = std::string;
NativePath FromCp1251(const std::string& path) { return Utf8FilePath(path); }
NativePath FromUtf8(const std::string& path) {
    NativePath native = path;
    for (char& c : native)
        if (c == '\\') c = '/';
    return native;
}
FILE* OpenForReading(const NativePath& path) { return std::fopen(path.c_str(), "rb"); }
FILE* OpenForWriting(const NativePath& path) { return std::fopen(path.c_str(), "wb"); }
#endif

#ifdef _WIN32
std::wstring Wide(const std::string& path) { return tq::Cp1251ToWide(path); }

std::string SystemText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : L"error " + std::to_wstring(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
        message.pop_back();
    return tq::WideToCp1251(message);
}

bool Fail(std::string* why) {
    if (why) *why = SystemText(GetLastError());
    return false;
}
#else
bool Fail(std::string* why) {
    if (why) *why = tq::Utf8ToCp1251(std::strerror(errno));
    return false;
}
#endif

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
    FILE* f = OpenForReading(FromCp1251(path));
    if (!f) return false;
    std::fclose(f);
    return true;
}

size_t ReadFileHead(const std::string& path, char* buffer, size_t size) {
    FILE* f = OpenForReading(FromCp1251(path));
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

bool MakeFolder(const std::string& path, std::string* why) {
#ifdef _WIN32
    if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    SetLastError(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
    return Fail(why);
#else
    const std::string native = Utf8FilePath(path);
    if (mkdir(native.c_str(), 0777) == 0) return true;
    const int error = errno;
    struct stat st;
    if (stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    errno = error == EEXIST ? ENOTDIR : error;
    return Fail(why);
#endif
}

bool CreateNewFile(const std::string& path, std::string* why) {
#ifdef _WIN32
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(why);
    CloseHandle(file);
    return true;
#else
    const int fd = open(Utf8FilePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return Fail(why);
    close(fd);
    return true;
#endif
}

bool CopyFileOver(const std::string& from, const std::string& to, std::string* why) {
#ifdef _WIN32
    return CopyFileW(Wide(from).c_str(), Wide(to).c_str(), FALSE) || Fail(why);
#else
    FILE* in = std::fopen(Utf8FilePath(from).c_str(), "rb");
    if (!in) return Fail(why);
    FILE* out = std::fopen(Utf8FilePath(to).c_str(), "wb");
    if (!out) {
        const int error = errno;
        std::fclose(in);
        errno = error;
        return Fail(why);
    }
    char buffer[1 << 16];
    size_t got;
    bool written = true;
    while (written && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0) written = std::fwrite(buffer, 1, got, out) == got;
    const int error = errno;
    written = written && !std::ferror(in);
    std::fclose(in);
    if (std::fclose(out) != 0) written = false;
    errno = error ? error : EIO;
    return written || Fail(why);
#endif
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), 0) != 0;
#else
    // A hard link cannot replace a file, so the new name is never one taken.
    const std::string native = Utf8FilePath(from);
    if (link(native.c_str(), Utf8FilePath(to).c_str()) != 0) return false;
    unlink(native.c_str());
    return true;
#endif
}

bool RemoveFile(const std::string& path) {
#ifdef _WIN32
    return DeleteFileW(Wide(path).c_str()) != 0;
#else
    return unlink(Utf8FilePath(path).c_str()) == 0;
#endif
}

std::vector<std::string> FilesInFolder(const std::string& folder) {
    std::vector<std::string> names;
#ifdef _WIN32
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(tq::WideToCp1251(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
#else
    const std::string native = Utf8FilePath(folder);
    DIR* dir = opendir(native.c_str());
    if (!dir) return names;
    while (const dirent* entry = readdir(dir)) {
        struct stat st;
        const std::string full = native + "/" + entry->d_name;
        if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(tq::Utf8ToCp1251(entry->d_name));
    }
    closedir(dir);
#endif
    return names;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
#ifdef _WIN32
    return folder.empty() ? name : folder + "\\" + name;
#else
    std::string joined = folder.empty() ? name : folder + "/" + name;
    for (char& c : joined)
        if (c == '\\') c = '/';
    return joined;
#endif
}

bool ReadWholeFileUtf8(const std::string& path, std::string* bytes) {
    bytes->clear();
    FILE* f = OpenForReading(FromUtf8(path));
    if (!f) return false;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, got);
    const bool complete = !std::ferror(f);
    std::fclose(f);
    return complete;
}

bool WriteWholeFileUtf8(const std::string& path, const std::string& bytes) {
    const NativePath native = FromUtf8(path);
    FILE* f = OpenForWriting(native);
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    // fclose flushes: a full disk may show only here.
    const bool closed = std::fclose(f) == 0;
    if (written && closed) return true;
#ifdef _WIN32
    DeleteFileW(native.c_str());
#else
    unlink(native.c_str());
#endif
    return false;
}

}  // namespace tq::viewer
