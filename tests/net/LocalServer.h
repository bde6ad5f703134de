#pragma once
// A scripted HTTP peer on 127.0.0.1 and a free port, for tests that need real sockets: each
// accepted connection is handed to the test's handler on the server's thread, one at a time.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vantrel::test {

class LocalServer {
  public:
    // Returns when the handler is done with the connection; the server then closes it.
    using Handler = std::function<void(LocalServer& server, int fd)>;

    explicit LocalServer(Handler handler) : handler_(std::move(handler)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listen_, 16);
        socklen_t size = sizeof address;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~LocalServer() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }

    int port() const { return port_; }
    int connections() const { return connections_; }
    bool stopping() const { return stop_; }
    std::string received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

    // Reads up to the empty line ending a request head; empty when the peer closed or nothing
    // came within 5 s.
    std::string readHead(int fd) {
        std::string head;
        for (int i = 0; i < 500 && head.find("\r\n\r\n") == std::string::npos; ++i) {
            if (!waitReadable(fd, 10)) {
                if (stop_) return {};
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return {};
            head.append(buffer, static_cast<size_t>(n));
        }
        std::lock_guard lock(mutex_);
        received_ += head;
        return head;
    }
    // Waits (at most 5 s) until the client closes the connection or the server stops.
    void awaitClose(int fd) {
        for (int i = 0; i < 500 && !stop_; ++i) {
            if (!waitReadable(fd, 10)) continue;
            char buffer[4096];
            if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
        }
    }
    static void send(int fd, const std::string& bytes) {
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    static bool waitReadable(int fd, int ms) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }

  private:
    void run() {
        while (!stop_) {
            if (!waitReadable(listen_, 10)) continue;
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++connections_;
            handler_(*this, fd);
            ::close(fd);
        }
    }

    Handler handler_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};

}  // namespace vantrel::test
