#include "support/ScriptedServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace vantrel::test {

namespace {

// The longest a scripted connection waits for the client or a release: far beyond any test's own
// timeouts, so a hang lasts as long as the test needs it to.
constexpr int kHangMs = 120000;

// The request target of a request head: "/path" of "GET /path HTTP/1.1".
std::string targetOf(const std::string& head) {
    const size_t start = head.find(' ');
    if (start == std::string::npos) return {};
    return head.substr(start + 1, head.find(' ', start + 1) - start - 1);
}

std::string reply(const Page& page) {
    return "HTTP/1.1 " + std::to_string(page.status) + (page.status == 200 ? " OK" : " Not Found") +
           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(page.body.size()) +
           "\r\nConnection: close\r\n\r\n" + page.body;
}

}  // namespace

ScriptedServer::ScriptedServer() : ScriptedServer([](ScriptedServer& s, int fd) { s.serveScripted(fd); }) {}

ScriptedServer::ScriptedServer(Handler handler) : handler_(std::move(handler)) {
    if (listening()) acceptor_ = std::thread([this] { acceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (acceptor_.joinable()) acceptor_.join();
    // The acceptor has ended, so nothing adds to the threads any more.
    for (std::thread& thread : threads_) thread.join();
}

std::string ScriptedServer::url8(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port()) + std::string(path);
}

std::u16string ScriptedServer::url(std::string_view path) const {
    const std::string ascii = url8(path);
    return std::u16string(ascii.begin(), ascii.end());
}

void ScriptedServer::set(const std::string& path, Page page) {
    std::lock_guard lock(mutex_);
    pages_[path] = std::move(page);
}

void ScriptedServer::release() {
    {
        std::lock_guard lock(mutex_);
        for (Held& h : held_)
            if (!h.answer) h.answer = pageFor(h.path);
    }
    changed_.notify_all();
}

int ScriptedServer::held() const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const Held& h : held_) count += h.answer ? 0 : 1;
    return count;
}

int ScriptedServer::connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

std::vector<std::string> ScriptedServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string ScriptedServer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

bool ScriptedServer::waitForRequests(size_t count, int ms) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return requests_.size() >= count; });
}

bool ScriptedServer::stopping() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

void ScriptedServer::acceptLoop() {
    while (!stopping()) {
        if (!waitReadable(listener_.fd(), 10)) continue;
        const int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        ++connections_;
        threads_.emplace_back([this, fd] {
            handler_(*this, fd);
            ::close(fd);
        });
    }
}

void ScriptedServer::serveScripted(int fd) {
    const std::string head = readHead(fd);
    if (head.empty()) return;
    const std::string path = targetOf(head);
    std::unique_lock lock(mutex_);
    const Page page = pageFor(path);
    if (page.hang) {
        lock.unlock();
        awaitClose(fd, kHangMs);
    } else if (page.hold) {
        Held& mine = held_.emplace_back(Held{path, std::nullopt});
        changed_.wait_for(lock, std::chrono::milliseconds(kHangMs), [&] { return stop_ || mine.answer; });
        const std::optional<Page> answer = mine.answer;
        held_.remove_if([&](const Held& h) { return &h == &mine; });
        lock.unlock();
        if (answer) send(fd, reply(*answer));
    } else {
        lock.unlock();
        send(fd, reply(page));
    }
}

Page ScriptedServer::pageFor(const std::string& path) const {
    const auto found = pages_.find(path);
    return found != pages_.end() ? found->second : Page{404, "not found"};
}

std::string ScriptedServer::readHead(int fd) {
    std::string head;
    for (int i = 0; i < 500 && head.find("\r\n\r\n") == std::string::npos; ++i) {
        if (!waitReadable(fd, 10)) {
            if (stopping()) return {};
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return {};
        head.append(buffer, static_cast<size_t>(n));
    }
    if (head.find("\r\n\r\n") == std::string::npos) return {};
    {
        std::lock_guard lock(mutex_);
        received_ += head;
        requests_.push_back(targetOf(head));
    }
    changed_.notify_all();
    return head;
}

void ScriptedServer::awaitClose(int fd, int ms) const {
    for (int waited = 0; waited < ms && !stopping(); waited += 10) {
        if (!waitReadable(fd, 10)) continue;
        char buffer[4096];
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
    }
}

void ScriptedServer::send(int fd, std::string_view bytes) {
    size_t sent = 0;
    for (int i = 0; i < 100000 && sent < bytes.size(); ++i) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

bool ScriptedServer::waitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

}  // namespace vantrel::test
