// The check runner against scripted servers on 127.0.0.1: statuses and announcements, the busy
// cursor, a window that stays responsive during a hung download, a hung server that holds up only
// its own pages, results for entries changed meanwhile, a quick end during downloads, and each
// page's filters with what every check reports for the history.
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <future>
#include <map>
#include <thread>

#include "core/CheckReport.h"
#include "core/PageList.h"
#include "net/LookupThreads.h"
#include "store/PageListFile.h"
#include "support/FakeClock.h"
#include "support/RecordingNotifier.h"
#include "support/ScriptedServer.h"
#include "text/Crc32.h"
#include "text/Error.h"
#include "text/Text.h"
#include "ui/CheckRunner.h"
#include "ui/ErrorDisplay.h"

using namespace vantrel;
using test::FakeClock;
using test::RecordingNotifier;
using test::ScriptedServer;
using Requests = std::vector<std::string>;

namespace {

constexpr LocalMillis kStart = 1'750'000'000'250;  // a local time, in the middle of a second
constexpr int kOneMinuteIndex = 0;
constexpr int kWaitMs = 10000;
// The read time-out of the hung download in busyCursorDuringEachDownloadAndWindowStaysResponsive.
constexpr int kHungReadTimeoutMs = 1500;
// The longest the window's thread may go without handling a 10 ms timer meanwhile: half the hung
// download, which would stall it the whole time if it ran there, and far above what a loaded
// two-core machine delays a timer by.
constexpr qint64 kLongestTimerGapMs = kHungReadTimeoutMs / 2;
// At least this many ticks of the 10 ms timer during that download (a tenth of what an idle
// machine shows).
constexpr int kFewestTimerTicks = 15;
// Destroying the runner during downloads ends them: far less than the 15 s read wait they were
// given. (The runner waits up to a second for its threads, then leaves them behind.)
constexpr qint64 kEndsWithinMs = 5000;

FetcherOptions readTimeout(int ms) {
    FetcherOptions options;
    options.readTimeoutMs = ms;
    return options;
}

std::u16string u16(const QString& text) {
    return text.toStdU16String();
}

std::u16string stampOf(const FakeClock& clock) {
    return IntToText(LastCheckStamp(clock.now()));
}

QStringList shownErrors;
void recordError(const QString& text) {
    shownErrors << text;
}

// Fails the first announcement, as a notification area that refuses it might.
class FailingOnceNotifier : public RecordingNotifier {
  public:
    void announce(PageStatus newStatus, EntryId id, const std::u16string& label) override {
        if (!failed) {
            failed = true;
            throw Error("Announcement failed");
        }
        RecordingNotifier::announce(newStatus, id, label);
    }
    bool failed = false;
};

// The busy cursor as the window shows it, following the runner's signal.
void showBusyCursor(const CheckRunner& runner) {
    QObject::connect(&runner, &CheckRunner::busyChanged, [](bool busy) {
        if (busy)
            QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
        else
            QGuiApplication::restoreOverrideCursor();
    });
}

bool busyCursorShown() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor && cursor->shape() == Qt::BusyCursor;
}

}  // namespace

class CheckRunnerTest : public QObject {
    Q_OBJECT
  private slots:
    void statusesFollowThePagesWithAnnouncementsInListOrder();
    void busyCursorDuringEachDownloadAndWindowStaysResponsive();
    void resultsForEntriesChangedDuringTheirDownloadAreDropped();
    void hungServerHoldsUpOnlyItsOwnPages();
    void destroyingDuringAHungDownloadEndsAtOnce();
    void failureWhileApplyingAResultEndsTheCycleAndIsShown();
    void filtersKeepAPageWithAClockOnlineAndEveryCheckIsReported();
    void aNewProxyTakesEffectAtTheNextCheckAndTheRequestIsTold();
};

void CheckRunnerTest::statusesFollowThePagesWithAnnouncementsInListOrder() {
    ScriptedServer server;
    QVERIFY(server.listening());
    server.setBody("/stable", "<html>always the same</html>");
    server.setBody("/changing", "<html>first</html>");
    const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(test::RefusedPort());

    PageList list;
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    const EntryId stable = list.add(u"Stable", server.url("/stable"), kOneMinuteIndex);
    const EntryId changing = list.add(u"Changing", server.url("/changing"), kOneMinuteIndex);
    const EntryId missing = list.add(u"Missing", server.url("/missing"), kOneMinuteIndex);
    const EntryId closed = list.add(u"Refused", u16(refused), kOneMinuteIndex);
    const EntryId twin = list.add(u"Twin", server.url("/stable"), kOneMinuteIndex);
    const EntryId blank = list.add(u"Blank", u"http://", kOneMinuteIndex);

    CheckRunner runner(list, notifier, clock, readTimeout(2000));
    showBusyCursor(runner);
    QSignalSpy cycles(&runner, &CheckRunner::cycleFinished);

    // First cycle: every entry is new, so due; a first good answer is online, never changed.
    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 1, kWaitMs);
    QCOMPARE(notifier.said, QStringList({"Stable online", "Changing online", "Twin online"}));
    // One server gets one download at a time, in list order; two entries with one URL are
    // downloaded each.
    QCOMPARE(server.requests(), Requests({"/stable", "/changing", "/missing", "/stable"}));
    QCOMPARE(list.find(stable)->status, PageStatus::Online);
    QCOMPARE(list.find(missing)->status, PageStatus::Offline);
    QCOMPARE(list.find(closed)->status, PageStatus::Offline);
    QCOMPARE(list.find(blank)->status, PageStatus::Offline);
    QVERIFY(list.find(twin)->checksum() == Crc32::checksumText(u"<html>always the same</html>"));
    QVERIFY(list.find(changing)->checksum() == Crc32::checksumText(u"<html>first</html>"));
    QVERIFY(list.find(missing)->checksum().empty());
    for (const PageEntry& entry : list.entries()) QVERIFY(entry.stamp() == stampOf(clock));

    // Nothing is due within the minute.
    runner.tick();
    QCOMPARE(cycles.size(), 2);
    QCOMPARE(server.requests().size(), 4);

    // The page changes once: changed, then online again with the new text.
    server.setBody("/changing", "<html>second</html>");
    clock.advanceMinutes(1);
    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 3, kWaitMs);
    QCOMPARE(notifier.said.mid(3), QStringList({"Changing changed"}));
    QCOMPARE(list.find(changing)->status, PageStatus::Changed);
    QVERIFY(list.find(changing)->checksum() == Crc32::checksumText(u"<html>second</html>"));
    QVERIFY(list.find(stable)->stamp() == stampOf(clock));

    // The stable page goes away (its checksum is kept) and comes back: offline, then online.
    server.set("/stable", test::Page{404, "gone"});
    clock.advanceMinutes(1);
    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 4, kWaitMs);
    QCOMPARE(notifier.said.mid(4), QStringList({"Stable offline", "Changing online", "Twin offline"}));
    QVERIFY(list.find(stable)->checksum() == Crc32::checksumText(u"<html>always the same</html>"));

    server.setBody("/stable", "<html>always the same</html>");
    clock.advanceMinutes(1);
    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 5, kWaitMs);
    QCOMPARE(notifier.said.mid(7), QStringList({"Stable online", "Twin online"}));
    QVERIFY(!busyCursorShown());
}

void CheckRunnerTest::busyCursorDuringEachDownloadAndWindowStaysResponsive() {
    ScriptedServer server;
    server.set("/hang", test::Page{200, {}, true});
    server.setBody("/page", "text");
    PageList list;
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    list.add(u"Silent", server.url("/hang"), kOneMinuteIndex);
    list.add(u"Refused", u16(QStringLiteral("http://127.0.0.1:%1/").arg(test::RefusedPort())),
             kOneMinuteIndex);
    list.add(u"Page", server.url("/page"), kOneMinuteIndex);

    // The server never answers: the download ends by the (shortened) read time-out.
    CheckRunner runner(list, notifier, clock, readTimeout(kHungReadTimeoutMs));
    showBusyCursor(runner);
    QSignalSpy cycles(&runner, &CheckRunner::cycleFinished);

    // A 10 ms timer on the window's thread measures how late events are handled meanwhile.
    QElapsedTimer sinceLast;
    qint64 worstGapMs = 0;
    int fired = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (sinceLast.isValid()) worstGapMs = std::max(worstGapMs, sinceLast.elapsed());
        sinceLast.start();
        ++fired;
    });

    QVERIFY(!busyCursorShown());
    runner.tick();
    QVERIFY(runner.downloading());
    QVERIFY(busyCursorShown());
    probe.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, kWaitMs);

    // A tick during the cycle starts nothing.
    runner.tick();
    QTest::qWait(300);
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(busyCursorShown());

    // Each later download shows it again and every end restores it, failed ones included.
    bool busyForEach = true;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (runner.downloading() && !busyCursorShown()) busyForEach = false;
    });
    watch.start();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 1, kWaitMs);
    probe.stop();
    watch.stop();
    QVERIFY(busyForEach);
    QVERIFY(!busyCursorShown());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QCOMPARE(notifier.said, QStringList({"Page online"}));
    QVERIFY2(fired >= kFewestTimerTicks, qPrintable(QString::number(fired)));
    qInfo("longest gap between ticks of a 10 ms timer during a hung download: %lld ms", worstGapMs);
    QVERIFY2(worstGapMs < kLongestTimerGapMs, qPrintable(QStringLiteral("%1 ms").arg(worstGapMs)));
}

void CheckRunnerTest::resultsForEntriesChangedDuringTheirDownloadAreDropped() {
    ScriptedServer server;
    server.set("/held", test::Page{200, "held page", false, true});
    server.setBody("/other", "other page");
    PageList list;
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    const EntryId deleted = list.add(u"Deleted", server.url("/held"), kOneMinuteIndex);
    const EntryId moved = list.add(u"Moved", server.url("/held"), kOneMinuteIndex);
    const EntryId reset = list.add(u"Reset", server.url("/held"), kOneMinuteIndex);
    const EntryId other = list.add(u"Other", server.url("/other"), kOneMinuteIndex);
    CheckRunner runner(list, notifier, clock, readTimeout(5000));
    showBusyCursor(runner);
    QSignalSpy cycles(&runner, &CheckRunner::cycleFinished);

    const auto heldRequests = [&](int count) {
        QTRY_COMPARE_WITH_TIMEOUT(server.held(), 1, kWaitMs);
        QCOMPARE(server.requests().size(), count);
    };

    runner.tick();
    heldRequests(1);
    list.remove(deleted);  // deleted while its page loads
    server.release();
    heldRequests(2);
    list.edit(moved, u"Moved", server.url("/other"), kOneMinuteIndex, false, false);
    server.release();
    heldRequests(3);
    list.recheckAll();  // also resets "Moved" and "Other", which may be handed out already
    server.release();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 1, kWaitMs);

    // The downloads went on with the next entry each time; nothing of the dropped results landed.
    QVERIFY(!list.find(deleted));
    QCOMPARE(list.size(), size_t{3});
    for (EntryId id : {moved, reset}) {
        QCOMPARE(list.find(id)->status, PageStatus::Offline);
        QVERIFY(list.find(id)->stamp().empty());
        QVERIFY(list.find(id)->checksum().empty());
    }
    QVERIFY(notifier.said.isEmpty() || notifier.said == QStringList({"Other online"}));

    // They are due again at the next tick.
    server.set("/held", test::Page{200, "held page"});
    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 2, kWaitMs);
    notifier.said.sort();
    QCOMPARE(notifier.said, QStringList({"Moved online", "Other online", "Reset online"}));
    QVERIFY(list.find(moved)->checksum() == Crc32::checksumText(u"other page"));
    QVERIFY(list.find(reset)->checksum() == Crc32::checksumText(u"held page"));
    QVERIFY(list.find(other)->checksum() == Crc32::checksumText(u"other page"));
}

void CheckRunnerTest::hungServerHoldsUpOnlyItsOwnPages() {
    ScriptedServer hung, fine;
    hung.set("/hang", test::Page{200, {}, true});
    PageList list;
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    std::vector<EntryId> finePages;
    for (int i = 0; i < 12; ++i) {
        const std::string path = "/p" + std::to_string(i);
        fine.setBody(path, "page " + std::to_string(i));
        if (i % 4 == 1) list.add(u"Hung", hung.url("/hang"), kOneMinuteIndex);
        finePages.push_back(list.add(FromUtf8(path), fine.url(path), kOneMinuteIndex));
    }
    auto runner = std::make_unique<CheckRunner>(list, notifier, clock);  // the full 15 s read wait
    showBusyCursor(*runner);
    runner->tick();
    // Every page of the other server is checked while the hung one holds its first request.
    for (EntryId id : finePages)
        QTRY_COMPARE_WITH_TIMEOUT(list.find(id)->status, PageStatus::Online, kWaitMs);
    QCOMPARE(hung.requests().size(), 1);
    QCOMPARE(fine.requests().size(), 12);
    QCOMPARE(fine.requests().at(11), std::string("/p11"));  // in list order
    QVERIFY(runner->downloading());

    // A minute later the other server's pages are due and checked again; the hung one's are not
    // handed out a second time.
    clock.advanceMinutes(1);
    runner->tick();
    QTRY_COMPARE_WITH_TIMEOUT(fine.requests().size(), 24, kWaitMs);
    QCOMPARE(hung.requests().size(), 1);

    // The end of the run: downloads in flight are cancelled at once, then the list is saved with
    // what was checked; the hung server's pages keep their unchecked state.
    QElapsedTimer ending;
    ending.start();
    runner.reset();
    QVERIFY2(ending.elapsed() < kEndsWithinMs, qPrintable(QStringLiteral("%1 ms").arg(ending.elapsed())));
    QTemporaryDir dir;
    PageListFile file(dir.filePath("webpages.dat").toStdString());
    file.save(TakeSnapshot(list, {}));
    PageList saved;
    PageListFile(file.path()).load(saved, {});
    QCOMPARE(saved.size(), list.size());
    for (size_t i = 0; i < saved.size(); ++i) {
        QCOMPARE(saved.at(i).status, list.at(i).status);
        QVERIFY(saved.at(i).stamp() == list.at(i).stamp());
    }
}

void CheckRunnerTest::destroyingDuringAHungDownloadEndsAtOnce() {
    // Every download slot on a hung server of its own, one server more waiting for a slot.
    std::vector<std::unique_ptr<ScriptedServer>> servers;
    PageList list;
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    for (size_t i = 0; i <= limits::kMaxParallelDownloads; ++i) {
        servers.push_back(std::make_unique<ScriptedServer>());
        servers.back()->set("/hang", test::Page{200, {}, true});
        list.add(u"Silent", servers.back()->url("/hang"), kOneMinuteIndex);
    }
    ScriptedServer& server = *servers.front();
    const EntryId silent = list.at(0).id;
    list.add(u"Next", server.url("/hang"), kOneMinuteIndex);
    const auto requested = [&] {
        size_t count = 0;
        for (const auto& each : servers) count += each->requests().size();
        return count;
    };

    auto runner = std::make_unique<CheckRunner>(list, notifier, clock);  // the full 15 s read wait
    showBusyCursor(*runner);
    runner->tick();
    QTRY_COMPARE_WITH_TIMEOUT(requested(), limits::kMaxParallelDownloads, kWaitMs);
    QTest::qWait(200);  // no download beyond the bound starts meanwhile
    QCOMPARE(requested(), limits::kMaxParallelDownloads);
    QVERIFY(servers.back()->requests().empty());
    QVERIFY(busyCursorShown());
    QElapsedTimer ending;
    ending.start();
    runner.reset();
    const qint64 endedMs = ending.elapsed();
    qInfo("destroyed during %zu hung downloads in %lld ms", limits::kMaxParallelDownloads, endedMs);
    QVERIFY2(endedMs < kEndsWithinMs, qPrintable(QStringLiteral("%1 ms").arg(endedMs)));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);

    // Nothing arrives afterwards: the entry keeps its state, no second download starts.
    QTest::qWait(300);
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(requested(), limits::kMaxParallelDownloads);
    QVERIFY(notifier.said.isEmpty());
    QVERIFY(list.find(silent)->stamp().empty());

    // shutdown() alone: later ticks do nothing.
    CheckRunner stopped(list, notifier, clock);
    stopped.shutdown();
    stopped.tick();
    QVERIFY(!stopped.downloading());
    QTest::qWait(200);
    QCOMPARE(server.requests().size(), 1);

    // A name look-up that a cancelled download walked away from (getaddrinfo cannot be
    // cancelled) is waited for by shutdown, never left running: here one that ends when released.
    std::promise<void> release;
    std::atomic<bool> lookupEnded{false};
    LookupThreads::run([released = release.get_future().share(), &lookupEnded] {
        released.wait();
        lookupEnded = true;
    });
    CheckRunner leaving(list, notifier, clock);
    std::thread releaser([&release] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        release.set_value();
    });
    leaving.shutdown();
    releaser.join();
    QVERIFY(lookupEnded);
    QCOMPARE(LookupThreads::unjoined(), size_t{0});
}

void CheckRunnerTest::failureWhileApplyingAResultEndsTheCycleAndIsShown() {
    ScriptedServer server;
    server.setBody("/a", "page a");
    server.setBody("/b", "page b");
    PageList list;
    FakeClock clock{kStart};
    FailingOnceNotifier notifier;
    const EntryId a = list.add(u"A", server.url("/a"), kOneMinuteIndex);
    list.add(u"B", server.url("/b"), kOneMinuteIndex);
    ErrorDisplay::setSink(&recordError);
    shownErrors.clear();
    CheckRunner runner(list, notifier, clock);
    showBusyCursor(runner);
    QSignalSpy cycles(&runner, &CheckRunner::cycleFinished);

    // The failure ends this cycle (B's result, if it was fetched already, is not applied) and is
    // shown; the program goes on.
    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 1, kWaitMs);
    QCOMPARE(shownErrors, QStringList({"Announcement failed."}));
    QCOMPARE(server.requests().at(0), std::string("/a"));
    QVERIFY(list.at(1).stamp().empty());
    QVERIFY(!busyCursorShown());
    QVERIFY(list.find(a)->stamp().empty());

    // The next tick starts a new cycle, and A, not stamped, is due again.
    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 2, kWaitMs);
    QCOMPARE(notifier.said, QStringList({"A online", "B online"}));
    QCOMPARE(shownErrors.size(), 1);
    ErrorDisplay::setSink(nullptr);
}

void CheckRunnerTest::filtersKeepAPageWithAClockOnlineAndEveryCheckIsReported() {
    // The same page three times: its clock in a script, and on a line of its own.
    const auto serveAt = [](ScriptedServer& server, const std::string& time) {
        server.setBody("/script", "<html><head><script>var now = '" + time +
                                      "';</script></head><body><p>Prices: 5</p></body></html>");
        server.setBody("/line", "<p>Prices: 5</p>\n<p>Updated " + time + "</p>");
        server.setBody("/plain", "<p>Prices: 5</p>\n<p>Updated " + time + "</p>");
    };
    ScriptedServer server;
    serveAt(server, "11:00:01");
    server.setBody("/part", "<html><body><p>Prices: 5</p></body></html>");
    PageList list;
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    list.add(u"Visible", server.url("/script"), kOneMinuteIndex);
    list.add(u"Ignored", server.url("/line"), kOneMinuteIndex);
    const EntryId plain = list.add(u"Plain", server.url("/plain"), kOneMinuteIndex);
    list.add(u"Missing", server.url("/part"), kOneMinuteIndex);
    const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(test::RefusedPort());
    list.add(u"Refused", u16(refused), kOneMinuteIndex);

    std::map<std::u16string, PageFilterSettings> settings;
    settings[server.url("/script")].visibleTextOnly = true;
    settings[server.url("/line")].ignorePatterns = {u"Updated \\d\\d:\\d\\d:\\d\\d"};
    settings[server.url("/part")].selector = u"#main";
    CheckRunner runner(list, notifier, clock);
    showBusyCursor(runner);
    runner.setSettingsProvider([&](const std::u16string& url) {
        const auto found = settings.find(url);
        return found == settings.end() ? PageFilterSettings{} : found->second;
    });
    QSignalSpy cycles(&runner, &CheckRunner::cycleFinished);
    // What the history hears, with the entry's status at that moment: the two go together.
    struct Heard {
        CheckRecord check;
        std::u16string text;
        PageStatus entryStatus;
    };
    std::map<QString, Heard> heard;
    connect(&runner, &CheckRunner::checkFinished, this,
            [&](const QString& url, const CheckRecord& check, const std::u16string& text) {
                for (const PageEntry& entry : list.entries())
                    if (entry.url() == url.toStdU16String()) heard[url] = Heard{check, text, entry.status};
            });
    const auto record = [&](std::string_view path) {
        return heard.at(QString::fromStdU16String(server.url(path)));
    };

    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 1, kWaitMs);
    QCOMPARE(heard.size(), size_t{5});
    QCOMPARE(notifier.said, QStringList({"Visible online", "Ignored online", "Plain online"}));
    const Heard visible = record("/script");
    QVERIFY(visible.text == u"Prices: 5");
    QVERIFY(list.at(0).checksum() == Crc32::checksumText(u"Prices: 5"));
    QVERIFY(visible.check.detail == u"HTTP/1.1 200 OK");
    QCOMPARE(visible.check.textBytes, 9);
    QCOMPARE(visible.check.timeMs, LocalToUtcMs(clock.now()));
    QCOMPARE(visible.entryStatus, PageStatus::Online);
    QVERIFY(record("/line").text.find(u"Updated") == std::u16string::npos);
    // A page without filters: its whole text, its checksum as always.
    QVERIFY(list.find(plain)->checksum() ==
            Crc32::checksumText(u"<p>Prices: 5</p>\n<p>Updated 11:00:01</p>"));
    // A filter that fails makes the check fail, with the filter's reason.
    const Heard missing = record("/part");
    QCOMPARE(missing.check.outcome, PageStatus::Offline);
    QCOMPARE(missing.entryStatus, PageStatus::Offline);
    QCOMPARE(QString::fromStdU16String(missing.check.detail), QStringLiteral("Filter matched nothing"));
    QVERIFY(missing.text.empty());
    QCOMPARE(QString::fromStdU16String(heard.at(refused).check.detail), QStringLiteral("Connection refused"));

    // The clocks move on: only the page without filters turns changed.
    serveAt(server, "11:01:02");
    clock.advanceMinutes(1);
    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 2, kWaitMs);
    QCOMPARE(notifier.said.mid(3), QStringList({"Plain changed"}));
    QCOMPARE(record("/script").check.outcome, PageStatus::Online);
    QCOMPARE(record("/line").check.outcome, PageStatus::Online);
    QCOMPARE(record("/plain").check.outcome, PageStatus::Changed);
    QCOMPARE(record("/plain").entryStatus, PageStatus::Changed);
}

void CheckRunnerTest::aNewProxyTakesEffectAtTheNextCheckAndTheRequestIsTold() {
    ScriptedServer server;
    QVERIFY(server.listening());
    server.setBody("/page", "<html>ok</html>");
    PageList list;
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    const EntryId page = list.add(u"Page", server.url("/page"), kOneMinuteIndex);
    CheckRunner runner(list, notifier, clock, readTimeout(2000));
    QSignalSpy cycles(&runner, &CheckRunner::cycleFinished);
    QSignalSpy sent(&runner, &CheckRunner::requestSent);
    QSignalSpy finished(&runner, &CheckRunner::checkFinished);
    const auto lastDetail = [&] { return finished.last().at(1).value<CheckRecord>().detail; };

    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 1, kWaitMs);
    QCOMPARE(list.find(page)->status, PageStatus::Online);
    QVERIFY(sent.last().at(1).toString().startsWith(QStringLiteral("GET /page HTTP/1.1\r\n")));
    QCOMPARE(sent.last().at(2).toString(), QString());

    // The worker that kept the direct connection goes through the proxy from its next check.
    runner.setProxy(ProxySettings::single(ProxyServer{"127.0.0.1", test::RefusedPort(), "", ""}, ""));
    clock.advanceMinutes(1);
    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 2, kWaitMs);
    QCOMPARE(list.find(page)->status, PageStatus::Offline);
    QCOMPARE(lastDetail(), std::u16string(u"Proxy: connection refused"));
    QCOMPARE(server.requests().size(), 1);

    runner.setProxy({});
    clock.advanceMinutes(1);
    runner.tick();
    QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), 3, kWaitMs);
    QCOMPARE(list.find(page)->status, PageStatus::Online);
    QCOMPARE(server.requests().size(), 2);
}

QTEST_MAIN(CheckRunnerTest)
#include "CheckRunner_qtest.moc"
