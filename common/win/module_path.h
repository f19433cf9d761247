// Where a program or library lies: the full path of a loaded module, of any
// length, and its folder.
#pragma once
#include <windows.h>

#include <string>

namespace tq::win {

// The full path of the module (nullptr: the program's own file); empty when
// the system cannot say. A path longer than MAX_PATH is read whole, never cut.
std::wstring ModulePath(HMODULE module = nullptr);

// The folder that holds the module, without a closing backslash; empty when
// its path cannot be read.
std::wstring ModuleFolder(HMODULE module = nullptr);

}  // namespace tq::win
