// The fetcher through a real proxy (tinyproxy) on 127.0.0.1: plain pages in absolute form, https
// pages through a CONNECT tunnel with the page's own certificate checked, the proxy's 407 and a
// proxy port where nothing listens.
#include <gtest/gtest.h>

#include <memory>

#include "FetcherTestSupport.h"
#include "net/TlsStream.h"
#include "support/Loopback.h"
#include "support/NginxServer.h"
#include "support/TinyproxyServer.h"

namespace vantrel {
namespace {

class FetcherProxyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = std::make_unique<test::NginxServer>(); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override { ASSERT_TRUE(server_->error.empty()) << server_->error; }

    FetcherOptions through(int port, const std::string& user = "", const std::string& password = "") const {
        FetcherOptions o;
        o.caFile = server_->caFile();
        o.readTimeoutMs = 5000;
        o.proxy = ProxySettings::single(ProxyServer{"127.0.0.1", port, user, password}, "");
        return o;
    }

    static std::unique_ptr<test::NginxServer> server_;
};

std::unique_ptr<test::NginxServer> FetcherProxyTest::server_;

TEST_F(FetcherProxyTest, PlainAndTlsPagesThroughTheProxy) {
    test::TinyproxyServer proxy;
    if (!proxy.installed) GTEST_SKIP() << proxy.error;
    ASSERT_EQ(proxy.error, "");
    PageFetcher fetcher(through(proxy.port));
    EXPECT_EQ(fetcher.get(server_->url("http", "127.0.0.1", server_->plainPort, "/plain.html")),
              u"plain page");
    EXPECT_EQ(fetcher.lastProxy(), "127.0.0.1:" + std::to_string(proxy.port));
    if (!TlsStream::supported()) GTEST_SKIP() << "no TLS in this build";
    // The certificate names localhost: TLS inside the tunnel checks the page's host, not the proxy's.
    EXPECT_EQ(fetcher.get(server_->url("https", "localhost", server_->tlsPort, "/plain.html")),
              u"plain page");
    EXPECT_EQ(
        test::failureOf(fetcher, server_->url("https", "localhost", server_->wrongNamePort, "/plain.html"))
            .rfind("TLS handshake failed: ", 0),
        0u);
    EXPECT_EQ(proxy.requestsLogged("GET"), 1);
    EXPECT_EQ(proxy.requestsLogged("CONNECT"), 2);
}

TEST_F(FetcherProxyTest, ProxyAuthentication) {
    test::TinyproxyServer proxy("watcher", "s3cret");
    if (!proxy.installed) GTEST_SKIP() << proxy.error;
    ASSERT_EQ(proxy.error, "");
    const std::u16string plain = server_->url("http", "127.0.0.1", server_->plainPort, "/plain.html");
    const std::u16string tls = server_->url("https", "localhost", server_->tlsPort, "/plain.html");
    PageFetcher without(through(proxy.port));
    EXPECT_EQ(test::failureOf(without, plain), "Proxy: 407 Proxy Authentication Required");
    EXPECT_EQ(test::failureOf(without, tls), "Proxy: 407 Proxy Authentication Required");
    // tinyproxy answers wrong credentials with a 401 of its own: told as it came.
    PageFetcher wrong(through(proxy.port, "watcher", "nope"));
    EXPECT_EQ(test::failureOf(wrong, tls), "Proxy: 401 Unauthorized");
    PageFetcher with(through(proxy.port, "watcher", "s3cret"));
    EXPECT_EQ(with.get(plain), u"plain page");
    if (TlsStream::supported()) {
        EXPECT_EQ(with.get(tls), u"plain page");
    }
}

TEST_F(FetcherProxyTest, RefusedProxyPort) {
    PageFetcher fetcher(through(test::RefusedPort()));
    EXPECT_EQ(test::failureOf(fetcher, server_->url("http", "127.0.0.1", server_->plainPort, "/plain.html")),
              "Proxy: connection refused");
    EXPECT_EQ(test::failureOf(fetcher, server_->url("https", "localhost", server_->tlsPort, "/plain.html")),
              "Proxy: connection refused");
}

}  // namespace
}  // namespace vantrel
