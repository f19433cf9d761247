// Database paths are code page 1251 texts with Windows separators, relative
// to the current directory. These helpers take them to the file system.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tq::viewer {

// The path as UTF-8 for SQLite; on POSIX hosts backslashes become slashes.
std::string Utf8FilePath(const std::string& path);
bool CanOpenForReading(const std::string& path);
// Whether the file is on a disk fixed in this Windows machine (not removable,
// not a network share, not a CD); false off Windows.
bool IsOnFixedDisk(const std::string& path);
// Reads up to size bytes from the start of the file; returns how many were read.
size_t ReadFileHead(const std::string& path, char* buffer, size_t size);

// Files the engineer names (CSV files) are reached by UTF-8 paths instead, so
// that a name keeps the characters code page 1251 lacks. Backslashes separate
// folders here too.
size_t ReadFileHeadUtf8(const std::string& path, char* buffer, size_t size);
// The whole file; false when it cannot be opened or read to its end, or is
// larger than kReadLimitBytes (no CSV of the scale's comes near it; the
// limit keeps an endless device from filling the memory).
constexpr size_t kReadLimitBytes = 256u << 20;
bool ReadWholeFileUtf8(const std::string& path, std::string* bytes);
// Whether the path names an ordinary file on a disk, or nothing yet: not a
// folder, a device (/dev/null, NUL, COM1), a pipe or a FIFO, which a file
// written over it would replace or which would block the reader. Links are
// followed. Nothing is opened for reading or writing.
bool IsOrdinaryFileOrNothingUtf8(const std::string& path);
// Writes bytes as the whole file: into a new file in the same folder, which
// then takes the path's place in one step, so that no one ever sees half a
// file. False, with the system's text in *why (code page 1251), when any of
// it could not be written (a full disk, a read-only file or folder); then the
// file at the path is as it was and nothing is left beside it. A path that
// is a link is followed: the file it leads to is the one replaced.
bool ReplaceFileUtf8(const std::string& path, const std::string& bytes, std::string* why);
// Whether the path names the folder or anything inside it, by the paths the
// system resolves from the current folder: "..", links and, on Windows, short
// names and letter case do not tell them apart. False when either cannot be
// found (a file not made yet counts by its folder).
bool IsInFolderUtf8(const std::string& path, const std::string& folder);

// File and folder operations for the backups. Each that can fail puts the
// system's own text for the failure, in code page 1251, into *why.
// The folder exists afterwards (made when missing); false when it cannot be
// made or a file stands in its place.
bool MakeFolder(const std::string& path, std::string* why);
// Makes a folder; fails when anything exists at the path.
bool MakeNewFolder(const std::string& path, std::string* why);
// Makes an empty file; fails when anything exists at the path.
bool CreateNewFile(const std::string& path, std::string* why);
// Copies a file over an existing one (the placeholder CreateNewFile made).
bool CopyFileOver(const std::string& from, const std::string& to, std::string* why);
// Renames, refusing to replace a file at the new path.
bool RenameNoReplace(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);
// Removes a folder only when nothing is left in it.
bool RemoveEmptyFolder(const std::string& path);
// The names of the files (not folders) in a folder.
std::vector<std::string> FilesInFolder(const std::string& folder);
// The folder part of a path, without its separator; empty for a bare name.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);
// folder and name joined with the system's separator (a backslash on Windows,
// a slash elsewhere, where the path's own backslashes become slashes too).
std::string JoinPath(const std::string& folder, const std::string& name);

// What tells one file from another at the same path: its volume and its
// number there. A file removed and another put in its place differ, however
// alike their names, sizes and times; and while a database keeps the old file
// open, the new one cannot be given the old one's number.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity& other) const { return volume == other.volume && index == other.index; }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};
// False when there is no file at the path.
bool GetFileIdentity(const std::string& path, FileIdentity* identity);

// A file as it stands: which file it is, its size and when it was last
// written. Another program that removed, replaced, linked over, cut short or
// wrote into the file has changed one of them.
struct FileState {
    FileIdentity identity;
    uint64_t size = 0;
    int64_t written = 0;  // the system's own units
    bool operator==(const FileState& other) const {
        return identity == other.identity && size == other.size && written == other.written;
    }
    bool operator!=(const FileState& other) const { return !(*this == other); }
};
bool GetFileState(const std::string& path, FileState* state);
// FileState::written a second later.
#ifdef _WIN32
constexpr int64_t kWrittenPerSecond = 10000000;  // FILETIME counts 100 ns
#else
constexpr int64_t kWrittenPerSecond = 1000000000;
#endif
// Sets when a file was last written, in FileState's units.
bool SetFileWritten(const std::string& path, int64_t written);
// Whether two files hold the same bytes; false when either cannot be read.
bool SameFileContents(const std::string& a, const std::string& b);

// The file an engine opened, to ask later whether it is still the one at its
// path. An engine keeps the file open, so the answer cannot be fooled by a new
// file given the old one's number.
class FileAtPath {
public:
    // False when there is no file at the path.
    bool Remember(const std::string& path) {
        path_ = path;
        return GetFileIdentity(path, &identity_);
    }
    bool StillThere() const {
        FileIdentity now;
        return GetFileIdentity(path_, &now) && now == identity_;
    }
    // The same, with a look standing for a tenth of a second. A look opens
    // the file anew: a long run of saves would pay a system call for each
    // (Wine even keeps every such handle's descriptor while the database
    // holds its locks on the file, until it runs out of them).
    bool StillThereLately() {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastLook_ < std::chrono::milliseconds(100)) return true;
        if (!StillThere()) return false;
        lastLook_ = now;
        return true;
    }
    // The next look is made, however recent the last.
    void LookAgain() { lastLook_ = {}; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    FileIdentity identity_;
    std::chrono::steady_clock::time_point lastLook_{};
};

}  // namespace tq::viewer
