#include "ui/NetworkStatus.h"

#include <QDBusConnection>
#include <QNetworkInformation>

#include "core/NetworkWatch.h"

namespace vantrel {

NetworkStatus::NetworkStatus(QObject* parent) : QObject(parent) {
    // Only a back end that knows reachability tells anything; without one (no NetworkManager) the
    // failures of the checks alone show a network that is gone.
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
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
