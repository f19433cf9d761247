// An in-memory database file shared by several openers, standing in for
// one file opened by several processes.
#pragma once
#include <cstring>
#include <memory>

#include "tools/daosim/database.h"

namespace daosim {

struct SharedDisk {
    std::vector<uint8_t> bytes;
    void* writer = nullptr;  // who holds the write lock
    int sharedPresence = 0;
    bool exclusivePresence = false;
};

class FakeFile : public File {
public:
    explicit FakeFile(std::shared_ptr<SharedDisk> disk) : disk_(std::move(disk)) {}
    bool Size(uint64_t* size) override {
        *size = disk_->bytes.size();
        return true;
    }
    bool Read(uint64_t offset, void* data, size_t size) override {
        if (offset + size > disk_->bytes.size()) return false;
        std::memcpy(data, disk_->bytes.data() + offset, size);
        return true;
    }
    bool Write(uint64_t offset, const void* data, size_t size) override {
        if (disk_->bytes.size() < offset + size) disk_->bytes.resize(offset + size);
        std::memcpy(disk_->bytes.data() + offset, data, size);
        return true;
    }
    bool Truncate(uint64_t size) override {
        disk_->bytes.resize(size);
        return true;
    }
    bool TryLockWrite() override {
        if (disk_->writer && disk_->writer != this) return false;
        disk_->writer = this;
        return true;
    }
    void UnlockWrite() override {
        if (disk_->writer == this) disk_->writer = nullptr;
    }
    bool TryPresence(bool exclusive) override {
        if (disk_->exclusivePresence || (exclusive && disk_->sharedPresence > 0)) return false;
        (exclusive ? held_exclusive_ : held_shared_) = true;
        if (exclusive)
            disk_->exclusivePresence = true;
        else
            ++disk_->sharedPresence;
        return true;
    }
    void ReleasePresence() override {
        if (held_exclusive_) disk_->exclusivePresence = false;
        if (held_shared_) --disk_->sharedPresence;
        held_exclusive_ = held_shared_ = false;
    }

private:
    std::shared_ptr<SharedDisk> disk_;
    bool held_exclusive_ = false, held_shared_ = false;
};

}  // namespace daosim
