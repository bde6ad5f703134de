// Which requests go through a proxy: the environment read as curl reads it, the proxy URL's
// parts, and the no_proxy exceptions.
#include <gtest/gtest.h>

#include <map>

#include "net/ProxySettings.h"

namespace vantrel {
namespace {

TEST(ProxySettingsTest, NoProxyMatching) {
    struct Row {
        const char* noProxy;
        const char* host;
        int port;
        bool bypassed;
    };
    const Row rows[] = {
        {"example.com", "example.com", 80, true},
        {"example.com", "www.example.com", 80, true},
        {".example.com", "example.com", 80, true},
        {".example.com", "a.b.example.com", 80, true},
        {"example.com", "notexample.com", 80, false},
        {"example.com", "example.com.evil", 80, false},
        {" foo.test , EXAMPLE.com ", "www.Example.COM", 80, true},
        {"*", "anything.test", 443, true},
        {"*.example.com", "www.example.com", 80, false},  // "*" only alone
        {"example.com:8080", "example.com", 8080, true},
        {"example.com:8080", "example.com", 80, false},
        {"127.0.0.1", "127.0.0.1", 80, true},
        {"127.0.0.1", "127.0.0.10", 80, false},
        {"0.0.1", "127.0.0.1", 80, false},  // an IP literal is never a name suffix
        {"::1", "::1", 80, true},
        {"[::1]:8080", "::1", 8080, true},
        {"[::1]:8080", "::1", 80, false},
        {"", "example.com", 80, false},
        {",,", "example.com", 80, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ProxySettings::bypassed(row.noProxy, row.host, row.port), row.bypassed)
            << row.noProxy << " / " << row.host << ":" << row.port;
}

TEST(ProxySettingsTest, ProxyUrls) {
    ProxyServer server;
    EXPECT_EQ(ProxySettings::parseServer("http://user:p%40ss:x@proxy.test:3128/", server), "");
    EXPECT_EQ(server, (ProxyServer{"proxy.test", 3128, "user", "p%40ss:x"}));
    EXPECT_EQ(ProxySettings::parseServer("proxy.test", server), "");
    EXPECT_EQ(server.port, 1080);
    EXPECT_EQ(ProxySettings::parseServer("[::1]:8888", server), "");
    EXPECT_EQ(server.authority(), "[::1]:8888");
    EXPECT_EQ(ProxySettings::parseServer("socks5://proxy.test", server),
              "a proxy of the kind \"socks5\" is not supported");
    EXPECT_EQ(ProxySettings::parseServer("proxy.test:99999", server),
              "the proxy's port is not a number from 1 to 65535");
    EXPECT_EQ(ProxySettings::parseServer("http://:80", server), "the proxy has no host");
}

TEST(ProxySettingsTest, EnvironmentAsCurlReadsIt) {
    const auto settingsOf = [](std::map<std::string, std::string> env) {
        return ProxySettings::fromEnvironment([env](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
    };
    const ProxySettings both = settingsOf(
        {{"http_proxy", "http://a.test:1"}, {"HTTPS_PROXY", "b.test:2"}, {"NO_PROXY", "local.test"}});
    EXPECT_EQ(both.http.authority(), "a.test:1");
    EXPECT_EQ(both.https.authority(), "b.test:2");
    EXPECT_EQ(both.proxyFor(false, "www.local.test", 80), nullptr);
    EXPECT_EQ(both.proxyFor(true, "page.test", 443), &both.https);
    // HTTP_PROXY in capitals is what a CGI program gets from a request's "Proxy:" header.
    EXPECT_FALSE(settingsOf({{"HTTP_PROXY", "evil.test:1"}}).http.set());
    const ProxySettings all = settingsOf({{"ALL_PROXY", "c.test:3"}, {"https_proxy", "d.test:4"}});
    EXPECT_EQ(all.http.authority(), "c.test:3");
    EXPECT_EQ(all.https.authority(), "d.test:4");
    EXPECT_FALSE(settingsOf({{"http_proxy", "ftp://x"}}).any());
}

}  // namespace
}  // namespace vantrel
