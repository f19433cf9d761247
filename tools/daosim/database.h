// One open database file. Page 0 is a Jet 4 signature page; after it the file
// is a log of changes (see table.h), appended under a write lock and replayed
// on open. Another process's commits are picked up by Refresh, which reads
// what was appended since. Changes inside a transaction stay in memory until
// Commit writes them as one frame; Rollback rebuilds the table from the file.
#pragma once
#include <cstdint>
#include <map>
#include <memory>

#include "common/clock.h"
#include "tools/daosim/sql.h"
#include "tools/daosim/table.h"

namespace daosim {

// The file under a database, with the two locks the processes share: the
// write lock (one writer at a time; a transaction holds it until it ends)
// and the presence lock (shared by every opener, exclusive when alone).
class File {
public:
    virtual ~File() = default;
    virtual bool Size(uint64_t* size) = 0;
    virtual bool Read(uint64_t offset, void* data, size_t size) = 0;  // all or nothing
    virtual bool Write(uint64_t offset, const void* data, size_t size) = 0;
    virtual bool Truncate(uint64_t size) = 0;
    virtual bool TryLockWrite() = 0;
    virtual void UnlockWrite() = 0;
    virtual bool TryPresence(bool exclusive) = 0;
    virtual void ReleasePresence() = 0;
};

constexpr uint32_t kPageSize = 4096;
// How long a writer waits for another process's write lock before giving up.
constexpr uint32_t kLockWaitMs = 600;
// The tables, dynasets and snapshots one transaction may open: a margin
// below the "about three hundred" Jet 2.0 was documented to take.
constexpr int kTablesPerTransaction = 250;

// Jet's sort order for text (DAO's CollatingOrderEnum): dbSortGeneral.
constexpr long kSortGeneral = 1033;

// The first page of a new file, with the collating order its locale gave.
std::vector<uint8_t> SignaturePage(long collatingOrder);

// What a DBEngine sets for every file it opens (DBEngine.SetOption).
struct EngineOptions {
    // Jet's MaxLocksPerFile: the page locks one transaction may hold on a
    // file, 9,500 unless raised. Every ten rows a transaction writes count as
    // one page here; past the limit a write fails with 3052.
    long maxLocksPerFile = 9500;
};

// Parameter values by folded name.
using Parameters = std::map<Text, Value>;

class Database {
public:
    Database(std::unique_ptr<File> file, bool readOnly, tq::Clock& clock);
    ~Database();

    // The engine's options, read at every write; defaults without.
    void SetOptions(const EngineOptions* options) { options_ = options; }

    // Writes page 0 of an empty file.
    static bool Initialise(File& file, long collatingOrder = kSortGeneral);
    // Checks the signature and replays the log. `exclusive` keeps others out.
    Error Open(bool exclusive, const Text& name);
    // Takes in what other processes appended since the last look.
    Error Refresh();

    // Ends a pending transaction without saving and lets go of the file.
    void Close();
    bool closed() const { return !file_; }
    bool readOnly() const { return readOnly_; }
    // As CreateDatabase's locale set it, kept in page 0.
    long collatingOrder() const { return collatingOrder_; }
    const Table& table() const { return table_; }

    Error Begin();
    Error Commit();
    Error Rollback();
    bool inTransaction() const { return inTransaction_; }
    // Jet keeps every table, dynaset or snapshot opened in a transaction
    // referenced until the transaction ends, closed or not, and past about
    // three hundred refuses the next with 3014. Called before each open.
    Error NoteTableOpened();

    Error Insert(const std::vector<Value>& values, uint32_t* id);
    Error Update(uint32_t id, const std::vector<Value>& values);
    Error Delete(uint32_t id);

    // The rows a SELECT (or a plain table name) yields, in order.
    Error Select(const Query& query, const Parameters& params, std::vector<uint32_t>* ids);
    Error Execute(const Query& query, const Parameters& params, long* affected);

private:
    Error Write(std::vector<Op> ops);
    Error CheckOps(const std::vector<Op>& ops) const;
    bool LockForWriting();
    bool Persist(const std::vector<Op>& ops);
    Error Reload();
    void CompactIfAlone();
    uint32_t Generation();
    Error Matching(const Query& query, const Parameters& params, std::vector<uint32_t>* ids);

    std::unique_ptr<File> file_;
    bool readOnly_;
    long collatingOrder_ = kSortGeneral;
    tq::Clock& clock_;
    Table table_;
    uint64_t readOffset_ = kPageSize;
    uint32_t generation_ = 0;
    bool writeLocked_ = false;
    bool inTransaction_ = false;
    int tablesOpened_ = 0;  // in this transaction
    std::vector<Op> pending_;
    const EngineOptions* options_ = nullptr;
};

}  // namespace daosim
