#include "ui/Monitor.h"

#include <exception>

#include "core/Clock.h"
#include "core/CommandLine.h"
#include "store/XdgAutostart.h"
#include "ui/CheckRunner.h"
#include "ui/ErrorDisplay.h"
#include "ui/LabelCollator.h"

namespace vantrel {

namespace {

const QString kPageListFileName = QStringLiteral("webpages.dat");

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
    file_.emplace(filePath().toStdString());
    loading_ = true;
    struct LoadingEnds {
        bool& flag;
        ~LoadingEnds() { flag = false; }
    } loadingEnds{loading_};
    file_->load(list_, showOption);
}

void Monitor::tick() {
    if (runner_) runner_->tick();
}

EntryId Monitor::addPage(const QString& label, const QString& url, int intervalIndex) {
    // The list trims label and URL itself.
    const EntryId id = list_.add(label.toStdU16String(), url.toStdU16String(), intervalIndex);
    save();
    return id;
}

void Monitor::editPage(EntryId id, const QString& label, const QString& url, int intervalIndex,
                       bool changedBoxShown, bool changedBoxTicked) {
    if (!list_.find(id)) return;
    list_.edit(id, label.toStdU16String(), url.toStdU16String(), intervalIndex, changedBoxShown,
               changedBoxTicked);
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

void Monitor::setOptions(const Options& options) {
    const Options before = options_;
    // The new state holds even when its action fails: the box keeps what the user gave it.
    options_ = options;
    std::exception_ptr failed;
    try {
        if (options.start != before.start) {
            if (!autostart_)
                autostart_ = std::make_unique<XdgAutostart>(settings_.autostartDir.toStdString(),
                                                            settings_.exePath.toStdString());
            autostart_->apply(options.start);
        }
        if (options.sort != before.sort) list_.setSorted(options.sort);
    } catch (...) {
        failed = std::current_exception();
    }
    try {
        save();
    } catch (...) {
        // Both failed: the action's error is shown first, as it came first.
        if (failed) ErrorDisplay::show(failed);
        throw;
    }
    if (failed) std::rethrow_exception(failed);
}

void Monitor::save() {
    if (loading_ || !file_) return;
    file_->save(list_, options_);
}

void Monitor::close() {
    if (runner_) runner_->shutdown();
    save();
}

}  // namespace vantrel
