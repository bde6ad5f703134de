#include "core/DoNotDisturb.h"

#include <utility>

namespace vantrel {

namespace {

constexpr LocalMillis kDayMs = 24 * DoNotDisturb::kHourMs;

// Days since 1970-01-01 rounded down, also before it.
LocalMillis FloorDay(LocalMillis time) {
    LocalMillis day = time / kDayMs;
    if (time % kDayMs < 0) --day;
    return day * kDayMs;
}

}  // namespace

LocalMillis NextLocalHour(LocalMillis now, int hour) {
    const LocalMillis today = FloorDay(now) + hour * DoNotDisturb::kHourMs;
    return today > now ? today : today + kDayMs;
}

DoNotDisturb::DoNotDisturb(Notifier& next, SummarySink summaries, const Clock& clock)
    : next_(next), summaries_(std::move(summaries)), clock_(clock) {}

void DoNotDisturb::announce(PageStatus newStatus, EntryId id, const std::u16string& label) {
    // The time may be up without a poll since (a machine that slept through the end).
    poll();
    if (on_)
        held_.add(Announcement{newStatus, id, label});
    else
        next_.announce(newStatus, id, label);
}

void DoNotDisturb::start(std::optional<LocalMillis> until) {
    on_ = true;
    until_ = until;
}

void DoNotDisturb::resume(std::optional<LocalMillis> until) {
    if (until && clock_.now() >= *until) return;
    start(until);
}

void DoNotDisturb::stop() {
    if (!on_) return;
    on_ = false;
    until_.reset();
    // Emptied before the message goes out, so a summary sink that announces again starts afresh.
    const AnnouncementTally held = std::move(held_);
    held_.clear();
    if (held.empty())
        summaries_(u"Do not disturb has ended. No web page changed its status meanwhile.",
                   PageStatus::Online);
    else
        summaries_(u"Do not disturb has ended. " + held.text(), held.gravest());
}

void DoNotDisturb::poll() {
    if (on_ && until_ && clock_.now() >= *until_) stop();
}

}  // namespace vantrel
