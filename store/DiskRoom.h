#pragma once
// Whether the history may write: it stops while the free space on its file system falls below a
// margin, so that the page list file beside it can always be saved. The free-space query can be
// replaced, so the rule can be tried without filling a disk.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vantrel {

class DiskRoom {
  public:
    // The free bytes of the file system that holds `folder`; nullopt when unknown.
    using FreeBytes = std::function<std::optional<uint64_t>(const std::string& folder)>;

    // `historyPath`: the history file; the page list file is beside it. An empty `freeBytes`
    // asks the file system.
    explicit DiskRoom(const std::string& historyPath, FreeBytes freeBytes = {});

    // Empty while there is room; otherwise the line that says why the history pauses.
    std::string shortage() const;

  private:
    std::string folder_;
    std::string listFile_;
    std::string historyPath_;
    FreeBytes freeBytes_;
};

}  // namespace vantrel
