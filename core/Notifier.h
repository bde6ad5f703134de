#pragma once
// Where the check cycle announces a change of a page's status (the notification-area icon).
#include <string>

#include "core/PageEntry.h"

namespace vantrel {

class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void announce(PageStatus newStatus, const std::u16string& label) = 0;
};

}  // namespace vantrel
