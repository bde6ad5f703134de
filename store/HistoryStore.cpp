#include "store/HistoryStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "core/Text.h"
#include "store/Sqlite.h"

namespace vantrel {
namespace {

// Bumped when the tables change; a file from a newer program is left alone.
constexpr int kSchemaVersion = 1;
// How long a statement waits for a lock held by another connection before it gives up.
constexpr int kBusyTimeoutMs = 5000;
// Text slots of a page.
constexpr int64_t kBefore = 0;
constexpr int64_t kLatest = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS pages(
  id INTEGER PRIMARY KEY,
  url TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS checks(
  id INTEGER PRIMARY KEY,
  page INTEGER NOT NULL REFERENCES pages(id) ON DELETE CASCADE,
  time INTEGER NOT NULL,
  duration INTEGER NOT NULL,
  outcome INTEGER NOT NULL,
  status INTEGER NOT NULL,
  detail TEXT NOT NULL,
  size INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS checks_by_page ON checks(page, id);
CREATE TABLE IF NOT EXISTS texts(
  page INTEGER NOT NULL REFERENCES pages(id) ON DELETE CASCADE,
  slot INTEGER NOT NULL,
  body TEXT NOT NULL,
  cut INTEGER NOT NULL,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL,
  PRIMARY KEY(page, slot));
CREATE TABLE IF NOT EXISTS settings(
  page INTEGER PRIMARY KEY REFERENCES pages(id) ON DELETE CASCADE,
  selector_kind INTEGER NOT NULL,
  selector TEXT NOT NULL,
  visible_only INTEGER NOT NULL,
  failures INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS ignore_lines(
  page INTEGER NOT NULL REFERENCES pages(id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  pattern TEXT NOT NULL,
  PRIMARY KEY(page, position));
)sql";

// Cuts UTF-8 to at most `limit` bytes without splitting a character.
bool CutUtf8(std::string& bytes, size_t limit) {
    if (bytes.size() <= limit) return false;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) --end;
    bytes.resize(end);
    return true;
}

// Cuts UTF-16 to at most `limit` code units without splitting a surrogate pair.
bool CutUtf16(std::u16string& text, size_t limit) {
    if (text.size() <= limit) return false;
    size_t end = limit;
    if (end > 0 && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) --end;
    text.resize(end);
    return true;
}

std::optional<int64_t> PageId(SqliteDb& db, const std::string& url) {
    SqliteStatement find(db, "SELECT id FROM pages WHERE url = ?1");
    find.bind(1, url);
    if (!find.step()) return std::nullopt;
    return find.integer(0);
}

int64_t EnsurePage(SqliteDb& db, const std::string& url) {
    if (auto id = PageId(db, url)) return *id;
    SqliteStatement insert(db, "INSERT INTO pages(url) VALUES(?1)");
    insert.bind(1, url).run();
    return sqlite3_last_insert_rowid(db.handle());
}

void PutText(SqliteDb& db, int64_t page, int64_t slot, const std::string& body, bool cut, int64_t timeMs) {
    SqliteStatement insert(db,
                           "INSERT OR REPLACE INTO texts(page, slot, body, cut, first_seen, last_seen) "
                           "VALUES(?1, ?2, ?3, ?4, ?5, ?5)");
    insert.bind(1, page).bind(2, slot).bind(3, body).bind(4, cut ? 1 : 0).bind(5, timeMs).run();
}

void StoreText(SqliteDb& db, int64_t page, const CheckRecord& check, std::u16string text, bool cut) {
    std::string body = ToUtf8(text);
    cut = CutUtf8(body, kMaxStoredTextBytes) || cut;
    SqliteStatement latest(db, "SELECT body = ?2 FROM texts WHERE page = ?1 AND slot = 1");
    latest.bind(1, page).bind(2, body);
    if (!latest.step()) {
        PutText(db, page, kLatest, body, cut, check.timeMs);
        return;
    }
    const bool same = latest.integer(0) != 0;
    if (check.outcome == PageStatus::Changed) {
        // Shifted even when the kept part is the same: the change then lies past the cut.
        SqliteStatement(db, "DELETE FROM texts WHERE page = ?1 AND slot = 0").bind(1, page).run();
        SqliteStatement(db, "UPDATE texts SET slot = 0 WHERE page = ?1 AND slot = 1").bind(1, page).run();
        PutText(db, page, kLatest, body, cut, check.timeMs);
    } else if (same) {
        SqliteStatement(db, "UPDATE texts SET last_seen = ?2 WHERE page = ?1 AND slot = 1")
            .bind(1, page)
            .bind(2, check.timeMs)
            .run();
    } else {
        // Other text without a change: the page started afresh (a new URL, new filters), so
        // the old pair no longer describes a change of what is watched now.
        SqliteStatement(db, "DELETE FROM texts WHERE page = ?1").bind(1, page).run();
        PutText(db, page, kLatest, body, cut, check.timeMs);
    }
}

bool Exists(SqliteDb& db, const char* table, int64_t page) {
    SqliteStatement any(db, std::string("SELECT EXISTS(SELECT 1 FROM ") + table + " WHERE page = ?1)");
    any.bind(1, page).step();
    return any.integer(0) != 0;
}

// Hands the checks and texts, and separately the settings, of one page to another that has none
// of its own: moved, or copied when the source stays in use.
void CarryOver(SqliteDb& db, int64_t from, int64_t to, bool copy) {
    const auto carry = [&](const char* table, const char* columns, const char* key) {
        const std::string sql = copy ? std::string("INSERT INTO ") + table + "(page, " + columns +
                                           ") SELECT ?2, " + columns + " FROM " + table +
                                           " WHERE page = ?1 ORDER BY " + key
                                     : std::string("UPDATE ") + table + " SET page = ?2 WHERE page = ?1";
        SqliteStatement(db, sql).bind(1, from).bind(2, to).run();
    };
    if (!Exists(db, "checks", to) && !Exists(db, "texts", to)) {
        carry("checks", "time, duration, outcome, status, detail, size", "id");
        carry("texts", "slot, body, cut, first_seen, last_seen", "slot");
    }
    if (!Exists(db, "settings", to)) {
        carry("settings", "selector_kind, selector, visible_only, failures", "page");
        carry("ignore_lines", "position, pattern", "position");
    }
}

PageStatus StatusOf(int64_t code) {
    return static_cast<PageStatus>(code);
}

CheckRecord ReadCheck(const SqliteStatement& row) {
    CheckRecord check;
    check.timeMs = row.integer(0);
    check.durationMs = row.integer(1);
    check.outcome = StatusOf(row.integer(2));
    check.status = StatusOf(row.integer(3));
    check.detail = FromUtf8(row.text(4));
    check.textBytes = row.integer(5);
    return check;
}

constexpr const char* kCheckColumns = "time, duration, outcome, status, detail, size";

std::map<std::u16string, PageSettings> LoadSettings(SqliteDb& db) {
    std::map<std::u16string, PageSettings> all;
    SqliteStatement rows(db,
                         "SELECT pages.url, selector_kind, selector, visible_only, failures "
                         "FROM settings JOIN pages ON pages.id = settings.page");
    while (rows.step()) {
        PageSettings& settings = all[FromUtf8(rows.text(0))];
        const int64_t kind = rows.integer(1);
        settings.selectorKind = kind == 1   ? SelectorKind::Css
                                : kind == 2 ? SelectorKind::XPath
                                            : SelectorKind::None;
        settings.selector = FromUtf8(rows.text(2));
        settings.visibleTextOnly = rows.integer(3) != 0;
        settings.failuresBeforeOffline = static_cast<int>(
            std::clamp<int64_t>(rows.integer(4), kMinFailuresBeforeOffline, kMaxFailuresBeforeOffline));
    }
    SqliteStatement lines(
        db,
        "SELECT pages.url, pattern FROM ignore_lines JOIN pages ON pages.id = ignore_lines.page "
        "ORDER BY ignore_lines.page, position");
    while (lines.step()) all[FromUtf8(lines.text(0))].ignoreLines.push_back(FromUtf8(lines.text(1)));
    return all;
}

void WriteSettings(SqliteDb& db, const std::string& url, const PageSettings& settings) {
    const int64_t page = EnsurePage(db, url);
    SqliteStatement(db, "DELETE FROM ignore_lines WHERE page = ?1").bind(1, page).run();
    SqliteStatement(db, "INSERT OR REPLACE INTO settings VALUES(?1, ?2, ?3, ?4, ?5)")
        .bind(1, page)
        .bind(2, static_cast<int64_t>(settings.selectorKind))
        .bind(3, ToUtf8(settings.selector))
        .bind(4, settings.visibleTextOnly ? 1 : 0)
        .bind(5, settings.failuresBeforeOffline)
        .run();
    int64_t position = 0;
    for (const auto& pattern : settings.ignoreLines) {
        SqliteStatement(db, "INSERT INTO ignore_lines VALUES(?1, ?2, ?3)")
            .bind(1, page)
            .bind(2, position++)
            .bind(3, ToUtf8(pattern))
            .run();
    }
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
            SqliteStatement version(*reader_, "PRAGMA user_version");
            version.step();
            if (version.integer(0) > kSchemaVersion) {
                reader_.reset();
                disable("History is off: " + path_ + " was written by a newer version");
            }
            return;
        }
        auto writer = std::make_unique<SqliteDb>(path_, false);
        sqlite3_busy_timeout(writer->handle(), kBusyTimeoutMs);
        // A file that is not a database fails here, on the first read of its header.
        SqliteStatement version(*writer, "PRAGMA user_version");
        version.step();
        const int64_t found = version.integer(0);
        version.reset();
        if (found > kSchemaVersion) {
            disable("History is off: " + path_ + " was written by a newer version");
            return;
        }
        SqliteStatement(*writer, "PRAGMA journal_mode=WAL").run();
        // With WAL, NORMAL syncs at checkpoints only: a crash may lose the last checks but never
        // corrupts the file.
        writer->exec("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON");
        InTransaction(*writer, [&] {
            writer->exec(kSchema);
            writer->exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
        });
        settings_ = LoadSettings(*writer);
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
        if (queuedTextBytes_ + textBytes > kMaxQueuedTextBytes) return;
        queuedTextBytes_ += textBytes;
        queue_.emplace_back(std::move(task), textBytes);
        ++enqueued_;
    }
    queueChanged_.notify_all();
}

void HistoryStore::writerLoop() {
    std::unique_lock lock(queueMutex_);
    for (;;) {
        queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        auto [task, textBytes] = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        if (!disabled()) {
            try {
                task(*writer_);
            } catch (const SqliteError& error) {
                // Another connection holding the lock past the time-out costs this write only;
                // anything else (a full disk, a read-only or corrupt file) ends the history.
                if (error.code() != SQLITE_BUSY && error.code() != SQLITE_LOCKED) {
                    disable("History is off: cannot write " + path_ + ": " + error.what());
                }
            } catch (const std::exception&) {
                // Out of memory for one large text: that write is dropped.
            }
        }
        lock.lock();
        queuedTextBytes_ -= textBytes;
        ++done_;
        queueChanged_.notify_all();
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
    if (text) cut = CutUtf16(*text, kMaxStoredTextBytes);
    const size_t textBytes = text ? text->size() * sizeof(char16_t) : 0;
    enqueue(
        [url = ToUtf8(url), check = std::move(check), text = std::move(text), cut](SqliteDb& db) mutable {
            InTransaction(db, [&] {
                const int64_t page = EnsurePage(db, url);
                SqliteStatement(db,
                                "INSERT INTO checks(page, time, duration, outcome, status, detail, size) "
                                "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)")
                    .bind(1, page)
                    .bind(2, check.timeMs)
                    .bind(3, check.durationMs)
                    .bind(4, static_cast<int64_t>(check.outcome))
                    .bind(5, static_cast<int64_t>(check.status))
                    .bind(6, ToUtf8(check.detail))
                    .bind(7, check.textBytes)
                    .run();
                SqliteStatement(db,
                                "DELETE FROM checks WHERE page = ?1 AND id <= (SELECT id FROM checks "
                                "WHERE page = ?1 ORDER BY id DESC LIMIT 1 OFFSET ?2)")
                    .bind(1, page)
                    .bind(2, kMaxChecksPerPage)
                    .run();
                if (text) StoreText(db, page, check, std::move(*text), cut);
            });
        },
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
            InTransaction(db, [&] {
                const auto source = PageId(db, from);
                if (!source) return;
                CarryOver(db, *source, EnsurePage(db, to), fromStillListed);
                if (!fromStillListed)
                    SqliteStatement(db, "DELETE FROM pages WHERE id = ?1").bind(1, *source).run();
            });
        },
        0);
}

void HistoryStore::prune(const std::set<std::u16string>& urls) {
    if (!writer_ || disabled()) return;
    {
        std::lock_guard lock(stateMutex_);
        std::erase_if(settings_, [&](const auto& item) { return !urls.count(item.first); });
    }
    std::vector<std::string> keep;
    keep.reserve(urls.size());
    for (const auto& url : urls) keep.push_back(ToUtf8(url));
    enqueue(
        [keep = std::move(keep)](SqliteDb& db) {
            InTransaction(db, [&] {
                db.exec("CREATE TEMP TABLE IF NOT EXISTS keep(url TEXT PRIMARY KEY); DELETE FROM keep");
                for (const auto& url : keep) {
                    SqliteStatement(db, "INSERT OR IGNORE INTO keep VALUES(?1)").bind(1, url).run();
                }
                db.exec("DELETE FROM pages WHERE url NOT IN (SELECT url FROM keep); DELETE FROM keep");
            });
        },
        0);
}

void HistoryStore::saveSettings(const std::u16string& url, PageSettings settings) {
    if (disabled()) return;
    settings.failuresBeforeOffline =
        std::clamp(settings.failuresBeforeOffline, kMinFailuresBeforeOffline, kMaxFailuresBeforeOffline);
    {
        std::lock_guard lock(stateMutex_);
        settings_[url] = settings;
    }
    enqueue([url = ToUtf8(url),
             settings](SqliteDb& db) { InTransaction(db, [&] { WriteSettings(db, url, settings); }); },
            0);
}

PageSettings HistoryStore::settings(const std::u16string& url) const {
    std::lock_guard lock(stateMutex_);
    auto found = settings_.find(url);
    return found == settings_.end() ? PageSettings{} : found->second;
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
    readSafely([&](SqliteDb& db) {
        SqliteStatement rows(db, std::string("SELECT ") + kCheckColumns +
                                     " FROM checks WHERE page = (SELECT id FROM pages WHERE url = ?1) "
                                     "ORDER BY id DESC LIMIT ?2");
        rows.bind(1, ToUtf8(url)).bind(2, limit);
        while (rows.step()) checks.push_back(ReadCheck(rows));
    });
    return checks;
}

PageSummary HistoryStore::summary(const std::u16string& url) const {
    PageSummary result;
    readSafely([&](SqliteDb& db) {
        db.exec("BEGIN");  // one snapshot for the four reads
        try {
            const auto page = PageId(db, ToUtf8(url));
            if (page) {
                SqliteStatement last(db, std::string("SELECT ") + kCheckColumns +
                                             ", id FROM checks WHERE page = ?1 ORDER BY id DESC LIMIT 1");
                if (last.bind(1, *page).step()) {
                    result.last = ReadCheck(last);
                    SqliteStatement since(
                        db,
                        "SELECT time FROM checks WHERE page = ?1 AND id > (SELECT "
                        "coalesce(max(id), 0) FROM checks WHERE page = ?1 AND status != ?2) "
                        "ORDER BY id LIMIT 1");
                    if (since.bind(1, *page).bind(2, static_cast<int64_t>(result.last->status)).step()) {
                        result.statusSinceMs = since.integer(0);
                    }
                }
                SqliteStatement changed(db,
                                        "SELECT time FROM checks WHERE page = ?1 AND outcome = 1 "
                                        "ORDER BY id DESC LIMIT 1");
                if (changed.bind(1, *page).step()) result.contentChangedMs = changed.integer(0);
                SqliteStatement count(db, "SELECT count(*) FROM checks WHERE page = ?1");
                count.bind(1, *page).step();
                result.checkCount = count.integer(0);
            }
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
    readSafely([&](SqliteDb& db) {
        SqliteStatement rows(db,
                             "SELECT slot, body, cut, first_seen, last_seen FROM texts "
                             "WHERE page = (SELECT id FROM pages WHERE url = ?1)");
        rows.bind(1, ToUtf8(url));
        while (rows.step()) {
            StoredText text{FromUtf8(rows.text(1)), rows.integer(2) != 0, rows.integer(3), rows.integer(4)};
            (rows.integer(0) == kBefore ? result.before : result.latest) = std::move(text);
        }
    });
    return result;
}

}  // namespace vantrel
