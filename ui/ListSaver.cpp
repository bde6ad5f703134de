#include "ui/ListSaver.h"

#include <QMetaObject>
#include <utility>

namespace vantrel {

ListSaver::ListSaver(Writer write, FailureHandler failed, QObject* parent)
    : QObject(parent), write_(std::move(write)), failed_(std::move(failed)) {}

ListSaver::~ListSaver() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    // The worker writes what still waits before it ends: a change the user made is not lost
    // because the program ends without the final save.
    if (worker_.joinable()) worker_.join();
}

void ListSaver::post(PageListSnapshot snapshot) {
    {
        std::lock_guard lock(mutex_);
        waiting_ = std::move(snapshot);
        // Started with the first save: a run without changes never needs the thread.
        if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
    }
    changed_.notify_all();
}

void ListSaver::saveNow(const PageListSnapshot& snapshot) {
    superseded_ = true;
    {
        std::unique_lock lock(mutex_);
        waiting_.reset();
        changed_.wait(lock, [this] { return !running_; });
        // Claimed for this thread: the worker starts nothing while it writes.
        running_ = true;
    }
    struct Release {
        ListSaver& saver;
        ~Release() {
            {
                std::lock_guard lock(saver.mutex_);
                saver.running_ = false;
            }
            saver.changed_.notify_all();
        }
    } release{*this};
    write_(snapshot);
}

void ListSaver::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !running_ && !waiting_; });
}

void ListSaver::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return (waiting_ && !running_) || (stopping_ && !waiting_); });
        if (!waiting_) return;
        std::optional<PageListSnapshot> snapshot = std::move(waiting_);
        waiting_.reset();
        running_ = true;
        lock.unlock();
        std::exception_ptr error;
        try {
            write_(*snapshot);
        } catch (...) {
            error = std::current_exception();
        }
        snapshot.reset();  // freed here, not under the lock the window's thread may wait for
        lock.lock();
        running_ = false;
        changed_.notify_all();
        if (error) {
            // Queued to the owner's thread, handed over under the mutex (the posted call carries
            // nothing); dropped there when a newer save decided, or when this object is gone by then.
            failure_ = error;
            QMetaObject::invokeMethod(this, "reportFailure", Qt::QueuedConnection);
        }
    }
}

void ListSaver::reportFailure() {
    std::exception_ptr error;
    {
        std::lock_guard lock(mutex_);
        std::swap(error, failure_);
    }
    if (error && !superseded_ && failed_) failed_(error);
}

}  // namespace vantrel
