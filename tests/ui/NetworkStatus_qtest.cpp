// The desktop's network status from NetworkManager on the system bus: a bus of the test's own
// stands in for the system bus, and an object of the test serves NetworkManager's state on it.
#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include "ui/NetworkStatus.h"

using namespace vantrel;

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");

}  // namespace

class FakeNetworkManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager")
    Q_PROPERTY(uint State READ state)
  public:
    uint state() const { return state_; }
    void setState(uint state) {
        state_ = state;
        emit StateChanged(state);
    }

  signals:
    void StateChanged(uint state);

  private:
    uint state_ = 20;  // disconnected
};

class NetworkStatusTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QProcess bus;
        bus.start("dbus-daemon", {"--session", "--fork", "--print-address=1", "--print-pid=1"});
        QVERIFY2(bus.waitForFinished(10000) && bus.exitCode() == 0, bus.readAllStandardError().constData());
        const QStringList lines =
            QString::fromUtf8(bus.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        address_ = lines[0].trimmed();
        busPid_ = lines[1].trimmed().toLongLong();
        // Read when the system bus is first used, which is by the first status below.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_.toUtf8());
    }
    void cleanupTestCase() {
        if (busPid_ > 0) ::kill(static_cast<pid_t>(busPid_), SIGTERM);
    }

    void followsNetworkManagerWhileItRuns() {
        NetworkStatus status;  // before NetworkManager is there: it says nothing
        QSignalSpy changes(&status, &NetworkStatus::desktopOnlineChanged);
        QDBusConnection service = QDBusConnection::connectToBus(address_, QStringLiteral("network-manager"));
        QVERIFY(service.isConnected());
        FakeNetworkManager manager;
        QVERIFY(
            service.registerObject(QStringLiteral("/org/freedesktop/NetworkManager"), &manager,
                                   QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSignals));
        QVERIFY(service.registerService(kService));
        // Started later, it is asked: disconnected.
        QTRY_COMPARE(changes.size(), 1);
        QCOMPARE(changes.takeFirst().at(0).toBool(), false);
        QVERIFY(status.desktopOffline());

        // A status made while it runs asks it at once.
        NetworkStatus later;
        QSignalSpy laterChanges(&later, &NetworkStatus::desktopOnlineChanged);
        QTRY_COMPARE(laterChanges.size(), 1);
        QVERIFY(later.desktopOffline());

        // Connecting says nothing yet; a network of the local link is a network.
        manager.setState(40);
        manager.setState(50);
        QTRY_COMPARE(changes.size(), 1);
        QCOMPARE(changes.takeFirst().at(0).toBool(), true);
        QVERIFY(!status.desktopOffline());
        manager.setState(30);  // disconnecting
        QTRY_COMPARE(changes.size(), 1);
        QCOMPARE(changes.takeFirst().at(0).toBool(), false);

        // Gone, it no longer holds the checks back.
        QVERIFY(service.unregisterService(kService));
        QTRY_COMPARE(changes.size(), 1);
        QCOMPARE(changes.takeFirst().at(0).toBool(), true);
        QVERIFY(!status.desktopOffline());
        QDBusConnection::disconnectFromBus(QStringLiteral("network-manager"));
    }

  private:
    QString address_;
    qint64 busPid_ = 0;
};

QTEST_MAIN(NetworkStatusTest)
#include "NetworkStatus_qtest.moc"
