// The Win32 side of the viewer's three dialogs.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "../message_kind.h"

namespace tq::viewer {

void RunViewerMainDialog(HINSTANCE instance);
void RunEditRecordDialog(HINSTANCE instance, HWND parent, int database, int32_t code);
// The generator dialog; it posts WM_CREATE_TEST_DB to `parent`, the main dialog.
void RunCreateTestDbDialog(HINSTANCE instance, HWND parent);

// A message box captioned "TQScaleDBViewer"; true when the answer was Yes.
bool ViewerMessage(HWND owner, const std::string& text, MessageKind kind);
// The find box, offering *text; false when cancelled.
bool RunFindDialog(HINSTANCE instance, HWND parent, std::string* text);

}  // namespace tq::viewer
