#include "store/HistoryStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "store/Sqlite.h"
#include "store/StoreTestSupport.h"
#include "text/Text.h"

namespace vantrel {
namespace {

using test::TempDir;

CheckRecord Check(int64_t timeMs, PageStatus outcome, std::u16string detail = u"HTTP/1.1 200 OK",
                  int64_t bytes = 100) {
    return CheckRecord{timeMs, 140, outcome, outcome, std::move(detail), bytes};
}

class HistoryStoreTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file(kHistoryFileName);
    const std::u16string url = u"http://example.test/caf\u00e9";
};

TEST_F(HistoryStoreTest, ChecksReadBackNewestFirstWithTheirSummary) {
    EXPECT_EQ(HistoryStore::PathBeside("/some/dir/webpages.dat"), "/some/dir/history.db");
    {
        HistoryStore store(path);
        ASSERT_FALSE(store.disabled()) << ToUtf8(store.disabledReason());
        store.record(url, Check(1000, PageStatus::Online), u"a");
        store.record(url, Check(2000, PageStatus::Changed), u"b");
        store.record(url, Check(3000, PageStatus::Offline, u"Connection refused", 0), std::nullopt);
        store.record(url, Check(4000, PageStatus::Offline, u"HTTP/1.1 404 Not Found", 0), std::nullopt);
        store.flush();
        const auto checks = store.recentChecks(url, 3);
        ASSERT_EQ(checks.size(), 3u);
        EXPECT_EQ(checks[0].detail, u"HTTP/1.1 404 Not Found");
        EXPECT_EQ(checks[1].timeMs, 3000);
        EXPECT_EQ(checks[2].outcome, PageStatus::Changed);
        EXPECT_EQ(checks[2].durationMs, 140);
        EXPECT_EQ(checks[2].textBytes, 100);
        EXPECT_TRUE(store.recentChecks(u"http://other.test/", 50).empty());
    }
    // Reopened: what was queued at the end was written.
    HistoryStore store(path);
    store.flush();  // opened on the store's thread
    const PageSummary summary = store.summary(url);
    ASSERT_TRUE(summary.last);
    EXPECT_EQ(summary.last->timeMs, 4000);
    EXPECT_EQ(summary.statusSinceMs, 3000);  // offline since the first of the two failures
    EXPECT_EQ(summary.contentChangedMs, 2000);
    EXPECT_EQ(summary.checkCount, 4);
    EXPECT_FALSE(store.summary(u"http://other.test/").last);
}

TEST_F(HistoryStoreTest, KeepsTheLatestThousandChecks) {
    HistoryStore store(path);
    for (int i = 1; i <= limits::kMaxChecksPerPage + 5; ++i)
        store.record(url, Check(i, PageStatus::Online), std::nullopt);
    store.record(u"http://second.test/", Check(1, PageStatus::Online), std::nullopt);
    store.flush();
    const auto checks = store.recentChecks(url, 2 * limits::kMaxChecksPerPage);
    ASSERT_EQ(checks.size(), static_cast<size_t>(limits::kMaxChecksPerPage));
    EXPECT_EQ(checks.front().timeMs, limits::kMaxChecksPerPage + 5);
    EXPECT_EQ(checks.back().timeMs, 6);
    EXPECT_EQ(store.summary(u"http://second.test/").checkCount, 1);
}

TEST_F(HistoryStoreTest, TextsChangeOnlyWithAChangeOrAFreshStart) {
    HistoryStore store(path);
    store.record(url, Check(1, PageStatus::Online), u"one\ntwo");
    store.record(url, Check(2, PageStatus::Online), u"one\ntwo");
    store.flush();
    PageTexts texts = store.texts(url);
    EXPECT_FALSE(texts.before);
    ASSERT_TRUE(texts.latest);
    EXPECT_EQ(texts.latest->firstSeenMs, 1);
    EXPECT_EQ(texts.latest->lastSeenMs, 2);

    store.record(url, Check(3, PageStatus::Changed), u"one\nthree");
    store.record(url, Check(4, PageStatus::Offline, u"Connection refused", 0), std::nullopt);
    store.flush();
    texts = store.texts(url);
    ASSERT_TRUE(texts.before && texts.latest);
    EXPECT_EQ(texts.before->text, u"one\ntwo");
    EXPECT_EQ(texts.before->lastSeenMs, 2);
    EXPECT_EQ(texts.latest->text, u"one\nthree");
    EXPECT_EQ(texts.latest->firstSeenMs, 3);

    // Other text judged online: the stored checksum was emptied (new URL, new filters).
    store.record(url, Check(5, PageStatus::Online), u"fresh");
    store.flush();
    texts = store.texts(url);
    EXPECT_FALSE(texts.before);
    EXPECT_EQ(texts.latest->text, u"fresh");

    // A text over the cap is cut before a character that would straddle it, and says so.
    std::u16string big(limits::kMaxStoredTextBytes - 1, u'x');
    big += u"\u00e9tail";
    store.record(url, Check(6, PageStatus::Changed), big);
    store.flush();
    texts = store.texts(url);
    EXPECT_TRUE(texts.latest->cut);
    EXPECT_EQ(texts.latest->text, std::u16string(limits::kMaxStoredTextBytes - 1, u'x'));
    EXPECT_FALSE(texts.before->cut);
}

TEST_F(HistoryStoreTest, AnEditedUrlTakesItsHistoryAndSettingsAlong) {
    HistoryStore store(path);
    PageFilterSettings filters;
    filters.selectorKind = SelectorKind::Css;
    filters.selector = u"#main .price";
    filters.visibleTextOnly = true;
    filters.ignorePatterns = {u"^Updated \\d+ minutes ago$", u"token=\\w+"};
    filters.failuresBeforeOffline = 9;  // clamped
    filters.request = {u"X-Token: abc", u"Mozilla/5.0", u"me", u"/home/me/cookies.txt", u"never kept"};
    store.saveSettings(u"http://a/", filters);
    filters.failuresBeforeOffline = kMaxFailuresBeforeOffline;
    filters.request.authPassword.clear();
    EXPECT_EQ(store.settings(u"http://a/"), filters);
    store.record(u"http://a/", Check(1, PageStatus::Online), u"a");
    store.record(u"http://taken/", Check(2, PageStatus::Offline), std::nullopt);

    store.renameUrl(u"http://a/", u"http://b/", false);
    EXPECT_EQ(store.settings(u"http://b/"), filters);
    EXPECT_EQ(store.settings(u"http://a/"), PageFilterSettings{});
    store.flush();
    EXPECT_EQ(store.summary(u"http://b/").checkCount, 1);
    EXPECT_EQ(store.texts(u"http://b/").latest->text, u"a");
    EXPECT_EQ(store.summary(u"http://a/").checkCount, 0);

    // Another entry still watches the old URL: copied, both keep it.
    store.renameUrl(u"http://b/", u"http://c/", true);
    store.flush();
    EXPECT_EQ(store.summary(u"http://b/").checkCount, 1);
    EXPECT_EQ(store.summary(u"http://c/").checkCount, 1);
    // A URL with a history of its own keeps it; the old URL's is gone with its last entry.
    store.renameUrl(u"http://b/", u"http://taken/", false);
    store.flush();
    EXPECT_EQ(store.summary(u"http://b/").checkCount, 0);
    EXPECT_EQ(store.summary(u"http://taken/").checkCount, 1);
    EXPECT_EQ(store.settings(u"http://c/"), filters);
    EXPECT_EQ(store.summary(u"http://taken/").last->outcome, PageStatus::Offline);

    // A page no longer listed is forgotten at the next start; an empty list forgets nothing.
    store.prune({});
    store.flush();
    EXPECT_EQ(store.summary(u"http://taken/").checkCount, 1);
    store.prune({u"http://c/"});
    store.flush();
    EXPECT_EQ(store.summary(u"http://taken/").checkCount, 0);
    EXPECT_EQ(store.summary(u"http://c/").checkCount, 1);
    EXPECT_EQ(store.settings(u"http://taken/"), PageFilterSettings{});

    HistoryStore reopened(path);
    reopened.flush();
    EXPECT_EQ(reopened.settings(u"http://c/"), filters);
    EXPECT_EQ(reopened.settings(u"http://b/"), PageFilterSettings{});
}

TEST_F(HistoryStoreTest, AFileOfTheVersionBeforeKeepsItsSettingsAndGainsRequestSettings) {
    PageFilterSettings filters;
    filters.selector = u"#price";
    {
        HistoryStore store(path);
        store.saveSettings(url, filters);
        store.flush();
    }
    {
        // The file as version 2 left it.
        SqliteDb db(path, false);
        db.exec("DROP TABLE requests; PRAGMA user_version=2;");
    }
    HistoryStore store(path);
    EXPECT_FALSE(store.disabled());
    EXPECT_EQ(store.settings(url), filters);
    filters.request.authUser = u"me";
    store.saveSettings(url, filters);
    store.flush();
    HistoryStore reopened(path);
    EXPECT_EQ(reopened.settings(url), filters);
}

TEST_F(HistoryStoreTest, AnUnusableFileTurnsTheHistoryOffAndTheCallerGoesOn) {
    // Not a database.
    test::WriteBytes(path, std::string(8192, 'x'));
    {
        HistoryStore store(path);
        store.flush();
        EXPECT_TRUE(store.disabled());
        EXPECT_NE(ToUtf8(store.disabledReason()).find("History is off: cannot use " + path),
                  std::string::npos);
        store.record(url, Check(1, PageStatus::Online), u"a");
        store.saveSettings(url, PageFilterSettings{});
        store.flush();
        EXPECT_TRUE(store.recentChecks(url, 10).empty());
    }
    EXPECT_EQ(test::ReadBytes(path), std::string(8192, 'x')) << "a damaged file is left for the user";

    // A folder the user may not write to.
    const std::string locked = dir.file("locked");
    ::mkdir(locked.c_str(), 0555);
    EXPECT_EQ(test::RunUnprivileged([&] {
                  HistoryStore store(locked + "/history.db");
                  store.record(url, Check(1, PageStatus::Online), u"a");
                  store.flush();
                  return std::string(store.disabled() ? "off" : "on");
              }),
              "off");

    // A full disk while writing: the store goes off, later records are dropped without a wait.
    const std::string open = dir.file("open");
    ::mkdir(open.c_str(), 0777);
    ::chmod(open.c_str(), 0777);
    const std::string result = test::RunUnprivileged(
        [&] {
            HistoryStore store(open + "/history.db");
            if (store.disabled()) return "off at open: " + ToUtf8(store.disabledReason());
            store.record(url, Check(1, PageStatus::Online), std::u16string(200'000, u'y'));
            store.flush();
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < 100; ++i) store.record(url, Check(i, PageStatus::Online), u"z");
            const bool quick = std::chrono::steady_clock::now() - start < std::chrono::seconds(1);
            return std::string(store.disabled() ? "off" : "on") + (quick ? " quick" : " slow");
        },
        128 * 1024);
    EXPECT_EQ(result, "off quick");
}

// A file of another program that uses our table names, one whose tables have other columns, and
// one with damaged pages: each is left byte for byte as it was, and the reason is given to the
// window and to --status.
TEST_F(HistoryStoreTest, AForeignOrDamagedFileIsLeftAloneWithTheReasonShown) {
    const auto makeFile = [&](const std::string& file, const char* sql) {
        SqliteDb db(file, false);
        db.exec(sql);
    };
    const std::string foreign = dir.file("foreign.db"), columns = dir.file("columns.db");
    makeFile(foreign, "CREATE TABLE pages(name TEXT, owner TEXT); INSERT INTO pages VALUES('a', 'b');");
    makeFile(columns, "CREATE TABLE pages(id INTEGER PRIMARY KEY, address TEXT); PRAGMA user_version=1;");
    {
        HistoryStore store(path);  // ours, for the damaged case below
        for (int i = 0; i < 200; ++i)
            store.record(u"http://p/" + IntToText(i), Check(i, PageStatus::Online),
                         std::u16string(2000, u'a'));
    }
    std::string damaged = test::ReadBytes(path);
    ASSERT_GT(damaged.size(), 40'000u);
    std::fill(damaged.begin() + 3 * 4096, damaged.begin() + 9 * 4096, '\x5a');
    test::WriteBytes(path, damaged);
    for (const auto& [file, why] : {std::pair(foreign, "it holds tables of another program"),
                                    std::pair(columns, "its table \"pages\" is not one of this program's"),
                                    std::pair(path, "it is damaged")}) {
        const std::string before = test::ReadBytes(file);
        {
            HistoryStore store(file);
            store.flush();
            ASSERT_TRUE(store.disabled()) << file;
            EXPECT_EQ(
                ToUtf8(store.disabledReason()).rfind("History is off: cannot use " + file + ": " + why, 0),
                0u)
                << ToUtf8(store.disabledReason());
            store.record(url, Check(1, PageStatus::Online), u"a");
            store.flush();
        }
        if (file != path) {
            HistoryStore reader(file, HistoryStore::Access::ReadOnly);
            EXPECT_TRUE(reader.disabled()) << file;
        }
        EXPECT_EQ(test::ReadBytes(file), before) << file;
    }
}

TEST_F(HistoryStoreTest, AReaderSeesConsistentHistoryWhileTheWriterWrites) {
    {
        HistoryStore missing(dir.file("none.db"), HistoryStore::Access::ReadOnly);
        EXPECT_FALSE(missing.disabled());
        EXPECT_FALSE(missing.summary(url).last);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.db"))) << "a reader never creates the file";

    HistoryStore writer(path);
    std::atomic<bool> done{false};
    std::thread writing([&] {
        for (int i = 1; i <= 300; ++i) {
            writer.record(url, Check(i, PageStatus::Online),
                          i % 50 == 0 ? std::u16string(20'000, u'a' + i % 26) : u"t");
            if (i % 30 == 0) writer.flush();
        }
        writer.flush();
        done = true;
    });
    int64_t seen = 0;
    int reads = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline && reads < 100'000) {
        const bool finished = done;
        HistoryStore reader(path, HistoryStore::Access::ReadOnly);
        ASSERT_FALSE(reader.disabled()) << ToUtf8(reader.disabledReason());
        const PageSummary summary = reader.summary(url);
        ++reads;
        EXPECT_GE(summary.checkCount, seen);
        if (summary.last) {
            EXPECT_EQ(summary.last->timeMs, summary.checkCount);
        }
        seen = summary.checkCount;
        if (finished) break;
    }
    writing.join();
    EXPECT_EQ(seen, 300);
    EXPECT_GT(reads, 1);
}

// A file of the first version (before pauses were kept) is read with its settings, gains the
// table of pauses at its first write and keeps a pause for the next run; prune drops it with its
// page.
TEST_F(HistoryStoreTest, AFileOfTheFirstVersionKeepsWorkingAndKeepsPauses) {
    PageFilterSettings kept;
    kept.selector = u"#main";
    {
        HistoryStore store(path);
        store.saveSettings(url, kept);
        store.record(url, Check(1000, PageStatus::Online), u"a");
    }
    {
        SqliteDb db(path, false);
        db.exec("DROP TABLE pauses; PRAGMA user_version=1;");
    }
    {
        HistoryStore store(path);
        EXPECT_EQ(store.settings(url).selector, u"#main");
        EXPECT_TRUE(store.pauses().empty());
        store.savePause(url, 5000);
        store.savePause(u"http://other.test/", INT64_MAX);
        store.savePause(u"http://other.test/", std::nullopt);
        store.flush();
        ASSERT_FALSE(store.disabled()) << ToUtf8(store.disabledReason());
    }
    HistoryStore store(path);
    EXPECT_EQ(store.pauses(), (std::map<std::u16string, int64_t>{{url, 5000}}));
    EXPECT_EQ(store.summary(url).checkCount, 1);
    store.prune({u"http://other.test/"});
    store.flush();
    EXPECT_TRUE(store.pauses().empty());
    SqliteDb db(path, true);
    EXPECT_EQ(history::SchemaVersion(db), history::kSchemaVersion);
    SqliteStatement rows(db, "SELECT count(*) FROM pauses");
    ASSERT_TRUE(rows.step());
    EXPECT_EQ(rows.integer(0), 0);
}

}  // namespace
}  // namespace vantrel
