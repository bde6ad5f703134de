#include "net/CookieStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/HttpDate.h"
#include "text/Text.h"

namespace vantrel {
namespace {

constexpr long long kStart = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
long long fakeNow = kStart;
long long fakeClock() {
    return fakeNow;
}

class CookieStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { fakeNow = kStart; }

    void set(std::vector<std::u16string> values, std::u16string_view host = u"h") {
        store.storeFrom(values, {}, host);
    }
    std::string header(std::u16string_view host = u"h", std::u16string_view path = u"/") {
        return ToUtf8(store.cookieHeaderFor(host, path));
    }
    const StoredCookie& only() {
        EXPECT_EQ(store.domains().size(), 1u);
        EXPECT_EQ(store.domains().front().cookies.size(), 1u);
        return store.domains().front().cookies.front();
    }

    CookieStore store{&fakeClock};
};

TEST_F(CookieStoreTest, TwoCookiesFromOneResponseAreSentInOrder) {
    set({u"a=1", u"b=2"});
    EXPECT_EQ(header(), "a=1; b=2");
    EXPECT_EQ(header(u"other"), "");
}

TEST_F(CookieStoreTest, ParsesEveryAttribute) {
    set(
        {u" n = v\"q\" ;; path=\"/p/\" ; EXPIRES=Sun, 06 Nov 2094 08:49:37 GMT; domain=h; Secure; "
         u"max-age= 7 ; version=1; comment=why; CommentURL=u; discard; port=\"81\""});
    const StoredCookie& c = only();
    EXPECT_EQ(ToUtf8(c.name), "n ");
    EXPECT_EQ(ToUtf8(c.value), " v\"q\"");
    EXPECT_EQ(ToUtf8(c.path), "/p/");
    EXPECT_EQ(ToUtf8(c.expires), "Sun, 06 Nov 2094 08:49:37 GMT");  // EXPIRES wins over MAX-AGE
    EXPECT_EQ(ToUtf8(c.domain), "h");
    EXPECT_TRUE(c.secure);
    EXPECT_EQ(c.maxAge, 7);
    EXPECT_EQ(ToUtf8(c.version), "1");
    EXPECT_EQ(ToUtf8(c.comment), "why");
    // Only read from "Set-cookie2" lines.
    EXPECT_EQ(ToUtf8(c.commentUrl), "");
    EXPECT_FALSE(c.discard);
    EXPECT_TRUE(c.ports.empty());
}

TEST_F(CookieStoreTest, SetCookie2FieldsAndOrderAfterSetCookie) {
    store.storeFrom({u"d=4"}, {u"c=3; CommentURL=http://x/; DISCARD; Port=\"80, 8080\"", u"e=5; port=81"},
                    u"h");
    EXPECT_EQ(header(), "d=4; c=3; e=5");
    const auto& cookies = store.domains().front().cookies;
    EXPECT_EQ(ToUtf8(cookies[1].commentUrl), "http://x/");
    EXPECT_TRUE(cookies[1].discard);
    EXPECT_EQ(cookies[1].ports, (std::vector<int>{80, 8080}));
    EXPECT_EQ(cookies[2].ports, (std::vector<int>{80}));  // not a quoted list
}

TEST_F(CookieStoreTest, PathRules) {
    set({u"a=1; path=/dir", u"b=2; path=/dir/", u"c=3; path = /x", u"d=4; PATH=", u"e=5; Path=\"/dir\""});
    EXPECT_EQ(header(u"h", u"/"), "c=3; d=4");  // "path = /x" is no PATH attribute
    EXPECT_EQ(header(u"h", u"/dir/"), "a=1; b=2; c=3; d=4; e=5");
    EXPECT_EQ(header(u"h", u"/directory/"), "a=1; c=3; d=4; e=5");
    EXPECT_EQ(header(u"h", u"/DIR/"), "c=3; d=4");  // case-sensitive
    EXPECT_EQ(ToUtf8(store.domains().front().cookies[2].path), "/");
}

TEST_F(CookieStoreTest, SecureAndEmptyValuedCookiesAreStoredButNeverSent) {
    set({u"s=1; secure", u"t=2; SECURE=yes", u"e=", u"noequals", u"v=3"});
    EXPECT_EQ(header(), "t=2; v=3");
    EXPECT_EQ(store.domains().front().cookies.size(), 5u);
}

TEST_F(CookieStoreTest, SameNameReplacesInPlaceIgnoringCase) {
    set({u"a=1; path=/x/", u"b=2"});
    set({u"A=3; path=/"});
    EXPECT_EQ(header(), "A=3; b=2");
    const StoredCookie& first = store.domains().front().cookies.front();
    EXPECT_EQ(ToUtf8(first.path), "/");
    EXPECT_EQ(ToUtf8(first.name), "A");
}

TEST_F(CookieStoreTest, DomainAttributeAndEntryOrder) {
    set({u"x=1"}, u"a.site.test");
    set({u"y=2; domain=.site.test"}, u"a.site.test");
    set({u"z=3; domain=site.test"}, u"a.site.test");   // no leading ".": only that exact host
    set({u"w=4; domain=.SITE.test"}, u"B.site.test");  // joins the ".site.test" entry
    set({u"v=5"}, u"A.SITE.TEST");                     // joins the "a.site.test" entry
    ASSERT_EQ(store.domains().size(), 2u);
    // Entries matched last come first; within one entry the stored order.
    EXPECT_EQ(header(u"a.site.test"), "y=2; w=4; x=1; v=5");
    EXPECT_EQ(header(u"b.site.test"), "y=2; w=4");
    EXPECT_EQ(header(u"site.test"), "");
}

TEST_F(CookieStoreTest, DomainMatch) {
    struct Case {
        const char16_t* host;
        const char16_t* domain;
        bool match;
    };
    const Case cases[] = {
        {u"h.site.test", u".site.test", true},
        {u"H.SITE.test", u".site.TEST", true},
        {u"site.test", u".site.test", false},
        {u"h.site.test", u"site.test", false},
        {u"site.test", u"SITE.TEST", true},
        {u".site.test", u".site.test", false},
        {u"10.0.0.1", u"10.0.0.1", true},
        {u"10.0.0.1", u".0.0.1", false},     // an IPv4 host only matches itself
        {u" 10.0.0.1", u"10.0.0.1", false},  // recognised after trimming, compared as written
        {u"1.2.3.4.5", u".3.4.5", false},    // the first four parts decide
        {u"1.2.3.256", u".2.3.256", true},   // not an IPv4 address
        {u"1.2.3", u"1.2.3", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CookieStore::domainMatch(c.host, c.domain), c.match)
            << ToUtf8(c.host) << " " << ToUtf8(c.domain);
    }
}

TEST_F(CookieStoreTest, CookieForAnotherDomainIsDropped) {
    set({u"a=1; domain=site.test", u"b=2; domain=.other.test", u"c=3; domain=.site.test"}, u"h.site.test");
    ASSERT_EQ(store.domains().size(), 1u);
    EXPECT_EQ(ToUtf8(store.domains().front().domain), ".site.test");
    EXPECT_EQ(header(u"x.site.test"), "c=3");
}

TEST_F(CookieStoreTest, ExpiryRules) {
    set({u"gone=1; max-age=0", u"soon=2; Max-Age=60", u"past=3; expires=Sat, 05 Nov 1994 08:49:37 GMT",
         u"odd=4; expires=someday", u"stay=5", u"neg=6; max-age=-5"});
    EXPECT_EQ(ToUtf8(store.domains().front().cookies[1].expires), "Sun, 06 Nov 1994 08:50:37 GMT");
    EXPECT_EQ(header(), "soon=2; odd=4; stay=5; neg=6");
    fakeNow = kStart + 59;
    EXPECT_EQ(header(), "soon=2; odd=4; stay=5; neg=6");
    fakeNow = kStart + 60;
    EXPECT_EQ(header(), "odd=4; stay=5; neg=6");
    fakeNow = kStart + 100LL * 365 * 86400;  // unreadable and absent expiries never run out
    EXPECT_EQ(header(), "odd=4; stay=5; neg=6");
}

TEST_F(CookieStoreTest, ServerDeletesACookieWithAPastExpiry) {
    set({u"sid=abc", u"lang=en"});
    set({u"sid=; expires=Thu, 01 Jan 1970 00:00:00 GMT"});
    EXPECT_EQ(header(), "lang=en");
    ASSERT_EQ(store.domains().front().cookies.size(), 1u);
    set({u"sid=new"});  // comes back after the others
    EXPECT_EQ(header(), "lang=en; sid=new");
}

TEST_F(CookieStoreTest, ControlCharactersInNameOrValueDropTheCookie) {
    set({u"a=1\rX-Injected: yes", u"b\n=2", std::u16string(u"c=3\0x", 5), u"d=\x7f", u"e=tab\there"});
    EXPECT_EQ(header(), "e=tab\there");
}

TEST_F(CookieStoreTest, CookieSizeLimit) {
    const std::u16string name = u"n";
    set({name + u"=" + std::u16string(kMaxCookieNameValueChars - 1, u'v')});
    set({u"m=" + std::u16string(kMaxCookieNameValueChars, u'v')});
    ASSERT_EQ(store.domains().front().cookies.size(), 1u);
    EXPECT_EQ(ToUtf8(store.domains().front().cookies.front().name), "n");
}

TEST_F(CookieStoreTest, PerDomainLimitEvictsTheOldest) {
    std::vector<std::u16string> values;
    for (size_t i = 0; i < kMaxCookiesPerDomain; ++i)
        values.push_back(std::u16string(u"c").append(IntToText(i)).append(u"=1"));
    set(values);
    ASSERT_EQ(store.domains().front().cookies.size(), kMaxCookiesPerDomain);
    set({u"c0=2"});  // a replacement evicts nothing
    ASSERT_EQ(store.domains().front().cookies.size(), kMaxCookiesPerDomain);
    set({u"new=1"});
    const auto& cookies = store.domains().front().cookies;
    ASSERT_EQ(cookies.size(), kMaxCookiesPerDomain);
    EXPECT_EQ(ToUtf8(cookies.front().name), "c1");
    EXPECT_EQ(ToUtf8(cookies.back().name), "new");
}

TEST_F(CookieStoreTest, TotalLimitEvictsFromTheFullestDomain) {
    const size_t fullDomains = kMaxCookies / kMaxCookiesPerDomain;  // 16 full entries
    for (size_t d = 0; d < fullDomains; ++d) {
        std::vector<std::u16string> values;
        for (size_t i = 0; i < kMaxCookiesPerDomain; ++i)
            values.push_back(std::u16string(u"c").append(IntToText(i)).append(u"=1"));
        set(values, std::u16string(u"h").append(IntToText(d)));
    }
    std::vector<std::u16string> rest;
    for (size_t i = 0; i < kMaxCookies - fullDomains * kMaxCookiesPerDomain; ++i) {
        rest.push_back(std::u16string(u"r").append(IntToText(i)).append(u"=1"));
    }
    set(rest, u"small");
    size_t total = 0;
    for (const auto& entry : store.domains()) total += entry.cookies.size();
    ASSERT_EQ(total, kMaxCookies);

    set({u"one=more"}, u"late");
    ASSERT_EQ(store.domains().size(), fullDomains + 2);
    EXPECT_EQ(store.domains()[0].cookies.size(), kMaxCookiesPerDomain - 1);
    EXPECT_EQ(ToUtf8(store.domains()[0].cookies.front().name), "c1");
    EXPECT_EQ(header(u"late"), "one=more");
}

}  // namespace
}  // namespace vantrel
