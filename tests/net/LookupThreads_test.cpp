// The threads of name look-ups are joined, never detached: one still running is waited for, and
// those that ended are joined as new ones start.
#include "net/LookupThreads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace vantrel {
namespace {

using namespace std::chrono_literals;

TEST(LookupThreadsTest, JoinAllWaitsForACallStillRunningAndEndedOnesAreJoinedByTheNext) {
    LookupThreads::joinAll();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> ended{false};
    LookupThreads::run([released, &ended] {
        released.wait();
        ended = true;
    });
    EXPECT_EQ(LookupThreads::unjoined(), 1u);

    std::thread joiner([] { LookupThreads::joinAll(); });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(ended);
    release.set_value();
    joiner.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(LookupThreads::unjoined(), 0u);

    // Calls that have ended leave their threads to be joined by the next runs: a long run of
    // look-ups one after the other does not pile threads up.
    constexpr int kRuns = 50;
    for (int run = 0; run < kRuns; ++run) {
        std::atomic<bool> done{false};
        LookupThreads::run([&done] { done = true; });
        for (int wait = 0; wait < 500 && !done; ++wait) std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(done);
    }
    EXPECT_LT(LookupThreads::unjoined(), size_t{kRuns / 5});
    LookupThreads::joinAll();
    EXPECT_EQ(LookupThreads::unjoined(), 0u);
}

}  // namespace
}  // namespace vantrel
