#pragma once
// A fresh temporary directory, removed with everything in it when the object goes.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

namespace vantrel::test {

class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "vantrel-test") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
        // Reachable by another user: the unprivileged child of a store test, nginx's worker.
        ::chmod(path_.c_str(), 0755);
    }
    ~TempDir() {
        // A daemon a test started may still be removing its files: every step takes the error
        // code, as the range loop's increments would throw.
        std::error_code error;
        std::filesystem::recursive_directory_iterator entry(path_, error);
        for (; !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
            ::chmod(entry->path().c_str(), 0755);
        }
        std::filesystem::remove_all(path_, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // The names in the directory, to prove that no temporary file was left behind.
    std::set<std::string> names() const {
        std::set<std::string> result;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            result.insert(entry.path().filename().string());
        }
        return result;
    }

  private:
    std::string path_;
};

}  // namespace vantrel::test
