// The scale's folder as the system holds it: the current folder, the
// engineer's last choice in the registry, the folder browser.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "../scale_folder.h"
#include "common/cp1251.h"
#include "common/win/handle.h"
#include "viewer_settings.h"
#include "viewer_windows.h"

namespace tq::viewer {

namespace {

const wchar_t kScaleFolder[] = L"ScaleFolder";

class SystemFolders : public FolderView {
public:
    std::string CurrentFolder() override { return tq::WideToUtf8(tq::viewer::CurrentFolder()); }
    bool HoldsInternal(const std::string& folder) override {
        const DWORD attributes = GetFileAttributesW((tq::Utf8ToWide(folder) + L"\\Internal").c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool Enter(const std::string& folder) override { return SetCurrentDirectoryW(tq::Utf8ToWide(folder).c_str()) != 0; }
    std::string RememberedFolder() override { return tq::WideToUtf8(LoadSettingText(kScaleFolder)); }
    // A failure only costs the engineer the choice next time.
    void RememberFolder(const std::string& folder) override {
        SaveSettingText(kScaleFolder, tq::Utf8ToWide(folder));
    }
    bool AskFolder(const std::string& prompt, std::string* folder) override {
        const std::wstring title = tq::Utf8ToWide(prompt);
        BROWSEINFOW info = {};
        info.lpszTitle = title.c_str();
        info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
        if (!chosen) return false;
        wchar_t path[MAX_PATH] = {};
        const bool named = SHGetPathFromIDListW(chosen, path) != 0;
        CoTaskMemFree(chosen);
        if (named) *folder = tq::WideToUtf8(path);
        return named;
    }
    void Error(const std::string& text) override {
        MessageBoxW(nullptr, tq::Utf8ToWide(text).c_str(), L"TQScaleDBViewer", MB_OK | MB_ICONSTOP);
    }
};

}  // namespace

std::wstring CurrentFolder() {
    wchar_t folder[MAX_PATH * 2];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH * 2, folder);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(folder, length) : std::wstring();
}

void EnterScaleFolderFromCommandLine() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::string argument = args && count > 1 ? tq::WideToUtf8(args[1]) : std::string();
    if (args) LocalFree(args);
    // The folder browser's new style needs COM in this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SystemFolders folders;
    EnterScaleFolder(folders, argument);
    if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace tq::viewer
