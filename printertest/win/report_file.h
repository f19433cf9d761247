// The service report's file and what its header names, from the system.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "common/win/handle.h"
#include "printertest/core/service_report.h"

namespace tq::lmt {

// Appends the report to <folder>\<name>, in the first of the folders where
// the file can be made. Every append is flushed to the disk before it
// returns, so a crash loses at most the check being written.
class ReportFile : public ReportSink {
public:
    ReportFile(std::vector<std::wstring> folders, std::wstring name)
        : folders_(std::move(folders)), name_(std::move(name)) {}

    bool Append(const std::string& utf8, std::string* reason) override;
    // Writes <file>.new and moves it over the file, so that the report is
    // the old text or the new one, never half of each.
    bool Rewrite(const std::string& utf8, std::string* reason) override;
    std::string Path() const override;

private:
    bool Open(std::string* reason);
    bool Reopen();
    std::wstring NumberedName(int copy) const;

    std::vector<std::wstring> folders_;
    std::wstring name_;
    std::wstring path_;
    tq::win::FileHandle file_;
};

// "Reports" beside the program, then "Reports" in the user's documents.
std::vector<std::wstring> ReportFolders();

class SystemWallClock : public WallClock {
public:
    LocalTime Now() override;
};

std::string ComputerName();
// The file version of the DLL registered for the control's CLSID, or a word
// saying why there is none.
std::string ControlVersion(const wchar_t* clsid);

}  // namespace tq::lmt
