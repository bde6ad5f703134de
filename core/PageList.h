#pragma once
// The ordered list of watched pages and the only operations by which the user changes it.
// Entries are addressed by position for display and by EntryId everywhere else; an index from id
// to position keeps every lookup O(1). The due index orders the entries by the times at which they
// fall due, so the check cycle finds what is due without walking the list.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/DueIndex.h"
#include "core/PageEntry.h"

namespace vantrel {

// Three-way label comparison (<0, 0, >0). The UI supplies a linguistic one; the default
// compares UTF-16 code units.
using LabelCompare = std::function<int(const std::u16string&, const std::u16string&)>;

// Told of every change, so a view can follow the list. Positions are those before the change
// for the "about to" calls and after it for the others.
class PageListObserver {
  public:
    virtual ~PageListObserver() = default;
    virtual void aboutToInsert(size_t /*position*/) {}
    virtual void inserted(size_t /*position*/) {}
    virtual void aboutToRemove(size_t /*position*/) {}
    virtual void removed(size_t /*position*/) {}
    virtual void aboutToReorder() {}
    virtual void reordered() {}
    virtual void changed(size_t /*position*/) {}
    // Every entry from `first` to `last` (inclusive) changed at once.
    virtual void changedRange(size_t first, size_t last) {
        for (size_t i = first; i <= last; ++i) changed(i);
    }
    // The whole content is replaced (a bulk load).
    virtual void aboutToReset() {}
    virtual void wasReset() {}
};

class PageList {
  public:
    explicit PageList(LabelCompare compare = {});
    // The due index points into the list's own slots: moved along, never copied.
    PageList(const PageList&) = delete;
    PageList& operator=(const PageList&) = delete;
    PageList(PageList&&) = default;
    PageList& operator=(PageList&&) = default;

    void setObserver(PageListObserver* observer) { observer_ = observer; }
    void setCompare(LabelCompare compare);

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const PageEntry& at(size_t position) const { return entries_.at(position); }
    const std::vector<PageEntry>& entries() const { return entries_; }

    // Position of the entry with this id, or nullopt when it was deleted.
    std::optional<size_t> positionOf(EntryId id) const;
    const PageEntry* find(EntryId id) const;

    // Appends an entry with the trimmed label and URL, the index as decimal text, empty stamp and
    // checksum, status offline; with sorting on it takes its place by label.
    EntryId add(std::u16string_view label, std::u16string_view url, int intervalIndex);

    // Appends an entry as read from a file (label, status and columns used as given, a fresh id);
    // with sorting on it takes its place by label.
    EntryId insertLoaded(PageEntry entry);

    // Appends many entries as read from a file, in their order (fresh ids), then sorts once when
    // sorting is on, equal labels keeping their order. The observer hears one reset.
    void insertLoaded(std::vector<PageEntry> entries);

    // Applies the dialog's result in order: a cleared changed box sets online (whatever a
    // check set meanwhile); the label is replaced (re-sorting when it differs and sorting is
    // on); a URL that differs exactly empties stamp and checksum, sets offline and bumps the
    // revision; the interval becomes the index as decimal text.
    // Does nothing for an id that no longer exists.
    void edit(EntryId id, std::u16string_view label, std::u16string_view url, int intervalIndex,
              bool changedBoxShown, bool changedBoxTicked);

    void remove(EntryId id);

    // The user's "Check Now": the entry is due at the next tick (empty stamp) and a check of it in
    // flight no longer applies (revision bumped); its status and checksum stay as they are.
    void checkNow(EntryId id);

    // Every entry offline with an empty stamp; URLs, intervals and checksums kept.
    void recheckAll();

    // The page's filters changed: its stored checksum no longer compares with what the next
    // check computes, so it is emptied (the next check is online, not changed), the stamp too
    // (checked at the next tick) and the revision bumped (a check in flight no longer applies).
    // The status is kept. Does nothing for an id that no longer exists.
    void startAfresh(EntryId id);

    // Sorting on sorts at once (stable) and keeps the list sorted whenever a label is set to a
    // different text; off keeps the current order.
    void setSorted(bool on);
    bool sorted() const { return sorted_; }

    // Until the last holdChanges() is matched by releaseChanges(), a change to an entry reaches
    // the observer once, then (or at once when the observer is to hear anything else, or at
    // flushChanges()): results applied together cost a view one update per row, not one per
    // field of each. Nested holds count.
    void holdChanges() { ++holds_; }
    void releaseChanges();
    void flushChanges();

    // Used by the check cycle; neither re-sorts.
    void setStatus(EntryId id, PageStatus status);
    void setColumn(EntryId id, Column column, std::u16string text);

    // The entries due at `now`, in list order. They are taken out of the due index until
    // release(): changes to a taken entry do not bring it back, so a check in flight is never
    // handed out twice. Costs O(log n) per entry returned, O(1) when none is due.
    std::vector<EntryId> takeDue(LocalMillis now);
    // Whether takeDue(now) would return an entry. O(1).
    bool anyDue(LocalMillis now) const { return due_.anyDue(now); }
    // Puts a taken entry back into the due index by its current stamp and interval.
    void release(EntryId id);

    // The user's "Pause checks": the entry leaves the due index until `until` (local time;
    // kPausedForGood: until resumed); a check in flight still lands. resume() files it again by
    // its stamp. Both do nothing for an id that no longer exists.
    static constexpr LocalMillis kPausedForGood = INT64_MAX;
    void pause(EntryId id, LocalMillis until);
    void resume(EntryId id);
    // When the entry's pause ends; nullopt when it is not paused.
    std::optional<LocalMillis> pausedUntil(EntryId id) const;
    // Resumes the entries whose pause is over at `now` and returns them. O(1) when none is paused.
    std::vector<EntryId> resumeExpired(LocalMillis now);

  private:
    // Per entry: its position and its place in the due index.
    struct Slot {
        size_t position = 0;
        DueIndex::Place due;
        std::optional<LocalMillis> pausedUntil;
    };

    PageEntry* findMutable(EntryId id);
    EntryId insertEntry(PageEntry entry);
    void sortNow();
    void renumber(size_t from);
    void notifyChanged(EntryId id);
    void indexDue(const PageEntry& entry);

    std::vector<PageEntry> entries_;
    std::unordered_map<EntryId, Slot> slots_;
    DueIndex due_;
    std::unordered_map<EntryId, LocalMillis> paused_;  // the paused entries, for resumeExpired()
    LabelCompare compare_;
    PageListObserver* observer_ = nullptr;
    int holds_ = 0;
    std::vector<EntryId> heldChanges_;  // changed while held, in the order of the changes
    bool sorted_ = false;
    EntryId nextId_ = 1;
};

}  // namespace vantrel
