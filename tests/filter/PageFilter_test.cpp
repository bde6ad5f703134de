#include "filter/PageFilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/Crc32.h"
#include "text/Text.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

PageFilterSettings Css(std::u16string selector, bool visible = false) {
    PageFilterSettings s;
    s.selector = std::move(selector);
    s.visibleTextOnly = visible;
    return s;
}
PageFilterSettings XPath(std::u16string selector, bool visible = false) {
    PageFilterSettings s = Css(std::move(selector), visible);
    s.selectorKind = SelectorKind::XPath;
    return s;
}
PageFilterSettings Visible(std::vector<std::u16string> ignore = {}) {
    PageFilterSettings s;
    s.visibleTextOnly = true;
    s.ignorePatterns = std::move(ignore);
    return s;
}
PageFilterSettings Ignore(std::vector<std::u16string> patterns) {
    PageFilterSettings s;
    s.ignorePatterns = std::move(patterns);
    return s;
}

// The filtered text, or "!" and the reason of a failure.
std::string Filter(std::u16string_view page, const PageFilterSettings& settings, std::string_view type = {},
                   std::chrono::milliseconds limit = limits::kFilterTimeLimit) {
    const FilterResult r = ApplyFilters(std::u16string(page), settings, type, limit);
    EXPECT_EQ(r.ok(), r.reason.empty());
    return r.ok() ? ToUtf8(r.text) : "!" + r.reason;
}

// A shop page on two loads: a session token in a hidden field and a script, and a clock.
std::u16string Shop(std::u16string_view token, std::u16string_view clock) {
    return u"<!DOCTYPE html><html><head><title>Shop</title><style>p{color:red}</style>\n"
           u"<script>var session = '" +
           std::u16string(token) +
           u"';</script></head>\n<body>\n"
           u"<form><input type=hidden name=csrf value=" +
           std::u16string(token) +
           u"></form>\n"
           u"<h1 class=\"title main\">Prices</h1><!-- served by node 7 -->\n"
           u"<p id=clock>Updated <b>" +
           std::u16string(clock) +
           u"</b></p>\n"
           u"<ul><li class=item>Tea <i>3</i> EUR</li><li class=\"item sale\">Cake 2 "
           u"EUR</li><li>Total</li></ul>\n"
           u"<table><tr><td>a</td><td>b</td></tr></table>\n"
           u"<div data-id=\"x-1\" title=\"it's &quot;q&quot;\">tail</div>\n</body></html>\n";
}

TEST(PageFilterTest, NoiseIsFilteredAwayAndRealChangesRemain) {
    const std::u16string first = Shop(u"tok-111", u"12:00:01");
    const std::u16string tokenOnly = Shop(u"tok-222", u"12:00:01");
    const std::u16string both = Shop(u"tok-222", u"12:00:02");
    const std::string visible = "Prices\nUpdated 12:00:01\nTea 3 EUR\nCake 2 EUR\nTotal\na b\ntail";
    EXPECT_EQ(Filter(first, Visible()), visible);
    EXPECT_EQ(Filter(tokenOnly, Visible()), visible);
    EXPECT_NE(Filter(both, Visible()), visible);
    EXPECT_NE(Filter(first, {}), Filter(tokenOnly, {}));

    const auto clockRule = Visible({u"^Updated \\d\\d:\\d\\d:\\d\\d$"});
    EXPECT_EQ(Filter(first, clockRule), "Prices\nTea 3 EUR\nCake 2 EUR\nTotal\na b\ntail");
    EXPECT_EQ(Filter(both, clockRule), Filter(first, clockRule));
    // An ignore rule alone works on the raw lines of the page.
    EXPECT_EQ(Filter(both, Ignore({u"Updated", u"tok-"})), Filter(first, Ignore({u"Updated", u"tok-"})));
    // A real change is still seen through every filter.
    std::u16string dearer = first;
    dearer.replace(dearer.find(u"Tea <i>3"), 8, u"Tea <i>4");
    EXPECT_NE(Filter(dearer, clockRule), Filter(first, clockRule));
}

TEST(PageFilterTest, SelectorsTakeTheSelectedElementsText) {
    const std::u16string page = Shop(u"tok", u"12:00");
    const struct {
        PageFilterSettings settings;
        std::string expected;
    } rows[] = {
        {Css(u"#clock"), "Updated 12:00"},
        {Css(u"H1.main.title"), "Prices"},
        {Css(u"ul > li.item"), "Tea 3 EUR\nCake 2 EUR"},
        {Css(u"body li:not(.x)"), "!CSS selector: unsupported pseudo-class ':not' at character 8"},
        {Css(u"table td, h1"), "Prices\na\nb"},  // a list gives document order
        {Css(u"[class~=sale], [data-id^=x-], [data-id$='-1'], [data-id*=\"-\"]"), "Cake 2 EUR\ntail"},
        {Css(u"div[title=\"it's \\\"q\\\"\"]"), "tail"},
        {Css(u"[data-id|=x]"), "tail"},
        {Css(u"p.missing"), "!Filter matched nothing"},
        {Css(u"ul li i"), "3"},
        {Css(u"ul, li"), "Tea 3 EURCake 2 EURTotal"},  // items inside the list are not repeated
        {Css(u"ul", true), "Tea 3 EUR\nCake 2 EUR\nTotal"},
        {XPath(u"//h1"), "Prices"},
        {XPath(u"//li[contains(., 'EUR')]"), "Tea 3 EUR\nCake 2 EUR"},
        {XPath(u"//input/@value"), "tok"},
        {XPath(u"count(//li)"), "3"},
        {XPath(u"//table//th"), "!Filter matched nothing"},
        {XPath(u"string(//nothing)"), "!Filter matched nothing"},
        {XPath(u"//script"), "var session = 'tok';"},
        {XPath(u"//script", true), "!Filter left no text"},
        {XPath(u"//li[1]/..", true), "Tea 3 EUR\nCake 2 EUR\nTotal"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(ToUtf8(row.settings.selector));
        EXPECT_EQ(Filter(page, row.settings), row.expected);
    }
    // Raw text is the text nodes as they stand, line ends included.
    EXPECT_EQ(Filter(u"<body>\n<p>one</p>\r\n<p>two</p></body>", Css(u"body")), "\none\r\ntwo");
}

TEST(PageFilterTest, HostileAndNonHtmlPages) {
    // Unclosed, misnested and stray tags are recovered as a browser would.
    EXPECT_EQ(Filter(u"<div><p>one<p>two</div><b>three<i>four</b></i></x><td>cell<li>item", Visible()),
              "one\ntwo\nthreefour cell\nitem");
    EXPECT_EQ(Filter(u"<p>a <script>if (a < b && c > d) x = '</p>'</script> b", Visible()), "a b");
    EXPECT_EQ(
        Filter(u"<p>caf\u00e9 <meta charset=iso-8859-1>\u20ac \U0001F600</p><pre> x\n  y </pre>", Visible()),
        "caf\u00e9 \u20ac \U0001F600\nx\ny");
    // A NUL and an unpaired surrogate do not stop the parse.
    const std::u16string odd = std::u16string(u"<p>a\0b", 6) + char16_t(0xD800) + u"</p><p>c";
    EXPECT_EQ(Filter(odd, Visible()), "a b\uFFFD\nc");

    // Plain text passes "visible text only" unchanged: by its type, or by not opening with markup.
    const std::u16string plain = u"Temperature < 20 &amp; rising\n\n   spaced   out  \r\n";
    EXPECT_EQ(Filter(plain, Visible()), ToUtf8(plain));
    EXPECT_EQ(Filter(u"<p>x</p>\n", Visible(), "text/plain; charset=utf-8"), "<p>x</p>\n");
    EXPECT_EQ(Filter(u"before <p>x</p>", Visible(), " Text/HTML ; charset=utf-8"), "before\nx");
    EXPECT_EQ(Filter(u"\uFEFF \n<!doctype html><p>x", Visible()), "x");
    // A selector always parses the page as HTML.
    EXPECT_EQ(Filter(u"just text", XPath(u"//p"), "text/plain"), "just text");

    std::u16string deep;
    for (int i = 0; i < 20000; ++i) deep += u"<div>";
    EXPECT_EQ(Filter(deep + u"x", Visible()), "!Page nested too deeply to filter (over 256 levels)");

    // One limit whatever the filter: each path would hold copies of a huge text.
    const std::u16string large(limits::kMaxFilterTextBytes + 1, u'a');
    for (const PageFilterSettings& settings : {Css(u"p"), Visible(), Ignore({u"^b"})})
        EXPECT_EQ(Filter(large, settings, "text/plain"), "!Page too large to filter (over 16 MiB)");
    // Under the limit in characters, over it in bytes.
    EXPECT_EQ(Filter(std::u16string(limits::kMaxFilterTextBytes / 3 + 1, u'\u20ac'), Ignore({u"^b"})),
              "!Page too large to filter (over 16 MiB)");
    // Without filters the size does not matter.
    EXPECT_EQ(ApplyFilters(large, PageFilterSettings{}).text.size(), large.size());
}

TEST(PageFilterTest, IgnoredLinesAreDroppedAndOthersKeptExactly) {
    EXPECT_EQ(Filter(u"keep\r\nTime 10:01\r\nkeep too\nlast", Ignore({u"^Time \\d+:\\d+$"})),
              "keep\r\nkeep too\nlast");
    EXPECT_EQ(Filter(u"a\nb\nc", Ignore({u"x", u"^[ac]$"})), "b\n");
    EXPECT_EQ(Filter(u"\u00c9t\u00e9 \U0001F600\nother", Ignore({u"^\\w\\w\\w \\x{1F600}$"})), "other");
    // An unpaired surrogate is a unit no pattern character matches, not an error.
    const std::u16string bad = u"bad " + std::u16string(1, char16_t(0xDC00)) + u" unit\nother";
    EXPECT_EQ(ApplyFilters(bad, Ignore({u"bad . unit"})).text, bad);
    EXPECT_EQ(Filter(bad, Ignore({u"^bad"})), "other");
    EXPECT_EQ(Filter(u"only\nlines", Ignore({u"."})), "!Filter left no text");
}

TEST(PageFilterTest, PageWithoutFiltersKeepsItsExactTextAndChecksum) {
    const std::u16string page = u"<html><body><p>Caf\u00e9 12:00</p></body></html>\r\n";
    PageFilterSettings none;
    none.failuresBeforeOffline = 3;  // not a text filter
    const FilterResult r = ApplyFilters(page, none, "text/html", 0ms);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.text, page);
    EXPECT_EQ(Crc32::checksumText(r.text), u"CRC of a text above is: CD8F8EE4");
    EXPECT_EQ(ApplyFilters(page, Ignore({u"nowhere"})).text, page);
}

TEST(PageFilterTest, InvalidSettingsAreRefusedWithTheParsersMessage) {
    using Field = FilterProblem::Field;
    const struct {
        PageFilterSettings settings;
        Field field;
        size_t index;
        std::string message;
    } rows[] = {
        {Css(u"div >"), Field::Selector, 0, "CSS selector: missing selector at character 6"},
        {Css(u"a + b"), Field::Selector, 0, "CSS selector: unsupported combinator '+' at character 3"},
        {Css(u"[x='open"), Field::Selector, 0, "CSS selector: unterminated string at character 4"},
        {Css(u"#1a"), Field::Selector, 0, "CSS selector: expected id '1' at character 2"},
        {Css(u"p,,a"), Field::Selector, 0, "CSS selector: unexpected ',' at character 3"},
        {XPath(u"//li["), Field::Selector, 0, "XPath: Invalid expression at character 6"},
        {XPath(u"//p[nosuch()]"), Field::Selector, 0, "XPath: Unregistered function nosuch()"},
        {XPath(u"//p[x:count(b)]"), Field::Selector, 0, "XPath: Unregistered function x:count()"},
        {XPath(u"//p[. = $x]"), Field::Selector, 0, "XPath: Undefined variable $x"},
        {Ignore({u"fine", u"(abc"}), Field::IgnorePattern, 1,
         "Ignore pattern 2: missing closing parenthesis at character 5"},
        {Ignore({u""}), Field::IgnorePattern, 0, "Ignore pattern 1 is empty"},
        {Ignore({u"a{2,1}"}), Field::IgnorePattern, 0,
         "Ignore pattern 1: numbers out of order in {} quantifier at character 6"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        const auto problem = ValidateFilters(row.settings);
        ASSERT_TRUE(problem.has_value());
        EXPECT_EQ(problem->field, row.field);
        EXPECT_EQ(problem->index, row.index);
        EXPECT_EQ(problem->message, row.message);
        // Settings that were saved anyway fail the check with the same message.
        const FilterResult r = ApplyFilters(u"<p>x</p>", row.settings);
        EXPECT_EQ(r.failure, FilterFailure::Invalid);
        EXPECT_EQ(r.reason, row.message);
    }
    PageFilterSettings s = Visible({u"^\\d+ minutes ago$"});
    s.selector = u"#main > .price, td[data-sku]";
    for (int n : {0, 1, 5, 6}) {
        s.failuresBeforeOffline = n;
        EXPECT_EQ(ValidateFilters(s).has_value(), n == 0 || n == 6) << n;
    }
    // Names that only look like calls: operators, node tests, quoted text.
    EXPECT_FALSE(ValidateFilters(XPath(u"//p[1 and (2) or node() mod (3) div (1)]/text()[. != 'f($x)']")));
}

TEST(PageFilterTest, SlowFiltersFailWithinTheTimeLimit) {
    std::u16string longLine(30000, u'a');
    EXPECT_EQ(Filter(u"first\n" + longLine + u"b\nlast", Ignore({u"^(a+)+$"})),
              "!Ignore pattern 1 gave up on line 2: match limit exceeded");

    std::u16string flat;
    for (int i = 0; i < 20000; ++i) flat += u"<p>x</p>";
    EXPECT_EQ(Filter(flat, XPath(u"//*[count(//*) > 0]")),
              "!Selector gave up: XPath: Operation limit exceeded");

    // Work libxml2 does not count as operations, and the parse itself, are stopped at the deadline.
    EXPECT_EQ(Filter(flat, XPath(u"//p[contains(string(/), 'zz')]"), {}, 200ms),
              "!Filter took longer than 200 ms");
    std::u16string items;
    for (int i = 0; i < 250000; ++i) items += u"<li>";
    EXPECT_EQ(Filter(items, Visible(), {}, 20ms), "!Filter took longer than 20 ms");

    // The deadline is looked at between steps and lines, whatever filter is running.
    std::u16string lines;
    for (int i = 0; i < 2000; ++i) lines += u"<p>line</p>\n";
    EXPECT_EQ(Filter(lines, Visible(), {}, 0ms), "!Filter took longer than 0 ms");
    EXPECT_EQ(Filter(lines, Ignore({u"x"}), {}, 0ms), "!Filter took longer than 0 ms");
}

}  // namespace
}  // namespace vantrel
