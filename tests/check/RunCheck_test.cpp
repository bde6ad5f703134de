// One check against in-memory peers: what a filtered and an unfiltered page give, how much of
// the text goes on to the history, and the words for a failure.
#include "check/RunCheck.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "filter/FilterLimits.h"
#include "net/FetchError.h"
#include "net/FetcherTestSupport.h"
#include "text/Crc32.h"
#include "text/Text.h"

namespace vantrel {
namespace {

constexpr size_t kHistoryCap = 1024;

Download PageAt(std::u16string url, PageFilterSettings settings = {}) {
    Download download;
    download.url = std::move(url);
    download.settings = std::move(settings);
    return download;
}

// One peer answering `response`, then closing; the check's result.
DownloadResult CheckAgainst(const std::string& response, const Download& download,
                            size_t keptTextBytes = kHistoryCap) {
    test::MemoryPeers peers;
    peers.add()->feed(response);
    PageFetcher fetcher(peers.options());
    return RunCheck(fetcher, download, keptTextBytes);
}

TEST(RunCheckTest, FilteredPageIsJudgedByWhatTheFiltersLeave) {
    PageFilterSettings settings;
    settings.selector = u"#price";
    const DownloadResult r = CheckAgainst(
        "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
        "<html><body><p>Updated 10:04</p><p id=price>Tea 3 \xE2\x82\xAC</p></body></html>",
        PageAt(u"http://shop.test/", settings));
    ASSERT_TRUE(r.gotText) << ToUtf8(r.detail);
    EXPECT_EQ(r.text, u"Tea 3 \u20AC");
    EXPECT_EQ(r.checksum, Crc32::checksumText(u"Tea 3 \u20AC"));
    EXPECT_EQ(r.textBytes, 9);  // the euro sign is three bytes in UTF-8
    EXPECT_EQ(r.detail, u"HTTP/1.1 200 OK");
}

// The checksum and the size cover the whole text; the history gets one unit past its cap, so it
// knows the text was cut.
TEST(RunCheckTest, UnfilteredPageHasTheWholeTextsChecksumAndACutText) {
    const DownloadResult r =
        CheckAgainst("HTTP/1.0 200 OK\r\n\r\nabc", PageAt(u"http://plain.test/"), /*keptTextBytes=*/1);
    ASSERT_TRUE(r.gotText) << ToUtf8(r.detail);
    EXPECT_EQ(r.checksum, u"CRC of a text above is: AD957AB0");
    EXPECT_EQ(r.textBytes, 3);
    EXPECT_EQ(r.text, u"ab");
    EXPECT_EQ(r.detail, u"HTTP/1.0 200 OK");

    const DownloadResult whole = CheckAgainst("HTTP/1.0 200 OK\r\n\r\nabc", PageAt(u"http://plain.test/"));
    EXPECT_EQ(whole.text, u"abc");
    EXPECT_EQ(whole.checksum, r.checksum);
}

TEST(RunCheckTest, FailuresAreResultsWithTheUsersWords) {
    test::MemoryPeers none;  // every connect is refused
    PageFetcher fetcher(none.options());
    const DownloadResult refused = RunCheck(fetcher, PageAt(u"http://down.test/"), kHistoryCap);
    EXPECT_FALSE(refused.gotText);
    EXPECT_EQ(refused.detail, u"Connection refused");
    EXPECT_TRUE(refused.checksum.empty());
    EXPECT_TRUE(refused.text.empty());

    PageFilterSettings settings;
    settings.selector = u"#gone";
    const DownloadResult unmatched =
        CheckAgainst("HTTP/1.1 200 OK\r\n\r\n<p>here</p>", PageAt(u"http://shop.test/", settings));
    EXPECT_FALSE(unmatched.gotText);
    EXPECT_EQ(unmatched.detail, u"Filter matched nothing");

    const DownloadResult empty = CheckAgainst("HTTP/1.1 200 OK\r\n\r\n", PageAt(u"http://empty.test/"));
    EXPECT_FALSE(empty.gotText);
    EXPECT_EQ(empty.detail, u"HTTP/1.1 200 OK");

    // Past the filters' size limit, whatever the filter: the page is not held whole for them.
    PageFilterSettings ignore;
    ignore.ignorePatterns = {u"^b"};
    const DownloadResult large =
        CheckAgainst("HTTP/1.0 200 OK\r\n\r\n" + std::string(limits::kMaxFilterTextBytes + 2, 'a'),
                     PageAt(u"http://big.test/", ignore));
    EXPECT_FALSE(large.gotText);
    EXPECT_EQ(large.detail, u"Page too large to filter (over 16 MiB)");
}

// Only what the system says about its own network puts a check off; what a server said, or the
// silence of one server, is left to the cycle to weigh.
TEST(RunCheckTest, FailuresTellWhetherTheNetworkIsThere) {
    const struct {
        FetchError failure;
        NetworkClue clue;
    } rows[] = {
        {FetchError::socket(ENETUNREACH), NetworkClue::NoNetwork},
        {FetchError::socket(EADDRNOTAVAIL), NetworkClue::NoNetwork},
        {FetchError::socket(ENETDOWN), NetworkClue::NoNetwork},
        {FetchError::socket(ETIMEDOUT), NetworkClue::NoAnswer},
        {FetchError::socket(EHOSTUNREACH), NetworkClue::NoAnswer},
        {FetchError(FetchErrorKind::ReadTimedOut), NetworkClue::NoAnswer},
        {FetchError(FetchErrorKind::NameLookupFailed), NetworkClue::NoAnswer},
        {FetchError::socket(ECONNREFUSED), NetworkClue::Answered},
        {FetchError::socket(ECONNRESET), NetworkClue::Answered},
        {FetchError(FetchErrorKind::HostNotFound), NetworkClue::Answered},
        {FetchError(FetchErrorKind::ConnectionClosed), NetworkClue::Answered},
        {FetchError(FetchErrorKind::TlsHandshake, "bad certificate"), NetworkClue::Answered},
        {FetchError::status("HTTP/1.1 503 Service Unavailable", 503, u""), NetworkClue::Answered},
    };
    for (const auto& row : rows) EXPECT_EQ(ClueOf(row.failure), row.clue) << row.failure.what();

    // The clue reaches the result, beside the user's words.
    FetcherOptions options;
    options.connect = [](const std::string&, int, int, bool) -> std::unique_ptr<ByteStream> {
        throw FetchError::socket(ENETUNREACH);
    };
    PageFetcher fetcher(options);
    const DownloadResult r = RunCheck(fetcher, PageAt(u"http://away.test/"), kHistoryCap);
    EXPECT_FALSE(r.gotText);
    EXPECT_EQ(r.clue, NetworkClue::NoNetwork);
    EXPECT_EQ(r.detail, u"Network is unreachable");
}

}  // namespace
}  // namespace vantrel
