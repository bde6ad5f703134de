// The notification-area icon against a real tray host: balloons, tooltip and clicks.
#include <malloc.h>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "support/TrayProbe.h"
#include "support/XvfbDisplay.h"
#include "text/Error.h"
#include "ui/TrayNotifier.h"

using vantrel::NotificationService;
using vantrel::PageStatus;
using vantrel::TrayNotifier;

namespace {

// A notification service that records what it is sent and answers with ids counted from 100.
class FakeService : public NotificationService {
  public:
    std::optional<QStringList> caps = QStringList{QStringLiteral("actions"), QStringLiteral("body")};
    bool refuse = false;
    QList<Notice> notices;
    uint nextId = 100;

    std::optional<QStringList> capabilities() override { return caps; }
    void notify(const Notice& notice, Sent sent) override {
        notices << notice;
        sent(refuse ? std::nullopt : std::optional<uint>(nextId++));
    }
    void click(uint id, const QString& key) { emit actionInvoked(id, key); }
    void close(uint id) { emit closed(id, 2); }
};

using trayprobe::kNoTrayChild;
const char kLateTrayChild[] = "VANTREL_TEST_LATE_TRAY_CHILD";  // holds a directory for its signal file

std::u16string u16(const QString& text) {
    return text.toStdU16String();
}

}  // namespace

class TrayNotifierTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void balloonPerStatusAndTooltipFollowsIt();
    void textsAreCutAtTheirLimits();
    void sameTextTwiceShowsTheBalloonTwice();
    void manyBalloonsLeaveNothingBehind();
    void clickOnTheIconIsReportedOnce();
    void showWithoutNotificationAreaThrows();
    void serviceGetsTheProgramsNoticesAndItsClicksLeadToThePage();
    void withoutAWorkingServiceTheBalloonShows();
    void showWaitsForALateNotificationAreaAndReturnsAfterItsRestart();

  private:
    bool child_ = false;
};

void TrayNotifierTest::initTestCase() {
    child_ = qEnvironmentVariableIsSet(kNoTrayChild) || qEnvironmentVariableIsSet(kLateTrayChild);
    if (child_) return;
    QVERIFY2(trayprobe::waitForNotificationArea(), "no tray host: start trayer on this display");
}

void TrayNotifierTest::balloonPerStatusAndTooltipFollowsIt() {
    if (child_) QSKIP("not in the child");
    TrayNotifier tray;
    tray.show(0);
    QVERIFY(tray.icon()->isVisible());
    QCOMPARE(tray.hint(), QStringLiteral("Vantrel"));
    QCOMPARE(tray.icon()->toolTip(), QStringLiteral("Vantrel"));
    QVERIFY(!tray.icon()->icon().isNull());

    struct Case {
        PageStatus status;
        QString text;
        QSystemTrayIcon::MessageIcon kind;
    };
    const Case cases[] = {
        {PageStatus::Offline, QStringLiteral("\"Home page\" is offline."), QSystemTrayIcon::Warning},
        {PageStatus::Changed, QStringLiteral("\"Home page\" is changed."), QSystemTrayIcon::Warning},
        {PageStatus::Online, QStringLiteral("\"Home page\" is online."), QSystemTrayIcon::Information},
    };
    for (const Case& c : cases) {
        tray.announce(c.status, 1, u"Home page");
        QTRY_VERIFY_WITH_TIMEOUT(trayprobe::visibleBalloon() != nullptr, 5000);
        QWidget* balloon = trayprobe::visibleBalloon();
        QCOMPARE(trayprobe::balloonText(balloon), c.text);
        QCOMPARE(trayprobe::balloonKind(balloon), c.kind);
        QCOMPARE(tray.balloonKind(), c.kind);
        QCOMPARE(tray.hint(), c.text);
        QCOMPARE(tray.icon()->toolTip(), c.text);
    }
    // Quotation marks and other characters inside the label are kept as they are.
    tray.announce(PageStatus::Offline, 1, u"  \"Qu\u00e9bec\" <b>news</b>  ");
    QTRY_COMPARE_WITH_TIMEOUT(trayprobe::balloonText(trayprobe::visibleBalloon()),
                              QString::fromUtf16(u"\"  \"Qu\u00e9bec\" <b>news</b>  \" is offline."), 5000);
}

void TrayNotifierTest::textsAreCutAtTheirLimits() {
    if (child_) QSKIP("not in the child");
    TrayNotifier tray;
    tray.show(0);
    const QString ending = QStringLiteral("\" is offline.");

    // 1 + 113 + 13 = 127: the tooltip holds the whole text; one more character is cut off.
    const QString label113(113, QLatin1Char('a'));
    tray.announce(PageStatus::Offline, 1, u16(label113));
    QCOMPARE(tray.hint(), QLatin1Char('"') + label113 + ending);
    QCOMPARE(tray.hint().size(), 127);
    const QString label114(114, QLatin1Char('b'));
    tray.announce(PageStatus::Offline, 1, u16(label114));
    QCOMPARE(tray.icon()->toolTip(), (QLatin1Char('"') + label114 + ending).left(127));
    QVERIFY(tray.hint().endsWith(QStringLiteral("offline")));  // cut inside the ending

    // 1 + 241 + 13 = 255: the balloon holds the whole text; the tooltip is its first 127.
    const QString label241(241, QLatin1Char('c'));
    tray.announce(PageStatus::Offline, 1, u16(label241));
    QTRY_COMPARE_WITH_TIMEOUT(trayprobe::balloonText(trayprobe::visibleBalloon()),
                              QLatin1Char('"') + label241 + ending, 5000);
    QCOMPARE(tray.hint(), (QLatin1Char('"') + label241).left(127));

    // Longer labels are cut wherever 255 falls: inside the ending, or inside the label itself.
    const QString label242(242, QLatin1Char('d'));
    tray.announce(PageStatus::Changed, 1, u16(label242));
    QTRY_COMPARE_WITH_TIMEOUT(trayprobe::balloonText(trayprobe::visibleBalloon()),
                              QLatin1Char('"') + label242 + QStringLiteral("\" is changed"), 5000);
    const QString label300(300, QLatin1Char('e'));
    tray.announce(PageStatus::Online, 1, u16(label300));
    QTRY_COMPARE_WITH_TIMEOUT(trayprobe::balloonText(trayprobe::visibleBalloon()),
                              QLatin1Char('"') + label300.left(254), 5000);
    QCOMPARE(tray.balloonText().size(), 255);
}

void TrayNotifierTest::sameTextTwiceShowsTheBalloonTwice() {
    if (child_) QSKIP("not in the child");
    TrayNotifier tray;
    tray.show(0);
    trayprobe::BalloonCounter counter;
    tray.announce(PageStatus::Offline, 1, u"Twin");
    QTRY_COMPARE_WITH_TIMEOUT(counter.shown, 1, 5000);
    tray.announce(PageStatus::Offline, 1, u"Twin");
    QTRY_COMPARE_WITH_TIMEOUT(counter.shown, 2, 5000);
    QCOMPARE(counter.texts,
             QStringList({QStringLiteral("\"Twin\" is offline."), QStringLiteral("\"Twin\" is offline.")}));
    QCOMPARE(tray.hint(), QStringLiteral("\"Twin\" is offline."));
}

// The toolkit's balloon is a new widget every time; a watcher announces for weeks, so a run of
// balloons must not leave anything behind (each used to leave about 2.5 kB of cached pictures).
void TrayNotifierTest::manyBalloonsLeaveNothingBehind() {
    if (child_) QSKIP("not in the child");
    TrayNotifier tray;
    tray.show(0);
    trayprobe::BalloonCounter counter;
    const auto heapBytes = [] {
        const struct mallinfo2 info = mallinfo2();
        return qint64(info.uordblks + info.hblkhd);
    };
    QElapsedTimer clock;
    clock.start();
    int announced = 0;
    const auto showBalloons = [&](int count) {
        for (int i = 0; i < count && clock.elapsed() < 60000; ++i, ++announced) {
            const int shown = counter.shown;
            tray.announce(announced % 2 ? PageStatus::Offline : PageStatus::Online, 1,
                          u16(QStringLiteral("Page %1").arg(announced % 40)));
            // Long enough for the balloon to be shown and painted before the next replaces it.
            QTRY_VERIFY_WITH_TIMEOUT(counter.shown > shown, 5000);
            counter.texts.clear();  // keeps its capacity: the test itself holds on to nothing
            QTest::qWait(5);
        }
    };
    showBalloons(100);  // the first ones load fonts and the like
    const qint64 before = heapBytes();
    showBalloons(300);
    QCOMPARE(announced, 400);
    const qint64 grown = heapBytes() - before;
    QVERIFY2(grown < 200 * 1024, qPrintable(QStringLiteral("300 balloons kept %1 bytes").arg(grown)));
}

void TrayNotifierTest::clickOnTheIconIsReportedOnce() {
    if (child_) QSKIP("not in the child");
    TrayNotifier tray;
    QSignalSpy clicks(&tray, &TrayNotifier::clicked);
    tray.show(0);
    const QPoint centre = trayprobe::iconCentre();
    QVERIFY2(centre.x() >= 0, "the icon never embedded in the notification area");
    trayprobe::settleClicks();

    QVERIFY(trayprobe::clickAt(centre));
    QTRY_COMPARE_WITH_TIMEOUT(clicks.size(), 1, 5000);
    trayprobe::settleClicks();
    QCOMPARE(clicks.size(), 1);

    // The toolkit reports a double-click as a click and then a double-click: one action.
    QVERIFY(trayprobe::clickAt(centre, 1, 2));
    QTRY_COMPARE_WITH_TIMEOUT(clicks.size(), 2, 5000);
    trayprobe::settleClicks();
    QCOMPARE(clicks.size(), 2);

    // Right and middle buttons do nothing.
    QVERIFY(trayprobe::clickAt(centre, 3));
    trayprobe::settleClicks();
    QVERIFY(trayprobe::clickAt(centre, 2));
    trayprobe::settleClicks();
    QCOMPARE(clicks.size(), 2);

    // A click while a balloon is up also closes the balloon; it still counts once.
    tray.announce(PageStatus::Online, 1, u"Clicked");
    QTRY_VERIFY_WITH_TIMEOUT(trayprobe::visibleBalloon() != nullptr, 5000);
    QVERIFY(trayprobe::clickAt(centre));
    QTRY_COMPARE_WITH_TIMEOUT(clicks.size(), 3, 5000);
    trayprobe::settleClicks();
    QCOMPARE(clicks.size(), 3);

    // A click on the balloon itself brings the window back too.
    tray.announce(PageStatus::Offline, 1, u"Balloon");
    QWidget* balloon = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((balloon = trayprobe::visibleBalloon()) != nullptr, 5000);
    QVERIFY(trayprobe::clickAt(balloon->mapToGlobal(balloon->rect().center())));
    QTRY_COMPARE_WITH_TIMEOUT(clicks.size(), 4, 5000);
    trayprobe::settleClicks();
    QCOMPARE(clicks.size(), 4);
}

// With a notification service the announcement is a notification of the program's own, and a
// click on it or on its buttons leads where the balloon's click leads, or to the page itself.
void TrayNotifierTest::serviceGetsTheProgramsNoticesAndItsClicksLeadToThePage() {
    if (child_) QSKIP("not in the child");
    auto owned = std::make_unique<FakeService>();
    FakeService& service = *owned;
    TrayNotifier tray(nullptr, std::move(owned));
    tray.show(0);
    QSignalSpy clicks(&tray, &TrayNotifier::clicked);
    QSignalSpy changes(&tray, &TrayNotifier::changeBalloonClicked);
    QSignalSpy opens(&tray, &TrayNotifier::openPageClicked);

    tray.announce(PageStatus::Changed, 7, u"News <b>&</b>");  // id 100
    tray.announce(PageStatus::Online, 8, u"Home");            // id 101
    service.caps = QStringList{QStringLiteral("body")};
    tray.announce(PageStatus::Changed, 9, u"Plain");  // id 102
    QCOMPARE(service.notices.size(), 3);
    const NotificationService::Notice& changed = service.notices[0];
    QCOMPARE(changed.appName, QStringLiteral("Vantrel"));
    QCOMPARE(changed.appIcon, QStringLiteral("io.github.vantrel.Vantrel"));
    QCOMPARE(changed.summary, QStringLiteral("\"News <b>&</b>\" is changed."));
    QCOMPARE(changed.body, QString());
    QCOMPARE(changed.actions, QStringList({"open", "Open Page", "default", "Show Changes"}));
    QCOMPARE(changed.hints.value("desktop-entry").toString(), QStringLiteral("io.github.vantrel.Vantrel"));
    QCOMPARE(changed.hints.value("urgency").value<uchar>(), uchar(1));
    QCOMPARE(changed.timeoutMs, 3000);
    QCOMPARE(service.notices[1].summary, QStringLiteral("\"Home\" is online."));
    QCOMPARE(service.notices[1].actions, QStringList({"default", "Show Vantrel"}));
    QCOMPARE(service.notices[1].hints.value("urgency").value<uchar>(), uchar(0));
    QCOMPARE(service.notices[2].actions, QStringList({"default", "Show Changes"}));  // no buttons offered
    QCOMPARE(tray.hint(), QStringLiteral("\"Plain\" is changed."));
    QVERIFY(trayprobe::visibleBalloon() == nullptr);

    service.click(100, "default");
    service.click(100, "open");
    service.click(101, "default");
    service.click(999, "default");  // another program's notification
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes[0][0].value<vantrel::EntryId>(), vantrel::EntryId(7));
    QCOMPARE(opens.size(), 1);
    QCOMPARE(opens[0][0].value<vantrel::EntryId>(), vantrel::EntryId(7));
    QCOMPARE(clicks.size(), 1);

    // A closed notification is forgotten, and so is the oldest past the limit.
    service.close(100);
    service.click(100, "default");
    for (int i = 0; i < TrayNotifier::kRememberedNotices - 2; ++i)
        tray.announce(PageStatus::Online, 20, u"More");
    tray.announce(PageStatus::Online, 20, u"More");  // the 33rd: 101 goes
    service.click(101, "default");
    service.click(102, "default");
    QCOMPARE(changes.size(), 2);
    QCOMPARE(changes[1][0].value<vantrel::EntryId>(), vantrel::EntryId(9));
    QCOMPARE(clicks.size(), 1);
}

void TrayNotifierTest::withoutAWorkingServiceTheBalloonShows() {
    if (child_) QSKIP("not in the child");
    auto owned = std::make_unique<FakeService>();
    FakeService& service = *owned;
    service.caps.reset();  // no service on the bus
    TrayNotifier tray(nullptr, std::move(owned));
    tray.show(0);
    tray.announce(PageStatus::Offline, 1, u"Absent");
    QTRY_COMPARE_WITH_TIMEOUT(trayprobe::balloonText(trayprobe::visibleBalloon()),
                              QStringLiteral("\"Absent\" is offline."), 5000);
    QVERIFY(service.notices.isEmpty());
    // A service that refuses the call leaves it to the balloon too.
    service.caps = QStringList();
    service.refuse = true;
    tray.announce(PageStatus::Online, 1, u"Refused");
    QTRY_COMPARE_WITH_TIMEOUT(trayprobe::balloonText(trayprobe::visibleBalloon()),
                              QStringLiteral("\"Refused\" is online."), 5000);
    QCOMPARE(service.notices.size(), 1);
}

// Without a notification area (the offscreen platform has none) showing the icon fails. Run in
// a child process of this test, since the platform is chosen once per process.
void TrayNotifierTest::showWithoutNotificationAreaThrows() {
    if (child_) {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        for (int waitMs : {0, 300}) {
            TrayNotifier tray;
            try {
                tray.show(waitMs);
                QFAIL("show() succeeded without a notification area");
            } catch (const vantrel::Error& error) {
                QCOMPARE(QString::fromUtf8(error.what()),
                         QStringLiteral("Cannot create shell notification icon"));
            }
            QVERIFY(!tray.icon()->isVisible());
        }
        return;
    }
    const QByteArray failure = trayprobe::runWithoutNotificationArea(
        QStringLiteral("TrayNotifierTest"), QStringLiteral("showWithoutNotificationAreaThrows"));
    QVERIFY2(failure.isEmpty(), failure.constData());
}

// A program started at log-on may come up before the panel: show() waits for the notification
// area. And when the panel restarts, the icon comes back into the new one. The child runs on a
// display of its own, where the script below starts, kills and restarts the tray host as the
// child's signal files say.
void TrayNotifierTest::showWaitsForALateNotificationAreaAndReturnsAfterItsRestart() {
    if (qEnvironmentVariableIsSet(kLateTrayChild)) {
        const QString signalDir = qEnvironmentVariable(kLateTrayChild);
        const auto tell = [&](const char* name) {
            QFile file(signalDir + QLatin1Char('/') + QLatin1String(name));
            return file.open(QIODevice::WriteOnly);
        };
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        QVERIFY(tell("ready"));
        TrayNotifier tray;
        tray.show(30000);
        QVERIFY(tray.icon()->isVisible());
        QVERIFY(trayprobe::iconCentre().x() >= 0);
        const WId first = trayprobe::iconWindow()->internalWinId();
        QVERIFY(tell("embedded"));
        QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 20000);
        QVERIFY(tell("gone"));
        QVERIFY(trayprobe::waitForNotificationArea(20000));
        QVERIFY(trayprobe::iconCentre(20000, first).x() >= 0);
        tray.announce(PageStatus::Online, 1, u"Back");
        QTRY_COMPARE_WITH_TIMEOUT(trayprobe::balloonText(trayprobe::visibleBalloon()),
                                  QStringLiteral("\"Back\" is online."), 5000);
        return;
    }
    if (child_) QSKIP("not in the other child");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString script = QStringLiteral(
        "awaitfile() { for i in $(seq 300); do [ -e \"$1\" ] && return 0; sleep 0.1; done; return 1; }\n"
        "tray() { trayer --edge bottom --align right --widthtype request --height 32 --SetDockType true "
        "--transparent false >/dev/null 2>&1 & t=$!; }\n"
        "\"$1\" showWaitsForALateNotificationAreaAndReturnsAfterItsRestart & c=$!\n"
        "awaitfile \"$2/ready\" && tray\n"
        "awaitfile \"$2/embedded\" && kill $t && wait $t\n"
        "awaitfile \"$2/gone\" && tray\n"
        "wait $c; rc=$?; kill $t; exit $rc\n");
    const vantrel::test::XvfbDisplay display;
    QVERIFY2(!display.name().empty(), display.error().c_str());
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display.name()));
    environment.insert(QString::fromLatin1(kLateTrayChild), dir.path());
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("bash"), {QStringLiteral("-c"), script, QStringLiteral("bash"),
                                         QCoreApplication::applicationFilePath(), dir.path()});
    QVERIFY(child.waitForFinished(90000));
    const QByteArray output = child.readAll();
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
    QVERIFY2(output.contains(
                 "PASS   : TrayNotifierTest::showWaitsForALateNotificationAreaAndReturnsAfterItsRestart"),
             output.constData());
}

QTEST_MAIN(TrayNotifierTest)
#include "TrayNotifier_qtest.moc"
