#pragma once
// An HTTP server on 127.0.0.1 (a free port) for the widget tests, on a thread of its own: each
// path answers with a scripted status and body, never answers at all, or waits until the test
// releases it. Every answer closes its connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace scripted {

struct Page {
    int status = 200;
    QByteArray body;
    bool hang = false;  // read the request and never answer
    bool hold = false;  // answer only when release() is called
};

class Server {
  public:
    Server() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~Server() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        for (const auto& [fd, buffer] : reading_) ::close(fd);
        for (int fd : hung_) ::close(fd);
        for (const auto& [fd, path] : held_) ::close(fd);
        if (listener_ >= 0) ::close(listener_);
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool listening() const { return port_ != 0; }
    quint16 port() const { return port_; }
    QString url(const QByteArray& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(QString::fromLatin1(path));
    }

    void set(const QByteArray& path, Page page) {
        std::lock_guard lock(mutex_);
        pages_[path] = std::move(page);
    }
    void setBody(const QByteArray& path, const QByteArray& body) { set(path, Page{200, body}); }

    // Paths of the requests received so far, in order of arrival.
    QList<QByteArray> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int held() const {
        std::lock_guard lock(mutex_);
        return int(held_.size());
    }

    // Answers every held request with the page as it is scripted now.
    void release() {
        std::lock_guard lock(mutex_);
        for (const auto& [fd, path] : held_) answer(fd, pageFor(path));
        held_.clear();
    }

  private:
    void run() {
        while (!stop_) {
            std::vector<pollfd> watched{{listener_, POLLIN, 0}};
            {
                std::lock_guard lock(mutex_);
                for (const auto& [fd, buffer] : reading_) watched.push_back({fd, POLLIN, 0});
            }
            if (::poll(watched.data(), watched.size(), 20) <= 0) continue;
            if (watched[0].revents & POLLIN) {
                const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                std::lock_guard lock(mutex_);
                if (fd >= 0) reading_[fd];
            }
            for (size_t i = 1; i < watched.size(); ++i) {
                if (watched[i].revents) readFrom(watched[i].fd);
            }
        }
    }

    void readFrom(int fd) {
        char chunk[4096];
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        std::lock_guard lock(mutex_);
        QByteArray& buffer = reading_[fd];
        if (got <= 0) {
            reading_.erase(fd);
            ::close(fd);
            return;
        }
        buffer.append(chunk, got);
        if (!buffer.contains("\r\n\r\n")) return;
        const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
        reading_.erase(fd);
        const QByteArray path = requestLine.size() >= 2 ? requestLine[1] : QByteArray();
        requests_ << path;
        const Page page = pageFor(path);
        if (page.hang)
            hung_.push_back(fd);
        else if (page.hold)
            held_.emplace_back(fd, path);
        else
            answer(fd, page);
    }

    Page pageFor(const QByteArray& path) const { return pages_.value(path, Page{404, "not found"}); }

    static void answer(int fd, const Page& page) {
        const QByteArray reply =
            "HTTP/1.1 " + QByteArray::number(page.status) + (page.status == 200 ? " OK" : " Not Found") +
            "\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(page.body.size()) +
            "\r\nConnection: close\r\n\r\n" + page.body;
        qsizetype sent = 0;
        while (sent < reply.size()) {
            const ssize_t n = ::send(fd, reply.constData() + sent, size_t(reply.size() - sent), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += n;
        }
        ::close(fd);
    }

    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    QHash<QByteArray, Page> pages_;
    QList<QByteArray> requests_;
    std::map<int, QByteArray> reading_;
    std::vector<int> hung_;
    std::vector<std::pair<int, QByteArray>> held_;
};

// A port on 127.0.0.1 where nothing listens (taken free, then closed again).
inline quint16 refusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace scripted
