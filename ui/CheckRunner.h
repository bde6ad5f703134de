#pragma once
// Runs the check cycle for the main window: the cycle's decisions and every change to the list
// stay on the user-interface thread, while the downloads (get + checksum) run on a pool of worker
// threads, one host and port per worker at a time, so neither the window nor the other servers
// wait for a slow one.
#include <QObject>
#include <memory>

#include "core/CheckCycle.h"
#include "net/PageFetcher.h"

namespace vantrel {

class CheckRunner : public QObject {
    Q_OBJECT
  public:
    CheckRunner(PageList& list, Notifier& notifier, const Clock& clock, FetcherOptions options = {},
                QObject* parent = nullptr);
    // Cancels every download in flight and joins the workers (within 1 s).
    ~CheckRunner() override;

    // A timer tick: hands the entries due now to the workers. Costs next to nothing when none is
    // due. Shows the busy cursor while downloads run.
    void tick();
    bool downloading() const;
    // Cancels every download in flight and forgets what waits; later ticks do nothing.
    void shutdown();

  signals:
    // Everything handed out so far has come back (or nothing was due at a tick).
    void cycleFinished();

  private:
    struct Impl;
    struct Channel;
    static void workerLoop(std::shared_ptr<Channel> channel, size_t slot);
    void start(std::vector<Download> downloads);
    void resultArrived(size_t slot, const Download& download, const DownloadResult& result);
    void updateCursor();

    std::unique_ptr<Impl> d;
};

}  // namespace vantrel
