#include "ui/DBusNotificationService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

namespace vantrel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

}  // namespace

DBusNotificationService::DBusNotificationService(QObject* parent) : NotificationService(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    // The signals come from whichever program owns the name now; an empty sender takes them from
    // any, so a restarted service is heard too. They are broadcast to every client: the ids of
    // other programs' notifications are sorted out by the receiver.
    connected_ = bus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                             SLOT(onActionInvoked(uint, QString))) &&
                 bus.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                             SLOT(onClosed(uint, uint)));
    // A daemon started, restarted or ended later is asked afresh at the next message.
    auto* watcher = new QDBusServiceWatcher(kService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { known_.reset(); });
}

std::optional<QStringList> DBusNotificationService::capabilities() {
    if (!connected_) return std::nullopt;
    if (!known_) known_ = askCapabilities();
    return *known_;
}

std::optional<QStringList> DBusNotificationService::askCapabilities() const {
    // A service that the bus starts on demand counts as present: the call starts it.
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call(QStringLiteral("GetCapabilities")),
                                                                  QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    return reply.arguments().constFirst().toStringList();
}

void DBusNotificationService::notify(const Notice& notice, Sent sent) {
    QDBusMessage message = call(QStringLiteral("Notify"));
    // replaces_id 0: every announcement is a notification of its own, as each was a balloon.
    message << notice.appName << uint(0) << notice.appIcon << notice.summary << notice.body << notice.actions
            << notice.hints << notice.timeoutMs;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [sent = std::move(sent)](QDBusPendingCallWatcher* done) {
                const QDBusPendingReply<uint> reply = *done;
                done->deleteLater();
                if (reply.isError())
                    sent(std::nullopt);
                else
                    sent(reply.value());
            });
}

void DBusNotificationService::onActionInvoked(uint id, const QString& key) {
    emit actionInvoked(id, key);
}

void DBusNotificationService::onClosed(uint id, uint reason) {
    emit closed(id, reason);
}

}  // namespace vantrel
