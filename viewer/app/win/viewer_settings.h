// What the viewer remembers for the engineer between runs, under
// HKEY_CURRENT_USER: the scale's folder last chosen, the main window's size
// and the list's column widths. A value that cannot be read is as if never
// written; one that cannot be written is forgotten.
#pragma once
#include <windows.h>

#include <map>
#include <string>

namespace tq::viewer {

inline constexpr wchar_t kViewerKey[] = L"Software\\Norvell\\TQScaleDBViewer";

std::wstring LoadSettingText(const wchar_t* name);
void SaveSettingText(const wchar_t* name, const std::wstring& text);

struct WindowSize {
    int width = 0, height = 0;  // of the restored window; 0 when none is kept
    bool maximized = false;
};
WindowSize LoadWindowSize();
void SaveWindowSize(const WindowSize& size);

// Column widths by the column's caption, so that a column shared by several
// databases ("Код") keeps one width.
std::map<std::wstring, int> LoadColumnWidths();
void SaveColumnWidths(const std::map<std::wstring, int>& widths);

}  // namespace tq::viewer
