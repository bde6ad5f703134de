// The reads of HistoryStore, on the caller's thread beside the writer's.
#include "store/HistoryStore.h"
#include "store/Sqlite.h"
#include "text/Text.h"

namespace vantrel {

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
