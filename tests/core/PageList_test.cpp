#include "core/PageList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "text/Text.h"

namespace vantrel {
namespace {

// Writes every observer call as text, so a test compares the whole sequence at once.
class RecordingObserver : public PageListObserver {
  public:
    void aboutToInsert(size_t p) override { log.push_back("aboutToInsert " + std::to_string(p)); }
    void inserted(size_t p) override { log.push_back("inserted " + std::to_string(p)); }
    void aboutToRemove(size_t p) override { log.push_back("aboutToRemove " + std::to_string(p)); }
    void removed(size_t p) override { log.push_back("removed " + std::to_string(p)); }
    void aboutToReorder() override { log.push_back("aboutToReorder"); }
    void reordered() override { log.push_back("reordered"); }
    void changed(size_t p) override { log.push_back("changed " + std::to_string(p)); }
    void changedRange(size_t f, size_t l) override {
        log.push_back("changed " + std::to_string(f) + ".." + std::to_string(l));
    }
    void aboutToReset() override { log.push_back("aboutToReset"); }
    void wasReset() override { log.push_back("wasReset"); }
    std::vector<std::string> log;
};

std::vector<std::u16string> Labels(const PageList& list) {
    std::vector<std::u16string> labels;
    for (const auto& e : list.entries()) labels.push_back(e.label);
    return labels;
}

// An entry as the page list file would hand it over, checked before.
PageEntry Loaded(std::u16string label, PageStatus status, std::u16string stamp, std::u16string checksum) {
    PageEntry e;
    e.label = std::move(label);
    e.status = status;
    e.columns = {u"http://example.test/", u"3", std::move(stamp), std::move(checksum)};
    return e;
}

TEST(PageListTest, AddTrimsAndStartsOffline) {
    PageList list;
    EntryId id = list.add(u"\t News \r\n", u"  http://news.test/ \x01", 4);
    ASSERT_EQ(list.size(), 1u);
    const PageEntry& e = list.at(0);
    EXPECT_EQ(e.id, id);
    EXPECT_EQ(e.label, u"News");
    EXPECT_EQ(e.status, PageStatus::Offline);
    EXPECT_EQ(e.url(), u"http://news.test/");
    EXPECT_EQ(e.interval(), u"4");
    EXPECT_EQ(e.stamp(), u"");
    EXPECT_EQ(e.checksum(), u"");
    EXPECT_EQ(list.add(u"b", u"", -1), id + 1);
    EXPECT_EQ(list.at(1).interval(), u"-1");
}

TEST(PageListTest, EditWithTheSameUrlKeepsStampChecksumStatusAndRevision) {
    PageList list;
    EntryId id = list.insertLoaded(Loaded(u"Old", PageStatus::Online, u"1700000000", u"CRC A"));
    list.edit(id, u" New ", u" http://example.test/ ", 6, false, false);
    const PageEntry& e = list.at(0);
    EXPECT_EQ(e.label, u"New");
    EXPECT_EQ(e.url(), u"http://example.test/");
    EXPECT_EQ(e.interval(), u"6");
    EXPECT_EQ(e.stamp(), u"1700000000");
    EXPECT_EQ(e.checksum(), u"CRC A");
    EXPECT_EQ(e.status, PageStatus::Online);
    EXPECT_EQ(e.revision, 0u);
}

TEST(PageListTest, EditWithACaseOnlyUrlChangeResetsTheEntry) {
    PageList list;
    EntryId id = list.insertLoaded(Loaded(u"A", PageStatus::Changed, u"1700000000", u"CRC A"));
    list.edit(id, u"A", u"http://EXAMPLE.test/", 2, true, true);
    const PageEntry& e = list.at(0);
    EXPECT_EQ(e.url(), u"http://EXAMPLE.test/");
    EXPECT_EQ(e.stamp(), u"");
    EXPECT_EQ(e.checksum(), u"");
    EXPECT_EQ(e.status, PageStatus::Offline);
    EXPECT_EQ(e.revision, 1u);
}

TEST(PageListTest, ClearedChangedBoxSetsOnlineUnlessTheUrlChangesToo) {
    PageList list;
    EntryId a = list.insertLoaded(Loaded(u"A", PageStatus::Changed, u"1", u"CRC A"));
    EntryId b = list.insertLoaded(Loaded(u"B", PageStatus::Changed, u"1", u"CRC B"));
    EntryId c = list.insertLoaded(Loaded(u"C", PageStatus::Changed, u"1", u"CRC C"));
    list.edit(a, u"A", u"http://example.test/", 3, true, false);
    list.edit(b, u"B", u"http://other.test/", 3, true, false);  // step 3 comes after step 1
    list.edit(c, u"C", u"http://example.test/", 3, true, true);
    EXPECT_EQ(list.find(a)->status, PageStatus::Online);
    EXPECT_EQ(list.find(a)->checksum(), u"CRC A");
    EXPECT_EQ(list.find(b)->status, PageStatus::Offline);
    EXPECT_EQ(list.find(c)->status, PageStatus::Changed);
}

TEST(PageListTest, ClearedChangedBoxAppliesOnTopOfAStatusSetMeanwhile) {
    // The dialog opened on a changed entry; a check settled it offline before OK was pressed.
    PageList list;
    EntryId id = list.insertLoaded(Loaded(u"A", PageStatus::Changed, u"1", u"CRC A"));
    list.setStatus(id, PageStatus::Offline);
    list.edit(id, u"A", u"http://example.test/", 3, true, false);
    EXPECT_EQ(list.find(id)->status, PageStatus::Online);
}

TEST(PageListTest, EditAndRemoveOfAnUnknownIdDoNothing) {
    PageList list;
    EntryId id = list.add(u"A", u"u", 2);
    list.remove(id);
    RecordingObserver observer;
    list.setObserver(&observer);
    list.edit(id, u"B", u"v", 1, false, false);
    list.remove(id);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(observer.log.empty());
}

TEST(PageListTest, DeleteKeepsTheIdsOfTheOthersAndNeverReusesOne) {
    PageList list;
    EntryId a = list.add(u"A", u"a", 2);
    EntryId b = list.add(u"B", u"b", 2);
    EntryId c = list.add(u"C", u"c", 2);
    list.remove(b);
    EXPECT_EQ(list.positionOf(a), 0u);
    EXPECT_EQ(list.positionOf(c), 1u);
    EXPECT_EQ(list.positionOf(b), std::nullopt);
    EXPECT_EQ(list.find(b), nullptr);
    EntryId d = list.add(u"D", u"d", 2);
    EXPECT_NE(d, a);
    EXPECT_NE(d, b);
    EXPECT_NE(d, c);
}

TEST(PageListTest, SortedInsertionGoesAfterEqualLabels) {
    PageList list;
    list.setSorted(true);
    EntryId first = list.add(u"m", u"1", 2);
    list.add(u"z", u"", 2);
    list.add(u"a", u"", 2);
    EntryId second = list.add(u"m", u"2", 2);
    list.add(u"B", u"", 2);  // code-unit order: upper case first
    EXPECT_EQ(Labels(list), (std::vector<std::u16string>{u"B", u"a", u"m", u"m", u"z"}));
    EXPECT_EQ(list.positionOf(first), 2u);
    EXPECT_EQ(list.positionOf(second), 3u);
}

TEST(PageListTest, SortingIsStableAndSwitchingOffKeepsTheOrder) {
    PageList list;
    list.add(u"c", u"1", 2);
    list.add(u"a", u"2", 2);
    list.add(u"c", u"3", 2);
    list.add(u"b", u"4", 2);
    list.setSorted(true);
    EXPECT_EQ(list.at(2).url(), u"1");
    EXPECT_EQ(list.at(3).url(), u"3");
    list.setSorted(false);
    list.add(u"a", u"5", 2);
    EXPECT_EQ(Labels(list), (std::vector<std::u16string>{u"a", u"b", u"c", u"c", u"a"}));
}

TEST(PageListTest, ObserverHearsInsertEditSortRemoveInOrder) {
    PageList list;
    RecordingObserver observer;
    list.setObserver(&observer);
    list.add(u"b", u"", 2);
    list.add(u"a", u"", 2);
    list.setSorted(true);
    EntryId c = list.add(u"c", u"", 2);  // already in place: no reorder
    list.setSorted(true);
    list.edit(c, u"0", u"", 2, false, false);  // label moves it to the front
    list.edit(c, u"0", u"", 5, false, false);  // same label: no reorder
    list.remove(c);
    const std::vector<std::string> expected = {
        "aboutToInsert 0", "inserted 0",      "aboutToInsert 1", "inserted 1", "aboutToReorder",
        "reordered",       "aboutToInsert 2", "inserted 2",      "changed 2",  "aboutToReorder",
        "reordered",       "changed 0",       "aboutToRemove 0", "removed 0",
    };
    EXPECT_EQ(observer.log, expected);
}

TEST(PageListTest, HeldChangesReachTheObserverOncePerEntryBeforeAnythingElse) {
    PageList list;
    std::vector<EntryId> ids;
    for (int i = 0; i < 5; ++i) ids.push_back(list.add(u"p" + IntToText(i), u"", 2));
    RecordingObserver observer;
    list.setObserver(&observer);
    list.holdChanges();
    list.holdChanges();
    list.setStatus(ids[3], PageStatus::Online);
    list.setColumn(ids[3], kStamp, u"1");
    list.setColumn(ids[1], kStamp, u"1");
    list.setColumn(ids[0], kStamp, u"1");
    list.releaseChanges();  // still held once
    EXPECT_TRUE(observer.log.empty());
    list.setColumn(ids[4], kStamp, u"1");
    list.remove(ids[2]);  // what was held goes first, at the positions before the removal
    list.setColumn(ids[4], kChecksum, u"x");
    list.releaseChanges();
    list.setColumn(ids[0], kChecksum, u"x");  // no longer held
    const std::vector<std::string> expected = {"changed 0..1", "changed 3..4", "aboutToRemove 2",
                                               "removed 2",    "changed 3",    "changed 0"};
    EXPECT_EQ(observer.log, expected);
}

TEST(PageListTest, SetCompareResortsWhenSortingIsOn) {
    PageList list;
    list.add(u"b", u"", 2);
    list.add(u"A", u"", 2);
    list.add(u"a", u"", 2);
    list.setSorted(true);
    EXPECT_EQ(Labels(list), (std::vector<std::u16string>{u"A", u"a", u"b"}));
    RecordingObserver observer;
    list.setObserver(&observer);
    // A stand-in for a linguistic order: letters compared without case, lower case first.
    list.setCompare([](const std::u16string& x, const std::u16string& y) {
        auto key = [](const std::u16string& s) {
            std::u16string folded;
            for (char16_t ch : s) folded += static_cast<char16_t>(ch >= u'A' && ch <= u'Z' ? ch + 32 : ch);
            for (char16_t ch : s) folded += static_cast<char16_t>(ch >= u'A' && ch <= u'Z' ? 1 : 0);
            return folded;
        };
        return key(x).compare(key(y));
    });
    EXPECT_EQ(Labels(list), (std::vector<std::u16string>{u"a", u"A", u"b"}));
    EXPECT_EQ(observer.log, (std::vector<std::string>{"aboutToReorder", "reordered"}));
    list.setSorted(false);
    list.setCompare({});
    EXPECT_EQ(Labels(list), (std::vector<std::u16string>{u"a", u"A", u"b"}));
    EXPECT_EQ(observer.log.size(), 2u);
}

TEST(PageListTest, RecheckAllResetsStatusAndStampButKeepsChecksums) {
    PageList list;
    EntryId a = list.insertLoaded(Loaded(u"A", PageStatus::Online, u"1700000000", u"CRC A"));
    EntryId b = list.insertLoaded(Loaded(u"B", PageStatus::Changed, u"1700000001", u""));
    RecordingObserver observer;
    list.setObserver(&observer);
    list.recheckAll();
    for (EntryId id : {a, b}) {
        const PageEntry* e = list.find(id);
        EXPECT_EQ(e->status, PageStatus::Offline);
        EXPECT_EQ(e->stamp(), u"");
        EXPECT_EQ(e->url(), u"http://example.test/");
        EXPECT_EQ(e->interval(), u"3");
        EXPECT_EQ(e->revision, 1u);
    }
    EXPECT_EQ(list.find(a)->checksum(), u"CRC A");
    EXPECT_EQ(observer.log, (std::vector<std::string>{"changed 0..1"}));
}

TEST(PageListTest, LoadedEntriesKeepTheirFieldsAndTakeTheirSortedPlace) {
    PageList list;
    list.setSorted(true);
    list.insertLoaded(Loaded(u"z", PageStatus(7), u"5", u"CRC"));
    EntryId id = list.insertLoaded(Loaded(u"a", PageStatus::Changed, u"6", u""));
    EXPECT_EQ(list.positionOf(id), 0u);
    EXPECT_EQ(static_cast<int>(list.at(1).status), 7);
    EXPECT_EQ(list.at(1).stamp(), u"5");
    EXPECT_EQ(list.at(1).checksum(), u"CRC");
}

TEST(PageListTest, BatchOfLoadedEntriesSortsOnceStablyAndPositionsFollowEveryChange) {
    PageList list;
    list.setSorted(true);
    RecordingObserver observer;
    list.setObserver(&observer);
    std::vector<PageEntry> batch;
    for (auto label : {u"c", u"a", u"b", u"a"}) batch.push_back(Loaded(label, PageStatus::Online, u"", u""));
    batch[3].columns[kStamp] = u"second a";
    list.insertLoaded(std::move(batch));
    EXPECT_EQ(observer.log, (std::vector<std::string>{"aboutToReset", "wasReset"}));
    EXPECT_EQ(Labels(list), (std::vector<std::u16string>{u"a", u"a", u"b", u"c"}));
    EXPECT_EQ(list.at(1).stamp(), u"second a");  // equal labels keep the file's order
    // Every id finds its entry through insertions, deletions and sorting.
    const EntryId early = list.add(u"0", u"", 2);
    list.remove(list.at(2).id);
    list.setSorted(false);
    const EntryId late = list.add(u"0", u"", 2);
    list.setSorted(true);
    for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list.positionOf(list.at(i).id), i);
    EXPECT_EQ(list.positionOf(early), 0u);
    EXPECT_EQ(list.positionOf(late), 1u);
}

TEST(PageListTest, DueEntriesFollowTheRuleThroughManyRandomChanges) {
    // Enough entries for deep heaps; stamps and intervals so that some fall due either way of
    // the clock at each step while others are taken, released, edited or deleted.
    std::mt19937 random(7);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    constexpr int64_t kMinute = 60000;
    const int64_t base = 1'750'000'000'000;
    const auto stamp = [&] { return IntToText(base / 1000 + (pick(600) - 300) * 60); };
    PageList list;
    for (int i = 0; i < 300; ++i)
        list.insertLoaded(Loaded(u"p" + IntToText(i), PageStatus::Online, stamp(), u""));
    std::vector<EntryId> taken;
    for (int step = 0; step < 400; ++step) {
        for (int change = 0; change < 4; ++change) {
            const EntryId some = list.at(static_cast<size_t>(pick(static_cast<int>(list.size())))).id;
            switch (pick(6)) {
                case 0:
                    list.setColumn(some, kStamp, stamp());
                    break;
                case 1:
                    list.edit(some, u"q", u"http://example.test/", pick(9), false, false);
                    break;
                case 2:
                    list.remove(some);
                    break;
                case 3:
                    list.add(u"n", u"http://n.test/", pick(9));
                    break;
                case 4:
                    if (!taken.empty()) {
                        list.release(taken.back());
                        taken.pop_back();
                    }
                    break;
                default:
                    list.checkNow(some);
                    break;
            }
        }
        const int64_t now = base + (pick(600) - 300) * kMinute;
        std::vector<EntryId> expected;
        for (const PageEntry& e : list.entries()) {
            const bool isTaken = std::find(taken.begin(), taken.end(), e.id) != taken.end();
            if (!isTaken && DueBoundsOf(e).holdAt(now)) expected.push_back(e.id);
        }
        const std::vector<EntryId> due = list.takeDue(now);
        ASSERT_EQ(due, expected) << "step " << step;
        // Most go back at once, as finished checks do; a few stay out for later steps.
        for (const EntryId id : due) {
            if (pick(8) == 0)
                taken.push_back(id);
            else
                list.release(id);
        }
    }
}

}  // namespace
}  // namespace vantrel
