#include "store/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

namespace vantrel {
namespace {

// Closes the descriptor and removes the temporary file unless the rename succeeded.
class TempFile {
  public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        closeFd();
        if (!name_.empty()) ::unlink(name_.c_str());
    }

    bool create(const std::string& dir, const std::string& base, mode_t createMode) {
        static uint64_t counter = 0;
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const uint64_t tag =
                (static_cast<uint64_t>(random()) << 32) ^ (++counter) ^ static_cast<uint64_t>(::getpid());
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(tag));
            std::string name = dir + "/." + base + suffix;
            fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, createMode);
            if (fd_ >= 0) {
                name_ = std::move(name);
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }

    bool closeFd() {
        if (fd_ < 0) return true;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }
    // The file now lives under its final name.
    void release() { name_.clear(); }

  private:
    int fd_ = -1;
    std::string name_;
};

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

void SyncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

FileRead ReadWholeFile(const std::string& path, int64_t maxBytes) {
    FileRead result;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG;
        result.outcome = missing ? FileRead::Outcome::Missing : FileRead::Outcome::Unreadable;
        return result;
    }
    result.outcome = FileRead::Outcome::Unreadable;
    if (!S_ISREG(info.st_mode) || info.st_size > maxBytes) return result;
    // Non-blocking, so that a FIFO put in the file's place between stat and open cannot hang us.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return result;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return result;
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(std::min<int64_t>(info.st_size, maxBytes)));
    char buffer[65536];
    bool failed = false;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) failed = true;
        if (got <= 0) break;
        bytes.append(buffer, static_cast<size_t>(got));
        // The file may have grown since stat.
        if (static_cast<int64_t>(bytes.size()) > maxBytes) {
            failed = true;
            break;
        }
    }
    ::close(fd);
    if (failed) return result;
    result.outcome = FileRead::Outcome::Read;
    result.bytes = std::move(bytes);
    result.mode = info.st_mode & 07777;
    result.owner = info.st_uid;
    result.group = info.st_gid;
    return result;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, const ReplaceOptions& options) {
    const std::filesystem::path target(path);
    const std::string dir = target.has_parent_path() ? target.parent_path().string() : std::string(1, '.');
    const std::string base = target.filename().string();
    if (base.empty()) return false;

    TempFile temp;
    if (!temp.create(dir, base, options.keepUmaskMode ? 0666 : 0600)) return false;
    if (options.owner || options.group) {
        // Keeps the owner when an administrator saves someone else's file; only root may.
        [[maybe_unused]] int ignored = ::fchown(temp.fd(), options.owner.value_or(static_cast<uid_t>(-1)),
                                                options.group.value_or(static_cast<gid_t>(-1)));
    }
    if (!options.keepUmaskMode && ::fchmod(temp.fd(), options.mode) != 0) return false;
    if (!WriteAll(temp.fd(), bytes)) return false;
    if (::fsync(temp.fd()) != 0) return false;
    if (!temp.closeFd()) return false;
    if (::rename(temp.name().c_str(), path.c_str()) != 0) return false;
    temp.release();
    SyncDirectory(dir);
    return true;
}

}  // namespace vantrel
