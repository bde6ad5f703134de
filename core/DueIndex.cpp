#include "core/DueIndex.h"

#include <utility>

namespace vantrel {

void DueIndex::Heap::put(size_t index, const Item& item) {
    items_[index] = item;
    item.place->*at_ = static_cast<uint32_t>(index);
}

void DueIndex::Heap::siftUp(size_t index) {
    const Item item = items_[index];
    while (index > 0) {
        const size_t parent = (index - 1) / 2;
        if (!above(item, items_[parent])) break;
        put(index, items_[parent]);
        index = parent;
    }
    put(index, item);
}

void DueIndex::Heap::siftDown(size_t index) {
    const Item item = items_[index];
    const size_t count = items_.size();
    for (;;) {
        size_t child = 2 * index + 1;
        if (child >= count) break;
        if (child + 1 < count && above(items_[child + 1], items_[child])) ++child;
        if (!above(items_[child], item)) break;
        put(index, items_[child]);
        index = child;
    }
    put(index, item);
}

void DueIndex::Heap::push(int64_t key, Place& place) {
    items_.push_back({key, &place});
    siftUp(items_.size() - 1);
}

void DueIndex::Heap::erase(Place& place) {
    const uint32_t index = std::exchange(place.*at_, kNotInHeap);
    if (index == kNotInHeap) return;
    const Item last = items_.back();
    items_.pop_back();
    if (index == items_.size()) return;
    // The last element fills the hole and moves whichever way its key asks.
    put(index, last);
    if (index > 0 && above(last, items_[(index - 1) / 2]))
        siftUp(index);
    else
        siftDown(index);
}

void DueIndex::reserve(size_t count) {
    from_.reserve(count);
    until_.reserve(count);
}

void DueIndex::update(Place& place, const PageEntry& entry) {
    if (place.taken) return;
    remove(place);
    const DueBounds bounds = DueBoundsOf(entry);
    if (bounds.from) from_.push(*bounds.from, place);
    if (bounds.until) until_.push(*bounds.until, place);
}

void DueIndex::remove(Place& place) {
    from_.erase(place);
    until_.erase(place);
}

std::vector<EntryId> DueIndex::take(LocalMillis now) {
    std::vector<EntryId> due;
    const auto takeOut = [&](Place& place) {
        remove(place);
        place.taken = true;
        due.push_back(place.id);
    };
    while (!from_.empty() && from_.top().key <= now) takeOut(*from_.top().place);
    while (!until_.empty() && until_.top().key >= now) takeOut(*until_.top().place);
    return due;
}

void DueIndex::giveBack(Place& place, const PageEntry& entry) {
    if (!place.taken) return;
    place.taken = false;
    update(place, entry);
}

}  // namespace vantrel
