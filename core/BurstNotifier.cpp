#include "core/BurstNotifier.h"

#include <utility>

namespace vantrel {

BurstNotifier::BurstNotifier(Notifier& singles, SummarySink summaries, const Clock& clock)
    : singles_(singles), summaries_(std::move(summaries)), clock_(clock) {}

void BurstNotifier::announce(PageStatus newStatus, EntryId id, const std::u16string& label) {
    const LocalMillis now = clock_.now();
    // A window is over once two seconds have passed, or when the clock was set back before its
    // start (local time, so a change of time zone or summer time does that too).
    if (windowEnd_ && (now >= *windowEnd_ || now < *windowStart_)) close(now);
    if (!windowEnd_) {
        windowStart_ = now;
        windowEnd_ = now + kWindowMs;
        heard_ = 0;
        holding_ = burstBefore_ && now >= lastClose_ && now < lastClose_ + kWindowMs;
    }
    tally_.add(Announcement{newStatus, id, label});
    if (++heard_ > kMaxSingles) holding_ = true;
    if (!holding_) singles_.announce(newStatus, id, label);
}

void BurstNotifier::poll() {
    const LocalMillis now = clock_.now();
    if (windowEnd_ && (now >= *windowEnd_ || now < *windowStart_)) close(now);
}

void BurstNotifier::close(LocalMillis now) {
    const bool burst = heard_ > kMaxSingles;
    if (holding_ && !burst) {
        // A burst that tailed off: what came after the last summary was held, but is few enough
        // for a message of its own each.
        for (const Announcement& item : tally_.items()) singles_.announce(item.status, item.id, item.label);
    } else if (burst) {
        summaries_(tally_.text(), tally_.gravest());
    }
    burstBefore_ = burst;
    lastClose_ = now;
    windowStart_.reset();
    windowEnd_.reset();
    tally_.clear();
}

}  // namespace vantrel
