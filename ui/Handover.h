#pragma once
// A result that a worker thread hands to an object on the window's thread: left under a mutex,
// with a posted call by name that carries nothing, so what the worker wrote reaches the window's
// thread through the mutex alone (ThreadSanitizer sees that; it cannot see the event queue's own
// locking inside Qt). Shared by the worker and the receiver, which may go first.
#include <QMetaObject>
#include <QObject>
#include <mutex>
#include <optional>
#include <utility>

namespace vantrel {

template <typename Result>
class Handover {
  public:
    // `receiver`'s method `method` (Q_INVOKABLE) is called to take the result.
    Handover(QObject* receiver, const char* method) : receiver_(receiver), method_(method) {}

    // From the receiver's thread: later results are dropped (the receiver is going, or wants a
    // newer result). A call already posted for this object is discarded with it.
    void forgetReceiver() {
        std::lock_guard lock(mutex_);
        receiver_ = nullptr;
    }
    // From the worker: leaves the result and posts the call, or drops it when the receiver is
    // forgotten. Posted under the lock, so the receiver cannot go in between.
    void post(Result result) {
        std::lock_guard lock(mutex_);
        if (!receiver_) return;
        result_ = std::move(result);
        QMetaObject::invokeMethod(receiver_, method_, Qt::QueuedConnection);
    }
    // From the receiver's thread: the result left, if any.
    std::optional<Result> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(result_, std::nullopt);
    }

  private:
    std::mutex mutex_;
    QObject* receiver_;
    const char* method_;
    std::optional<Result> result_;
};

}  // namespace vantrel
