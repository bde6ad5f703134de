#include "ui/CheckRunner.h"

#include <QCursor>
#include <QGuiApplication>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "core/Crc32.h"
#include "net/CookieStore.h"
#include "ui/ErrorDisplay.h"

namespace vantrel {

namespace {

// How long shutting down waits for the download threads before leaving them behind.
constexpr std::chrono::milliseconds kJoinWait{1000};

DownloadResult fetchAndSum(PageFetcher& fetcher, const std::u16string& url) {
    DownloadResult result;
    try {
        // Only the checksum goes back, summed as the text is decoded: the text is never held
        // whole, so a large page costs neither its memory nor the faults of fresh memory.
        Crc32::TextSum sum;
        if (fetcher.fetchInPieces(url, [&sum](std::u16string_view piece) { sum.add(piece); }) > 0) {
            result.checksum = sum.text();
            result.gotText = true;
        }
    } catch (...) {
        // Every failure of a download makes the page offline.
        result = DownloadResult{};
    }
    return result;
}

}  // namespace

// What the user-interface thread and the workers share. Each thread holds its own reference, so
// a thread which does not end in time can be left behind safely.
struct CheckRunner::Channel {
    struct Worker {
        explicit Worker(const FetcherOptions& options) : fetcher(options) {}
        std::deque<Download> jobs;  // one host's downloads, run one after the other
        PageFetcher fetcher;  // used by its thread only (its kept connection with it); cancel() from anywhere
        std::thread thread;
        bool started = false;
    };

    explicit Channel(FetcherOptions given) : options(std::move(given)) {
        options.cookies = std::make_shared<CookieStore>();
        options.largeBodyTurn = std::make_shared<std::timed_mutex>();
        for (size_t i = 0; i < kMaxParallelDownloads; ++i)
            workers.push_back(std::make_unique<Worker>(options));
    }

    FetcherOptions options;
    std::mutex mutex;
    std::condition_variable wake;      // a job or the stop request arrived
    std::condition_variable finished;  // a thread has left its loop
    std::vector<std::unique_ptr<Worker>> workers;
    size_t running = 0;  // threads still in their loop
    bool stop = false;
    CheckRunner* owner = nullptr;  // null once the runner no longer takes results
};

struct CheckRunner::Impl {
    Impl(PageList& list, Notifier& notifier, const Clock& clock, FetcherOptions options)
        : cycle(list, clock, notifier), channel(std::make_shared<Channel>(std::move(options))) {
        pending.resize(kMaxParallelDownloads, 0);
        lastHost.resize(kMaxParallelDownloads);
    }

    // The worker for a host: the one already serving it, else an idle one, preferably the one
    // that served it last (its connection may still be open), else the least loaded.
    size_t workerFor(const std::u16string& host) {
        if (auto it = hostWorker.find(host); it != hostWorker.end()) return it->second;
        size_t chosen = pending.size();
        for (size_t i = 0; i < pending.size(); ++i) {
            if (pending[i] != 0) continue;
            if (lastHost[i] == host) return i;
            if (chosen == pending.size()) chosen = i;
        }
        if (chosen == pending.size()) {
            chosen = 0;
            for (size_t i = 1; i < pending.size(); ++i)
                if (pending[i] < pending[chosen]) chosen = i;
        }
        return chosen;
    }

    CheckCycle cycle;
    std::shared_ptr<Channel> channel;
    std::vector<size_t> pending;           // per worker: jobs handed to it, results not yet back
    std::vector<std::u16string> lastHost;  // per worker: the host of its last job
    std::unordered_map<std::u16string, size_t> hostWorker;  // hosts with jobs out -> their worker
    size_t outstanding = 0;
    bool cursorShown = false;
    bool shutDown = false;
};

void CheckRunner::workerLoop(std::shared_ptr<Channel> channel, size_t slot) {
    Channel::Worker& worker = *channel->workers[slot];
    std::unique_lock lock(channel->mutex);
    for (;;) {
        channel->wake.wait(lock, [&] { return channel->stop || !worker.jobs.empty(); });
        if (channel->stop) break;
        const Download download = std::move(worker.jobs.front());
        worker.jobs.pop_front();
        lock.unlock();
        // The next job of this host starts right after this one, whenever the result is applied.
        const DownloadResult result = fetchAndSum(worker.fetcher, download.url);
        lock.lock();
        // Posting under the lock: the runner clears `owner` under it before it goes away, and a
        // posted call still queued when it is destroyed is discarded with it.
        if (CheckRunner* owner = channel->owner) {
            QMetaObject::invokeMethod(
                owner, [owner, slot, download, result] { owner->resultArrived(slot, download, result); },
                Qt::QueuedConnection);
        }
    }
    --channel->running;
    channel->finished.notify_all();
}

CheckRunner::CheckRunner(PageList& list, Notifier& notifier, const Clock& clock, FetcherOptions options,
                         QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>(list, notifier, clock, std::move(options))) {
    d->channel->owner = this;
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
            if (!worker.started) {
                // Threads start when first needed: a list of a few hosts never has eight.
                worker.started = true;
                ++channel.running;
                worker.thread = std::thread(workerLoop, d->channel, slot);
            }
        }
    }
    channel.wake.notify_all();
    updateCursor();
}

void CheckRunner::updateCursor() {
    const bool busy = d->outstanding > 0 && !d->shutDown;
    if (busy == d->cursorShown) return;
    d->cursorShown = busy;
    if (busy)
        // The arrow with the hourglass: the program stays usable while pages load.
        QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    else
        QGuiApplication::restoreOverrideCursor();
}

void CheckRunner::resultArrived(size_t slot, const Download& download, const DownloadResult& result) {
    if (d->shutDown) return;
    --d->outstanding;
    if (--d->pending[slot] == 0) d->hostWorker.erase(download.host);
    std::vector<Download> next;
    try {
        next = d->cycle.finish(download, result);
    } catch (const std::exception& error) {
        // A failure outside the download itself (the notifier) ends what waits; downloads still
        // running come back to nothing, and the next tick starts anew.
        d->cycle.abandon();
        updateCursor();
        ErrorDisplay::show(error);
    }
    // The error display's box runs events: the window may have closed meanwhile.
    if (d->shutDown) return;
    start(std::move(next));
    updateCursor();
    if (d->outstanding == 0 && d->cycle.waiting() == 0) emit cycleFinished();
}

void CheckRunner::shutdown() {
    if (d->shutDown) return;
    d->shutDown = true;
    d->cycle.abandon();
    std::shared_ptr<Channel> channel = d->channel;
    {
        std::lock_guard lock(channel->mutex);
        channel->stop = true;
        channel->owner = nullptr;
        for (auto& worker : channel->workers) worker->jobs.clear();
    }
    channel->wake.notify_all();
    for (auto& worker : channel->workers) worker->fetcher.cancel();
    {
        std::unique_lock lock(channel->mutex);
        channel->finished.wait_for(lock, kJoinWait, [&] { return channel->running == 0; });
    }
    // A download that ignores the cancel (a name look-up cannot be interrupted) is left to end on
    // its own; it holds what it uses through its reference to the channel and posts nothing.
    for (auto& worker : channel->workers) {
        if (!worker->thread.joinable()) continue;
        bool ended = false;
        {
            std::lock_guard lock(channel->mutex);
            ended = channel->running == 0;
        }
        if (ended)
            worker->thread.join();
        else
            worker->thread.detach();
    }
    d->outstanding = 0;
    updateCursor();
}

}  // namespace vantrel
