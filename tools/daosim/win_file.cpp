#include "tools/daosim/win_file.h"

namespace daosim {
namespace {

constexpr DWORD kWriteLockOffset = 0x7FFFFF00;
constexpr DWORD kPresenceLockOffset = 0x7FFFFF10;

OVERLAPPED At(uint64_t offset) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ov;
}

bool TryLock(HANDLE file, DWORD offset, bool exclusive) {
    OVERLAPPED ov = At(offset);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return LockFileEx(file, flags, 0, 1, 0, &ov);
}

void Unlock(HANDLE file, DWORD offset) {
    OVERLAPPED ov = At(offset);
    UnlockFileEx(file, 0, 1, 0, &ov);
}

}  // namespace

bool WinFile::Size(uint64_t* size) {
    LARGE_INTEGER n;
    if (!GetFileSizeEx(handle_.get(), &n)) return false;
    *size = static_cast<uint64_t>(n.QuadPart);
    return true;
}

bool WinFile::Read(uint64_t offset, void* data, size_t size) {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        const DWORD chunk = size > (1u << 24) ? (1u << 24) : static_cast<DWORD>(size);
        OVERLAPPED ov = At(offset);
        DWORD got = 0;
        if (!ReadFile(handle_.get(), bytes, chunk, &got, &ov) || got != chunk) return false;
        bytes += got;
        offset += got;
        size -= got;
    }
    return true;
}

bool WinFile::Write(uint64_t offset, const void* data, size_t size) {
    OVERLAPPED ov = At(offset);
    DWORD written = 0;
    return WriteFile(handle_.get(), data, static_cast<DWORD>(size), &written, &ov) && written == size;
}

bool WinFile::Truncate(uint64_t size) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(handle_.get(), to, nullptr, FILE_BEGIN) && SetEndOfFile(handle_.get());
}

bool WinFile::TryLockWrite() { return TryLock(handle_.get(), kWriteLockOffset, true); }
void WinFile::UnlockWrite() { Unlock(handle_.get(), kWriteLockOffset); }

WinFile::~WinFile() {
    if (ldbPath_.empty()) return;
    ldb_.reset();
    // The last user to close takes the lock file with it, as Jet does.
    if (TryPresence(true)) {
        DeleteFileW(ldbPath_.c_str());
        ReleasePresence();
    }
}

bool WinFile::TryPresence(bool exclusive) {
    if (presence_) return false;
    presence_ = TryLock(handle_.get(), kPresenceLockOffset, exclusive);
    return presence_;
}

void WinFile::ReleasePresence() {
    if (presence_) Unlock(handle_.get(), kPresenceLockOffset);
    presence_ = false;
}

}  // namespace daosim
