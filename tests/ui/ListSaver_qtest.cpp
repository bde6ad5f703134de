// Saves in the background: the caller never waits for a write, only the newest waiting snapshot
// is written, a failure comes back once on the owner's thread, and the save at the end of the run
// waits for the one being written and decides alone.
#include <QThread>
#include <QtTest>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "text/Error.h"
#include "ui/ListSaver.h"

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

// A held write ends when released, or after this: only a test that failed waits that long.
constexpr auto kHoldLimit = 20s;
// Posting while a write is held returns at once; half the hold leaves a loaded machine room.
constexpr qint64 kPostsReturnWithinMs = 10000;

// A snapshot told apart by its number of entries.
PageListSnapshot snapshotOf(size_t entries) {
    PageListSnapshot snapshot;
    snapshot.entries.resize(entries);
    return snapshot;
}

// A writer that notes what it wrote and on which thread; a write it is told to hold waits until
// released (at most kHoldLimit), and one it is told to fail throws after that.
struct SlowWriter {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<size_t> written;
    std::vector<std::thread::id> threads;
    size_t holdSize = SIZE_MAX;
    size_t failSize = SIZE_MAX;
    bool holding = false;
    bool released = false;

    ListSaver::Writer writer() {
        return [this](const PageListSnapshot& snapshot) {
            std::unique_lock lock(mutex);
            if (snapshot.entries.size() == holdSize) {
                holding = true;
                changed.notify_all();
                changed.wait_for(lock, kHoldLimit, [this] { return released; });
            }
            written.push_back(snapshot.entries.size());
            threads.push_back(std::this_thread::get_id());
            if (snapshot.entries.size() == failSize) throw Error("Unable to write to /x/webpages.dat");
        };
    }
    bool waitHolding() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kHoldLimit, [this] { return holding; });
    }
    void release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
};

}  // namespace

class ListSaverTest : public QObject {
    Q_OBJECT
  private slots:
    void postReturnsWhileAWriteRunsAndOnlyTheNewestWaitingIsWritten();
    void failureComesBackOnceAndTheEndOfRunSaveDecidesAlone();
};

void ListSaverTest::postReturnsWhileAWriteRunsAndOnlyTheNewestWaitingIsWritten() {
    SlowWriter slow;
    slow.holdSize = 1;
    ListSaver saver(slow.writer(), nullptr);
    QElapsedTimer posting;
    posting.start();
    saver.post(snapshotOf(1));
    QVERIFY(slow.waitHolding());
    for (size_t size : {2, 3, 4}) saver.post(snapshotOf(size));
    // The held write lasts until released: none of the posts waited for it.
    QVERIFY2(posting.elapsed() < kPostsReturnWithinMs, qPrintable(QString::number(posting.elapsed())));
    slow.release();
    saver.waitUntilIdle();
    QCOMPARE(slow.written, (std::vector<size_t>{1, 4}));
    QVERIFY(slow.threads.front() != std::this_thread::get_id());
}

void ListSaverTest::failureComesBackOnceAndTheEndOfRunSaveDecidesAlone() {
    SlowWriter slow;
    slow.failSize = 1;
    QStringList reported;
    bool onOwnersThread = true;
    ListSaver saver(slow.writer(), [&](const std::exception_ptr& error) {
        onOwnersThread = onOwnersThread && QThread::currentThread() == qApp->thread();
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& thrown) {
            reported << QString::fromUtf8(thrown.what());
        }
    });
    saver.post(snapshotOf(1));
    QTRY_COMPARE(reported, QStringList{"Unable to write to /x/webpages.dat"});
    QVERIFY(onOwnersThread);

    // A failing write in flight and one waiting when the run ends.
    reported.clear();
    slow.holdSize = 1;
    saver.post(snapshotOf(1));
    QVERIFY(slow.waitHolding());
    saver.post(snapshotOf(2));
    std::thread releaser([&] {
        std::this_thread::sleep_for(100ms);
        slow.release();
    });
    saver.saveNow(snapshotOf(3));
    releaser.join();
    // The running write finished first, the waiting one was dropped, the last one ran here.
    QCOMPARE(slow.written, (std::vector<size_t>{1, 1, 3}));
    QVERIFY(slow.threads.back() == std::this_thread::get_id());
    // The superseded failure is not shown; the end-of-run save's own one is thrown.
    QTest::qWait(50);
    QVERIFY(reported.isEmpty());
    slow.failSize = 4;
    QVERIFY_THROWS_EXCEPTION(Error, saver.saveNow(snapshotOf(4)));
}

QTEST_MAIN(ListSaverTest)
#include "ListSaver_qtest.moc"
