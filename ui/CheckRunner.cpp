#include "ui/CheckRunner.h"

#include <QCursor>
#include <QGuiApplication>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "core/Crc32.h"
#include "ui/ErrorDisplay.h"

namespace vantrel {

namespace {

// How long shutting down waits for the download thread before leaving it behind.
constexpr std::chrono::milliseconds kJoinWait{1000};

}  // namespace

// What the user-interface thread and the download thread share. The thread holds its own
// reference, so that a thread which does not end in time can be left behind safely.
struct CheckRunner::Channel {
    explicit Channel(FetcherOptions options) : fetcher(std::move(options)) {}

    std::mutex mutex;
    std::condition_variable wake;                            // a job or the stop request arrived
    std::condition_variable finished;                        // the thread has left its loop
    std::optional<std::pair<uint64_t, std::u16string>> job;  // sequence number, URL
    bool stop = false;
    bool done = false;
    CheckRunner* owner = nullptr;  // null once the runner no longer takes results
    PageFetcher fetcher;           // used by the thread only; cancel() from anywhere
};

namespace {

DownloadResult fetchAndSum(PageFetcher& fetcher, const std::u16string& url) {
    DownloadResult result;
    try {
        // The page text (up to the fetcher's size limit) stays on this thread; only its
        // checksum goes back.
        const std::u16string_view text = fetcher.fetch(url);
        if (!text.empty()) {
            result.checksum = Crc32::checksumText(text);
            result.gotText = true;
        }
    } catch (...) {
        // Every failure of a download makes the page offline.
        result = DownloadResult{};
    }
    return result;
}

}  // namespace

struct CheckRunner::Impl {
    Impl(PageList& list, Notifier& notifier, const Clock& clock, FetcherOptions options)
        : cycle(list, clock, notifier), channel(std::make_shared<Channel>(std::move(options))) {}

    CheckCycle cycle;
    std::shared_ptr<Channel> channel;
    std::thread worker;
    std::optional<Download> current;  // the download in flight
    uint64_t sequence = 0;            // numbers the downloads handed to the thread
    bool cursorShown = false;
    bool shutDown = false;
};

void CheckRunner::workerLoop(std::shared_ptr<Channel> channel) {
    std::unique_lock lock(channel->mutex);
    for (;;) {
        channel->wake.wait(lock, [&] { return channel->stop || channel->job.has_value(); });
        if (channel->stop) break;
        auto [sequence, url] = std::move(*channel->job);
        channel->job.reset();
        lock.unlock();
        const DownloadResult result = fetchAndSum(channel->fetcher, url);
        lock.lock();
        // Posting under the lock: the runner clears `owner` under it before it goes away, and a
        // posted call still queued when it is destroyed is discarded with it.
        if (CheckRunner* owner = channel->owner) {
            QMetaObject::invokeMethod(
                owner, [owner, sequence = sequence, result] { owner->resultArrived(sequence, result); },
                Qt::QueuedConnection);
        }
    }
    channel->done = true;
    channel->finished.notify_all();
}

CheckRunner::CheckRunner(PageList& list, Notifier& notifier, const Clock& clock, FetcherOptions options,
                         QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>(list, notifier, clock, std::move(options))) {
    d->channel->owner = this;
    d->worker = std::thread(workerLoop, d->channel);
}

CheckRunner::~CheckRunner() {
    shutdown();
}

bool CheckRunner::downloading() const {
    return d->current.has_value();
}

void CheckRunner::tick() {
    if (d->shutDown || d->cycle.running()) return;
    if (std::optional<Download> first = d->cycle.tick())
        startDownload(std::move(*first));
    else
        emit cycleFinished();
}

void CheckRunner::startDownload(Download download) {
    if (!d->cursorShown) {
        // The arrow with the hourglass: the program stays usable while the page loads.
        QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
        d->cursorShown = true;
    }
    const uint64_t sequence = ++d->sequence;
    std::u16string url = download.url;
    d->current = std::move(download);
    {
        std::lock_guard lock(d->channel->mutex);
        d->channel->job.emplace(sequence, std::move(url));
    }
    d->channel->wake.notify_one();
}

void CheckRunner::restoreCursor() {
    if (d->cursorShown) {
        QGuiApplication::restoreOverrideCursor();
        d->cursorShown = false;
    }
}

void CheckRunner::resultArrived(uint64_t sequence, DownloadResult result) {
    if (d->shutDown || !d->current || sequence != d->sequence) return;
    restoreCursor();
    const Download done = std::move(*d->current);
    d->current.reset();
    std::optional<Download> next;
    try {
        next = d->cycle.finish(done, result);
    } catch (const std::exception& error) {
        // A failure outside the download itself ends this cycle; the next tick starts anew.
        d->cycle.abandon();
        ErrorDisplay::show(error);
    }
    // The error display's box runs events: the window may have closed, or a tick started anew.
    if (d->shutDown || d->current) return;
    if (next)
        startDownload(std::move(*next));
    else
        emit cycleFinished();
}

void CheckRunner::shutdown() {
    if (d->shutDown) return;
    d->shutDown = true;
    d->cycle.abandon();
    d->current.reset();
    std::shared_ptr<Channel> channel = d->channel;
    {
        std::lock_guard lock(channel->mutex);
        channel->stop = true;
        channel->owner = nullptr;
        channel->job.reset();
    }
    channel->wake.notify_one();
    channel->fetcher.cancel();
    if (d->worker.joinable()) {
        std::unique_lock lock(channel->mutex);
        const bool ended = channel->finished.wait_for(lock, kJoinWait, [&] { return channel->done; });
        lock.unlock();
        // A download that ignores the cancel (a name look-up cannot be interrupted) is left to
        // end on its own; it holds what it uses and posts nothing any more.
        if (ended)
            d->worker.join();
        else
            d->worker.detach();
    }
    restoreCursor();
}

}  // namespace vantrel
