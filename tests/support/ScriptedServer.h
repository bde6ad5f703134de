#pragma once
// An HTTP peer on 127.0.0.1 and a free port, on threads of its own, for every test that needs real
// sockets (library tests and widget tests alike: it uses no toolkit types). Either each path
// answers as scripted (a status and body, never, or when the test releases it), or each accepted
// connection is handed to the test's own handler for exact bytes on the wire. Every connection
// has a thread of its own, so a hung one never holds up the next.
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/Loopback.h"

namespace vantrel::test {

struct Page {
    int status = 200;
    std::string body;
    bool hang = false;  // read the request and never answer
    bool hold = false;  // answer only when release() is called
};

class ScriptedServer {
  public:
    // Returns when the handler is done with the connection; the server then closes it.
    using Handler = std::function<void(ScriptedServer& server, int fd)>;

    // Answers each request with the page scripted for its path (404 "not found" when none), with
    // "Connection: close".
    ScriptedServer();
    explicit ScriptedServer(Handler handler);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    bool listening() const { return listener_.valid(); }
    int port() const { return listener_.port(); }
    std::string url8(std::string_view path) const;
    std::u16string url(std::string_view path) const;

    void set(const std::string& path, Page page);
    void setBody(const std::string& path, std::string body) { set(path, Page{200, std::move(body)}); }
    // Answers every held request with the page as it is scripted now.
    void release();
    int held() const;

    int connections() const;
    // Targets of the requests received so far, in order of arrival, and their whole heads.
    std::vector<std::string> requests() const;
    std::string received() const;
    // Waits (at most `ms`) until `count` requests have come in.
    bool waitForRequests(size_t count, int ms) const;
    bool stopping() const;

    // For handlers. Reads up to the empty line ending a request head and records it; empty when
    // the peer closed or nothing came within 5 s.
    std::string readHead(int fd);
    // Waits (at most `ms`) until the client closes the connection or the server stops.
    void awaitClose(int fd, int ms = 5000) const;
    static void send(int fd, std::string_view bytes);
    static bool waitReadable(int fd, int ms);

  private:
    struct Held {
        std::string path;
        std::optional<Page> answer;
    };
    void acceptLoop();
    void serveScripted(int fd);
    Page pageFor(const std::string& path) const;

    Handler handler_;
    LoopbackSocket listener_{16};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stop_ = false;
    int connections_ = 0;
    std::map<std::string, Page> pages_;
    std::vector<std::string> requests_;
    std::string received_;
    std::list<Held> held_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

}  // namespace vantrel::test
