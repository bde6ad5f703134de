#pragma once
// Where the check cycle announces a change of a page's status (the notification-area icon).
#include <string>

#include "core/PageEntry.h"

namespace vantrel {

class Notifier {
  public:
    virtual ~Notifier() = default;
    // `id` is the entry's: two pages may share a label, and a click on the announcement must
    // lead to the page it was about.
    virtual void announce(PageStatus newStatus, EntryId id, const std::u16string& label) = 0;
};

}  // namespace vantrel
