#pragma once
// Writes the page list file on a worker thread of its own, so that the window never waits for a
// save. The snapshot is taken by the caller on the thread that owns the list; while one save
// runs, only the newest snapshot waits for its turn (the older ones would be overwritten at once
// anyway). A failed save is reported back on the thread that owns this object.
#include <QObject>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "store/PageListFile.h"

namespace vantrel {

class ListSaver : public QObject {
    Q_OBJECT
  public:
    // Writes a snapshot; throws when it cannot. Called on the worker thread, and on the calling
    // thread by saveNow(), never twice at once.
    using Writer = std::function<void(const PageListSnapshot&)>;
    // Hears of a failed background save, on the thread that owns this object.
    using FailureHandler = std::function<void(const std::exception_ptr&)>;

    ListSaver(Writer write, FailureHandler failed, QObject* parent = nullptr);
    // Finishes the running save and the one waiting (their failures are no longer reported).
    ~ListSaver() override;

    // Hands a snapshot to the worker and returns at once. A snapshot still waiting is replaced.
    void post(PageListSnapshot snapshot);

    // The save at the end of the run: waits for a running save, drops the one waiting (this
    // snapshot is newer), then writes `snapshot` on the calling thread and throws what the
    // writer threw. Failures of the earlier saves are not reported any more: this one decides.
    void saveNow(const PageListSnapshot& snapshot);

    // Returns once no save runs and none waits.
    void waitUntilIdle();

  private:
    void run();
    // Reports the failure the writer left (posted by the writer, by name).
    Q_INVOKABLE void reportFailure();

    Writer write_;
    FailureHandler failed_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<PageListSnapshot> waiting_;
    bool running_ = false;
    bool stopping_ = false;
    // Set on the owner's thread by saveNow(); failures delivered after it are dropped.
    bool superseded_ = false;
    std::exception_ptr failure_;  // under mutex_, until reported
    std::thread worker_;
};

}  // namespace vantrel
