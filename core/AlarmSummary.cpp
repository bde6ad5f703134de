#include "core/AlarmSummary.h"

#include <algorithm>
#include <array>

#include "text/Text.h"

namespace vantrel {

namespace {

// The three kinds a summary counts, gravest first. A status code outside the three (a
// hand-edited list file) reads as online, as it does in a single page's message.
constexpr std::array<PageStatus, 3> kKinds = {PageStatus::Offline, PageStatus::Changed, PageStatus::Online};

PageStatus KindOf(PageStatus status) {
    return status == PageStatus::Offline || status == PageStatus::Changed ? status : PageStatus::Online;
}

std::u16string_view Word(PageStatus kind) {
    switch (kind) {
        case PageStatus::Offline:
            return u"offline";
        case PageStatus::Changed:
            return u"changed";
        default:
            return u"online";
    }
}

// "are offline" / "is online" / "have changed", after a count of pages.
std::u16string Verb(PageStatus kind, size_t count) {
    if (kind == PageStatus::Changed) return count == 1 ? u"has changed" : u"have changed";
    return std::u16string(count == 1 ? u"is " : u"are ") + std::u16string(Word(kind));
}

std::u16string Pages(size_t count) {
    return IntToText(static_cast<int64_t>(count)) + (count == 1 ? u" web page" : u" web pages");
}

// The first few labels of one kind, with "…" when there are more.
std::u16string Labels(const std::vector<Announcement>& items, PageStatus kind) {
    std::u16string text;
    size_t shown = 0;
    for (const Announcement& item : items) {
        if (KindOf(item.status) != kind) continue;
        if (shown == AnnouncementTally::kLabelsShown) return text + u", …";
        if (shown++ > 0) text += u", ";
        text += item.label;
    }
    return text;
}

}  // namespace

void AnnouncementTally::add(Announcement announcement) {
    const auto [place, added] = placeOf_.try_emplace(announcement.id, items_.size());
    if (added) {
        items_.push_back(std::move(announcement));
        return;
    }
    Announcement& same = items_[place->second];
    same.status = announcement.status;
    same.label = std::move(announcement.label);
}

std::u16string AnnouncementTally::text() const {
    if (items_.empty()) return {};
    std::array<size_t, kKinds.size()> counts{};
    for (const Announcement& item : items_) {
        for (size_t k = 0; k < kKinds.size(); ++k) counts[k] += KindOf(item.status) == kKinds[k] ? 1 : 0;
    }
    for (size_t k = 0; k < kKinds.size(); ++k) {
        if (counts[k] == items_.size())
            return Pages(items_.size()) + u" " + Verb(kKinds[k], items_.size()) + u": " +
                   Labels(items_, kKinds[k]);
    }
    std::u16string text = Pages(items_.size()) + u" changed status: ";
    bool first = true;
    for (size_t k = 0; k < kKinds.size(); ++k) {
        if (counts[k] == 0) continue;
        if (!first) text += u", ";
        first = false;
        text += IntToText(static_cast<int64_t>(counts[k])) + u" " + std::u16string(Word(kKinds[k])) + u" (" +
                Labels(items_, kKinds[k]) + u")";
    }
    return text + u".";
}

PageStatus AnnouncementTally::gravest() const {
    for (const PageStatus kind : kKinds) {
        if (std::any_of(items_.begin(), items_.end(),
                        [&](const Announcement& item) { return KindOf(item.status) == kind; }))
            return kind;
    }
    return PageStatus::Online;
}

}  // namespace vantrel
