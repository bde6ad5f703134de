#pragma once
// Sockets on the loopback network for tests: every server a test starts listens on 127.0.0.x and
// a port the system picks, so tests may run side by side and never reach another machine.
#include <string>
#include <vector>

namespace vantrel::test {

// A TCP socket bound to `address` (127.0.0.1 unless given) on a port of the system's choice,
// listening with `backlog` when that is 0 or more. Closed with the object.
class LoopbackSocket {
  public:
    explicit LoopbackSocket(int backlog = -1, const std::string& address = "127.0.0.1");
    ~LoopbackSocket();
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    bool valid() const { return port_ != 0; }
    int fd() const { return fd_; }
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

// `count` distinct ports on 127.0.0.1 that were free a moment ago (held at once, then released).
std::vector<int> FreePorts(int count);

// A port on 127.0.0.1 where nothing listens.
inline int RefusedPort() {
    return FreePorts(1).front();
}

// Whether something accepts a connection on 127.0.0.1 and `port` now.
bool Accepts(int port);

}  // namespace vantrel::test
