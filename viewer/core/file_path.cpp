#include "file_path.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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
const wchar_t kSeparator = L'\\';
NativePath FromCp1251(const std::string& path) { return tq::Cp1251ToWide(path); }
NativePath FromUtf8(const std::string& path) { return tq::Utf8ToWide(path); }
FILE* OpenForReading(const NativePath& path) { return _wfopen(path.c_str(), L"rb"); }
#else
using NativePath = std::string;
const char kSeparator = '/';
NativePath FromCp1251(const std::string& path) { return Utf8FilePath(path); }
NativePath FromUtf8(const std::string& path) {
    NativePath native = path;
    for (char& c : native)
        if (c == '\\') c = '/';
    return native;
}
FILE* OpenForReading(const NativePath& path) { return std::fopen(path.c_str(), "rb"); }
#endif

size_t ReadHead(const NativePath& path, char* buffer, size_t size) {
    FILE* f = OpenForReading(path);
    if (!f) return 0;
    const size_t got = std::fread(buffer, 1, size, f);
    std::fclose(f);
    return got;
}

#ifdef _WIN32

std::string SystemText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
        message.pop_back();
    // The system's text is in the system's language; the number is the same
    // on every system.
    return tq::Cp("ошибка Windows ") + std::to_string(error) +
           (message.empty() ? "" : ": " + tq::WideToCp1251(message));
}

bool Fail(std::string* why) {
    if (why) *why = SystemText(GetLastError());
    return false;
}
#else
bool Fail(std::string* why) {
    const int error = errno;
    if (why)
        *why = tq::Cp("системная ошибка ") + std::to_string(error) + ": " + tq::Utf8ToCp1251(std::strerror(error));
    return false;
}
#endif

#ifdef _WIN32
// The path of an existing file or folder as the system finally reaches it:
// links, junctions and short names resolved. Empty when it cannot be opened.
std::wstring FinalPath(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::wstring();
    std::wstring final(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(file, &final[0], static_cast<DWORD>(final.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (length == 0 || length >= final.size()) return std::wstring();
    final.resize(length);
    if (final.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + final.substr(8);
    if (final.compare(0, 4, L"\\\\?\\") == 0) return final.substr(4);
    return final;
}

// The full path from the current folder, resolved as far as it exists: a
// file not made yet is named in its folder's resolved path. Empty when not
// even the folder can be found.
std::wstring ResolvedPath(const NativePath& path) {
    std::wstring full(32768, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (length == 0 || length >= full.size()) return std::wstring();
    full.resize(length);
    std::wstring final = FinalPath(full);
    if (!final.empty()) return final;
    const size_t slash = full.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 == full.size()) return std::wstring();
    // A drive's root keeps its backslash: "C:" alone is a folder on that drive.
    final = FinalPath(full.substr(0, full.find(L'\\') == slash ? slash + 1 : slash));
    if (final.empty()) return std::wstring();
    return (final.back() == L'\\' ? final : final + L'\\') + full.substr(slash + 1);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// A new file beside target, made for this writer alone.
HANDLE CreateTemporaryBeside(const std::wstring& target, std::wstring* temporary) {
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        *temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt) + L".tmp";
        file = CreateFileW(temporary->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return file;
}

bool ReplaceWith(const std::wstring& target, const std::string& bytes, std::string* why) {
    std::wstring temporary;
    HANDLE file = CreateTemporaryBeside(target, &temporary);
    if (file == INVALID_HANDLE_VALUE) return Fail(why);
    bool written = true;
    for (size_t done = 0; written && done < bytes.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        DWORD wrote = 0;
        written = WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) && wrote == chunk;
        done += wrote;
    }
    // On the disk before it takes the old file's place: a power cut then
    // leaves the old file or the new one, never an empty one.
    written = written && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (written && MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (written) error = GetLastError();
    DeleteFileW(temporary.c_str());
    SetLastError(error);
    return Fail(why);
}
#else
std::string ResolvedPath(const NativePath& path) {
    if (char* full = realpath(path.c_str(), nullptr)) {
        const std::string resolved = full;
        std::free(full);
        return resolved;
    }
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return std::string();
    char* full = realpath(folder.c_str(), nullptr);
    if (!full) return std::string();
    const std::string resolved = full;
    std::free(full);
    return (resolved == "/" ? resolved : resolved + "/") + name;
}

bool SamePath(const std::string& a, const std::string& b) { return a == b; }

int CreateTemporaryBeside(const std::string& target, std::string* temporary) {
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        *temporary = target + "." + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
        fd = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    return fd;
}

bool ReplaceWith(const std::string& target, const std::string& bytes, std::string* why) {
    // Windows keeps a read-only file from being replaced; a rename here would
    // not, so the file's own permission is asked first.
    if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0) return Fail(why);
    std::string temporary;
    const int fd = CreateTemporaryBeside(target, &temporary);
    if (fd < 0) return Fail(why);
    bool written = true;
    for (size_t done = 0; written && done < bytes.size();) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        written = wrote > 0;
        if (wrote == 0) errno = ENOSPC;
        if (written) done += static_cast<size_t>(wrote);
    }
    // On the disk before it takes the old file's place: a power cut then
    // leaves the old file or the new one, never an empty one.
    written = written && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && rename(temporary.c_str(), target.c_str()) == 0) return true;
    if (written) error = errno;
    unlink(temporary.c_str());
    errno = error;
    return Fail(why);
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

bool IsOnFixedDisk(const std::string& path) {
#ifdef _WIN32
    wchar_t full[MAX_PATH * 2];
    const DWORD length = GetFullPathNameW(FromCp1251(path).c_str(), MAX_PATH * 2, full, nullptr);
    if (length < 3 || length >= MAX_PATH * 2 || full[1] != L':' || full[2] != L'\\') return false;
    const wchar_t root[] = {full[0], L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_FIXED;
#else
    (void)path;
    return false;
#endif
}

bool CanOpenForReading(const std::string& path) {
    FILE* f = OpenForReading(FromCp1251(path));
    if (!f) return false;
    std::fclose(f);
    return true;
}

size_t ReadFileHead(const std::string& path, char* buffer, size_t size) {
    return ReadHead(FromCp1251(path), buffer, size);
}

size_t ReadFileHeadUtf8(const std::string& path, char* buffer, size_t size) {
    return ReadHead(FromUtf8(path), buffer, size);
}

bool GetFileIdentity(const std::string& path, FileIdentity* identity) {
    FileState state;
    if (!GetFileState(path, &state)) return false;
    *identity = state.identity;
    return true;
}

bool GetFileState(const std::string& path, FileState* state) {
#ifdef _WIN32
    // No access asked for, every sharing allowed: the file may be open in
    // the database engine, or anywhere else.
    HANDLE file = CreateFileW(FromCp1251(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool got = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!got) return false;
    state->identity.volume = info.dwVolumeSerialNumber;
    state->identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    state->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    state->written = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                          info.ftLastWriteTime.dwLowDateTime);
#else
    struct stat st;
    if (stat(Utf8FilePath(path).c_str(), &st) != 0) return false;
    state->identity.volume = static_cast<uint64_t>(st.st_dev);
    state->identity.index = static_cast<uint64_t>(st.st_ino);
    state->size = static_cast<uint64_t>(st.st_size);
    state->written = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
    return true;
}

bool SetFileWritten(const std::string& path, int64_t written) {
#ifdef _WIN32
    HANDLE file = CreateFileW(FromCp1251(path).c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(written) & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(written) >> 32);
    const bool set = SetFileTime(file, nullptr, nullptr, &time) != 0;
    CloseHandle(file);
    return set;
#else
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(written / 1000000000);
    times[1].tv_nsec = static_cast<long>(written % 1000000000);
    return utimensat(AT_FDCWD, Utf8FilePath(path).c_str(), times, 0) == 0;
#endif
}

bool SameFileContents(const std::string& a, const std::string& b) {
    FILE* fa = OpenForReading(FromCp1251(a));
    FILE* fb = fa ? OpenForReading(FromCp1251(b)) : nullptr;
    bool same = fa && fb;
    std::vector<char> bufferA(65536), bufferB(65536);
    while (same) {
        const size_t gotA = std::fread(bufferA.data(), 1, bufferA.size(), fa);
        const size_t gotB = std::fread(bufferB.data(), 1, bufferB.size(), fb);
        same = gotA == gotB && std::memcmp(bufferA.data(), bufferB.data(), gotA) == 0 && !std::ferror(fa) &&
               !std::ferror(fb);
        if (gotA == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

bool MakeNewFolder(const std::string& path, std::string* why) {
#ifdef _WIN32
    return CreateDirectoryW(Wide(path).c_str(), nullptr) || Fail(why);
#else
    return mkdir(Utf8FilePath(path).c_str(), 0777) == 0 || Fail(why);
#endif
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

bool RemoveEmptyFolder(const std::string& path) {
#ifdef _WIN32
    return RemoveDirectoryW(Wide(path).c_str()) != 0;
#else
    return rmdir(Utf8FilePath(path).c_str()) == 0;
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
    // An endless device (/dev/zero, a pipe left open) stops at the limit.
    while (bytes->size() <= kReadLimitBytes && (got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes->append(buffer, got);
    const bool complete = !std::ferror(f) && bytes->size() <= kReadLimitBytes;
    std::fclose(f);
    return complete;
}

bool IsOrdinaryFileOrNothingUtf8(const std::string& path) {
#ifdef _WIN32
    HANDLE file = CreateFileW(FromUtf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool disk = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                      !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    CloseHandle(file);
    return disk;
#else
    struct stat st;
    if (stat(FromUtf8(path).c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode);
#endif
}

bool ReplaceFileUtf8(const std::string& path, const std::string& bytes, std::string* why) {
    const NativePath given = FromUtf8(path);
    const NativePath resolved = ResolvedPath(given);
    // A folder that cannot be found fails at the write, with the system's words.
    return ReplaceWith(resolved.empty() ? given : resolved, bytes, why);
}

bool IsInFolderUtf8(const std::string& path, const std::string& folder) {
    const NativePath inner = ResolvedPath(FromUtf8(path));
    const NativePath outer = ResolvedPath(FromUtf8(folder));
    if (inner.empty() || outer.empty() || inner.size() < outer.size()) return false;
    if (!SamePath(inner.substr(0, outer.size()), outer)) return false;
    return inner.size() == outer.size() || inner[outer.size()] == kSeparator || outer.back() == kSeparator;
}

}  // namespace tq::viewer
