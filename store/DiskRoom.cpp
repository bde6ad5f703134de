#include "store/DiskRoom.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>

#include "store/PageListLocation.h"
#include "store/StoreLimits.h"

namespace vantrel {
namespace {

uint64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

std::optional<uint64_t> FileSystemFreeBytes(const std::string& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
    // f_bavail: what a writer without root's reserve may still use.
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

std::string Megabytes(uint64_t bytes) {
    return std::to_string((bytes + 512 * 1024) / (1024 * 1024)) + " MB";
}

}  // namespace

DiskRoom::DiskRoom(const std::string& historyPath, FreeBytes freeBytes)
    : historyPath_(historyPath),
      freeBytes_(freeBytes ? std::move(freeBytes) : FreeBytes(FileSystemFreeBytes)) {
    folder_ = std::filesystem::path(historyPath).parent_path().string();
    if (folder_.empty()) folder_ = ".";
    listFile_ = (std::filesystem::path(folder_) / kPageListBaseName).string();
}

std::string DiskRoom::shortage() const {
    const std::optional<uint64_t> free = freeBytes_(folder_);
    // The list file grows with the list: its next save needs room for a new copy beside it.
    const uint64_t margin =
        std::max(limits::kMinFreeBytes, limits::kFreeBytesPerListByte * FileSize(listFile_));
    if (!free || *free >= margin) return {};
    return "History is paused: only " + Megabytes(*free) + " free on the disk of " + historyPath_ +
           "; it resumes when " + Megabytes(margin) + " are free.";
}

}  // namespace vantrel
