// A folder of its own under the system's temporary folder for one test,
// removed with everything in it (read-only entries included) when the test
// ends.
#pragma once
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace tq::viewer::test {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix) {
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() / (prefix + std::to_string(random()));
        std::filesystem::create_directories(path_);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        namespace fs = std::filesystem;
        std::error_code ignored;
        fs::permissions(path_, fs::perms::all, fs::perm_options::add, ignored);
        for (const auto& entry : fs::directory_iterator(path_, ignored))
            fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add, ignored);
        fs::remove_all(path_, ignored);
    }

    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

}  // namespace tq::viewer::test
