#pragma once
// The history of every watched page in one SQLite file: each check's time, duration, outcome and
// result, the last two different texts, and the page's filter settings, all keyed by URL. Writes
// run on a thread of the store's own; a store that cannot use its file turns itself off with a
// one-line reason and the program runs on without history.
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

#include "store/HistoryTables.h"

namespace vantrel {

// The file's name, beside the page list file.
constexpr const char* kHistoryFileName = "history.db";

class HistoryStore {
  public:
    enum class Access { ReadWrite, ReadOnly };

    // Opens or creates the file (ReadOnly: opens it if present, never creates or writes it). Never
    // throws: a file that cannot be used leaves the store disabled.
    explicit HistoryStore(std::string path, Access access = Access::ReadWrite);
    // Writes what is queued, then closes.
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // The file beside the page list file at `pageListPath`.
    static std::string PathBeside(const std::string& pageListPath);

    // Set once the file could not be opened or written; every later call does nothing and reads
    // give nothing. The reason is one line for the user ("History is off: ...").
    bool disabled() const;
    std::u16string disabledReason() const;

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
    // Returns once everything queued before the call is written (or dropped).
    void flush();

    // Reads: on the caller's thread, through an index, and safe beside the writer.
    std::vector<CheckRecord> recentChecks(const std::u16string& url, int limit) const;
    PageSummary summary(const std::u16string& url) const;
    PageTexts texts(const std::u16string& url) const;
    // Defaults for a page without settings.
    PageFilterSettings settings(const std::u16string& url) const;

  private:
    using Task = std::function<void(SqliteDb&)>;
    void enqueue(Task task, size_t textBytes);
    void writeBatch(std::vector<std::pair<Task, size_t>>& batch);
    void writerLoop();
    void disable(const std::string& reason);
    template <typename Read>
    void readSafely(Read&& read) const;

    const std::string path_;
    const Access access_;

    mutable std::mutex stateMutex_;
    std::u16string reason_;
    std::map<std::u16string, PageFilterSettings> settings_;

    mutable std::mutex readMutex_;
    std::unique_ptr<SqliteDb> reader_;

    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<std::pair<Task, size_t>> queue_;
    size_t queuedTextBytes_ = 0;
    uint64_t enqueued_ = 0;
    uint64_t done_ = 0;
    bool stopping_ = false;
    std::unique_ptr<SqliteDb> writer_;
    std::thread thread_;
};

}  // namespace vantrel
