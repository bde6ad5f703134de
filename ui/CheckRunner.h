#pragma once
// Runs the check cycle for the main window: the cycle's decisions and every change to the list
// stay on the user-interface thread, while the checks (check/RunCheck.h) run on a pool of worker
// threads, one host and port per worker at a time, so neither the window nor the other servers
// wait for a slow one. The results are handed back to the user-interface thread. Workers start
// as downloads need them, up to one per server fetched from at once, and end when idle.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "core/CheckCycle.h"
#include "net/PageFetcher.h"

namespace vantrel {

class CheckRunner : public QObject {
    Q_OBJECT
  public:
    CheckRunner(PageList& list, Notifier& notifier, const Clock& clock, FetcherOptions options = {},
                QObject* parent = nullptr);
    // Shuts the runner down (see shutdown()).
    ~CheckRunner() override;

    // A timer tick: hands the entries due now to the workers. Costs next to nothing when none is
    // due.
    void tick();
    bool downloading() const;
    // Cancels every download in flight and forgets what waits; later ticks do nothing. Returns
    // once every worker has ended (within the cancel's latency) and every name look-up a
    // cancelled download left behind has ended too: no thread of the runner outlives it.
    void shutdown();

    // Where each page's filters and failure count come from (called on this thread when its
    // download is handed out; the worker gets a copy). Without one no page has filters.
    void setSettingsProvider(SettingsProvider provider);
    // The proxies of every check handed out from now on; a worker's kept connection goes with
    // the old ones.
    void setProxy(ProxySettings proxy);
    // The cookies every check sends and stores, for cookies brought in from a browser's file.
    std::shared_ptr<CookieStore> cookies() const;

    // The network: the computer woke from sleep, or the desktop's status changed (see
    // CheckCycle::wake and CheckCycle::setDesktopOnline).
    void wake();
    void setDesktopOnline(bool online);
    // Checks are put off now because the network is gone or the computer has just woken.
    bool waitingForNetwork() const;
    // The page's check is put off until the network is back.
    bool isPutOff(EntryId id) const;

    // Hears every finished check right after checkFinished, with the text handed over rather than
    // copied (the window's thread applies hundreds of results a second in a large cycle).
    using CheckSink =
        std::function<void(const std::u16string& url, const CheckRecord& check, std::u16string text)>;
    void setCheckSink(CheckSink sink);

  signals:
    // waitingForNetwork() changed.
    void networkWaitChanged(bool waiting);
    // Downloads are running (true) or the last of them has ended (false): the window shows the
    // busy cursor meanwhile.
    void busyChanged(bool busy);
    // Everything handed out so far has come back (or nothing was due at a tick).
    void cycleFinished();
    // A check ended and its result was applied to the entry (status and stamp), in the same step:
    // the entry's URL, the check as the history keeps it, the text it judged (filtered when the
    // page has filters; empty when it got none). Emitted on this object's thread.
    void checkFinished(const QString& url, const vantrel::CheckRecord& check, const std::u16string& text);
    // Before checkFinished: the head of the check's last request as sent (credentials masked) and
    // the proxy it went through (empty when direct).
    void requestSent(const QString& url, const QString& head, const QString& proxy);

  private:
    // Applies the results the workers left in the channel (posted by a worker, by name).
    Q_INVOKABLE void takeResults();

    struct Impl;
    struct Channel;
    static void workerLoop(std::shared_ptr<Channel> channel, size_t slot);
    void start(std::vector<Download> downloads);
    void resultArrived(size_t slot, const Download& download, DownloadResult result);
    void updateBusy();

    std::unique_ptr<Impl> d;
};

}  // namespace vantrel
