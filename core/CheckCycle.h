#pragma once
// The check cycle's rules, free of threads and of any toolkit: which entries are due, in list
// order, and how a download's result changes an entry. Downloads run side by side, at most one
// connection per server: the cycle queues the due entries of each connection key in list order
// and hands out downloads only for keys that have room, so a slow server holds up only its own
// pages. When more servers have work than there are connections, a server gives its connection
// up after a turn of downloads and queues again behind the others, so none waits for long. Results
// may come back in any order.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/CheckReport.h"
#include "core/Clock.h"
#include "core/CoreLimits.h"
#include "core/DueRule.h"
#include "core/NetworkWatch.h"
#include "core/Notifier.h"
#include "core/PageList.h"
#include "filter/FilterSettings.h"

namespace vantrel {

// One download the caller must run: get(url), the page's filters when it has any, then
// checksumText of the text.
struct Download {
    EntryId id = 0;
    uint64_t revision = 0;
    std::u16string url;   // exactly as stored: not trimmed, case unchanged
    std::u16string host;  // the connection key of url (see ConnectionKey)
    // The page's settings as they were when the download was handed out, so a worker never
    // reads them while the user saves new ones.
    PageFilterSettings settings;
    // NetworkWatch::answers() and outages() when it was handed out.
    uint64_t answersAtStart = 0;
    uint64_t outagesAtStart = 0;
};

// What the download produced. `gotText` is false for a failure, for empty text and for a filter
// that failed.
struct DownloadResult {
    bool gotText = false;
    std::u16string checksum;  // checksumText of the (filtered) text when gotText
    // The final response's status line for a page that came ("HTTP/1.1 200 OK"), else why the
    // check failed ("Connection refused", "Filter matched nothing").
    std::u16string detail;
    int64_t durationMs = 0;
    int64_t textBytes = 0;  // size of the (filtered) text in UTF-8
    std::u16string text;    // the (filtered) text for the history; may be cut short
    // For a failure: what it says about this computer's network.
    NetworkClue clue = NetworkClue::Answered;
    // The head of the last request sent, credentials and cookie values masked, and the proxy it
    // went through ("host:port"; empty when direct): for the user's eyes only.
    std::u16string requestHead;
    std::u16string proxy;
};

// Where a page's settings come from: called on the cycle's thread when a page is handed out.
using SettingsProvider = std::function<PageFilterSettings(const std::u16string& url)>;
// Hears every finished check, after its status and stamp are stored: the entry's URL, the
// check as the history keeps it and the text it judged (empty when it got none).
using CheckSink =
    std::function<void(const std::u16string& url, const CheckRecord& check, std::u16string text)>;

// True when the URL is to be downloaded at all (not empty and not exactly "http://").
bool ShouldDownload(std::u16string_view url);

// The connection a URL's download opens, as a key: two URLs with one key are fetched from one
// server over one connection, never at once. Redirects may lead elsewhere; the first request
// decides. The layer that knows URLs supplies it.
using ConnectionKey = std::function<std::u16string(std::u16string_view url)>;

// The entry's new status and checksum after a check with this result. `outcome` is what the check
// found; `status` lags behind it while failures are tolerated: a page that failed fewer than
// `failuresBeforeOffline` times in a row (`failuresInRow` counts this one) keeps its status.
struct Verdict {
    PageStatus outcome = PageStatus::Offline;
    PageStatus status = PageStatus::Offline;
    std::u16string checksum;
};
Verdict Judge(const PageEntry& entry, const DownloadResult& result, int failuresInRow = 1,
              int failuresBeforeOffline = 1);

class CheckCycle {
  public:
    // `keyOf` must be callable: every due URL is keyed on this thread when it joins a queue.
    CheckCycle(PageList& list, const Clock& clock, Notifier& notifier, ConnectionKey keyOf,
               size_t maxHosts = limits::kMaxParallelDownloads,
               size_t aheadPerHost = limits::kDownloadsAheadPerHost,
               size_t downloadsPerTurn = limits::kDownloadsPerTurn);

    // A tick: takes the entries due now, in list order. A "0" or unreadable stamp is cleared;
    // an entry that needs no download is settled at once (offline); the others join the queue
    // of their connection key. Returns the downloads to start now (none when nothing is due or
    // every connection with work is busy). Costs O(1) when nothing is due.
    std::vector<Download> tick();

    // The result of a download handed out. It is dropped when the entry was deleted, or its URL
    // changed or it was reset by "Recheck All" since (it is due again on the next tick).
    // Otherwise the status is announced when it changes, then stored, then the stamp is taken,
    // then the check sink hears of it. Returns the downloads to start now. A download not handed
    // out (after abandon, or a repeated call) changes nothing and gives none.
    std::vector<Download> finish(const Download& download, DownloadResult result);

    // Forgets everything queued or in flight without applying anything more (shutdown); the
    // entries become due again by their stamps.
    void abandon();

    // Without a provider every page has no filters and goes offline at its first failure.
    void setSettingsProvider(SettingsProvider provider) { settingsOf_ = std::move(provider); }
    void setCheckSink(CheckSink sink) { sink_ = std::move(sink); }

    // Failed checks in a row of the entry since its last success (or since it started afresh).
    int failuresInRow(EntryId id) const;

    // The computer woke from sleep (or the program was stopped): checks that fail within the
    // wake grace are put off, and the put-off ones run at the first answer or when it ends.
    void wake();
    // The desktop's network status where it has one: offline puts every check off until it is
    // online again or a server answers all the same; online runs the put-off checks at the next
    // tick.
    void setDesktopOnline(bool online);
    // Checks are put off now: the network is gone, or the computer has just woken.
    bool waitingForNetwork() const { return watch_.puttingOff(); }
    // The entry's check is put off until the network is back.
    bool isPutOff(EntryId id) const { return putOffSet_.count(id) != 0; }
    // Hears every change of waitingForNetwork().
    void setNetworkListener(std::function<void(bool waiting)> listener) {
        networkListener_ = std::move(listener);
    }

    // Handed out and not yet finished.
    size_t inFlight() const { return inFlight_.size(); }
    // Due and waiting for their host.
    size_t waiting() const { return waiting_; }

  private:
    struct Host {
        std::deque<EntryId> queue;  // in list order
        size_t handedOut = 0;
        size_t turn = 0;     // downloads handed out since it got its connection
        bool ready = false;  // listed in readyServed_ or readyNew_
    };
    std::vector<Download> dispatch();
    void enqueue(EntryId id, const std::u16string& host);
    void markReady(const std::u16string& key, Host& host);
    bool turnOver(const Host& host) const;
    void settle(EntryId id, DownloadResult result, const PageFilterSettings& settings);
    bool keepFailure(const Download& download, DownloadResult& result, const PageFilterSettings& settings);
    void putOff(EntryId id);
    void putHeldOff();
    void judgeHeld(LocalMillis olderThan);
    void resumeAll();
    void probeOne();
    void reportNetwork();
    PageFilterSettings settingsFor(const std::u16string& url) const;

    PageList& list_;
    const Clock& clock_;
    Notifier& notifier_;
    ConnectionKey keyOf_;
    size_t maxHosts_;
    size_t aheadPerHost_;
    size_t downloadsPerTurn_;
    std::unordered_map<std::u16string, Host> hosts_;
    // Hosts with queued entries and room, in the order they got it: those with downloads
    // handed out already, and those that need a connection of their own.
    std::deque<std::u16string> readyServed_;
    std::deque<std::u16string> readyNew_;
    size_t busyHosts_ = 0;  // hosts with downloads handed out
    size_t waiting_ = 0;
    std::unordered_map<EntryId, Download> inFlight_;
    SettingsProvider settingsOf_;
    CheckSink sink_;
    // Entries failing now. The count belongs to one revision of the entry: a new URL, new
    // filters or "Recheck All" start it over.
    struct Failures {
        uint64_t revision = 0;
        int count = 0;
    };
    std::unordered_map<EntryId, Failures> failures_;

    NetworkWatch watch_;
    // Checks put off until the network is back, in the order they were put off; they stay taken
    // out of the due index meanwhile.
    std::deque<EntryId> putOff_;
    std::unordered_set<EntryId> putOffSet_;
    // Checks that timed out and wait for a sign of whose fault it was: an answer from any server
    // (their own), more servers timing out (the network's) or the end of the confirmation window
    // (their own). Taken out of the due index meanwhile.
    struct Held {
        EntryId id = 0;
        uint64_t revision = 0;
        DownloadResult result;
        PageFilterSettings settings;
        LocalMillis since = 0;
    };
    std::vector<Held> held_;
    std::function<void(bool)> networkListener_;
    bool reportedWaiting_ = false;
};

}  // namespace vantrel
