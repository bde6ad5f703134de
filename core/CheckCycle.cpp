#include "core/CheckCycle.h"

#include "core/Text.h"

namespace vantrel {

namespace {

constexpr int64_t kMillisPerSecond = 1000;
constexpr int64_t kMillisPerMinute = 60000;

}  // namespace

DueDecision DecideDue(const PageEntry& entry, LocalMillis now) {
    if (entry.stamp().empty()) return {true, false};
    int64_t seconds = ReadStamp(entry.stamp());
    if (seconds == 0) return {true, true};

    // A stamp far outside the clock's range is at least an interval away from now; the
    // overflow checks keep such a stamp from wrapping into a small distance.
    int64_t lastCheck = 0;
    int64_t difference = 0;
    if (__builtin_mul_overflow(seconds, kMillisPerSecond, &lastCheck) ||
        __builtin_sub_overflow(now, lastCheck, &difference)) {
        return {true, false};
    }
    // The absolute distance, so a stamp in the future (the clock was set back) also runs out.
    uint64_t distance =
        difference < 0 ? uint64_t{0} - static_cast<uint64_t>(difference) : static_cast<uint64_t>(difference);
    uint64_t elapsedMinutes = distance / kMillisPerMinute;
    int minutes = IntervalMinutes(entry.interval());
    return {elapsedMinutes >= static_cast<uint64_t>(minutes), false};
}

bool ShouldDownload(std::u16string_view url) {
    return !url.empty() && url != u"http://";
}

Verdict Judge(const PageEntry& entry, const DownloadResult& result) {
    Verdict verdict;
    if (!result.gotText) {
        verdict.status = PageStatus::Offline;
        verdict.checksum = entry.checksum();
        return verdict;
    }
    verdict.status = PageStatus::Online;
    if (!entry.checksum().empty() && entry.checksum() != result.checksum)
        verdict.status = PageStatus::Changed;
    verdict.checksum = result.checksum;
    return verdict;
}

CheckCycle::CheckCycle(PageList& list, const Clock& clock, Notifier& notifier)
    : list_(list), clock_(clock), notifier_(notifier) {}

std::optional<Download> CheckCycle::tick() {
    if (running_) return std::nullopt;
    pending_.clear();
    pending_.reserve(list_.size());
    for (const PageEntry& entry : list_.entries()) pending_.push_back(entry.id);
    next_ = 0;
    running_ = true;
    return advance();
}

std::optional<Download> CheckCycle::finish(const Download& download, const DownloadResult& result) {
    // Only the download handed out last belongs to this cycle; anything else (a late answer
    // after abandon, a repeated call) changes nothing.
    if (!running_ || !inFlight_ || inFlight_->id != download.id || inFlight_->revision != download.revision) {
        return std::nullopt;
    }
    inFlight_.reset();
    const PageEntry* entry = list_.find(download.id);
    // A deleted entry is gone; a reset one (new URL, "Recheck All") waits for the next tick, so
    // the answer for the old URL or the old request never lands on it.
    if (entry && entry->revision == download.revision) settle(download.id, result);
    return advance();
}

void CheckCycle::abandon() {
    running_ = false;
    inFlight_.reset();
    pending_.clear();
    next_ = 0;
}

std::optional<Download> CheckCycle::advance() {
    while (running_ && next_ < pending_.size()) {
        EntryId id = pending_[next_++];
        const PageEntry* entry = list_.find(id);
        if (!entry) continue;
        DueDecision decision = DecideDue(*entry, clock_.now());
        if (decision.clearStamp) list_.setColumn(id, kStamp, std::u16string());
        if (!decision.due) continue;
        entry = list_.find(id);
        if (!entry) continue;
        if (!ShouldDownload(entry->url())) {
            settle(id, DownloadResult{});
            continue;
        }
        inFlight_ = Download{id, entry->revision, entry->url()};
        return inFlight_;
    }
    abandon();
    return std::nullopt;
}

void CheckCycle::settle(EntryId id, const DownloadResult& result) {
    const PageEntry* entry = list_.find(id);
    if (!entry) return;
    Verdict verdict = Judge(*entry, result);
    list_.setColumn(id, kChecksum, std::move(verdict.checksum));
    entry = list_.find(id);
    if (!entry) return;
    if (verdict.status != entry->status) {
        // The label is copied: the notifier may reach back into the list.
        std::u16string label = entry->label;
        notifier_.announce(verdict.status, label);
    }
    list_.setStatus(id, verdict.status);
    // Taken now, after the download, so a slow or failing page is retried a full interval later.
    list_.setColumn(id, kStamp, IntToText(LastCheckStamp(clock_.now())));
}

}  // namespace vantrel
