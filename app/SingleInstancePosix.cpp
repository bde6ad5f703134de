// POSIX backend of SingleInstance: an exclusive, non-blocking flock on a lock file, and a
// listening abstract-namespace Unix socket (Linux).
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "app/AbstractAddress.h"
#include "app/SingleInstance.h"

namespace vantrel {

namespace {

// A listener that is bound but not listening yet, or whose queue is full for a moment, cannot
// tell who it is: ask again a few times before giving up.
constexpr int kProbeAttempts = 5;
constexpr useconds_t kProbePauseUs = 20000;

enum class Guard { Taken, HeldByUs, Unusable };

std::string describeErrno(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Makes `folder` (and its parent) a folder of this user's alone, mode 0700, so that no other user
// can plant or hold the lock file in it. False with `why` set when it cannot be.
bool prepareLockFolder(const std::string& folder, std::string& why) {
    const std::string parent = folder.substr(0, folder.rfind('/'));
    for (const std::string& path : {parent, folder}) {
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            why = describeErrno("cannot create the folder " + path, errno);
            return false;
        }
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
        why = "the folder " + folder + " is not a folder of this user";
        return false;
    }
    if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        why = describeErrno("cannot make the folder " + folder + " private", errno);
        return false;
    }
    return true;
}

// Opens the lock file; -1 with `why` set when it cannot be used safely.
int openLockFile(const std::string& path, std::string& why) {
    if (path.empty()) {
        why = "user " + std::to_string(::getuid()) + " has no home folder for the lock file";
        return -1;
    }
    if (!prepareLockFolder(path.substr(0, path.rfind('/')), why)) return -1;
    // O_CLOEXEC: a browser started from the program must not inherit the lock and keep it after
    // the program ends. O_NOFOLLOW: a link planted there (by this user) is not followed.
    // O_NONBLOCK: a FIFO or a device planted there cannot hold up the open.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        why = describeErrno("cannot open the lock file " + path, errno);
        return -1;
    }
    // A file of that name owned by another user is not ours: whoever holds it must not be able to
    // keep the program from starting.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::getuid() || !S_ISREG(info.st_mode)) {
        ::close(fd);
        why = "the lock file " + path + " is not a regular file of this user";
        return -1;
    }
    return fd;
}

Guard takeLockFile(const std::string& path, int& fd, std::string& why) {
    fd = openLockFile(path, why);
    if (fd < 0) return Guard::Unusable;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return Guard::Taken;
    const int error = errno;
    closeFd(fd);
    if (error == EWOULDBLOCK) return Guard::HeldByUs;
    why = describeErrno("cannot lock " + path, error);
    return Guard::Unusable;
}

// Connects to the listener of `address` and returns the user id it runs as, or -1 when it could
// not be asked (bound but not listening, its queue full, gone meanwhile).
long listenerUid(const sockaddr_un& address, socklen_t size) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0) return -1;
    long uid = -1;
    if (::connect(probe, reinterpret_cast<const sockaddr*>(&address), size) == 0) {
        // The kernel records the listener's credentials at listen() and hands them to every
        // client at connect(): they cannot be faked by the other side.
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (::getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0)
            uid = static_cast<long>(credentials.uid);
    }
    ::close(probe);
    return uid;
}

Guard takeSocket(const std::string& name, int& fd, std::string& why) {
    sockaddr_un address;
    const socklen_t size = AbstractAddress(name, address);
    const std::string shownName = "@" + name;
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        if (attempt > 0) ::usleep(kProbePauseUs);
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            why = describeErrno("cannot create the socket " + shownName, errno);
            return Guard::Unusable;
        }
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) {
            if (::listen(fd, 16) == 0) return Guard::Taken;
            why = describeErrno("cannot listen on " + shownName, errno);
            closeFd(fd);
            return Guard::Unusable;
        }
        const int error = errno;
        closeFd(fd);
        if (error != EADDRINUSE) {
            why = describeErrno("cannot bind " + shownName, error);
            return Guard::Unusable;
        }
        const long uid = listenerUid(address, size);
        if (uid == static_cast<long>(::geteuid())) return Guard::HeldByUs;
        if (uid >= 0) {
            why = "the socket " + shownName + " is held by user " + std::to_string(uid);
            return Guard::Unusable;
        }
    }
    why = "the socket " + shownName + " is bound by a process that does not answer";
    return Guard::Unusable;
}

// Accepts and drops the probes of later starts, so that they never fill the listener's queue.
void answerProbes(int listener, int wake) {
    pollfd watched[2] = {{listener, POLLIN, 0}, {wake, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[1].revents != 0) return;
        if (watched[0].revents & (POLLERR | POLLNVAL)) return;
        const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client >= 0) ::close(client);
    }
}

}  // namespace

std::string SingleInstance::lockFolder() {
    // The home folder recorded for the user id, not $HOME: a cron job, an ssh session and a
    // desktop session of one user must all find the same lock.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        return {};
    }
    std::string home(found->pw_dir);
    if (home.back() != '/') home += '/';
    return home + ".cache/vantrel";
}

std::string SingleInstance::lockPath(const std::string& title) {
    const std::string folder = lockFolder();
    return folder.empty() ? std::string() : folder + "/" + title + ".lock";
}

std::string SingleInstance::socketName(const std::string& title) {
    return title + "-" + std::to_string(::getuid());
}

SingleInstance::SingleInstance(const std::string& title) {
    std::string lockWhy;
    const Guard lock = takeLockFile(lockPath(title), lockFd_, lockWhy);
    if (lock == Guard::HeldByUs) {
        outcome_ = Outcome::Second;
        return;
    }
    std::string socketWhy;
    int listener = -1;
    const Guard socket = takeSocket(socketName(title), listener, socketWhy);
    if (socket == Guard::HeldByUs) {
        // An instance that runs on the socket alone: the lock file was unusable when it started.
        closeFd(lockFd_);
        outcome_ = Outcome::Second;
        return;
    }
    if (socket == Guard::Taken) holdSocket(listener);
    if (lock == Guard::Unusable && socket == Guard::Unusable) {
        outcome_ = Outcome::Unguarded;
        failure_ = "Cannot make sure that only one instance runs: " + lockWhy + ", and " + socketWhy;
    }
}

void SingleInstance::holdSocket(int listener) {
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        // Still a guard: later starts see the listener; only their probes queue up unanswered.
        socketFd_ = listener;
        return;
    }
    socketFd_ = listener;
    wakeFd_ = wake[1];
    // The thread takes no signal: the end signals belong to the user-interface thread.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    const int readEnd = wake[0];
    try {
        answering_ = std::thread([listener, readEnd] {
            answerProbes(listener, readEnd);
            ::close(readEnd);
        });
    } catch (const std::system_error&) {
        ::close(readEnd);
        closeFd(wakeFd_);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

SingleInstance::~SingleInstance() {
    if (answering_.joinable()) {
        const char stop = 0;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &stop, 1);
        answering_.join();
    }
    closeFd(wakeFd_);
    closeFd(socketFd_);
    closeFd(lockFd_);
}

}  // namespace vantrel
