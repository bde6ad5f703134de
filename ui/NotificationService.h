#pragma once
// The desktop's notification service as the tray icon uses it: whether one is there, what it can
// show, sending a notification, and the clicks and closings it reports. DBusNotificationService
// speaks the org.freedesktop.Notifications interface; tests put a fake in its place.
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>

namespace vantrel {

class NotificationService : public QObject {
    Q_OBJECT
  public:
    // One notification as the Notify method takes it.
    struct Notice {
        QString appName;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;  // pairs of key and label; the key "default" is a click on the bubble
        QVariantMap hints;
        int timeoutMs = -1;
    };
    // Called once with the notification's id, or with nothing when the service refused it or
    // went away meanwhile.
    using Sent = std::function<void(std::optional<uint>)>;

    using QObject::QObject;

    // The service's capabilities, or nothing when no service is on the session bus (or none
    // answered in time).
    virtual std::optional<QStringList> capabilities() = 0;
    // Sends `notice` without waiting for the answer, which goes to `sent`.
    virtual void notify(const Notice& notice, Sent sent) = 0;

  signals:
    // A click on a notification's bubble ("default") or one of its buttons.
    void actionInvoked(uint id, const QString& key);
    // The notification ended: expired, dismissed by the user, or closed by a call.
    void closed(uint id, uint reason);
};

}  // namespace vantrel
