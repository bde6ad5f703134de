#pragma once
// What the notification-area icon's badges say: whether a page is offline, and whether a page
// changed since the user last opened the main window.
#include <unordered_set>

#include "core/PageList.h"

namespace vantrel {

struct Badges {
    bool offline = false;  // a page that was checked and is not paused is offline
    bool changed = false;  // a page still listed was announced changed since the window was opened
    bool operator==(const Badges&) const = default;
};

class Attention {
  public:
    // Hears every announcement, also those held while the user asked for quiet: the icon still
    // tells what needs attention.
    void announced(PageStatus status, EntryId id);
    // The user opened the main window: the changes are seen.
    void windowOpened() { unseen_.clear(); }
    // The badges for the list as it is now. Walks the list: call it once per batch of changes.
    Badges badges(const PageList& list);

  private:
    std::unordered_set<EntryId> unseen_;  // announced changed since the window was last opened
};

}  // namespace vantrel
