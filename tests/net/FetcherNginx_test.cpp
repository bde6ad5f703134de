// The fetcher against a real nginx on 127.0.0.1: plain pages, chunked bodies, redirects,
// keep-alive, cookies, and https with a CA made for the test.
#include <gtest/gtest.h>

#include <memory>

#include "FetcherTestSupport.h"
#include "net/TlsStream.h"
#include "support/NginxServer.h"

namespace vantrel {
namespace {

class FetcherNginxTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = std::make_unique<test::NginxServer>(); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        // A missing nginx is a broken test machine, never a reason to pass.
        ASSERT_TRUE(server_->error.empty()) << server_->error;
    }

    std::u16string plain(const std::string& path) const {
        return server_->url("http", "127.0.0.1", server_->plainPort, path);
    }
    std::u16string secure(const std::string& host, int port, const std::string& path) const {
        return server_->url("https", host, port, path);
    }
    FetcherOptions trusting() const {
        FetcherOptions o;
        o.caFile = server_->caFile();
        o.readTimeoutMs = 5000;
        return o;
    }

    static std::unique_ptr<test::NginxServer> server_;
};

std::unique_ptr<test::NginxServer> FetcherNginxTest::server_;

// "<connection> <request on it>" as the /conn page gives it: the same connection, one request
// later.
std::u16string nextOnSameConnection(const std::u16string& conn) {
    const size_t space = conn.find(u' ');
    const std::string number(conn.begin() + space + 1, conn.end());
    const std::string next = std::to_string(std::stoi(number) + 1);
    return conn.substr(0, space + 1) + std::u16string(next.begin(), next.end());
}

TEST_F(FetcherNginxTest, PlainPagesRedirectsAndFailures) {
    PageFetcher fetcher(trusting());
    EXPECT_EQ(fetcher.get(plain("/plain.html")), u"plain page");
    EXPECT_EQ(fetcher.get(plain("/utf8/page.html")), u"caf\u00E9");
    EXPECT_EQ(fetcher.get(plain("/chunked/page.html")), u"yyy chunked yyy");
    EXPECT_EQ(fetcher.get(plain("/chain")), u"plain page");
    EXPECT_EQ(test::failureOf(fetcher, plain("/missing.html")), "HTTP/1.1 404 Not Found");
}

TEST_F(FetcherNginxTest, KeptConnectionServesSeveralGets) {
    PageFetcher fetcher(trusting());
    const std::u16string first = fetcher.get(plain("/conn"));
    const std::u16string second = fetcher.get(plain("/conn"));
    EXPECT_EQ(first.substr(first.find(u' ')), u" 1");
    EXPECT_EQ(second, nextOnSameConnection(first));
}

TEST_F(FetcherNginxTest, CookiesComeBackEvenWhenLong) {
    PageFetcher fetcher(trusting());
    EXPECT_EQ(fetcher.get(plain("/set-cookie")), u"set");
    EXPECT_EQ(fetcher.get(plain("/set-long-cookie")), u"set");
    // A folded Cookie line would make nginx answer 400.
    EXPECT_EQ(fetcher.get(plain("/echo-cookie")), u"k=v; long=" + std::u16string(120, u'L'));
}

TEST_F(FetcherNginxTest, HttpsWithTrustedCertificate) {
    if (!TlsStream::supported()) {
        PageFetcher fetcher(trusting());
        EXPECT_EQ(test::failureOf(fetcher, secure("localhost", server_->tlsPort, "/plain.html")),
                  "IOHandler value is not valid");
        return;
    }
    PageFetcher fetcher(trusting());
    EXPECT_EQ(fetcher.get(secure("localhost", server_->tlsPort, "/plain.html")), u"plain page");
    EXPECT_EQ(fetcher.get(secure("localhost", server_->tlsPort, "/chunked/page.html")), u"yyy chunked yyy");
    const std::u16string first = fetcher.get(secure("localhost", server_->tlsPort, "/conn"));
    const std::u16string second = fetcher.get(secure("localhost", server_->tlsPort, "/conn"));
    EXPECT_EQ(second, nextOnSameConnection(first));
    // An address is checked against the certificate's IP entry.
    EXPECT_EQ(fetcher.get(secure("127.0.0.1", server_->tlsPort, "/plain.html")), u"plain page");
    EXPECT_EQ(fetcher.get(plain("/to-tls")), u"plain page");
}

TEST_F(FetcherNginxTest, HttpsRefusesWhatItCannotTrust) {
    if (!TlsStream::supported()) GTEST_SKIP() << "built without TLS";
    const std::string failed = "TLS handshake failed: certificate verify failed";
    PageFetcher fetcher(trusting());
    EXPECT_EQ(test::failureOf(fetcher, secure("localhost", server_->wrongNamePort, "/plain.html")), failed);
    EXPECT_EQ(test::failureOf(fetcher, secure("localhost", server_->untrustedPort, "/plain.html")), failed);
    PageFetcher systemStoreOnly;
    EXPECT_EQ(test::failureOf(systemStoreOnly, secure("localhost", server_->tlsPort, "/plain.html")), failed);
    // After refusals the fetcher still works.
    EXPECT_EQ(fetcher.get(secure("localhost", server_->tlsPort, "/plain.html")), u"plain page");
}

}  // namespace
}  // namespace vantrel
