// The main window as a background watcher, end to end in one process: a hidden start with the
// icon shown, pages from a scripted server and from nginx checked on the window's timer, the
// balloons and the tooltip, the results in the page list file, and the way back by a click.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

#include "core/Clock.h"
#include "core/PageList.h"
#include "store/PageListFile.h"
#include "support/NginxServer.h"
#include "support/ScriptedServer.h"
#include "support/TrayProbe.h"
#include "text/Crc32.h"
#include "text/Error.h"
#include "text/Text.h"
#include "ui/ErrorDisplay.h"
#include "ui/MonitorUnit.h"
#include "ui/TrayNotifier.h"

using namespace vantrel;

namespace {

using trayprobe::kNoTrayChild;
constexpr int kCheckWaitMs = 30000;
// Closing the window during a hung download cancels it: far less than its 15 s read wait. (The
// check runner waits up to a second for its threads, then leaves them behind.)
constexpr qint64 kClosesWithinMs = 5000;

QStringList shownErrors;
void recordError(const QString& text) {
    shownErrors << text;
}

std::u16string u16(const QString& text) {
    return text.toStdU16String();
}

PageEntry entry(const char16_t* label, PageStatus status, std::u16string url, const char16_t* interval,
                std::u16string stamp, std::u16string checksum) {
    PageEntry made;
    made.label = label;
    made.status = status;
    made.columns = {std::move(url), interval, std::move(stamp), std::move(checksum)};
    return made;
}

MonitorSettings settingsFor(const QTemporaryDir& dir, QStringList args) {
    MonitorSettings settings;
    settings.args = std::move(args);
    settings.exeDir = dir.path() + QLatin1Char('/');
    settings.exePath = dir.path() + QStringLiteral("/vantrel");
    settings.autostartDir = dir.path() + QStringLiteral("/autostart");
    settings.trayWaitMs = 10000;
    return settings;
}

// Counts the times a widget is shown.
class ShowCounter : public QObject {
  public:
    explicit ShowCounter(QWidget* widget) { widget->installEventFilter(this); }
    int shown = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        // The program's own shows: the toolkit adds a spontaneous one whenever a window leaves the
        // minimized state, also one that is hidden.
        if (event->type() == QEvent::Show && !event->spontaneous()) ++shown;
        return false;
    }
};

}  // namespace

class WatcherTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init() { shownErrors.clear(); }
    void hiddenWatcherChecksAnnouncesAndKeepsTheResults();
    void clickOnTheIconShowsAndRestoresTheWindow();
    void withoutNotificationAreaTheWindowIsNotCreated();

  private:
    bool child_ = false;
};

void WatcherTest::initTestCase() {
    child_ = qEnvironmentVariableIsSet(kNoTrayChild);
    ErrorDisplay::setSink(&recordError);
    if (child_) return;
    QVERIFY2(trayprobe::waitForNotificationArea(), "no tray host: start trayer on this display");
}

void WatcherTest::hiddenWatcherChecksAnnouncesAndKeepsTheResults() {
    if (child_) QSKIP("not in the child");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    test::ScriptedServer server;
    QVERIFY(server.listening());
    server.setBody("/stable", "<html><body>The same every time</body></html>");
    server.setBody("/changing", "<html><body>New text</body></html>");
    server.set("/hang", test::Page{200, {}, true});
    const QByteArray nginxPage = "<html><body>Served by nginx</body></html>\n";
    const test::NginxServer nginx(test::NginxServer::Servers::PlainOnly);
    QVERIFY2(nginx.error.empty(), nginx.error.c_str());
    nginx.writeFile("www/index.html", nginxPage.toStdString());
    const std::u16string refused = u16(QStringLiteral("http://127.0.0.1:%1/").arg(test::RefusedPort()));

    const std::u16string oldSum = Crc32::checksumText(u"<html><body>Old text</body></html>");
    const LocalMillis startedAt = SystemClock().now();
    const std::u16string recent = IntToText(LastCheckStamp(startedAt));
    {
        PageList list;
        list.insertLoaded(entry(u"Stable", PageStatus::Offline, server.url("/stable"), u"0", u"", u""));
        list.insertLoaded(entry(u"Changing", PageStatus::Online, server.url("/changing"), u"2", u"", oldSum));
        // A stamp of "0" is cleared and checked at once; a failure keeps the stored checksum.
        list.insertLoaded(entry(u"Missing", PageStatus::Online, server.url("/missing"), u"1", u"0", oldSum));
        list.insertLoaded(entry(u"Refused", PageStatus::Offline, refused, u"0", u"", u""));
        list.insertLoaded(entry(u"Nginx", PageStatus::Offline,
                                nginx.url("http", "127.0.0.1", nginx.plainPort, "/"), u"4", u"", u""));
        list.insertLoaded(
            entry(u"Not due", PageStatus::Changed, server.url("/notdue"), u"8", recent, oldSum));
        // Never answered: still loading when the window closes.
        list.insertLoaded(entry(u"Hung", PageStatus::Offline, server.url("/hang"), u"0", u"", u""));
        PageListFile(QString(dir.path() + QStringLiteral("/webpages.dat")).toStdString())
            .save(list, Options{});
    }

    trayprobe::BalloonCounter balloons;
    auto form = std::make_unique<TMonitorForm>(settingsFor(dir, {QStringLiteral("-s")}));
    QVERIFY(form->startHidden());
    QVERIFY(!form->isVisible());
    QVERIFY(form->TrayIcon->icon()->isVisible());
    QCOMPARE(form->TrayIcon->hint(), QStringLiteral("Vantrel"));
    QCOMPARE(form->pageList().size(), size_t{7});

    const auto checked = [&] {
        const auto& entries = form->pageList().entries();
        return std::all_of(entries.begin(), entries.begin() + 5,
                           [](const PageEntry& e) { return !e.stamp().empty(); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(checked(), kCheckWaitMs);
    const QStringList announced = {
        QStringLiteral("\"Stable\" is online."),
        QStringLiteral("\"Changing\" is changed."),
        QStringLiteral("\"Missing\" is offline."),
        QStringLiteral("\"Nginx\" is online."),
    };
    // Servers are checked side by side: the pages of one server are announced in list order,
    // those of nginx whenever it answers. Four announcements within two seconds are a burst: the
    // first three have balloons of their own, then one message counts all four. Nginx answering
    // more than two seconds later leaves four balloons of their own.
    QTRY_COMPARE_WITH_TIMEOUT(balloons.texts.size(), announced.size(), 5000);
    QStringList singles = balloons.texts;
    const bool burst = singles.back().startsWith(
        QStringLiteral("4 web pages changed status: 1 offline (Missing), 1 changed (Changing), 2 online ("));
    if (burst) singles.removeLast();
    QStringList scripted = singles;
    scripted.removeAll(announced.back());
    QCOMPARE(scripted, announced.mid(0, scripted.size()));
    for (const QString& single : singles) QVERIFY2(announced.contains(single), qPrintable(single));
    QCOMPARE(singles.size(), burst ? 3 : 4);
    QCOMPARE(form->TrayIcon->hint(), balloons.texts.back());
    QCOMPARE(form->TrayIcon->icon()->toolTip(), balloons.texts.back());
    QVERIFY(!form->isVisible());  // balloons appear while the window stays hidden
    QTRY_COMPARE_WITH_TIMEOUT(server.requests(),
                              std::vector<std::string>({"/stable", "/changing", "/missing", "/hang"}), 5000);

    // Closing during a download and a background save cancels the download, waits for the save,
    // and the list is saved without the download's result.
    QElapsedTimer closing;
    closing.start();
    form->monitor().save();
    form.reset();
    const qint64 closedMs = closing.elapsed();
    const LocalMillis endedAt = SystemClock().now();
    qInfo("window closed during a hung download in %lld ms", closedMs);
    QVERIFY2(closedMs < kClosesWithinMs, qPrintable(QStringLiteral("%1 ms").arg(closedMs)));
    QVERIFY2(shownErrors.isEmpty(), qPrintable(shownErrors.join(QLatin1Char('\n'))));

    PageList back;
    PageListFile(QString(dir.path() + QStringLiteral("/webpages.dat")).toStdString()).load(back, {});
    QCOMPARE(back.size(), size_t{7});
    struct Expected {
        const char16_t* label;
        PageStatus status;
        std::u16string checksum;
    };
    const Expected expected[] = {
        {u"Stable", PageStatus::Online,
         Crc32::checksumText(u"<html><body>The same every time</body></html>")},
        {u"Changing", PageStatus::Changed, Crc32::checksumText(u"<html><body>New text</body></html>")},
        {u"Missing", PageStatus::Offline, oldSum},
        {u"Refused", PageStatus::Offline, u""},
        {u"Nginx", PageStatus::Online, Crc32::checksumText(QString::fromLatin1(nginxPage).toStdU16String())},
        {u"Not due", PageStatus::Changed, oldSum},
        {u"Hung", PageStatus::Offline, u""},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        const PageEntry& got = back.at(i);
        QCOMPARE(QString::fromStdU16String(got.label), QString::fromStdU16String(expected[i].label));
        QCOMPARE(got.status, expected[i].status);
        QCOMPARE(QString::fromStdU16String(got.checksum()), QString::fromStdU16String(expected[i].checksum));
        if (i >= 5) {
            QCOMPARE(QString::fromStdU16String(got.stamp()),
                     QString::fromStdU16String(i == 5 ? recent : u""));
            continue;
        }
        // Taken after each download, within the run.
        const int64_t stamp = ReadStamp(got.stamp());
        QVERIFY2(stamp >= LastCheckStamp(startedAt) && stamp <= LastCheckStamp(endedAt) + 1,
                 qPrintable(QString::fromStdU16String(got.stamp())));
    }
}

void WatcherTest::clickOnTheIconShowsAndRestoresTheWindow() {
    if (child_) QSKIP("not in the child");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TMonitorForm form(settingsFor(dir, {QStringLiteral("-s")}));
    ShowCounter shows(&form);
    QVERIFY(form.startHidden());
    QVERIFY(!form.isVisible());
    const QPoint centre = trayprobe::iconCentre();
    QVERIFY2(centre.x() >= 0, "the icon never embedded in the notification area");
    trayprobe::settleClicks();

    // A hidden start: the first click shows the window for the first time.
    QVERIFY(trayprobe::clickAt(centre));
    QTRY_VERIFY_WITH_TIMEOUT(form.isVisible(), 5000);
    QVERIFY(!form.isMinimized());
    QTRY_VERIFY_WITH_TIMEOUT(form.isActiveWindow(), 5000);
    trayprobe::settleClicks();

    // A click while it is shown leaves it shown.
    QVERIFY(trayprobe::clickAt(centre));
    trayprobe::settleClicks();
    QVERIFY(form.isVisible());
    QVERIFY(!form.isMinimized());

    // Minimizing hides it; a double-click brings it back once, not minimized.
    form.setWindowState(form.windowState() | Qt::WindowMinimized);
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 5000);
    const int shownBefore = shows.shown;
    QVERIFY(trayprobe::clickAt(centre, 1, 2));
    QTRY_VERIFY_WITH_TIMEOUT(form.isVisible(), 5000);
    trayprobe::settleClicks();
    QCOMPARE(shows.shown, shownBefore + 1);
    QVERIFY(!form.isMinimized());

    // A right click does nothing.
    form.setWindowState(form.windowState() | Qt::WindowMinimized);
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 5000);
    QVERIFY(trayprobe::clickAt(centre, 3));
    trayprobe::settleClicks();
    QVERIFY(!form.isVisible());
    QVERIFY(shownErrors.isEmpty());
}

// Without a notification area (the offscreen platform has none) the main window cannot be
// created, also after waiting for one with "-s". Run in a child process: one platform per process.
void WatcherTest::withoutNotificationAreaTheWindowIsNotCreated() {
    if (child_) {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const QStringList& args : {QStringList(), QStringList({QStringLiteral("-s")})}) {
            MonitorSettings settings = settingsFor(dir, args);
            settings.trayWaitMs = 300;
            try {
                TMonitorForm form(settings);
                QFAIL("the window was created without a notification area");
            } catch (const Error& error) {
                QCOMPARE(QString::fromUtf8(error.what()),
                         QStringLiteral("Cannot create shell notification icon"));
            }
        }
        QVERIFY(!QFile::exists(dir.path() + QStringLiteral("/webpages.dat")));
        return;
    }
    const QByteArray failure = trayprobe::runWithoutNotificationArea(
        QStringLiteral("WatcherTest"), QStringLiteral("withoutNotificationAreaTheWindowIsNotCreated"));
    QVERIFY2(failure.isEmpty(), failure.constData());
}

QTEST_MAIN(WatcherTest)
#include "Watcher_qtest.moc"
