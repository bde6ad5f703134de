#include "core/Attention.h"

#include <algorithm>

namespace vantrel {

void Attention::announced(PageStatus status, EntryId id) {
    if (status == PageStatus::Changed) unseen_.insert(id);
}

Badges Attention::badges(const PageList& list) {
    // A deleted page's change is no longer anything to look at.
    std::erase_if(unseen_, [&](EntryId id) { return list.find(id) == nullptr; });
    Badges badges;
    badges.changed = !unseen_.empty();
    // A page not checked since it was added or since "Recheck All" shows offline without being
    // known to be; a paused page is not watched, so its last status asks for nothing.
    badges.offline = std::any_of(list.entries().begin(), list.entries().end(), [&](const PageEntry& entry) {
        return entry.status == PageStatus::Offline && !entry.stamp().empty() && !list.pausedUntil(entry.id);
    });
    return badges;
}

}  // namespace vantrel
