// The watcher and its history together, as the program runs them: each page's filters and failure
// count come from the history beside the page list file, and every check lands in it. A page whose
// clock and hidden token differ on every load turns changed without filters and stays online with
// them; a page may fail a set number of times before it is reported offline. Also where the
// start-with-the-desktop entry goes when the settings name no folder.
#include <sqlite3.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "MonitorSettingsIn.h"
#include "core/Notifier.h"
#include "store/HistoryStore.h"
#include "support/FakeClock.h"
#include "support/RecordingNotifier.h"
#include "support/ScriptedServer.h"
#include "ui/Monitor.h"

using namespace vantrel;
using test::FakeClock;
using test::RecordingNotifier;
using test::ScriptedServer;

namespace {

constexpr LocalMillis kStart = 1'750'000'000'250;
constexpr int kOneMinuteIndex = 0;
constexpr int kWaitMs = 10000;

// The page of the n-th request: a clock line and a hidden token that differ every time, around
// text that does not.
std::string clockPage(int n) {
    const std::string count = std::to_string(n);
    return "<html><head><style>p { color: red }</style></head><body><h1>Prices</h1><p>Tea 3.20</p>"
           "<p>Updated " +
           count + " minutes ago</p><form><input type=\"hidden\" name=\"token\" value=\"t" + count +
           "\"></form></body></html>";
}

std::string response(const std::string& statusLine, const std::string& body) {
    return statusLine + "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace

class MonitorHistoryTest : public QObject {
    Q_OBJECT
  private slots:
    void filtersFromTheHistoryApplyAndEveryCheckIsRecorded();
    void watcherRunsOnWhenTheHistoryCannotBeUsed();
    void historyIsOpenedAtItsFirstUseInItsOwnFolder();
    void autostartEntryGoesToTheUsersOwnFolderByDefault();
    void aLockedHistoryHoldsUpNeitherTheWindowNorTheChecks();
    void checkResultsAreSavedAfterAWhileAndOnlyWhenChanged();
};

void MonitorHistoryTest::filtersFromTheHistoryApplyAndEveryCheckIsRecorded() {
    std::atomic<int> served{0};
    std::atomic<bool> flakyDown{false};
    ScriptedServer server([&](ScriptedServer& s, int fd) {
        const std::string head = s.readHead(fd);
        if (head.empty()) return;
        const int n = ++served;
        if (!head.starts_with("GET /flaky "))
            ScriptedServer::send(fd, response("HTTP/1.1 200 OK", clockPage(n)));
        else if (flakyDown)
            ScriptedServer::send(fd, response("HTTP/1.1 503 Service Unavailable", "busy"));
        else
            ScriptedServer::send(fd, response("HTTP/1.1 200 OK", "<html>steady</html>"));
    });
    QVERIFY(server.listening());
    QTemporaryDir dir;
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    Monitor monitor(settingsIn(dir, clock), notifier);
    monitor.open([](Option, bool) {});
    QVERIFY(monitor.history() && !monitor.history()->disabled());
    HistoryStore& history = *monitor.history();

    const std::u16string plain = server.url("/plain"), filtered = server.url("/filtered"),
                         flaky = server.url("/flaky");
    const EntryId plainId = monitor.addPage("Plain", QString::fromStdU16String(plain), kOneMinuteIndex);
    const EntryId filteredId =
        monitor.addPage("Filtered", QString::fromStdU16String(filtered), kOneMinuteIndex);
    const EntryId flakyId = monitor.addPage("Flaky", QString::fromStdU16String(flaky), kOneMinuteIndex);
    // Saved as the filter panel saves them.
    PageFilterSettings filters;
    filters.visibleTextOnly = true;
    filters.ignorePatterns = {u"minutes ago$"};
    history.saveSettings(filtered, filters);
    monitor.startAfresh(QString::fromStdU16String(filtered));
    PageFilterSettings patient;
    patient.failuresBeforeOffline = 3;
    history.saveSettings(flaky, patient);

    QSignalSpy recorded(&monitor, &Monitor::checkRecorded);
    // One tick a minute after the last, then its three checks.
    bool first = true;
    const auto cycle = [&] {
        if (!std::exchange(first, false)) clock.advanceMinutes(1);
        const qsizetype before = recorded.size();
        monitor.tick();
        return QTest::qWaitFor([&] { return recorded.size() >= before + 3; }, kWaitMs) &&
               recorded.size() == before + 3;
    };
    const auto status = [&](EntryId id) { return monitor.list().find(id)->status; };

    QVERIFY(cycle());
    QVERIFY(cycle());
    QCOMPARE(status(plainId), PageStatus::Changed);
    QCOMPARE(status(filteredId), PageStatus::Online);
    QCOMPARE(status(flakyId), PageStatus::Online);

    // Two failures are tolerated without a word, the third reports the page offline, a fourth
    // says nothing new, and the page's return is announced.
    flakyDown = true;
    for (int i = 0; i < 2; ++i) {
        QVERIFY(cycle());
        QCOMPARE(status(flakyId), PageStatus::Online);
    }
    QVERIFY(cycle());
    QCOMPARE(status(flakyId), PageStatus::Offline);
    QVERIFY(cycle());
    flakyDown = false;
    QVERIFY(cycle());
    QCOMPARE(status(filteredId), PageStatus::Online);
    QCOMPARE(notifier.said, QStringList({"Plain online", "Filtered online", "Flaky online", "Plain changed",
                                         "Flaky offline", "Flaky online"}));
    QCOMPARE(served.load(), 21);
    // "Check Now" makes that page due at the next tick, though its minute has not passed.
    monitor.checkNow(filteredId);
    monitor.tick();
    QTRY_COMPARE_WITH_TIMEOUT(served.load(), 22, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(recorded.size(), 22, kWaitMs);

    // Every check is in the history, newest first, with the status line; the filtered page
    // keeps its filtered text as the only one, the plain page the pair around its last change.
    history.flush();
    const std::vector<CheckRecord> checks = history.recentChecks(filtered, 50);
    QCOMPARE(checks.size(), size_t{8});
    for (const CheckRecord& check : checks) {
        QCOMPARE(check.outcome, PageStatus::Online);
        QCOMPARE(QString::fromStdU16String(check.detail), QStringLiteral("HTTP/1.1 200 OK"));
    }
    QCOMPARE(checks.front().timeMs - checks.back().timeMs, int64_t{6 * 60000});
    const PageTexts filteredTexts = history.texts(filtered);
    QVERIFY(!filteredTexts.before);
    QVERIFY(filteredTexts.latest);
    QCOMPARE(QString::fromStdU16String(filteredTexts.latest->text), QStringLiteral("Prices\nTea 3.20\n"));
    QCOMPARE(checks.front().textBytes, int64_t{16});

    const PageTexts plainTexts = history.texts(plain);
    QVERIFY(plainTexts.before && plainTexts.latest);
    QVERIFY(plainTexts.latest->text.find(u"minutes ago") != std::u16string::npos);
    QVERIFY(plainTexts.before->text != plainTexts.latest->text);
    QCOMPARE(history.summary(plain).checkCount, int64_t{7});

    std::vector<PageStatus> outcomes, statuses;
    const std::vector<CheckRecord> flakyChecks = history.recentChecks(flaky, 50);
    for (auto it = flakyChecks.rbegin(); it != flakyChecks.rend(); ++it) {
        outcomes.push_back(it->outcome);
        statuses.push_back(it->status);
    }
    using S = PageStatus;
    QCOMPARE(outcomes, std::vector<S>({S::Online, S::Online, S::Offline, S::Offline, S::Offline, S::Offline,
                                       S::Online}));
    QCOMPARE(statuses,
             std::vector<S>({S::Online, S::Online, S::Online, S::Online, S::Offline, S::Offline, S::Online}));
    QCOMPARE(QString::fromStdU16String(flakyChecks[1].detail),
             QStringLiteral("HTTP/1.1 503 Service Unavailable"));

    // After the end nothing is checked and nothing is recorded.
    monitor.close();
    QVERIFY(!monitor.history());
    monitor.tick();
    QTest::qWait(100);
    QCOMPARE(served.load(), 22);
}

void MonitorHistoryTest::watcherRunsOnWhenTheHistoryCannotBeUsed() {
    ScriptedServer server;
    QVERIFY(server.listening());
    server.setBody("/", "<html>the page</html>");
    QTemporaryDir dir;
    // A folder where the file should be: the store cannot open it.
    QVERIFY(QDir(dir.path()).mkdir("history.db"));
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    Monitor monitor(settingsIn(dir, clock), notifier);
    monitor.open([](Option, bool) {});
    QVERIFY(monitor.history());
    QTRY_VERIFY_WITH_TIMEOUT(monitor.history()->disabled(), kWaitMs);
    monitor.addPage("Page", QString::fromStdU16String(server.url("/")), kOneMinuteIndex);

    QSignalSpy recorded(&monitor, &Monitor::checkRecorded);
    monitor.tick();
    QTRY_COMPARE_WITH_TIMEOUT(recorded.size(), 1, kWaitMs);
    QCOMPARE(notifier.said, QStringList({"Page online"}));
    QVERIFY(monitor.history()->recentChecks(server.url("/"), 10).empty());
}

void MonitorHistoryTest::historyIsOpenedAtItsFirstUseInItsOwnFolder() {
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    {
        // An idle run, its one page checked a minute ago and due in a day, never loads the database.
        QTemporaryDir dir;
        QFile list(dir.filePath("webpages.dat"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write(
            "[main]\r\ncount=1\r\n[web1]\r\ncaption=Page\r\nstatus=0\r\nitem1=http://127.0.0.1:9/\r\n"
            "item2=8\r\nitem3=" +
            QByteArray::number(kStart / 1000 - 60) + "\r\nitem4=\r\n");
        list.close();
        Monitor monitor(settingsIn(dir, clock), notifier);
        monitor.open([](Option, bool) {});
        QCOMPARE(monitor.list().entries().size(), size_t{1});
        monitor.tick();
        QTest::qWait(100);
        QVERIFY(notifier.said.isEmpty());
        QVERIFY(!QFileInfo::exists(dir.filePath("history.db")));
        // The first check opens it (for the page's filters) and lands in it.
        QSignalSpy recorded(&monitor, &Monitor::checkRecorded);
        monitor.checkNow(monitor.list().at(0).id);
        monitor.tick();
        QTRY_COMPARE_WITH_TIMEOUT(recorded.size(), 1, kWaitMs);
        QVERIFY(QFileInfo::exists(dir.filePath("history.db")));
        monitor.history()->flush();
        QCOMPARE(monitor.history()->recentChecks(u"http://127.0.0.1:9/", 10).size(), size_t{1});
    }
    // An installed copy keeps the list in a configuration folder that does not exist before the
    // first save; the history beside it must not go off for that first run.
    QTemporaryDir dir;
    MonitorSettings settings = settingsIn(dir, clock);
    settings.pageListPath = dir.filePath("config/vantrel/webpages.dat");
    Monitor monitor(settings, notifier);
    monitor.open([](Option, bool) {});
    QVERIFY(monitor.history() && !monitor.history()->disabled());
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QVERIFY(QFileInfo(dir.filePath("config/vantrel")).isDir());
    QCOMPARE(QFileInfo(dir.filePath("config/vantrel")).permissions() & others, QFile::Permissions());
}

void MonitorHistoryTest::autostartEntryGoesToTheUsersOwnFolderByDefault() {
    QTemporaryDir dir;
    const QString entry = dir.filePath("config/autostart/Vantrel.desktop");
    const std::optional<QByteArray> configHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME")
                                                     ? std::optional(qgetenv("XDG_CONFIG_HOME"))
                                                     : std::nullopt;
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    MonitorSettings settings = settingsIn(dir, clock);
    settings.autostartDir.clear();
    settings.exePath = dir.filePath("vantrel");
    Monitor monitor(settings, notifier);
    monitor.setOptions(Options{.start = true});
    const bool written = QFile::exists(entry);
    if (configHome)
        qputenv("XDG_CONFIG_HOME", *configHome);
    else
        qunsetenv("XDG_CONFIG_HOME");
    QVERIFY(written);
    monitor.setOptions(Options{});
    QVERIFY(!QFile::exists(entry));
}

void MonitorHistoryTest::aLockedHistoryHoldsUpNeitherTheWindowNorTheChecks() {
    ScriptedServer server;
    QVERIFY(server.listening());
    server.setBody("/", "<html>the page</html>");
    QTemporaryDir dir;
    const std::string path = dir.filePath("history.db").toStdString();
    PageFilterSettings patient;
    patient.failuresBeforeOffline = 4;
    {
        HistoryStore store(path);
        store.saveSettings(server.url("/"), patient);
    }
    // Another program holds the write lock, as an sqlite3 shell in a transaction would.
    sqlite3* other = nullptr;
    sqlite3_open(path.c_str(), &other);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closes(other, sqlite3_close);
    QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    FakeClock clock{kStart};
    RecordingNotifier notifier;
    Monitor monitor(settingsIn(dir, clock), notifier);
    monitor.open([](Option, bool) {});
    monitor.addPage("Page", QString::fromStdU16String(server.url("/")), kOneMinuteIndex);
    QSignalSpy recorded(&monitor, &Monitor::checkRecorded);
    QElapsedTimer answer;
    answer.start();
    monitor.tick();
    const qint64 tickMs = answer.elapsed();
    qInfo("the first tick with the history locked took %lld ms", tickMs);
    QVERIFY(tickMs < kWaitMs / 4);  // a busy wait of the database took 5 s
    QTRY_COMPARE_WITH_TIMEOUT(recorded.size(), 1, kWaitMs);
    // The page's settings were read beside the lock.
    QCOMPARE(monitor.history()->settings(server.url("/")), patient);
    QTRY_VERIFY_WITH_TIMEOUT(monitor.history()->notice().find(u"locked") != std::u16string::npos, kWaitMs);

    // The lock ends: the history resumes by itself with the check that waited.
    QCOMPARE(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    QTRY_COMPARE_WITH_TIMEOUT(monitor.history()->recentChecks(server.url("/"), 10).size(), size_t{1},
                              kWaitMs);
    QVERIFY(!monitor.history()->disabled());
}

void MonitorHistoryTest::checkResultsAreSavedAfterAWhileAndOnlyWhenChanged() {
    ScriptedServer server;
    QVERIFY(server.listening());
    server.setBody("/", "<html>the page</html>");
    QTemporaryDir dir;
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    MonitorSettings settings = settingsIn(dir, clock);
    settings.resultsSaveMs = 300;
    Monitor monitor(settings, notifier);
    monitor.open([](Option, bool) {});
    monitor.addPage("Page", QString::fromStdU16String(server.url("/")), kOneMinuteIndex);
    monitor.waitForSaves();
    const QString file = monitor.filePath();
    const auto bytes = [&] {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray added = bytes();
    QVERIFY(!added.isEmpty());

    // No user change after the check: what it learned reaches the file all the same, as a kill
    // -9 later in the run would find it.
    QSignalSpy recorded(&monitor, &Monitor::checkRecorded);
    monitor.tick();
    QTRY_COMPARE_WITH_TIMEOUT(recorded.size(), 1, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(bytes() != added, kWaitMs);
    monitor.waitForSaves();
    QVERIFY(bytes().contains("status=0"));

    // Nothing changed since: the file is not written again.
    const QDateTime written = QFileInfo(file).lastModified();
    const QByteArray checked = bytes();
    QTest::qWait(4 * settings.resultsSaveMs);
    monitor.waitForSaves();
    QCOMPARE(QFileInfo(file).lastModified(), written);
    QCOMPARE(bytes(), checked);
}

QTEST_MAIN(MonitorHistoryTest)
#include "MonitorHistory_qtest.moc"
