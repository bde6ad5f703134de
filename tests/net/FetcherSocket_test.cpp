// The fetcher over real sockets against scripted servers on 127.0.0.1: exact bytes on the wire,
// connection counts, silent and refusing servers, and cancelling from another thread.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "FetcherTestSupport.h"
#include "support/ScriptedServer.h"

namespace vantrel {
namespace {

using LocalServer = test::ScriptedServer;
using test::requestHead;

std::u16string localUrl(int port, const std::string& path) {
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
    return std::u16string(url.begin(), url.end());
}

std::string host(const LocalServer& server) {
    return "127.0.0.1:" + std::to_string(server.port());
}

std::string page(const std::string& body, const std::string& extra = "") {
    return "HTTP/1.1 200 OK\r\n" + extra + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

// Answers every request on a connection with a page naming the request's target.
void answerAll(LocalServer& server, int fd, const std::string& extra) {
    for (int i = 0; i < 100; ++i) {
        const std::string head = server.readHead(fd);
        if (head.empty()) return;
        const std::string target = head.substr(4, head.find(' ', 4) - 4);
        LocalServer::send(fd, page("page " + target, extra));
        if (!extra.empty()) return;
    }
}

TEST(FetcherSocketTest, KeptConnectionCarriesEveryGet) {
    LocalServer server([](LocalServer& s, int fd) { answerAll(s, fd, ""); });
    PageFetcher fetcher;
    EXPECT_EQ(fetcher.get(localUrl(server.port(), "/a")), u"page /a");
    EXPECT_EQ(fetcher.get(localUrl(server.port(), "/b")), u"page /b");
    EXPECT_EQ(fetcher.get(localUrl(server.port(), "/c")), u"page /c");
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(server.received(), requestHead("/a", host(server)) + requestHead("/b", host(server)) +
                                     requestHead("/c", host(server)));
}

TEST(FetcherSocketTest, ConnectionCloseAndServerCloseOpenNewConnections) {
    for (const std::string extra : {"Connection: close\r\n", "X-Closes: silently\r\n"}) {
        SCOPED_TRACE(extra);
        LocalServer server([&](LocalServer& s, int fd) { answerAll(s, fd, extra); });
        PageFetcher fetcher;
        EXPECT_EQ(fetcher.get(localUrl(server.port(), "/a")), u"page /a");
        EXPECT_EQ(fetcher.get(localUrl(server.port(), "/b")), u"page /b");
        EXPECT_EQ(server.connections(), 2);
    }
}

// A response whose end is unsure comes in pieces, the last ones after its page is done: the next
// page goes on a new connection and never reads them.
TEST(FetcherSocketTest, LateBytesOfAnUnsureEndReachNoOtherPage) {
    constexpr int kPieceGapMs = 30;
    std::atomic<int> opened{0};
    LocalServer server([&](LocalServer& s, int fd) {
        if (opened++ == 0) {
            s.readHead(fd);
            for (const char* piece :
                 {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2;\r\n", "ab\r\n", "0\r\n\r\n"}) {
                LocalServer::send(fd, piece);
                std::this_thread::sleep_for(std::chrono::milliseconds(kPieceGapMs));
            }
        }
        answerAll(s, fd, "");
    });
    PageFetcher fetcher;
    EXPECT_EQ(fetcher.get(localUrl(server.port(), "/a")), u"");
    EXPECT_EQ(fetcher.get(localUrl(server.port(), "/b")), u"page /b");
    EXPECT_EQ(server.connections(), 2);
}

TEST(FetcherSocketTest, SilentServerTimesOut) {
    LocalServer server([](LocalServer& s, int fd) {
        s.readHead(fd);
        s.awaitClose(fd);
    });
    FetcherOptions options;
    options.readTimeoutMs = 100;
    PageFetcher fetcher(options);
    EXPECT_EQ(test::failureOf(fetcher, localUrl(server.port(), "/")), "Read timed out.");
}

TEST(FetcherSocketTest, TricklingServerStopsAtTheGetDeadline) {
    LocalServer server([](LocalServer& s, int fd) {
        s.readHead(fd);
        LocalServer::send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
        for (int i = 0; i < 1000 && !s.stopping(); ++i) {
            if (LocalServer::waitReadable(fd, 20)) return;  // the client closed
            LocalServer::send(fd, "x");
        }
    });
    FetcherOptions options;
    options.readTimeoutMs = 1000;
    options.getTimeoutMs = 300;
    PageFetcher fetcher(options);
    EXPECT_EQ(test::failureOf(fetcher, localUrl(server.port(), "/")), "Read timed out.");
}

TEST(FetcherSocketTest, RefusedConnect) {
    PageFetcher fetcher;
    EXPECT_EQ(test::failureOf(fetcher, localUrl(test::RefusedPort(), "/")),
              "Socket Error # 10061\r\nConnection refused.");
}

TEST(FetcherSocketTest, ConnectToAFullBacklogTimesOut) {
    // A listener that never accepts: once its queue is full, further connects get no answer.
    const test::LoopbackSocket listener(0);
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(listener.fd(), reinterpret_cast<sockaddr*>(&address), &size);
    std::vector<int> queued;
    for (int i = 0; i < 4; ++i) {
        const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(c, reinterpret_cast<sockaddr*>(&address), sizeof address);
        queued.push_back(c);
    }
    FetcherOptions options;
    options.connectTimeoutMs = 200;
    PageFetcher fetcher(options);
    EXPECT_EQ(test::failureOf(fetcher, localUrl(listener.port(), "/")),
              "Socket Error # 10060\r\nConnection timed out.");
    for (int c : queued) ::close(c);
}

TEST(FetcherSocketTest, ResetByPeer) {
    LocalServer server([](LocalServer& s, int fd) {
        s.readHead(fd);
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    });
    PageFetcher fetcher;
    EXPECT_EQ(test::failureOf(fetcher, localUrl(server.port(), "/")),
              "Socket Error # 10054\r\nConnection reset by peer.");
}

TEST(FetcherSocketTest, RedirectChainAcrossPorts) {
    LocalServer target([](LocalServer& s, int fd) { answerAll(s, fd, ""); });
    LocalServer first([&](LocalServer& s, int fd) {
        for (int i = 0; i < 10 && !s.readHead(fd).empty(); ++i)
            LocalServer::send(fd, "HTTP/1.1 301 Moved\r\nLocation: http://127.0.0.1:" +
                                      std::to_string(target.port()) + "/landed\r\nContent-Length: 0\r\n\r\n");
    });
    PageFetcher fetcher;
    EXPECT_EQ(fetcher.get(localUrl(first.port(), "/start")), u"page /landed");
    EXPECT_EQ(fetcher.get(localUrl(first.port(), "/again")), u"page /landed");
    EXPECT_EQ(first.connections(), 2);
    EXPECT_EQ(target.connections(), 2);
    EXPECT_EQ(target.received(), requestHead("/landed", host(target)) + requestHead("/landed", host(target)));
}

TEST(FetcherSocketTest, CancelFromAnotherThreadEndsTheGetAndClosesTheConnection) {
    std::atomic<bool> clientClosed{false};
    LocalServer server([&](LocalServer& s, int fd) {
        s.readHead(fd);
        s.awaitClose(fd);
        clientClosed = !s.stopping();
    });
    FetcherOptions options;
    options.readTimeoutMs = 60000;
    PageFetcher fetcher(options);
    std::thread canceller([&] {
        // Cancels once the request is in; a silent server would otherwise hold the get for
        // minutes.
        for (int i = 0; i < 500 && server.received().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        fetcher.cancel();
    });
    EXPECT_EQ(test::failureOf(fetcher, localUrl(server.port(), "/")), "Cancelled");
    canceller.join();
    for (int i = 0; i < 500 && !clientClosed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(clientClosed);
    EXPECT_EQ(test::failureOf(fetcher, localUrl(server.port(), "/")), "Cancelled");
    EXPECT_EQ(server.connections(), 1);
}

}  // namespace
}  // namespace vantrel
