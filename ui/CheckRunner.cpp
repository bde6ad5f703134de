#include "ui/CheckRunner.h"

#include <malloc.h>

#include <QMetaMethod>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "check/RunCheck.h"
#include "net/CookieStore.h"
#include "net/LookupThreads.h"
#include "net/Url.h"
#include "store/StoreLimits.h"
#include "ui/ErrorDisplay.h"

namespace vantrel {

namespace {

// A worker that has had nothing to do for this long ends, with its fetcher and the connection it
// kept: after a large cycle the idle program holds no more threads or buffers than before it.
// Servers rarely keep an idle connection open longer, and a thread costs little to start again.
constexpr auto kWorkerIdleTime = std::chrono::seconds(30);

// While results keep coming, the window's thread takes them this often rather than being woken
// for each one: in a large cycle a result arrives every few milliseconds, and each wake-up costs
// the worker a write and the window's thread a turn of its event loop. A worker's next page of
// the same server is already in its hands, so only the status shown waits, never a download.
constexpr int kResultGatherMs = 100;

// The connection keys of the list's URLs. Each due page is keyed twice (when it joins its
// server's queue, and again when handed out, as it may have been edited meanwhile), and making a
// key parses the whole URL: a tenth of the window thread's work in a large cycle. Emptied when it
// holds twice as many keys as the list has pages, so edited URLs do not pile up.
class ConnectionKeys {
  public:
    explicit ConnectionKeys(const PageList& list) : list_(list) {}
    std::u16string operator()(std::u16string_view url) {
        if (auto it = keys_.find(url); it != keys_.end()) return it->second;
        if (keys_.size() > 2 * list_.size() + 16) keys_.clear();
        return keys_.emplace(std::u16string(url), Url::connectionKey(url)).first->second;
    }

  private:
    struct UrlHash {
        using is_transparent = void;
        size_t operator()(std::u16string_view url) const { return std::hash<std::u16string_view>{}(url); }
    };
    const PageList& list_;
    std::unordered_map<std::u16string, std::u16string, UrlHash, std::equal_to<>> keys_;
};

}  // namespace

// What the user-interface thread and the workers share.
struct CheckRunner::Channel {
    struct Worker {
        std::deque<Download> jobs;  // one host's downloads, run one after the other
        // Used by its thread only (its kept connection with it); cancel() under the mutex. Made
        // when the thread starts, and taken away by the thread when it ends.
        std::unique_ptr<PageFetcher> fetcher;
        std::condition_variable wake;  // a job or the stop request arrived
        std::thread thread;
        bool running = false;     // the thread runs and takes jobs
        uint64_t generation = 0;  // of the options its fetcher was made with
    };

    explicit Channel(FetcherOptions given) : options(std::move(given)) {
        options.cookies = std::make_shared<CookieStore>();
        options.largeBodyTurn = std::make_shared<std::timed_mutex>();
        for (size_t i = 0; i < limits::kMaxParallelDownloads; ++i)
            workers.push_back(std::make_unique<Worker>());
    }

    // A check that came back, waiting for the user-interface thread.
    struct Finished {
        size_t slot;
        Download download;
        DownloadResult result;
    };

    FetcherOptions options;
    uint64_t generation = 0;  // counts changes of `options`
    std::mutex mutex;
    // Under `mutex`. Vectors here and in Impl keep their room: a deque of such large items
    // allocated a block for every result, in each of the two.
    std::vector<Finished> finished;
    std::vector<std::unique_ptr<Worker>> workers;
    // Under `mutex`: the window's thread will take results on its own at the gather timer, so a
    // worker posts nothing unless it has run out of downloads.
    bool gathering = false;
    bool takePosted = false;  // under `mutex`: a call of takeResults is on its way
    bool stop = false;
    CheckRunner* owner = nullptr;  // null once the runner no longer takes results
};

struct CheckRunner::Impl {
    Impl(PageList& pages, Notifier& notifier, const Clock& clock, FetcherOptions options)
        : list(pages),
          cycle(pages, clock, notifier,
                [keys = std::make_shared<ConnectionKeys>(pages)](std::u16string_view url) {
                    return (*keys)(url);
                }),
          channel(std::make_shared<Channel>(std::move(options))) {
        pending.resize(limits::kMaxParallelDownloads, 0);
        lastHost.resize(limits::kMaxParallelDownloads);
    }

    // The worker for a host: the one already serving it, else an idle one, preferably the one
    // that served it last (its connection may still be open), then one whose thread runs, else
    // the least loaded. Called under the channel's mutex.
    size_t workerFor(const std::u16string& host) {
        if (auto it = hostWorker.find(host); it != hostWorker.end()) return it->second;
        size_t chosen = pending.size();
        bool chosenRuns = false;
        for (size_t i = 0; i < pending.size(); ++i) {
            if (pending[i] != 0) continue;
            const bool runs = channel->workers[i]->running;
            if (runs && lastHost[i] == host) return i;
            if (chosen == pending.size() || (runs && !chosenRuns)) {
                chosen = i;
                chosenRuns = runs;
            }
        }
        if (chosen == pending.size()) {
            chosen = 0;
            for (size_t i = 1; i < pending.size(); ++i)
                if (pending[i] < pending[chosen]) chosen = i;
        }
        return chosen;
    }

    PageList& list;
    CheckCycle cycle;
    std::shared_ptr<Channel> channel;
    std::vector<size_t> pending;           // per worker: jobs handed to it, results not yet back
    std::vector<std::u16string> lastHost;  // per worker: the host of its last job
    std::unordered_map<std::u16string, size_t> hostWorker;  // hosts with jobs out -> their worker
    CheckSink checkSink;
    std::vector<Channel::Finished> taken;  // results taken from the channel; applied up to takenNext
    QTimer gatherTimer;                    // takes the results of the last kResultGatherMs
    size_t takenNext = 0;
    size_t outstanding = 0;
    bool busy = false;
    bool shutDown = false;
};

void CheckRunner::workerLoop(std::shared_ptr<Channel> channel, size_t slot) {
    Channel::Worker& worker = *channel->workers[slot];
    std::unique_lock lock(channel->mutex);
    for (;;) {
        const bool woken = worker.wake.wait_for(lock, kWorkerIdleTime,
                                                [&] { return channel->stop || !worker.jobs.empty(); });
        if (channel->stop || !woken) break;
        Download download = std::move(worker.jobs.front());
        worker.jobs.pop_front();
        if (worker.generation != channel->generation) {
            // New proxies: the connection kept for the old way goes with its fetcher.
            worker.fetcher = std::make_unique<PageFetcher>(channel->options);
            worker.generation = channel->generation;
        }
        PageFetcher& fetcher = *worker.fetcher;
        lock.unlock();
        // The next job of this host starts right after this one, whenever the result is applied.
        DownloadResult result = RunCheck(fetcher, download, limits::kMaxStoredTextBytes);
        lock.lock();
        // The result travels through the channel, under its mutex, and the posted call carries
        // nothing: what the worker wrote is handed over by the mutex alone, not by the event
        // queue's own locking. Posting under the lock: the runner clears `owner` under it before
        // it goes away, and a posted call still queued when it is destroyed is discarded with it.
        // A worker out of downloads does not wait for the gather timer: its server's next pages
        // (or another server) come only once the results are applied, and a fast server would
        // otherwise give no more than the pages handed ahead every gather interval.
        if (CheckRunner* owner = channel->owner) {
            channel->finished.push_back({slot, std::move(download), std::move(result)});
            if (!channel->takePosted && (!channel->gathering || worker.jobs.empty())) {
                channel->takePosted = true;
                QMetaObject::invokeMethod(owner, "takeResults", Qt::QueuedConnection);
            }
        }
    }
    // Ending: a job handed over from now on starts a new thread. The fetcher closes its
    // connection outside the lock.
    worker.running = false;
    std::unique_ptr<PageFetcher> fetcher = std::move(worker.fetcher);
    const bool last = std::none_of(channel->workers.begin(), channel->workers.end(),
                                   [](const auto& other) { return other->running; });
    lock.unlock();
    fetcher.reset();
    // The blocks the workers freed stay with the allocator's per-thread arenas until trimmed;
    // once the last worker has ended they go back to the system.
    if (last && !channel->stop) malloc_trim(0);
}

void CheckRunner::takeResults() {
    Channel& channel = *d->channel;
    bool gathering = false;
    {
        // All that came meanwhile, under one lock; applied in order, also by a nested call (an
        // error box runs events). While results come, the next are taken at the gather timer;
        // the first take that finds none hands the wake-up back to the workers.
        std::lock_guard lock(channel.mutex);
        gathering = !channel.finished.empty() && !d->shutDown;
        std::move(channel.finished.begin(), channel.finished.end(), std::back_inserter(d->taken));
        channel.finished.clear();
        channel.gathering = gathering;
        channel.takePosted = false;
    }
    if (gathering) d->gatherTimer.start();
    // The views hear of each entry the results changed once, after the last of them.
    struct Held {
        PageList& list;
        ~Held() { list.releaseChanges(); }
    } held{d->list};
    d->list.holdChanges();
    while (d->takenNext < d->taken.size() && !d->shutDown) {
        Channel::Finished done = std::move(d->taken[d->takenNext++]);
        // Applying a result may hand out the next downloads, which takes the lock.
        resultArrived(done.slot, done.download, std::move(done.result));
    }
    if (d->takenNext == d->taken.size()) {
        d->taken.clear();
        d->takenNext = 0;
    }
}

CheckRunner::CheckRunner(PageList& list, Notifier& notifier, const Clock& clock, FetcherOptions options,
                         QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>(list, notifier, clock, std::move(options))) {
    d->channel->owner = this;
    d->gatherTimer.setSingleShot(true);
    d->gatherTimer.setInterval(kResultGatherMs);
    connect(&d->gatherTimer, &QTimer::timeout, this, &CheckRunner::takeResults);
    static const int registered = [] {
        qRegisterMetaType<CheckRecord>("vantrel::CheckRecord");
        return qRegisterMetaType<std::u16string>("std::u16string");
    }();
    (void)registered;
    d->cycle.setCheckSink([this](const std::u16string& url, const CheckRecord& check, std::u16string text) {
        static const QMetaMethod signal = QMetaMethod::fromSignal(&CheckRunner::checkFinished);
        if (isSignalConnected(signal)) emit checkFinished(QString::fromStdU16String(url), check, text);
        if (d->checkSink) d->checkSink(url, check, std::move(text));
    });
    d->cycle.setNetworkListener([this](bool waiting) { emit networkWaitChanged(waiting); });
}

void CheckRunner::setCheckSink(CheckSink sink) {
    d->checkSink = std::move(sink);
}

void CheckRunner::setSettingsProvider(SettingsProvider provider) {
    d->cycle.setSettingsProvider(std::move(provider));
}

void CheckRunner::wake() {
    if (!d->shutDown) d->cycle.wake();
}

void CheckRunner::setDesktopOnline(bool online) {
    if (!d->shutDown) d->cycle.setDesktopOnline(online);
}

bool CheckRunner::waitingForNetwork() const {
    return d->cycle.waitingForNetwork();
}

bool CheckRunner::isPutOff(EntryId id) const {
    return d->cycle.isPutOff(id);
}

void CheckRunner::setProxy(ProxySettings proxy) {
    std::lock_guard lock(d->channel->mutex);
    d->channel->options.proxy = std::move(proxy);
    ++d->channel->generation;
}

std::shared_ptr<CookieStore> CheckRunner::cookies() const {
    return d->channel->options.cookies;
}

CheckRunner::~CheckRunner() {
    shutdown();
}

bool CheckRunner::downloading() const {
    return d->outstanding > 0;
}

void CheckRunner::tick() {
    if (d->shutDown) return;
    std::vector<Download> downloads;
    try {
        downloads = d->cycle.tick();
    } catch (const std::exception& error) {
        // A failure outside a download (the notifier) ends this tick's work and is shown.
        ErrorDisplay::show(error);
        if (d->shutDown) return;
    }
    start(std::move(downloads));
    if (d->outstanding == 0 && d->cycle.waiting() == 0) emit cycleFinished();
}

void CheckRunner::start(std::vector<Download> downloads) {
    if (downloads.empty()) return;
    Channel& channel = *d->channel;
    // Woken once the lock is free: a worker woken under it would at once wait for it again.
    std::vector<Channel::Worker*> woken;
    {
        std::lock_guard lock(channel.mutex);
        for (Download& download : downloads) {
            const size_t slot = d->workerFor(download.host);
            d->hostWorker[download.host] = slot;
            d->lastHost[slot] = download.host;
            ++d->pending[slot];
            ++d->outstanding;
            Channel::Worker& worker = *channel.workers[slot];
            worker.jobs.push_back(std::move(download));
            if (worker.running) {
                if (std::find(woken.begin(), woken.end(), &worker) == woken.end()) woken.push_back(&worker);
            } else {
                // Threads start when first needed, so a list of a few hosts has a few, and end
                // when idle. One that has just ended has left its loop: the join is brief.
                if (worker.thread.joinable()) worker.thread.join();
                worker.fetcher = std::make_unique<PageFetcher>(channel.options);
                worker.generation = channel.generation;
                worker.running = true;
                worker.thread = std::thread(workerLoop, d->channel, slot);
            }
        }
    }
    // The workers live as long as the channel; one that has stopped meanwhile is not waiting.
    for (Channel::Worker* worker : woken) worker->wake.notify_one();
    updateBusy();
}

void CheckRunner::updateBusy() {
    const bool busy = d->outstanding > 0 && !d->shutDown;
    if (busy == d->busy) return;
    d->busy = busy;
    emit busyChanged(busy);
}

void CheckRunner::resultArrived(size_t slot, const Download& download, DownloadResult result) {
    if (d->shutDown) return;
    --d->outstanding;
    if (--d->pending[slot] == 0) d->hostWorker.erase(download.host);
    const QString url = QString::fromStdU16String(download.url);
    emit requestSent(url, QString::fromStdU16String(result.requestHead),
                     QString::fromStdU16String(result.proxy));
    if (d->shutDown) return;
    std::vector<Download> next;
    try {
        next = d->cycle.finish(download, std::move(result));
    } catch (const std::exception& error) {
        // A failure outside the download itself (the notifier) ends what waits; downloads still
        // running come back to nothing, and the next tick starts anew.
        d->cycle.abandon();
        updateBusy();
        // The box runs events: the views show what was applied so far meanwhile.
        d->list.flushChanges();
        ErrorDisplay::show(error);
    }
    // The error display's box runs events: the window may have closed meanwhile.
    if (d->shutDown) return;
    start(std::move(next));
    updateBusy();
    if (d->outstanding == 0 && d->cycle.waiting() == 0) emit cycleFinished();
}

void CheckRunner::shutdown() {
    if (d->shutDown) return;
    d->shutDown = true;
    d->gatherTimer.stop();
    d->cycle.abandon();
    std::shared_ptr<Channel> channel = d->channel;
    {
        std::lock_guard lock(channel->mutex);
        channel->stop = true;
        channel->owner = nullptr;
        channel->gathering = false;
        channel->finished.clear();
        d->taken.clear();
        d->takenNext = 0;
        for (auto& worker : channel->workers) {
            worker->jobs.clear();
            if (worker->fetcher) worker->fetcher->cancel();
            worker->wake.notify_one();
        }
    }
    // Every wait of a download gives way to the cancel within its latency, the name look-up's
    // included: that look-up (getaddrinfo, which cannot be cancelled) runs on a thread of its own
    // while the download waits for it. The filters, which do not wait, stop at their own time
    // limit (filter/FilterLimits.h). So the workers end promptly and are joined, never left
    // running. The look-ups they walked away from end by the system resolver's own time-out;
    // they are joined here too, so nothing this runner started runs on past it, or past main.
    // That wait is paid only at the end of a run whose network hangs, and a look-up that does
    // not end at all is a fault of the system, not one a detached thread could mend.
    for (auto& worker : channel->workers)
        if (worker->thread.joinable()) worker->thread.join();
    LookupThreads::joinAll();
    d->outstanding = 0;
    updateBusy();
}

}  // namespace vantrel
