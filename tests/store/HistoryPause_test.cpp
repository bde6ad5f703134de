// A history whose file another program holds locked, or whose disk is nearly full: the callers
// never wait, the writes pause with a bounded queue, and the history resumes by itself.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "store/HistoryStore.h"
#include "store/StoreTestSupport.h"
#include "text/Text.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;
using test::TempDir;

// Generous: a loaded two-core machine. Only a hang or a 5 s wait per write would pass it.
constexpr auto kQuick = std::chrono::seconds(3);
constexpr auto kPatience = std::chrono::seconds(30);

CheckRecord Check(int64_t timeMs) {
    return CheckRecord{timeMs, 10, PageStatus::Online, PageStatus::Online, u"HTTP/1.1 200 OK", 1};
}

// Polls `done` every 20 ms until it holds or kPatience has passed.
template <typename Done>
bool WaitFor(Done&& done) {
    const auto deadline = Clock::now() + kPatience;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A second connection, as an sqlite3 shell or a backup tool would hold it.
class WriteLock {
  public:
    explicit WriteLock(const std::string& path) {
        sqlite3_open(path.c_str(), &db_);
        held_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~WriteLock() { sqlite3_close(db_); }
    bool held() const { return held_; }
    void release() { sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr); }

  private:
    sqlite3* db_ = nullptr;
    bool held_ = false;
};

std::string Notice(const HistoryStore& store) {
    return ToUtf8(store.notice());
}

class HistoryPauseTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file(kHistoryFileName);
    const std::u16string url = u"http://example.test/";

    void SetUp() override {
        HistoryStore store(path);
        store.record(url, Check(1), u"first");
        store.flush();
    }
};

TEST_F(HistoryPauseTest, ALockedFileNeverStallsAndTheHistoryResumesWhenTheLockEnds) {
    WriteLock lock(path);
    ASSERT_TRUE(lock.held());
    const auto start = Clock::now();
    HistoryStore store(path);
    // The settings are read beside the lock; the checks need not wait for it.
    ASSERT_TRUE(WaitFor([&] { return !store.settingsPending(); }));
    // More than one batch's worth: each batch that met the lock is tried again whole, in order.
    constexpr int kLast = 600;
    for (int i = 2; i <= kLast; ++i) store.record(url, Check(i), std::nullopt);
    EXPECT_LT(Clock::now() - start, kQuick);
    ASSERT_TRUE(
        WaitFor([&] { return Notice(store).find("is locked by another program") != std::string::npos; }));
    EXPECT_FALSE(store.disabled());

    lock.release();
    EXPECT_TRUE(WaitFor([&] { return store.summary(url).checkCount == kLast; }));
    const std::vector<CheckRecord> newest = store.recentChecks(url, 3);
    ASSERT_EQ(newest.size(), 3u);
    EXPECT_EQ(newest[0].timeMs, kLast);
    EXPECT_EQ(newest[2].timeMs, kLast - 2);
    EXPECT_TRUE(WaitFor([&] { return Notice(store).empty(); }));
}

TEST_F(HistoryPauseTest, WhileLockedTheQueueDropsTheOldestAndTheEndWaitsAtMostASecond) {
    WriteLock lock(path);
    ASSERT_TRUE(lock.held());
    std::optional<HistoryStore> store;
    store.emplace(path);
    for (size_t i = 0; i < limits::kMaxQueuedChecks + 5; ++i)
        store->record(url, Check(100 + int64_t(i)), std::nullopt);
    EXPECT_NE(Notice(*store).find("5 checks of this run were not recorded"), std::string::npos)
        << Notice(*store);
    const auto start = Clock::now();
    store.reset();
    EXPECT_LT(Clock::now() - start, limits::kStopWaitLimit + kQuick);
    lock.release();

    // The next run says how many were lost, once; the newest were kept to the end.
    {
        HistoryStore next(path);
        next.flush();
        EXPECT_EQ(Notice(next), std::to_string(limits::kMaxQueuedChecks + 5) +
                                    " checks of an earlier run were not recorded in the history.");
        EXPECT_EQ(next.summary(url).checkCount, 1);
    }
    HistoryStore later(path);
    later.flush();
    EXPECT_EQ(Notice(later), "");
}

TEST_F(HistoryPauseTest, ANearlyFullDiskPausesTheWritesUntilSpaceComesBack) {
    std::atomic<uint64_t> free{limits::kMinFreeBytes - 1};
    HistoryStore store(path, HistoryStore::Access::ReadWrite,
                       [&](const std::string&) { return std::optional<uint64_t>(free.load()); });
    store.record(url, Check(2), std::nullopt);
    ASSERT_TRUE(WaitFor([&] { return Notice(store).find("History is paused: only 64 MB free") == 0; }))
        << Notice(store);
    // Ten times the list file beside it, when that is more than the least margin.
    test::WriteBytes(dir.file("webpages.dat"), std::string(8 * 1024 * 1024, 'x'));
    free = limits::kMinFreeBytes + 1;
    ASSERT_TRUE(WaitFor([&] {
        return Notice(store).find("it resumes when 80 MB are free") != std::string::npos;
    })) << Notice(store);
    EXPECT_EQ(store.summary(url).checkCount, 1);

    free = 81 * 1024 * 1024;
    EXPECT_TRUE(WaitFor([&] { return store.summary(url).checkCount == 2; }));
    EXPECT_EQ(Notice(store), "");
    EXPECT_FALSE(store.disabled());
}

}  // namespace
}  // namespace vantrel
