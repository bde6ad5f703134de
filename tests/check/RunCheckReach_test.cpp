// Checks of pages that an anonymous client on a direct connection cannot read, against a real
// nginx and a real proxy: Basic authentication, a session cookie from a browser's cookies file,
// and an https page reached only through the proxy. Each is online with its settings and offline
// without them, with the reason the server or the proxy gave.
#include <gtest/gtest.h>

#include <memory>

#include "check/RunCheck.h"
#include "net/CookieFile.h"
#include "net/CookieStore.h"
#include "net/PageFetcher.h"
#include "net/TlsStream.h"
#include "support/NginxServer.h"
#include "support/TinyproxyServer.h"
#include "text/Text.h"

namespace vantrel {
namespace {

constexpr size_t kHistoryCap = 1024;

class RunCheckReachTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = std::make_unique<test::NginxServer>(); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override { ASSERT_TRUE(server_->error.empty()) << server_->error; }

    FetcherOptions options() const {
        FetcherOptions o;
        o.caFile = server_->caFile();
        o.readTimeoutMs = 5000;
        return o;
    }
    static Download page(std::u16string url, PageRequestSettings request = {}) {
        Download download;
        download.url = std::move(url);
        download.settings.request = std::move(request);
        return download;
    }

    static std::unique_ptr<test::NginxServer> server_;
};

std::unique_ptr<test::NginxServer> RunCheckReachTest::server_;

TEST_F(RunCheckReachTest, PageBehindBasicAuthentication) {
    PageFetcher fetcher(options());
    const std::u16string url = server_->url("http", "127.0.0.1", server_->plainPort, "/private.html");
    EXPECT_EQ(RunCheck(fetcher, page(url), kHistoryCap).detail, u"HTTP/1.1 401 Unauthorized");
    PageRequestSettings login;
    login.authUser = FromUtf8(test::kBasicUser);
    login.authPassword = FromUtf8(test::kBasicPassword);
    const DownloadResult result = RunCheck(fetcher, page(url, login), kHistoryCap);
    EXPECT_TRUE(result.gotText);
    EXPECT_EQ(result.text, u"private page");
    EXPECT_NE(result.requestHead.find(u"Authorization: Basic ****\r\n"), std::u16string::npos);
    EXPECT_EQ(result.requestHead.find(FromUtf8(test::kBasicPassword)), std::u16string::npos);
}

TEST_F(RunCheckReachTest, PageThatNeedsASessionCookie) {
    FetcherOptions o = options();
    o.cookies = std::make_shared<CookieStore>();
    PageFetcher fetcher(o);
    const std::u16string url = server_->url("http", "127.0.0.1", server_->plainPort, "/members");
    EXPECT_EQ(RunCheck(fetcher, page(url), kHistoryCap).detail, u"HTTP/1.1 403 Forbidden");
    const std::vector<CookieLine> lines = CookieFile::import(
        *o.cookies, "# Netscape HTTP Cookie File\n#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\ts3cret\n",
        0, u"127.0.0.1");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].refused, "");
    const DownloadResult result = RunCheck(fetcher, page(url), kHistoryCap);
    EXPECT_EQ(result.text, u"members only");
    EXPECT_NE(result.requestHead.find(u"Cookie: session=****\r\n"), std::u16string::npos);
}

TEST_F(RunCheckReachTest, HttpsPageOnlyThroughTheProxy) {
    if (!TlsStream::supported()) GTEST_SKIP() << "no TLS in this build";
    test::TinyproxyServer proxy("watcher", "pw");
    if (!proxy.installed) GTEST_SKIP() << proxy.error;
    ASSERT_EQ(proxy.error, "");
    const std::u16string url = server_->url("https", "localhost", server_->tlsPort, "/plain.html");
    FetcherOptions o = options();
    o.proxy = ProxySettings::single(ProxyServer{"127.0.0.1", proxy.port, "watcher", "wrong"}, "");
    PageFetcher refused(o);
    EXPECT_EQ(RunCheck(refused, page(url), kHistoryCap).detail, u"Proxy: 401 Unauthorized");
    o.proxy.https.password = "pw";
    PageFetcher fetcher(o);
    const DownloadResult result = RunCheck(fetcher, page(url), kHistoryCap);
    EXPECT_EQ(result.detail, u"HTTP/1.1 200 OK");
    EXPECT_EQ(result.text, u"plain page");
    EXPECT_EQ(result.proxy, FromUtf8("127.0.0.1:" + std::to_string(proxy.port)));
    EXPECT_EQ(proxy.requestsLogged("CONNECT"), 2);
}

}  // namespace
}  // namespace vantrel
