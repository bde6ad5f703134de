#pragma once
// The program's icon in the notification area: announces every change of a page's status with a
// balloon, keeps the tooltip on the last announcement, and reports clicks (the way back to the
// main window, or to the changes of the page a balloon announced).
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include "core/Notifier.h"

namespace vantrel {

class TrayNotifier : public QObject, public Notifier {
    Q_OBJECT
  public:
    static constexpr int kTooltipMax = 127;
    static constexpr int kBalloonMax = 255;
    static constexpr int kBalloonMs = 3000;

    explicit TrayNotifier(QObject* parent = nullptr);
    ~TrayNotifier() override;

    // Shows the icon. When no notification area is available, waits up to `waitMs` for one to
    // appear (handling events meanwhile), then throws Error("Cannot create shell notification
    // icon").
    void show(int waitMs = 0);
    // Ends a wait of show() that runs now, and every later one, at once (the program is ending).
    static void stopWaiting();

    // Balloon: '"' + label + '"' + " is offline." / " is changed." / " is online.", cut to 255;
    // Warning for offline and changed, Information for online; empty title; 3000 ms. The tooltip
    // then shows the same text cut to 127.
    void announce(PageStatus newStatus, EntryId id, const std::u16string& label) override;

    // While checks wait for the network the tooltip says "Waiting for the network"; afterwards it
    // shows the last announcement again.
    void setNetworkWaiting(bool waiting);
    bool networkWaiting() const { return networkWaiting_; }

    static QString balloonTextFor(PageStatus status, const QString& label);
    static QSystemTrayIcon::MessageIcon balloonKindFor(PageStatus status);
    QString hint() const { return hint_; }
    QString balloonText() const { return balloonText_; }
    QSystemTrayIcon::MessageIcon balloonKind() const { return balloonKind_; }
    QSystemTrayIcon* icon() const { return icon_; }

  signals:
    // A left click or double-click on the icon (a double-click counts once), or a click on a
    // balloon or on the desktop's notification that shows it, unless it announced a change.
    void clicked();
    // A click on the balloon that announced a change of the page `id`.
    void changeBalloonClicked(vantrel::EntryId id);

  private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void onMessageClicked();

    QSystemTrayIcon* icon_ = nullptr;
    QString hint_;
    bool networkWaiting_ = false;
    QString balloonText_;
    QSystemTrayIcon::MessageIcon balloonKind_ = QSystemTrayIcon::Information;
    // What the last balloon was about, for a click on it.
    PageStatus balloonStatus_ = PageStatus::Online;
    EntryId balloonEntry_ = 0;
    QElapsedTimer lastTrigger_;  // when the last single click came, to fold a double-click into it
    quint64 triggers_ = 0;       // single clicks so far, to fold a balloon's click into the icon's
};

}  // namespace vantrel
