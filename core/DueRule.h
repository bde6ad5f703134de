#pragma once
// When an entry falls due: once the whole minutes between its stamp and now reach its interval,
// the distance counted either way, so a stamp in the future (the clock was set back) runs out
// too. One computation serves both users: the check cycle's decision at one time and the bounds
// the due index orders entries by.
#include <cstdint>
#include <optional>

#include "core/PageEntry.h"

namespace vantrel {

// The times at which an entry is due: now >= `from` or now <= `until`. An empty bound never
// applies; an entry with an empty, zero or unreadable stamp is due from the smallest time on.
struct DueBounds {
    std::optional<int64_t> from;
    std::optional<int64_t> until;

    bool holdAt(LocalMillis now) const { return (from && now >= *from) || (until && now <= *until); }
};
DueBounds DueBoundsOf(const PageEntry& entry);

// Whether an entry is due now (and whether its stamp must be cleared first: "0" or not a number).
struct DueDecision {
    bool due = false;
    bool clearStamp = false;
};
DueDecision DecideDue(const PageEntry& entry, LocalMillis now);

}  // namespace vantrel
