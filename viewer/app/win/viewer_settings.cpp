#include "viewer_settings.h"

#include <cwchar>

#include "common/win/user_settings.h"

namespace tq::viewer {

namespace {

const wchar_t kWindowSize[] = L"WindowSize";      // "width height maximized"
const wchar_t kColumnWidths[] = L"ColumnWidths";  // "caption\twidth" lines

}  // namespace

std::wstring LoadSettingText(const wchar_t* name) { return tq::win::LoadUserText(kViewerKey, name); }

void SaveSettingText(const wchar_t* name, const std::wstring& text) { tq::win::SaveUserText(kViewerKey, name, text); }

WindowSize LoadWindowSize() {
    WindowSize size;
    int maximized = 0;
    const std::wstring text = LoadSettingText(kWindowSize);
    if (swscanf(text.c_str(), L"%d %d %d", &size.width, &size.height, &maximized) != 3 || size.width <= 0 ||
        size.height <= 0 || size.width > 32767 || size.height > 32767)
        return WindowSize();
    size.maximized = maximized != 0;
    return size;
}

void SaveWindowSize(const WindowSize& size) {
    SaveSettingText(kWindowSize, std::to_wstring(size.width) + L" " + std::to_wstring(size.height) + L" " +
                                     (size.maximized ? L"1" : L"0"));
}

std::map<std::wstring, int> LoadColumnWidths() {
    std::map<std::wstring, int> widths;
    const std::wstring text = LoadSettingText(kColumnWidths);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(at, end - at);
        const size_t tab = line.rfind(L'\t');
        if (tab != std::wstring::npos && tab > 0) {
            const int width = _wtoi(line.c_str() + tab + 1);
            if (width > 0 && width < 10000) widths[line.substr(0, tab)] = width;
        }
        at = end + 1;
    }
    return widths;
}

void SaveColumnWidths(const std::map<std::wstring, int>& widths) {
    std::wstring text;
    for (const auto& [caption, width] : widths) text += caption + L"\t" + std::to_wstring(width) + L"\n";
    SaveSettingText(kColumnWidths, text);
}

}  // namespace tq::viewer
