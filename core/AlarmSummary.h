#pragma once
// The one message that stands for several announcements (a burst of them, or those held while the
// user asked for quiet): how many pages went offline, came back or changed, with the first few
// labels of each.
#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/PageEntry.h"

namespace vantrel {

// One announcement as the notifier heard it.
struct Announcement {
    PageStatus status = PageStatus::Online;
    EntryId id = 0;
    std::u16string label;
};

// Where a message about several pages goes: its text, and the most pressing status it reports
// (Offline before Changed before Online), which picks the message's kind.
using SummarySink = std::function<void(const std::u16string& text, PageStatus gravest)>;

// The announcements of a stretch of time, one per page: a page announced again keeps its first
// place and takes its latest status, so a page that went offline and came back is counted once.
class AnnouncementTally {
  public:
    static constexpr size_t kLabelsShown = 3;

    void add(Announcement announcement);
    void clear() {
        items_.clear();
        placeOf_.clear();
    }
    bool empty() const { return items_.empty(); }
    size_t size() const { return items_.size(); }
    const std::vector<Announcement>& items() const { return items_; }

    // "12 web pages are offline: Shop, News, Mail, …" when all went one way;
    // "5 web pages changed status: 3 offline (Shop, News, Mail), 2 online (Blog, Wiki)." when
    // they went several ways. Empty when nothing was added.
    std::u16string text() const;
    PageStatus gravest() const;

  private:
    std::vector<Announcement> items_;
    std::unordered_map<EntryId, size_t> placeOf_;  // index in items_ by page
};

}  // namespace vantrel
