#include "core/PageEntry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>

#include "core/Clock.h"
#include "core/CommandLine.h"
#include "text/Text.h"

namespace vantrel {
namespace {

TEST(IntervalTest, TableHoldsTheNineChoices) {
    const int minutes[] = {1, 5, 10, 30, 60, 180, 360, 720, 1440};
    const std::u16string_view texts[] = {u"1 minute", u"5 minutes", u"10 minutes", u"30 minutes", u"1 hour",
                                         u"3 hour",   u"6 hours",   u"12 hours",   u"1 day"};
    for (int i = 0; i < kIntervalCount; ++i) {
        EXPECT_EQ(kIntervals[i].minutes, minutes[i]);
        EXPECT_EQ(kIntervals[i].text, texts[i]);
        EXPECT_EQ(IntervalMinutes(IntToText(i)), minutes[i]);
    }
    EXPECT_EQ(kDefaultIntervalIndex, 2);
}

TEST(IntervalTest, TextOutsideTheTableOrNotANumber) {
    EXPECT_EQ(IntervalMinutes(u"9"), 5);  // one past the last index
    EXPECT_EQ(IntervalMinutes(u"-1"), 5);
    EXPECT_EQ(IntervalMinutes(u"12"), 5);
    EXPECT_EQ(IntervalMinutes(u"x"), 1);  // not a number: default 0, every minute
    EXPECT_EQ(IntervalMinutes(u""), 1);
    EXPECT_EQ(IntervalMinutes(u"$3"), 30);
    EXPECT_EQ(IntervalMinutes(u"8"), 1440);

    EXPECT_EQ(DialogIntervalIndex(u"12"), -1);
    EXPECT_EQ(DialogIntervalIndex(u"9"), -1);
    EXPECT_EQ(DialogIntervalIndex(u"-1"), -1);
    EXPECT_EQ(DialogIntervalIndex(u"x"), 2);  // the dialog offers "10 minutes" for it
    EXPECT_EQ(DialogIntervalIndex(u"8"), 8);
    EXPECT_EQ(DialogIntervalIndex(u"0"), 0);
}

TEST(LastCheckStampTest, RoundsToNearestAndHalvesToEven) {
    EXPECT_EQ(LastCheckStamp(1000), 1);
    EXPECT_EQ(LastCheckStamp(1499), 1);
    EXPECT_EQ(LastCheckStamp(1501), 2);
    EXPECT_EQ(LastCheckStamp(500), 0);   // 0.5 -> 0
    EXPECT_EQ(LastCheckStamp(1500), 2);  // 1.5 -> 2
    EXPECT_EQ(LastCheckStamp(2500), 2);  // 2.5 -> 2
    EXPECT_EQ(LastCheckStamp(3500), 4);
    EXPECT_EQ(LastCheckStamp(-500), 0);    // -0.5 -> 0
    EXPECT_EQ(LastCheckStamp(-1500), -2);  // -1.5 -> -2
    EXPECT_EQ(LastCheckStamp(-2500), -2);
    EXPECT_EQ(LastCheckStamp(-1499), -1);
    EXPECT_EQ(LastCheckStamp(-1501), -2);
    EXPECT_EQ(LastCheckStamp(-1), 0);
}

TEST(LastCheckStampTest, StampsBeyond2038ReadBackLikeEarlierOnes) {
    // 2038-01-19 03:14:08, one second past the 32-bit range, and a date in 2100.
    EXPECT_EQ(LastCheckStamp(2147483648000LL), 2147483648LL);
    EXPECT_EQ(ReadStamp(IntToText(LastCheckStamp(2147483648000LL))), 2147483648LL);
    EXPECT_EQ(ReadStamp(u"4102444800"), 4102444800LL);
    EXPECT_EQ(ReadStamp(u"9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ReadStamp(u"9223372036854775808"), 0);
    EXPECT_EQ(ReadStamp(u""), 0);
    EXPECT_EQ(ReadStamp(u"abc"), 0);
    EXPECT_EQ(ReadStamp(u"-86400"), -86400);
}

TEST(SystemClockTest, CountsLocalWallClockTimeAsIfUtc) {
    // A zone three and a half hours east of UTC, given as a rule so no zone files are needed.
    const char* saved = std::getenv("TZ");
    const std::string savedZone = saved ? saved : "";
    setenv("TZ", "XST-3:30", 1);
    tzset();
    constexpr int64_t kOffsetSeconds = 3 * 3600 + 30 * 60;
    // The clock the program reads: time() may come from a coarser clock a tick behind it, and
    // then reads the second before near a second's end.
    const auto wallSeconds = [] {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return static_cast<int64_t>(ts.tv_sec);
    };
    const int64_t before = wallSeconds();
    LocalMillis now = SystemClock().now();
    const int64_t after = wallSeconds();
    if (saved) {
        setenv("TZ", savedZone.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    EXPECT_GE(now / 1000, before + kOffsetSeconds);
    EXPECT_LE(now / 1000, after + kOffsetSeconds);
}

TEST(CommandLineTest, DashSAsFirstOrSecondArgumentStartsHidden) {
    using Args = std::vector<std::u16string>;
    EXPECT_TRUE(StartHiddenFromArgs(Args{u"-s"}));
    EXPECT_TRUE(StartHiddenFromArgs(Args{u"x", u"-s"}));
    EXPECT_TRUE(StartHiddenFromArgs(Args{u"-s", u"x"}));
    EXPECT_TRUE(StartHiddenFromArgs(Args{u"-s", u"-s"}));
    EXPECT_FALSE(StartHiddenFromArgs(Args{u"-S"}));
    EXPECT_FALSE(StartHiddenFromArgs(Args{u"x", u"y", u"-s"}));
    EXPECT_FALSE(StartHiddenFromArgs(Args{}));
    EXPECT_FALSE(StartHiddenFromArgs(Args{u"", u"-s"}));  // counting stops at an empty argument
    EXPECT_TRUE(StartHiddenFromArgs(Args{u"-s", u""}));
    EXPECT_FALSE(StartHiddenFromArgs(Args{u" -s"}));
}

}  // namespace
}  // namespace vantrel
