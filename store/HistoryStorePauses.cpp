// The pages whose checks are paused, kept by HistoryStore beside their settings.
#include "store/HistoryStore.h"
#include "store/Sqlite.h"
#include "text/Text.h"

namespace vantrel {

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

}  // namespace vantrel
