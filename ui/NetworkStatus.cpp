#include "ui/NetworkStatus.h"

#include <QDBusConnection>
#include <QNetworkInformation>

#include "core/NetworkWatch.h"

namespace vantrel {

NetworkStatus::NetworkStatus(QObject* parent) : QObject(parent) {
    // NetworkManager's own state alone: it tells a network of the local link only from none at
    // all. The toolkit's other back end (GLib's monitor without NetworkManager) says
    // "disconnected" whenever there is no default route, which a computer on a LAN without a
    // gateway never has while it reaches every page it watches. Without NetworkManager the
    // failures of the checks alone show a network that is gone.
    if (QNetworkInformation::loadBackendByName(u"networkmanager")) {
        if (QNetworkInformation* info = QNetworkInformation::instance()) {
            desktop_ = true;
            connect(info, &QNetworkInformation::reachabilityChanged, this,
                    [this](QNetworkInformation::Reachability reachability) {
                        // Unknown says nothing; Local and Site may still reach the watched servers.
                        if (reachability != QNetworkInformation::Reachability::Unknown)
                            emit desktopOnlineChanged(reachability !=
                                                      QNetworkInformation::Reachability::Disconnected);
                    });
        }
    }
    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected())
        system.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                       QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                       this, SLOT(prepareForSleep(bool)));
}

bool NetworkStatus::desktopOffline() const {
    const QNetworkInformation* info = desktop_ ? QNetworkInformation::instance() : nullptr;
    return info && info->reachability() == QNetworkInformation::Reachability::Disconnected;
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
