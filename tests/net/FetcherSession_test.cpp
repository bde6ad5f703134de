// Several exchanges in a row against scripted peers: connection reuse and closing, redirects,
// cookies between hops, and what a connection with bytes left over must not do.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "FetcherTestSupport.h"
#include "net/HttpLimits.h"
#include "net/TlsStream.h"

namespace vantrel {
namespace {

using test::requestHead;

const std::string kOk = "HTTP/1.1 200 OK\r\n";

std::string page(const std::string& body, const std::string& extra = "") {
    return kOk + extra + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string redirect(const std::string& location, const std::string& extra = "") {
    return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\n" + extra + "Content-Length: 0\r\n\r\n";
}

TEST(FetcherSessionTest, ConnectionIsReusedUntilCloseIsAsked) {
    struct Row {
        const char* name;
        std::string firstHead;
        size_t connections;
    };
    const Row rows[] = {
        {"NoConnectionHeader", "", 1},
        {"KeepAlive", "Connection: keep-alive\r\n", 1},
        {"Close", "Connection: close\r\n", 2},
        {"CloseWithBlanksAnyCase", "Connection:  CLOSE \r\n", 2},
        {"ProxyConnectionClose", "Proxy-Connection: close\r\n", 2},
        {"CloseListedWithOthersIsNotClose", "Connection: keep-alive, close\r\n", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::MemoryPeers peers;
        peers.add()->feed(page("one", row.firstHead)).awaitWrite(2).feed(page("two"));
        peers.add()->feed(page("two"));
        PageFetcher fetcher(peers.options());
        EXPECT_EQ(fetcher.get(u"http://h/a"), u"one");
        EXPECT_EQ(fetcher.get(u"http://h/b"), u"two");
        EXPECT_EQ(peers.opened.size(), row.connections);
        if (row.connections == 1) {
            EXPECT_EQ(peers.scripts[0]->written, requestHead("/a") + requestHead("/b"));
        } else {
            EXPECT_TRUE(peers.scripts[0]->closedByClient);
            EXPECT_EQ(peers.scripts[1]->written, requestHead("/b"));
        }
    }
}

TEST(FetcherSessionTest, ConnectionWithUnreadBytesIsNeverReused) {
    struct Row {
        const char* name;
        std::string first;
    };
    const Row rows[] = {
        {"MoreThanFramed", kOk + "Content-Length: 3\r\n\r\noneEXTRA"},
        {"ChunkExtensionEndsBodyEarly", kOk + "Transfer-Encoding: chunked\r\n\r\n3;x=1\r\none\r\n0\r\n\r\n"},
        {"TrailerLinesLeft", kOk + "Transfer-Encoding: chunked\r\n\r\n3\r\none\r\n0\r\nX-T: 1\r\n\r\n"},
        {"ZeroLengthWithBytes", kOk + "Content-Length: 0\r\n\r\nstray"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::MemoryPeers peers;
        // Were the connection reused, the stray bytes would be read as the second answer.
        peers.add()->feed(row.first).awaitWrite(2).feed(page("wrong"));
        peers.add()->feed(page("two"));
        PageFetcher fetcher(peers.options());
        fetcher.get(u"http://h/a");
        EXPECT_EQ(fetcher.get(u"http://h/b"), u"two");
        EXPECT_EQ(peers.opened.size(), 2u);
        EXPECT_TRUE(peers.scripts[0]->closedByClient);
    }
}

TEST(FetcherSessionTest, BytesArrivingAfterQuickReadCloseTheConnection) {
    test::MemoryPeers peers;
    // The redirect body comes only after the quick read gave up on it.
    peers.add()
        ->feed("HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 5\r\n\r\n")
        .stall()
        .feed("hello");
    peers.add()->feed(page("two"));
    PageFetcher fetcher(peers.options());
    EXPECT_EQ(fetcher.get(u"http://h/a"), u"two");
    EXPECT_EQ(peers.opened.size(), 2u);
    EXPECT_EQ(peers.scripts[1]->written, requestHead("/b"));
}

TEST(FetcherSessionTest, ClosedOrResetIdleConnectionIsRetriedOnceOnANewOne) {
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        test::MemoryPeers peers;
        auto first = peers.add();
        first->feed(page("one")).awaitWrite(2);
        if (reset)
            first->fail(ECONNRESET);
        else
            first->close();
        peers.add()->feed(page("two"));
        PageFetcher fetcher(peers.options());
        EXPECT_EQ(fetcher.get(u"http://h/a"), u"one");
        EXPECT_EQ(fetcher.get(u"http://h/b"), u"two");
        EXPECT_EQ(peers.opened.size(), 2u);
        EXPECT_EQ(peers.scripts[1]->written, requestHead("/b"));
    }
}

TEST(FetcherSessionTest, AnotherHostOrPortOpensANewConnection) {
    test::MemoryPeers peers;
    peers.add()->feed(page("1"));
    peers.add()->feed(page("2")).awaitWrite(2).feed(page("3"));
    peers.add()->feed(page("4"));
    PageFetcher fetcher(peers.options());
    EXPECT_EQ(fetcher.get(u"http://h/"), u"1");
    EXPECT_EQ(fetcher.get(u"http://h:81/"), u"2");
    EXPECT_EQ(fetcher.get(u"http://H:81/"), u"3");
    EXPECT_EQ(fetcher.get(u"http://g:81/"), u"4");
    ASSERT_EQ(peers.opened.size(), 3u);
    EXPECT_EQ(peers.opened[1].port, 81);
    EXPECT_EQ(peers.opened[2].host, "g");
}

TEST(FetcherSessionTest, RedirectTargetsResolveAgainstTheCurrentUrl) {
    struct Row {
        const char* name;
        std::u16string url;
        std::string first;
        std::string secondRequest;
    };
    const Row rows[] = {
        {"RelativeDocument", u"http://h/dir/page.html", redirect("next.html"), requestHead("/dir/next.html")},
        {"ParentDirectory", u"http://h/a/b/c.html", redirect("../up.html"), requestHead("/a/up.html")},
        {"Backslash", u"http://h/a/b.html", redirect("\\next.html"), requestHead("/next.html")},
        {"OkWithLocation", u"http://h/", page("ignored", "Location: /moved\r\n"), requestHead("/moved")},
        {"SeeOther", u"http://h/", "HTTP/1.1 303 See Other\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n",
         requestHead("/x")},
        {"RawUtf8Location", u"http://h/", redirect("/caf\xC3\xA9"), requestHead("/caf%C3%A9")},
        {"BodyDiscarded", u"http://h/", "HTTP/1.1 301 Moved\r\nLocation: /x\r\nContent-Length: 4\r\n\r\nmove",
         requestHead("/x")},
        {"ChunkedBodyDiscarded", u"http://h/",
         "HTTP/1.1 301 Moved\r\nLocation: /x\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nmove\r\n0\r\n\r\n",
         requestHead("/x")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::MemoryPeers peers;
        peers.add()->feed(row.first).awaitWrite(2).feed(page("final"));
        PageFetcher fetcher(peers.options());
        EXPECT_EQ(fetcher.get(row.url), u"final");
        const std::string& written = peers.scripts[0]->written;
        EXPECT_EQ(written.substr(written.find("\r\n\r\n") + 4), row.secondRequest);
        EXPECT_EQ(peers.opened.size(), 1u);
    }
}

TEST(FetcherSessionTest, AbsoluteLocationOnAnotherHostOpensNewConnection) {
    test::MemoryPeers peers;
    peers.add()->feed(redirect("http://g:8080/p"));
    peers.add()->feed(page("there"));
    PageFetcher fetcher(peers.options());
    EXPECT_EQ(fetcher.get(u"http://h/"), u"there");
    ASSERT_EQ(peers.opened.size(), 2u);
    EXPECT_EQ(peers.opened[1].host, "g");
    EXPECT_EQ(peers.opened[1].port, 8080);
    EXPECT_EQ(peers.scripts[1]->written, requestHead("/p", "g:8080"));
}

TEST(FetcherSessionTest, RedirectLimit) {
    for (int redirects : {limits::kRedirectLimit - 1, limits::kRedirectLimit}) {
        SCOPED_TRACE(redirects);
        test::MemoryPeers peers;
        auto script = peers.add();
        for (int i = 0; i < redirects; ++i)
            script->awaitWrite(i + 1).feed(redirect("/r" + std::to_string(i)));
        script->awaitWrite(redirects + 1).feed(page("body"));
        PageFetcher fetcher(peers.options());
        // The 15th redirect ends the get with empty text, not a failure.
        EXPECT_EQ(fetcher.get(u"http://h/"), redirects < limits::kRedirectLimit ? u"body" : u"");
        EXPECT_EQ(script->writes, redirects < limits::kRedirectLimit ? redirects + 1 : redirects);
    }
}

TEST(FetcherSessionTest, DiscardedBodyIsDrainedUpToItsCap) {
    for (size_t extra : {0, 1}) {
        SCOPED_TRACE(extra);
        const std::string body(limits::kMaxDrainBytes + extra, 'x');
        test::MemoryPeers peers;
        peers.add()
            ->feed("HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\n\r\n" + body)
            .awaitWrite(2)
            .feed(page("same"));
        peers.add()->feed(page("new"));
        PageFetcher fetcher(peers.options());
        // Past the cap the connection is closed rather than drained.
        EXPECT_EQ(fetcher.get(u"http://h/a"), extra == 0 ? u"same" : u"new");
        EXPECT_EQ(peers.opened.size(), extra == 0 ? 1u : 2u);
    }
}

TEST(FetcherSessionTest, NoContentDiscardsAndKeepsConnection) {
    test::MemoryPeers peers;
    peers.add()->feed("HTTP/1.1 204 No Content\r\n\r\n").awaitWrite(2).feed(page("two"));
    PageFetcher fetcher(peers.options());
    EXPECT_EQ(fetcher.get(u"http://h/a"), u"");
    EXPECT_EQ(fetcher.get(u"http://h/b"), u"two");
    EXPECT_EQ(peers.opened.size(), 1u);
}

TEST(FetcherSessionTest, CookiesGoToLaterRequestsOnOneLine) {
    const std::string longValue(100, 'v');
    test::MemoryPeers peers;
    peers.add()
        ->feed(redirect("/next", "Set-Cookie: a=1\r\nSet-cookie: b=2\r\nSet-Cookie: c=" + longValue +
                                     "\r\nSet-Cookie: d=caf\xE9\r\n"))
        .awaitWrite(2)
        .feed(page("done"));
    PageFetcher fetcher(peers.options());
    EXPECT_EQ(fetcher.get(u"http://h/"), u"done");
    // Bytes above 127 in a head line are Latin-1 and go out again as UTF-8.
    EXPECT_EQ(peers.scripts[0]->written,
              requestHead("/") + requestHead("/next", "h", "a=1; b=2; c=" + longValue + "; d=caf\xC3\xA9"));
}

TEST(FetcherSessionTest, ControlCharacterInLocationSendsNothingMore) {
    test::MemoryPeers peers;
    peers.add()->feed(redirect("/a\rX-Injected: 1")).awaitWrite(2).feed(page("two"));
    PageFetcher fetcher(peers.options());
    EXPECT_EQ(test::failureOf(fetcher, u"http://h/"), "Invalid URL");
    EXPECT_EQ(peers.scripts[0]->written, requestHead("/"));
}

TEST(FetcherSessionTest, UrlWithoutSchemeFailsWhicheverPageCameBefore) {
    // Within one get a relative Location resolves against the hop before it; the next get starts
    // afresh and sends nothing to the server the last page came from.
    test::MemoryPeers peers;
    peers.add()->feed(redirect("x.html")).awaitWrite(2).feed(page("x")).awaitWrite(3).feed(page("wrong"));
    PageFetcher fetcher(peers.options());
    EXPECT_EQ(test::failureOf(fetcher, u"two.html"), "Unknown Protocol");
    EXPECT_EQ(fetcher.get(u"http://other:8080/dir/one.html"), u"x");
    EXPECT_EQ(test::failureOf(fetcher, u"two.html"), "Unknown Protocol");
    EXPECT_EQ(test::failureOf(fetcher, u"/dir/two.html"), "Unknown Protocol");
    EXPECT_EQ(peers.opened.size(), 1u);
    EXPECT_EQ(peers.scripts[0]->written,
              requestHead("/dir/one.html", "other:8080") + requestHead("/dir/x.html", "other:8080"));
}

TEST(FetcherSessionTest, RedirectToHttps) {
    test::MemoryPeers peers;
    peers.add()->feed(redirect("https://h/secure"));
    peers.add()->feed(page("secret"));
    PageFetcher fetcher(peers.options());
    if (TlsStream::supported()) {
        EXPECT_EQ(fetcher.get(u"http://h/"), u"secret");
        ASSERT_EQ(peers.opened.size(), 2u);
        EXPECT_TRUE(peers.opened[1].tls);
        EXPECT_EQ(peers.opened[1].port, 443);
    } else {
        EXPECT_EQ(test::failureOf(fetcher, u"http://h/"), "IOHandler value is not valid");
        EXPECT_EQ(peers.opened.size(), 1u);
    }
}

TEST(FetcherSessionTest, StatusFailureKeepsConnectionOtherFailuresDropIt) {
    test::MemoryPeers peers;
    peers.add()->feed("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n").awaitWrite(2).feed(page("two"));
    PageFetcher fetcher(peers.options());
    EXPECT_EQ(test::failureOf(fetcher, u"http://h/a"), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(fetcher.get(u"http://h/b"), u"two");
    EXPECT_EQ(peers.opened.size(), 1u);

    test::MemoryPeers late;
    // A late answer after a timed-out body must not become the next page.
    late.add()
        ->feed(kOk + "Content-Length: 4\r\n\r\nab")
        .stall()
        .feed("cd")
        .awaitWrite(2)
        .feed(page("wrong"));
    late.add()->feed(page("right"));
    PageFetcher second(late.options());
    EXPECT_EQ(test::failureOf(second, u"http://h/a"), "Read timed out.");
    EXPECT_EQ(second.get(u"http://h/b"), u"right");
    EXPECT_EQ(late.opened.size(), 2u);
}

}  // namespace
}  // namespace vantrel
