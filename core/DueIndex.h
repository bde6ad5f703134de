#pragma once
// The entries' due times in order, so the entries due at a given time are found without walking
// the list: two binary heaps over the bounds of DueBoundsOf, one for each side of the stamp.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/DueRule.h"
#include "core/PageEntry.h"

namespace vantrel {

class DueIndex {
    static constexpr uint32_t kNotInHeap = UINT32_MAX;

  public:
    // An entry's place in the index. Its owner keeps one per entry where it does not move (a
    // node-based map) for as long as the entry is in the index; kept small, as every entry of a
    // long list has one for the whole run.
    struct Place {
        EntryId id = 0;
        uint32_t fromAt = kNotInHeap;
        uint32_t untilAt = kNotInHeap;
        bool taken = false;  // handed out by take() and not given back: in neither heap
    };

    DueIndex() = default;
    // The heaps point at their owner's places: moved along, never copied.
    DueIndex(const DueIndex&) = delete;
    DueIndex& operator=(const DueIndex&) = delete;
    DueIndex(DueIndex&&) = default;
    DueIndex& operator=(DueIndex&&) = default;

    void reserve(size_t count);
    // Files the entry by its bounds now, in place of what it had; does nothing while it is taken.
    void update(Place& place, const PageEntry& entry);
    // Takes the entry out (before its place goes away).
    void remove(Place& place);
    // The entries due at `now`, in no particular order, each marked taken: changes to a taken
    // entry do not bring it back until giveBack(). Costs O(log n) per entry, O(1) when none is due.
    std::vector<EntryId> take(LocalMillis now);
    // Whether take(now) would hand out an entry, without taking any. O(1).
    bool anyDue(LocalMillis now) const {
        return (!from_.empty() && from_.top().key <= now) || (!until_.empty() && until_.top().key >= now);
    }
    // Files a taken entry again by its bounds now; does nothing for one not taken.
    void giveBack(Place& place, const PageEntry& entry);

  private:
    // A binary heap of due times that keeps each place told where its element is, so an entry's
    // time is taken out or replaced in O(log n) and nothing stale stays behind.
    class Heap {
      public:
        struct Item {
            int64_t key;
            Place* place;
        };
        // `earliestFirst`: the smallest key on top, else the largest; `at` is the place's field
        // for this heap.
        Heap(bool earliestFirst, uint32_t Place::*at) : earliestFirst_(earliestFirst), at_(at) {}
        bool empty() const { return items_.empty(); }
        void reserve(size_t count) { items_.reserve(count); }
        const Item& top() const { return items_.front(); }
        void push(int64_t key, Place& place);
        // Takes the place's element out, if it has one here.
        void erase(Place& place);

      private:
        bool above(const Item& a, const Item& b) const {
            return earliestFirst_ ? a.key < b.key : a.key > b.key;
        }
        void put(size_t index, const Item& item);
        void siftUp(size_t index);
        void siftDown(size_t index);

        std::vector<Item> items_;
        bool earliestFirst_;
        uint32_t Place::*at_;
    };

    Heap from_{true, &Place::fromAt};     // due once now reaches the key
    Heap until_{false, &Place::untilAt};  // due while now is at most the key
};

}  // namespace vantrel
