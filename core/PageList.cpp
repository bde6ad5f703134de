#include "core/PageList.h"

#include <algorithm>

#include "core/Text.h"

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
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].id == id) return i;
    }
    return std::nullopt;
}

const PageEntry* PageList::find(EntryId id) const {
    auto position = positionOf(id);
    return position ? &entries_[*position] : nullptr;
}

PageEntry* PageList::findMutable(EntryId id) {
    auto position = positionOf(id);
    return position ? &entries_[*position] : nullptr;
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
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(position), std::move(entry));
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

    notifyChanged(id);
    if (labelChanged && sorted_) sortNow();
}

void PageList::remove(EntryId id) {
    auto position = positionOf(id);
    if (!position) return;
    if (observer_) observer_->aboutToRemove(*position);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(*position));
    if (observer_) observer_->removed(*position);
}

void PageList::checkNow(EntryId id) {
    PageEntry* entry = findMutable(id);
    if (!entry) return;
    entry->columns[kStamp].clear();
    ++entry->revision;
    notifyChanged(id);
}

void PageList::recheckAll() {
    for (size_t i = 0; i < entries_.size(); ++i) {
        PageEntry& entry = entries_[i];
        entry.status = PageStatus::Offline;
        entry.columns[kStamp].clear();
        ++entry.revision;
        if (observer_) observer_->changed(i);
    }
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
    notifyChanged(id);
}

void PageList::sortNow() {
    auto less = [this](const PageEntry& a, const PageEntry& b) { return compare_(a.label, b.label) < 0; };
    // A stable sort of a sorted list moves nothing; a view need not hear of it.
    if (std::is_sorted(entries_.begin(), entries_.end(), less)) return;
    if (observer_) observer_->aboutToReorder();
    std::stable_sort(entries_.begin(), entries_.end(), less);
    if (observer_) observer_->reordered();
}

void PageList::notifyChanged(EntryId id) {
    if (!observer_) return;
    if (auto position = positionOf(id)) observer_->changed(*position);
}

}  // namespace vantrel
