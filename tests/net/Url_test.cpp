#include "net/Url.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Text.h"
#include "net/PageFetcher.h"

namespace vantrel {
namespace {

std::string narrow(std::u16string_view text) {
    return ToUtf8(text);
}

struct SplitCase {
    const char16_t* text;
    UrlParts expected;
};

UrlParts parts(std::u16string scheme, std::u16string host, std::u16string port, std::u16string path,
               std::u16string document, std::u16string params = {}, std::u16string fragment = {}) {
    UrlParts p;
    p.scheme = std::move(scheme);
    p.host = std::move(host);
    p.port = std::move(port);
    p.path = std::move(path);
    p.document = std::move(document);
    p.params = std::move(params);
    p.fragment = std::move(fragment);
    return p;
}

void expectParts(const UrlParts& actual, const UrlParts& expected, const std::string& label) {
    EXPECT_EQ(narrow(actual.scheme), narrow(expected.scheme)) << label;
    EXPECT_EQ(narrow(actual.user), narrow(expected.user)) << label;
    EXPECT_EQ(narrow(actual.password), narrow(expected.password)) << label;
    EXPECT_EQ(narrow(actual.host), narrow(expected.host)) << label;
    EXPECT_EQ(narrow(actual.port), narrow(expected.port)) << label;
    EXPECT_EQ(narrow(actual.path), narrow(expected.path)) << label;
    EXPECT_EQ(narrow(actual.document), narrow(expected.document)) << label;
    EXPECT_EQ(narrow(actual.params), narrow(expected.params)) << label;
    EXPECT_EQ(narrow(actual.fragment), narrow(expected.fragment)) << label;
    EXPECT_EQ(actual.ipVersion, expected.ipVersion) << label;
}

TEST(UrlTest, SplitsAbsoluteUrls) {
    const std::vector<SplitCase> cases = {
        {u"http://host", parts(u"http", u"host", u"", u"/", u"")},
        {u"http://host/", parts(u"http", u"host", u"", u"/", u"")},
        // The fragment stays in the query when there is one.
        {u"http://host/p/q.html?x=1#top", parts(u"http", u"host", u"", u"/p/", u"q.html", u"x=1#top")},
        {u"http://host/p#top", parts(u"http", u"host", u"", u"/", u"p", u"", u"top")},
        {u"http://host/dir/#top", parts(u"http", u"host", u"", u"/dir/", u"", u"", u"top")},
        // Without "?" the first "=" splits the query, even in the path.
        {u"http://host/a=b", parts(u"http", u"host", u"", u"/", u"a", u"b")},
        {u"http://host/a/b.html?x=1=2?y", parts(u"http", u"host", u"", u"/a/", u"b.html", u"x=1=2?y")},
        // The query is split off before the authority, so a "/" in it is no path.
        {u"http://host?q=1/2", parts(u"http", u"host", u"", u"/", u"", u"q=1/2")},
        {u"HTTP://Host:080/A/", parts(u"HTTP", u"Host", u"080", u"/A/", u"")},
        {u"http://host:8080/a/b.html?x=1", parts(u"http", u"host", u"8080", u"/a/", u"b.html", u"x=1")},
        // Dot segments and blanks are kept as written.
        {u"http://host/a/./b/", parts(u"http", u"host", u"", u"/a/./b/", u"")},
        {u"http://host/a b/c d.html", parts(u"http", u"host", u"", u"/a b/", u"c d.html")},
        // "\" is "/" everywhere, the query included.
        {u"http:\\\\host\\dir\\x.html?a\\b", parts(u"http", u"host", u"", u"/dir/", u"x.html", u"a/b")},
        {u"ftp://host:21/f", parts(u"ftp", u"host", u"21", u"/", u"f")},
        {u"://x/y", parts(u"", u"x", u"", u"/", u"y")},
    };
    for (const SplitCase& c : cases) expectParts(Url::split(c.text), c.expected, narrow(c.text));
}

TEST(UrlTest, SplitsCredentialsAndIpv6Hosts) {
    UrlParts withUser = parts(u"http", u"host", u"8080", u"/", u"x");
    withUser.user = u"user";
    withUser.password = u"pw:more";
    expectParts(Url::split(u"http://user:pw:more@host:8080/x"), withUser, "user and password");

    UrlParts userOnly = parts(u"http", u"host", u"", u"/", u"");
    userOnly.user = u"user";
    expectParts(Url::split(u"http://user@host/"), userOnly, "user only");
    // A password with an empty user is dropped.
    expectParts(Url::split(u"http://:secret@host/"), parts(u"http", u"host", u"", u"/", u""), "no user");

    UrlParts v6 = parts(u"http", u"::1", u"8080", u"/a/", u"b");
    v6.ipVersion = 6;
    expectParts(Url::split(u"http://[::1]:8080/a/b"), v6, "IPv6 with port");
    v6.port.clear();
    expectParts(Url::split(u"http://[::1]/a/b"), v6, "IPv6 without port");
    v6.port = u"";
    v6.host = u"fe80::1";
    v6.path = u"/";
    v6.document.clear();
    expectParts(Url::split(u"http://[fe80::1]x"), v6, "text after the bracket without a colon");
    // "[" without a "]" after it is no IPv6 literal.
    expectParts(Url::split(u"http://a]b[c:9/"), parts(u"http", u"a]b[c", u"9", u"/", u""),
                "unpaired bracket");
}

TEST(UrlTest, SplitsTextWithoutSchemeIntoPathDocumentAndQuery) {
    const std::vector<SplitCase> cases = {
        {u"x.html", parts(u"", u"", u"", u"", u"x.html")},
        {u"host/page.html", parts(u"", u"", u"", u"host/", u"page.html")},
        {u"../up.html", parts(u"", u"", u"", u"../", u"up.html")},
        {u"\\next.html", parts(u"", u"", u"", u"/", u"next.html")},
        {u"dir/x.html?y=1/2", parts(u"", u"", u"", u"dir/", u"x.html", u"y=1/2")},
        {u"a/b=c/d", parts(u"", u"", u"", u"a/", u"b", u"c/d")},
        {u"user:pw@host:1/x", parts(u"", u"", u"", u"user:pw@host:1/", u"x")},
        {u"#top", parts(u"", u"", u"", u"", u"", u"", u"top")},
        {u"", parts(u"", u"", u"", u"", u"")},
    };
    for (const SplitCase& c : cases) expectParts(Url::split(c.text), c.expected, narrow(c.text));
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
    UrlParts current = Url::resolve({}, u"https://secure.test/a/");
    EXPECT_EQ(narrow(current.scheme), "https");
    current = Url::resolve(current, u"b.html");
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
    current = Url::resolve({}, u"https://h:80/");
    EXPECT_EQ(narrow(Url::hostValue(current)), "h");
}

TEST(UrlTest, RelativeHopOnAnIpv6HostStaysIpv6WithBracketedHostValue) {
    UrlParts current = Url::resolve({}, u"http://[::1]:8080/dir/a.html");
    EXPECT_EQ(current.ipVersion, 6);
    EXPECT_EQ(narrow(Url::hostValue(current)), "[::1]:8080");
    current = Url::resolve(current, u"b.html");
    EXPECT_EQ(current.ipVersion, 6);
    EXPECT_EQ(narrow(current.host), "::1");
    EXPECT_EQ(narrow(Url::requestTarget(current)), "/dir/b.html");
    current = Url::resolve(current, u"http://[::1]/");
    EXPECT_EQ(narrow(Url::hostValue(current)), "[::1]");
    current = Url::resolve(current, u"http://v4.test/");
    EXPECT_EQ(current.ipVersion, 4);
}

TEST(UrlTest, CredentialsStayWithTheirHost) {
    UrlParts current = Url::resolve({}, u"http://user:pw@host/a/");
    current = Url::resolve(current, u"b.html");
    EXPECT_EQ(narrow(current.user), "user");
    EXPECT_EQ(narrow(current.password), "pw");
    current = Url::resolve(current, u"http://elsewhere/");
    EXPECT_EQ(narrow(current.user), "");
    EXPECT_EQ(narrow(current.password), "");
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
