#include "ui/CheckRunner.h"

#include <QCursor>
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "filter/PageFilter.h"
#include "net/CookieStore.h"
#include "net/Url.h"
#include "store/HistoryTables.h"
#include "text/Crc32.h"
#include "text/Text.h"
#include "text/Utf8.h"
#include "ui/ErrorDisplay.h"

namespace vantrel {

namespace {

// How long shutting down waits for the download threads before leaving them behind.
constexpr std::chrono::milliseconds kJoinWait{1000};

// The user's words for a failed get: the last line of its message without its closing full stop
// ("Socket Error # 10061\r\nConnection refused." gives "Connection refused").
std::u16string FailureDetail(std::string_view message) {
    if (const size_t lineEnd = message.rfind('\n'); lineEnd != std::string_view::npos)
        message.remove_prefix(lineEnd + 1);
    if (message.size() > 1 && message.back() == '.') message.remove_suffix(1);
    return message.empty() ? u"Unknown failure" : FromUtf8(message);
}

void Accept(DownloadResult& result, std::u16string_view text) {
    result.gotText = true;
    result.checksum = Crc32::checksumText(text);
    result.textBytes = Utf8Length(text);
}

}  // namespace

DownloadResult RunCheck(PageFetcher& fetcher, const Download& download) {
    const auto started = std::chrono::steady_clock::now();
    DownloadResult result;
    try {
        // What goes back is the text's checksum and, for the history, no more of it than the
        // history keeps (one unit more tells it the text was cut).
        if (!download.settings.filtersText()) {
            // A page without filters is judged by its whole text, summed as it is decoded: it is
            // never held whole, so a large page costs neither its memory nor fresh memory's faults.
            Crc32::TextSum sum;
            std::u16string kept;
            const size_t units = fetcher.fetchInPieces(download.url, [&](std::u16string_view piece) {
                sum.add(piece);
                if (kept.size() <= limits::kMaxStoredTextBytes)
                    kept.append(piece.substr(0, limits::kMaxStoredTextBytes + 1 - kept.size()));
            });
            result.detail = FromLatin1(fetcher.lastStatusLine());
            if (units > 0) {
                result.gotText = true;
                result.checksum = sum.text();
                result.textBytes = fetcher.lastTextUtf8Bytes();
                result.text = std::move(kept);
            }
        } else {
            // The text stays in the fetcher's buffer while the filters read it.
            const std::u16string_view page = fetcher.fetch(download.url);
            result.detail = FromLatin1(fetcher.lastStatusLine());
            FilterResult filtered =
                ApplyFilters(std::u16string(page), download.settings, fetcher.lastContentType());
            if (filtered.ok()) {
                Accept(result, filtered.text);
                result.text = std::move(filtered.text);
            } else {
                result.detail = FromUtf8(filtered.reason);
            }
        }
    } catch (const std::exception& error) {
        // Every failure of a download makes the check a failed one.
        result = DownloadResult{};
        result.detail = FailureDetail(error.what());
    } catch (...) {
        result = DownloadResult{};
        result.detail = u"Unknown failure";
    }
    result.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count();
    return result;
}

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
        for (size_t i = 0; i < limits::kMaxParallelDownloads; ++i)
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
        : cycle(list, clock, notifier, &Url::connectionKey),
          channel(std::make_shared<Channel>(std::move(options))) {
        pending.resize(limits::kMaxParallelDownloads, 0);
        lastHost.resize(limits::kMaxParallelDownloads);
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
        DownloadResult result = RunCheck(worker.fetcher, download);
        lock.lock();
        // Posting under the lock: the runner clears `owner` under it before it goes away, and a
        // posted call still queued when it is destroyed is discarded with it.
        if (CheckRunner* owner = channel->owner) {
            QMetaObject::invokeMethod(
                owner,
                [owner, slot, download, result = std::move(result)]() mutable {
                    owner->resultArrived(slot, download, std::move(result));
                },
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
    static const int registered = [] {
        qRegisterMetaType<CheckRecord>("vantrel::CheckRecord");
        return qRegisterMetaType<std::u16string>("std::u16string");
    }();
    (void)registered;
    d->cycle.setCheckSink([this](const std::u16string& url, const CheckRecord& check, std::u16string text) {
        emit checkFinished(QString::fromStdU16String(url), check, text);
    });
}

void CheckRunner::setSettingsProvider(SettingsProvider provider) {
    d->cycle.setSettingsProvider(std::move(provider));
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

void CheckRunner::resultArrived(size_t slot, const Download& download, DownloadResult result) {
    if (d->shutDown) return;
    --d->outstanding;
    if (--d->pending[slot] == 0) d->hostWorker.erase(download.host);
    std::vector<Download> next;
    try {
        next = d->cycle.finish(download, std::move(result));
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
