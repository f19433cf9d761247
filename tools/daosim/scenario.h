// Faults the stand-in injects, from a scenario file of lines (see README.md):
//
//     open-fails 3045 [part]   OpenDatabase fails (3045, 3051 or 3343), for names containing part
//     update-locked            Recordset.Update fails with 3260
//     delay Member ms          every call of Member takes that long first
//     vanish-after N           recordsets opened later fail once N rows were fetched
//     not-licensed             creation without the licence key fails
//     max-locks N              engines start with MaxLocksPerFile N (the registry's value)
//     commit-fails K           the Kth CommitTrans of the process fails with 3043, its changes lost
//     hresult-errors           failures come as the control's HRESULT with IErrorInfo, not DISP_E_EXCEPTION
//     # comment
//
// Portable: no Windows headers.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "tools/daosim/text.h"

namespace daosim {

class Scenario {
public:
    // Replaces the whole scenario with the text of a file (UTF-8).
    void Parse(const std::string& text);

    // The error OpenDatabase of this file name raises, or 0.
    int OpenFault(TextView name) const;
    bool updateLocked() const { return updateLocked_; }
    uint32_t DelayMs(const std::string& member) const;
    long vanishAfter() const { return vanishAfter_; }  // -1 when the file stays
    bool notLicensed() const { return notLicensed_; }
    long maxLocks() const { return maxLocks_; }          // 0: Jet's default
    bool hresultErrors() const { return hresultErrors_; }
    // Counts a CommitTrans; true for the one the scenario fails (counted
    // from when the scenario was read).
    bool CommitFails() const { return commitFails_ > 0 && ++commits_ == commitFails_; }

private:
    int openFault_ = 0;
    Text openFaultPart_;
    bool updateLocked_ = false;
    std::map<std::string, uint32_t> delays_;  // by lower-case member name
    long vanishAfter_ = -1;
    bool notLicensed_ = false;
    long maxLocks_ = 0;
    long commitFails_ = 0;
    mutable long commits_ = 0;
    bool hresultErrors_ = false;
};

}  // namespace daosim
