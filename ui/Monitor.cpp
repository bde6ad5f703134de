#include "ui/Monitor.h"

#include <QTimer>
#include <exception>
#include <set>

#include "core/Clock.h"
#include "core/CommandLine.h"
#include "store/HistoryStore.h"
#include "store/PageListLocation.h"
#include "store/XdgAutostart.h"
#include "ui/CheckRunner.h"
#include "ui/LabelCollator.h"
#include "ui/ListSaver.h"
#include "ui/NetworkStatus.h"
#include "ui/RequestSupply.h"
#include "ui/UserSettings.h"

namespace vantrel {

namespace {

const QString kPageListFileName = QStringLiteral("webpages.dat");
// How often a tick that waits for the history's settings looks again.
constexpr int kSettingsPollMs = 50;

std::vector<std::u16string> toArgs(const QStringList& args) {
    std::vector<std::u16string> result;
    for (const QString& arg : args) result.push_back(arg.toStdU16String());
    return result;
}

}  // namespace

Monitor::Monitor(const MonitorSettings& settings, Notifier& notifier, QObject* parent)
    : QObject(parent),
      settings_(settings),
      ownClock_(settings.clock ? nullptr : std::make_unique<SystemClock>()),
      clock_(settings.clock ? *settings.clock : *ownClock_),
      notifier_(notifier),
      list_(LabelCollator::lazyFunction()) {
    if (!settings_.exeDir.isEmpty() && !settings_.exeDir.endsWith(QLatin1Char('/')))
        settings_.exeDir += QLatin1Char('/');
}

Monitor::~Monitor() = default;

bool Monitor::startHidden() const {
    return StartHiddenFromArgs(toArgs(settings_.args));
}

QString Monitor::filePath() const {
    if (!settings_.pageListPath.isEmpty()) return settings_.pageListPath;
    return settings_.exeDir + kPageListFileName;
}

void Monitor::open(const std::function<void(Option, bool)>& showOption) {
    runner_ = std::make_unique<CheckRunner>(list_, notifier_, clock_, settings_.fetcher);
    connect(runner_.get(), &CheckRunner::busyChanged, this, &Monitor::busyChanged);
    connect(runner_.get(), &CheckRunner::networkWaitChanged, this, &Monitor::networkWaitChanged);
    if (!network_) network_ = new NetworkStatus(this);
    connect(network_, &NetworkStatus::woke, runner_.get(), &CheckRunner::wake);
    connect(network_, &NetworkStatus::desktopOnlineChanged, runner_.get(), &CheckRunner::setDesktopOnline);
    if (network_->desktopOffline()) runner_->setDesktopOnline(false);
    requests_ = std::make_unique<RequestSupply>(UserSettingsPath(filePath()), settings_.secrets);
    requests_->attach(*runner_);
    file_.emplace(filePath().toStdString());
    saver_ = std::make_unique<ListSaver>(
        [file = &*file_](const PageListSnapshot& snapshot) { file->save(snapshot); },
        [this](const std::exception_ptr& error) { emit saveFailed(error); });
    loading_ = true;
    struct LoadingEnds {
        bool& flag;
        ~LoadingEnds() { flag = false; }
    } loadingEnds{loading_};
    std::exception_ptr failed;
    try {
        file_->load(list_, showOption);
    } catch (...) {
        // An option's action failed; the entries are in all the same.
        failed = std::current_exception();
    }
    historyWanted_ = true;
    // Each download takes its page's filters along; each check lands in the history.
    runner_->setSettingsProvider([this](const std::u16string& url) {
        HistoryStore* store = history();
        return requests_->complete(url, store ? store->settings(url) : PageFilterSettings{});
    });
    runner_->setCheckSink([this](const std::u16string& url, const CheckRecord& check, std::u16string text) {
        std::optional<std::u16string> judged;
        if (!text.empty()) judged = std::move(text);
        recordCheck(url, check, std::move(judged));
    });
    if (failed) std::rethrow_exception(failed);
}

HistoryStore* Monitor::history() {
    if (!history_ && historyWanted_) openHistory();
    if (history_ && !pausesApplied_ && !history_->settingsPending()) applyStoredPauses();
    return history_.get();
}

void Monitor::applyStoredPauses() {
    pausesApplied_ = true;
    const std::map<std::u16string, int64_t> pauses = history_->pauses();
    if (pauses.empty()) return;
    std::vector<std::pair<EntryId, LocalMillis>> paused;
    for (const PageEntry& entry : list_.entries()) {
        const auto found = pauses.find(entry.url());
        if (found != pauses.end()) paused.emplace_back(entry.id, found->second);
    }
    // A pause whose time ran out while the program was not running ends at the next tick.
    for (const auto& [id, until] : paused) list_.pause(id, until);
    emit pageNotesChanged();
}

void Monitor::storePause(const std::u16string& url, std::optional<LocalMillis> until) {
    if (HistoryStore* store = history()) store->savePause(url, until);
    emit pageNotesChanged();
}

void Monitor::pausePage(EntryId id, std::optional<LocalMillis> until) {
    const PageEntry* entry = list_.find(id);
    if (!entry) return;
    const std::u16string url = entry->url();
    const LocalMillis end = until.value_or(PageList::kPausedForGood);
    std::vector<EntryId> ids;
    for (const PageEntry& other : list_.entries())
        if (other.url() == url) ids.push_back(other.id);
    for (const EntryId same : ids) list_.pause(same, end);
    storePause(url, end);
}

void Monitor::resumePage(EntryId id) {
    const PageEntry* entry = list_.find(id);
    if (!entry) return;
    const std::u16string url = entry->url();
    std::vector<EntryId> ids;
    for (const PageEntry& other : list_.entries())
        if (other.url() == url) ids.push_back(other.id);
    for (const EntryId same : ids) list_.resume(same);
    storePause(url, std::nullopt);
}

void Monitor::setCommandNote(const QString& url, const QString& note) {
    if (commandNote(url) == note) return;
    if (note.isEmpty())
        commandNotes_.remove(url);
    else
        commandNotes_.insert(url, note);
    emit pageNotesChanged();
}

void Monitor::openHistory() {
    // The history lives beside the list, whose folder (the user's configuration folder for an
    // installed copy) may not exist before the first save: made now, or the first run of a new
    // user would go without history.
    const std::string listPath = filePath().toStdString();
    CreatePageListFolder(listPath);
    history_ = std::make_unique<HistoryStore>(HistoryStore::PathBeside(listPath));
    // A page deleted from the list loses its history now. An empty list (a missing or unreadable
    // file) forgets nothing: the store ignores an empty set. A page deleted before this first use
    // goes the same way; one added since has no history to keep.
    std::set<std::u16string> urls;
    for (const PageEntry& entry : list_.entries()) urls.insert(entry.url());
    history_->prune(urls);
}

bool Monitor::waitingForNetwork() const {
    return runner_ && runner_->waitingForNetwork();
}

bool Monitor::isPutOff(EntryId id) const {
    return runner_ && runner_->isPutOff(id);
}

void Monitor::tick() {
    if (!runner_) return;
    const LocalMillis now = clock_.now();
    for (const EntryId id : list_.resumeExpired(now)) {
        if (const PageEntry* entry = list_.find(id)) storePause(entry->url(), std::nullopt);
    }
    // The pauses kept in the history must be in the list before anything is handed out; read
    // only once something is due, so that an idle run never loads the history.
    if (!pausesApplied_ && historyWanted_ && list_.anyDue(now)) history();
    // The system's clock, not the checks' own: a sleep is a fact of this computer.
    network_->tick(SystemClock().now());
    // The history opens on its own thread. When it could not read the pages' filters at once,
    // a check must not judge a text without them (a filtered page would seem changed): the
    // ticks wait for them, polled rather than waited for, so the window never waits.
    if (history_ && history_->settingsPending()) {
        if (!retickPending_) {
            retickPending_ = true;
            QTimer::singleShot(kSettingsPollMs, this, [this] {
                retickPending_ = false;
                tick();
            });
        }
        return;
    }
    if (history_ && !pausesApplied_) applyStoredPauses();
    runner_->tick();
}

EntryId Monitor::addPage(const QString& label, const QString& url, int intervalIndex) {
    // The list trims label and URL itself.
    const EntryId id = list_.add(label.toStdU16String(), url.toStdU16String(), intervalIndex);
    save();
    return id;
}

ImportSelection Monitor::addPages(const std::vector<NewPage>& pages, int intervalIndex) {
    ImportSelection selection = SelectNewPages(list_, pages);
    if (selection.fresh.empty()) return selection;
    AddPages(list_, selection.fresh, intervalIndex);
    save();
    return selection;
}

void Monitor::editPage(EntryId id, const QString& label, const QString& url, int intervalIndex,
                       bool changedBoxShown, bool changedBoxTicked) {
    const PageEntry* entry = list_.find(id);
    if (!entry) return;
    const std::u16string oldUrl = entry->url();
    const std::u16string givenUrl = url.toStdU16String();
    // A new URL is the history's first use when nothing used it yet: opened (and pruned) while
    // the old URL is still listed, or the pruning would drop the history the rename is to move.
    if (givenUrl != oldUrl) history();
    list_.edit(id, label.toStdU16String(), givenUrl, intervalIndex, changedBoxShown, changedBoxTicked);
    const std::u16string& newUrl = list_.find(id)->url();
    if (history_ && newUrl != oldUrl) {
        // The history follows the page to its new URL; another entry still watching the old URL
        // keeps a copy.
        bool oldStillListed = false;
        for (const PageEntry& other : list_.entries())
            oldStillListed = oldStillListed || other.url() == oldUrl;
        history_->renameUrl(oldUrl, newUrl, oldStillListed);
        // A paused page stays paused under its new URL.
        if (const auto until = list_.pausedUntil(id)) history_->savePause(newUrl, *until);
    }
    save();
}

void Monitor::removePage(EntryId id) {
    if (!list_.find(id)) return;
    list_.remove(id);
    save();
}

void Monitor::recheckAll() {
    list_.recheckAll();
    save();
}

void Monitor::checkNow(EntryId id) {
    if (!list_.find(id)) return;
    list_.checkNow(id);
    save();
}

void Monitor::startAfresh(const QString& url) {
    const std::u16string key = url.toStdU16String();
    std::vector<EntryId> ids;
    for (const PageEntry& entry : list_.entries())
        if (entry.url() == key) ids.push_back(entry.id);
    for (const EntryId id : ids) list_.startAfresh(id);
    if (!ids.empty()) save();
}

void Monitor::setOptions(const Options& options) {
    const Options before = options_;
    // The new state holds even when its action fails: the box keeps what the user gave it.
    options_ = options;
    std::exception_ptr failed;
    try {
        if (options.start != before.start) {
            if (!autostart_) {
                // A user without a configuration folder gets none: the entry's write then fails.
                const std::string folder = settings_.autostartDir.isEmpty()
                                               ? XdgAutostart::userDirectory(UserEnvironment::current())
                                               : settings_.autostartDir.toStdString();
                autostart_ = std::make_unique<XdgAutostart>(folder, settings_.exePath.toStdString());
            }
            autostart_->apply(options.start);
        }
        if (options.sort != before.sort) list_.setSorted(options.sort);
    } catch (...) {
        failed = std::current_exception();
    }
    save();
    if (failed) std::rethrow_exception(failed);
}

void Monitor::save() {
    if (loading_ || !saver_) return;
    resultsUnsaved_ = false;
    saver_->post(TakeSnapshot(list_, options_));
}

void Monitor::waitForSaves() {
    if (saver_) saver_->waitUntilIdle();
}

void Monitor::close() {
    if (runner_) runner_->shutdown();
    // The history goes even when the save fails: what is queued is written, then the file closed.
    historyWanted_ = false;
    struct HistoryCloses {
        std::unique_ptr<HistoryStore>& history;
        ~HistoryCloses() { history.reset(); }
    } historyCloses{history_};
    if (loading_ || !saver_) return;
    saver_->saveNow(TakeSnapshot(list_, options_));
}

void Monitor::recordCheck(const std::u16string& url, const CheckRecord& check,
                          std::optional<std::u16string> text) {
    if (HistoryStore* store = history()) store->record(url, check, std::move(text));
    // The check set the page's status, time and checksum: saved with the next save, at the
    // latest after resultsSaveMs (on the saver's thread, like a user's change).
    resultsUnsaved_ = true;
    if (!resultsSavePlanned_ && saver_) {
        resultsSavePlanned_ = true;
        QTimer::singleShot(settings_.resultsSaveMs, this, [this] {
            resultsSavePlanned_ = false;
            if (resultsUnsaved_ && historyWanted_) save();
        });
    }
    emit checkRecorded(QString::fromStdU16String(url), check);
}

}  // namespace vantrel
