// The writes queued for HistoryStore's writer: the checks, the pages' settings and pauses, a
// changed URL, and the pages gone from the list. Each runs on the writer's thread inside a batch.
#include "store/HistoryStore.h"

#include <algorithm>

#include "store/Sqlite.h"
#include "text/Text.h"

namespace vantrel {
namespace {

// Cuts UTF-16 to at most `limit` code units without splitting a surrogate pair.
bool CutUtf16(std::u16string& text, size_t limit) {
    if (text.size() <= limit) return false;
    size_t end = limit;
    if (end > 0 && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) --end;
    text.resize(end);
    return true;
}

// Cuts UTF-8 to at most `limit` bytes without splitting a character.
bool CutUtf8(std::string& bytes, size_t limit) {
    if (bytes.size() <= limit) return false;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) --end;
    bytes.resize(end);
    return true;
}

}  // namespace

void HistoryStore::record(const std::u16string& url, CheckRecord check, std::optional<std::u16string> text) {
    if (access_ != Access::ReadWrite || disabled()) return;
    bool cut = false;
    // The writer is handed the text as it is stored, in UTF-8, half the size of UTF-16 for most
    // pages. The downloaded text goes here, on the thread that received it, so its memory is
    // free again for the next download rather than held, in a burst, until the writer's turn.
    std::optional<std::string> body;
    if (text) {
        cut = CutUtf16(*text, limits::kMaxStoredTextBytes);
        body = ToUtf8(*text);
        cut = CutUtf8(*body, limits::kMaxStoredTextBytes) || cut;
    }
    const size_t textBytes = body ? body->size() : 0;
    enqueue([url = ToUtf8(url), check = std::move(check), body = std::move(body),
             cut](SqliteDb& db) { history::AddCheck(db, url, check, body, cut); },
            textBytes, true);
}

void HistoryStore::savePause(const std::u16string& url, std::optional<int64_t> until) {
    if (access_ != Access::ReadWrite || disabled()) return;
    {
        std::lock_guard lock(stateMutex_);
        if (until)
            pauses_[url] = *until;
        else
            pauses_.erase(url);
    }
    // Each queued write runs inside the writer's batch transaction.
    enqueue([url = ToUtf8(url), until](SqliteDb& db) { history::WritePause(db, url, until); }, 0);
}

std::map<std::u16string, int64_t> HistoryStore::pauses() const {
    std::lock_guard lock(stateMutex_);
    return pauses_;
}

void HistoryStore::renameUrl(const std::u16string& from, const std::u16string& to, bool fromStillListed) {
    if (from == to || access_ != Access::ReadWrite || disabled()) return;
    {
        std::lock_guard lock(stateMutex_);
        // The same rule as the file's, so settings() needs no wait for the writer.
        auto found = settings_.find(from);
        if (found != settings_.end() && !settings_.count(to)) {
            settings_[to] = found->second;
            if (!fromStillListed) settings_.erase(from);
        }
    }
    enqueue([from = ToUtf8(from), to = ToUtf8(to),
             fromStillListed](SqliteDb& db) { history::RenameUrl(db, from, to, fromStillListed); },
            0);
}

void HistoryStore::prune(const std::set<std::u16string>& urls) {
    if (urls.empty() || access_ != Access::ReadWrite || disabled()) return;
    {
        std::lock_guard lock(stateMutex_);
        std::erase_if(settings_, [&](const auto& item) { return !urls.count(item.first); });
        std::erase_if(pauses_, [&](const auto& item) { return !urls.count(item.first); });
    }
    std::vector<std::string> keep;
    keep.reserve(urls.size());
    for (const auto& url : urls) keep.push_back(ToUtf8(url));
    enqueue([keep = std::move(keep)](SqliteDb& db) { history::Prune(db, keep); }, 0);
}

void HistoryStore::saveSettings(const std::u16string& url, PageFilterSettings settings) {
    if (disabled()) return;
    settings.failuresBeforeOffline =
        std::clamp(settings.failuresBeforeOffline, kMinFailuresBeforeOffline, kMaxFailuresBeforeOffline);
    settings.request.authPassword.clear();
    {
        std::lock_guard lock(stateMutex_);
        settings_[url] = settings;
    }
    enqueue([url = ToUtf8(url), settings](SqliteDb& db) { history::WriteSettings(db, url, settings); }, 0);
}

}  // namespace vantrel
