#include "ui/TrayNotifier.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPixmapCache>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>

#include "text/Error.h"
#include "ui/Pictures.h"

namespace vantrel {

namespace {

constexpr int kTrayPollMs = 200;

bool gStopWaiting = false;
QPointer<QEventLoop> gWaitStep;  // the pause of the wait that runs now, if any

QString appTitle() {
    return QStringLiteral("Vantrel");
}

}  // namespace

TrayNotifier::TrayNotifier(QObject* parent) : QObject(parent), icon_(new QSystemTrayIcon(this)) {
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
    // Shown every time, also when the text is the one of the previous balloon.
    icon_->showMessage(QString(), balloonText_, balloonKind_, kBalloonMs);
    hint_ = balloonText_.left(kTooltipMax);
    icon_->setToolTip(hint_);
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
        default:  // right button (no menu is attached), middle button
            break;
    }
}

void TrayNotifier::setNetworkWaiting(bool waiting) {
    networkWaiting_ = waiting;
    icon_->setToolTip(waiting ? QStringLiteral("Waiting for the network") : hint_);
}

}  // namespace vantrel
