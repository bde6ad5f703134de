#include "net/Url.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/FetchError.h"
#include "text/Text.h"

namespace vantrel {
namespace {

std::string narrow(std::u16string_view text) {
    return ToUtf8(text);
}

// scheme|user|password|host|port|path|document|params|fragment|ipVersion
std::string describe(const UrlParts& p) {
    return narrow(p.scheme + u"|" + p.user + u"|" + p.password + u"|" + p.host + u"|" + p.port + u"|" +
                  p.path + u"|" + p.document + u"|" + p.params + u"|" + p.fragment + u"|") +
           std::to_string(p.ipVersion);
}

struct SplitCase {
    const char16_t* text;
    const char* expected;
};

void expectSplits(const std::vector<SplitCase>& cases) {
    for (const SplitCase& c : cases) EXPECT_EQ(describe(Url::split(c.text)), c.expected) << narrow(c.text);
}

TEST(UrlTest, SplitsAbsoluteUrls) {
    expectSplits({
        {u"http://host", "http|||host||/||||4"},
        {u"http://host/", "http|||host||/||||4"},
        // The fragment stays in the query when there is one.
        {u"http://host/p/q.html?x=1#top", "http|||host||/p/|q.html|x=1#top||4"},
        {u"http://host/p#top", "http|||host||/|p||top|4"},
        {u"http://host/dir/#top", "http|||host||/dir/|||top|4"},
        // Without "?" the first "=" splits the query, even in the path.
        {u"http://host/a=b", "http|||host||/|a|b||4"},
        {u"http://host/a/b.html?x=1=2?y", "http|||host||/a/|b.html|x=1=2?y||4"},
        // The query is split off before the authority, so a "/" in it is no path.
        {u"http://host?q=1/2", "http|||host||/||q=1/2||4"},
        {u"HTTP://Host:080/A/", "HTTP|||Host|080|/A/||||4"},
        // Dot segments and blanks are kept as written.
        {u"http://host/a/./b/", "http|||host||/a/./b/||||4"},
        {u"http://host/a b/c d.html", "http|||host||/a b/|c d.html|||4"},
        // "\" is "/" everywhere, the query included.
        {u"http:\\\\host\\dir\\x.html?a\\b", "http|||host||/dir/|x.html|a/b||4"},
        {u"://x/y", "|||x||/|y|||4"},
    });
}

TEST(UrlTest, SplitsCredentialsAndIpv6Hosts) {
    expectSplits({
        {u"http://user:pw:more@host:8080/x", "http|user|pw:more|host|8080|/|x|||4"},
        {u"http://user@host/", "http|user||host||/||||4"},
        {u"http://:secret@host/", "http|||host||/||||4"},  // a password without a user is dropped
        {u"http://[::1]:8080/a/b", "http|||::1|8080|/a/|b|||6"},
        {u"http://[::1]/a/b", "http|||::1||/a/|b|||6"},
        {u"http://[fe80::1]x", "http|||fe80::1||/||||6"},
        {u"http://a]b[c:9/", "http|||a]b[c|9|/||||4"},  // "[" without a "]" after it
    });
}

TEST(UrlTest, SplitsTextWithoutSchemeIntoPathDocumentAndQuery) {
    expectSplits({
        {u"x.html", "||||||x.html|||4"},
        {u"host/page.html", "|||||host/|page.html|||4"},
        {u"../up.html", "|||||../|up.html|||4"},
        {u"\\next.html", "|||||/|next.html|||4"},
        {u"dir/x.html?y=1/2", "|||||dir/|x.html|y=1/2||4"},
        {u"a/b=c/d", "|||||a/|b|c/d||4"},
        {u"user:pw@host:1/x", "|||||user:pw@host:1/|x|||4"},
        {u"#top", "||||||||top|4"},
    });
}

// One get after another: each text is resolved against the URL the previous one produced.
struct Hop {
    const char16_t* text;
    const char* target;  // request target, or nullptr when resolve must fail
    const char* host;    // "Host" value
};

void runHops(const std::vector<Hop>& hops) {
    UrlParts current;
    for (const Hop& hop : hops) {
        if (hop.target == nullptr) {
            try {
                Url::resolve(current, hop.text);
                ADD_FAILURE() << "resolved: " << narrow(hop.text);
            } catch (const FetchError& e) {
                EXPECT_STREQ(e.what(), "Unknown Protocol") << narrow(hop.text);
            }
            continue;
        }
        current = Url::resolve(current, hop.text);
        EXPECT_EQ(narrow(Url::requestTarget(current)), hop.target) << narrow(hop.text);
        EXPECT_EQ(narrow(Url::hostValue(current)), hop.host) << narrow(hop.text);
    }
}

TEST(UrlTest, AbsoluteUrlsGiveRequestTargetAndHostValue) {
    runHops({
        {u"http://host", "/", "host"},
        {u"http://host:8080/a/b.html?x=1", "/a/b.html?x=1", "host:8080"},
        {u"http://host:80/", "/", "host"},
        {u"http://host:080/", "/", "host:080"},
        {u"https://host/", "/", "host:443"},
        {u"HTTP://host/x", "/x", "host"},
        {u"http://user:pw@host/x", "/x", "host"},
        {u"http://host/a b/c.html", "/a b/c.html", "host"},
        {u"http://host/a/./b/../c", "/a/./b/../c", "host"},
        {u"http://host/p#top", "/p", "host"},
        {u"http://host/p/q.html?x=1#top", "/p/q.html?x=1#top", "host"},
        {u"http://host/a=b", "/a?b", "host"},
        {u"http://h\u00e9/\u00fc", "/\u00fc",
         "h\u00e9"},  // passed through; the wire encoding is the fetcher's
    });
}

TEST(UrlTest, TextWithoutSchemeResolvesAgainstThePreviousHop) {
    runHops({
        {u"host/page.html", nullptr, nullptr},  // nothing requested yet
        {u"http://host/dir/x.html", "/dir/x.html", "host"},
        {u"host/page.html", "/dir/host/page.html", "host"},
        {u"http://host/dir/page.html", "/dir/page.html", "host"},
        {u"next.html", "/dir/next.html", "host"},
        {u"\\next.html", "/next.html", "host"},
        {u"http://host:81/a/b/c.html", "/a/b/c.html", "host:81"},
        {u"../up.html", "/a/up.html", "host:81"},
        {u"../../../../x", "/x", "host:81"},
        {u"q?a=1", "/q?a=1", "host:81"},
        {u"http://other/", "/", "other"},  // another page's host becomes the base
        {u"x.html", "/x.html", "other"},
    });
}

TEST(UrlTest, SchemeAndPortRules) {
    UrlParts current = Url::resolve(Url::resolve({}, u"https://secure.test/a/"), u"b.html");
    EXPECT_EQ(narrow(current.scheme), "https");  // https is kept for text without a scheme
    EXPECT_EQ(narrow(current.port), "443");

    current = Url::resolve(Url::resolve({}, u"HTTPS://secure.test:8443/"), u"b.html");
    EXPECT_EQ(narrow(current.scheme), "https");
    EXPECT_EQ(narrow(Url::hostValue(current)), "secure.test:8443");

    current = Url::resolve(Url::resolve({}, u"ftp://files:2121/"), u"b.html");
    EXPECT_EQ(narrow(current.scheme), "http");
    EXPECT_EQ(narrow(current.port), "2121");

    // Another scheme without a port keeps the previous port, or fails without one.
    current = Url::resolve(Url::resolve({}, u"http://host:8080/"), u"gopher://other/x");
    EXPECT_EQ(narrow(current.scheme), "gopher");
    EXPECT_EQ(narrow(Url::hostValue(current)), "other:8080");
    runHops({{u"gopher://other/x", nullptr, nullptr}, {u"gopher://other:70/x", "/x", "other:70"}});
    // An explicit port wins over the scheme's.
    EXPECT_EQ(narrow(Url::hostValue(Url::resolve({}, u"https://h:80/"))), "h");
}

TEST(UrlTest, RelativeHopOnAnIpv6HostStaysIpv6WithBracketedHostValue) {
    UrlParts current = Url::resolve({}, u"http://[::1]:8080/dir/a.html");
    EXPECT_EQ(narrow(Url::hostValue(current)), "[::1]:8080");
    current = Url::resolve(current, u"b.html");
    EXPECT_EQ(describe(current), "http|||::1|8080|/dir/|b.html|||6");
    EXPECT_EQ(narrow(Url::hostValue(Url::resolve(current, u"http://[::1]/"))), "[::1]");
    EXPECT_EQ(Url::resolve(current, u"http://v4.test/").ipVersion, 4);
}

TEST(UrlTest, CredentialsStayWithTheirHost) {
    UrlParts current = Url::resolve(Url::resolve({}, u"http://user:pw@host/a/"), u"b.html");
    EXPECT_EQ(describe(current), "http|user|pw|host|80|/a/|b.html|||4");
    EXPECT_EQ(describe(Url::resolve(current, u"http://elsewhere/")), "http|||elsewhere|80|/||||4");
}

TEST(UrlTest, ConnectionKeyNamesWhatTheFirstRequestOpens) {
    struct Case {
        const char16_t* url;
        const char* key;
    };
    const Case cases[] = {
        {u"http://a.test/x", "a.test:80"},
        {u"HTTP://User:pw@A.Test/x?y", "a.test:80"},  // credentials and case do not count
        {u"http://a.test:080/", "a.test:80"},         // the port as a number
        {u"http://a.test:/", "a.test:80"},            // an empty port is the scheme's
        {u"http://a.test:8080/#f", "a.test:8080"},
        {u"https://a.test/", "a.test:443 tls"},
        {u"HTTPS://a.test:80/", "a.test:80 tls"},  // TLS to port 80: not the plain connection
        // Any other scheme is fetched as plain HTTP, so it shares the server's connection.
        {u"ftp://127.0.0.1:8080/x", "127.0.0.1:8080"},
        {u"http://[::1]/", "[::1]:80"},
        {u"http://[FE80::1]:81/", "[fe80::1]:81"},
        // No port can be known, or no scheme: nothing is opened.
        {u"ftp://a.test/x", ""},
        {u"a.test/x", ""},
        {u" http://a.test/", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(narrow(Url::connectionKey(c.url)), c.key) << narrow(c.url);
}

TEST(UrlTest, ResolvePath) {
    struct Case {
        const char16_t* base;
        const char16_t* path;
        const char* expected;
    };
    const Case cases[] = {
        {u"/a/b/", u"/x/../y/./", "/x/../y/./"},  // absolute: unchanged
        {u"/dir/", u"", "/dir/"},
        {u"", u"", ""},
        {u"/a/b/", u"../", "/a/"},
        {u"/a/b/", u"../../../", "/"},
        {u"/a/b/", u"..", "/a"},  // no trailing "/" in P: none in the result
        {u"/a/b", u"c/", "/a/b/c/"},
        {u"/a//b/", u"c//d/", "/a/b/c/d/"},  // runs of "/" collapse
        {u"/a/b/", u"./c/", "/a/b/./c/"},    // a lone "." is kept
        {u"/a/", u"x", "/a/x"},
        {u"a", u"b/", "a/b/"},
        {u"", u"../x/", "../x/"},  // nothing to remove before the first "/"
        {u"/", u"../", "/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(narrow(Url::resolvePath(c.base, c.path)), c.expected)
            << narrow(c.base) << " + " << narrow(c.path);
    }
}

}  // namespace
}  // namespace vantrel
