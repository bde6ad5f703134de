#include "core/CheckCycle.h"

#include <algorithm>
#include <utility>

#include "text/Text.h"

namespace vantrel {

namespace {

// Past the largest failure count that matters, counting on changes nothing.
constexpr int kMaxCountedFailures = kMaxFailuresBeforeOffline;

// The check of an entry that is never downloaded (no URL, or exactly "http://").
DownloadResult NothingToDownload() {
    DownloadResult result;
    result.detail = u"No URL to check";
    return result;
}

// Runs `undo` at scope exit unless dismissed: a failure half way through (the notifier may throw)
// must not leave entries taken out of the due index for good.
template <class Undo>
class OnFailure {
  public:
    explicit OnFailure(Undo undo) : undo_(std::move(undo)) {}
    ~OnFailure() {
        if (armed_) undo_();
    }
    OnFailure(const OnFailure&) = delete;
    OnFailure& operator=(const OnFailure&) = delete;
    void dismiss() { armed_ = false; }

  private:
    Undo undo_;
    bool armed_ = true;
};

}  // namespace

bool ShouldDownload(std::u16string_view url) {
    return !url.empty() && url != u"http://";
}

Verdict Judge(const PageEntry& entry, const DownloadResult& result, int failuresInRow,
              int failuresBeforeOffline) {
    Verdict verdict;
    if (!result.gotText) {
        verdict.outcome = PageStatus::Offline;
        // Tolerated failures leave the status as it was: no balloon for a page that is back at
        // the next check. A page offline already stays so, also without a new balloon.
        verdict.status = failuresInRow < failuresBeforeOffline ? entry.status : PageStatus::Offline;
        verdict.checksum = entry.checksum();
        return verdict;
    }
    verdict.outcome = PageStatus::Online;
    if (!entry.checksum().empty() && entry.checksum() != result.checksum)
        verdict.outcome = PageStatus::Changed;
    verdict.status = verdict.outcome;
    verdict.checksum = result.checksum;
    return verdict;
}

CheckCycle::CheckCycle(PageList& list, const Clock& clock, Notifier& notifier, ConnectionKey keyOf,
                       size_t maxHosts, size_t aheadPerHost, size_t downloadsPerTurn)
    : list_(list),
      clock_(clock),
      notifier_(notifier),
      keyOf_(std::move(keyOf)),
      maxHosts_(maxHosts == 0 ? 1 : maxHosts),
      aheadPerHost_(aheadPerHost == 0 ? 1 : aheadPerHost),
      downloadsPerTurn_(downloadsPerTurn == 0 ? 1 : downloadsPerTurn) {}

std::vector<Download> CheckCycle::tick() {
    const LocalMillis now = clock_.now();
    const std::vector<EntryId> due = list_.takeDue(now);
    // Counts of deleted entries go once they outnumber the entries.
    if (failures_.size() > list_.size())
        std::erase_if(failures_, [&](const auto& item) { return list_.find(item.first) == nullptr; });
    size_t next = 0;
    OnFailure releaseRest([&] {
        for (size_t i = next; i < due.size(); ++i) list_.release(due[i]);
    });
    while (next < due.size()) {
        const EntryId id = due[next++];
        const PageEntry* entry = list_.find(id);
        if (!entry) continue;
        if (DecideDue(*entry, now).clearStamp) list_.setColumn(id, kStamp, std::u16string());
        if (!ShouldDownload(entry->url())) {
            OnFailure release([&] { list_.release(id); });
            settle(id, NothingToDownload(), settingsFor(entry->url()));
            continue;
        }
        enqueue(id, keyOf_(entry->url()));
    }
    releaseRest.dismiss();
    return dispatch();
}

std::vector<Download> CheckCycle::finish(const Download& download, DownloadResult result) {
    const auto it = inFlight_.find(download.id);
    // Only a download handed out and not yet finished counts; anything else (a late answer
    // after abandon, a repeated call) changes nothing.
    if (it == inFlight_.end() || it->second.revision != download.revision || it->second.host != download.host)
        return {};
    const Download held = std::move(it->second);
    inFlight_.erase(it);
    Host& host = hosts_[held.host];
    if (--host.handedOut == 0) --busyHosts_;
    markReady(held.host, host);
    {
        OnFailure release([&] { list_.release(held.id); });
        const PageEntry* entry = list_.find(held.id);
        // A deleted entry is gone; a reset one (new URL, "Recheck All") is due again by its
        // cleared stamp, so the answer for the old URL or the old request never lands on it.
        if (entry && entry->revision == held.revision) settle(held.id, std::move(result), held.settings);
    }
    if (host.queue.empty() && host.handedOut == 0 && !host.ready) hosts_.erase(held.host);
    return dispatch();
}

void CheckCycle::abandon() {
    for (auto& [key, host] : hosts_) {
        for (EntryId id : host.queue) list_.release(id);
    }
    for (const auto& [id, download] : inFlight_) list_.release(id);
    hosts_.clear();
    readyServed_.clear();
    readyNew_.clear();
    inFlight_.clear();
    busyHosts_ = 0;
    waiting_ = 0;
}

void CheckCycle::enqueue(EntryId id, const std::u16string& key) {
    Host& host = hosts_[key];
    host.queue.push_back(id);
    ++waiting_;
    markReady(key, host);
}

bool CheckCycle::turnOver(const Host& host) const {
    // Only hosts waiting for a connection end another's turn: alone, a host keeps its connection.
    return host.handedOut > 0 && host.turn >= downloadsPerTurn_ && !readyNew_.empty();
}

void CheckCycle::markReady(const std::u16string& key, Host& host) {
    // A host whose turn is over queues again for a connection once its downloads are back.
    if (host.ready || host.queue.empty() || host.handedOut >= aheadPerHost_ || turnOver(host)) return;
    host.ready = true;
    // A host already served needs no new connection for its next download.
    (host.handedOut > 0 ? readyServed_ : readyNew_).push_back(key);
}

std::vector<Download> CheckCycle::dispatch() {
    std::vector<Download> started;
    const LocalMillis now = clock_.now();
    const auto serve = [&](const std::u16string& key) {
        Host& host = hosts_[key];
        host.ready = false;
        while (!host.queue.empty() && host.handedOut < aheadPerHost_ && !turnOver(host)) {
            if (host.handedOut == 0 && busyHosts_ >= maxHosts_) {
                // Every connection is taken: the host keeps its place at the front.
                host.ready = true;
                readyNew_.push_front(key);
                return;
            }
            const EntryId id = host.queue.front();
            host.queue.pop_front();
            --waiting_;
            const PageEntry* entry = list_.find(id);
            if (!entry) continue;
            OnFailure release([&] { list_.release(id); });
            // The entry may have been edited or paused while it waited.
            if (!DecideDue(*entry, now).due || list_.pausedUntil(id)) continue;
            if (!ShouldDownload(entry->url())) {
                settle(id, NothingToDownload(), settingsFor(entry->url()));
                continue;
            }
            std::u16string entryHost = keyOf_(entry->url());
            PageFilterSettings settings = entryHost == key ? settingsFor(entry->url()) : PageFilterSettings{};
            release.dismiss();
            if (entryHost != key) {
                enqueue(id, entryHost);
                continue;
            }
            if (host.handedOut++ == 0) {
                ++busyHosts_;
                host.turn = 0;
            }
            ++host.turn;
            Download download{id, entry->revision, entry->url(), key, std::move(settings)};
            inFlight_.emplace(id, download);
            started.push_back(std::move(download));
        }
        if (host.queue.empty() && host.handedOut == 0) hosts_.erase(key);
    };
    while (!readyServed_.empty()) {
        const std::u16string key = std::move(readyServed_.front());
        readyServed_.pop_front();
        serve(key);
    }
    while (busyHosts_ < maxHosts_ && !readyNew_.empty()) {
        const std::u16string key = std::move(readyNew_.front());
        readyNew_.pop_front();
        serve(key);
    }
    return started;
}

int CheckCycle::failuresInRow(EntryId id) const {
    const auto found = failures_.find(id);
    const PageEntry* entry = list_.find(id);
    return found != failures_.end() && entry && found->second.revision == entry->revision
               ? found->second.count
               : 0;
}

PageFilterSettings CheckCycle::settingsFor(const std::u16string& url) const {
    return settingsOf_ ? settingsOf_(url) : PageFilterSettings{};
}

void CheckCycle::settle(EntryId id, DownloadResult result, const PageFilterSettings& settings) {
    const PageEntry* entry = list_.find(id);
    if (!entry) {
        failures_.erase(id);
        return;
    }
    int failures = 0;
    if (result.gotText) {
        failures_.erase(id);
    } else {
        Failures& counted = failures_[id];
        if (counted.revision != entry->revision) counted = Failures{entry->revision, 0};
        counted.count = std::min(counted.count + 1, kMaxCountedFailures);
        failures = counted.count;
    }
    const int allowed =
        std::clamp(settings.failuresBeforeOffline, kMinFailuresBeforeOffline, kMaxFailuresBeforeOffline);
    Verdict verdict = Judge(*entry, result, failures, allowed);
    list_.setColumn(id, kChecksum, std::move(verdict.checksum));
    entry = list_.find(id);
    if (!entry) return;
    // Copied: the notifier and the sink may reach back into the list.
    const std::u16string url = entry->url();
    if (verdict.status != entry->status) {
        std::u16string label = entry->label;
        notifier_.announce(verdict.status, id, label);
    }
    list_.setStatus(id, verdict.status);
    // Taken now, after the download, so a slow or failing page is retried a full interval later.
    const LocalMillis now = clock_.now();
    list_.setColumn(id, kStamp, IntToText(LastCheckStamp(now)));
    if (!sink_) return;
    CheckRecord check;
    check.timeMs = LocalToUtcMs(now);
    check.durationMs = result.durationMs;
    check.outcome = verdict.outcome;
    check.status = verdict.status;
    check.detail = std::move(result.detail);
    check.textBytes = result.gotText ? result.textBytes : 0;
    sink_(url, check, result.gotText ? std::move(result.text) : std::u16string());
}

}  // namespace vantrel
