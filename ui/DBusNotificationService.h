#pragma once
// The notification service on the session bus, through the org.freedesktop.Notifications
// interface (the freedesktop Desktop Notifications protocol, version 1.2).
#include "ui/NotificationService.h"

namespace vantrel {

class DBusNotificationService : public NotificationService {
    Q_OBJECT
  public:
    // How long a question to the service may take before it counts as absent.
    static constexpr int kCallTimeoutMs = 2000;

    explicit DBusNotificationService(QObject* parent = nullptr);

    std::optional<QStringList> capabilities() override;
    void notify(const Notice& notice, Sent sent) override;

  private slots:
    void onActionInvoked(uint id, const QString& key);
    void onClosed(uint id, uint reason);

  private:
    std::optional<QStringList> askCapabilities() const;

    bool connected_ = false;
    // The last answer to GetCapabilities (nothing: no service), asked again only after the name
    // changed owner, so that a hung or missing service costs one wait, not one per message.
    std::optional<std::optional<QStringList>> known_;
};

}  // namespace vantrel
