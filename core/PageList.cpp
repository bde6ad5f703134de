#include "core/PageList.h"

#include <algorithm>
#include <utility>

#include "text/Text.h"

namespace vantrel {

namespace {

int CodeUnitCompare(const std::u16string& a, const std::u16string& b) {
    int result = a.compare(b);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

}  // namespace

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
    flushChanges();
    if (observer_) observer_->aboutToReset();
    entries_.reserve(entries_.size() + entries.size());
    slots_.reserve(entries_.size() + entries.size());
    due_.reserve(entries_.size() + entries.size());
    for (PageEntry& entry : entries) {
        entry.id = nextId_++;
        entry.revision = 0;
        slots_[entry.id].due.id = entry.id;
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
    flushChanges();
    if (observer_) observer_->aboutToInsert(position);
    slots_[id].due.id = id;
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
    flushChanges();
    if (observer_) observer_->aboutToRemove(*position);
    const auto slot = slots_.find(id);
    due_.remove(slot->second.due);
    paused_.erase(id);
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
    flushChanges();
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
    flushChanges();
    if (observer_) observer_->aboutToReorder();
    std::stable_sort(entries_.begin(), entries_.end(), less);
    renumber(0);
    if (observer_) observer_->reordered();
}

void PageList::notifyChanged(EntryId id) {
    if (!observer_) return;
    if (holds_ > 0) {
        heldChanges_.push_back(id);  // repeats go at the flush
        return;
    }
    if (auto position = positionOf(id)) observer_->changed(*position);
}

void PageList::releaseChanges() {
    if (holds_ > 0 && --holds_ == 0) flushChanges();
}

void PageList::flushChanges() {
    if (heldChanges_.empty()) return;
    std::vector<size_t> positions;
    positions.reserve(heldChanges_.size());
    for (EntryId id : heldChanges_)
        if (auto position = positionOf(id)) positions.push_back(*position);
    heldChanges_.clear();
    if (!observer_) return;
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    // Neighbouring rows go as one range.
    for (size_t i = 0; i < positions.size();) {
        size_t last = i;
        while (last + 1 < positions.size() && positions[last + 1] == positions[last] + 1) ++last;
        if (last == i)
            observer_->changed(positions[i]);
        else
            observer_->changedRange(positions[i], positions[last]);
        i = last + 1;
    }
}

void PageList::indexDue(const PageEntry& entry) {
    Slot& slot = slots_.at(entry.id);
    if (slot.pausedUntil)
        due_.remove(slot.due);
    else
        due_.update(slot.due, entry);
}

std::vector<EntryId> PageList::takeDue(LocalMillis now) {
    std::vector<EntryId> due = due_.take(now);
    // In list order, as the check cycle queues them.
    std::vector<std::pair<size_t, EntryId>> placed;
    placed.reserve(due.size());
    for (const EntryId id : due) placed.emplace_back(slots_.at(id).position, id);
    std::sort(placed.begin(), placed.end());
    for (size_t i = 0; i < placed.size(); ++i) due[i] = placed[i].second;
    return due;
}

void PageList::release(EntryId id) {
    const auto slot = slots_.find(id);
    if (slot == slots_.end()) return;
    due_.giveBack(slot->second.due, entries_[slot->second.position]);
    // Paused while its check ran: it stays out.
    if (slot->second.pausedUntil) due_.remove(slot->second.due);
}

void PageList::pause(EntryId id, LocalMillis until) {
    const auto slot = slots_.find(id);
    if (slot == slots_.end()) return;
    slot->second.pausedUntil = until;
    paused_[id] = until;
    due_.remove(slot->second.due);
    notifyChanged(id);
}

void PageList::resume(EntryId id) {
    const auto slot = slots_.find(id);
    if (slot == slots_.end() || !slot->second.pausedUntil) return;
    slot->second.pausedUntil.reset();
    paused_.erase(id);
    indexDue(entries_[slot->second.position]);
    notifyChanged(id);
}

std::optional<LocalMillis> PageList::pausedUntil(EntryId id) const {
    const auto slot = slots_.find(id);
    return slot == slots_.end() ? std::nullopt : slot->second.pausedUntil;
}

std::vector<EntryId> PageList::resumeExpired(LocalMillis now) {
    std::vector<EntryId> over;
    for (const auto& [id, until] : paused_)
        if (until != kPausedForGood && now >= until) over.push_back(id);
    for (const EntryId id : over) resume(id);
    return over;
}

}  // namespace vantrel
