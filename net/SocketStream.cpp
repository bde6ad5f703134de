#include "net/SocketStream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "net/CancelSignal.h"
#include "net/FetchError.h"
#include "net/HttpLimits.h"
#include "net/LookupThreads.h"

namespace vantrel {

namespace {

// The outcome of one name look-up, shared with the thread that runs it so that a cancelled get
// can return while the look-up goes on.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    int rc = 0;  // getaddrinfo's
    sockaddr_storage address{};
    socklen_t length = 0;
};

// getaddrinfo blocks and cannot be interrupted; it runs on a look-up thread while this one waits
// for it or for a cancel. A get that stops waiting leaves the look-up to end there; the thread is
// joined later (see LookupThreads), never detached.
bool resolveName(const std::string& host, int family, sockaddr_storage& address, socklen_t& length,
                 int waitMs, const CancelSignal* cancel) {
    auto lookup = std::make_shared<Lookup>();
    LookupThreads::run([lookup, host, family] {
        addrinfo hints{};
        hints.ai_family = family;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
        std::lock_guard lock(lookup->mutex);
        lookup->rc = rc;
        if (rc == 0 && list) {
            std::memcpy(&lookup->address, list->ai_addr, list->ai_addrlen);
            lookup->length = list->ai_addrlen;
            lookup->found = true;
        }
        if (list) ::freeaddrinfo(list);
        lookup->finished = true;
        lookup->done.notify_all();
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    std::unique_lock lock(lookup->mutex);
    while (!lookup->finished) {
        if (cancel) cancel->throwIfRaised();
        if (std::chrono::steady_clock::now() >= end) throw FetchError::socket(ETIMEDOUT);
        lookup->done.wait_for(lock, std::chrono::milliseconds(limits::kCancelLatencyMs / 4));
    }
    // EAI_AGAIN: no name server answered, or one said to try later; unlike "no such name" it
    // tells nothing about the page (RFC 2308 section 7: a server failure is not a negative answer).
    if (lookup->rc == EAI_AGAIN) throw FetchError(FetchErrorKind::NameLookupFailed);
    if (!lookup->found) return false;
    address = lookup->address;
    length = lookup->length;
    return true;
}

void setPort(sockaddr_storage& address, int port) {
    if (address.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(static_cast<uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(static_cast<uint16_t>(port));
}

}  // namespace

std::unique_ptr<SocketStream> SocketStream::connect(const std::string& host, int port, int ipVersion,
                                                    int waitMs, const CancelSignal* cancel) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    sockaddr_storage address{};
    socklen_t length = 0;
    if (ipVersion == 6) {
        addrinfo hints{};
        hints.ai_family = AF_INET6;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST;
        addrinfo* list = nullptr;
        if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list)
            throw FetchError(FetchErrorKind::HostNotFound);
        std::memcpy(&address, list->ai_addr, list->ai_addrlen);
        length = list->ai_addrlen;
        ::freeaddrinfo(list);
    } else {
        auto& in4 = reinterpret_cast<sockaddr_in&>(address);
        if (::inet_pton(AF_INET, host.c_str(), &in4.sin_addr) == 1) {
            in4.sin_family = AF_INET;
            length = sizeof(sockaddr_in);
        } else if (!resolveName(host, AF_INET, address, length, waitMs, cancel)) {
            throw FetchError(FetchErrorKind::HostNotFound);
        }
    }
    setPort(address, port);

    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw FetchError::socket(errno);
    std::unique_ptr<SocketStream> stream(new SocketStream(fd, cancel));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        if (errno != EINPROGRESS) throw FetchError::socket(errno);
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (!CancelSignal::waitFd(fd, POLLOUT, waitMs - static_cast<int>(spent), cancel))
            throw FetchError::socket(ETIMEDOUT);
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        if (error != 0) throw FetchError::socket(error);
    }
    return stream;
}

SocketStream::~SocketStream() {
    close();
}

ReadResult SocketStream::read(char* buffer, size_t capacity, int waitMs) {
    if (fd_ < 0) return {ReadStatus::Closed};
    if (answerAwaited_ && waitMs > 0) {
        answerAwaited_ = false;
        if (cancel_) cancel_->throwIfRaised();
        if (!CancelSignal::waitFd(fd_, POLLIN, waitMs, cancel_)) return {ReadStatus::TimedOut};
    }
    answerAwaited_ = false;
    for (;;) {
        if (cancel_) cancel_->throwIfRaised();
        const ssize_t n = ::recv(fd_, buffer, capacity, 0);
        if (n > 0) return {ReadStatus::Data, static_cast<size_t>(n)};
        if (n == 0) return {ReadStatus::Closed};
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) throw FetchError::socket(errno);
        if (waitMs <= 0 || !CancelSignal::waitFd(fd_, POLLIN, waitMs, cancel_)) return {ReadStatus::TimedOut};
    }
}

void SocketStream::writeAll(std::string_view bytes, int waitMs) {
    while (!bytes.empty()) {
        if (fd_ < 0) throw FetchError::socket(EPIPE);
        if (cancel_) cancel_->throwIfRaised();
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n >= 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            answerAwaited_ = true;
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) throw FetchError::socket(errno);
        if (!CancelSignal::waitFd(fd_, POLLOUT, waitMs, cancel_)) throw FetchError::socket(ETIMEDOUT);
    }
}

void SocketStream::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace vantrel
