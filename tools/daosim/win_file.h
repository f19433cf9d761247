// A database file on disk for the stand-in, with its locks taken by
// LockFileEx on bytes past any real end of file, so that they guard no data
// and every process that opens the file sees them.
#pragma once
#include <windows.h>

#include <string>

#include "common/win/handle.h"
#include "tools/daosim/database.h"

namespace daosim {

class WinFile : public File {
public:
    explicit WinFile(tq::win::FileHandle handle) : handle_(std::move(handle)) {}
    ~WinFile() override;
    // The lock file a shared open keeps beside the database (ldb), held
    // while this file is open and removed by the last user to close.
    void KeepLockFile(tq::win::FileHandle ldb, std::wstring path) {
        ldb_ = std::move(ldb);
        ldbPath_ = std::move(path);
    }
    bool Size(uint64_t* size) override;
    bool Read(uint64_t offset, void* data, size_t size) override;
    bool Write(uint64_t offset, const void* data, size_t size) override;
    bool Truncate(uint64_t size) override;
    bool TryLockWrite() override;
    void UnlockWrite() override;
    bool TryPresence(bool exclusive) override;
    void ReleasePresence() override;

private:
    tq::win::FileHandle handle_;
    bool presence_ = false;
    tq::win::FileHandle ldb_;
    std::wstring ldbPath_;
};

// The clock the stand-in waits on for another process's lock.
class SleepClock : public tq::Clock {
public:
    uint32_t NowMs() override { return GetTickCount(); }
    void SleepMs(uint32_t ms) override { Sleep(ms); }
};

}  // namespace daosim
