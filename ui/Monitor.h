#pragma once
// What runs behind the main window for the whole run: the page list, the check cycle, the page
// list file, the history of the checks beside it and the start-with-the-system entry. The window shows the
// list and turns the user's commands into calls here; it never touches the file or the runner itself.
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "core/CheckReport.h"
#include "core/PageImport.h"
#include "core/PageList.h"
#include "net/PageFetcher.h"
#include "store/PageListFile.h"

namespace vantrel {

class Autostart;
class HistoryStore;
class CheckRunner;
class Clock;
class ListSaver;
class NetworkStatus;
class Notifier;
class RequestSupply;
class SecretStore;

struct MonitorSettings {
    QStringList args;      // the program's arguments, without the program path
    QString exeDir;        // the executable's directory, with a trailing "/"
    QString exePath;       // the executable's full path (for the autostart entry)
    QString pageListPath;  // the page list file; empty: webpages.dat in exeDir
    // The autostart folder; empty: the user's own (<config home>/autostart). Never a machine-wide
    // one: the entry starts this user's copy, and only for this user.
    QString autostartDir;
    int trayWaitMs = 60000;                // how long a start with "-s" waits for a notification area
    FetcherOptions fetcher;                // read time-out and extra CA certificates of the page fetcher
    std::shared_ptr<SecretStore> secrets;  // the passwords; null for the desktop's secret store
    const Clock* clock = nullptr;          // the time of the checks; null for the system's clock
    // The list is saved also after checks changed it, at most this often, so that a crash or a
    // power cut loses no more than this of what the checks learned.
    int resultsSaveMs = 3 * 60 * 1000;
};

class Monitor : public QObject {
    Q_OBJECT
  public:
    // `notifier` hears of every change of status; it must outlive this object.
    Monitor(const MonitorSettings& settings, Notifier& notifier, QObject* parent = nullptr);
    ~Monitor() override;

    PageList& list() { return list_; }
    const PageList& list() const { return list_; }
    const Options& options() const { return options_; }
    bool startHidden() const;
    // The page list file's full path: the one the settings name, else the executable's directory
    // and "webpages.dat".
    QString filePath() const;

    // Starts the check runner and reads the page list file. Every option stored as on is handed
    // to `showOption`, which sets its box; the box's handler then calls setOptions(). Nothing is
    // saved while this runs. The history beside the file is not opened here but at its first use
    // (see history()). Throws what the runner's start or an option's action threw, after the
    // entries are in.
    void open(const std::function<void(Option, bool)>& showOption);

    // A tick of the window's timer: runs the check cycle.
    void tick();
    // Checks are put off now because the network is gone or the computer has just woken.
    bool waitingForNetwork() const;
    // The page's check is put off until the network is back.
    bool isPutOff(EntryId id) const;

    // The user's commands. Each changes the list, then saves the file at once (see save()), so
    // that a crash or a kill later in the run loses nothing.
    EntryId addPage(const QString& label, const QString& url, int intervalIndex);
    // An import: the pages whose URL the list does not have yet, added in one batch with
    // `intervalIndex` and saved once. Returns which were added and how many were duplicates.
    ImportSelection addPages(const std::vector<NewPage>& pages, int intervalIndex);
    // Does nothing when the entry is gone (a modal dialog was open while it was deleted).
    void editPage(EntryId id, const QString& label, const QString& url, int intervalIndex,
                  bool changedBoxShown, bool changedBoxTicked);
    void removePage(EntryId id);
    void recheckAll();
    // "Check Now": the page is checked at the next tick, its status unchanged until then.
    void checkNow(EntryId id);
    // A page's filters changed: every entry with this URL starts afresh (PageList::startAfresh).
    void startAfresh(const QString& url);
    // "Pause checks": every entry with this entry's URL is not checked until `until` (local time)
    // or, with nullopt, until resumed; kept in the history, by URL, for the next runs. resumePage()
    // ends it. Both do nothing when the entry is gone.
    void pausePage(EntryId id, std::optional<LocalMillis> until);
    void resumePage(EntryId id);
    // The time the checks run by.
    const Clock& clock() const { return clock_; }

    // The last failure of the alarm command for a page, by URL, for the details window; an empty
    // note clears it.
    void setCommandNote(const QString& url, const QString& note);
    QString commandNote(const QString& url) const { return commandNotes_.value(url); }

    // Records the three options and runs the action of each one that changed (start: the
    // autostart entry; sort: the list's sort mode; recheck has none until the next start), then
    // saves. Options keep their new state when an action fails; its failure is thrown.
    void setOptions(const Options& options);

    // Saves the list and the options (also every MonitorSettings::resultsSaveMs while checks
    // change it) unless the file was never read (a failed start must not
    // replace the stored list with an empty one) or it is being read now. The list is copied
    // here and written on a worker thread: this returns at once. A failed write is reported
    // through saveFailed() with Error("Unable to write to <path>").
    void save();
    // Returns once every save asked for so far is written (or failed).
    void waitForSaves();
    // The end of the run: cancels the downloads in flight, waits for a save that is being
    // written, then saves on this thread, and writes out and closes the history. Throws when that
    // save fails.
    void close();

    // A finished check whose result was applied to the list, for the history: the URL as it was
    // downloaded, the check, and the text it judged (nullopt when it got none). Call on the
    // user-interface thread; the write itself happens on the history's own thread.
    void recordCheck(const std::u16string& url, const CheckRecord& check, std::optional<std::u16string> text);
    // The history; null before open() and after close(). Disabled when its file cannot be used.
    // Opened at the first call after open(), which also forgets the pages no longer listed then:
    // an idle run that checks nothing never loads the database at all. Call on this object's thread.
    HistoryStore* history();
    // The network settings, passwords, cookies and last requests of the checks; null before open().
    RequestSupply* requests() const { return requests_.get(); }

  signals:
    // Downloads are running (true) or the last has ended (false): the window shows the busy
    // cursor meanwhile.
    void busyChanged(bool busy);
    // After recordCheck(): the details window of that page follows it live.
    void checkRecorded(const QString& url, const vantrel::CheckRecord& check);
    // A page's pause or command note changed (the details window shows both).
    void pageNotesChanged();
    // A save after a user change failed; emitted on the window's thread.
    void saveFailed(const std::exception_ptr& error);
    // waitingForNetwork() changed: the tray's tooltip and the details windows follow it.
    void networkWaitChanged(bool waiting);

  private:
    void openHistory();
    // Pauses the entries whose URL the history keeps a pause for, once its settings are read.
    void applyStoredPauses();
    void storePause(const std::u16string& url, std::optional<LocalMillis> until);

    MonitorSettings settings_;
    std::unique_ptr<Clock> ownClock_;
    const Clock& clock_;
    Notifier& notifier_;
    PageList list_;
    Options options_;
    std::unique_ptr<Autostart> autostart_;
    std::optional<PageListFile> file_;
    // Declared after the file it writes, so it is gone (its saves done) before the file is.
    std::unique_ptr<ListSaver> saver_;
    bool loading_ = false;
    // Between open() and close(): history() may open the store.
    bool historyWanted_ = false;
    // A tick put off until the history's settings are read is due again.
    bool retickPending_ = false;
    // The history's pauses were applied to the list (or there was no history to read them from).
    bool pausesApplied_ = false;
    QHash<QString, QString> commandNotes_;
    // Checks changed the list since the last save; a save of them is planned.
    bool resultsUnsaved_ = false;
    bool resultsSavePlanned_ = false;
    // Declared before the runner, so that no check is recorded into a closed history.
    std::unique_ptr<HistoryStore> history_;
    std::unique_ptr<CheckRunner> runner_;
    NetworkStatus* network_ = nullptr;  // a child, made by open()
    // After the runner it feeds, so it goes first.
    std::unique_ptr<RequestSupply> requests_;
};

}  // namespace vantrel
