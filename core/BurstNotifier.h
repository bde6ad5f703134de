#pragma once
// Folds a burst of announcements into one message. Up to three announcements within two seconds
// pass on at once with their own texts; from the fourth on, the rest of those two seconds is held
// and then told as one summary that counts the whole burst ("12 web pages are offline: Shop,
// News, …"). While a burst goes on (announcements keep coming less than two seconds after the
// last summary) everything is held from the start, so a long stream of results gives one message
// every two seconds rather than three singles each time. So a lone announcement is shown at once,
// and one is held (two seconds at most) only from the fourth of a burst or just after one.
#include <optional>

#include "core/AlarmSummary.h"
#include "core/Clock.h"
#include "core/Notifier.h"

namespace vantrel {

class BurstNotifier : public Notifier {
  public:
    static constexpr LocalMillis kWindowMs = 2000;
    static constexpr size_t kMaxSingles = 3;

    // `singles` hears the announcements passed on one by one, `summaries` the burst messages;
    // both must outlive this object.
    BurstNotifier(Notifier& singles, SummarySink summaries, const Clock& clock);

    void announce(PageStatus newStatus, EntryId id, const std::u16string& label) override;
    // Tells what a window that is over held. Call it at least every few hundred milliseconds
    // while due() says so; announce() closes an expired window by itself.
    void poll();
    // A window is open: poll() has work to do when it ends.
    bool due() const { return windowEnd_.has_value(); }

  private:
    void close(LocalMillis now);

    Notifier& singles_;
    SummarySink summaries_;
    const Clock& clock_;
    std::optional<LocalMillis> windowStart_;
    std::optional<LocalMillis> windowEnd_;
    bool holding_ = false;  // this window passes nothing on
    // The last window was a burst, closed at `lastClose_`: a window that starts less than two
    // seconds later continues it.
    bool burstBefore_ = false;
    LocalMillis lastClose_ = 0;
    size_t heard_ = 0;  // announcements in this window
    AnnouncementTally tally_;
};

}  // namespace vantrel
