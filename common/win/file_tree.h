// Folders that tests and benchmarks make and remove whole.
#pragma once
#include <string>

namespace tq::win {

// A new folder under the system's temporary folder, named from prefix and
// the first number whose name no folder there has yet: a name that an
// earlier run left behind (Wine gives process ids out again) is passed by.
// Empty when none can be made.
std::wstring NewTempFolder(const std::wstring& prefix);

// Removes the folder and everything in it, read-only files included; false
// when something is left.
bool RemoveTree(const std::wstring& folder);

}  // namespace tq::win
