#include "app/CommandChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "app/AbstractAddress.h"

namespace vantrel {

namespace {

// A request holds at most an import of this many bytes; a client that sends more is cut off.
constexpr size_t kMaxRequestBytes = 64 * 1024 * 1024;
// How long the running instance waits for a client that has connected to finish its request.
constexpr int kServeWaitMs = 10000;

// Waits until `fd` is ready for `events` or `deadline` has passed; false on the time-out.
bool waitReady(int fd, short events, const QElapsedTimer& clock, int timeoutMs) {
    for (int round = 0; round < 1000; ++round) {
        const int left = timeoutMs - static_cast<int>(clock.elapsed());
        if (left <= 0) return false;
        pollfd watched{fd, events, 0};
        const int n = ::poll(&watched, 1, left);
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
    return false;
}

bool writeAll(int fd, const std::string& bytes, const QElapsedTimer& clock, int timeoutMs) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitReady(fd, POLLOUT, clock, timeoutMs)) return false;
        } else {
            return false;
        }
    }
    return true;
}

// Reads up to the other side's end of writing; false on a failure, a time-out or too much.
bool readAll(int fd, std::string& bytes, const QElapsedTimer& clock, int timeoutMs) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0) return true;
        if (n > 0) {
            bytes.append(buffer, static_cast<size_t>(n));
            if (bytes.size() > kMaxRequestBytes) return false;
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!waitReady(fd, POLLIN, clock, timeoutMs)) return false;
        } else {
            return false;
        }
    }
}

}  // namespace

std::string CommandChannel::socketName(const std::string& title) {
    return title + "-commands-" + std::to_string(::getuid());
}

CommandChannel::CommandChannel(const std::string& title, Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    sockaddr_un address;
    const socklen_t size = AbstractAddress(socketName(title), address);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 16) != 0) {
        failure_ = std::string("cannot open the command channel: ") + std::strerror(errno);
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
        return;
    }
    notifier_ = new QSocketNotifier(listener_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &CommandChannel::accept);
}

CommandChannel::~CommandChannel() {
    delete notifier_;
    if (listener_ >= 0) ::close(listener_);
}

void CommandChannel::accept() {
    for (int round = 0; round < 16; ++round) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) return;
        // Abstract names carry no permissions: only this user's processes may change the list.
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
            credentials.uid == ::getuid())
            serve(client);
        ::close(client);
    }
}

void CommandChannel::serve(int client) {
    // Requests are small and come from a process that has everything ready before it connects,
    // so one is read and answered here, on the window's thread, where the list lives.
    QElapsedTimer clock;
    clock.start();
    std::string request;
    if (!readAll(client, request, clock, kServeWaitMs)) return;
    writeAll(client, handler_(request), clock, kServeWaitMs);
}

std::optional<std::string> CommandChannel::send(const std::string& title, const std::string& request,
                                                int timeoutMs) {
    sockaddr_un address;
    const socklen_t size = AbstractAddress(socketName(title), address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> answer;
    QElapsedTimer clock;
    clock.start();
    ucred credentials{};
    socklen_t length = sizeof credentials;
    // The list goes only to a listener of this user: another user could have taken the name first.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
        credentials.uid == ::getuid()) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        std::string bytes;
        if (writeAll(fd, request, clock, timeoutMs) && ::shutdown(fd, SHUT_WR) == 0 &&
            readAll(fd, bytes, clock, timeoutMs))
            answer = std::move(bytes);
    }
    ::close(fd);
    return answer;
}

}  // namespace vantrel
