#pragma once
// The program's icon in the notification area: announces every change of a page's status through
// the desktop's notification service (or, without one, a balloon of its own), keeps the tooltip on
// the last announcement, holds the icon's menu, and reports clicks (the way back to the main
// window, or to the changes or the page an announcement was about).
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <deque>
#include <memory>

#include "core/Notifier.h"
#include "ui/NotificationService.h"

class QAction;
class QMenu;

namespace vantrel {

class TrayNotifier : public QObject, public Notifier {
    Q_OBJECT
  public:
    static constexpr int kTooltipMax = 127;
    static constexpr int kBalloonMax = 255;
    static constexpr int kBalloonMs = 3000;
    // How many sent notifications are remembered for their clicks; the oldest is forgotten first.
    static constexpr int kRememberedNotices = 32;
    // The installed icon and launcher of the program, which the notification service shows.
    static constexpr char kDesktopEntry[] = "io.github.vantrel.Vantrel";

    // `service` null: the desktop's notification service on the session bus.
    explicit TrayNotifier(QObject* parent = nullptr, std::unique_ptr<NotificationService> service = {});
    ~TrayNotifier() override;

    // Shows the icon. When no notification area is available, waits up to `waitMs` for one to
    // appear (handling events meanwhile), then throws Error("Cannot create shell notification
    // icon").
    void show(int waitMs = 0);
    // Ends a wait of show() that runs now, and every later one, at once (the program is ending).
    static void stopWaiting();

    // The icon's menu (a right click): `items` in order, a null item as a separator.
    QMenu* setMenu(const QList<QAction*>& items);

    // Text: '"' + label + '"' + " is offline." / " is changed." / " is online.", cut to 255;
    // Warning for offline and changed, Information for online; 3000 ms. The tooltip then shows
    // the same text cut to 127. With a notification service on the session bus the text is the
    // notification's summary, which every service shows and none reads as markup; else it is the
    // text of a balloon with an empty title.
    void announce(PageStatus newStatus, EntryId id, const std::u16string& label) override;

    // A balloon about several pages at once (a burst, or what was held while quiet), in the kind
    // of its gravest status, cut to 255; the tooltip follows as for announce(). A click on it
    // brings the main window back.
    void tellAll(const QString& text, PageStatus gravest);

    static QString balloonTextFor(PageStatus status, const QString& label);
    static QSystemTrayIcon::MessageIcon balloonKindFor(PageStatus status);
    QString hint() const { return hint_; }
    QString balloonText() const { return balloonText_; }
    QSystemTrayIcon::MessageIcon balloonKind() const { return balloonKind_; }
    QSystemTrayIcon* icon() const { return icon_; }
    QMenu* menu() const { return menu_.get(); }

  signals:
    // A left click or double-click on the icon (a double-click counts once), or a click on a
    // balloon or on a notification, unless it announced a change.
    void clicked();
    // A click on the balloon or the notification that announced a change of the page `id` (its
    // "Show Changes" where the service shows the click as a button).
    void changeBalloonClicked(vantrel::EntryId id);
    // A click on "Open Page" of the notification that announced a change of the page `id`.
    void openPageClicked(vantrel::EntryId id);

  private:
    struct Sent {
        uint id;
        PageStatus status;
        EntryId entry;
    };
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void onMessageClicked();
    // Sends the announcement to the notification service; false when there is none.
    bool notifyService(PageStatus status, EntryId id);
    void showBalloon();
    void onNoticeAction(uint id, const QString& key);
    void forget(uint id);

    std::unique_ptr<NotificationService> service_;
    std::unique_ptr<QMenu> menu_;
    std::deque<Sent> sent_;  // the notifications still up, oldest first, at most kRememberedNotices

    QSystemTrayIcon* icon_ = nullptr;
    QString hint_;
    QString balloonText_;
    QSystemTrayIcon::MessageIcon balloonKind_ = QSystemTrayIcon::Information;
    // What the last balloon was about, for a click on it.
    PageStatus balloonStatus_ = PageStatus::Online;
    EntryId balloonEntry_ = 0;
    QElapsedTimer lastTrigger_;  // when the last single click came, to fold a double-click into it
    quint64 triggers_ = 0;       // single clicks so far, to fold a balloon's click into the icon's
};

}  // namespace vantrel
