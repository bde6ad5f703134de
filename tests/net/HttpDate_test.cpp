#include "net/HttpDate.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vantrel {
namespace {

constexpr int64_t kNov6th1994 = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

struct DateCase {
    const char16_t* text;
    std::optional<int64_t> expected;
};

TEST(HttpDateTest, ReadsTheThreeClassicFormsAndLenientVariants) {
    const DateCase cases[] = {
        {u"Sun, 06 Nov 1994 08:49:37 GMT", kNov6th1994},     // RFC 1123
        {u"Sunday, 06-Nov-94 08:49:37 GMT", kNov6th1994},    // RFC 850, two-digit year
        {u"Sun Nov  6 08:49:37 1994", kNov6th1994},          // asctime
        {u"sun, 6 NOVEMBER 1994 8:49:37 gmt", kNov6th1994},  // case, long month, one-digit fields
        {u"06 Nov 1994 08:49:37", kNov6th1994},              // no weekday, no zone
        {u"Nov 06 08:49:37 1994 +0200", kNov6th1994},        // the zone is ignored
        {u"Sun, 06 Nov 1994 08:49:37GMT", kNov6th1994},      // text after the seconds
        {u"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {u"Wed, 29 Feb 2024 23:59:59 GMT", 1709251199},  // leap day
        {u"Fri, 31 Dec 9999 23:59:59 GMT", 253402300799},
    };
    for (const DateCase& c : cases) {
        EXPECT_EQ(HttpDate::parse(c.text), c.expected)
            << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    }
}

TEST(HttpDateTest, TwoDigitYearsSplitAtSeventy) {
    EXPECT_EQ(HttpDate::parse(u"01-Jan-70 00:00:00"), 0);
    EXPECT_EQ(HttpDate::parse(u"31-Dec-99 23:59:59"), 946684799);
    EXPECT_EQ(HttpDate::parse(u"01-Jan-00 00:00:00"), 946684800);
    EXPECT_EQ(HttpDate::parse(u"01-Jan-69 00:00:00"), 3124224000);
}

TEST(HttpDateTest, YearsBefore1601AreRejected) {
    EXPECT_EQ(HttpDate::parse(u"Mon, 01 Jan 1601 00:00:00 GMT"), -11644473600);
    EXPECT_EQ(HttpDate::parse(u"31 Dec 1600 23:59:59"), std::nullopt);
    EXPECT_EQ(HttpDate::parse(u"01 Jan 100 00:00:00"), std::nullopt);  // three digits: not widened
}

TEST(HttpDateTest, IncompleteImpossibleOrGarbageTextGivesNothing) {
    const char16_t* cases[] = {
        u"",
        u"tomorrow",
        u"Sun, 06 Nov 1994",                // no time
        u"Sun, 06 1994 08:49:37 GMT",       // no month
        u"Sun, Nov 1994 08:49:37 GMT",      // no day of the month
        u"Sun, 06 Nov 08:49:37 GMT",        // no year
        u"Sun, 00 Nov 1994 08:49:37 GMT",   // day 0
        u"Sun, 32 Nov 1994 08:49:37 GMT",   // day 32
        u"Sun, 31 Nov 1994 08:49:37 GMT",   // a day November lacks
        u"Thu, 29 Feb 2023 08:49:37 GMT",   // not a leap year
        u"Sun, 06 Nov 1994 24:00:00 GMT",   // hour 24
        u"Sun, 06 Nov 1994 08:60:00 GMT",   // minute 60
        u"Sun, 06 Nov 1994 08:49:60 GMT",   // second 60
        u"Sun, 06 Nov 19945 08:49:37 GMT",  // five-digit year
        u"Sun, 06 Nov 1994 108:49:37 GMT",  // three-digit hour: not a time
        u"-1",
        u"$FFFFFFFF",
    };
    for (const char16_t* text : cases) {
        EXPECT_EQ(HttpDate::parse(text), std::nullopt)
            << std::string(text, text + std::char_traits<char16_t>::length(text));
    }
}

TEST(HttpDateTest, FormatWritesImfFixdateThatParseReadsBack) {
    EXPECT_EQ(HttpDate::format(kNov6th1994), u"Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(HttpDate::format(0), u"Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(HttpDate::format(-1), u"Wed, 31 Dec 1969 23:59:59 GMT");
    EXPECT_EQ(HttpDate::format(4102444800), u"Fri, 01 Jan 2100 00:00:00 GMT");
    for (int64_t t : {int64_t{-11644473600}, int64_t{-1}, int64_t{951782400}, int64_t{2147483647},
                      int64_t{2147483648} + 86400 * 365, int64_t{253402300799}}) {
        EXPECT_EQ(HttpDate::parse(HttpDate::format(t)), t) << t;
    }
}

}  // namespace
}  // namespace vantrel
