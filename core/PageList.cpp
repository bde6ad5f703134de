#include "core/PageList.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "text/Text.h"

namespace vantrel {

namespace {

int CodeUnitCompare(const std::u16string& a, const std::u16string& b) {
    int result = a.compare(b);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

constexpr int64_t kMillisPerSecond = 1000;
constexpr int64_t kMillisPerMinute = 60000;

}  // namespace

DueBounds DueBoundsOf(const PageEntry& entry) {
    constexpr int64_t kSmallest = std::numeric_limits<int64_t>::min();
    constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();
    if (entry.stamp().empty()) return {kSmallest, std::nullopt};
    const int64_t seconds = ReadStamp(entry.stamp());
    if (seconds == 0) return {kSmallest, std::nullopt};
    // Exact in 128 bits: the entry is due when |now - stamp| >= interval, and a stamp whose
    // milliseconds do not fit 64 bits is at least an interval away from any time that does.
    const __int128 lastCheck = static_cast<__int128>(seconds) * kMillisPerSecond;
    if (lastCheck < kSmallest || lastCheck > kLargest) return {kSmallest, std::nullopt};
    const __int128 span = static_cast<__int128>(IntervalMinutes(entry.interval())) * kMillisPerMinute;
    DueBounds bounds;
    if (lastCheck + span <= kLargest) bounds.from = static_cast<int64_t>(lastCheck + span);
    if (lastCheck - span >= kSmallest) bounds.until = static_cast<int64_t>(lastCheck - span);
    return bounds;
}

PageList::PageList(LabelCompare compare) : compare_(compare ? std::move(compare) : CodeUnitCompare) {}

void PageList::setCompare(LabelCompare compare) {
    compare_ = compare ? std::move(compare) : CodeUnitCompare;
    if (sorted_) sortNow();
}

std::optional<size_t> PageList::positionOf(EntryId id) const {
    const auto it = slots_.find(id);
    if (it == slots_.end()) return std::nullopt;
    return it->second.position;
}

const PageEntry* PageList::find(EntryId id) const {
    auto position = positionOf(id);
    return position ? &entries_[*position] : nullptr;
}

PageEntry* PageList::findMutable(EntryId id) {
    auto position = positionOf(id);
    return position ? &entries_[*position] : nullptr;
}

void PageList::renumber(size_t from) {
    for (size_t i = from; i < entries_.size(); ++i) slots_.at(entries_[i].id).position = i;
}

EntryId PageList::add(std::u16string_view label, std::u16string_view url, int intervalIndex) {
    PageEntry entry;
    entry.label = Trim(label);
    entry.status = PageStatus::Offline;
    entry.columns[kUrl] = Trim(url);
    entry.columns[kInterval] = IntToText(intervalIndex);
    return insertEntry(std::move(entry));
}

EntryId PageList::insertLoaded(PageEntry entry) {
    entry.revision = 0;
    return insertEntry(std::move(entry));
}

void PageList::insertLoaded(std::vector<PageEntry> entries) {
    if (observer_) observer_->aboutToReset();
    entries_.reserve(entries_.size() + entries.size());
    slots_.reserve(entries_.size() + entries.size());
    dueFrom_.reserve(entries_.size() + entries.size());
    dueUntil_.reserve(entries_.size() + entries.size());
    for (PageEntry& entry : entries) {
        entry.id = nextId_++;
        entry.revision = 0;
        slots_[entry.id].id = entry.id;
        indexDue(entry);
        entries_.push_back(std::move(entry));
    }
    if (sorted_) {
        auto less = [this](const PageEntry& a, const PageEntry& b) { return compare_(a.label, b.label) < 0; };
        std::stable_sort(entries_.begin(), entries_.end(), less);
    }
    renumber(0);
    if (observer_) observer_->wasReset();
}

EntryId PageList::insertEntry(PageEntry entry) {
    entry.id = nextId_++;
    size_t position = entries_.size();
    if (sorted_) {
        // After every equal label, so equal labels keep the order in which they came.
        auto it = std::upper_bound(
            entries_.begin(), entries_.end(), entry,
            [this](const PageEntry& a, const PageEntry& b) { return compare_(a.label, b.label) < 0; });
        position = static_cast<size_t>(it - entries_.begin());
    }
    EntryId id = entry.id;
    if (observer_) observer_->aboutToInsert(position);
    slots_[id].id = id;
    indexDue(entry);
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(position), std::move(entry));
    renumber(position);
    if (observer_) observer_->inserted(position);
    return id;
}

void PageList::edit(EntryId id, std::u16string_view label, std::u16string_view url, int intervalIndex,
                    bool changedBoxShown, bool changedBoxTicked) {
    PageEntry* entry = findMutable(id);
    if (!entry) return;

    // Clearing the box acknowledges the change: the page is shown online at once, without an
    // announcement. This applies on top of whatever a check set while the dialog was open; the
    // next check corrects it if the page is in fact offline.
    if (changedBoxShown && !changedBoxTicked) entry->status = PageStatus::Online;

    std::u16string newLabel = Trim(label);
    bool labelChanged = newLabel != entry->label;
    entry->label = std::move(newLabel);

    std::u16string newUrl = Trim(url);
    if (newUrl != entry->columns[kUrl]) {
        entry->columns[kUrl] = std::move(newUrl);
        entry->columns[kStamp].clear();
        entry->columns[kChecksum].clear();
        entry->status = PageStatus::Offline;
        ++entry->revision;
    }

    entry->columns[kInterval] = IntToText(intervalIndex);
    indexDue(*entry);

    notifyChanged(id);
    if (labelChanged && sorted_) sortNow();
}

void PageList::remove(EntryId id) {
    auto position = positionOf(id);
    if (!position) return;
    if (observer_) observer_->aboutToRemove(*position);
    const auto slot = slots_.find(id);
    unindexDue(slot->second);
    slots_.erase(slot);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(*position));
    renumber(*position);
    if (observer_) observer_->removed(*position);
}

void PageList::checkNow(EntryId id) {
    PageEntry* entry = findMutable(id);
    if (!entry) return;
    entry->columns[kStamp].clear();
    ++entry->revision;
    indexDue(*entry);
    notifyChanged(id);
}

void PageList::recheckAll() {
    for (PageEntry& entry : entries_) {
        entry.status = PageStatus::Offline;
        entry.columns[kStamp].clear();
        ++entry.revision;
        indexDue(entry);
    }
    if (observer_ && !entries_.empty()) observer_->changedRange(0, entries_.size() - 1);
}

void PageList::startAfresh(EntryId id) {
    PageEntry* entry = findMutable(id);
    if (!entry) return;
    entry->columns[kStamp].clear();
    entry->columns[kChecksum].clear();
    ++entry->revision;
    indexDue(*entry);
    notifyChanged(id);
}

void PageList::setSorted(bool on) {
    sorted_ = on;
    if (on) sortNow();
}

void PageList::setStatus(EntryId id, PageStatus status) {
    PageEntry* entry = findMutable(id);
    if (!entry || entry->status == status) return;
    entry->status = status;
    notifyChanged(id);
}

void PageList::setColumn(EntryId id, Column column, std::u16string text) {
    PageEntry* entry = findMutable(id);
    if (!entry || column < 0 || column >= kColumnCount) return;
    std::u16string& field = entry->columns[static_cast<size_t>(column)];
    if (field == text) return;
    field = std::move(text);
    if (column == kStamp || column == kInterval) indexDue(*entry);
    notifyChanged(id);
}

void PageList::sortNow() {
    auto less = [this](const PageEntry& a, const PageEntry& b) { return compare_(a.label, b.label) < 0; };
    // A stable sort of a sorted list moves nothing; a view need not hear of it.
    if (std::is_sorted(entries_.begin(), entries_.end(), less)) return;
    if (observer_) observer_->aboutToReorder();
    std::stable_sort(entries_.begin(), entries_.end(), less);
    renumber(0);
    if (observer_) observer_->reordered();
}

void PageList::notifyChanged(EntryId id) {
    if (!observer_) return;
    if (auto position = positionOf(id)) observer_->changed(*position);
}

void PageList::DueHeap::place(size_t index, const Item& item) {
    items_[index] = item;
    item.slot->*at_ = static_cast<uint32_t>(index);
}

void PageList::DueHeap::siftUp(size_t index) {
    const Item item = items_[index];
    while (index > 0) {
        const size_t parent = (index - 1) / 2;
        if (!above(item, items_[parent])) break;
        place(index, items_[parent]);
        index = parent;
    }
    place(index, item);
}

void PageList::DueHeap::siftDown(size_t index) {
    const Item item = items_[index];
    const size_t count = items_.size();
    for (;;) {
        size_t child = 2 * index + 1;
        if (child >= count) break;
        if (child + 1 < count && above(items_[child + 1], items_[child])) ++child;
        if (!above(items_[child], item)) break;
        place(index, items_[child]);
        index = child;
    }
    place(index, item);
}

void PageList::DueHeap::push(int64_t key, Slot& slot) {
    items_.push_back({key, &slot});
    siftUp(items_.size() - 1);
}

void PageList::DueHeap::erase(Slot& slot) {
    const uint32_t index = std::exchange(slot.*at_, kNotInHeap);
    if (index == kNotInHeap) return;
    const Item last = items_.back();
    items_.pop_back();
    if (index == items_.size()) return;
    // The last element fills the hole and moves whichever way its key asks.
    place(index, last);
    if (index > 0 && above(last, items_[(index - 1) / 2]))
        siftUp(index);
    else
        siftDown(index);
}

void PageList::unindexDue(Slot& slot) {
    dueFrom_.erase(slot);
    dueUntil_.erase(slot);
}

void PageList::indexDue(const PageEntry& entry) {
    Slot& slot = slots_.at(entry.id);
    if (slot.taken) return;
    unindexDue(slot);
    const DueBounds bounds = DueBoundsOf(entry);
    if (bounds.from) dueFrom_.push(*bounds.from, slot);
    if (bounds.until) dueUntil_.push(*bounds.until, slot);
}

std::vector<EntryId> PageList::takeDue(LocalMillis now) {
    std::vector<std::pair<size_t, EntryId>> due;
    auto take = [&](Slot& slot) {
        unindexDue(slot);
        slot.taken = true;
        due.emplace_back(slot.position, slot.id);
    };
    while (!dueFrom_.empty() && dueFrom_.top().key <= now) take(*dueFrom_.top().slot);
    while (!dueUntil_.empty() && dueUntil_.top().key >= now) take(*dueUntil_.top().slot);
    std::sort(due.begin(), due.end());
    std::vector<EntryId> ids;
    ids.reserve(due.size());
    for (const auto& [position, id] : due) ids.push_back(id);
    return ids;
}

void PageList::release(EntryId id) {
    const auto slot = slots_.find(id);
    if (slot == slots_.end() || !slot->second.taken) return;
    slot->second.taken = false;
    if (const PageEntry* entry = find(id)) indexDue(*entry);
}

}  // namespace vantrel
