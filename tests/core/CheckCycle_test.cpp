#include "core/CheckCycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/FakeClock.h"
#include "text/Crc32.h"
#include "text/Text.h"

namespace vantrel {
namespace {

constexpr LocalMillis kMinute = 60000;
// 2026-12-08 06:00:00 as local wall-clock time counted as if UTC.
constexpr LocalMillis kStart = 1796709600000LL;

class RecordingNotifier : public Notifier {
  public:
    void announce(PageStatus newStatus, EntryId, const std::u16string& label) override {
        static const char* const kNames[] = {"online", "changed", "offline"};
        log.push_back(std::string(kNames[static_cast<int>(newStatus)]) + " " +
                      std::string(label.begin(), label.end()));
    }
    std::vector<std::string> log;
};

std::u16string Crc32Text(std::u16string_view body) {
    return Crc32::checksumText(body);
}
DownloadResult Sum(std::u16string checksum) {
    DownloadResult result;
    result.gotText = true;
    result.checksum = std::move(checksum);
    return result;
}
DownloadResult Text(std::u16string_view body) {
    DownloadResult result = Sum(Crc32Text(body));
    result.text = body;
    result.textBytes = static_cast<int64_t>(body.size());
    result.detail = u"HTTP/1.1 200 OK";
    return result;
}
DownloadResult Failed(std::u16string detail = u"Connection refused") {
    DownloadResult result;
    result.detail = std::move(detail);
    return result;
}

// The tests' connection key: the text between "://" and the next "/", in lower case. The real
// key comes from the URL parser of the network layer, which the cycle does not link.
std::u16string AuthorityKey(std::u16string_view url) {
    const size_t start = url.find(u"://");
    if (start == std::u16string_view::npos) return {};
    url.remove_prefix(start + 3);
    return ToLowerAscii(url.substr(0, url.find(u'/')));
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

    // Runs a tick and answers every download it leads to from `answer`, in the order they were
    // handed out; returns the URLs fetched.
    template <typename Answer>
    std::vector<std::u16string> runCycle(Answer answer) {
        std::vector<std::u16string> fetched;
        std::deque<Download> pending;
        for (auto& d : cycle.tick()) pending.push_back(std::move(d));
        for (int guard = 0; !pending.empty() && guard < 1000; ++guard) {
            const Download download = pending.front();
            pending.pop_front();
            fetched.push_back(download.url);
            for (auto& d : cycle.finish(download, answer(download))) pending.push_back(std::move(d));
        }
        EXPECT_EQ(cycle.inFlight(), 0u);
        EXPECT_EQ(cycle.waiting(), 0u);
        return fetched;
    }

    // The labels of the entries the due index hands out at `now`, checked against the rule
    // applied to every entry; the entries are put back afterwards.
    std::vector<std::string> dueAt(LocalMillis now) {
        std::vector<std::string> expected, taken;
        for (const PageEntry& e : list.entries())
            if (DecideDue(e, now).due) expected.emplace_back(e.label.begin(), e.label.end());
        const std::vector<EntryId> ids = list.takeDue(now);
        for (EntryId id : ids) taken.emplace_back(entry(id).label.begin(), entry(id).label.end());
        EXPECT_EQ(taken, expected) << "at minute " << (now - kStart) / kMinute;
        for (EntryId id : ids) list.release(id);
        return taken;
    }

    const PageEntry& entry(EntryId id) { return *list.find(id); }

    PageList list;
    test::FakeClock clock{kStart};
    RecordingNotifier notifier;
    CheckCycle cycle{list, clock, notifier, AuthorityKey};
};

TEST_F(CheckCycleTest, EmptyListDoesNothing) {
    EXPECT_TRUE(cycle.tick().empty());
    EXPECT_EQ(cycle.inFlight(), 0u);
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
    auto downloads = cycle.tick();
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_EQ(entry(id).stamp(), u"");  // cleared before the download
    cycle.finish(downloads[0], Failed());
    EXPECT_EQ(entry(id).stamp(), StampOf(kStart));
}

TEST_F(CheckCycleTest, EntryNotDueIsLeftAlone) {
    EntryId id = addChecked(u"A", u"http://a.test/", u"2", StampOf(kStart - 9 * kMinute), u"CRC");
    EXPECT_TRUE(cycle.tick().empty());
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
    EXPECT_TRUE(cycle.tick().empty());  // a day's interval: nothing due
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
    auto downloads = cycle.tick();
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_EQ(downloads[0].url, u" HTTP://A.test/Page ");
    EXPECT_EQ(downloads[0].host, u"a.test");
}

TEST_F(CheckCycleTest, StaleResultsAreDroppedWhileSeveralDownloadsAreInFlight) {
    EntryId deleted = list.add(u"Deleted", u"http://d.test/", 2);
    EntryId moved = list.add(u"Moved", u"http://m.test/", 2);
    EntryId reset = addChecked(u"Reset", u"http://r.test/", u"2", u"", Crc32Text(u"old"), PageStatus::Online);
    EntryId kept = list.add(u"Kept", u"http://k.test/", 2);

    // Four hosts: all four downloads run at once; a second tick hands out none of them again.
    auto downloads = cycle.tick();
    ASSERT_EQ(downloads.size(), 4u);
    EXPECT_TRUE(cycle.tick().empty());
    list.remove(deleted);
    list.edit(moved, u"Moved", u"http://M.test/", 2, false, false);
    list.edit(kept, u"Kept", u"http://k.test/", 2, false, false);  // same URL: still applies
    auto more = cycle.finish(downloads[3], Text(u"k"));
    EXPECT_TRUE(more.empty());
    downloads.pop_back();
    list.recheckAll();
    // Only the entry whose download ended is handed out again; the others wait for theirs.
    auto again = cycle.tick();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].id, kept);
    cycle.finish(again[0], Failed());
    for (size_t i = downloads.size(); i-- > 0;) {
        EXPECT_TRUE(cycle.finish(downloads[i], Text(u"new")).empty());
        EXPECT_TRUE(cycle.finish(downloads[i], Text(u"new")).empty());  // a repeated call
    }

    EXPECT_EQ(list.find(deleted), nullptr);
    EXPECT_EQ(entry(moved).status, PageStatus::Offline);
    EXPECT_EQ(entry(moved).checksum(), u"");
    EXPECT_EQ(entry(reset).stamp(), u"");
    EXPECT_EQ(entry(reset).checksum(), Crc32Text(u"old"));
    EXPECT_EQ(notifier.log, (std::vector<std::string>{"online Kept"}));

    // The reset entries are due again on the next tick, the moved one at its new URL.
    auto fetched = runCycle([](const Download&) { return Text(u"new"); });
    EXPECT_EQ(fetched, (std::vector<std::u16string>{u"http://M.test/", u"http://r.test/"}));
    EXPECT_EQ(entry(reset).status, PageStatus::Changed);  // its stored checksum was kept
}

TEST_F(CheckCycleTest, OneHostGetsItsPagesInListOrderAndNeverTwoConnections) {
    CheckCycle two(list, clock, notifier, AuthorityKey, 2, 2);  // two connections, two downloads ahead each
    for (std::u16string label : {u"a1", u"b1", u"a2", u"c1", u"a3", u"b2", u"", u"a4"}) {
        std::u16string host = label.empty() ? u"" : label.substr(0, 1);
        list.add(label.empty() ? u"none" : label, host.empty() ? u"" : u"http://" + host + u".test/" + label,
                 0);
    }
    auto urls = [](const std::vector<Download>& ds) {
        std::vector<std::u16string> out;
        for (const auto& d : ds) out.push_back(d.url.substr(14));
        return out;
    };
    using U = std::vector<std::u16string>;
    // Two connections: a and b, each with one download queued behind the first; c waits. The
    // entry without URL is settled at once.
    auto started = two.tick();
    ASSERT_EQ(urls(started), (U{u"a1", u"a2", u"b1", u"b2"}));
    EXPECT_EQ(list.at(6).stamp(), StampOf(kStart));
    EXPECT_EQ(two.waiting(), 3u);
    EXPECT_TRUE(urls(two.finish(started[2], Text(u"x"))).empty());    // b2 still runs
    EXPECT_EQ(urls(two.finish(started[0], Text(u"x"))), (U{u"a3"}));  // a keeps its connection
    auto c = two.finish(started[3], Text(u"x"));                      // b is done: c gets its turn
    EXPECT_EQ(urls(c), (U{u"c1"}));
    EXPECT_EQ(urls(two.finish(started[1], Text(u"x"))), (U{u"a4"}));
    EXPECT_EQ(two.waiting(), 0u);
    EXPECT_EQ(two.inFlight(), 3u);
}

TEST_F(CheckCycleTest, HungHostHoldsOnlyItsOwnPages) {
    std::vector<EntryId> hung, fine;
    for (int i = 0; i < 6; ++i) {
        const std::u16string n = IntToText(i);
        hung.push_back(list.add(u"h" + n, u"http://hung.test/" + n, 0));
        fine.push_back(list.add(u"f" + n, u"http://fine.test/" + n, 0));
    }
    std::deque<Download> fineQueue;
    for (auto& d : cycle.tick())
        if (d.host == u"fine.test") fineQueue.push_back(d);
    for (int minute = 0; minute < 3; ++minute) {
        for (int guard = 0; !fineQueue.empty() && guard < 100; ++guard) {
            Download d = fineQueue.front();
            fineQueue.pop_front();
            for (auto& next : cycle.finish(d, Text(u"ok"))) fineQueue.push_back(next);
        }
        for (EntryId id : fine) EXPECT_EQ(entry(id).stamp(), StampOf(clock.time)) << minute;
        clock.time += kMinute;
        // The hung host's queue stays where it was; the other host's pages are due again.
        for (auto& d : cycle.tick()) {
            EXPECT_EQ(d.host, u"fine.test");
            fineQueue.push_back(d);
        }
    }
    for (EntryId id : hung) EXPECT_EQ(entry(id).stamp(), u"");
    EXPECT_EQ(cycle.inFlight(), std::min<size_t>(6, limits::kDownloadsAheadPerHost) + fineQueue.size());
}

TEST_F(CheckCycleTest, MoreServersThanConnectionsTakeTurnsAndKeepTheBound) {
    // Three connections, two downloads ahead each (run one after the other), turns of two
    // downloads. Servers a, b and c answer after 10 s and come first in the list; d and e answer
    // after 1 s. Without turns d and e would wait until a slow server had fetched all its pages.
    constexpr size_t kConnections = 3;
    constexpr LocalMillis kSlow = 10000, kFast = 1000;
    CheckCycle turns(list, clock, notifier, AuthorityKey, kConnections, 2, 2);
    const std::u16string servers = u"abcde";
    for (int page = 0; page < 6; ++page)
        for (char16_t s : servers)
            list.add(u"p", u"http://" + std::u16string(1, s) + u".test/" + IntToText(page), 0);
    std::multimap<LocalMillis, Download> running;  // by the time the answer comes
    std::map<std::u16string, std::vector<std::u16string>> served;
    std::map<std::u16string, LocalMillis> firstStart, busyUntil;
    const auto run = [&](std::vector<Download> started) {
        for (auto& d : started) {
            firstStart.emplace(d.host, clock.time);
            LocalMillis& free = busyUntil[d.host];
            free = std::max(free, clock.time) + (d.host < u"d" ? kSlow : kFast);
            running.emplace(free, std::move(d));
        }
        std::map<std::u16string, int> hosts;
        for (const auto& [time, d] : running) EXPECT_LE(++hosts[d.host], 2);
        EXPECT_LE(hosts.size(), kConnections);
    };
    run(turns.tick());
    for (int guard = 0; !running.empty() && guard < 100; ++guard) {
        auto next = running.begin();
        clock.time = next->first;
        const Download d = next->second;
        running.erase(next);
        served[d.host].push_back(d.url.substr(d.url.rfind(u'/') + 1));
        run(turns.finish(d, Text(u"ok")));
    }
    const std::vector<std::u16string> inOrder = {u"0", u"1", u"2", u"3", u"4", u"5"};
    for (char16_t s : servers) {
        const std::u16string host = std::u16string(1, s) + u".test";
        EXPECT_EQ(served[host], inOrder);
        // Each server waited for at most one turn of each slow server before it.
        EXPECT_LE(firstStart[host] - kStart, 2 * kSlow);
    }
    EXPECT_EQ(turns.waiting(), 0u);
}

TEST_F(CheckCycleTest, UrlsOfOneConnectionAreFetchedOneAtATimeInListOrder) {
    // Keyed as the URL parser keys them: another scheme is fetched as plain HTTP and port "080"
    // is port 80, so x, y and z go to one server over one connection.
    const std::map<std::u16string, std::u16string> keys = {{u"ftp://127.0.0.1:80/x", u"127.0.0.1:80"},
                                                           {u"http://other.test/", u"other.test:80"},
                                                           {u"http://127.0.0.1/y", u"127.0.0.1:80"},
                                                           {u"HTTP://127.0.0.1:080/z", u"127.0.0.1:80"}};
    CheckCycle one(
        list, clock, notifier, [&](std::u16string_view url) { return keys.at(std::u16string(url)); }, 8, 1);
    for (const auto& url :
         {u"ftp://127.0.0.1:80/x", u"http://other.test/", u"http://127.0.0.1/y", u"HTTP://127.0.0.1:080/z"})
        addChecked(u"p", url, u"0", u"");
    std::deque<Download> running;
    for (auto& d : one.tick()) running.push_back(std::move(d));
    std::vector<std::u16string> served;
    for (int guard = 0; !running.empty() && guard < 10; ++guard) {
        EXPECT_LE(std::count_if(running.begin(), running.end(),
                                [](const Download& d) { return d.host == u"127.0.0.1:80"; }),
                  1);
        const Download d = running.front();
        running.pop_front();
        if (d.host == u"127.0.0.1:80") served.push_back(d.url.substr(d.url.size() - 1));
        for (auto& next : one.finish(d, Text(u"ok"))) running.push_back(std::move(next));
    }
    EXPECT_EQ(served, (std::vector<std::u16string>{u"x", u"y", u"z"}));
}

TEST_F(CheckCycleTest, DueIndexAgreesWithTheRuleThroughEveryChange) {
    using L = std::vector<std::string>;
    EntryId a = addChecked(u"a", u"http://a.test/", u"1", StampOf(kStart));                // 5 minutes
    EntryId b = addChecked(u"b", u"http://b.test/", u"2", StampOf(kStart + 3 * kMinute));  // in the future
    EntryId c = addChecked(u"c", u"http://c.test/", u"x", u"junk");             // one minute, due at once
    addChecked(u"d", u"http://d.test/", u"8", StampOf(kStart - 30 * kMinute));  // a day
    struct Step {
        const char* what;
        std::function<void()> change;
        LocalMillis at;
        L due;
    };
    const auto none = [] {};
    const std::vector<Step> steps = {
        {"loaded", none, kStart, {"c"}},
        {"4.99 minutes", none, kStart + 5 * kMinute - 1, {"c"}},
        {"5 minutes", none, kStart + 5 * kMinute, {"a", "c"}},
        {"stamps set",
         [&] {
             list.setColumn(a, kStamp, StampOf(kStart + 5 * kMinute));
             list.setColumn(c, kStamp, StampOf(kStart + 5 * kMinute));
         },
         kStart + 5 * kMinute,
         {}},
        {"interval edited",
         [&] { list.edit(b, u"b", u"http://b.test/", 8, false, false); },
         kStart + 5 * kMinute,
         {}},
        // Seven minutes before the stamps of a and c; b is a day's interval now.
        {"clock set back", none, kStart - 2 * kMinute, {"a", "c"}},
        {"added", [&] { list.add(u"e", u"http://e.test/", 3); }, kStart + 6 * kMinute, {"c", "e"}},
        {"sorted",
         [&] {
             list.edit(a, u"z", u"http://a.test/", 1, false, false);
             list.setSorted(true);
         },
         kStart + 10 * kMinute,
         {"c", "e", "z"}},
        {"status", [&] { list.setStatus(c, PageStatus::Changed); }, kStart + 5 * kMinute, {"e"}},
        {"url edited",
         [&] { list.edit(c, u"c", u"http://c2.test/", 0, false, false); },
         kStart + 5 * kMinute,
         {"c", "e"}},
        {"deleted", [&] { list.remove(c); }, kStart + 5 * kMinute, {"e"}},
        {"recheck all", [&] { list.recheckAll(); }, kStart + 5 * kMinute, {"b", "d", "e", "z"}},
    };
    for (const Step& step : steps) {
        step.change();
        EXPECT_EQ(dueAt(step.at), step.due) << step.what;
    }
}

TEST_F(CheckCycleTest, AbandonForgetsWhatRunsAndTheEntriesComeBack) {
    EntryId id = list.add(u"A", u"http://a.test/", 2);
    auto downloads = cycle.tick();
    ASSERT_EQ(downloads.size(), 1u);
    cycle.abandon();
    EXPECT_EQ(cycle.inFlight(), 0u);
    EXPECT_TRUE(cycle.finish(downloads[0], Text(u"a")).empty());
    EXPECT_EQ(entry(id).status, PageStatus::Offline);
    EXPECT_EQ(entry(id).stamp(), u"");
    EXPECT_TRUE(notifier.log.empty());
    EXPECT_EQ(cycle.tick().size(), 1u);
}

TEST_F(CheckCycleTest, StatusOutsideTheCodesIsReplacedAtTheNextCheck) {
    EntryId a = addChecked(u"A", u"http://a.test/", u"0", u"", u"", PageStatus(7));
    EntryId b = addChecked(u"B", u"", u"0", u"", u"", PageStatus(-3));
    runCycle([](const Download&) { return Text(u"a"); });
    EXPECT_EQ(entry(a).status, PageStatus::Online);
    EXPECT_EQ(entry(b).status, PageStatus::Offline);
    // An entry without a download is settled at the tick, before any download ends.
    EXPECT_EQ(notifier.log, (std::vector<std::string>{"offline B", "online A"}));
}

TEST_F(CheckCycleTest, StampIsTakenWhenTheResultArrives) {
    EntryId id = list.add(u"A", u"http://a.test/", 2);
    auto downloads = cycle.tick();
    ASSERT_EQ(downloads.size(), 1u);
    clock.time += 45 * 1000 + 500;  // a slow download; 06:00:45.5 rounds to the even 46
    cycle.finish(downloads[0], Failed());
    EXPECT_EQ(entry(id).stamp(), StampOf(kStart + 45500));
    EXPECT_EQ(entry(id).stamp(), IntToText(kStart / 1000 + 46));
}

TEST_F(CheckCycleTest, JudgeDecidesStatusAndChecksum) {
    PageEntry e;
    e.status = PageStatus::Changed;
    e.columns[kChecksum] = u"CRC A";
    EXPECT_EQ(Judge(e, Sum(u"CRC A")).status, PageStatus::Online);
    EXPECT_EQ(Judge(e, Sum(u"CRC B")).status, PageStatus::Changed);
    EXPECT_EQ(Judge(e, Sum(u"CRC B")).checksum, u"CRC B");
    EXPECT_EQ(Judge(e, Failed()).status, PageStatus::Offline);
    EXPECT_EQ(Judge(e, Failed()).checksum, u"CRC A");
    // A tolerated failure: the check found the page offline, the status stays.
    EXPECT_EQ(Judge(e, Failed(), 2, 3).outcome, PageStatus::Offline);
    EXPECT_EQ(Judge(e, Failed(), 2, 3).status, PageStatus::Changed);
    EXPECT_EQ(Judge(e, Failed(), 3, 3).status, PageStatus::Offline);
    e.columns[kChecksum].clear();
    EXPECT_EQ(Judge(e, Sum(u"CRC B")).status, PageStatus::Online);
}

// The page's settings as a settings window would save them, by URL.
class ToleranceTest : public CheckCycleTest {
  protected:
    ToleranceTest() {
        cycle.setSettingsProvider([](const std::u16string& url) {
            PageFilterSettings settings;
            settings.failuresBeforeOffline = url == u"http://flaky.test/" ? 3 : 1;
            return settings;
        });
        cycle.setCheckSink([this](const std::u16string& url, const CheckRecord& check, std::u16string text) {
            records.push_back({url, check, std::move(text)});
        });
    }
    void checkOnce(const DownloadResult& result) {
        clock.time += kMinute;
        runCycle([&](const Download&) { return result; });
    }
    struct Record {
        std::u16string url;
        CheckRecord check;
        std::u16string text;
    };
    std::vector<Record> records;
};

TEST_F(ToleranceTest, FailuresBelowTheCountKeepTheStatusWithoutABalloon) {
    const EntryId flaky = list.add(u"Flaky", u"http://flaky.test/", 0);
    checkOnce(Text(u"page"));
    // Fail, fail, back: no balloon, the status stays online throughout.
    checkOnce(Failed());
    checkOnce(Failed(u"Read timed out"));
    EXPECT_EQ(entry(flaky).status, PageStatus::Online);
    EXPECT_EQ(cycle.failuresInRow(flaky), 2);
    checkOnce(Text(u"page"));
    EXPECT_EQ(cycle.failuresInRow(flaky), 0);
    EXPECT_EQ(notifier.log, (std::vector<std::string>{"online Flaky"}));

    // Three in a row: one offline balloon at the third; later failures add none.
    for (int i = 0; i < 5; ++i) checkOnce(Failed());
    EXPECT_EQ(entry(flaky).status, PageStatus::Offline);
    EXPECT_EQ(notifier.log, (std::vector<std::string>{"online Flaky", "offline Flaky"}));
    // A success ends the run: the next failure is tolerated again.
    checkOnce(Text(u"page"));
    checkOnce(Failed());
    EXPECT_EQ(entry(flaky).status, PageStatus::Online);

    // The history hears every check, tolerated failures with what they found.
    ASSERT_EQ(records.size(), 11u);
    EXPECT_EQ(records[0].url, u"http://flaky.test/");
    EXPECT_EQ(records[0].text, u"page");
    EXPECT_EQ(records[2].check.outcome, PageStatus::Offline);
    EXPECT_EQ(records[2].check.status, PageStatus::Online);
    EXPECT_EQ(records[2].check.detail, u"Read timed out");
    EXPECT_TRUE(records[2].text.empty());
    EXPECT_EQ(records[6].check.status, PageStatus::Offline);
    EXPECT_EQ(records[6].check.timeMs, LocalToUtcMs(clock.time - 4 * kMinute));
}

TEST_F(ToleranceTest, NewFiltersStartThePageAfresh) {
    const EntryId flaky = list.add(u"Flaky", u"http://flaky.test/", 8);
    checkOnce(Text(u"whole page"));
    checkOnce(Failed());
    ASSERT_EQ(cycle.failuresInRow(flaky), 0);  // not due yet within the day's interval
    clock.time += 1440 * kMinute;
    runCycle([](const Download&) { return Failed(); });
    ASSERT_EQ(cycle.failuresInRow(flaky), 1);

    // A check in flight when the filters change does not land; the page is due at once and its
    // first check with the new filters is online, not changed; the failure count starts over.
    clock.time += 1440 * kMinute;
    const std::vector<Download> inFlight = cycle.tick();
    ASSERT_EQ(inFlight.size(), 1u);
    list.startAfresh(flaky);
    EXPECT_TRUE(entry(flaky).checksum().empty());
    EXPECT_TRUE(cycle.finish(inFlight[0], Failed()).empty());
    EXPECT_TRUE(entry(flaky).stamp().empty());
    EXPECT_EQ(cycle.failuresInRow(flaky), 0);
    runCycle([](const Download&) { return Text(u"filtered part"); });
    EXPECT_EQ(entry(flaky).status, PageStatus::Online);
    EXPECT_EQ(entry(flaky).checksum(), Crc32Text(u"filtered part"));
    EXPECT_EQ(notifier.log, (std::vector<std::string>{"online Flaky"}));
}

// A paused page is never handed out: not when due, not when paused while it waited for its
// host, and not again after a check that was in flight when it was paused. Its pause ends by
// the clock, and it is due again by its stamp.
TEST_F(CheckCycleTest, APausedPageIsNotCheckedUntilItsPauseEnds) {
    const EntryId shop = list.add(u"Shop", u"http://a.test/shop", 8);
    const EntryId news = list.add(u"News", u"http://a.test/news", 8);
    const EntryId mail = list.add(u"Mail", u"http://b.test/mail", 8);
    list.pause(shop, clock.time + 60 * kMinute);
    std::vector<Download> started = cycle.tick();  // news waits behind nothing; mail on its own host
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0].id, news);
    list.pause(mail, PageList::kPausedForGood);
    EXPECT_TRUE(cycle.finish(started[1], Text(u"m")).empty());
    EXPECT_EQ(entry(mail).status, PageStatus::Online);  // the check in flight landed
    EXPECT_TRUE(cycle.finish(started[0], Text(u"n")).empty());
    clock.advanceMinutes(59);
    EXPECT_TRUE(list.resumeExpired(clock.time).empty());
    EXPECT_TRUE(runCycle([](const Download&) { return Text(u"x"); }).empty());
    clock.advanceMinutes(1);
    EXPECT_EQ(list.resumeExpired(clock.time), std::vector<EntryId>{shop});
    EXPECT_FALSE(list.pausedUntil(shop));
    EXPECT_EQ(list.pausedUntil(mail), PageList::kPausedForGood);
    EXPECT_EQ(runCycle([](const Download&) { return Text(u"x"); }),
              std::vector<std::u16string>{u"http://a.test/shop"});
    // Resumed, a page is due by its stamp: the check that landed an hour ago counts.
    list.resume(mail);
    EXPECT_TRUE(runCycle([](const Download&) { return Text(u"x"); }).empty());
    clock.advanceMinutes(24 * 60);
    EXPECT_EQ(runCycle([](const Download&) { return Text(u"x"); }).size(), 3u);
}

// Paused while queued behind another page of its host: skipped when its turn comes.
TEST_F(CheckCycleTest, APagePausedWhileItWaitsForItsHostIsSkipped) {
    list.add(u"Shop", u"http://a.test/shop", 0);
    const EntryId news = list.add(u"News", u"http://a.test/news", 0);
    CheckCycle oneAhead{list, clock, notifier, AuthorityKey, 4, 1};
    std::vector<Download> started = oneAhead.tick();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(oneAhead.waiting(), 1u);
    list.pause(news, PageList::kPausedForGood);
    EXPECT_TRUE(oneAhead.finish(started[0], Text(u"s")).empty());
    EXPECT_EQ(oneAhead.waiting(), 0u);
    EXPECT_TRUE(entry(news).stamp().empty());
}

}  // namespace
}  // namespace vantrel
