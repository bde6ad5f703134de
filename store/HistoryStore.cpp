#include "store/HistoryStore.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "store/Sqlite.h"
#include "text/Text.h"

namespace vantrel {
namespace {

// How long a statement waits for a lock held by another connection before it gives up.
constexpr int kBusyTimeoutMs = 5000;
// The writer thread's nice value (0 normal, 19 the lowest).
constexpr int kWriterNice = 10;
// Queued writes taken into one transaction at most.
constexpr size_t kBatchTasks = 256;
// Cuts UTF-16 to at most `limit` code units without splitting a surrogate pair.
bool CutUtf16(std::u16string& text, size_t limit) {
    if (text.size() <= limit) return false;
    size_t end = limit;
    if (end > 0 && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) --end;
    text.resize(end);
    return true;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

std::string HistoryStore::PathBeside(const std::string& pageListPath) {
    return (std::filesystem::path(pageListPath).parent_path() / kHistoryFileName).string();
}

HistoryStore::HistoryStore(std::string path, Access access) : path_(std::move(path)), access_(access) {
    try {
        if (access_ == Access::ReadOnly) {
            // A missing file is no fault: nothing was recorded yet.
            if (!FileExists(path_)) return;
            reader_ = std::make_unique<SqliteDb>(path_, true);
            sqlite3_busy_timeout(reader_->handle(), kBusyTimeoutMs);
            if (history::SchemaVersion(*reader_) > history::kSchemaVersion) {
                reader_.reset();
                disable("History is off: " + path_ + " was written by a newer version");
            }
            return;
        }
        auto writer = std::make_unique<SqliteDb>(path_, false);
        sqlite3_busy_timeout(writer->handle(), kBusyTimeoutMs);
        // A file that is not a database fails here, on the first read of its header.
        if (history::SchemaVersion(*writer) > history::kSchemaVersion) {
            disable("History is off: " + path_ + " was written by a newer version");
            return;
        }
        SqliteStatement(*writer, "PRAGMA journal_mode=WAL").run();
        // With WAL, NORMAL syncs at checkpoints only: a crash may lose the last checks but never
        // corrupts the file.
        writer->exec("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON");
        InTransaction(*writer, [&] { history::CreateTables(*writer); });
        settings_ = history::LoadSettings(*writer);
        reader_ = std::make_unique<SqliteDb>(path_, true);
        sqlite3_busy_timeout(reader_->handle(), kBusyTimeoutMs);
        writer_ = std::move(writer);
        thread_ = std::thread([this] { writerLoop(); });
    } catch (const std::exception& error) {
        reader_.reset();
        disable("History is off: cannot use " + path_ + ": " + error.what());
    }
}

HistoryStore::~HistoryStore() {
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard lock(readMutex_);
        reader_.reset();
    }
    // The last connection to close checkpoints the log into the file and removes it.
    writer_.reset();
}

bool HistoryStore::disabled() const {
    std::lock_guard lock(stateMutex_);
    return !reason_.empty();
}

std::u16string HistoryStore::disabledReason() const {
    std::lock_guard lock(stateMutex_);
    return reason_;
}

void HistoryStore::disable(const std::string& reason) {
    std::lock_guard lock(stateMutex_);
    if (reason_.empty()) reason_ = FromUtf8(reason);
}

void HistoryStore::enqueue(Task task, size_t textBytes) {
    if (!writer_ || disabled()) return;
    {
        std::lock_guard lock(queueMutex_);
        if (queuedTextBytes_ + textBytes > limits::kMaxQueuedTextBytes) return;
        queuedTextBytes_ += textBytes;
        queue_.emplace_back(std::move(task), textBytes);
        ++enqueued_;
    }
    queueChanged_.notify_all();
}

void HistoryStore::writerLoop() {
    // Background work: the history yields the processor to the downloads, the window and the
    // other programs (a thread's own nice value on Linux; a failure leaves the thread as it was).
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWriterNice);
    std::unique_lock lock(queueMutex_);
    std::vector<std::pair<Task, size_t>> batch;
    for (;;) {
        queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        // What has queued up meanwhile is written in one transaction: a large cycle's checks cost
        // one commit per batch instead of one each.
        batch.clear();
        size_t textBytes = 0;
        while (!queue_.empty() && batch.size() < kBatchTasks) {
            textBytes += queue_.front().second;
            batch.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        const size_t count = batch.size();
        lock.unlock();
        writeBatch(batch);
        batch.clear();  // the tasks' copies go before their bytes are counted free
        lock.lock();
        queuedTextBytes_ -= textBytes;
        done_ += count;
        queueChanged_.notify_all();
    }
}

void HistoryStore::writeBatch(std::vector<std::pair<Task, size_t>>& batch) {
    if (disabled()) return;
    // Another connection holding the lock past the time-out costs these writes only; anything
    // else (a full disk, a read-only or corrupt file) ends the history.
    const auto failed = [this](const SqliteError& error) {
        if (error.code() != SQLITE_BUSY && error.code() != SQLITE_LOCKED)
            disable("History is off: cannot write " + path_ + ": " + error.what());
    };
    SqliteDb& db = *writer_;
    const bool together = batch.size() > 1;
    try {
        if (together) db.exec("BEGIN IMMEDIATE");
        for (auto& [task, bytes] : batch) {
            if (disabled()) break;
            try {
                // Each task's own transaction is a savepoint inside the batch's.
                task(db);
            } catch (const SqliteError& error) {
                failed(error);
            } catch (const std::exception&) {
                // Out of memory for one large text: that write is dropped.
            }
        }
        // A failure that rolled the whole transaction back has ended it already.
        if (together && !sqlite3_get_autocommit(db.handle())) db.exec("COMMIT");
    } catch (const SqliteError& error) {
        if (!sqlite3_get_autocommit(db.handle()))
            sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        failed(error);
    }
}

void HistoryStore::flush() {
    std::unique_lock lock(queueMutex_);
    const uint64_t target = enqueued_;
    queueChanged_.wait(lock, [&] { return done_ >= target || !thread_.joinable(); });
}

void HistoryStore::record(const std::u16string& url, CheckRecord check, std::optional<std::u16string> text) {
    if (!writer_ || disabled()) return;
    bool cut = false;
    // Bounds the copy handed to the writer; the exact cut is made on the UTF-8 bytes there.
    if (text) cut = CutUtf16(*text, limits::kMaxStoredTextBytes);
    const size_t textBytes = text ? text->size() * sizeof(char16_t) : 0;
    enqueue([url = ToUtf8(url), check = std::move(check), text = std::move(text),
             cut](SqliteDb& db) { InTransaction(db, [&] { history::AddCheck(db, url, check, text, cut); }); },
            textBytes);
}

void HistoryStore::renameUrl(const std::u16string& from, const std::u16string& to, bool fromStillListed) {
    if (from == to || !writer_ || disabled()) return;
    {
        std::lock_guard lock(stateMutex_);
        // The same rule as the file's, so settings() needs no wait for the writer.
        auto found = settings_.find(from);
        if (found != settings_.end() && !settings_.count(to)) {
            settings_[to] = found->second;
            if (!fromStillListed) settings_.erase(from);
        }
    }
    enqueue(
        [from = ToUtf8(from), to = ToUtf8(to), fromStillListed](SqliteDb& db) {
            InTransaction(db, [&] { history::RenameUrl(db, from, to, fromStillListed); });
        },
        0);
}

void HistoryStore::prune(const std::set<std::u16string>& urls) {
    if (urls.empty() || !writer_ || disabled()) return;
    {
        std::lock_guard lock(stateMutex_);
        std::erase_if(settings_, [&](const auto& item) { return !urls.count(item.first); });
    }
    std::vector<std::string> keep;
    keep.reserve(urls.size());
    for (const auto& url : urls) keep.push_back(ToUtf8(url));
    enqueue([keep = std::move(keep)](SqliteDb& db) { InTransaction(db, [&] { history::Prune(db, keep); }); },
            0);
}

void HistoryStore::saveSettings(const std::u16string& url, PageFilterSettings settings) {
    if (disabled()) return;
    settings.failuresBeforeOffline =
        std::clamp(settings.failuresBeforeOffline, kMinFailuresBeforeOffline, kMaxFailuresBeforeOffline);
    {
        std::lock_guard lock(stateMutex_);
        settings_[url] = settings;
    }
    enqueue([url = ToUtf8(url), settings](
                SqliteDb& db) { InTransaction(db, [&] { history::WriteSettings(db, url, settings); }); },
            0);
}

PageFilterSettings HistoryStore::settings(const std::u16string& url) const {
    std::lock_guard lock(stateMutex_);
    auto found = settings_.find(url);
    return found == settings_.end() ? PageFilterSettings{} : found->second;
}

template <typename Read>
void HistoryStore::readSafely(Read&& read) const {
    std::lock_guard lock(readMutex_);
    if (!reader_ || disabled()) return;
    try {
        read(*reader_);
    } catch (const std::exception&) {
        // A read that fails (the writer holding a lock past the time-out, a damaged page) shows
        // nothing this time; the writer decides whether the history goes off.
    }
}

std::vector<CheckRecord> HistoryStore::recentChecks(const std::u16string& url, int limit) const {
    std::vector<CheckRecord> checks;
    readSafely([&](SqliteDb& db) { checks = history::RecentChecks(db, ToUtf8(url), limit); });
    return checks;
}

PageSummary HistoryStore::summary(const std::u16string& url) const {
    PageSummary result;
    readSafely([&](SqliteDb& db) {
        // One snapshot for the reads that make up the summary.
        db.exec("BEGIN");
        try {
            result = history::Summary(db, ToUtf8(url));
        } catch (...) {
            sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        db.exec("COMMIT");
    });
    return result;
}

PageTexts HistoryStore::texts(const std::u16string& url) const {
    PageTexts result;
    readSafely([&](SqliteDb& db) { result = history::Texts(db, ToUtf8(url)); });
    return result;
}

}  // namespace vantrel
