#include "store/HistoryStore.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "store/Sqlite.h"
#include "text/Text.h"

namespace vantrel {
namespace {

// How long a read for --status waits for a lock held by another connection. The window's reads
// never wait: they show nothing that time.
constexpr int kStatusBusyTimeoutMs = 2000;
// The file beside the history that counts the checks an earlier run could not record.
constexpr const char* kDroppedSuffix = ".dropped";
// The writer thread's nice value (0 normal, 19 the lowest).
constexpr int kWriterNice = 10;
// One transaction takes at most this many queued writes, and takes no more once it has run this
// long: the lock on the file is held briefly, and the end of a run never waits long for a batch.
constexpr size_t kBatchWrites = 256;
constexpr auto kBatchTime = std::chrono::milliseconds(50);
// Checks come back a few at a time: the writer waits this long after the first for more to join
// its batch (not when a batch is full, a flush waits, or the store stops). Each commit writes
// again the pages every check touches (the last leaf of the checks, their index, the pages), so in
// a large cycle a batch of a second's checks costs a fifth less per check than one of 200 ms.
constexpr auto kGatherTime = std::chrono::milliseconds(1000);
bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

uint64_t ReadCount(const std::string& path) {
    std::ifstream in(path);
    uint64_t count = 0;
    return in >> count ? count : 0;
}

}  // namespace

std::string HistoryStore::PathBeside(const std::string& pageListPath) {
    return (std::filesystem::path(pageListPath).parent_path() / kHistoryFileName).string();
}

HistoryStore::HistoryStore(std::string path, Access access, FreeBytes freeBytes)
    : path_(std::move(path)), access_(access), room_(path_, std::move(freeBytes)) {
    if (access_ == Access::ReadWrite) {
        settingsPending_ = !loadSettingsAtOnce();
        thread_ = std::thread([this] { writerLoop(); });
        return;
    }
    try {
        // A missing file is no fault: nothing was recorded yet.
        if (!FileExists(path_)) return;
        reader_ = std::make_unique<SqliteDb>(path_, true);
        sqlite3_busy_timeout(reader_->handle(), kStatusBusyTimeoutMs);
        if (history::SchemaVersion(*reader_) > history::kSchemaVersion) {
            reader_.reset();
            disable("History is off: " + path_ + " was written by a newer version");
        } else if (const std::string foreign = history::ForeignTables(*reader_); !foreign.empty()) {
            reader_.reset();
            disable("History is off: cannot use " + path_ + ": " + foreign);
        }
    } catch (const std::exception& error) {
        reader_.reset();
        disable("History is off: cannot use " + path_ + ": " + error.what());
    }
}

bool HistoryStore::loadSettingsAtOnce() {
    // A new file has none. Beside another program's write lock a reader of a WAL file never
    // waits; any other lock, or a file that is not ours, is left to the writer's thread.
    if (!FileExists(path_)) return true;
    try {
        auto db = std::make_unique<SqliteDb>(path_, true);
        // The window's reads never wait for a lock.
        sqlite3_busy_timeout(db->handle(), 0);
        if (!history::ForeignTables(*db).empty()) return false;
        // A file of an earlier version is read as it is; the writer adds what it lacks.
        if (const int64_t version = history::SchemaVersion(*db);
            version >= 1 && version <= history::kSchemaVersion) {
            settings_ = history::LoadSettings(*db);
            pauses_ = history::LoadPauses(*db);
            // Kept as the reader: the history reads at once, while the writer still opens.
            reader_ = std::move(db);
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

HistoryStore::~HistoryStore() {
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
        stopBy_ = std::chrono::steady_clock::now() + limits::kStopWaitLimit;
    }
    queueChanged_.notify_all();
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard lock(readMutex_);
        reader_.reset();
    }
    // The last connection to close checkpoints the log into the file and removes it.
    writer_.reset();
    // Counted for the next run, which shows it in Details.
    if (dropped_ > 0) {
        const std::string file = path_ + kDroppedSuffix;
        const uint64_t total = ReadCount(file) + dropped_;
        std::ofstream(file, std::ios::trunc) << total << "\n";
    }
}

bool HistoryStore::disabled() const {
    std::lock_guard lock(stateMutex_);
    return !reason_.empty();
}

std::u16string HistoryStore::disabledReason() const {
    std::lock_guard lock(stateMutex_);
    return reason_;
}

std::u16string HistoryStore::notice() const {
    std::lock_guard lock(stateMutex_);
    std::string text = pause_;
    const auto add = [&](const std::string& line) { text += (text.empty() ? "" : "\n") + line; };
    if (dropped_ > 0) add(std::to_string(dropped_) + " checks of this run were not recorded in the history.");
    if (droppedEarlier_ > 0)
        add(std::to_string(droppedEarlier_) + " checks of an earlier run were not recorded in the history.");
    return FromUtf8(text);
}

void HistoryStore::disable(const std::string& reason) {
    std::lock_guard lock(stateMutex_);
    if (reason_.empty()) reason_ = FromUtf8(reason);
    pause_.clear();
}

void HistoryStore::setPause(const std::string& why) {
    std::lock_guard lock(stateMutex_);
    pause_ = why;
}

HistoryStore::Attempt HistoryStore::pauseForLock() {
    setPause("History is paused: " + path_ + " is locked by another program.");
    return Attempt::Busy;
}

void HistoryStore::enqueue(Task task, size_t textBytes, bool check) {
    if (access_ != Access::ReadWrite || disabled()) return;
    bool wake = false;
    {
        std::lock_guard lock(queueMutex_);
        // Full: the oldest checks make room (a paused history keeps the latest results).
        while (!queue_.empty() && (queue_.size() >= limits::kMaxQueuedChecks ||
                                   queuedTextBytes_ + textBytes > limits::kMaxQueuedTextBytes)) {
            const auto oldest =
                std::find_if(queue_.begin(), queue_.end(), [](const Queued& q) { return q.check; });
            if (oldest == queue_.end()) break;
            queuedTextBytes_ -= oldest->textBytes;
            queue_.erase(oldest);
            ++done_;
            std::lock_guard state(stateMutex_);
            ++dropped_;
        }
        if (queuedTextBytes_ + textBytes > limits::kMaxQueuedTextBytes) return;
        queuedTextBytes_ += textBytes;
        queue_.push_back({std::move(task), textBytes, check});
        ++enqueued_;
        // The writer waits for the first write, then for a full batch; nothing else waits for
        // the queue to grow, so the other writes need no wake-up (each would cost a system call).
        wake = queue_.size() == 1 || queue_.size() == kBatchWrites;
    }
    if (wake) queueChanged_.notify_all();
}

bool HistoryStore::roomToWrite() {
    const std::string shortage = room_.shortage();
    if (!shortage.empty()) setPause(shortage);
    return shortage.empty();
}

HistoryStore::Attempt HistoryStore::openFile() {
    try {
        auto writer = std::make_unique<SqliteDb>(path_, false);
        sqlite3_busy_timeout(writer->handle(), limits::kWriteBusyWaitMs);
        // A file that is not a database fails here, on the first read of its header.
        if (history::SchemaVersion(*writer) > history::kSchemaVersion) {
            disable("History is off: " + path_ + " was written by a newer version");
            return Attempt::Done;
        }
        // A file of another program, or a damaged one, is left exactly as it is.
        std::string unusable = history::ForeignTables(*writer);
        if (unusable.empty() && settingsPending_ && history::SchemaVersion(*writer) != 0) {
            // Read beside another program's lock: the checks wait for the settings, not for it.
            auto loaded = history::LoadSettings(*writer);
            auto paused = history::LoadPauses(*writer);
            std::lock_guard lock(stateMutex_);
            settings_.merge(loaded);  // a setting saved meanwhile stays
            pauses_.merge(paused);
        }
        if (unusable.empty()) unusable = history::DamagedPages(*writer);
        if (!unusable.empty()) {
            disable("History is off: cannot use " + path_ + ": " + unusable);
            return Attempt::Done;
        }
        {
            // Readable while the writes wait for a lock or for room.
            std::lock_guard lock(readMutex_);
            if (!reader_) reader_ = std::make_unique<SqliteDb>(path_, true);
            sqlite3_busy_timeout(reader_->handle(), 0);
        }
        settingsPending_ = false;
        if (!roomToWrite()) return Attempt::NoRoom;
        SqliteStatement(*writer, "PRAGMA journal_mode=WAL").run();
        // With WAL, NORMAL syncs at checkpoints only: a crash may lose the last checks but never
        // corrupts the file.
        writer->exec("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON");
        InTransaction(*writer, [&] { history::CreateTables(*writer); });
        writer_ = std::move(writer);
        setPause({});
        return Attempt::Done;
    } catch (const SqliteError& error) {
        if (error.busy()) return pauseForLock();
        const std::string damaged = error.code() == SQLITE_CORRUPT ? "it is damaged: " : "";
        disable("History is off: cannot use " + path_ + ": " + damaged + error.what());
    } catch (const std::exception& error) {
        disable("History is off: cannot use " + path_ + ": " + error.what());
    }
    return Attempt::Done;
}

HistoryStore::Attempt HistoryStore::attempt(std::vector<Queued>& batch, size_t& written) {
    // A history that is off drops them.
    written = batch.size();
    if (disabled() || !writer_) return Attempt::Done;
    written = 0;
    if (!roomToWrite()) return Attempt::NoRoom;
    SqliteDb& db = *writer_;
    // The batch shares one transaction, so a large cycle costs one commit per batch instead of
    // one per check. A write that fails alone (out of memory for one large text) is dropped: the
    // transaction is rolled back and the batch written again without it, which undoes that
    // write's first part without a savepoint around every write.
    struct DropWrite {};
    const auto deadline = std::chrono::steady_clock::now() + kBatchTime;
    try {
        for (;;) {
            written = 0;
            try {
                InTransaction(db, [&] {
                    while (written < batch.size()) {
                        if (batch[written].task) {
                            try {
                                batch[written].task(db);
                            } catch (const SqliteError&) {
                                throw;  // the whole batch: tried again, or the history ends
                            } catch (const std::exception&) {
                                batch[written].task = nullptr;
                                throw DropWrite{};
                            }
                        }
                        ++written;
                        if (std::chrono::steady_clock::now() >= deadline) break;
                    }
                });
                break;
            } catch (const DropWrite&) {
                continue;
            }
        }
        setPause({});
    } catch (const SqliteError& error) {
        written = 0;
        if (error.busy()) return pauseForLock();
        // Anything else (a full disk, a read-only or corrupt file) ends the history.
        disable("History is off: cannot write " + path_ + ": " + error.what());
        written = batch.size();
    } catch (const std::exception&) {
        // The transaction itself could not be begun or ended: these writes are dropped.
        written = batch.size();
    }
    return Attempt::Done;
}

bool HistoryStore::pauseBeforeRetry(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds& pause) {
    auto until = std::chrono::steady_clock::now() + pause;
    pause = std::min(pause * 2, limits::kLongestRetryPause);
    for (;;) {
        if (stopping_) {
            if (std::chrono::steady_clock::now() >= stopBy_) return false;
            until = std::min(until, stopBy_);
        }
        if (queueChanged_.wait_until(lock, until) == std::cv_status::timeout) return true;
    }
}

void HistoryStore::dropQueued(std::unique_lock<std::mutex>&) {
    uint64_t checks = 0;
    for (const Queued& queued : queue_) checks += queued.check ? 1 : 0;
    done_ += queue_.size();
    queue_.clear();
    queuedTextBytes_ = 0;
    std::lock_guard state(stateMutex_);
    dropped_ += checks;
}

void HistoryStore::writerLoop() {
    // Background work: the history yields the processor to the downloads, the window and the
    // other programs (a thread's own nice value on Linux; a failure leaves the thread as it was).
    // As a batch thread it also never preempts them when a check wakes it: it runs when they
    // wait, and still gets its share of a busy processor, so it never falls behind for good.
    const sched_param normal{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &normal);
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWriterNice);
    if (const uint64_t earlier = ReadCount(path_ + kDroppedSuffix); earlier > 0) {
        std::remove((path_ + kDroppedSuffix).c_str());
        std::lock_guard state(stateMutex_);
        droppedEarlier_ = earlier;
    }
    std::chrono::milliseconds pause = limits::kFirstRetryPause;
    std::vector<Queued> batch;
    batch.reserve(kBatchWrites);
    std::unique_lock lock(queueMutex_);
    // The file is opened first, retried like a write while another program holds it.
    bool open = false;
    for (;;) {
        if (!open) {
            lock.unlock();
            const Attempt opening = openFile();
            lock.lock();
            if (opening == Attempt::Done) {
                open = opened_ = true;
                settingsPending_ = false;  // also when the file turned out unusable
                pause = limits::kFirstRetryPause;
                queueChanged_.notify_all();
            } else if (!pauseBeforeRetry(lock, pause)) {
                break;
            }
            continue;
        }
        queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        queueChanged_.wait_for(lock, kGatherTime, [this] {
            return stopping_ || flushing_ > 0 || queue_.size() >= kBatchWrites;
        });
        if (stopping_ && std::chrono::steady_clock::now() >= stopBy_) break;
        // What has queued up meanwhile is written together, a bounded batch at a time.
        batch.clear();
        while (!queue_.empty() && batch.size() < kBatchWrites) {
            batch.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        lock.unlock();
        size_t written = 0;
        const Attempt result = attempt(batch, written);
        // The written tasks' copies go before their bytes are counted free.
        size_t writtenBytes = 0;
        for (size_t i = 0; i < written; ++i) writtenBytes += batch[i].textBytes;
        batch.erase(batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(written));
        lock.lock();
        queuedTextBytes_ -= writtenBytes;
        done_ += written;
        // What was not written (paused, or past the batch's time) is next in line, in order.
        for (auto it = batch.rbegin(); it != batch.rend(); ++it) queue_.push_front(std::move(*it));
        batch.clear();
        if (result == Attempt::Done) {
            pause = limits::kFirstRetryPause;
            if (written > 0) queueChanged_.notify_all();
            continue;
        }
        if (!pauseBeforeRetry(lock, pause)) break;
    }
    // The end of the run came while the writes were paused: what is left is dropped.
    dropQueued(lock);
    settingsPending_ = false;
    opened_ = true;
    queueChanged_.notify_all();
}

void HistoryStore::flush() {
    std::unique_lock lock(queueMutex_);
    const uint64_t target = enqueued_;
    // The writer's batch starts at once.
    ++flushing_;
    queueChanged_.notify_all();
    queueChanged_.wait(lock, [&] { return (done_ >= target && opened_) || !thread_.joinable(); });
    --flushing_;
}

}  // namespace vantrel
