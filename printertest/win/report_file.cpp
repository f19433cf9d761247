#include "report_file.h"

#include <shlobj.h>

#include "common/cp1251.h"
#include "common/win/file_version.h"
#include "common/win/module_path.h"
#include "printertest/core/status_text.h"

namespace tq::lmt {

using tq::Cp;
using tq::WideToCp1251;

bool ReportFile::Open(std::string* reason) {
    DWORD error = ERROR_PATH_NOT_FOUND;
    std::string tried;
    for (const auto& folder : folders_) {
        CreateDirectoryW(folder.c_str(), nullptr);  // it may be there already
        // A wizard started in the same second as another gets a name of its
        // own ("…-2.txt"), never another visit's file.
        std::wstring path;
        HANDLE file = INVALID_HANDLE_VALUE;
        for (int copy = 1; copy <= 99 && file == INVALID_HANDLE_VALUE; ++copy) {
            path = folder + L"\\" + NumberedName(copy);
            file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
        }
        if (file != INVALID_HANDLE_VALUE) {
            file_.reset(file);
            path_ = path;
            return true;
        }
        error = GetLastError();
        tried += (tried.empty() ? "" : "; ") + WideToCp1251(path);
    }
    *reason = Format(Cp("не удалось создать файл %s (ошибка %lu)"), tried.c_str(), error);
    return false;
}

std::wstring ReportFile::NumberedName(int copy) const {
    if (copy == 1) return name_;
    const size_t dot = name_.rfind(L'.');
    const std::wstring suffix = L"-" + std::to_wstring(copy);
    return dot == std::wstring::npos ? name_ + suffix : name_.substr(0, dot) + suffix + name_.substr(dot);
}

bool ReportFile::Append(const std::string& utf8, std::string* reason) {
    if (!file_ && !Open(reason)) return false;
    const LARGE_INTEGER atEnd{};
    DWORD written = 0;
    const BOOL ok = SetFilePointerEx(file_.get(), atEnd, nullptr, FILE_END) &&
                    WriteFile(file_.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) &&
                    written == utf8.size() && FlushFileBuffers(file_.get());
    if (ok) return true;
    *reason = Format(Cp("не удалось записать в файл %s (ошибка %lu)"), Path().c_str(), GetLastError());
    return false;
}

bool ReportFile::Rewrite(const std::string& utf8, std::string* reason) {
    if (!file_ && !Open(reason)) return false;
    const std::wstring fresh = path_ + L".new";
    DWORD error = 0;
    {
        tq::win::FileHandle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) ||
            written != utf8.size() || !FlushFileBuffers(file.get()))
            error = GetLastError();
    }
    if (error == 0) {
        // Our own handle lets others read only; the move needs it closed.
        file_.reset();
        if (!MoveFileExW(fresh.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            error = GetLastError();
        Reopen();
    }
    if (error == 0) return true;
    DeleteFileW(fresh.c_str());
    *reason = Format(Cp("не удалось записать файл %s (ошибка %lu)"), WideToCp1251(fresh).c_str(), error);
    return false;
}

// Later appends go to the end of the same file.
bool ReportFile::Reopen() {
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    file_.reset(file);
    return true;
}

std::string ReportFile::Path() const { return WideToCp1251(path_); }

std::vector<std::wstring> ReportFolders() {
    std::vector<std::wstring> folders;
    const std::wstring programFolder = tq::win::ModuleFolder();
    if (!programFolder.empty()) folders.push_back(programFolder + L"\\Reports");
    wchar_t path[MAX_PATH];
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path)))
        folders.push_back(std::wstring(path) + L"\\Reports");
    return folders;
}

LocalTime SystemWallClock::Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::string ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length)) return Cp("неизвестно");
    return WideToCp1251(std::wstring(name, length));
}

std::string ControlVersion(const wchar_t* clsid) {
    const std::wstring key = std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32";
    wchar_t path[MAX_PATH];
    DWORD size = sizeof path;
    // RRF_RT_REG_SZ takes a REG_EXPAND_SZ path too, expanded.
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS)
        return Cp("не зарегистрирован");
    DWORD ms = 0, ls = 0;
    if (!tq::win::ReadFileVersion(path, &ms, &ls)) return Cp("нет сведений о версии");
    return Format("%u.%u.%u.%u", unsigned{HIWORD(ms)}, unsigned{LOWORD(ms)}, unsigned{HIWORD(ls)},
                  unsigned{LOWORD(ls)});
}

}  // namespace tq::lmt
