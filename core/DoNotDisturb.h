#pragma once
// "Do not disturb": while it is on, checks go on but their announcements are held; when it ends
// (its time is up, or the user turns it off) one message sums up what was held.
#include <cstdint>
#include <optional>

#include "core/AlarmSummary.h"
#include "core/Clock.h"
#include "core/Notifier.h"

namespace vantrel {

// The next time the local clock shows `hour`:00 strictly after `now` ("until tomorrow morning"
// at 08:00 is later today when it is still night).
LocalMillis NextLocalHour(LocalMillis now, int hour);

class DoNotDisturb : public Notifier {
  public:
    static constexpr LocalMillis kHourMs = 3600 * 1000;
    static constexpr int kMorningHour = 8;

    // `next` hears the announcements while it is off, `summaries` the message at its end; both
    // must outlive this object.
    DoNotDisturb(Notifier& next, SummarySink summaries, const Clock& clock);

    void announce(PageStatus newStatus, EntryId id, const std::u16string& label) override;

    // Turns it on until the given local time, or until turned off when `until` is empty. A new
    // choice replaces the old one and keeps what was held so far.
    void start(std::optional<LocalMillis> until);
    // Turns it on again as an earlier run left it: until `until`, or until turned off when it is
    // empty. A time that has passed meanwhile leaves it off, and nothing is summed up: the run
    // that held the messages has ended.
    void resume(std::optional<LocalMillis> until);
    // Ends it now with its summary; nothing when it was off.
    void stop();
    // Ends it when its time is up. Call it every second or so.
    void poll();

    bool on() const { return on_; }
    // The local time it ends at; empty while off or until turned off.
    std::optional<LocalMillis> until() const { return until_; }

  private:
    Notifier& next_;
    SummarySink summaries_;
    const Clock& clock_;
    bool on_ = false;
    std::optional<LocalMillis> until_;
    AnnouncementTally held_;
};

}  // namespace vantrel
