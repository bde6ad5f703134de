#include "ui/NetworkStatus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <optional>

#include "core/NetworkWatch.h"

namespace vantrel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");

// What NetworkManager's state (NMState) says of the network: true for none. Unknown (0), asleep
// (10: networking switched off, or the computer going to sleep) and connecting (40) say nothing;
// a network of the local link (50) or of the site (60) may still reach the watched servers.
std::optional<bool> OfflineIn(uint state) {
    switch (state) {
        case 20:  // disconnected
        case 30:  // disconnecting
            return true;
        case 50:
        case 60:
        case 70:  // connected to the internet
            return false;
        default:
            return std::nullopt;
    }
}

}  // namespace

NetworkStatus::NetworkStatus(QObject* parent) : QObject(parent) {
    // NetworkManager's own state alone: it tells a network of the local link only from none at
    // all. A watch of the default route would say "disconnected" on a LAN without a gateway,
    // where every watched page may still be reached. Without NetworkManager the failures of the
    // checks alone show a network that is gone.
    QDBusConnection system = QDBusConnection::systemBus();
    if (!system.isConnected()) return;
    system.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                   QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                   SLOT(prepareForSleep(bool)));
    system.connect(kService, kPath, kService, QStringLiteral("StateChanged"), this, SLOT(stateChanged(uint)));
    // A NetworkManager that stops says nothing more: the checks alone tell from then on; one
    // that starts (again) is asked.
    auto* watcher = new QDBusServiceWatcher(kService, system, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &NetworkStatus::askState);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] { setOffline(false); });
    askState();
}

void NetworkStatus::askState() {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    ask << kService << QStringLiteral("State");
    ask.setAutoStartService(false);  // asked of a NetworkManager that runs, never started for it
    // Asked without waiting: a busy or starting NetworkManager must not hold up the window.
    auto* call = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(ask), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answer) {
        const QDBusPendingReply<QDBusVariant> reply = *answer;
        answer->deleteLater();
        if (!reply.isError()) stateChanged(reply.value().variant().toUInt());
    });
}

void NetworkStatus::stateChanged(uint state) {
    if (const std::optional<bool> offline = OfflineIn(state)) setOffline(*offline);
}

void NetworkStatus::setOffline(bool offline) {
    if (offline == offline_) return;
    offline_ = offline;
    emit desktopOnlineChanged(!offline);
}

void NetworkStatus::tick(LocalMillis now) {
    // A suspended computer's monotonic clock stands still while the wall clock goes on: the wall
    // clock is the one that shows the sleep.
    if (lastTick_ != 0 && IsWakeGap(lastTick_, now)) emit woke();
    lastTick_ = now;
}

void NetworkStatus::prepareForSleep(bool start) {
    if (!start) emit woke();
}

}  // namespace vantrel
