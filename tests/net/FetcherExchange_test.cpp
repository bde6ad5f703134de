// One get against a scripted peer: the response bytes in, the exact request and the text or the
// exact failure out; every row is replayed with the response cut at random places.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ExchangeTable.h"
#include "FetcherTestSupport.h"
#include "net/BodyReader.h"
#include "net/Connection.h"
#include "net/HttpLimits.h"
#include "net/HttpResponseReader.h"
#include "net/TlsStream.h"

namespace vantrel {
namespace {

using namespace std::string_literals;
using test::requestHead;

const std::string kOk = "HTTP/1.1 200 OK\r\n";

TEST(FetcherExchangeTest, ResponsesGiveExactRequestAndText) {
    std::mt19937 rng(20240601);
    for (const test::Exchange& row : test::exchanges()) {
        for (int replay = 0; replay < 12; ++replay) {
            SCOPED_TRACE(std::string(row.name) + " replay " + std::to_string(replay));
            test::MemoryPeers peers;
            test::feedSplit(*peers.add(), row.response, replay == 0 ? nullptr : &rng);
            PageFetcher fetcher(peers.options());
            if (row.error.empty()) {
                EXPECT_EQ(fetcher.get(row.url), row.text);
            } else {
                EXPECT_EQ(test::failureOf(fetcher, row.url), row.error);
            }
            EXPECT_EQ(peers.scripts[0]->written, row.request);
            EXPECT_EQ(peers.scripts[0]->writes, 1);

            // Handed on in pieces, the same text (and the same failure).
            test::MemoryPeers again;
            test::feedSplit(*again.add(), row.response, replay == 0 ? nullptr : &rng);
            PageFetcher streaming(again.options());
            std::u16string joined;
            try {
                const size_t units =
                    streaming.fetchInPieces(row.url, [&](std::u16string_view piece) { joined += piece; });
                EXPECT_EQ(joined, row.text);
                EXPECT_EQ(units, row.text.size());
                EXPECT_EQ(row.error, "");
            } catch (const FetchError& e) {
                EXPECT_EQ(e.what(), row.error);
            }
        }
    }
}

// The details window shows the final response's status line; a failure leaves none behind.
TEST(FetcherExchangeTest, StatusLineOfTheFinalResponse) {
    test::MemoryPeers peers;
    peers.add()
        ->feed("HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 0\r\n\r\n")
        .awaitWrite(2)
        .feed("HTTP/1.1 203 Non-Authoritative Information\r\nContent-Length: 2\r\n\r\nok");
    peers.add()->feed("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    PageFetcher fetcher(peers.options());
    std::u16string statusLine = u"left over";
    EXPECT_EQ(fetcher.get(u"http://h/a", &statusLine), u"ok");
    EXPECT_EQ(statusLine, u"HTTP/1.1 203 Non-Authoritative Information");
    EXPECT_THROW(fetcher.get(u"http://other/", &statusLine), FetchError);
    EXPECT_EQ(statusLine, u"");
}

TEST(FetcherExchangeTest, ReadsNeverAskForMoreThanOneReceiveBlock) {
    for (const std::string framing : {"Content-Length: 100000\r\n", "", "Transfer-Encoding: chunked\r\n"}) {
        const std::string body(100000, 'b');
        test::MemoryPeers peers;
        peers.add()->feed(
            kOk + framing + "\r\n" +
            (framing.empty() || framing[0] == 'C' ? body : "186A0\r\n" + body + "\r\n0\r\n\r\n"));
        PageFetcher fetcher(peers.options());
        EXPECT_EQ(fetcher.get(u"http://h/").size(), body.size());
        EXPECT_EQ(peers.scripts[0]->largestRead, limits::kReceiveBlock);
    }
}

TEST(FetcherExchangeTest, StatusFailureCarriesCodeAndBody) {
    test::MemoryPeers peers;
    peers.add()->feed("HTTP/1.1 404 Not Found\r\nContent-Type: text/html; charset=utf-8\r\n\r\n\xC3\xA9");
    PageFetcher fetcher(peers.options());
    try {
        fetcher.get(u"http://h/");
        FAIL() << "no error";
    } catch (const FetchError& e) {
        EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
        EXPECT_EQ(e.kind(), FetchErrorKind::HttpStatus);
        EXPECT_EQ(e.statusCode(), 404);
        EXPECT_EQ(e.body(), u"\u00E9");
    }
}

TEST(FetcherExchangeTest, WaitsThatPassTheReadTimeout) {
    struct Row {
        const char* name;
        std::string before;
        std::string after;  // after one wait that times out; the peer then stays silent
        std::string expected;
    };
    const Row rows[] = {
        // A silent server: empty status line, empty first header line, then reading to the close
        // fails.
        {"SilentServer", "", "", "Read timed out."},
        {"KnownLengthBody", kOk + "Content-Length: 5\r\n\r\nab", "", "Read timed out."},
        {"ChunkData", kOk + "Transfer-Encoding: chunked\r\n\r\n5\r\nab", "", "Read timed out."},
        {"BodyUntilClose", kOk + "\r\nab", "", "Read timed out."},
        // A chunk-size line that does not come reads as empty: the body simply ends.
        {"ChunkSizeLine", kOk + "Transfer-Encoding: chunked\r\n\r\n2\r\nab\r\n", "", "no error"},
        // A header line that does not come ends the head.
        {"HeaderLine", kOk + "Content-Length: 0\r\n", "", "no error"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::MemoryPeers peers;
        auto script = peers.add();
        script->feed(row.before).stall().feed(row.after);
        script->endsOpen = true;
        PageFetcher fetcher(peers.options());
        EXPECT_EQ(test::failureOf(fetcher, u"http://h/"), row.expected);
    }
}

TEST(FetcherExchangeTest, SocketFailureMessagePassesThrough) {
    test::MemoryPeers peers;
    peers.add()->feed(kOk + "Content-Length: 9\r\n\r\nab").fail(ECONNRESET);
    PageFetcher fetcher(peers.options());
    EXPECT_EQ(test::failureOf(fetcher, u"http://h/"), "Socket Error # 10054\r\nConnection reset by peer.");
}

TEST(FetcherExchangeTest, LineLengthLimit) {
    const std::string atLimit(limits::kMaxLineLength - 3, 'v');  // "X: " + value
    const std::string pastLimit(limits::kMaxLineLength - 2, 'v');
    struct Row {
        std::string response;
        std::string expected;
    };
    const Row rows[] = {
        {kOk + "X: " + atLimit + "\r\nContent-Length: 0\r\n\r\n", "no error"},
        {kOk + "X: " + pastLimit + "\r\nContent-Length: 0\r\n\r\n", "Max line length exceeded."},
        {kOk + "X: " + pastLimit, "Max line length exceeded."},
        {"HTTP/1.1 200 " + pastLimit + "\r\n\r\n", "Max line length exceeded."},
        {kOk + "X: " + std::string(20000, 'v') + "\r\n\r\n", "Max line length exceeded."},
        {kOk + "Transfer-Encoding: chunked\r\n\r\n" + std::string(limits::kMaxLineLength, '0') +
             "1\r\nx\r\n0\r\n\r\n",
         "Max line length exceeded."},
        {kOk + "Transfer-Encoding: chunked\r\n\r\n" + std::string(limits::kMaxLineLength - 1, '0') +
             "1\r\nx\r\n0\r\n\r\n",
         "no error"},
    };
    std::mt19937 rng(7);
    for (const Row& row : rows) {
        for (int replay = 0; replay < 3; ++replay) {
            test::MemoryPeers peers;
            test::feedSplit(*peers.add(), row.response, replay ? &rng : nullptr);
            PageFetcher fetcher(peers.options());
            EXPECT_EQ(test::failureOf(fetcher, u"http://h/"), row.expected) << row.response.substr(0, 60);
        }
    }
}

std::string headWithLines(size_t lines, size_t valueLength) {
    std::string head = kOk;
    for (size_t i = 0; i < lines; ++i) head += "X: " + std::string(valueLength, 'v') + "\r\n";
    return head;
}

TEST(FetcherExchangeTest, HeadLimits) {
    // kOk's status line and "Content-Length: 0" count too.
    const size_t statusBytes = kOk.size() - 2, lengthLine = std::string("Content-Length: 0").size();
    const size_t fill = limits::kMaxHeadBytes - statusBytes - lengthLine;
    const size_t lineBytes = 3 + 8000;
    const size_t full = fill / lineBytes, rest = fill % lineBytes;
    const std::string bytesAtLimit = headWithLines(full, 8000) + "Y:" + std::string(rest - 2, 'v') + "\r\n";
    struct Row {
        const char* name;
        std::string head;
        std::string expected;
    };
    const Row rows[] = {
        {"LinesAtLimit", headWithLines(limits::kMaxHeadLines - 1, 1), "no error"},
        {"LinesPastLimit", headWithLines(limits::kMaxHeadLines, 1), "Max header lines exceeded."},
        {"BytesAtLimit", bytesAtLimit, "no error"},
        {"BytesPastLimit", bytesAtLimit + "Z\r\n", "Max header size exceeded."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::MemoryPeers peers;
        peers.add()->feed(row.head + "Content-Length: 0\r\n\r\n");
        PageFetcher fetcher(peers.options());
        EXPECT_EQ(test::failureOf(fetcher, u"http://h/"), row.expected);
    }
}

TEST(FetcherExchangeTest, InterimHeadLimit) {
    std::string interim;
    for (int i = 0; i < limits::kMaxInterimHeads; ++i) interim += "HTTP/1.1 100 Continue\r\n\r\n";
    const std::string final = kOk + "Content-Length: 2\r\n\r\nok";
    {
        test::MemoryPeers peers;
        peers.add()->feed(interim + final);
        PageFetcher fetcher(peers.options());
        EXPECT_EQ(fetcher.get(u"http://h/"), u"ok");
    }
    {
        test::MemoryPeers peers;
        peers.add()->feed(interim + "HTTP/1.1 100 Continue\r\n\r\n" + final);
        PageFetcher fetcher(peers.options());
        EXPECT_EQ(test::failureOf(fetcher, u"http://h/"), "Max interim responses exceeded.");
    }
}

TEST(FetcherExchangeTest, BodySizeLimit) {
    const std::string over = std::to_string(limits::kMaxBodyBytes + 1);
    struct Row {
        const char* name;
        std::string response;
    };
    // A length or chunk past the cap fails before a byte of it is read or allocated.
    const Row rows[] = {
        {"ContentLength", kOk + "Content-Length: " + over + "\r\n\r\nabc"},
        {"Chunk", kOk + "Transfer-Encoding: chunked\r\n\r\n8000001\r\nabc"},
        {"Chunks", kOk + "Transfer-Encoding: chunked\r\n\r\n1\r\na\r\n8000000\r\nabc"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::MemoryPeers peers;
        peers.add()->feed(row.response);
        PageFetcher fetcher(peers.options());
        EXPECT_EQ(test::failureOf(fetcher, u"http://h/"), "Response too large");
    }
}

TEST(FetcherExchangeTest, BodyUntilCloseAtAndPastSizeLimit) {
    ResponseHead head;
    head.statusCode = 200;
    for (size_t extra : {0, 1}) {
        auto script = std::make_shared<MemoryScript>();
        script->feed(std::string(limits::kMaxBodyBytes + extra, 'a'));
        Connection connection(std::make_unique<MemoryStream>(script), {});
        std::string body;
        if (extra == 0) {
            // Read to the close, so its end says nothing about a next answer.
            EXPECT_FALSE(BodyReader::read(connection, head, body, BodyRead{}));
            EXPECT_EQ(body.size(), limits::kMaxBodyBytes);
        } else {
            try {
                BodyReader::read(connection, head, body, BodyRead{});
                ADD_FAILURE() << "no error";
            } catch (const FetchError& e) {
                EXPECT_STREQ(e.what(), "Response too large");
            }
        }
    }
}

TEST(FetcherExchangeTest, ControlCharacterInUrlSendsNothing) {
    for (const std::u16string& url :
         {u"http://h/a\r\nX: y"s, u"http://h/a\tb"s, u"http://h/\0"s, u"http://h\n/"s}) {
        test::MemoryPeers peers;
        PageFetcher fetcher(peers.options());
        EXPECT_EQ(test::failureOf(fetcher, url), "Invalid URL");
        EXPECT_TRUE(peers.opened.empty());
    }
}

TEST(FetcherExchangeTest, PortRange) {
    test::MemoryPeers peers;
    peers.add()->feed(kOk + "Content-Length: 0\r\n\r\n");
    PageFetcher fetcher(peers.options());
    EXPECT_EQ(fetcher.get(u"http://h:65535/"), u"");
    EXPECT_EQ(test::failureOf(fetcher, u"http://h:65536/"), "Range check error");
    ASSERT_EQ(peers.opened.size(), 1u);
    EXPECT_EQ(peers.opened[0].port, 65535);
}

TEST(FetcherExchangeTest, HttpsWithoutTlsSendsNothing) {
    test::MemoryPeers peers;
    peers.add()->feed(kOk + "Content-Length: 2\r\n\r\nok");
    PageFetcher fetcher(peers.options());
    if (TlsStream::supported()) {
        EXPECT_EQ(fetcher.get(u"https://h/"), u"ok");
        ASSERT_EQ(peers.opened.size(), 1u);
        EXPECT_TRUE(peers.opened[0].tls);
        EXPECT_EQ(peers.opened[0].port, 443);
        EXPECT_EQ(peers.scripts[0]->written, requestHead("/", "h:443"));
    } else {
        EXPECT_EQ(test::failureOf(fetcher, u"https://h/"), "IOHandler value is not valid");
        EXPECT_TRUE(peers.opened.empty());
    }
}

TEST(FetcherExchangeTest, CancelledFetcherFailsWithoutConnecting) {
    test::MemoryPeers peers;
    peers.add()->feed(kOk + "Content-Length: 0\r\n\r\n");
    PageFetcher fetcher(peers.options());
    fetcher.cancel();
    EXPECT_EQ(test::failureOf(fetcher, u"http://h/"), "Cancelled");
    EXPECT_EQ(test::failureOf(fetcher, u"http://h/"), "Cancelled");
    EXPECT_TRUE(peers.opened.empty());
}

}  // namespace
}  // namespace vantrel
