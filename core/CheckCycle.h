#pragma once
// The check cycle's rules, free of threads and of any toolkit: which entries are due, in list
// order, and how a download's result changes an entry. The caller runs each download (possibly
// on another thread) and hands the result back; one cycle runs at a time.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/Notifier.h"
#include "core/PageList.h"

namespace vantrel {

// One download the caller must run: get(url), then checksumText of the text.
struct Download {
    EntryId id = 0;
    uint64_t revision = 0;
    std::u16string url;  // exactly as stored: not trimmed, case unchanged
};

// What the download produced. `gotText` is false for a failure and for empty text.
struct DownloadResult {
    bool gotText = false;
    std::u16string checksum;  // checksumText of the text when gotText
};

// Whether an entry is due now (and whether its stamp must be cleared first: "0" or not a number).
struct DueDecision {
    bool due = false;
    bool clearStamp = false;
};
DueDecision DecideDue(const PageEntry& entry, LocalMillis now);

// True when the URL is to be downloaded at all (not empty and not exactly "http://").
bool ShouldDownload(std::u16string_view url);

// The entry's new status and checksum after a check with this result.
struct Verdict {
    PageStatus status = PageStatus::Offline;
    std::u16string checksum;
};
Verdict Judge(const PageEntry& entry, const DownloadResult& result);

class CheckCycle {
  public:
    CheckCycle(PageList& list, const Clock& clock, Notifier& notifier);

    bool running() const { return running_; }

    // A tick: starts a cycle over the entries present now unless one runs. Entries that are due
    // but need no download are settled at once. Returns the first download to run, or nullopt
    // when the cycle ended (or one was already running).
    std::optional<Download> tick();

    // The result of the download last returned. It is dropped when the entry was deleted, or its
    // URL changed or it was reset by "Recheck All" since (it is due again on the next tick).
    // Otherwise the status is announced when it changes, then stored, then the stamp is taken.
    // Returns the next download of this cycle, or nullopt when the cycle ended. A download that
    // is not the one in flight (after abandon, or a repeated call) changes nothing and gives
    // nullopt.
    std::optional<Download> finish(const Download& download, const DownloadResult& result);

    // Ends the running cycle without applying anything more (shutdown).
    void abandon();

  private:
    std::optional<Download> advance();
    void settle(EntryId id, const DownloadResult& result);

    PageList& list_;
    const Clock& clock_;
    Notifier& notifier_;
    bool running_ = false;
    std::vector<EntryId> pending_;  // ids still to visit, in list order at the cycle's start
    size_t next_ = 0;
    std::optional<Download> inFlight_;
};

}  // namespace vantrel
