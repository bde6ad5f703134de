#pragma once
// Runs the check cycle for the main window: the cycle's decisions and every change to the list
// stay on the user-interface thread, while each download (get + checksum) runs on one worker
// thread, one at a time, so the window never freezes.
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
    // Cancels a download in flight and joins the worker (within 1 s).
    ~CheckRunner() override;

    // A timer tick: starts a cycle unless one is running. Shows the busy cursor while a download
    // runs and restores it after every download, failed ones included.
    void tick();
    bool downloading() const;
    // Cancels the download in flight and abandons the cycle; later ticks do nothing.
    void shutdown();

  signals:
    void cycleFinished();

  private:
    struct Impl;
    struct Channel;
    static void workerLoop(std::shared_ptr<Channel> channel);
    void startDownload(Download download);
    void resultArrived(uint64_t sequence, DownloadResult result);
    void restoreCursor();

    std::unique_ptr<Impl> d;
};

}  // namespace vantrel
