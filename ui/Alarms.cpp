#include "ui/Alarms.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QDateTime>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include "core/BurstNotifier.h"
#include "core/CheckReport.h"
#include "core/CommandWords.h"
#include "core/DoNotDisturb.h"
#include "core/PosixProcessRunner.h"
#include "ui/AlarmSettings.h"
#include "ui/Monitor.h"
#include "ui/Pictures.h"
#include "ui/SettingsWindow.h"
#include "ui/TrayBadge.h"
#include "ui/TrayNotifier.h"
#include "ui/UserSettings.h"

namespace vantrel {

namespace {

// How often the end of a burst window is looked for while one is open (it holds messages for two
// seconds at most), and the end of "Do not disturb" while only that waits (a second late is fine).
constexpr int kPollMs = 250;
constexpr int kQuietPollMs = 1000;

// "Do not disturb" in the settings file: present only while it is on, with the local time it ends
// at unless it lasts until turned off.
const QString kQuietGroup = QStringLiteral("DoNotDisturb");
const QString kQuietOnKey = QStringLiteral("DoNotDisturb/On");
const QString kQuietUntilKey = QStringLiteral("DoNotDisturb/Until");
// Local wall-clock time as the user's clock shows it, without a zone.
const QString kLocalTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz");

// The end of the chain: the icon's own balloon for one page.
class TrayEnd : public Notifier {
  public:
    explicit TrayEnd(TrayNotifier& tray) : tray_(tray) {}
    void announce(PageStatus newStatus, EntryId id, const std::u16string& label) override {
        tray_.announce(newStatus, id, label);
    }

  private:
    TrayNotifier& tray_;
};

}  // namespace

Alarms::Alarms(TrayNotifier& tray, QObject* parent) : QObject(parent), tray_(tray) {
    poll_ = new QTimer(this);
    poll_->setInterval(kPollMs);
    connect(poll_, &QTimer::timeout, this, [this] {
        burst_->poll();
        const bool wasQuiet = quiet_->on();
        quiet_->poll();
        if (wasQuiet && !quiet_->on()) storeQuiet();
        updateQuietActions();
        if (!burst_->due() && !quiet_->on()) poll_->stop();
        poll_->setInterval(burst_->due() ? kPollMs : kQuietPollMs);
    });
}

Alarms::~Alarms() = default;

void Alarms::attach(Monitor& monitor, QAbstractItemModel& model) {
    monitor_ = &monitor;
    end_ = std::make_unique<TrayEnd>(tray_);
    const SummarySink tell = [this](const std::u16string& text, PageStatus gravest) {
        tray_.tellAll(QString::fromStdU16String(text), gravest);
    };
    burst_ = std::make_unique<BurstNotifier>(*end_, tell, monitor.clock());
    quiet_ = std::make_unique<DoNotDisturb>(*burst_, tell, monitor.clock());
    runner_ = std::make_unique<PosixProcessRunner>();
    command_ = std::make_unique<AlarmCommand>(
        *runner_, [this](const AlarmEvent& event, const ProcessOutcome& outcome) {
            // Reported on the command's thread; the note is set on this one.
            QMetaObject::invokeMethod(
                this, [this, event, outcome] { commandDone(event, outcome); }, Qt::QueuedConnection);
        });
    const std::unique_ptr<QSettings> settings = OpenUserSettings(monitor.filePath());
    setCommandLine(settings->value(QStringLiteral("Alarms/Command")).toString());
    restoreQuiet(*settings);
    connect(&monitor, &Monitor::checkRecorded, this, &Alarms::checkRecorded);
    connect(&model, &QAbstractItemModel::rowsInserted, this, &Alarms::scheduleBadges);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &Alarms::scheduleBadges);
    connect(&model, &QAbstractItemModel::dataChanged, this, &Alarms::scheduleBadges);
    connect(&model, &QAbstractItemModel::modelReset, this, &Alarms::scheduleBadges);
}

void Alarms::announce(PageStatus newStatus, EntryId id, const std::u16string& label) {
    if (!monitor_) return;
    attention_.announced(newStatus, id);
    scheduleBadges();
    if (!commandLine_.isEmpty()) {
        // The entry still holds the status it had: the cycle announces before it stores.
        const PageEntry* entry = monitor_->list().find(id);
        AlarmEvent event;
        event.label = label;
        event.url = entry ? entry->url() : std::u16string();
        event.oldStatus = entry ? entry->status : PageStatus::Offline;
        event.newStatus = newStatus;
        pending_ = std::move(event);
    }
    quiet_->announce(newStatus, id, label);
    if (burst_->due() && (!poll_->isActive() || poll_->interval() != kPollMs)) poll_->start(kPollMs);
}

void Alarms::checkRecorded(const QString& url, const CheckRecord& check) {
    if (!pending_) return;
    AlarmEvent event = std::move(*pending_);
    pending_.reset();
    if (event.url != url.toStdU16String()) return;
    event.result = CheckResultText(check);
    command_->announce(std::move(event));
}

void Alarms::commandDone(const AlarmEvent& event, const ProcessOutcome& outcome) {
    if (!monitor_) return;
    const QString url = QString::fromStdU16String(event.url);
    if (!outcome.failed()) {
        monitor_->setCommandNote(url, QString());
        return;
    }
    monitor_->setCommandNote(
        url, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                 QStringLiteral(": ") + QString::fromStdU16String(outcome.describe(command_->limit())));
}

QString Alarms::setCommandLine(const QString& line) {
    // A line that cannot be split leaves the command as it was.
    const std::u16string trimmed = line.trimmed().toStdU16String();
    const std::u16string error = SplitCommandLine(trimmed).error;
    if (!error.empty()) return QString::fromStdU16String(error);
    if (command_) command_->setCommandLine(trimmed);
    commandLine_ = QString::fromStdU16String(trimmed);
    return {};
}

void Alarms::windowOpened() {
    attention_.windowOpened();
    scheduleBadges();
}

void Alarms::scheduleBadges() {
    // One walk of the list for a batch of changes (a cycle's results come many in one event).
    if (badgesPlanned_) return;
    badgesPlanned_ = true;
    QTimer::singleShot(0, this, [this] {
        badgesPlanned_ = false;
        updateBadges();
    });
}

void Alarms::updateBadges() {
    if (!monitor_) return;
    const Badges now = attention_.badges(monitor_->list());
    if (now == badges_) return;
    badges_ = now;
    tray_.icon()->setIcon(TrayBadge::badged(Pictures::trayIcon(), badges_));
}

void Alarms::addTrayActions(QMenu& menu) {
    QMenu* quiet = menu.addMenu(QStringLiteral("&Do Not Disturb"));
    const auto choice = [this, quiet](const QString& text, auto until) {
        connect(quiet->addAction(text), &QAction::triggered, this, [this, until] {
            quiet_->start(until(monitor_->clock().now()));
            storeQuiet();
            if (!poll_->isActive()) poll_->start(kQuietPollMs);
            updateQuietActions();
        });
    };
    choice(QStringLiteral("For 1 &Hour"),
           [](LocalMillis now) { return std::optional<LocalMillis>(now + DoNotDisturb::kHourMs); });
    choice(QStringLiteral("Until Tomorrow &Morning"), [](LocalMillis now) {
        return std::optional<LocalMillis>(NextLocalHour(now, DoNotDisturb::kMorningHour));
    });
    choice(QStringLiteral("Until &Turned Off"), [](LocalMillis) { return std::optional<LocalMillis>(); });
    quiet->addSeparator();
    quietOff_ = quiet->addAction(QStringLiteral("T&urn Off"));
    connect(quietOff_, &QAction::triggered, this, [this] {
        quiet_->stop();
        storeQuiet();
        updateQuietActions();
    });
    updateQuietActions();
}

void Alarms::updateQuietActions() {
    if (!quietOff_ || !quiet_) return;
    quietOff_->setEnabled(quiet_->on());
    QString text = QStringLiteral("T&urn Off");
    if (quiet_->on() && quiet_->until()) {
        text +=
            QStringLiteral(" (on until ") +
            QDateTime::fromMSecsSinceEpoch(LocalToUtcMs(*quiet_->until())).toString(QStringLiteral("HH:mm")) +
            QLatin1Char(')');
    }
    quietOff_->setText(text);
}

void Alarms::storeQuiet() {
    if (!monitor_) return;
    const std::unique_ptr<QSettings> settings = OpenUserSettings(monitor_->filePath());
    settings->remove(kQuietGroup);
    if (!quiet_->on()) return;
    settings->setValue(kQuietOnKey, true);
    if (const std::optional<LocalMillis> until = quiet_->until())
        settings->setValue(kQuietUntilKey,
                           QDateTime::fromMSecsSinceEpoch(*until, Qt::UTC).toString(kLocalTimeFormat));
}

void Alarms::restoreQuiet(QSettings& settings) {
    if (!settings.value(kQuietOnKey).toBool()) return;
    std::optional<LocalMillis> until;
    if (const QString text = settings.value(kQuietUntilKey).toString(); !text.isEmpty()) {
        // Date and time read apart and counted as if UTC, as LocalMillis counts: read as one
        // local time, an hour skipped at the change to summer time would be no time at all. A
        // time that cannot be read leaves it off: a damaged file must not silence the alarms.
        const QStringList parts = text.split(QLatin1Char('T'));
        const QDate date = QDate::fromString(parts.value(0), QStringLiteral("yyyy-MM-dd"));
        const QTime time = QTime::fromString(parts.value(1), QStringLiteral("HH:mm:ss.zzz"));
        if (parts.size() != 2 || !date.isValid() || !time.isValid()) return;
        until = QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch();
    }
    quiet_->resume(until);
    if (!quiet_->on()) return;
    if (!poll_->isActive()) poll_->start(kQuietPollMs);
    updateQuietActions();
}

void Alarms::addSettingsSection(SettingsWindow& window) {
    if (!monitor_) return;
    auto* section = new AlarmSettings(*this, UserSettingsPath(monitor_->filePath()));
    window.addSection(section, QStringLiteral("&Alarms"), [section] { return section->apply(); });
}

}  // namespace vantrel
