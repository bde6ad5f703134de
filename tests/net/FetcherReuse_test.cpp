// A page followed by a second one on the same server: the second page's request goes on the kept
// connection only when the first response ended exactly where its framing said, so no page ever
// reads another page's bytes, however the bytes were cut on the way.
#include <gtest/gtest.h>

#include <string>

#include "ExchangeTable.h"
#include "FetcherTestSupport.h"
#include "net/Connection.h"
#include "net/HttpLimits.h"
#include "net/MemoryStream.h"

namespace vantrel {
namespace {

using test::requestHead;

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";
// The second page's answer; any other text it gets came from the first response.
const std::string kProbe = kOk + "Content-Length: 5\r\n\r\nprobe";

// Responses a careful client keeps or closes the connection after; the page's own result is
// whatever the fetcher always made of it.
struct Kind {
    const char* name;
    std::string response;  // then the peer closes, or the second page's answer follows
    std::string result;    // of the page alone, the peer closing after the response
    bool kept;
};

std::vector<Kind> kinds() {
    const std::string stray = kOk + "Content-Length: 5\r\n\r\nstray";
    return {
        {"ExactLength", kOk + "Content-Length: 2\r\n\r\nab", "text ab", true},
        {"SameLengthTwice", kOk + "Content-Length: 2\r\nContent-Length: 2\r\n\r\nab", "text ab", true},
        {"ExactChunked", kChunked + "2\r\nab\r\n0\r\n\r\n", "text ab", true},
        {"ChunkExtensionAfterBlank", kChunked + "2 ;x=y\r\nab\r\n0\r\n\r\n", "text ab", true},
        {"NoContentWithoutBody", "HTTP/1.1 204 No Content\r\n\r\n", "text ", true},
        {"NotFoundWithLength", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone",
         "failure HTTP/1.1 404 Not Found", true},
        {"HeadOnlyThenClose", kOk + "\r\n", "text ", false},
        {"NotModifiedWithLengthThenMore", "HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n" + stray,
         "failure HTTP/1.1 304 Not Modified", false},
        {"NotModifiedWithLength", "HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n",
         "failure HTTP/1.1 304 Not Modified", false},
        {"SwitchingProtocols", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n\x81\x05hello",
         "failure HTTP/1.1 101 Switching Protocols", false},
        {"ProcessingBeforeOk", "HTTP/1.1 102 Processing\r\n\r\n" + stray, "failure HTTP/1.1 102 Processing",
         false},
        {"HttpOneZero", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nab", "text ab", false},
        // A malformed interim line may be the tail of something else: the answer after it proves
        // nothing about where the stream stands.
        {"MalformedContinueBeforeOk", "P/1.1 100 Continue\r\n\r\n" + kOk + "Content-Length: 2\r\n\r\nab",
         "text ab", false},
        {"ContinueBeforeOk", "HTTP/1.1 100 Continue\r\n\r\n" + kOk + "Content-Length: 2\r\n\r\nab", "text ab",
         true},
        {"ChunkExtension", kChunked + "21;name=value\r\n" + std::string(33, 'x') + "\r\n0\r\n\r\n", "text ",
         false},
        {"EmptyChunkExtension", kChunked + "2;\r\nab\r\n0\r\n\r\n", "text ", false},
        {"TrailerLines", kChunked + "2\r\nab\r\n0\r\nX-T: 1\r\n\r\n", "text ab", false},
        {"ChunkDataLongerThanSize", kChunked + "2\r\nabc\r\n0\r\n\r\n", "text ab", false},
        {"ChunkSizeIllegal", kChunked + "ILLEGAL\r\nab\r\n0\r\n\r\n", "text ", false},
        {"ChunkSizeWithJunk", kChunked + "2 junk\r\nab\r\n0\r\n\r\n", "text ab", false},
        {"NegativeLength", kOk + "Content-Length: -6\r\n\r\nabcdef", "text abcdef", false},
        {"LengthNotANumber", kOk + "Content-Length: crap\r\n\r\nabc", "text abc", false},
        {"LengthWithCr", kOk + "Content-Length: 1\r2\r\n\r\nab", "text ab", false},
        {"TwoDifferentLengths", kOk + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nabc", "text ab", false},
        {"ChunkedAndAnother", kOk + "Transfer-Encoding: chunked, another\r\n\r\n2\r\nab\r\n0\r\n\r\n",
         "text ab", false},
        {"ChunkedChunked", kOk + "Transfer-Encoding: chunkedchunked\r\n\r\n2\r\nab\r\n0\r\n\r\n", "text ab",
         false},
        {"IdentityX", kOk + "Transfer-Encoding: identityx\r\nContent-Length: 2\r\n\r\nab", "text ab", false},
        {"ChunkedWithLength",
         kOk + "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n", "text ab",
         false},
    };
}

std::string resultOf(PageFetcher& fetcher, const std::u16string& url) {
    try {
        const std::u16string text = fetcher.get(url);
        return "text " + std::string(text.begin(), text.end());
    } catch (const FetchError& e) {
        return std::string("failure ") + e.what();
    }
}

struct Replay {
    std::string page;
    std::string probe;
    bool kept;
};

// The response cut at each of `cuts` (none: whole), each piece coming a moment after the one
// before (a poll between them sees nothing), then the probe's answer once its request came.
Replay replay(const std::string& response, const std::vector<size_t>& cuts, const std::u16string& url) {
    test::MemoryPeers peers;
    auto first = peers.add();
    size_t at = 0;
    for (size_t cut : cuts) {
        first->feed(response.substr(at, cut - at)).pause();
        at = cut;
    }
    first->feed(response.substr(at)).awaitWrite(2).feed(kProbe);
    peers.add()->feed(kProbe);
    PageFetcher fetcher(peers.options());
    const std::string page = resultOf(fetcher, url);
    return {page, resultOf(fetcher, url), peers.opened.size() == 1};
}

void expectProbeUnharmed(const std::string& name, const std::string& response, const std::u16string& url,
                         size_t bytesPastEnd) {
    const Replay whole = replay(response, {}, url);
    EXPECT_EQ(whole.probe, "text probe") << name;
    std::vector<size_t> everyByte;
    for (size_t cut = 1; cut < response.size(); ++cut) everyByte.push_back(cut);
    // Bytes sent past the end a response announced cannot be told from the next answer once they
    // come later than that end; with the response they are seen and the connection is dropped.
    for (size_t cut = 1; cut + bytesPastEnd < response.size(); ++cut) {
        const Replay split = replay(response, {cut}, url);
        ASSERT_EQ(split.page, whole.page) << name << " cut at " << cut;
        ASSERT_EQ(split.probe, "text probe") << name << " cut at " << cut;
        ASSERT_EQ(split.kept, whole.kept) << name << " cut at " << cut;
    }
    if (bytesPastEnd == 0) {
        const Replay pieces = replay(response, everyByte, url);
        EXPECT_EQ(pieces.page, whole.page) << name;
        EXPECT_EQ(pieces.probe, "text probe") << name;
    }
}

TEST(FetcherReuseTest, EveryExchangeLeavesTheNextPageItsOwnAnswer) {
    for (const test::Exchange& row : test::exchanges()) {
        // These two announce fewer body bytes than they send.
        const std::string name = row.name;
        const size_t pastEnd = name == "HeaderNamesIgnoreCase" ? 2 : name == "FoldBeforeFirstFieldIsDropped";
        expectProbeUnharmed(name, row.response, row.url, pastEnd);
    }
    for (const Kind& kind : kinds()) expectProbeUnharmed(kind.name, kind.response, u"http://h/", 0);
}

TEST(FetcherReuseTest, ConnectionKeptOnlyAfterAnExactEnd) {
    for (const Kind& kind : kinds()) {
        SCOPED_TRACE(kind.name);
        {
            test::MemoryPeers alone;
            alone.add()->feed(kind.response);
            PageFetcher fetcher(alone.options());
            EXPECT_EQ(resultOf(fetcher, u"http://h/"), kind.result);
        }
        test::MemoryPeers peers;
        peers.add()->feed(kind.response).awaitWrite(2).feed(kProbe);
        peers.add()->feed(kProbe);
        PageFetcher fetcher(peers.options());
        resultOf(fetcher, u"http://h/a");
        EXPECT_EQ(fetcher.get(u"http://h/b"), u"probe");
        EXPECT_EQ(peers.opened.size(), kind.kept ? 1u : 2u);
    }
}

// A response whose end is unsure, its last bytes coming late: had the connection been kept, each
// later page would read the answer meant for the page before it.
TEST(FetcherReuseTest, AnswersNeverShiftOntoTheNextPage) {
    test::MemoryPeers peers;
    peers.add()
        ->feed("HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n")
        .stall()
        .pause()
        .feed(kOk + "Content-Length: 4\r\n\r\nlate")
        .awaitWrite(2)
        .pause()
        .feed(kOk + "Content-Length: 3\r\n\r\ntwo")
        .awaitWrite(3)
        .pause()
        .feed(kOk + "\r\n");
    peers.add()->feed(kOk + "Content-Length: 3\r\n\r\ntwo");
    peers.add()->feed(kOk + "\r\n");
    PageFetcher fetcher(peers.options());
    EXPECT_EQ(resultOf(fetcher, u"http://h/one"), "failure HTTP/1.1 304 Not Modified");
    EXPECT_EQ(resultOf(fetcher, u"http://h/two"), "text two");
    // The check path: a page whose answer has no body has no text, never the last page's.
    std::u16string third;
    EXPECT_EQ(fetcher.fetchInPieces(u"http://h/three", [&](std::u16string_view piece) { third += piece; }),
              0u);
    EXPECT_EQ(third, u"");
}

// A closed connection's buffer serves the next connection, which reads its own bytes into it and
// none of the first one's; a buffer grown past two blocks by a head read in pieces is freed.
TEST(ConnectionRoom, GoesToTheNextConnectionUnlessGrown) {
    auto first = std::make_shared<MemoryScript>();
    first->feed("HTTP/1.1 200 OK\r\nleft unread");
    Connection used(std::make_unique<MemoryStream>(first), {});
    std::string line;
    ASSERT_EQ(used.readLine(line), Connection::Line::Read);
    Connection::Room room = used.takeRoom();
    EXPECT_TRUE(first->closedByClient);
    const char* const kept = room.bytes.get();
    ASSERT_NE(kept, nullptr);

    auto second = std::make_shared<MemoryScript>();
    second->feed("next\r\n");
    Connection next(std::make_unique<MemoryStream>(second), {}, nullptr, std::move(room));
    ASSERT_EQ(next.readLine(line), Connection::Line::Read);
    EXPECT_EQ(line, "next");
    EXPECT_EQ(next.readLine(line), Connection::Line::Closed);
    EXPECT_EQ(next.takeRoom().bytes.get(), kept);

    // Short lines over three blocks: each read adds a block to the partial line left over.
    std::string lines;
    while (lines.size() < 3 * limits::kReceiveBlock) lines += "a: b\r\n";
    auto third = std::make_shared<MemoryScript>();
    third->feed(lines);
    Connection grown(std::make_unique<MemoryStream>(third), {});
    size_t count = 0;
    while (grown.readLine(line) == Connection::Line::Read && count < lines.size()) ++count;
    EXPECT_EQ(count, lines.size() / 6);
    EXPECT_EQ(grown.takeRoom().bytes, nullptr);
}

}  // namespace
}  // namespace vantrel
