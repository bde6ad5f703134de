#include "core/DueRule.h"

#include <algorithm>
#include <limits>

namespace vantrel {

namespace {

constexpr int64_t kMillisPerSecond = 1000;
constexpr int64_t kMillisPerMinute = 60000;

// The bounds of an entry last checked at `seconds` (0: never, or a stamp that reads as nothing).
DueBounds BoundsOf(int64_t seconds, std::u16string_view interval) {
    constexpr int64_t kSmallest = std::numeric_limits<int64_t>::min();
    constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();
    if (seconds == 0) return {kSmallest, std::nullopt};
    // Exact in 128 bits: the entry is due when |now - stamp| >= interval. Whole minutes count,
    // and |now - stamp| / 60000 >= minutes holds exactly when the distance in milliseconds
    // reaches minutes * 60000. A bound past the clock's range never applies or always does.
    const __int128 lastCheck = static_cast<__int128>(seconds) * kMillisPerSecond;
    const __int128 span = static_cast<__int128>(IntervalMinutes(interval)) * kMillisPerMinute;
    const __int128 from = lastCheck + span;
    const __int128 until = lastCheck - span;
    DueBounds bounds;
    if (from <= kLargest) bounds.from = static_cast<int64_t>(std::max<__int128>(from, kSmallest));
    if (until >= kSmallest) bounds.until = static_cast<int64_t>(std::min<__int128>(until, kLargest));
    return bounds;
}

}  // namespace

DueBounds DueBoundsOf(const PageEntry& entry) {
    return BoundsOf(ReadStamp(entry.stamp()), entry.interval());
}

DueDecision DecideDue(const PageEntry& entry, LocalMillis now) {
    const int64_t seconds = ReadStamp(entry.stamp());
    return {BoundsOf(seconds, entry.interval()).holdAt(now), seconds == 0 && !entry.stamp().empty()};
}

}  // namespace vantrel
