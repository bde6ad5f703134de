// The alarms as the program wires them: a paused page is not checked, also after a restart (the
// pause is read from the history before the first check), until its pause ends by the clock, and
// Details and the list show it; the alarm command hears each announcement with the status before
// and after and the check's result, and its failure is kept for the page's Details; "Do not
// disturb" outlasts a restart in the settings file until its time is up or it is turned off.
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "MonitorSettingsIn.h"
#include "core/DoNotDisturb.h"
#include "store/HistoryStore.h"
#include "support/FakeClock.h"
#include "support/RecordingNotifier.h"
#include "support/ScriptedServer.h"
#include "ui/Alarms.h"
#include "ui/DetailsWindow.h"
#include "ui/Monitor.h"
#include "ui/PageListModel.h"
#include "ui/TrayNotifier.h"

using namespace vantrel;
using test::FakeClock;
using test::RecordingNotifier;
using test::ScriptedServer;

namespace {

constexpr LocalMillis kStart = 1'750'000'000'250;
constexpr int kOneMinuteIndex = 0;
constexpr int kWaitMs = 10000;

}  // namespace

class AlarmsTest : public QObject {
    Q_OBJECT
  private slots:
    void aPauseOutlastsARestartAndEndsByTheClock();
    void theCommandHearsEachAnnouncementAndItsFailureIsKept();
    void doNotDisturbOutlastsARestartUntilItsTimeIsUp();
};

void AlarmsTest::aPauseOutlastsARestartAndEndsByTheClock() {
    ScriptedServer server;
    QVERIFY(server.listening());
    server.setBody("/a", "<html>a</html>");
    server.setBody("/b", "<html>b</html>");
    QTemporaryDir dir;
    FakeClock clock{kStart};
    RecordingNotifier notifier;
    {
        Monitor monitor(settingsIn(dir, clock), notifier);
        monitor.open([](Option, bool) {});
        const EntryId a = monitor.addPage("A", QString::fromStdU16String(server.url("/a")), kOneMinuteIndex);
        monitor.addPage("B", QString::fromStdU16String(server.url("/b")), kOneMinuteIndex);
        monitor.pausePage(a, clock.time + 60 * 60000);
        monitor.tick();
        QTRY_COMPARE_WITH_TIMEOUT(notifier.said, QStringList{"B online"}, kWaitMs);
        monitor.close();
    }
    Monitor monitor(settingsIn(dir, clock), notifier);
    monitor.open([](Option, bool) {});
    const EntryId a = monitor.list().at(0).id;
    clock.advanceMinutes(1);  // B is due again; A would be, but for its pause
    monitor.tick();
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), size_t{2}, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!monitor.list().at(1).stamp().empty(), kWaitMs);
    QCOMPARE(server.requests(), (std::vector<std::string>{"/b", "/b"}));
    QCOMPARE(monitor.list().pausedUntil(a), kStart + 60 * 60000);
    // Shown in Details and drawn grey in the list, until the pause ends.
    PageListModel model(monitor.list(), 32);
    DetailsWindow details(monitor, model, a);
    QVERIFY2(details.notesLabel()->text().startsWith(QStringLiteral("Checks paused until 20")),
             qPrintable(details.notesLabel()->text()));
    QCOMPARE(model.data(model.indexOf(a), PageListModel::PausedRole), QVariant(true));
    clock.advanceMinutes(59);
    monitor.tick();
    QVERIFY(!monitor.list().pausedUntil(a));
    QVERIFY(details.notesLabel()->isHidden());
    QCOMPARE(model.data(model.indexOf(a), PageListModel::PausedRole), QVariant(false));
    QTRY_COMPARE_WITH_TIMEOUT(notifier.said, (QStringList{"B online", "A online"}), kWaitMs);
    monitor.history()->flush();
    QVERIFY(monitor.history()->pauses().empty());
    monitor.close();
}

void AlarmsTest::theCommandHearsEachAnnouncementAndItsFailureIsKept() {
    ScriptedServer server;
    QVERIFY(server.listening());
    server.setBody("/shop", "<html>first</html>");
    QTemporaryDir dir;
    FakeClock clock{kStart};
    TrayNotifier tray;
    Alarms alarms(tray);
    Monitor monitor(settingsIn(dir, clock), alarms);
    PageListModel model(monitor.list(), 32);
    alarms.attach(monitor, model);
    const QString out = dir.filePath("said.txt");
    QCOMPARE(alarms.setCommandLine(
                 QStringLiteral("/bin/sh -c 'printf \"%s|%s|%s|%s|%s\\n\" \"$VANTREL_LABEL\" "
                                "\"$VANTREL_URL\" \"$VANTREL_OLD_STATUS\" \"$VANTREL_NEW_STATUS\" "
                                "\"$VANTREL_RESULT\" >> \"$0\"' ") +
                 out),
             QString());
    QCOMPARE(alarms.setCommandLine(QStringLiteral("echo 'open")),
             QStringLiteral("Unterminated single quote"));
    monitor.open([](Option, bool) {});
    const QString url = QString::fromStdU16String(server.url("/shop"));
    monitor.addPage("Shop", url, kOneMinuteIndex);
    monitor.tick();
    const auto said = [&] {
        QFile file(out);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(said().endsWith('\n'), kWaitMs);
    QVERIFY2(said().startsWith("Shop|" + url + "|offline|online|200 OK \u2014 "), qPrintable(said()));
    QCOMPARE(tray.balloonText(), QStringLiteral("\"Shop\" is online."));
    QVERIFY(monitor.commandNote(url).isEmpty());

    // A failing command: its failure is kept for the page's Details.
    QCOMPARE(alarms.setCommandLine(QStringLiteral("/bin/sh -c 'exit 4'")), QString());
    server.setBody("/shop", "<html>second</html>");
    clock.advanceMinutes(1);
    monitor.tick();
    QTRY_VERIFY_WITH_TIMEOUT(monitor.commandNote(url).endsWith(QStringLiteral(": Exited with code 4")),
                             kWaitMs);
    QCOMPARE(alarms.badges(), (Badges{false, true}));
    alarms.windowOpened();
    QTRY_COMPARE(alarms.badges(), (Badges{false, false}));
    monitor.close();
}

void AlarmsTest::doNotDisturbOutlastsARestartUntilItsTimeIsUp() {
    QTemporaryDir dir;
    FakeClock clock{kStart};
    TrayNotifier tray;
    // One run of the program: its alarms as the window wires them, with the tray menu's entries.
    const auto run = [&](const std::function<void(Alarms&, QMenu&)>& body) {
        Alarms alarms(tray);
        Monitor monitor(settingsIn(dir, clock), alarms);
        PageListModel model(monitor.list(), 32);
        alarms.attach(monitor, model);
        QMenu menu;
        alarms.addTrayActions(menu);
        monitor.open([](Option, bool) {});
        body(alarms, menu);
        monitor.close();
    };
    const auto choose = [](QMenu& menu, const QString& text) {
        for (QAction* action : menu.findChildren<QAction*>()) {
            if (action->text().startsWith(text) && action->isEnabled()) {
                action->trigger();
                return true;
            }
        }
        return false;
    };
    const auto kept = [&dir] {
        QSettings file(dir.filePath("settings.ini"), QSettings::IniFormat);
        file.beginGroup("DoNotDisturb");
        QStringList keys;
        for (const QString& key : file.childKeys()) keys << key + "=" + file.value(key).toString();
        return keys;
    };

    run([&](Alarms&, QMenu& menu) { QVERIFY(choose(menu, "Until &Turned Off")); });
    QCOMPARE(kept(), QStringList{"On=true"});
    clock.advanceMinutes(7 * 24 * 60);
    run([&](Alarms& alarms, QMenu& menu) {
        QVERIFY(alarms.doNotDisturb().on());
        QCOMPARE(alarms.doNotDisturb().until(), std::nullopt);
        QVERIFY(choose(menu, "For 1 &Hour"));
    });
    const LocalMillis end = clock.time + DoNotDisturb::kHourMs;
    QCOMPARE(kept(), (QStringList{"On=true", "Until=" + QDateTime::fromMSecsSinceEpoch(end, Qt::UTC)
                                                            .toString("yyyy-MM-ddTHH:mm:ss.zzz")}));
    clock.advanceMinutes(59);
    run([&](Alarms& alarms, QMenu&) { QCOMPARE(alarms.doNotDisturb().until(), end); });
    clock.advanceMinutes(1);  // its time passed while the program was not running
    run([&](Alarms& alarms, QMenu& menu) {
        QVERIFY(!alarms.doNotDisturb().on());
        QVERIFY(!choose(menu, "T&urn Off"));
        QVERIFY(choose(menu, "Until &Turned Off"));
        QVERIFY(choose(menu, "T&urn Off"));
    });
    QCOMPARE(kept(), QStringList());
    run([&](Alarms& alarms, QMenu&) { QVERIFY(!alarms.doNotDisturb().on()); });
    // Never in the page list file, which keeps only its own keys.
    QFile list(dir.filePath("webpages.dat"));
    QVERIFY(list.open(QIODevice::ReadOnly));
    QVERIFY(!list.readAll().contains("isturb"));
}

QTEST_MAIN(AlarmsTest)
#include "Alarms_qtest.moc"
