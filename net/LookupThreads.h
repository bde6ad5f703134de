#pragma once
// Threads for the one blocking call a get cannot interrupt, the name look-up (getaddrinfo has no
// cancellation and no time-out of its own). A get that is cancelled or times out stops waiting
// and leaves the call to end on its thread; the thread is kept, joinable, and joined once the
// call has ended, never detached, so the program can wait for the last of them before it ends.
#include <cstddef>
#include <functional>

namespace vantrel {

class LookupThreads {
  public:
    // Runs `call` on a thread of its own (it must not throw). The threads of calls that have
    // ended are joined here first, so they do not pile up over a long run.
    static void run(std::function<void()> call);
    // Joins every thread started so far; returns when the last call has ended. A look-up ends
    // on its own within the system resolver's time-out (resolv.conf's timeout × attempts for
    // each server). Also done when the program ends, after main returns.
    static void joinAll();
    // Threads started and not joined yet, their calls ended or not.
    static size_t unjoined();
};

}  // namespace vantrel
