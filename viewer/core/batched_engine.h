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

    // A commit of the batch reports a group of it lost on the way.
    bool CommitTrans() override {
        if (whole_) return true;
        const bool lostBefore = lostInBatch_;
        lostInBatch_ = false;
        if (!inTrans_) return !lostBefore;
        inTrans_ = false;
        if (file_.StillThere() && FinishTransaction()) return !lostBefore;
        AbandonTransaction();
        return false;
    }

    bool BeginWholeTrans() override {
        if (inTrans_ || !CanWrite() || !StartTransaction()) return false;
        inTrans_ = true;
        whole_ = true;
        lost_ = false;
        lostWhy_.clear();
        return true;
    }

    bool EndWholeTrans(bool keep) override {
        if (!whole_) return false;
        whole_ = false;
        if (keep && !lost_) return CommitTrans();
        inTrans_ = false;
        AbandonTransaction();
        return !keep;
    }

    // Within a run of writes a look stands for a tenth of a second; what an
    // engineer asks for looks again (LookAgain), and a commit always does.
    bool StillAtPath() override { return inTrans_ || file_.StillThereLately(); }
    void LookAgain() override { file_.LookAgain(); }

    // Every write passes here first: nothing goes into a file that cannot be
    // written or is no longer at its path, nor into a whole transaction that
    // the engine lost.
    virtual bool ReadyToWrite() = 0;
    // The same check without setting the file up for writing.
    virtual bool CanWrite() = 0;

    // Each failed write reports itself: inside a whole transaction it may
    // have cost the transaction (TransactionLost), and then nothing more may
    // be written, lest the later writes commit one by one.
    void NoteFailedWrite() {
        if (!whole_ || lost_ || !TransactionLost()) return;
        lostWhy_ = LastError();
        lost_ = true;
    }

    // Each write reports itself, so that a long batch commits now and then.
    // A group whose commit fails is lost (up to a thousand writes): that is
    // remembered for the batch's last commit to report; the rest of the
    // batch goes on.
    void NoteWrite() {
        if (!inTrans_ || whole_ || ++writesInTrans_ < kWritesPerTransaction) return;
        if (!CommitTrans()) lostInBatch_ = true;
        BeginTrans();
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
    // Whether the engine ended the open transaction by itself.
    virtual bool TransactionLost() { return false; }
    // Why the whole transaction was lost; empty while it is not.
    const std::string& LostWhy() const { return lostWhy_; }
    bool WritesRefused() const { return whole_ && lost_; }

    FileAtPath file_;
    bool inTrans_ = false;
    bool whole_ = false;

private:
    static constexpr long kWritesPerTransaction = 1000;
    long writesInTrans_ = 0;
    bool lostInBatch_ = false;
    bool lost_ = false;
    std::string lostWhy_;
};

}  // namespace tq::viewer
