#include "core/DueRule.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "text/Text.h"

namespace vantrel {
namespace {

constexpr LocalMillis kMinute = 60000;
// 2026-12-08 06:00:00 as local wall-clock time counted as if UTC.
constexpr LocalMillis kStart = 1796709600000LL;

std::u16string StampOf(LocalMillis time) {
    return IntToText(LastCheckStamp(time));
}

// The rule the plain way, in 128 bits: due when the whole minutes between the stamp and now
// reach the interval, on either side of the stamp; a stamp that reads as 0 is due at once.
bool PlainRule(int64_t stampSeconds, int minutes, LocalMillis now) {
    if (stampSeconds == 0) return true;
    const __int128 distance = static_cast<__int128>(now) - static_cast<__int128>(stampSeconds) * 1000;
    return (distance < 0 ? -distance : distance) / kMinute >= minutes;
}

TEST(DueRuleTest, DueWhenWholeMinutesReachTheInterval) {
    PageEntry e;
    e.columns = {u"u", u"1", StampOf(kStart), u""};            // 5 minutes
    EXPECT_FALSE(DecideDue(e, kStart + 5 * kMinute - 1).due);  // 4.99 minutes truncate to 4
    EXPECT_TRUE(DecideDue(e, kStart + 5 * kMinute).due);
    EXPECT_FALSE(DecideDue(e, kStart + 5 * kMinute).clearStamp);
    // A stamp in the future (the clock was set back) counts by its distance.
    EXPECT_FALSE(DecideDue(e, kStart - 5 * kMinute + 1).due);
    EXPECT_TRUE(DecideDue(e, kStart - 5 * kMinute).due);
    e.columns[kStamp] = u"";
    EXPECT_TRUE(DecideDue(e, kStart).due);
    EXPECT_FALSE(DecideDue(e, kStart).clearStamp);
    e.columns[kStamp] = u"0x0";
    EXPECT_TRUE(DecideDue(e, kStart).clearStamp);
}

TEST(DueRuleTest, StampsFarOutsideTheClockRangeAreDueWithoutOverflow) {
    PageEntry e;
    e.columns = {u"u", u"8", u"9223372036854775807", u""};
    EXPECT_TRUE(DecideDue(e, kStart).due);
    e.columns[kStamp] = u"-9223372036854775808";
    EXPECT_TRUE(DecideDue(e, kStart).due);
    // A stamp past 2038 behaves like any other.
    e.columns[kStamp] = u"4102444800";
    EXPECT_FALSE(DecideDue(e, 4102444800000LL + 1439 * kMinute).due);
    EXPECT_TRUE(DecideDue(e, 4102444800000LL + 1440 * kMinute).due);
}

// The decision, and so the bounds the due index orders entries by, say the same as the plain rule
// at every edge: one millisecond either side of each bound, and at the ends of the clock's range,
// for stamps whose milliseconds just fit 64 bits or just do not.
TEST(DueRuleTest, DecisionFollowsThePlainRuleAtEveryEdge) {
    constexpr int64_t kLow = std::numeric_limits<int64_t>::min();
    constexpr int64_t kHigh = std::numeric_limits<int64_t>::max();
    const int64_t stamps[] = {1,
                              -1,
                              kStart / 1000,
                              -kStart / 1000,
                              kHigh / 1000,
                              kLow / 1000,
                              kHigh / 1000 + 1,
                              kLow / 1000 - 1,
                              kHigh,
                              kLow};
    for (const int64_t stamp : stamps) {
        for (const char16_t* interval : {u"0", u"1", u"8", u"9", u"x"}) {
            PageEntry e;
            e.columns = {u"u", interval, IntToText(stamp), u""};
            const int minutes = IntervalMinutes(interval);
            const __int128 at = static_cast<__int128>(stamp) * 1000;
            const __int128 span = static_cast<__int128>(minutes) * kMinute;
            std::vector<__int128> times = {kLow, kLow + 1, 0, kHigh - 1, kHigh};
            for (const __int128 edge : {at - span, at + span, at})
                for (int delta = -1; delta <= 1; ++delta) times.push_back(edge + delta);
            for (const __int128 time : times) {
                if (time < kLow || time > kHigh) continue;
                const auto now = static_cast<LocalMillis>(time);
                EXPECT_EQ(DecideDue(e, now).due, PlainRule(stamp, minutes, now))
                    << "stamp " << stamp << " interval " << minutes << " now " << now;
            }
        }
    }
}

}  // namespace
}  // namespace vantrel
