#pragma once
// What stands between the check cycle and the notification-area icon: every announcement passes
// here first. It runs the user's alarm command, keeps the icon's badges, holds the messages while
// "Do not disturb" is on and folds a burst into one message, then hands the rest to the icon.
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

#include "core/AlarmCommand.h"
#include "core/Attention.h"
#include "core/Notifier.h"

class QAbstractItemModel;
class QAction;
class QMenu;
class QSettings;
class QTimer;

namespace vantrel {

class SettingsWindow;

class BurstNotifier;
class DoNotDisturb;
class Monitor;
class PosixProcessRunner;
class TrayNotifier;
struct CheckRecord;

class Alarms : public QObject, public Notifier {
    Q_OBJECT
  public:
    // `tray` shows the messages; it must outlive this object.
    explicit Alarms(TrayNotifier& tray, QObject* parent = nullptr);
    ~Alarms() override;

    // Starts the work on `monitor`'s list and clock (before its first check), reads the command
    // from the settings file and follows `model`'s changes for the badges.
    void attach(Monitor& monitor, QAbstractItemModel& model);

    void announce(PageStatus newStatus, EntryId id, const std::u16string& label) override;

    // The tray menu's entries of this feature: "Do Not Disturb" with its choices, and "Alarm
    // Command…". Added to `menu`, so that they can join any tray menu.
    void addTrayActions(QMenu& menu);
    // The settings window's "Alarms" section: the command run on each announcement.
    void addSettingsSection(SettingsWindow& window);
    // The user opened the main window: the changes are seen and their badge goes.
    void windowOpened();

    // The command line run on each announcement; returns why it cannot be split (empty when it
    // can). An empty line runs nothing.
    QString setCommandLine(const QString& line);
    QString commandLine() const { return commandLine_; }

    DoNotDisturb& doNotDisturb() const { return *quiet_; }
    Badges badges() const { return badges_; }

  private:
    void commandDone(const AlarmEvent& event, const ProcessOutcome& outcome);
    void checkRecorded(const QString& url, const CheckRecord& check);
    void scheduleBadges();
    void updateBadges();
    void updateQuietActions();
    // "Do not disturb" outlasts the run: kept in the settings file as chosen, read at attach().
    void storeQuiet();
    void restoreQuiet(QSettings& settings);

    TrayNotifier& tray_;
    Monitor* monitor_ = nullptr;
    Attention attention_;
    Badges badges_;
    bool badgesPlanned_ = false;
    std::unique_ptr<Notifier> end_;  // the icon's balloon for one page
    std::unique_ptr<BurstNotifier> burst_;
    std::unique_ptr<DoNotDisturb> quiet_;
    std::unique_ptr<PosixProcessRunner> runner_;
    std::unique_ptr<AlarmCommand> command_;
    QString commandLine_;
    // The announcement the next recorded check completes for the command (the cycle announces,
    // then records, in one step).
    std::optional<AlarmEvent> pending_;
    QTimer* poll_ = nullptr;  // runs while a burst window or "Do not disturb" waits for its end
    QAction* quietOff_ = nullptr;
};

}  // namespace vantrel
