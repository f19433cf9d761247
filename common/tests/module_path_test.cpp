// The path of a loaded module, under Wine.
#include "common/win/module_path.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

namespace tq::win {
namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

TEST(ModulePath, IsTheProgramsOrALibrarysWholePath) {
    const std::wstring program = ModulePath();
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(Lower(program.substr(program.size() - 4)), L".exe");
    EXPECT_NE(GetFileAttributesW(program.c_str()), INVALID_FILE_ATTRIBUTES) << "the path names the file itself";
    EXPECT_EQ(ModuleFolder() + L"\\" + program.substr(program.find_last_of(L'\\') + 1), program);

    const std::wstring kernel = Lower(ModulePath(GetModuleHandleW(L"kernel32.dll")));
    EXPECT_EQ(kernel.substr(kernel.find_last_of(L'\\') + 1), L"kernel32.dll");
}

TEST(ModulePath, IsEmptyForAModuleThatIsNotLoaded) {
    HMODULE notLoaded = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10));
    EXPECT_EQ(ModulePath(notLoaded), L"");
    EXPECT_EQ(ModuleFolder(notLoaded), L"");
}

}  // namespace
}  // namespace tq::win
