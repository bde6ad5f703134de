// The running instance's answer to "--status" over the command channel: the pages whose check it
// puts off until the network is back, while the desktop says the network is gone, and none once
// it is back.
#include <QTemporaryDir>
#include <QTest>

#include "app/ListRequests.h"
#include "support/FakeClock.h"
#include "support/RecordingNotifier.h"
#include "ui/Monitor.h"
#include "ui/NetworkStatus.h"

using namespace vantrel;

class ListRequestsTest : public QObject {
    Q_OBJECT
  private slots:
    void theRunningCopyNamesThePagesWaitingForTheNetwork();
};

void ListRequestsTest::theRunningCopyNamesThePagesWaitingForTheNetwork() {
    QTemporaryDir dir;
    test::FakeClock clock{1'750'000'000'250};
    test::RecordingNotifier notifier;
    MonitorSettings settings;
    settings.exeDir = dir.path();
    settings.autostartDir = dir.filePath("autostart");
    settings.clock = &clock;
    Monitor monitor(settings, notifier);
    monitor.open([](Option, bool) {});
    const auto handler = RequestHandlerFor(monitor);
    const auto waiting = [&handler] { return QString::fromStdString(handler(WaitingRequest())); };
    QCOMPARE(waiting(), QStringLiteral("ok\n"));

    monitor.addPage("A", "http://127.0.0.1:1/a", 0);
    monitor.addPage("B", "http://127.0.0.1:1/b", 0);
    auto* network = monitor.findChild<NetworkStatus*>();
    QVERIFY(network);
    emit network->desktopOnlineChanged(false);
    monitor.tick();  // both are due: put off, as the clock stands still before the first probe
    QCOMPARE(waiting(), QStringLiteral("ok\nhttp://127.0.0.1:1/a\nhttp://127.0.0.1:1/b\n"));
    emit network->desktopOnlineChanged(true);
    QCOMPARE(waiting(), QStringLiteral("ok\n"));
    monitor.close();
}

QTEST_MAIN(ListRequestsTest)
#include "ListRequests_qtest.moc"
