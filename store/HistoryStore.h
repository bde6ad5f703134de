#pragma once
// The history of every watched page in one SQLite file: each check's time, duration, outcome and
// result, the last two different texts, and the page's filter settings, all keyed by URL. The file
// is opened and written on a thread of the store's own, so that no caller ever waits for it: a
// file another program holds locked, or a disk nearly full, pauses the writes (retried later, the
// queue bounded) and the history resumes by itself. A store that cannot use its file turns itself
// off with a one-line reason and the program runs on without history.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "store/DiskRoom.h"
#include "store/HistoryTables.h"

namespace vantrel {

// The file's name, beside the page list file.
constexpr const char* kHistoryFileName = "history.db";

class HistoryStore {
  public:
    enum class Access { ReadWrite, ReadOnly };

    using FreeBytes = DiskRoom::FreeBytes;

    // ReadWrite: returns at once; the file is opened or created on the store's thread. ReadOnly:
    // opens it here if present, never creates or writes it. Never throws: a file that cannot be
    // used leaves the store disabled. `freeBytes` replaces the file system's own answer (tests).
    explicit HistoryStore(std::string path, Access access = Access::ReadWrite, FreeBytes freeBytes = {});
    // Writes what is queued, waiting limits::kStopWaitLimit at most; what is left is dropped and counted
    // in a file beside, shown by the next run. Then closes.
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // The file beside the page list file at `pageListPath`.
    static std::string PathBeside(const std::string& pageListPath);

    // Set once the file could not be opened or written; every later call does nothing and reads
    // give nothing. The reason is one line for the user ("History is off: ...").
    bool disabled() const;
    std::u16string disabledReason() const;
    // The pages' settings are read at once when that needs no wait; otherwise they are not known
    // until the store's thread has read them, and checks wait for them.
    bool settingsPending() const { return settingsPending_; }
    // Why writes are paused now (the file locked, the disk nearly full), and the checks dropped
    // (this run's and the last run's); one line or two, empty when all is well.
    std::u16string notice() const;

    // Queued, never blocking on the disk. `text` is the text the check judged (filtered when the
    // page has filters), or nullopt when it got none. It is kept only when it starts a new latest
    // text: a change, or an online check with other text after the page started afresh.
    void record(const std::u16string& url, CheckRecord check, std::optional<std::u16string> text);
    // The user edited an entry's URL: its history and settings go with it, unless the new URL
    // already has some of its own. With `fromStillListed` (another entry keeps the old URL) they
    // are copied instead of moved.
    void renameUrl(const std::u16string& from, const std::u16string& to, bool fromStillListed);
    // Forgets every page whose URL is not in `urls`. An empty set forgets nothing: an empty list
    // at start more often means a page list file that was missing or unreadable than a user who
    // deleted every page, and the history would be lost for good.
    void prune(const std::set<std::u16string>& urls);
    // Takes effect for settings() at once; written like the rest. Values out of range are clamped.
    void saveSettings(const std::u16string& url, PageFilterSettings settings);
    // Pauses a page's checks until `until` (local wall-clock milliseconds, as the list's stamps),
    // or resumes them (nullopt). Takes effect for pauses() at once; written like the rest.
    void savePause(const std::u16string& url, std::optional<int64_t> until);
    // Returns once the file is open and everything queued before the call is written (or
    // dropped). Waits as long as a lock or a full disk pauses the writes.
    void flush();

    // Reads: on the caller's thread, through an index, and safe beside the writer.
    std::vector<CheckRecord> recentChecks(const std::u16string& url, int limit) const;
    PageSummary summary(const std::u16string& url) const;
    PageTexts texts(const std::u16string& url) const;
    // Defaults for a page without settings.
    PageFilterSettings settings(const std::u16string& url) const;
    // The paused pages and the end of each pause, by URL; known when settings() are.
    std::map<std::u16string, int64_t> pauses() const;

  private:
    using Task = std::function<void(SqliteDb&)>;
    struct Queued {
        Task task;
        size_t textBytes = 0;
        bool check = false;  // a check's record: dropped first when the queue overflows
    };
    enum class Attempt { Done, Busy, NoRoom };
    void enqueue(Task task, size_t textBytes, bool check = false);
    void writerLoop();
    bool loadSettingsAtOnce();
    Attempt openFile();
    // Writes the front of `batch` in one transaction; `written` says how many of its writes are
    // done with (written, or dropped), the rest to be tried again in order.
    Attempt attempt(std::vector<Queued>& batch, size_t& written);
    bool roomToWrite();
    void setPause(const std::string& why);
    // Another program holds the file's lock: the writes pause and are tried again.
    Attempt pauseForLock();
    // Waits the retry pause (shorter when stopping); false when the stop's time is up.
    bool pauseBeforeRetry(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds& pause);
    void dropQueued(std::unique_lock<std::mutex>& lock);
    void disable(const std::string& reason);
    template <typename Read>
    void readSafely(Read&& read) const;

    const std::string path_;
    const Access access_;
    const DiskRoom room_;
    std::atomic<bool> settingsPending_{false};

    mutable std::mutex stateMutex_;
    std::u16string reason_;
    std::string pause_;
    uint64_t dropped_ = 0;         // this run's checks dropped
    uint64_t droppedEarlier_ = 0;  // the last run's, read from the file beside
    std::map<std::u16string, PageFilterSettings> settings_;
    std::map<std::u16string, int64_t> pauses_;

    mutable std::mutex readMutex_;
    std::unique_ptr<SqliteDb> reader_;

    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<Queued> queue_;
    size_t queuedTextBytes_ = 0;
    uint64_t enqueued_ = 0;
    uint64_t done_ = 0;
    int flushing_ = 0;  // callers waiting in flush()
    bool stopping_ = false;
    bool opened_ = false;  // the file was opened (or found unusable), or the store stopped
    std::chrono::steady_clock::time_point stopBy_;
    std::unique_ptr<SqliteDb> writer_;
    std::thread thread_;
};

}  // namespace vantrel
