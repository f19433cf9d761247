// The Win32 side of the viewer's three dialogs.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "../message_kind.h"

namespace tq::viewer {

void RunViewerMainDialog(HINSTANCE instance);
// Makes the scale's folder current (scale_folder.h): the command line's
// first argument, the current folder, the remembered one or a chosen one.
void EnterScaleFolderFromCommandLine();
// The current folder, the scale's once EnterScaleFolderFromCommandLine made it
// so; empty when it cannot be read.
std::wstring CurrentFolder();
// newRecord: the editor on an empty record whose code is typed in.
void RunEditRecordDialog(HINSTANCE instance, HWND parent, int database, int32_t code, bool newRecord = false);
// The generator dialog: the number of records asked for, none when not confirmed.
std::optional<int32_t> RunCreateTestDbDialog(HINSTANCE instance, HWND parent);

// A message box captioned "TQScaleDBViewer"; true when the answer was Yes.
bool ViewerMessage(HWND owner, const std::string& text, MessageKind kind);
// The backups of a database, one a line (code page 1251), the first
// selected; false when cancelled, else *chosen is the line chosen.
bool RunChooseBackupDialog(HINSTANCE instance, HWND parent, const std::vector<std::string>& lines, int* chosen);
// The find box, offering *text; false when cancelled.
bool RunFindDialog(HINSTANCE instance, HWND parent, std::string* text);

}  // namespace tq::viewer
