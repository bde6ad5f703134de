#pragma once
// A sticky, thread-safe "stop now" flag that poll() can wait on beside a socket, so a cancelled
// get wakes at once instead of at the end of its wait.
#include <atomic>

namespace vantrel {

class CancelSignal {
  public:
    CancelSignal();
    ~CancelSignal();
    CancelSignal(const CancelSignal&) = delete;
    CancelSignal& operator=(const CancelSignal&) = delete;

    // Callable from any thread; stays raised for good.
    void raise();
    bool raised() const { return raised_.load(std::memory_order_acquire); }
    // Throws FetchError("Cancelled") when raised.
    void throwIfRaised() const;
    // Becomes readable when raised (-1 when none could be made; waits then run in short slices).
    int fd() const { return fd_; }

    // Waits until `fd` is ready for `events` (POLLIN/POLLOUT) or `waitMs` passes. Returns true when
    // ready, false on time-out; throws FetchError("Cancelled") when `cancel` is raised first.
    static bool waitFd(int fd, short events, int waitMs, const CancelSignal* cancel);

  private:
    std::atomic<bool> raised_{false};
    int fd_ = -1;
};

}  // namespace vantrel
