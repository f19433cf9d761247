// What the engines share about transactions and the file they opened. A
// batch (BeginTrans .. CommitTrans) groups a long run of writes into
// transactions of a thousand, so that other programs get their turn; its
// commit is refused, and the batch rolled back, once the file is no longer
// the one at its path.
#pragma once
#include "engine.h"
#include "file_path.h"

namespace tq::viewer {

class BatchedEngine : public DbEngine {
public:
    bool BeginTrans() override {
        if (inTrans_) return true;
        if (!ReadyToWrite() || !StartTransaction()) return false;
        inTrans_ = true;
        writesInTrans_ = 0;
        return true;
    }

    bool CommitTrans() override {
        if (!inTrans_ || whole_) return true;
        inTrans_ = false;
        if (file_.StillThere() && FinishTransaction()) return true;
        AbandonTransaction();
        return false;
    }

    bool BeginWholeTrans() override {
        if (inTrans_ || !BeginTrans()) return false;
        whole_ = true;
        return true;
    }

    bool EndWholeTrans(bool keep) override {
        if (!whole_) return false;
        whole_ = false;
        if (keep) return CommitTrans();
        inTrans_ = false;
        AbandonTransaction();
        return true;
    }

    // Within a run of writes a look stands for a tenth of a second; what an
    // engineer asks for looks again (LookAgain), and a commit always does.
    bool StillAtPath() override { return inTrans_ || file_.StillThereLately(); }
    void LookAgain() override { file_.LookAgain(); }

    // Every write passes here first: nothing goes into a file that cannot be
    // written or is no longer at its path.
    virtual bool ReadyToWrite() = 0;

    // The copy's rows are read and written in place of these, in one
    // transaction, rolled back whole when any write fails; an engine that
    // can replace the pages whole does better.
    bool RestoreFrom(const std::string& from) override;

    // Each write reports itself, so that a long batch commits now and then.
    void NoteWrite() {
        if (!inTrans_ || whole_ || ++writesInTrans_ < kWritesPerTransaction) return;
        if (CommitTrans()) BeginTrans();
    }

protected:
    // Before the file is closed: a batch is committed, a whole transaction
    // that was never ended is not kept.
    void EndTransactionsForClose() {
        if (whole_) EndWholeTrans(false);
        CommitTrans();
    }

    virtual bool StartTransaction() = 0;
    virtual bool FinishTransaction() = 0;
    virtual void AbandonTransaction() = 0;

    FileAtPath file_;
    bool inTrans_ = false;
    bool whole_ = false;

private:
    static constexpr long kWritesPerTransaction = 1000;
    long writesInTrans_ = 0;
};

}  // namespace tq::viewer
