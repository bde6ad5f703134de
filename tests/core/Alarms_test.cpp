#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Attention.h"
#include "core/BurstNotifier.h"
#include "core/DoNotDisturb.h"
#include "support/FakeClock.h"

namespace vantrel {
namespace {

// 2026-12-08 06:00:00 as local wall-clock time counted as if UTC.
constexpr LocalMillis kStart = 1796709600000LL;

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c == u'…' ? std::string("...") : std::string(1, static_cast<char>(c));
    return out;
}

// Keeps the single announcements as "<label> <status>" and the summaries as "* <text>".
class Recorder : public Notifier {
  public:
    void announce(PageStatus newStatus, EntryId, const std::u16string& label) override {
        static const char* const kNames[] = {"online", "changed", "offline"};
        log.push_back(Narrow(label) + " " + kNames[static_cast<int>(newStatus)]);
    }
    SummarySink sink() {
        return [this](const std::u16string& text, PageStatus gravest) {
            log.push_back("* " + Narrow(text));
            lastGravest = gravest;
        };
    }
    std::vector<std::string> log;
    PageStatus lastGravest = PageStatus::Online;
};

class BurstTest : public ::testing::Test {
  protected:
    void say(PageStatus status, EntryId id) {
        burst.announce(status, id, u"P" + std::u16string(1, u'0' + id));
    }
    void wait(LocalMillis ms) {
        clock.time += ms;
        burst.poll();
    }
    test::FakeClock clock{kStart};
    Recorder out;
    BurstNotifier burst{out, out.sink(), clock};
};

TEST_F(BurstTest, UpToThreePassOnAtOnceWithTheirOwnTexts) {
    say(PageStatus::Offline, 1);
    say(PageStatus::Changed, 2);
    clock.time += 1999;
    say(PageStatus::Online, 3);
    EXPECT_EQ(out.log, (std::vector<std::string>{"P1 offline", "P2 changed", "P3 online"}));
    wait(1);
    // A fourth after the window starts a new one of its own.
    say(PageStatus::Offline, 4);
    wait(BurstNotifier::kWindowMs);
    EXPECT_EQ(out.log.size(), 4u);
    EXPECT_EQ(out.log.back(), "P4 offline");
    EXPECT_FALSE(burst.due());
}

TEST_F(BurstTest, AFourthWithinTwoSecondsMakesOneSummaryOfTheWholeBurst) {
    for (EntryId id = 1; id <= 5; ++id) say(PageStatus::Offline, id);
    EXPECT_EQ(out.log.size(), 3u);
    wait(BurstNotifier::kWindowMs - 1);
    EXPECT_EQ(out.log.size(), 3u);  // still held
    wait(1);
    EXPECT_EQ(out.log.back(), "* 5 web pages are offline: P1, P2, P3, ...");
    EXPECT_EQ(out.lastGravest, PageStatus::Offline);
    // The burst goes on: the next announcements are held from the first, so no singles come.
    wait(500);
    say(PageStatus::Online, 6);
    say(PageStatus::Online, 7);
    say(PageStatus::Online, 1);
    say(PageStatus::Online, 2);
    wait(BurstNotifier::kWindowMs);
    EXPECT_EQ(out.log.size(), 5u);
    EXPECT_EQ(out.log.back(), "* 4 web pages are online: P6, P7, P1, ...");
    EXPECT_EQ(out.lastGravest, PageStatus::Online);
    // A tail of two after it is held no longer than the window, then told one by one.
    wait(100);
    say(PageStatus::Changed, 3);
    say(PageStatus::Changed, 3);
    wait(BurstNotifier::kWindowMs);
    EXPECT_EQ(out.log.back(), "P3 changed");
    EXPECT_EQ(out.log.size(), 6u);  // one page announced twice is told once, by its latest
}

TEST_F(BurstTest, MixedBurstCountsEachKindGravestFirst) {
    say(PageStatus::Online, 1);
    say(PageStatus::Offline, 2);
    say(PageStatus::Changed, 3);
    say(PageStatus::Offline, 4);
    // The clock set back closes the window too (a change of time zone).
    clock.time -= 60000;
    burst.poll();
    EXPECT_EQ(out.log.back(),
              "* 4 web pages changed status: 2 offline (P2, P4), 1 changed (P3), 1 online (P1).");
    EXPECT_EQ(out.lastGravest, PageStatus::Offline);
}

TEST(NextLocalHourTest, MorningIsLaterTodayAtNightAndTomorrowAfterIt) {
    constexpr LocalMillis kHour = DoNotDisturb::kHourMs;
    const LocalMillis midnight = kStart - 6 * kHour;
    EXPECT_EQ(NextLocalHour(midnight + 2 * kHour, 8), midnight + 8 * kHour);
    EXPECT_EQ(NextLocalHour(midnight + 8 * kHour, 8), midnight + 32 * kHour);
    EXPECT_EQ(NextLocalHour(midnight + 23 * kHour, 8), midnight + 32 * kHour);
    EXPECT_EQ(NextLocalHour(-kHour, 8), 8 * kHour);  // before 1970 too
}

TEST(DoNotDisturbTest, HoldsEverythingAndSumsItUpOnceWhenItsTimeIsUp) {
    test::FakeClock clock{kStart};
    Recorder out;
    DoNotDisturb quiet{out, out.sink(), clock};
    quiet.announce(PageStatus::Offline, 1, u"Shop");
    quiet.start(clock.time + DoNotDisturb::kHourMs);
    quiet.announce(PageStatus::Offline, 2, u"News");
    quiet.announce(PageStatus::Offline, 3, u"Mail");
    quiet.announce(PageStatus::Online, 2, u"News");
    clock.advanceMinutes(59);
    quiet.poll();
    EXPECT_TRUE(quiet.on());
    EXPECT_EQ(out.log, std::vector<std::string>{"Shop offline"});
    clock.advanceMinutes(1);
    quiet.poll();
    EXPECT_FALSE(quiet.on());
    EXPECT_EQ(out.log.back(),
              "* Do not disturb has ended. 2 web pages changed status: 1 offline (Mail), 1 online (News).");
    quiet.poll();
    quiet.announce(PageStatus::Changed, 1, u"Shop");
    EXPECT_EQ(out.log.size(), 3u);
    EXPECT_EQ(out.log.back(), "Shop changed");
}

TEST(DoNotDisturbTest, UntilTurnedOffOutlastsAnyTimeAndSaysWhenNothingHappened) {
    test::FakeClock clock{kStart};
    Recorder out;
    DoNotDisturb quiet{out, out.sink(), clock};
    quiet.stop();  // off already: nothing to say
    EXPECT_TRUE(out.log.empty());
    quiet.start(std::nullopt);
    clock.advanceMinutes(7 * 24 * 60);
    quiet.poll();
    EXPECT_TRUE(quiet.on());
    quiet.stop();
    EXPECT_EQ(out.log, std::vector<std::string>{
                           "* Do not disturb has ended. No web page changed its status meanwhile."});
    // A time passed while the machine slept ends it at the next announcement, before it is judged.
    quiet.start(clock.time + 1000);
    clock.time += 5000;
    quiet.announce(PageStatus::Changed, 1, u"Shop");
    EXPECT_EQ(out.log.back(), "Shop changed");
}

// At a start, the choice of the run before: until turned off, or until a time still ahead; a time
// passed meanwhile is off, with no summary (the messages it held went with that run).
TEST(DoNotDisturbTest, ResumedAtAStartOnlyWhileItsTimeIsAhead) {
    test::FakeClock clock{kStart};
    Recorder out;
    DoNotDisturb quiet{out, out.sink(), clock};
    quiet.resume(clock.time);
    EXPECT_FALSE(quiet.on());
    quiet.announce(PageStatus::Offline, 1, u"Shop");
    EXPECT_EQ(out.log, std::vector<std::string>{"Shop offline"});
    quiet.resume(std::nullopt);
    EXPECT_TRUE(quiet.on());
    EXPECT_EQ(quiet.until(), std::nullopt);
    quiet.stop();

    quiet.resume(clock.time + 1);
    EXPECT_EQ(quiet.until(), clock.time + 1);
    quiet.announce(PageStatus::Online, 1, u"Shop");
    clock.time += 1;
    quiet.poll();
    EXPECT_FALSE(quiet.on());
    EXPECT_EQ(out.log.back(), "* Do not disturb has ended. 1 web page is online: Shop");
}

// Which badge when: offline for a checked, unpaused, offline page; changed from a change's
// announcement until the window is opened, or until the page is deleted.
TEST(AttentionTest, BadgesFollowTheListAndTheWindow) {
    PageList list;
    Attention attention;
    const EntryId shop = list.add(u"Shop", u"http://a.test/", 2);
    const EntryId news = list.add(u"News", u"http://b.test/", 2);
    EXPECT_EQ(attention.badges(list), (Badges{false, false}));  // offline, but never checked
    list.setColumn(shop, kStamp, u"1000");
    EXPECT_EQ(attention.badges(list), (Badges{true, false}));
    list.pause(shop, PageList::kPausedForGood);
    EXPECT_EQ(attention.badges(list), (Badges{false, false}));
    list.resume(shop);
    list.setStatus(shop, PageStatus::Online);
    attention.announced(PageStatus::Changed, news);
    attention.announced(PageStatus::Online, shop);
    EXPECT_EQ(attention.badges(list), (Badges{false, true}));
    attention.windowOpened();
    EXPECT_EQ(attention.badges(list), (Badges{false, false}));
    attention.announced(PageStatus::Changed, news);
    list.remove(news);
    EXPECT_EQ(attention.badges(list), (Badges{false, false}));
}

}  // namespace
}  // namespace vantrel
