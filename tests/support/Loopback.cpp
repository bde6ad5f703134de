#include "support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace vantrel::test {

LoopbackSocket::LoopbackSocket(int backlog, const std::string& address) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    // Loopback only: anything outside 127.0.0.0/8 is refused here rather than bound.
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 || (ntohl(a.sin_addr.s_addr) >> 24) != 127)
        return;
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t size = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), size) != 0 ||
        (backlog >= 0 && ::listen(fd_, backlog) != 0) ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
        return;
    port_ = ntohs(a.sin_port);
}

LoopbackSocket::~LoopbackSocket() {
    if (fd_ >= 0) ::close(fd_);
}

std::vector<int> FreePorts(int count) {
    std::vector<std::unique_ptr<LoopbackSocket>> held;
    std::vector<int> ports;
    for (int i = 0; i < count; ++i) {
        held.push_back(std::make_unique<LoopbackSocket>());
        ports.push_back(held.back()->port());
    }
    return ports;
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

}  // namespace vantrel::test
