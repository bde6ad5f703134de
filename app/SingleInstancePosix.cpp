// POSIX backend of SingleInstance: an exclusive, non-blocking flock on a lock file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/SingleInstance.h"

namespace vantrel {

namespace {

int openLockFile(const std::string& path) {
    // O_CLOEXEC: a browser started from the program must not inherit the lock and keep it after
    // the program ends. O_NOFOLLOW: a link planted under the shared /tmp name is not followed.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    // A file of that name owned by another user is not ours: whoever holds it must not be able to
    // keep the program from starting.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::getuid() || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::string SingleInstance::lockPath(const std::string& title) {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir != nullptr && runtimeDir[0] == '/') {
        std::string path(runtimeDir);
        if (path.back() != '/') path += '/';
        return path + title + ".lock";
    }
    return "/tmp/" + title + "-" + std::to_string(::getuid()) + ".lock";
}

SingleInstance::SingleInstance(const std::string& title) {
    handle_ = openLockFile(lockPath(title));
    if (handle_ < 0) return;
    int rc;
    do {
        rc = ::flock(handle_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return;
    if (errno == EWOULDBLOCK) first_ = false;
    ::close(handle_);
    handle_ = -1;
}

SingleInstance::~SingleInstance() {
    if (handle_ >= 0) ::close(handle_);
}

}  // namespace vantrel
