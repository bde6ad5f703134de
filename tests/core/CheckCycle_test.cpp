#include "core/CheckCycle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Crc32.h"
#include "core/Text.h"
#include "support/FakeClock.h"

namespace vantrel {
namespace {

constexpr LocalMillis kMinute = 60000;
// 2026-12-08 06:00:00 as local wall-clock time counted as if UTC.
constexpr LocalMillis kStart = 1796709600000LL;

class RecordingNotifier : public Notifier {
  public:
    void announce(PageStatus newStatus, const std::u16string& label) override {
        static const char* const kNames[] = {"online", "changed", "offline"};
        log.push_back(std::string(kNames[static_cast<int>(newStatus)]) + " " +
                      std::string(label.begin(), label.end()));
    }
    std::vector<std::string> log;
};

std::u16string Crc32Text(std::u16string_view body) {
    return Crc32::checksumText(body);
}
DownloadResult Text(std::u16string_view body) {
    return {true, Crc32Text(body)};
}
DownloadResult Failed() {
    return {false, {}};
}

std::u16string StampOf(LocalMillis time) {
    return IntToText(LastCheckStamp(time));
}

class CheckCycleTest : public ::testing::Test {
  protected:
    EntryId addChecked(std::u16string label, std::u16string url, std::u16string interval,
                       std::u16string stamp, std::u16string checksum = {},
                       PageStatus status = PageStatus::Online) {
        PageEntry e;
        e.label = std::move(label);
        e.status = status;
        e.columns = {std::move(url), std::move(interval), std::move(stamp), std::move(checksum)};
        return list.insertLoaded(std::move(e));
    }

    // Runs one whole cycle, answering every download from `answer`; returns the URLs fetched.
    template <typename Answer>
    std::vector<std::u16string> runCycle(Answer answer) {
        std::vector<std::u16string> fetched;
        std::optional<Download> download = cycle.tick();
        for (int guard = 0; download && guard < 100; ++guard) {
            fetched.push_back(download->url);
            download = cycle.finish(*download, answer(*download));
        }
        EXPECT_FALSE(cycle.running());
        return fetched;
    }

    const PageEntry& entry(EntryId id) { return *list.find(id); }

    PageList list;
    test::FakeClock clock{kStart};
    RecordingNotifier notifier;
    CheckCycle cycle{list, clock, notifier};
};

TEST_F(CheckCycleTest, EmptyListDoesNothing) {
    EXPECT_EQ(cycle.tick(), std::nullopt);
    EXPECT_FALSE(cycle.running());
    EXPECT_TRUE(notifier.log.empty());
}

TEST_F(CheckCycleTest, ZeroOrUnreadableStampIsClearedAndDueAtOnce) {
    for (std::u16string_view stamp : {u"0", u"abc", u"1 ", u"$0", u"-0"}) {
        PageEntry e;
        e.columns = {u"u", u"8", std::u16string(stamp), u""};
        EXPECT_TRUE(DecideDue(e, kStart).due);
        EXPECT_TRUE(DecideDue(e, kStart).clearStamp);
    }
    EntryId id = addChecked(u"A", u"http://a.test/", u"8", u"0");
    auto download = cycle.tick();
    ASSERT_TRUE(download);
    EXPECT_EQ(entry(id).stamp(), u"");  // cleared before the download
    cycle.finish(*download, Failed());
    EXPECT_EQ(entry(id).stamp(), StampOf(kStart));
}

TEST_F(CheckCycleTest, DueWhenWholeMinutesReachTheInterval) {
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
}

TEST_F(CheckCycleTest, StampsFarOutsideTheClockRangeAreDueWithoutOverflow) {
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

TEST_F(CheckCycleTest, EntryNotDueIsLeftAlone) {
    EntryId id = addChecked(u"A", u"http://a.test/", u"2", StampOf(kStart - 9 * kMinute), u"CRC");
    EXPECT_EQ(cycle.tick(), std::nullopt);
    EXPECT_EQ(entry(id).stamp(), StampOf(kStart - 9 * kMinute));
    EXPECT_EQ(entry(id).status, PageStatus::Online);
}

TEST_F(CheckCycleTest, EmptyOrBareSchemeUrlIsNeverDownloadedAndGoesOffline) {
    EXPECT_FALSE(ShouldDownload(u""));
    EXPECT_FALSE(ShouldDownload(u"http://"));
    EXPECT_TRUE(ShouldDownload(u"HTTP://"));
    EXPECT_TRUE(ShouldDownload(u" http://"));
    EntryId a = addChecked(u"A", u"", u"0", u"", u"CRC A");
    EntryId b = addChecked(u"B", u"http://", u"0", u"");
    EXPECT_TRUE(runCycle([](const Download&) { return Text(u"x"); }).empty());
    EXPECT_EQ(entry(a).status, PageStatus::Offline);
    EXPECT_EQ(entry(a).checksum(), u"CRC A");
    EXPECT_EQ(entry(b).stamp(), StampOf(kStart));
    EXPECT_EQ(notifier.log, (std::vector<std::string>{"offline A", "offline B"}));
}

TEST_F(CheckCycleTest, FirstSuccessIsOnlineThenAChangeIsAnnouncedOnceEachWay) {
    EntryId id = list.add(u"News", u" http://news.test/ ", 0);
    std::u16string body = u"first";
    auto answer = [&body](const Download&) { return Text(body); };

    EXPECT_EQ(runCycle(answer), (std::vector<std::u16string>{u"http://news.test/"}));
    EXPECT_EQ(entry(id).status, PageStatus::Online);
    EXPECT_EQ(entry(id).checksum(), Crc32Text(u"first"));

    clock.time += kMinute;
    body = u"second";
    runCycle(answer);
    EXPECT_EQ(entry(id).status, PageStatus::Changed);
    EXPECT_EQ(entry(id).checksum(), Crc32Text(u"second"));

    clock.time += kMinute;
    runCycle(answer);
    EXPECT_EQ(entry(id).status, PageStatus::Online);
    clock.time += kMinute;
    runCycle(answer);
    EXPECT_EQ(notifier.log, (std::vector<std::string>{"online News", "changed News", "online News"}));
}

TEST_F(CheckCycleTest, FailureKeepsTheChecksumAndAPageBackWithOtherTextIsChanged) {
    EntryId id = addChecked(u"A", u"http://a.test/", u"0", u"", Crc32Text(u"old"));
    runCycle([](const Download&) { return Failed(); });
    EXPECT_EQ(entry(id).status, PageStatus::Offline);
    EXPECT_EQ(entry(id).checksum(), Crc32Text(u"old"));
    clock.time += kMinute;
    runCycle([](const Download&) { return Text(u"new"); });
    EXPECT_EQ(entry(id).status, PageStatus::Changed);
    EXPECT_EQ(notifier.log, (std::vector<std::string>{"offline A", "changed A"}));
}

TEST_F(CheckCycleTest, RecheckAllKeepsChecksumsSoAChangedPageComesBackChanged) {
    EntryId same = addChecked(u"Same", u"http://same.test/", u"8", StampOf(kStart), Crc32Text(u"same"));
    EntryId other = addChecked(u"Other", u"http://other.test/", u"8", StampOf(kStart), Crc32Text(u"old"));
    EXPECT_EQ(cycle.tick(), std::nullopt);  // a day's interval: nothing due
    list.recheckAll();
    auto fetched =
        runCycle([](const Download& d) { return Text(d.url == u"http://same.test/" ? u"same" : u"new"); });
    EXPECT_EQ(fetched.size(), 2u);
    EXPECT_EQ(entry(same).status, PageStatus::Online);
    EXPECT_EQ(entry(other).status, PageStatus::Changed);
    EXPECT_EQ(notifier.log, (std::vector<std::string>{"online Same", "changed Other"}));
}

TEST_F(CheckCycleTest, TwoEntriesWithTheSameUrlAreDownloadedSeparately) {
    EntryId a = list.add(u"A", u"http://same.test/", 2);
    EntryId b = list.add(u"B", u"http://same.test/", 2);
    auto fetched = runCycle([](const Download&) { return Text(u"page"); });
    EXPECT_EQ(fetched, (std::vector<std::u16string>{u"http://same.test/", u"http://same.test/"}));
    EXPECT_EQ(entry(a).status, PageStatus::Online);
    EXPECT_EQ(entry(b).status, PageStatus::Online);
}

TEST_F(CheckCycleTest, DownloadCarriesTheUrlExactlyAsStored) {
    addChecked(u"A", u" HTTP://A.test/Page ", u"0", u"");
    auto download = cycle.tick();
    ASSERT_TRUE(download);
    EXPECT_EQ(download->url, u" HTTP://A.test/Page ");
}

TEST_F(CheckCycleTest, TickDuringACycleStartsNothing) {
    EntryId a = list.add(u"A", u"http://a.test/", 2);
    list.add(u"B", u"http://b.test/", 2);
    auto first = cycle.tick();
    ASSERT_TRUE(first);
    EXPECT_TRUE(cycle.running());
    EXPECT_EQ(cycle.tick(), std::nullopt);
    EXPECT_TRUE(cycle.running());
    auto second = cycle.finish(*first, Text(u"a"));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->url, u"http://b.test/");
    EXPECT_EQ(entry(a).status, PageStatus::Online);
    EXPECT_EQ(cycle.finish(*second, Text(u"b")), std::nullopt);
    EXPECT_FALSE(cycle.running());
}

TEST_F(CheckCycleTest, ResultsForDeletedOrResetEntriesAreDropped) {
    EntryId deleted = list.add(u"Deleted", u"http://d.test/", 2);
    EntryId moved = list.add(u"Moved", u"http://m.test/", 2);
    EntryId reset = addChecked(u"Reset", u"http://r.test/", u"2", u"", Crc32Text(u"old"), PageStatus::Online);
    EntryId kept = list.add(u"Kept", u"http://k.test/", 2);

    auto download = cycle.tick();
    ASSERT_EQ(download->id, deleted);
    list.remove(deleted);
    download = cycle.finish(*download, Text(u"d"));
    ASSERT_EQ(download->id, moved);
    list.edit(moved, u"Moved", u"http://M.test/", 2, false, false);
    download = cycle.finish(*download, Text(u"m"));
    ASSERT_EQ(download->id, reset);
    list.recheckAll();
    download = cycle.finish(*download, Text(u"new"));
    ASSERT_EQ(download->id, kept);
    EXPECT_EQ(cycle.finish(*download, Text(u"k")), std::nullopt);

    EXPECT_EQ(list.find(deleted), nullptr);
    EXPECT_EQ(entry(moved).status, PageStatus::Offline);
    EXPECT_EQ(entry(moved).stamp(), u"");
    EXPECT_EQ(entry(moved).checksum(), u"");
    EXPECT_EQ(entry(reset).status, PageStatus::Offline);
    EXPECT_EQ(entry(reset).stamp(), u"");
    EXPECT_EQ(entry(reset).checksum(), Crc32Text(u"old"));
    EXPECT_EQ(notifier.log, (std::vector<std::string>{"online Kept"}));

    // Both reset entries are due again on the next tick, the moved one at its new URL.
    auto fetched = runCycle([](const Download&) { return Text(u"new"); });
    EXPECT_EQ(fetched, (std::vector<std::u16string>{u"http://M.test/", u"http://r.test/"}));
    EXPECT_EQ(entry(reset).status, PageStatus::Changed);  // its stored checksum was kept
}

TEST_F(CheckCycleTest, EntriesDeletedBeforeTheirTurnAreSkipped) {
    EntryId a = list.add(u"A", u"http://a.test/", 2);
    EntryId b = list.add(u"B", u"http://b.test/", 2);
    list.add(u"C", u"http://c.test/", 2);
    auto download = cycle.tick();
    ASSERT_EQ(download->id, a);
    list.remove(b);
    list.add(u"D", u"http://d.test/", 2);  // added during the cycle: waits for the next one
    download = cycle.finish(*download, Text(u"a"));
    ASSERT_TRUE(download);
    EXPECT_EQ(download->url, u"http://c.test/");
    EXPECT_EQ(cycle.finish(*download, Text(u"c")), std::nullopt);
}

TEST_F(CheckCycleTest, AbandonedCycleIgnoresALateResult) {
    EntryId id = list.add(u"A", u"http://a.test/", 2);
    auto download = cycle.tick();
    ASSERT_TRUE(download);
    cycle.abandon();
    EXPECT_FALSE(cycle.running());
    EXPECT_EQ(cycle.finish(*download, Text(u"a")), std::nullopt);
    EXPECT_EQ(entry(id).status, PageStatus::Offline);
    EXPECT_EQ(entry(id).stamp(), u"");
    EXPECT_TRUE(notifier.log.empty());
}

TEST_F(CheckCycleTest, StatusOutsideTheCodesIsReplacedAtTheNextCheck) {
    EntryId a = addChecked(u"A", u"http://a.test/", u"0", u"", u"", PageStatus(7));
    EntryId b = addChecked(u"B", u"", u"0", u"", u"", PageStatus(-3));
    runCycle([](const Download&) { return Text(u"a"); });
    EXPECT_EQ(entry(a).status, PageStatus::Online);
    EXPECT_EQ(entry(b).status, PageStatus::Offline);
    EXPECT_EQ(notifier.log, (std::vector<std::string>{"online A", "offline B"}));
}

TEST_F(CheckCycleTest, StampIsTakenWhenTheResultArrives) {
    EntryId id = list.add(u"A", u"http://a.test/", 2);
    auto download = cycle.tick();
    ASSERT_TRUE(download);
    clock.time += 45 * 1000 + 500;  // a slow download; 06:00:45.5 rounds to the even 46
    cycle.finish(*download, Failed());
    EXPECT_EQ(entry(id).stamp(), StampOf(kStart + 45500));
    EXPECT_EQ(entry(id).stamp(), IntToText(kStart / 1000 + 46));
}

TEST_F(CheckCycleTest, JudgeDecidesStatusAndChecksum) {
    PageEntry e;
    e.status = PageStatus::Changed;
    e.columns[kChecksum] = u"CRC A";
    EXPECT_EQ(Judge(e, {true, u"CRC A"}).status, PageStatus::Online);
    EXPECT_EQ(Judge(e, {true, u"CRC B"}).status, PageStatus::Changed);
    EXPECT_EQ(Judge(e, {true, u"CRC B"}).checksum, u"CRC B");
    EXPECT_EQ(Judge(e, {false, {}}).status, PageStatus::Offline);
    EXPECT_EQ(Judge(e, {false, {}}).checksum, u"CRC A");
    e.columns[kChecksum].clear();
    EXPECT_EQ(Judge(e, {true, u"CRC B"}).status, PageStatus::Online);
}

}  // namespace
}  // namespace vantrel
