#include "ui/TrayNotifier.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QPixmapCache>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>

#include "text/Error.h"
#include "ui/DBusNotificationService.h"
#include "ui/Pictures.h"

namespace vantrel {

namespace {

constexpr int kTrayPollMs = 200;

bool gStopWaiting = false;
QPointer<QEventLoop> gWaitStep;  // the pause of the wait that runs now, if any

QString appTitle() {
    return QStringLiteral("Vantrel");
}

// The keys of the notification's actions: a click on it, and its "Open Page" button.
const QString kDefaultAction = QStringLiteral("default");
const QString kOpenAction = QStringLiteral("open");

// Urgency levels of desktop notifications (the "urgency" hint, a byte).
constexpr uchar kLowUrgency = 0;
constexpr uchar kNormalUrgency = 1;

}  // namespace

TrayNotifier::TrayNotifier(QObject* parent, std::unique_ptr<NotificationService> service)
    : QObject(parent), icon_(new QSystemTrayIcon(this)) {
    service_ = service ? std::move(service) : std::make_unique<DBusNotificationService>();
    connect(service_.get(), &NotificationService::actionInvoked, this, &TrayNotifier::onNoticeAction);
    connect(service_.get(), &NotificationService::closed, this, [this](uint id, uint) { forget(id); });
    // Without a desktop notification service Qt shows a balloon of its own: a new widget each
    // time, whose close button and kind picture its style caches in QPixmapCache under keys that
    // name that one widget's palette and picture, so no later balloon ever finds them. Each
    // balloon left about 2.5 kB there until the cache's 10 MB limit, and past it Qt 6.4 still
    // keeps every dropped entry's key (about 0.5 kB a balloon), so a watcher announcing for weeks
    // grew without end. Keeping nothing in that cache ends both; the pictures are drawn the same,
    // only not kept (the program keeps its own pictures itself, see Pictures).
    QPixmapCache::setCacheLimit(0);
    icon_->setIcon(Pictures::trayIcon());
    hint_ = appTitle();
    icon_->setToolTip(hint_);
    connect(icon_, &QSystemTrayIcon::activated, this, &TrayNotifier::onActivated);
    // A click on the balloon, or on the desktop's notification when the balloons go through its
    // notification service: see onMessageClicked().
    connect(icon_, &QSystemTrayIcon::messageClicked, this, &TrayNotifier::onMessageClicked);
}

TrayNotifier::~TrayNotifier() {
    if (icon_) icon_->hide();
}

QMenu* TrayNotifier::setMenu(const QList<QAction*>& items) {
    auto menu = std::make_unique<QMenu>();
    for (QAction* item : items) {
        if (item)
            menu->addAction(item);
        else
            menu->addSeparator();
    }
    icon_->setContextMenu(menu.get());
    menu_ = std::move(menu);
    return menu_.get();
}

void TrayNotifier::show(int waitMs) {
    if (!QSystemTrayIcon::isSystemTrayAvailable() && waitMs > 0) {
        // A program started at log-on can come up before the desktop's panel: keep the events
        // flowing and look for a notification area again every little while.
        QElapsedTimer waited;
        waited.start();
        while (!gStopWaiting && !QSystemTrayIcon::isSystemTrayAvailable() && waited.elapsed() < waitMs) {
            const int step = int(std::min<qint64>(kTrayPollMs, waitMs - waited.elapsed()));
            if (step <= 0) break;
            QEventLoop loop;
            gWaitStep = &loop;
            QTimer::singleShot(step, &loop, &QEventLoop::quit);
            loop.exec();
        }
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable()) throw Error("Cannot create shell notification icon");
    icon_->show();
}

void TrayNotifier::stopWaiting() {
    gStopWaiting = true;
    if (gWaitStep) gWaitStep->quit();
}

QString TrayNotifier::balloonTextFor(PageStatus status, const QString& label) {
    QString ending;
    switch (status) {
        case PageStatus::Offline:
            ending = QStringLiteral(" is offline.");
            break;
        case PageStatus::Changed:
            ending = QStringLiteral(" is changed.");
            break;
        default:
            ending = QStringLiteral(" is online.");
            break;
    }
    return (QLatin1Char('"') + label + QLatin1Char('"') + ending).left(kBalloonMax);
}

QSystemTrayIcon::MessageIcon TrayNotifier::balloonKindFor(PageStatus status) {
    return status == PageStatus::Online ? QSystemTrayIcon::Information : QSystemTrayIcon::Warning;
}

void TrayNotifier::announce(PageStatus newStatus, EntryId id, const std::u16string& label) {
    balloonKind_ = balloonKindFor(newStatus);
    balloonStatus_ = newStatus;
    balloonEntry_ = id;
    balloonText_ = balloonTextFor(newStatus, QString::fromUtf16(label.data(), qsizetype(label.size())));
    // Shown every time, also when the text is the one of the previous announcement.
    if (!notifyService(newStatus, id)) showBalloon();
    hint_ = balloonText_.left(kTooltipMax);
    showToolTip();
}

void TrayNotifier::showBalloon() {
    icon_->showMessage(QString(), balloonText_, balloonKind_, kBalloonMs);
}

bool TrayNotifier::notifyService(PageStatus status, EntryId id) {
    const std::optional<QStringList> capabilities = service_->capabilities();
    if (!capabilities) return false;
    const bool changed = status == PageStatus::Changed;
    NotificationService::Notice notice;
    notice.appName = appTitle();
    notice.appIcon = QString::fromLatin1(kDesktopEntry);
    // The summary, not the body: every service shows it, and none reads it as markup, so a label
    // with "<" or "&" shows as it is.
    notice.summary = balloonText_;
    // The default action is what a click on the notification does where the service acts on
    // clicks (GNOME, KDE); others, such as XFCE's, close it on a click and show every action as a
    // button instead, so its label names what it does. Buttons follow in the order given and the
    // last is the one nearest the pointer's usual way in from the edge: "Show Changes" goes last.
    const QString defaultLabel = changed ? QStringLiteral("Show Changes") : QStringLiteral("Show Vantrel");
    if (changed && capabilities->contains(QStringLiteral("actions")))
        notice.actions << kOpenAction << QStringLiteral("Open Page");
    notice.actions << kDefaultAction << defaultLabel;
    notice.hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntry));
    notice.hints.insert(
        QStringLiteral("urgency"),
        QVariant::fromValue(balloonKind_ == QSystemTrayIcon::Information ? kLowUrgency : kNormalUrgency));
    notice.timeoutMs = kBalloonMs;
    // A service that fails the call (it went away, or refuses) leaves the balloon to show it.
    const QString text = balloonText_;
    const QSystemTrayIcon::MessageIcon kind = balloonKind_;
    service_->notify(notice, [this, status, id, text, kind](std::optional<uint> noticeId) {
        if (!noticeId) {
            icon_->showMessage(QString(), text, kind, kBalloonMs);
            return;
        }
        forget(*noticeId);
        if (sent_.size() >= size_t(kRememberedNotices)) sent_.pop_front();
        sent_.push_back({*noticeId, status, id});
    });
    return true;
}

void TrayNotifier::onNoticeAction(uint id, const QString& key) {
    const auto found = std::find_if(sent_.begin(), sent_.end(), [id](const Sent& s) { return s.id == id; });
    if (found == sent_.end()) return;  // another program's notification, or one long forgotten
    const Sent notice = *found;
    if (key == kOpenAction)
        emit openPageClicked(notice.entry);
    else if (key == kDefaultAction && notice.status == PageStatus::Changed)
        emit changeBalloonClicked(notice.entry);
    else if (key == kDefaultAction)
        emit clicked();
}

void TrayNotifier::forget(uint id) {
    sent_.erase(std::remove_if(sent_.begin(), sent_.end(), [id](const Sent& s) { return s.id == id; }),
                sent_.end());
}

void TrayNotifier::tellAll(const QString& text, PageStatus gravest) {
    balloonKind_ = balloonKindFor(gravest);
    // Not about one page: its click is the icon's, whatever the statuses it counts.
    balloonStatus_ = PageStatus::Online;
    balloonEntry_ = 0;
    balloonText_ = text.left(kBalloonMax);
    if (!notifyService(PageStatus::Online, 0)) showBalloon();
    hint_ = balloonText_.left(kTooltipMax);
    showToolTip();
}

void TrayNotifier::onMessageClicked() {
    // With the toolkit's own balloon a click on the icon reports the balloon's click first and the
    // icon's click right after, in the same event: wait for it, so that one click counts once (and
    // shows the main window). A click on the balloon alone opens the changes it announced, or
    // brings the window back as a click on the icon does.
    const quint64 triggersBefore = triggers_;
    QTimer::singleShot(0, this, [this, triggersBefore] {
        if (triggers_ != triggersBefore) return;
        if (balloonStatus_ == PageStatus::Changed)
            emit changeBalloonClicked(balloonEntry_);
        else
            emit clicked();
    });
}

void TrayNotifier::onActivated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            ++triggers_;
            lastTrigger_.start();
            emit clicked();
            break;
        case QSystemTrayIcon::DoubleClick:
            // The toolkit reports the first press of a double-click as a click of its own; the
            // double-click then counts only when no such click came just before it.
            if (lastTrigger_.isValid() && lastTrigger_.elapsed() <= QApplication::doubleClickInterval()) {
                lastTrigger_.invalidate();
                break;
            }
            lastTrigger_.invalidate();
            emit clicked();
            break;
        default:  // right button (its menu opens by itself), middle button
            break;
    }
}

void TrayNotifier::setNetworkWaiting(bool waiting) {
    networkWaiting_ = waiting;
    showToolTip();
}

void TrayNotifier::showToolTip() {
    // The wait for the network is the news while it lasts; the last announcement comes back after.
    icon_->setToolTip(networkWaiting_ ? QStringLiteral("Waiting for the network") : hint_);
}

}  // namespace vantrel
