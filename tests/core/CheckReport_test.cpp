#include "core/CheckReport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "text/Text.h"

namespace vantrel {
namespace {

TEST(CheckReportTest, ResultOfEachKindOfCheck) {
    struct Row {
        PageStatus outcome;
        std::u16string detail;
        int64_t bytes;
        int64_t ms;
        std::u16string_view expected;
    };
    const Row rows[] = {
        {PageStatus::Online, u"HTTP/1.1 200 OK", 12'345, 140, u"200 OK \u2014 12.3 KB in 140 ms"},
        {PageStatus::Changed, u"HTTP/1.0 203 Non-Authoritative Information", 999, 9'999,
         u"203 Non-Authoritative Information \u2014 999 bytes in 9999 ms"},
        {PageStatus::Online, u"", 1, 10'050, u"Online \u2014 1 byte in 10.1 s"},
        {PageStatus::Online, u"HTTP/1.1 200 OK", 999'960, 0, u"200 OK \u2014 1.0 MB in 0 ms"},
        {PageStatus::Online, u"HTTP/1.1 200 OK", 999'949, 0, u"200 OK \u2014 999.9 KB in 0 ms"},
        {PageStatus::Offline, u"Connection refused", 0, 3, u"Offline \u2014 Connection refused"},
        {PageStatus::Offline, u"TLS handshake failed: certificate verify failed", 0, 80,
         u"Offline \u2014 TLS handshake failed: certificate verify failed"},
        {PageStatus::Offline, u"HTTP/1.1 404 Not Found", 0, 50, u"Offline \u2014 HTTP/1.1 404 Not Found"},
        {PageStatus::Offline, u"HTTP/1.1 200 OK", 0, 50, u"Offline \u2014 Empty page (HTTP/1.1 200 OK)"},
        {PageStatus::Offline, u"", 0, 0, u"Offline"},
    };
    for (const Row& row : rows) {
        const CheckRecord check{0, row.ms, row.outcome, row.outcome, row.detail, row.bytes};
        EXPECT_EQ(ToUtf8(CheckResultText(check)), ToUtf8(row.expected));
    }
}

TEST(CheckReportTest, StatusWordsAndListingLine) {
    EXPECT_EQ(StatusInWords(PageStatus::Online, true), u"Online");
    EXPECT_EQ(StatusInWords(PageStatus::Changed, true), u"Changed");
    EXPECT_EQ(StatusInWords(PageStatus::Offline, true), u"Offline");
    EXPECT_EQ(StatusInWords(PageStatus::Offline, false), u"Not checked yet");
    EXPECT_EQ(StatusInWords(static_cast<PageStatus>(7), true), u"Unknown");
    EXPECT_EQ(StatusListingLine(u"News\tto\nday", u"Not checked yet", u"", u""),
              u"News to day\tNot checked yet\t-\t-");
}

TEST(CheckReportTest, IsoTimesCarryTheirOffset) {
    EXPECT_EQ(IsoTime(0, 0), u"1970-01-01T00:00:00+00:00");
    EXPECT_EQ(IsoTime(1'796'730'588'999, 3600), u"2026-12-08T12:49:48+01:00");
    EXPECT_EQ(IsoTime(-1, -(9 * 3600 + 30 * 60)), u"1969-12-31T14:29:59-09:30");

    const char* saved = std::getenv("TZ");
    const std::string savedZone = saved ? saved : "";
    setenv("TZ", "XST-3:30", 1);
    tzset();
    const std::u16string local = LocalIsoTime(0);
    const int64_t utc = LocalToUtcMs((3 * 3600 + 30 * 60) * 1000LL + 250);
    saved ? setenv("TZ", savedZone.c_str(), 1) : unsetenv("TZ");
    tzset();
    EXPECT_EQ(local, u"1970-01-01T03:30:00+03:30");
    EXPECT_EQ(utc, 250);
}

}  // namespace
}  // namespace vantrel
