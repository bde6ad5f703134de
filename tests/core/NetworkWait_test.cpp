// The check cycle without a network: which failures put a check off instead of judging the page,
// when time-outs count as a lost network, waking from sleep, and the run of every put-off check
// once the network is back. Time is the fake clock's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/CheckCycle.h"
#include "support/FakeClock.h"
#include "text/Text.h"

namespace vantrel {
namespace {

constexpr LocalMillis kSecond = 1000;
constexpr LocalMillis kMinute = 60 * kSecond;
constexpr LocalMillis kStart = 1796709600000LL;  // 2026-12-08 06:00:00, local as if UTC

class Announcements : public Notifier {
  public:
    void announce(PageStatus status, EntryId, const std::u16string& label) override {
        said.push_back(ToUtf8(label) + (status == PageStatus::Offline ? " offline" : " online"));
    }
    std::vector<std::string> said;
};

DownloadResult Page() {
    DownloadResult result;
    result.gotText = true;
    result.checksum = u"CRC of a text above is: 414FA339";
    return result;
}
DownloadResult Failure(NetworkClue clue, std::u16string detail) {
    DownloadResult result;
    result.clue = clue;
    result.detail = std::move(detail);
    return result;
}
const DownloadResult kUnreachable = Failure(NetworkClue::NoNetwork, u"Network is unreachable");
const DownloadResult kTimedOut = Failure(NetworkClue::NoAnswer, u"Connection timed out");
const DownloadResult kRefused = Failure(NetworkClue::Answered, u"Connection refused");

class NetworkWaitTest : public ::testing::Test {
  protected:
    NetworkWaitTest() {
        cycle.setNetworkListener([this](bool waiting) { heard.push_back(waiting); });
    }
    // One one-minute page per server ("a" gives http://a.test/), online and checked a minute ago
    // with the same text, so each is due now.
    EntryId page(const std::string& name) {
        PageEntry e;
        e.label = FromUtf8(name);
        e.status = PageStatus::Online;
        e.columns = {FromUtf8("http://" + name + ".test/"), u"0",
                     IntToText(LastCheckStamp(clock.time - kMinute)), Page().checksum};
        return list.insertLoaded(std::move(e));
    }
    static std::string nameOf(const Download& d) { return ToUtf8(d.url.substr(7, d.url.find(u'.') - 7)); }
    static std::vector<std::string> names(const std::vector<Download>& downloads) {
        std::vector<std::string> result;
        for (const Download& d : downloads) result.push_back(nameOf(d));
        return result;
    }
    PageStatus status(EntryId id) { return list.find(id)->status; }

    PageList list;
    test::FakeClock clock{kStart};
    Announcements notifier;
    CheckCycle cycle{list, clock, notifier, [](std::u16string_view url) {
                         return std::u16string(url.substr(0, url.find(u'/', 7)));
                     }};
    std::vector<bool> heard;
};

TEST_F(NetworkWaitTest, NoRoutePutsChecksOffUntilAProbeIsAnsweredThenRunsThemAll) {
    const EntryId a = page("a"), b = page("b"), c = page("c");
    std::vector<Download> out = cycle.tick();
    ASSERT_EQ(names(out), (std::vector<std::string>{"a", "b", "c"}));
    const std::u16string stampBefore = list.find(a)->stamp();
    for (const Download& d : out) EXPECT_TRUE(cycle.finish(d, kUnreachable).empty());
    EXPECT_TRUE(cycle.waitingForNetwork());
    EXPECT_TRUE(cycle.isPutOff(a) && cycle.isPutOff(b) && cycle.isPutOff(c));
    EXPECT_EQ(list.find(a)->stamp(), stampBefore);  // not counted as a check

    // Looked for every few seconds, one put-off check at a time, the oldest first.
    EXPECT_TRUE(cycle.tick().empty());
    clock.time += limits::kProbeEveryMs;
    out = cycle.tick();
    ASSERT_EQ(names(out), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(cycle.finish(out[0], kUnreachable).empty());
    clock.time += limits::kProbeEveryMs;
    out = cycle.tick();
    ASSERT_EQ(names(out), (std::vector<std::string>{"b"}));
    // The network is back: every check put off runs at once.
    EXPECT_EQ(names(cycle.finish(out[0], Page())), (std::vector<std::string>{"c", "a"}));
    EXPECT_FALSE(cycle.waitingForNetwork());
    EXPECT_FALSE(cycle.isPutOff(a));
    EXPECT_EQ(status(a), PageStatus::Online);
    EXPECT_TRUE(notifier.said.empty());
    EXPECT_EQ(heard, (std::vector<bool>{true, false}));
}

TEST_F(NetworkWaitTest, AnAnswerThatProvesTheNetworkMakesThePageOffline) {
    const EntryId a = page("a"), b = page("b");
    std::vector<Download> out = cycle.tick();
    cycle.finish(out[0], kRefused);
    cycle.finish(out[1], Failure(NetworkClue::Answered, u"HTTP/1.1 503 Service Unavailable"));
    EXPECT_EQ(status(a), PageStatus::Offline);
    EXPECT_EQ(status(b), PageStatus::Offline);
    EXPECT_FALSE(cycle.waitingForNetwork());
    EXPECT_EQ(notifier.said, (std::vector<std::string>{"a offline", "b offline"}));
}

TEST_F(NetworkWaitTest, OneSilentServerGoesOfflineAtTheNextAnswerOrAtTheWindowsEnd) {
    const EntryId a = page("a"), b = page("b"), c = page("c");
    std::vector<Download> out = cycle.tick();
    cycle.finish(out[0], kTimedOut);
    EXPECT_EQ(status(a), PageStatus::Online);  // held: whose fault is not known yet
    EXPECT_TRUE(notifier.said.empty());
    cycle.finish(out[1], Page());  // another server answers: the silence was a's own
    EXPECT_EQ(status(a), PageStatus::Offline);
    EXPECT_EQ(notifier.said, (std::vector<std::string>{"a offline"}));

    // Alone, with nothing else answering, it waits out the confirmation window.
    cycle.finish(out[2], kTimedOut);
    clock.time += limits::kConfirmWindowMs - kSecond;
    cycle.tick();
    EXPECT_EQ(status(c), PageStatus::Online);
    clock.time += kSecond;
    cycle.tick();
    EXPECT_EQ(status(c), PageStatus::Offline);
    EXPECT_FALSE(cycle.waitingForNetwork());
    EXPECT_EQ(status(b), PageStatus::Online);
}

TEST_F(NetworkWaitTest, ThreeServersSilentWithNoAnswerInBetweenMeanTheNetworkIsGone) {
    const EntryId a = page("a"), b = page("b"), c = page("c"), d = page("d"), e = page("e");
    std::vector<Download> out = cycle.tick();
    cycle.finish(out[0], kTimedOut);
    cycle.finish(out[1], kTimedOut);
    EXPECT_FALSE(cycle.waitingForNetwork());
    cycle.finish(out[2], kTimedOut);
    EXPECT_TRUE(cycle.waitingForNetwork());
    EXPECT_TRUE(cycle.isPutOff(a) && cycle.isPutOff(b) && cycle.isPutOff(c));
    cycle.finish(out[3], kTimedOut);
    cycle.finish(out[4], kTimedOut);
    EXPECT_TRUE(cycle.isPutOff(d) && cycle.isPutOff(e));
    EXPECT_TRUE(notifier.said.empty());

    // Back: the others run at once. A live server answers while three dead ones are still being
    // tried, so those three do not confirm each other (each saw an answer after it began): they
    // are their servers' own and go offline.
    clock.time += limits::kProbeEveryMs;
    out = cycle.tick();
    out = cycle.finish(out[0], Page());
    ASSERT_EQ(names(out), (std::vector<std::string>{"b", "c", "d", "e"}));
    cycle.finish(out[3], Page());
    for (size_t i = 0; i < 3; ++i) cycle.finish(out[i], kTimedOut);
    EXPECT_FALSE(cycle.waitingForNetwork());
    clock.time += limits::kConfirmWindowMs;
    cycle.tick();
    EXPECT_EQ(status(a), PageStatus::Online);
    EXPECT_EQ(status(e), PageStatus::Online);
    EXPECT_EQ(notifier.said, (std::vector<std::string>{"b offline", "c offline", "d offline"}));
}

// A connect sent while the network was away may time out only after its return, when other
// servers answer again: that says nothing about its page, which is checked again at once.
TEST_F(NetworkWaitTest, ATimeOutOfACheckThatRanThroughTheOutageIsCheckedAgain) {
    const EntryId c = (page("a"), page("b"), page("c"));
    std::vector<Download> out = cycle.tick();
    const Download throughOutage = out[2];
    cycle.finish(out[0], kUnreachable);
    cycle.finish(out[1], kUnreachable);
    clock.time += limits::kProbeEveryMs;
    out = cycle.tick();
    ASSERT_EQ(names(cycle.finish(out[0], Page())), (std::vector<std::string>{"b"}));  // back
    EXPECT_EQ(names(cycle.finish(throughOutage, kTimedOut)), (std::vector<std::string>{"c"}));
    EXPECT_EQ(status(c), PageStatus::Online);
    EXPECT_TRUE(notifier.said.empty());
}

TEST_F(NetworkWaitTest, AfterWakingFailuresArePutOffUntilAnAnswerOrTheGraceEnds) {
    EXPECT_FALSE(IsWakeGap(kStart, kStart + 2 * kSecond));
    EXPECT_TRUE(IsWakeGap(kStart, kStart + limits::kWakeGapMs));
    EXPECT_TRUE(IsWakeGap(kStart, kStart - limits::kWakeGapMs));  // the clock set back

    const EntryId a = page("a"), b = page("b");
    cycle.wake();
    EXPECT_TRUE(cycle.waitingForNetwork());
    std::vector<Download> out = cycle.tick();  // the first probe goes at once
    ASSERT_EQ(names(out), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(cycle.isPutOff(b));
    cycle.finish(out[0], kTimedOut);  // a single time-out counts for nothing in the grace
    EXPECT_EQ(status(a), PageStatus::Online);

    // No answer within the grace: the checks run and are judged as usual.
    clock.time += limits::kWakeGraceMs;
    out = cycle.tick();
    EXPECT_EQ(names(out), (std::vector<std::string>{"b", "a"}));
    EXPECT_FALSE(cycle.waitingForNetwork());
    cycle.finish(out[0], kRefused);
    EXPECT_EQ(notifier.said, (std::vector<std::string>{"b offline"}));
}

TEST_F(NetworkWaitTest, TheDesktopSayingOfflinePutsChecksOffAndOnlineRunsThem) {
    const EntryId a = page("a");
    cycle.setDesktopOnline(false);
    EXPECT_TRUE(cycle.tick().empty());
    EXPECT_TRUE(cycle.isPutOff(a));
    cycle.setDesktopOnline(true);
    EXPECT_EQ(names(cycle.tick()), (std::vector<std::string>{"a"}));
    EXPECT_EQ(heard, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace vantrel
